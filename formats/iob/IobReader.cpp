#include "iob/IobReader.h"

#include <cstring>
#include <string_view>

namespace polyvant::formats::iob {
namespace {

constexpr std::size_t kHeader = 8; // id + length
constexpr std::size_t kNameBytes = 18;
constexpr std::size_t kMaxWarnings = 50;

std::uint32_t Be32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 |
           std::uint32_t(p[3]);
}
std::uint16_t Be16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::string IdText(const unsigned char* p)
{
    std::string id;
    for (int i = 0; i < 4; ++i)
        id += p[i] >= 0x20 && p[i] < 0x7f ? static_cast<char>(p[i]) : '?';
    return id;
}

struct Chunk {
    std::size_t offset; // of the header
    std::string id;
    std::size_t dataOffset;
    std::size_t size;
};

// A list in a DESC: where its records start and how many there are.
struct List {
    std::size_t offset = 0;
    std::size_t count = 0;
    bool wide = false; // ULONG counts and indices (PNT2, EDG2, FAC2)
    bool present = false;
};

class Reader {
public:
    Reader(const char* data, std::size_t size, IobResult& result, const IobProgress& progress)
        : bytes(reinterpret_cast<const unsigned char*>(data)), size(size), result(result),
          progress(progress)
    {
    }

    bool Run()
    {
        if (size < 12 || std::memcmp(bytes, "FORM", 4) != 0)
            return Fail(0, "", "not an IFF file (no FORM header)");
        if (std::memcmp(bytes + 8, "TDDD", 4) != 0)
            return Fail(8, "FORM",
                        "IFF FORM of type '" + IdText(bytes + 8) + "', not an object (TDDD)");
        const std::size_t formSize = Be32(bytes + 4);
        if (formSize < 4 || formSize > size - kHeader)
            return Fail(4, "FORM",
                        "length " + std::to_string(formSize) + " does not fit the file of " +
                            std::to_string(size) + " bytes");
        const std::size_t formEnd = kHeader + formSize;
        std::size_t at = 12;
        Chunk chunk;
        while (NextChunk(at, formEnd, chunk)) {
            if (chunk.id == "OBJ ") {
                if (!ReadObject(chunk))
                    return false;
            }
        }
        return result.error.empty();
    }

private:
    bool Fail(std::size_t offset, const std::string& chunk, const std::string& what)
    {
        result.error = "offset " + std::to_string(offset) + ": " +
                       (chunk.empty() ? "" : "chunk '" + chunk + "': ") + what;
        return false;
    }
    void Warn(std::size_t offset, const std::string& chunk, const std::string& what)
    {
        if (++warningCount <= kMaxWarnings)
            result.warnings.push_back("offset " + std::to_string(offset) + ": chunk '" + chunk +
                                      "': " + what);
        else if (warningCount == kMaxWarnings + 1)
            result.warnings.push_back("further warnings not shown");
    }

    // The chunk at `at` within [.., parentEnd); false at the end of the parent or on an
    // error (result.error set). Moves `at` past the chunk and its pad byte.
    bool NextChunk(std::size_t& at, std::size_t parentEnd, Chunk& chunk)
    {
        if (at >= parentEnd)
            return false;
        if (parentEnd - at < kHeader) {
            Fail(at, "",
                 "chunk header cut short: " + std::to_string(parentEnd - at) +
                     " bytes left in its parent");
            return false;
        }
        chunk.offset = at;
        chunk.id = IdText(bytes + at);
        chunk.size = Be32(bytes + at + 4);
        chunk.dataOffset = at + kHeader;
        if (chunk.size > parentEnd - chunk.dataOffset) {
            Fail(at, chunk.id,
                 "length " + std::to_string(chunk.size) + " runs past its parent (" +
                     std::to_string(parentEnd - chunk.dataOffset) + " bytes left)");
            return false;
        }
        at = chunk.dataOffset + chunk.size;
        // An odd chunk is followed by a pad byte; a writer may leave it out at the end.
        if ((chunk.size & 1) && at < parentEnd)
            ++at;
        return true;
    }

