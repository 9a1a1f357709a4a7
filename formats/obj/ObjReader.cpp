#include "obj/ObjReader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/GrowArray.h"
#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "common/Triangulate.h"

namespace polyvant::formats::obj {

namespace {

constexpr std::uint64_t kMaxIndex = 0xFFFFFFFFu;

struct Group {
    std::string name;
    GrowArray<std::uint32_t> faces; // kFaceWords per triangle, indices into the whole file
};

bool Is(std::string_view word, const char* keyword)
{
    return word == keyword;
}

// Statements that carry nothing a mesh record can hold: read past without a word.
bool IsSkipped(std::string_view w)
{
    static const char* const kSkipped[] = {
        "vt",        "vn",     "vp",    "l",      "p",        "s",        "mtllib",
        "maplib",    "usemap", "lod",   "bevel",  "c_interp", "d_interp", "shadow_obj",
        "trace_obj", "ctech",  "stech", "cstype", "deg",      "bmat",     "step",
        "curv",      "curv2",  "surf",  "parm",   "trim",     "hole",     "scrv",
        "sp",        "end",    "con",   "mg",     "res"};
    for (const char* k : kSkipped)
        if (w == k)
            return true;
    return false;
}

class Parser {
public:
    Parser(const std::string& filePath, const std::string& baseName, ProgressMeter* meter)
        : path(filePath), fallbackName(baseName), progress(meter)
    {
        groups.emplace_back();
        groups.back().name = fallbackName;
    }

    void Parse(const char* data, std::size_t size)
    {
        // A typical mesh file spends some 48 bytes per vertex (its v line and two f
        // lines) and 24 per triangle. Setting that much aside up front saves the copies
        // of repeated growth; big blocks are mapped lazily, so an overestimate costs
        // address space, not memory, and Finish gives the rest back.
        vertices.Reserve(3 * (size / 48));
        groups.back().faces.Reserve(kFaceWords * (size / 24));
        numbers = NumberRun(data + size);
        LineCursor cursor(data, data + size);
        const char* b;
        const char* e;
        while (cursor.Next(b, e)) {
            line = cursor.Line();
            if (progress)
                progress->Update(cursor.Offset());
            const char* p = SkipBlanks(b, e);
            if (p == e || *p == '#')
                continue;
            if ((e[-1] == '\\' || IsBlank(e[-1])) && ReadContinued(p, e, cursor)) [[unlikely]]
                continue;
            Statement(p, e);
        }
    }

    // A backslash at the end of a line carries the statement on to the next one: the
    // lines are joined in a buffer of their own, and read as the first line. False when
    // [p, e) does not end with a backslash. Kept out of the loop over lines, which it
    // would slow down.
    [[gnu::noinline]] bool ReadContinued(const char* p, const char* e, LineCursor& cursor)
    {
        const char* backslash = Continuation(p, e);
        if (!backslash)
            return false;
        // The pieces are joined by one blank, as a name split over lines reads best.
        joined.assign(p, TrimEnd(p, backslash));
        const char* b;
        while (backslash && cursor.Next(b, e)) {
            backslash = Continuation(b, e);
            b = SkipBlanks(b, e);
            joined += ' ';
            joined.append(b, TrimEnd(b, backslash ? backslash : e));
        }
        const NumberRun fileNumbers = numbers;
        numbers = NumberRun(joined.data() + joined.size());
        Statement(joined.data(), joined.data() + joined.size());
        numbers = fileNumbers;
        return true;
    }

    // The backslash that ends [p, e) apart from blanks, or null.
    static const char* Continuation(const char* p, const char* e) noexcept
    {
        const char* end = TrimEnd(p, e);
        return end != p && end[-1] == '\\' ? end - 1 : nullptr;
    }

