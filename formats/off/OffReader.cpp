#include "off/OffReader.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <sys/mman.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "common/GrowArray.h"
#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "off/OffBinaryReader.h"
#include "off/OffMeshEnd.h"

namespace polyvant::formats::off {

namespace {

// The fewest bytes a vertex ("0 0 0\n") and a face ("3 0 0 0\n") can take: a declared
// count is believed only if that many fit in the rest of the file.
constexpr std::uint64_t kMinVertexBytes = 6;
constexpr std::uint64_t kMinFaceBytes = 8;

class Scanner {
public:
    Scanner(const char* begin, const char* stop, const std::string& filePath)
        : start(begin), p(begin), end(stop), path(filePath), numbers(stop)
    {
    }

    // Moves to the next value, past blanks, line ends and comments; false at the end.
    bool NextValue()
    {
        for (;;) {
            while (p != end && (IsBlank(*p) || *p == '\n')) {
                if (*p == '\n')
                    ++line;
                ++p;
            }
            if (p == end) {
                // Name the last line of the file, not the empty one after its newline.
                if (!atEnd && p != start && p[-1] == '\n' && line > 1)
                    --line;
                atEnd = true;
                return false;
            }
            if (*p != '#')
                return true;
            SkipLine();
        }
    }

    // Skips the rest of the current line (trailing per-element data or a comment).
    void SkipLine()
    {
        while (p != end && *p != '\n')
            ++p;
    }

    std::string_view Word()
    {
        const char* b = p;
        while (p != end && !IsBlank(*p) && *p != '\n' && *p != '#')
            ++p;
        return {b, static_cast<std::size_t>(p - b)};
    }

    double Coordinate(const char* what)
    {
        if (!NextValue())
            Fail(std::string("the file ends before ") + what);
        double v;
        NumberError error = NumberError::kNone;
        const char* q = ParseCoordinate(p, end, v, error, &numbers);
        if (q && q != end && !IsBlank(*q) && *q != '\n' && *q != '#')
            q = nullptr, error = NumberError::kMissing;
        if (!q) {
            const char* b = p;
            Word();
            Fail(std::string(what) + ": " + NumberErrorText(error) + " (\"" + Printable(b, p) +
                 "\")");
        }
        p = q;
        return v;
    }

    // A non-negative integer; false (leaving p on it) when the value is no such number.
    bool Count(std::uint64_t& value)
    {
        std::int64_t v;
        const char* q = ParseInteger(p, end, v);
        if (!q || v < 0 || (q != end && !IsBlank(*q) && *q != '\n' && *q != '#'))
            return false;
        value = static_cast<std::uint64_t>(v);
        p = q;
        return true;
    }

    std::uint64_t RequireCount(const char* what)
    {
        std::uint64_t v = 0;
        if (!NextValue())
            Fail(std::string("the file ends before ") + what);
        if (!Count(v)) {
            const char* b = p;
            Word();
            Fail(std::string(what) + " is not a count (\"" + Printable(b, p) + "\")");
        }
        return v;
    }

    [[noreturn]] void Fail(const std::string& what) const
    {
        throw FormatError(LineMessage(path, line, what));
    }

    // The common shapes, "x y z" and "3 a b c" alone on the next line, read without
    // the general value walk; false (nothing consumed) for anything else, which the
    // general walk then reads or reports.
    bool FastVertex(double* xyz)
    {
        const char* q = p;
        const bool newline = q != end && *q == '\n';
        q += newline;
        for (int k = 0; k < 3; ++k) {
            while (q != end && *q == ' ')
                ++q;
            NumberError error;
            q = ParseCoordinate(q, end, xyz[k], error, &numbers);
            if (!q || (q != end && *q != ' ' && *q != '\n' && *q != '\r'))
                return false;
        }
        return Commit(q, newline);
    }