    // The object tree of one OBJ chunk: DESC opens an object, TOBJ closes it.
    bool ReadObject(const Chunk& obj)
    {
        std::size_t at = obj.dataOffset, depth = 0;
        const std::size_t end = obj.dataOffset + obj.size;
        Chunk chunk;
        while (NextChunk(at, end, chunk)) {
            if (chunk.id == "DESC") {
                if (++depth > kMaxObjectDepth)
                    return Fail(chunk.offset, chunk.id,
                                "objects nested more than " + std::to_string(kMaxObjectDepth) +
                                    " deep");
                if (!ReadDescription(chunk))
                    return false;
                if (progress && !progress(double(at) / double(size))) {
                    result.error = "cancelled";
                    return false;
                }
            } else if (chunk.id == "TOBJ") {
                if (depth == 0)
                    return Fail(chunk.offset, chunk.id, "end of an object that was not begun");
                --depth;
            } else if (chunk.id == "EXTR") {
                Warn(chunk.offset, chunk.id, "reference to an object in another file skipped");
            }
        }
        if (!result.error.empty())
            return false;
        if (depth)
            Warn(obj.offset, obj.id, std::to_string(depth) + " object(s) not closed by TOBJ");
        return true;
    }

    bool TakeList(const Chunk& c, List& list, std::size_t recordBytes, bool wide)
    {
        const std::size_t countBytes = wide ? 4 : 2;
        if (c.size < countBytes)
            return Fail(c.offset, c.id, "too short for its count");
        const unsigned char* p = bytes + c.dataOffset;
        const std::size_t count = wide ? Be32(p) : Be16(p);
        if (count > (c.size - countBytes) / recordBytes)
            return Fail(c.offset, c.id,
                        "count " + std::to_string(count) + " needs " + std::to_string(count) +
                            " x " + std::to_string(recordBytes) + " bytes, the chunk holds " +
                            std::to_string(c.size - countBytes));
        if (list.present)
            Warn(c.offset, c.id, "second list of this kind in one object; it replaces the first");
        list.offset = c.dataOffset + countBytes;
        list.count = count;
        list.wide = wide;
        list.present = true;
        return true;
    }

    bool ReadDescription(const Chunk& desc)
    {
        ++result.objects;
        std::string name;
        List points, edges, faces, colours;
        std::size_t at = desc.dataOffset;
        const std::size_t end = desc.dataOffset + desc.size;
        Chunk c;
        while (NextChunk(at, end, c)) {
            bool ok = true;
            if (c.id == "NAME") {
                const char* text = reinterpret_cast<const char*>(bytes + c.dataOffset);
                name.assign(text, strnlen(text, std::min(c.size, kNameBytes)));
            } else if (c.id == "PNTS" || c.id == "PNT2") {
                ok = TakeList(c, points, 12, c.id == "PNT2");
            } else if (c.id == "EDGE" || c.id == "EDG2") {
                ok = TakeList(c, edges, c.id == "EDG2" ? 8 : 4, c.id == "EDG2");
            } else if (c.id == "FACE" || c.id == "FAC2") {
                ok = TakeList(c, faces, c.id == "FAC2" ? 12 : 6, c.id == "FAC2");
            } else if (c.id == "CLST") {
                ok = TakeList(c, colours, 3, false);
            } else if ((c.id == "POSI" && c.size < 12) || (c.id == "AXIS" && c.size < 36) ||
                       (c.id == "SIZE" && c.size < 12)) {
                Warn(c.offset, c.id, "shorter than its vectors; ignored");
            }
            if (!ok)
                return false;
        }
        if (!result.error.empty())
            return false;
        if (name.empty())
            name = "Object " + std::to_string(result.objects);
        if (!faces.present || faces.count == 0 || !points.present)
            return true; // a group, a light or an analytic shape: nothing to draw
        if (!edges.present)
            return Fail(desc.offset, desc.id, "object '" + name + "' has faces but no edges");
        return Build(desc, name, points, edges, faces, colours);
    }