    // One statement, [p, e) from its first word on.
    void Statement(const char* p, const char* e)
    {
        // The two statements that make up nearly every file come first.
        if (e - p > 1 && IsBlank(p[1])) {
            if (*p == 'v') {
                Vertex(p + 2, e);
                return;
            }
            if (*p == 'f') {
                Face(p + 2, e);
                return;
            }
        }
        const char* wordEnd = SkipWord(p, e);
        const std::string_view word(p, static_cast<std::size_t>(wordEnd - p));
        const char* rest = SkipBlanks(wordEnd, e);
        const char* restEnd = TrimEnd(rest, CommentStart(rest, e));
        if (Is(word, "v"))
            Vertex(rest, e);
        else if (Is(word, "f") || Is(word, "fo"))
            Face(rest, e);
        else if (Is(word, "o") || Is(word, "g"))
            StartGroup(std::string(rest, restEnd));
        else if (Is(word, "usemtl"))
            UseMaterial(std::string(rest, restEnd));
        else if (Is(word, "call") || Is(word, "csh"))
            NoteIgnored(word);
        else if (IsSkipped(word))
            return;
        else if (std::any_of(p, wordEnd, [](char c) {
                     return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
                 }))
            throw FormatError(
                LineMessage(path, line, "binary data where a WaveFront statement belongs"));
        // Other statements (extensions of other programs) carry nothing we keep.
    }

    void Finish(std::vector<std::unique_ptr<Mesh3d>>& meshes)
    {
        ReportWarnings();
        std::erase_if(groups, [](const Group& g) { return g.faces.Size() == 0; });
        if (groups.empty()) {
            HostLink::Warning((path + ": the file holds no faces; nothing to show").c_str());
            return;
        }
        const std::size_t vertexCount = vertices.Size() / 3;
        if (groups.size() == 1)
            FinishOnly(groups.front(), vertexCount, meshes);
        else
            for (Group& group : groups)
                FinishOne(group, vertexCount, meshes);
    }

private:
    // Where a comment after a statement begins: a '#' at the start of a word ("g Lid #
    // top" names the group "Lid"; "g Lid#2" keeps its '#').
    static const char* CommentStart(const char* p, const char* e)
    {
        for (const char* q = p; q != e; ++q) {
            if (*q == '#' && (q == p || IsBlank(q[-1])))
                return q;
        }
        return e;
    }

    [[noreturn]] void Fail(const std::string& what)
    {
        throw FormatError(LineMessage(path, line, what));
    }

    void Vertex(const char* p, const char* e)
    {
        double xyz[3];
        for (double& c : xyz) {
            p = SkipBlanks(p, e);
            NumberError error = NumberError::kNone;
            const char* q = ParseCoordinate(p, e, c, error, &numbers);
            if (q && q != e && !IsBlank(*q))
                q = nullptr, error = NumberError::kMissing;
            if (!q) {
                if (p == e)
                    Fail("vertex: fewer than three coordinates");
                Fail(std::string("vertex: ") + NumberErrorText(error) + " (\"" +
                     Printable(p, SkipWord(p, e)) + "\")");
            }
            p = q;
        }
        // The rest (w, or a colour) is skipped.
        if (vertices.Size() / 3 >= kMaxIndex)
            Fail("more than 4294967295 vertices");
        double* d = vertices.Extend(3);
        d[0] = xyz[0];
        d[1] = xyz[1];
        d[2] = xyz[2];
        vertices.Commit(3);
    }

