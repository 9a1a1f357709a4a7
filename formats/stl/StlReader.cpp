#include "stl/StlReader.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>

#include "common/MappedFile.h"
#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "stl/VertexWelder.h"

namespace polyvant::formats::stl {

namespace {

constexpr std::size_t kHeaderSize = 84;
constexpr std::size_t kCountOffset = 80;
constexpr std::size_t kRecordSize = 50;

std::uint32_t Le32(const char* p) noexcept
{
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 | std::uint32_t(b[2]) << 16 |
           std::uint32_t(b[3]) << 24;
}

float LeFloat(const char* p) noexcept
{
    const std::uint32_t bits = Le32(p);
    float value;
    std::memcpy(&value, &bits, 4);
    return value;
}

bool IsSpace(char c) noexcept
{
    return c == '\n' || IsBlank(c);
}

bool EqualsNoCase(std::string_view word, std::string_view keyword) noexcept
{
    if (word.size() != keyword.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i])
            return false;
    }
    return true;
}

// Corners that recur far apart are compared against vertices at random places of a
// big array; huge pages keep those accesses from missing the TLB as well, and fill
// big arrays with far fewer page faults.
void AdviseHugePages(const void* block, std::size_t bytes) noexcept
{
    constexpr std::uintptr_t kHuge = std::uintptr_t(2) << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(kHuge - 1);
    if (block && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

MeshBuilder* NewSolid(std::vector<MeshBuilder>& solids, std::string name)
{
    solids.emplace_back(std::move(name));
    return &solids.back();
}

// ---- binary ---------------------------------------------------------------------

// Binary records hold control bytes (counts, float exponents) almost surely.
bool LooksLikeText(const char* data, std::size_t size) noexcept
{
    const std::size_t probe = size < 512 ? size : 512;
    for (std::size_t i = 0; i < probe; ++i) {
        const auto c = static_cast<unsigned char>(data[i]);
        if ((c < 0x20 && !IsSpace(static_cast<char>(c))) || c == 0x7f)
            return false;
    }
    return true;
}

void ReadBinary(const char* data, std::size_t size, std::string_view path,
                std::vector<MeshBuilder>& solids, MappedFile* file)
{
    if (size < kHeaderSize)
        throw FormatError(
            OffsetMessage(path, size, "file ends inside the 84-byte header of a binary STL"));
    const std::uint32_t declared = Le32(data + kCountOffset);
    const std::uint64_t available = (size - kHeaderSize) / kRecordSize;
    const std::uint64_t extra = (size - kHeaderSize) % kRecordSize;
    std::uint64_t count = declared;
    if (declared > available && LooksLikeText(data, size)) {
        // Comments or a title before "solid", say: calling it a short binary misleads.
        throw FormatError(
            OffsetMessage(path, 0, "not an STL file: it is text, but does not begin with 'solid'"));
    }
    if (declared > available) {
        // Computed in 64 bits: 84 + 50 n overflows 32 bits for large n.
        throw FormatError(
            OffsetMessage(path, kCountOffset,
                          "header declares " + std::to_string(declared) + " triangles (" +
                              std::to_string(kHeaderSize + kRecordSize * std::uint64_t(declared)) +
                              " bytes) but the file has " + std::to_string(size) +
                              " bytes: the file is truncated"));
    }
    if (declared == 0 && available > 0) {
        // Some writers leave the count out; the records are there, so read them.
        count = available;
        HostLink::Warning(OffsetMessage(path, kCountOffset,
                                        "triangle count is 0 but the file holds " +
                                            std::to_string(available) +
                                            " triangles; reading them all")
                              .c_str());
    } else if (count < available || extra != 0) {
        const std::uint64_t end = kHeaderSize + kRecordSize * count;
        HostLink::Warning(
            OffsetMessage(path, end,
                          std::to_string(size - end) + " bytes after the last triangle ignored")
                .c_str());
    }

    MeshBuilder* mesh = NewSolid(solids, BaseNameOf(path));
    mesh->Reserve(count / 2 + 64, count);
    AdviseHugePages(mesh->Vertices(), (count / 2 + 64) * 3 * sizeof(double));
    AdviseHugePages(mesh->Faces(), count * 4 * sizeof(std::uint32_t));
    VertexWelder welder(*mesh, count / 2);
    ProgressMeter meter("Reading STL", size);
    // Hashes of the corners a few records ahead, prefetched so that the table's random
    // accesses overlap instead of stalling one after another.
    constexpr std::uint64_t kAhead = 8;
    std::uint64_t hashes[kAhead][3];
    auto lookAhead = [&](std::uint64_t t) {
        const char* r = data + kHeaderSize + kRecordSize * t;
        for (int c = 0; c < 3; ++c) {
            const std::uint64_t h = VertexWelder::HashOf(
                LeFloat(r + 12 + 12 * c), LeFloat(r + 16 + 12 * c), LeFloat(r + 20 + 12 * c));
            hashes[t % kAhead][c] = h;
            welder.Prefetch(h);
        }
    };
    for (std::uint64_t t = 0; t < count && t < kAhead; ++t)
        lookAhead(t);
    const char* record = data + kHeaderSize;
    for (std::uint64_t t = 0; t < count; ++t, record += kRecordSize) {
        if ((t & 0xFFFF) == 0) {
            meter.Update(static_cast<std::uint64_t>(record - data));
            if (file)
                file->ReleaseBefore(record);
        }
        float v[9];
        for (int k = 0; k < 9; ++k)
            v[k] = LeFloat(record + 12 + 4 * k);
        bool sane = true;
        for (int k = 0; k < 9; ++k)
            sane &= std::fabs(v[k]) <= static_cast<float>(kMaxCoordinate);
        if (!sane) {
            int k = 0;
            while (std::fabs(v[k]) <= static_cast<float>(kMaxCoordinate))
                ++k;
            const auto offset = static_cast<std::uint64_t>(record - data) + 12 + 4 * k;
            throw FormatError(OffsetMessage(path, offset,
                                            std::isfinite(v[k])
                                                ? "coordinate is too large (beyond 1e30)"
                                                : "coordinate is not a finite number"));
        }
        const std::uint64_t* h = hashes[t % kAhead];
        const std::uint32_t a = welder.Add(v[0], v[1], v[2], h[0]);
        const std::uint32_t b = welder.Add(v[3], v[4], v[5], h[1]);
        const std::uint32_t c = welder.Add(v[6], v[7], v[8], h[2]);
        mesh->AddTriangle(a, b, c);
        if (t + kAhead < count)
            lookAhead(t + kAhead);
        if (t + kAhead / 2 < count)
            for (int k = 0; k < 3; ++k)
                welder.PrefetchVertex(hashes[(t + kAhead / 2) % kAhead][k]);
    }
}

// ---- ASCII ----------------------------------------------------------------------

class AsciiReader {
public:
    AsciiReader(const char* data, std::size_t size, std::string_view file)
        : begin(data), p(data), end(data + size), path(file), numbers(end),
          meter("Reading STL", size)
    {
    }

    void Read(std::vector<MeshBuilder>& solids)
    {
        bool any = false;
        for (;;) {
            SkipSpace();
            if (p == end)
                break;
            const std::size_t wordLine = line;
            const std::string_view word = Word();
            if (!EqualsNoCase(word, "solid")) {
                if (!any)
                    Fail(wordLine, "expected 'solid', found '" + Shown(word) + "'");
                // Complete solids were read: keep them, as a user would want.
                HostLink::Warning(
                    LineMessage(path, wordLine,
                                "text after the last solid ignored ('" + Shown(word) + "')")
                        .c_str());
                break;
            }
            ReadSolid(solids);
            any = true;
        }
        ReportShortFacets();
    }

private:
    void ReadSolid(std::vector<MeshBuilder>& solids)
    {
        // The name is the rest of the "solid" line.
        const char* nameBegin = SkipBlanks(p, end);
        const char* lineEnd = static_cast<const char*>(
            std::memchr(nameBegin, '\n', static_cast<std::size_t>(end - nameBegin)));
        if (!lineEnd)
            lineEnd = end;
        std::string name(nameBegin, TrimEnd(nameBegin, lineEnd));
        p = lineEnd;
        if (name.empty())
            name = BaseNameOf(path);
        MeshBuilder* mesh = NewSolid(solids, std::move(name));
        VertexWelder welder(*mesh);
        std::vector<double> points;
        std::vector<std::uint32_t> corners;
        // Cut short, as a download can be: keep the facets that arrived whole.
        const auto cutShort = [&] {
            if (TrianglesRead(solids) == 0)
                Fail(line, "file ends before 'endsolid'");
            HostLink::Warning(
                LineMessage(path, line, "file ends before 'endsolid'; " + TrianglesKept(solids))
                    .c_str());
        };
        for (;;) {
            SkipSpace();
            if (p == end) {
                cutShort();
                break;
            }
            const std::size_t wordLine = line;
            const std::string_view word = Word();
            if (EqualsNoCase(word, "endsolid")) {
                SkipLine();
                break;
            }
            if (!EqualsNoCase(word, "facet")) {
                if (p == end && (StartsNoCase("facet", word) || StartsNoCase("endsolid", word))) {
                    cutShort();
                    break;
                }
                Fail(wordLine, "expected 'facet' or 'endsolid', found '" + Shown(word) + "'");
            }
            try {
                ReadFacet(*mesh, welder, points, corners);
            } catch (const FormatError&) {
                if (p != end || TrianglesRead(solids) == 0)
                    throw;
                HostLink::Warning(
                    LineMessage(path, wordLine,
                                "file ends inside this facet; " + TrianglesKept(solids))
                        .c_str());
                break;
            }
            meter.Update(static_cast<std::uint64_t>(p - begin));
        }
        if (mesh->TriangleCount() == 0)
            solids.pop_back(); // an empty solid gives no object
    }

    void ReadFacet(MeshBuilder& mesh, VertexWelder& welder, std::vector<double>& points,
                   std::vector<std::uint32_t>& corners)
    {
        const std::size_t facetLine = line;
        SkipSpace();
        // The normal is recomputed by whoever needs it; writers often leave garbage
        // such as "nan" for degenerate facets, so its three words are skipped unread.
        std::string_view word = Word();
        if (EqualsNoCase(word, "normal")) {
            for (int k = 0; k < 3; ++k) {
                SkipSpace();
                if (Word().empty())
                    Fail(line, "file ends inside a facet normal");
            }
            SkipSpace();
            word = Word();
        }
        Expect(word, "outer");
        SkipSpace();
        Expect(Word(), "loop");
        points.clear();
        for (;;) {
            SkipSpace();
            if (p == end)
                Fail(line,
                     "file ends inside the facet that starts on line " + std::to_string(facetLine));
            const std::size_t wordLine = line;
            word = Word();
            if (EqualsNoCase(word, "endloop"))
                break;
            if (!EqualsNoCase(word, "vertex"))
                Fail(wordLine, "expected 'vertex' or 'endloop', found '" + Shown(word) + "'");
            for (int k = 0; k < 3; ++k)
                points.push_back(Number());
        }
        SkipSpace();
        Expect(Word(), "endfacet");
        if (points.size() < 9) {
            // Some writers put line segments into facets. They enclose no surface, and the
            // triangles around them are still worth having; their points are not welded
            // in, so that they add no stray vertices to the mesh or its bounds.
            if (shortFacets++ == 0) {
                firstShortFacetLine = facetLine;
                firstShortFacetCorners = points.size() / 3;
            }
            return;
        }
        corners.clear();
        for (std::size_t k = 0; k < points.size(); k += 3)
            corners.push_back(welder.Add(points[k], points[k + 1], points[k + 2]));
        if (corners.size() == 3)
            mesh.AddTriangle(corners[0], corners[1], corners[2]);
        else
            mesh.AddPolygon(corners.data(), corners.size());
    }

    double Number()
    {
        SkipSpace();
        if (p == end)
            Fail(line, "file ends where a coordinate was expected");
        double value = 0;
        NumberError error = NumberError::kNone;
        const char* after = ParseCoordinate(p, end, value, error, &numbers);
        if (!after)
            Fail(line, NumberErrorText(error) + std::string(" ('") + Shown(Peek()) + "')");
        if (after != end && !IsSpace(*after))
            Fail(line, "malformed number '" + Shown(Peek()) + "'");
        p = after;
        return value;
    }

    void Expect(std::string_view word, std::string_view keyword)
    {
        if (!EqualsNoCase(word, keyword)) {
            if (word.empty() && p == end)
                Fail(line, "file ends where '" + std::string(keyword) + "' was expected");
            Fail(line, "expected '" + std::string(keyword) + "', found '" + Shown(word) + "'");
        }
    }

    void SkipSpace() noexcept
    {
        while (p != end) {
            const char c = *p;
            if (c == '\n')
                ++line;
            else if (!IsBlank(c))
                break;
            ++p;
        }
    }

    void SkipLine() noexcept
    {
        while (p != end && *p != '\n')
            ++p;
    }

    std::string_view Word() noexcept
    {
        const char* start = p;
        while (p != end && !IsSpace(*p))
            ++p;
        return {start, static_cast<std::size_t>(p - start)};
    }

    std::string_view Peek() const noexcept
    {
        const char* q = p;
        while (q != end && !IsSpace(*q))
            ++q;
        return {p, static_cast<std::size_t>(q - p)};
    }

    static std::string Shown(std::string_view word)
    {
        return Printable(word.data(), word.data() + word.size());
    }

    [[noreturn]] void Fail(std::size_t at, const std::string& what) const
    {
        throw FormatError(LineMessage(path, at, what));
    }

    // True when `part` is how `keyword` begins, in any case.
    static bool StartsNoCase(std::string_view keyword, std::string_view part)
    {
        return part.size() <= keyword.size() && EqualsNoCase(keyword.substr(0, part.size()), part);
    }

    static std::size_t TrianglesRead(const std::vector<MeshBuilder>& solids)
    {
        std::size_t n = 0;
        for (const MeshBuilder& solid : solids)
            n += solid.TriangleCount();
        return n;
    }

    static std::string TrianglesKept(const std::vector<MeshBuilder>& solids)
    {
        const std::size_t n = TrianglesRead(solids);
        return "the " + std::to_string(n) +
               (n == 1 ? " triangle before it is kept" : " triangles before it are kept");
    }

    // Warned about once, after the whole file is read.
    void ReportShortFacets() const
    {
        if (!shortFacets)
            return;
        HostLink::Warning(LineMessage(path, firstShortFacetLine,
                                      "facet has " + std::to_string(firstShortFacetCorners) +
                                          (firstShortFacetCorners == 1 ? " corner" : " corners") +
                                          "; skipped " + std::to_string(shortFacets) +
                                          (shortFacets == 1 ? " facet" : " facets") +
                                          " with fewer than 3 corners, kept the rest")
                              .c_str());
    }

    const char* begin;
    const char* p;
    const char* end;
    std::string_view path;
    NumberRun numbers;
    std::size_t shortFacets = 0;
    std::size_t firstShortFacetLine = 0;
    std::size_t firstShortFacetCorners = 0;
    std::size_t line = 1;
    ProgressMeter meter;
};

bool StartsWithSolid(const char* p, const char* end) noexcept
{
    if (end - p < 5 || !EqualsNoCase(std::string_view(p, 5), "solid"))
        return false;
    return end - p == 5 || IsSpace(p[5]);
}

} // namespace

StlKind DetectStlKind(const char* data, std::size_t size) noexcept
{
    if (size >= kHeaderSize &&
        kHeaderSize + kRecordSize * std::uint64_t(Le32(data + kCountOffset)) == size)
        return StlKind::kBinary;
    const char* end = data + size;
    const char* p = data;
    while (p != end && IsSpace(*p))
        ++p;
    if (!StartsWithSolid(p, end))
        return StlKind::kBinary;
    // "solid" begins binary headers too: look at what follows the first line.
    const char* q =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (q) {
        while (q != end && IsSpace(*q))
            ++q;
        if (q == end)
            return StlKind::kAscii;
        const char* w = q;
        while (w != end && !IsSpace(*w))
            ++w;
        const std::string_view word(q, static_cast<std::size_t>(w - q));
        if (EqualsNoCase(word, "facet") || EqualsNoCase(word, "endsolid"))
            return StlKind::kAscii;
    }
    return LooksLikeText(data, size) ? StlKind::kAscii : StlKind::kBinary;
}

void ReadStl(const char* data, std::size_t size, std::string_view path,
             std::vector<std::unique_ptr<Mesh3d>>& meshes, MappedFile* file)
{
    if (size == 0)
        throw FormatError(OffsetMessage(path, 0, "the file is empty"));
    std::vector<MeshBuilder> solids;
    const bool whole = file && file->Data() == data;
    if (DetectStlKind(data, size) == StlKind::kBinary) {
        ReadBinary(data, size, path, solids, whole ? file : nullptr);
    } else {
        if (whole)
            file->ConvertLoneCarriageReturns(); // in place: data now ends its lines with LF
        AsciiReader(data, size, path).Read(solids);
    }
    for (MeshBuilder& solid : solids) {
        if (solid.TriangleCount() == 0)
            continue; // a binary file without triangles
        std::unique_ptr<Mesh3d> mesh(solid.Finish());
        if (!mesh)
            throw FormatError(std::string(path) + ": more than 4294967295 vertices or faces");
        meshes.push_back(std::move(mesh));
    }
}

} // namespace polyvant::formats::stl