    bool FastTriangle(std::uint64_t vertexCount, std::uint32_t* corners)
    {
        const char* q = p;
        const bool newline = q != end && *q == '\n';
        q += newline;
        if (ShortTriangle(q, vertexCount, corners))
            return Commit(q, newline);
        std::int64_t v[4];
        for (std::int64_t& value : v) {
            while (q != end && *q == ' ')
                ++q;
            q = ParseInteger(q, end, value);
            if (!q || (q != end && *q != ' ' && *q != '\n' && *q != '\r'))
                return false;
        }
        if (v[0] != 3)
            return false;
        for (int k = 0; k < 3; ++k) {
            if (v[k + 1] < 0 || static_cast<std::uint64_t>(v[k + 1]) >= vertexCount)
                return false;
            corners[k] = static_cast<std::uint32_t>(v[k + 1]);
        }
        return Commit(q, newline);
    }

    // "3 a b c" with single blanks and indices of up to seven digits, each read with one
    // eight-byte load; false for anything else, which FastTriangle then reads digit by
    // digit. On success q is past the last index.
    bool ShortTriangle(const char*& q, std::uint64_t vertexCount, std::uint32_t* corners) const
    {
        if (end - q < 32 || q[0] != '3' || q[1] != ' ')
            return false;
        const char* r = q + 2;
        for (int k = 0; k < 3; ++k) {
            int digits;
            const std::uint32_t value = detail::EightDigits(r, digits);
            if (digits == 0 || digits == 8 || value >= vertexCount)
                return false;
            corners[k] = value;
            r += digits;
            if (k < 2 && *r++ != ' ')
                return false;
        }
        q = r;
        return true;
    }

    std::uint64_t Remaining() const { return static_cast<std::uint64_t>(end - p); }
    std::uint64_t Offset() const { return static_cast<std::uint64_t>(p - start); }
    std::size_t Line() const { return line; }
    bool AtLineEnd()
    {
        while (p != end && IsBlank(*p))
            ++p;
        return p == end || *p == '\n' || *p == '#';
    }

    bool Commit(const char* q, bool newline)
    {
        while (q != end && (*q == ' ' || *q == '\r'))
            ++q;
        if (q != end && *q != '\n')
            return false;
        p = q;
        line += newline;
        return true;
    }