    void Face(const char* p, const char* e)
    {
        const auto count = static_cast<std::int64_t>(vertices.Size() / 3);
        // Triangles and quads stay in `fixed`; longer polygons spill into `corners`.
        std::uint32_t fixed[4];
        std::size_t n = 0;
        for (;;) {
            p = SkipBlanks(p, e);
            if (p == e || *p == '#') // a comment may follow the corners
                break;
            std::int64_t index = 0;
            const char* q = ParseInteger(p, e, index);
            if (!q)
                return BadFace("corner \"" + Printable(p, SkipWord(p, e)) +
                               "\" is not a vertex number");
            // Negative indices count back from the last vertex read so far.
            const std::int64_t zeroBased = index > 0 ? index - 1 : count + index;
            if (index == 0 || zeroBased < 0 || zeroBased >= count)
                return BadIndex(index, count);
            if (n < 4) {
                fixed[n] = static_cast<std::uint32_t>(zeroBased);
            } else {
                if (n == 4)
                    corners.assign(fixed, fixed + 4);
                corners.push_back(static_cast<std::uint32_t>(zeroBased));
            }
            ++n;
            p = q;
            if (p != e && !IsBlank(*p))
                p = SkipWord(p, e); // "/texture/normal" references are not kept
        }
        if (n < 3)
            return BadFace("a face needs at least three corners");

        Group& group = groups.back();
        if (n == 3) {
            Triangle(group, fixed[0], fixed[1], fixed[2]);
            return;
        }
        scratch.clear();
        TriangulatePolygon(vertices.Data(), n == 4 ? fixed : corners.data(), n, scratch);
        for (std::size_t t = 0; t + 2 < scratch.size(); t += 3)
            Triangle(group, scratch[t], scratch[t + 1], scratch[t + 2]);
    }

    void BadIndex(std::int64_t index, std::int64_t count)
    {
        if (index == 0)
            return BadFace("vertex index 0 (indices start at 1)");
        BadFace("vertex index " + std::to_string(index) + " with " + std::to_string(count) +
                " vertices read so far");
    }

    void Triangle(Group& group, std::uint32_t a, std::uint32_t b, std::uint32_t c)
    {
        if (group.faces.Size() / kFaceWords >= kMaxIndex)
            Fail("more than 4294967295 triangles in one group");
        std::uint32_t* f = group.faces.Extend(kFaceWords);
        f[0] = a;
        f[1] = b;
        f[2] = c;
        f[3] = material;
        group.faces.Commit(kFaceWords);
    }

    void BadFace(std::string why)
    {
        if (badFaces++ == 0) {
            firstBadLine = line;
            firstBadWhy = std::move(why);
        }
    }

    void StartGroup(std::string name)
    {
        if (name.empty())
            name = fallbackName;
        if (groups.back().faces.Size() == 0) {
            groups.back().name = std::move(name);
            return;
        }
        groups.emplace_back();
        groups.back().name = std::move(name);
    }

    void UseMaterial(std::string name)
    {
        auto [it, added] = materialIndex.try_emplace(std::move(name), 0);
        if (added)
            it->second = static_cast<std::uint32_t>(materialIndex.size());
        material = it->second;
    }

    void NoteIgnored(std::string_view word)
    {
        if (!ignoredCommandLine) {
            ignoredCommandLine = line;
            ignoredCommand = std::string(word);
        }
    }

    void ReportWarnings()
    {
        if (badFaces) {
            HostLink::Warning(LineMessage(path, firstBadLine,
                                          firstBadWhy + "; skipped " + std::to_string(badFaces) +
                                              (badFaces == 1 ? " face" : " faces") +
                                              " with bad corners, kept the rest")
                                  .c_str());
        }
        if (ignoredCommandLine) {
            HostLink::Warning(LineMessage(path, ignoredCommandLine,
                                          "\"" + ignoredCommand +
                                              "\" statements are not followed: other "
                                              "files and commands are never opened or run")
                                  .c_str());
        }
    }