    std::size_t Index(const List& list, std::size_t record, std::size_t field) const
    {
        return list.wide ? Be32(bytes + list.offset + (record * 3 + field) * 4)
                         : Be16(bytes + list.offset + (record * 3 + field) * 2);
    }
    std::size_t EdgeEnd(const List& list, std::size_t record, std::size_t end) const
    {
        return list.wide ? Be32(bytes + list.offset + (record * 2 + end) * 4)
                         : Be16(bytes + list.offset + (record * 2 + end) * 2);
    }

    bool Build(const Chunk& desc, const std::string& name, const List& points, const List& edges,
               const List& faces, const List& colours)
    {
        MeshBuilder mesh(name);
        mesh.Reserve(points.count, faces.count);
        for (std::size_t i = 0; i < points.count; ++i) {
            const unsigned char* p = bytes + points.offset + i * 12;
            double v[3];
            for (int k = 0; k < 3; ++k)
                v[k] = static_cast<std::int32_t>(Be32(p + 4 * k)) / 65536.0;
            mesh.AddVertex(v[0], v[1], v[2]);
        }
        const bool useColours = colours.present && colours.count == faces.count;
        if (colours.present && !useColours)
            Warn(desc.offset, desc.id,
                 "object '" + name + "': " + std::to_string(colours.count) + " face colours for " +
                     std::to_string(faces.count) + " faces; ignored");
        std::size_t dropped = 0;
        for (std::size_t f = 0; f < faces.count; ++f) {
            std::size_t e[3];
            bool valid = true;
            for (int k = 0; k < 3; ++k) {
                e[k] = Index(faces, f, k);
                valid = valid && e[k] < edges.count;
            }
            std::uint32_t corner[3];
            if (!valid || !Corners(edges, e, points.count, corner)) {
                ++dropped;
                continue;
            }
            std::uint32_t word3 = 0;
            if (useColours) {
                const unsigned char* rgb = bytes + colours.offset + f * 3;
                word3 = std::uint32_t(rgb[0]) << 16 | std::uint32_t(rgb[1]) << 8 | rgb[2];
            }
            mesh.AddTriangle(corner[0], corner[1], corner[2], word3);
        }
        if (dropped)
            Warn(desc.offset, desc.id,
                 "object '" + name + "': " + std::to_string(dropped) +
                     " face(s) whose edges do not make a triangle dropped");
        if (mesh.TriangleCount())
            result.meshes.push_back(std::move(mesh));
        return true;
    }

    // The corners of a face from its edges: the vertex e0 and e1 share is the middle
    // one, so the order follows the edge sequence whatever way each edge points.
    bool Corners(const List& edges, const std::size_t* e, std::size_t pointCount,
                 std::uint32_t* corner) const
    {
        std::size_t a[3], b[3];
        for (int k = 0; k < 3; ++k) {
            a[k] = EdgeEnd(edges, e[k], 0);
            b[k] = EdgeEnd(edges, e[k], 1);
            if (a[k] >= pointCount || b[k] >= pointCount || a[k] == b[k])
                return false;
        }
        std::size_t first, shared;
        if (b[0] == a[1] || b[0] == b[1]) {
            first = a[0];
            shared = b[0];
        } else if (a[0] == a[1] || a[0] == b[1]) {
            first = b[0];
            shared = a[0];
        } else {
            return false;
        }
        const std::size_t third = a[1] == shared ? b[1] : a[1];
        if (third == first)
            return false;
        const bool closes = (a[2] == third && b[2] == first) || (a[2] == first && b[2] == third);
        if (!closes)
            return false;
        corner[0] = static_cast<std::uint32_t>(first);
        corner[1] = static_cast<std::uint32_t>(shared);
        corner[2] = static_cast<std::uint32_t>(third);
        return true;
    }

    const unsigned char* bytes;
    std::size_t size;
    IobResult& result;
    const IobProgress& progress;
    std::size_t warningCount = 0;
};

} // namespace

bool ReadIob(const char* data, std::size_t size, IobResult& result, const IobProgress& progress)
{
    result = IobResult{};
    Reader reader(data, size, result, progress);
    if (reader.Run())
        return true;
    result.meshes.clear();
    return false;
}

} // namespace polyvant::formats::iob