    const char* start;
    const char* p;
    const char* end;
    const std::string& path;
    NumberRun numbers;
    std::size_t line = 1;
    bool atEnd = false;
};

// The header keyword [ST][C][N][4][n]OFF: each prefix optional, in that order.
bool ParseHeaderWord(std::string_view w, OffVertexLayout& out)
{
    const auto take = [&w](std::string_view prefix) {
        const bool found = w.substr(0, prefix.size()) == prefix;
        if (found)
            w.remove_prefix(prefix.size());
        return found;
    };
    out.textureCoordinates = take("ST");
    out.colour = take("C");
    out.normal = take("N");
    out.homogeneous = take("4");
    out.dimensioned = take("n");
    return w == "OFF";
}

bool IsHeaderWord(std::string_view w)
{
    OffVertexLayout layout;
    return ParseHeaderWord(w, layout) && !layout.homogeneous && !layout.dimensioned;
}

// Maps the pages of an array that is about to be filled in one call, instead of one fault
// per page (older kernels refuse the advice, and the faults come as before).
void Prefault(void* block, std::size_t bytes) noexcept
{
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + bytes) & ~(page - 1);
    if (block && end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

// The n-th line end from p on (p's own byte counts when it is one), or null. Counts in
// blocks, which the compiler vectorises, before looking for the exact byte.
const char* NthNewline(const char* p, const char* end, std::uint64_t n)
{
    constexpr std::size_t kBlock = 1 << 16;
    while (static_cast<std::size_t>(end - p) >= kBlock) {
        const auto inBlock = static_cast<std::uint64_t>(std::count(p, p + kBlock, '\n'));
        if (inBlock >= n)
            break;
        n -= inBlock;
        p += kBlock;
    }
    for (; p != end; ++p)
        if (*p == '\n' && --n == 0)
            return p;
    return nullptr;
}

// The n-th line end before end, counting back, at or after begin; null when there are
// fewer. Counts in blocks, as NthNewline does.
const char* NthNewlineBack(const char* begin, const char* end, std::uint64_t n)
{
    constexpr std::size_t kBlock = 256;
    while (static_cast<std::size_t>(end - begin) >= kBlock) {
        const auto inBlock = static_cast<std::uint64_t>(std::count(end - kBlock, end, '\n'));
        if (inBlock >= n)
            break;
        n -= inBlock;
        end -= kBlock;
    }
    while (end != begin)
        if (*--end == '\n' && --n == 0)
            return end;
    return nullptr;
}

// Files of the plain shape (one "x y z" per vertex line, one "3 a b c" per face line,
// nothing else) are read on two threads. A second thread starts on the faces at once,
// from the last line backwards, while this one finds where the faces begin, reads the
// vertices and then takes faces from the front; the two claim blocks of faces until
// they meet, and must meet at one line end. Anything else (comments, colours, polygons,
// errors, lines after the faces) makes it return false with nothing changed, and the
// sequential reader below takes over; on success both give the same arrays.
bool ReadPlainOnTwoThreads(const Scanner& s, std::uint64_t vertexCount, std::uint64_t faceCount,
                           MeshBuilder& builder, ProgressMeter* progress)
{
    constexpr std::uint64_t kWorthIt = 1 << 20;
    if (s.Remaining() < kWorthIt || faceCount == 0 || faceCount >= (std::uint64_t(1) << 32) ||
        UsableCores() < 2 || s.p == s.end || *s.p != '\n')
        return false;
    GrowArray<double> vertices;
    GrowArray<std::uint32_t> faces;
    vertices.Resize(3 * vertexCount);
    faces.Resize(kFaceWords * faceCount);
    std::atomic<bool> stop{false}; // either side gave up

    // Faces [front, back) are unclaimed, both indices in one word so that a claim sees
    // the other side's.
    constexpr std::uint64_t kBlock = 4096;
    std::atomic<std::uint64_t> unclaimed{faceCount << 32};
    const auto claim = [&](bool fromFront, std::uint64_t& first, std::uint64_t& last) {
        std::uint64_t word = unclaimed.load();
        for (;;) {
            const std::uint64_t front = word & 0xFFFFFFFFu, back = word >> 32;
            if (front == back || stop.load(std::memory_order_relaxed))
                return false;
            const std::uint64_t n = std::min(kBlock, back - front);
            first = fromFront ? front : back - n;
            last = first + n;
            const std::uint64_t next = fromFront ? (back << 32) | last : (first << 32) | front;
            if (unclaimed.compare_exchange_weak(word, next))
                return true;
        }
    };

    // Backwards from the last line, a block at a time: the block's first line is found by
    // counting line ends back, then its faces are read forwards and must end exactly at
    // the line end where the block after it began (or at the end of the file).
    const char* backStart = nullptr; // the line end before the worker's first face
    auto readFacesFromTheBack = [&] {
        Prefault(faces.Data(), kFaceWords * faceCount * sizeof(std::uint32_t));
        const char* lineEnd = s.end;
        if (lineEnd[-1] == '\n')
            --lineEnd;
        std::uint64_t first, last;
        while (claim(false, first, last)) {
            const char* before = NthNewlineBack(s.p, lineEnd, last - first);
            Scanner t = s;
            t.p = before;
            std::uint32_t* corners = faces.Data() + kFaceWords * first;
            for (std::uint64_t i = first; i < last && before; ++i, corners += kFaceWords) {
                if (!t.FastTriangle(vertexCount, corners))
                    before = nullptr;
                corners[3] = 0;
            }
            if (!before || t.p != lineEnd) {
                stop = true;
                return;
            }
            lineEnd = before;
        }
        backStart = lineEnd;
    };
    std::thread worker;
    try {
        worker = std::thread(readFacesFromTheBack);
    } catch (const std::system_error&) {
        return false; // no thread to be had: read on one
    }
    // Joins on every way out, a cancel through the progress service included.
    struct Join {
        std::thread& thread;
        ~Join() { thread.join(); }
    };
    const char* frontEnd = nullptr; // the line end after this thread's last face
    {
        Join join{worker};
        const auto giveUp = [&] {
            stop = true;
            return false;
        };
        const char* faceStart = NthNewline(s.p, s.end, vertexCount + 1);
        if (!faceStart)
            return giveUp();
        Prefault(vertices.Data(), 3 * vertexCount * sizeof(double));
        Scanner a = s;
        double* out = vertices.Data();
        for (std::uint64_t i = 0; i < vertexCount; ++i, out += 3) {
            if (progress && (i & 0xFFFF) == 0) {
                try {
                    progress->Update(a.Offset());
                } catch (...) {
                    stop = true;
                    throw;
                }
            }
            if (!a.FastVertex(out))
                return giveUp();
        }
        if (a.p != faceStart)
            return giveUp();
        std::uint64_t first, last;
        while (claim(true, first, last)) {
            std::uint32_t* corners = faces.Data() + kFaceWords * first;
            for (std::uint64_t i = first; i < last; ++i, corners += kFaceWords) {
                if (!a.FastTriangle(vertexCount, corners))
                    return giveUp();
                corners[3] = 0;
            }
        }
        frontEnd = a.p;
    }
    // Every face read, and the two sides met at one line end: no line was left over.
    if (stop.load() || !backStart || backStart != frontEnd)
        return false;
    builder.Adopt(vertices.Release(), vertexCount, faces.Release(), faceCount);
    return true;
}

} // namespace

void ReadOff(const char* data, std::size_t size, const std::string& path,
             const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
             ProgressMeter* progress)
{
    Scanner s(data, data + size, path);
    if (!s.NextValue())
        s.Fail("the file is empty: no OFF header");
    std::uint64_t vertexCount = 0;
    OffVertexLayout keyword;
    if (!s.Count(vertexCount)) {
        const char* b = s.p;
        const std::string_view header = s.Word();
        // Some writers glue the vertex count to the keyword: "OFF8 6 12".
        const std::size_t digits = header.find_first_of("0123456789");
        const bool glued = digits != std::string_view::npos && digits > 0 &&
                           header.size() - digits <= 15 && IsHeaderWord(header.substr(0, digits)) &&
                           header.find_first_not_of("0123456789", digits) == std::string_view::npos;
        if (glued) {
            for (char c : header.substr(digits))
                vertexCount = vertexCount * 10 + std::uint64_t(c - '0');
        } else {
            const bool known = ParseHeaderWord(header, keyword);
            if (header.find("OFF") != std::string_view::npos && !known)
                s.Fail("unknown OFF header keyword \"" + Printable(b, s.p) + "\"");
            if (!known)
                s.Fail("not an OFF file: it starts with \"" + Printable(b, s.p) + "\"");
            if (!s.AtLineEnd()) {
                const char* w = s.p;
                if (s.Word() == "BINARY") {
                    // The binary data starts after the line end; a comment may come first.
                    const char* lineEnd = static_cast<const char*>(
                        std::memchr(s.p, '\n', static_cast<std::size_t>(s.end - s.p)));
                    if (!lineEnd)
                        s.Fail("the file ends after its header: no binary data");
                    ReadBinaryOff(data, size, static_cast<std::size_t>(lineEnd + 1 - data), keyword,
                                  path, baseName, meshes, progress);
                    return;
                }
                s.p = w;
            }
            if (keyword.dimensioned) {
                if (!s.NextValue())
                    s.Fail("the file ends before the number of dimensions");
                const char* d = s.p;
                std::uint64_t dimensions = 0;
                if (!s.Count(dimensions) || dimensions != 3) {
                    s.p = d;
                    s.Word();
                    s.Fail("only 3-dimensional OFF files are supported; this one gives \"" +
                           Printable(d, s.p) + "\" dimensions");
                }
            }
            vertexCount = s.RequireCount("the vertex count");
        }
    }
    const std::uint64_t faceCount = s.RequireCount("the face count");
    if (!s.AtLineEnd())
        s.RequireCount("the edge count");
    s.SkipLine();

    if (vertexCount > s.Remaining() / kMinVertexBytes || vertexCount > 0xFFFFFFFFu)
        s.Fail("the header declares " + std::to_string(vertexCount) +
               " vertices, more than the file can hold");
    if (faceCount > s.Remaining() / kMinFaceBytes)
        s.Fail("the header declares " + std::to_string(faceCount) +
               " faces, more than the file can hold");

    MeshBuilder builder(baseName);
    if (!keyword.homogeneous &&
        ReadPlainOnTwoThreads(s, vertexCount, faceCount, builder, progress)) {
        meshes.emplace_back(builder.Finish());
        return;
    }
    builder.Reserve(vertexCount, faceCount);
    for (std::uint64_t i = 0; i < vertexCount; ++i) {
        if (progress && (i & 0xFFFF) == 0)
            progress->Update(s.Offset());
        double xyz[3];
        if (!keyword.homogeneous && s.FastVertex(xyz)) {
            builder.AddVertex(xyz[0], xyz[1], xyz[2]);
            continue;
        }
        double x = s.Coordinate("a vertex coordinate");
        double y = s.Coordinate("a vertex coordinate");
        double z = s.Coordinate("a vertex coordinate");
        if (keyword.homogeneous) {
            const std::size_t at = s.Line();
            const double w = s.Coordinate("the homogeneous coordinate w");
            x /= w, y /= w, z /= w;
            if (!(std::fabs(x) <= kMaxCoordinate && std::fabs(y) <= kMaxCoordinate &&
                  std::fabs(z) <= kMaxCoordinate))
                throw FormatError(
                    LineMessage(path, at,
                                w == 0 ? "a vertex at infinity (w is 0)"
                                       : "a vertex divided by its w is too large (beyond 1e30)"));
        }
        builder.AddVertex(x, y, z);
        s.SkipLine(); // colour, normal or texture coordinates
    }

    std::vector<std::uint32_t> corners;
    std::uint64_t badFaces = 0, facesRead = 0;
    std::size_t firstBadLine = 0;
    std::string firstBadWhy;
    std::string truncated;
    for (; facesRead < faceCount; ++facesRead) {
        if (progress && (facesRead & 0xFFFF) == 0)
            progress->Update(s.Offset());
        std::uint32_t triangle[3];
        if (s.FastTriangle(vertexCount, triangle)) {
            builder.AddTriangle(triangle[0], triangle[1], triangle[2]);
            continue;
        }
        std::uint64_t n = 0;
        if (!s.NextValue()) {
            truncated = "the file ends after " + std::to_string(facesRead) + " of " +
                        std::to_string(faceCount) + " faces";
            break;
        }
        const std::size_t faceLine = s.Line();
        if (!s.Count(n))
            s.Fail("a face must start with its corner count");
        if (n > s.Remaining() / 2 + 1)
            s.Fail("a face of " + std::to_string(n) + " corners is longer than the file");
        corners.clear();
        std::string why;
        for (std::uint64_t k = 0; k < n; ++k) {
            std::uint64_t index = 0;
            if (!s.NextValue()) {
                truncated = "the file ends within face " + std::to_string(facesRead + 1) + " of " +
                            std::to_string(faceCount);
                break;
            }
            if (!s.Count(index)) {
                const char* b = s.p;
                s.Word();
                s.Fail("a face corner is not a vertex number (\"" + Printable(b, s.p) + "\")");
            }
            if (index >= vertexCount && why.empty())
                why = "vertex index " + std::to_string(index) + " with " +
                      std::to_string(vertexCount) + " vertices";
            corners.push_back(index < vertexCount ? static_cast<std::uint32_t>(index) : 0);
        }
        if (!truncated.empty())
            break;
        s.SkipLine(); // a face colour
        if (why.empty() && n < 3)
            why = "a face needs at least three corners";
        if (!why.empty()) {
            if (badFaces++ == 0) {
                firstBadLine = faceLine;
                firstBadWhy = why;
            }
            continue;
        }
        builder.AddPolygon(corners.data(), corners.size());
    }

    FinishOffMesh(builder, path, badFaces, LineMessage(path, firstBadLine, firstBadWhy),
                  truncated.empty()
                      ? std::string()
                      : LineMessage(path, s.Line(), truncated + "; the faces read are kept"),
                  meshes);
}

} // namespace polyvant::formats::off