    // The whole file is one object: hand the vertex array over as it is when every
    // vertex is used, else squeeze out the unused ones in place.
    void FinishOnly(Group& group, std::size_t vertexCount,
                    std::vector<std::unique_ptr<Mesh3d>>& meshes)
    {
        std::uint32_t* f = group.faces.Data();
        const std::size_t words = group.faces.Size();
        // A bit per vertex stays in cache where a full index map would not.
        std::vector<std::uint64_t> used((vertexCount + 63) / 64, 0);
        for (std::size_t i = 0; i < words; i += kFaceWords)
            for (std::size_t k = 0; k < 3; ++k)
                used[f[i + k] >> 6] |= std::uint64_t(1) << (f[i + k] & 63);
        std::size_t usedCount = 0;
        for (std::uint64_t bits : used)
            usedCount += static_cast<std::size_t>(__builtin_popcountll(bits));
        if (usedCount != vertexCount) {
            std::vector<std::uint32_t> remap(vertexCount, 0);
            double* v = vertices.Data();
            std::size_t next = 0;
            for (std::size_t i = 0; i < vertexCount; ++i) {
                if (!(used[i >> 6] >> (i & 63) & 1))
                    continue;
                if (next != i)
                    std::memmove(v + 3 * next, v + 3 * i, 3 * sizeof(double));
                remap[i] = static_cast<std::uint32_t>(next++);
            }
            for (std::size_t i = 0; i < words; i += kFaceWords)
                for (std::size_t k = 0; k < 3; ++k)
                    f[i + k] = remap[f[i + k]];
            vertices.Resize(3 * usedCount);
        }
        used = {};
        MeshBuilder builder(group.name);
        const std::size_t faceCount = words / kFaceWords;
        builder.Adopt(vertices.Release(), usedCount, group.faces.Release(), faceCount);
        meshes.emplace_back(builder.Finish());
    }

    // One of several groups: its own vertices, those it uses in file order.
    void FinishOne(Group& group, std::size_t vertexCount,
                   std::vector<std::unique_ptr<Mesh3d>>& meshes)
    {
        if (localOf.size() != vertexCount)
            localOf.assign(vertexCount, 0);
        std::uint32_t* f = group.faces.Data();
        const std::size_t words = group.faces.Size();
        std::vector<std::uint32_t> ids;
        ids.reserve(words / kFaceWords * 3);
        for (std::size_t i = 0; i < words; i += kFaceWords)
            ids.insert(ids.end(), {f[i], f[i + 1], f[i + 2]});
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
        GrowArray<double> own;
        own.Resize(3 * ids.size());
        const double* v = vertices.Data();
        for (std::size_t k = 0; k < ids.size(); ++k) {
            localOf[ids[k]] = static_cast<std::uint32_t>(k);
            std::memcpy(own.Data() + 3 * k, v + 3 * std::size_t(ids[k]), 3 * sizeof(double));
        }
        for (std::size_t i = 0; i < words; i += kFaceWords) {
            f[i] = localOf[f[i]];
            f[i + 1] = localOf[f[i + 1]];
            f[i + 2] = localOf[f[i + 2]];
        }
        MeshBuilder builder(group.name);
        builder.Adopt(own.Release(), ids.size(), group.faces.Release(), words / kFaceWords);
        meshes.emplace_back(builder.Finish());
    }

    const std::string& path;
    const std::string& fallbackName;
    ProgressMeter* progress;
    std::size_t line = 0;

    NumberRun numbers{nullptr};
    std::string joined; // a statement continued over several lines
    GrowArray<double> vertices;
    std::vector<Group> groups;
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> scratch;
    std::vector<std::uint32_t> localOf;
    std::unordered_map<std::string, std::uint32_t> materialIndex;
    std::uint32_t material = 0;

    std::size_t badFaces = 0;
    std::size_t firstBadLine = 0;
    std::string firstBadWhy;
    std::size_t ignoredCommandLine = 0;
    std::string ignoredCommand;
};

} // namespace

void ReadObj(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress)
{
    // An Imagine object may carry the .obj extension too; say which import reads it.
    if (size >= 12 && std::memcmp(data, "FORM", 4) == 0 && std::memcmp(data + 8, "TDDD", 4) == 0)
        throw FormatError(path +
                          ": this is an Imagine object, not a WaveFront file; import it with "
                          "\"Imagine (*.obj, *.iob)\"");
    Parser parser(path, baseName, progress);
    parser.Parse(data, size);
    parser.Finish(meshes);
}

} // namespace polyvant::formats::obj
