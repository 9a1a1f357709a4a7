#include "DxfReader.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "common/TextScan.h"

namespace polyvant::formats::dxf {
namespace {

// The shortest VERTEX record ("0\nVERTEX\n"): a declared count is believed only if
// that many records fit in the rest of the file.
constexpr std::size_t kMinRecordBytes = 9;
constexpr std::size_t kMaxWarnings = 50;
constexpr std::uint32_t kNoLayer = 0xFFFFFFFFu;
constexpr std::size_t kNone = ~std::size_t(0);
constexpr char kBinarySentinel[] = "AutoCAD Binary DXF\r\n\x1a";

enum class Kind {
    Other,
    Section,
    EndSec,
    Block,
    EndBlk,
    Face3d,
    Solid,
    Trace,
    Polyline,
    Vertex,
    SeqEnd,
    Insert,
    Mesh,
    Solid3d, // ACIS solids, regions and surfaces: their shape is not in the file as faces
    Eof,
};

Kind KindOf(std::string_view name)
{
    static const std::pair<std::string_view, Kind> kTable[] = {
        {"3DFACE", Kind::Face3d},  {"VERTEX", Kind::Vertex},   {"POLYLINE", Kind::Polyline},
        {"SEQEND", Kind::SeqEnd},  {"INSERT", Kind::Insert},   {"SOLID", Kind::Solid},
        {"TRACE", Kind::Trace},    {"SECTION", Kind::Section}, {"ENDSEC", Kind::EndSec},
        {"BLOCK", Kind::Block},    {"ENDBLK", Kind::EndBlk},   {"EOF", Kind::Eof},
        {"MESH", Kind::Mesh},      {"3DSOLID", Kind::Solid3d}, {"BODY", Kind::Solid3d},
        {"REGION", Kind::Solid3d},
    };
    for (const auto& [text, kind] : kTable)
        if (name == text)
            return kind;
    // SURFACE, PLANESURFACE, EXTRUDEDSURFACE, NURBSURFACE, ...
    if (name.size() >= 7 && name.substr(name.size() - 7) == "SURFACE")
        return Kind::Solid3d;
    return Kind::Other;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool ParseDouble(std::string_view text, double& out)
{
    text = Trim(text);
    const char* end = text.data() + text.size();
    NumberError error = NumberError::kNone;
    double v = 0;
    if (ParseCoordinate(text.data(), end, v, error) != end)
        return false;
    out = v;
    return true;
}

bool ParseInt(std::string_view text, std::int64_t& out)
{
    text = Trim(text);
    const char* end = text.data() + text.size();
    if (!text.empty() && ParseInteger(text.data(), end, out) == end)
        return true;
    double d = 0; // some writers put "64.0" where an integer belongs
    if (ParseDouble(text, d) && d == std::trunc(d) && std::fabs(d) < 9e15) {
        out = static_cast<std::int64_t>(d);
        return true;
    }
    return false;
}

std::string Upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD; // a lone surrogate is no character
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A name as UTF-8: "\U+XXXX" escapes (any release) become their character; before
// release 2007 the other bytes are in the drawing's code page, read as Latin-1 (which
// the common Western code page extends).
std::string Utf8Name(std::string_view raw, bool unicode)
{
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto c = static_cast<unsigned char>(raw[i]);
        if (c == '\\' && i + 6 < raw.size() && raw.compare(i + 1, 2, "U+") == 0) {
            std::uint32_t code = 0;
            const auto r = std::from_chars(raw.data() + i + 3, raw.data() + i + 7, code, 16);
            if (r.ec == std::errc() && r.ptr == raw.data() + i + 7) {
                AppendUtf8(out, code);
                i += 6;
                continue;
            }
        }
        if (c < 0x80 || unicode)
            out += static_cast<char>(c);
        else
            AppendUtf8(out, c);
    }
    return out;
}

using Vec3 = std::array<double, 3>;

// One record (code 0 to the next code 0) with the groups this reader uses.
struct Record {
    Kind kind = Kind::Other;
    std::size_t line = 0;
    std::string_view type; // the entity's name, as in the file
    std::string_view layer;
    std::string_view name;
    Vec3 corner[4] = {};
    unsigned cornerMask = 0;
    std::int64_t ints[6] = {}; // groups 70 ... 75
    double scale[3] = {1, 1, 1};
    double spacing[2] = {0, 0};
    double rotation = 0;
    double thickness = 0; // SOLID and TRACE: extruded this far along their extrusion direction
    Vec3 extrusion = {0, 0, 1};
    bool bad = false;

    void Reset(Kind k, std::size_t at)
    {
        *this = Record{};
        kind = k;
        line = at;
    }
};

struct Affine {
    double m[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0}; // rows: x, y, z; last column translation

    Vec3 Apply(const double* p) const
    {
        return {m[0] * p[0] + m[1] * p[1] + m[2] * p[2] + m[3],
                m[4] * p[0] + m[5] * p[1] + m[6] * p[2] + m[7],
                m[8] * p[0] + m[9] * p[1] + m[10] * p[2] + m[11]};
    }
    Affine operator*(const Affine& b) const
    {
        Affine r;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 4; ++j) {
                double s = j == 3 ? m[i * 4 + 3] : 0.0;
                for (int k = 0; k < 3; ++k)
                    s += m[i * 4 + k] * b.m[k * 4 + j];
                r.m[i * 4 + j] = s;
            }
        }
        return r;
    }
    static Affine Translate(double x, double y, double z)
    {
        Affine a;
        a.m[3] = x;
        a.m[7] = y;
        a.m[11] = z;
        return a;
    }
};

// The arbitrary-axis rule: the object coordinate system of an entity whose extrusion
// direction is n. Returns false for a zero vector.
bool OcsToWorld(Vec3 n, Affine& out)
{
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    if (!(len > 1e-12))
        return false;
    for (double& v : n)
        v /= len;
    Vec3 ax;
    if (std::fabs(n[0]) < 1.0 / 64 && std::fabs(n[1]) < 1.0 / 64)
        ax = {n[2], 0, -n[0]}; // world Y x n
    else
        ax = {-n[1], n[0], 0}; // world Z x n
    const double al = std::sqrt(ax[0] * ax[0] + ax[1] * ax[1] + ax[2] * ax[2]);
    for (double& v : ax)
        v /= al;
    const Vec3 ay = {n[1] * ax[2] - n[2] * ax[1], n[2] * ax[0] - n[0] * ax[2],
                     n[0] * ax[1] - n[1] * ax[0]};
    out = Affine{};
    for (int i = 0; i < 3; ++i) {
        out.m[i * 4 + 0] = ax[i];
        out.m[i * 4 + 1] = ay[i];
        out.m[i * 4 + 2] = n[i];
    }
    return true;
}

struct Polygon {
    std::uint32_t first;
    std::uint32_t count;
    std::uint32_t layer;
};

struct Insert {
    std::string block; // upper case: block names compare without case
    std::uint32_t layer;
    std::size_t line;
    Vec3 at;
    double scale[3];
    double rotation;
    std::int64_t columns, rows;
    double spacing[2];
    Vec3 extrusion;
};

// What one block (or the ENTITIES section) holds, in its own coordinates.
struct Geometry {
    std::string name;
    Vec3 base = {0, 0, 0};
    std::vector<double> points;
    std::vector<std::uint32_t> corners;
    std::vector<Polygon> polygons;
    std::vector<Insert> inserts;
    std::size_t triangles = 0;
};

class Reader {
public:
    Reader(const char* data, std::size_t size, DxfResult& result, const DxfLimits& limits,
           const DxfProgress& progress)
        : begin(data), p(data), end(data + size), result(result), limits(limits), progress(progress)
    {
        geometries.emplace_back(); // the ENTITIES section
        layerNames.emplace_back("0");
        layers.emplace("0", 0);
        layerZero = 0;
    }

    bool Run()
    {
        if (end == begin)
            return Fail(0, "the file is empty");
        if (static_cast<std::size_t>(end - begin) >= sizeof kBinarySentinel - 1 &&
            std::memcmp(begin, kBinarySentinel, sizeof kBinarySentinel - 1) == 0)
            return Fail(0, "binary DXF is not supported; save the drawing as ASCII DXF");
        if (end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0)
            p += 3; // a UTF-8 byte order mark some writers put first
        if (!Parse())
            return false;
        return Expand();
    }

private:
    bool Fail(std::size_t line, const std::string& what)
    {
        result.error = line ? "line " + std::to_string(line) + ": " + what : what;
        return false;
    }
    void Warn(std::size_t line, const std::string& what)
    {
        if (++warningCount <= kMaxWarnings)
            result.warnings.push_back("line " + std::to_string(line) + ": " + what);
        else if (warningCount == kMaxWarnings + 1)
            result.warnings.push_back("further warnings not shown");
    }

    bool NextLine(std::string_view& out)
    {
        if (p == end)
            return false;
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* e = nl ? nl : end;
        out = std::string_view(p, e - p);
        p = nl ? nl + 1 : end;
        ++line;
        return true;
    }

    std::uint32_t Layer(std::string_view name)
    {
        name = Trim(name);
        if (name.empty())
            name = "0";
        if (name == layerNames[lastLayer])
            return lastLayer;
        auto it = layers.find(std::string(name));
        std::uint32_t id;
        if (it == layers.end()) {
            id = static_cast<std::uint32_t>(layerNames.size());
            layerNames.emplace_back(name);
            layers.emplace(layerNames.back(), id);
        } else {
            id = it->second;
        }
        lastLayer = id;
        return id;
    }

    bool Parse()
    {
        std::string_view codeLine, value;
        std::size_t nextProgress = 4u << 20;
        bool sawEof = false;
        while (NextLine(codeLine)) {
            const std::size_t codeAt = line;
            const std::string_view codeText = Trim(codeLine);
            if (codeText.empty() && p == end)
                break; // a last empty line
            std::int64_t code = 0;
            if (!ParseInt(codeText, code) || code < -5 || code > 1071)
                return Fail(codeAt,
                            "not a DXF group code: '" + std::string(codeText.substr(0, 40)) + "'");
            if (!NextLine(value))
                return Fail(codeAt, "group code " + std::to_string(code) + " has no value");
            if (code == 0) {
                if (!FinishRecord())
                    return false;
                rec.Reset(KindOf(Trim(value)), codeAt);
                rec.type = Trim(value);
                if (rec.kind == Kind::Mesh)
                    subd = MeshState{};
                if (rec.kind == Kind::Eof) {
                    sawEof = true;
                    break; // text after EOF is not part of the drawing
                }
                if (static_cast<std::size_t>(p - begin) >= nextProgress) {
                    nextProgress += 4u << 20;
                    if (progress && !progress(0.8 * double(p - begin) / double(end - begin)))
                        return Fail(0, "cancelled");
                }
                continue;
            }
            Group(static_cast<int>(code), value, line);
        }
        if (!FinishRecord())
            return false;
        FinishPolyline();
        ReportSkippedSolids();
        if (!sawEof)
            Warn(line, "no EOF record: the file may be cut short");
        return true;
    }

    void Group(int code, std::string_view value, std::size_t at)
    {
        if (rec.kind == Kind::Section || rec.kind == Kind::Block) {
            // The HEADER's variables sit inside its SECTION record: of them only the
            // version counts, for the encoding of names.
            if (code == 2 && rec.name.empty())
                rec.name = Trim(value);
            else if (code == 9)
                versionFollows = Trim(value) == "$ACADVER";
            else if (code == 1 && versionFollows)
                unicodeNames = Trim(value) >= "AC1021"; // 2007 and later write UTF-8
            else if (rec.kind == Kind::Block && code >= 10 && code <= 30 && code % 10 == 0)
                ParseDouble(value, rec.corner[0][code / 10 - 1]);
            return;
        }
        switch (rec.kind) {
        case Kind::Other:
        case Kind::EndSec:
        case Kind::EndBlk:
        case Kind::SeqEnd:
        case Kind::Solid3d:
        case Kind::Eof:
            return;
        case Kind::Mesh:
            MeshGroup(code, value, at);
            return;
        default:
            break;
        }
        if (code == 8) {
            rec.layer = value;
        } else if (code == 2) {
            rec.name = Trim(value);
        } else if (code >= 10 && code <= 33 && code % 10 <= 3) {
            const int axis = code / 10 - 1, corner = code % 10;
            if (!ParseDouble(value, rec.corner[corner][axis]))
                BadNumber(code, value, at);
            rec.cornerMask |= 1u << corner;
        } else if (code >= 70 && code <= 75) {
            if (!ParseInt(value, rec.ints[code - 70]))
                BadNumber(code, value, at);
        } else if (code >= 41 && code <= 45) {
            double v = 0;
            if (!ParseDouble(value, v))
                BadNumber(code, value, at);
            else if (code <= 43)
                rec.scale[code - 41] = v;
            else
                rec.spacing[code - 44] = v;
        } else if (code == 50) {
            if (!ParseDouble(value, rec.rotation))
                BadNumber(code, value, at);
        } else if (code == 39) {
            if (!ParseDouble(value, rec.thickness) || !(std::fabs(rec.thickness) <= kMaxCoordinate))
                BadNumber(code, value, at);
        } else if (code == 210 || code == 220 || code == 230) {
            if (!ParseDouble(value, rec.extrusion[(code - 210) / 10]))
                BadNumber(code, value, at);
        }
    }

    void BadNumber(int code, std::string_view value, std::size_t at)
    {
        if (!rec.bad)
            Warn(at, "group " + std::to_string(code) + " value '" +
                         std::string(Trim(value).substr(0, 40)) +
                         "' is not a usable number; entity skipped");
        rec.bad = true;
    }

    Geometry* Target()
    {
        if (section == Section::Entities)
            return &geometries[0];
        if (section == Section::Blocks && currentBlock)
            return &geometries[currentBlock];
        return nullptr;
    }

    bool FinishRecord()
    {
        // Only VERTEX entities belong between POLYLINE and SEQEND: anything else ends it.
        if (poly.open && rec.kind != Kind::Vertex) {
            if (rec.kind != Kind::SeqEnd)
                Warn(poly.line, "POLYLINE ended without SEQEND");
            FinishPolyline();
        }
        switch (rec.kind) {
        case Kind::Section: {
            const std::string_view n = rec.name;
            section = n == "ENTITIES" ? Section::Entities
                      : n == "BLOCKS" ? Section::Blocks
                                      : Section::Other;
            currentBlock = 0;
            break;
        }
        case Kind::EndSec:
            section = Section::None;
            currentBlock = 0;
            break;
        case Kind::Block:
            if (section == Section::Blocks)
                StartBlock();
            break;
        case Kind::EndBlk:
            currentBlock = 0;
            break;
        case Kind::Face3d:
        case Kind::Solid:
        case Kind::Trace:
            if (Geometry* g = Target(); g && !rec.bad)
                AddFlatFace(*g);
            break;
        case Kind::Polyline:
            return StartPolyline();
        case Kind::Vertex:
            if (poly.open)
                AddVertex();
            break;
        case Kind::Insert:
            if (Geometry* g = Target(); g && !rec.bad)
                AddInsert(*g);
            break;
        case Kind::Mesh:
            if (Geometry* g = Target(); g && !rec.bad)
                FinishMesh(*g);
            break;
        case Kind::Solid3d:
            if (Target())
                NoteSkippedSolid();
            break;
        default:
            break;
        }
        return true;
    }

    // --- MESH: a face-vertex list, the control cage of a subdivision surface ---------
    //
    // Vertices (10/20/30, world coordinates) follow the vertex count (92), the face list
    // (90: corner count, then as many 0-based indices) follows its size (93); the edges
    // and creases after the edge count (94) and the overrides after them are not needed.
    // The phases go by those counts' codes, so that the many other uses of 90 to 92 in
    // the record never count as vertices or faces.
    enum class MeshPhase { Header, Vertices, Faces, Rest };
    struct MeshState {
        MeshPhase phase = MeshPhase::Header;
        std::int64_t level = 0, declaredVertices = -1, declaredItems = -1;
        std::vector<Vec3> vertices;
        unsigned axes = 0; // coordinates of the last vertex seen, a bit each
        std::vector<std::int64_t> items;
    } subd;

    void MeshGroup(int code, std::string_view value, std::size_t at)
    {
        if (code == 8) {
            rec.layer = value;
            return;
        }
        if (code == 100 && Trim(value) == "AcDbSubDMesh") {
            // The mesh's own groups start here; a 92 before it counted the bytes of the
            // entity's proxy graphics.
            subd = MeshState{};
            return;
        }
        std::int64_t n = 0;
        switch (subd.phase) {
        case MeshPhase::Header:
            if (code == 91 && ParseInt(value, n))
                subd.level = n;
            else if (code == 92 || code == 93) {
                if (!ParseInt(value, n) || n < 0)
                    return BadNumber(code, value, at);
                (code == 92 ? subd.declaredVertices : subd.declaredItems) = n;
                subd.phase = code == 92 ? MeshPhase::Vertices : MeshPhase::Faces;
            }
            return;
        case MeshPhase::Vertices:
            if (code == 10 || code == 20 || code == 30) {
                const int axis = code / 10 - 1;
                if (axis == 0 || subd.vertices.empty() || (subd.axes >> axis & 1)) {
                    subd.vertices.push_back({0, 0, 0});
                    subd.axes = 0;
                }
                if (!ParseDouble(value, subd.vertices.back()[axis]))
                    return BadNumber(code, value, at);
                subd.axes |= 1u << axis;
            } else if (code == 93) {
                if (!ParseInt(value, n) || n < 0)
                    return BadNumber(code, value, at);
                subd.declaredItems = n;
                subd.phase = MeshPhase::Faces;
            }
            return;
        case MeshPhase::Faces:
            if (code == 90) {
                if (!ParseInt(value, n))
                    return BadNumber(code, value, at);
                subd.items.push_back(n);
            } else if (code == 94) {
                subd.phase = MeshPhase::Rest;
            }
            return;
        case MeshPhase::Rest:
            return;
        }
    }

    void FinishMesh(Geometry& g)
    {
        const std::size_t count = subd.vertices.size();
        if (subd.declaredVertices >= 0 && std::uint64_t(subd.declaredVertices) != count)
            Warn(rec.line, "MESH declares " + std::to_string(subd.declaredVertices) +
                               " vertices but holds " + std::to_string(count));
        if (subd.declaredItems >= 0 && std::uint64_t(subd.declaredItems) != subd.items.size())
            Warn(rec.line, "MESH declares a face list of " + std::to_string(subd.declaredItems) +
                               " items but holds " + std::to_string(subd.items.size()));
        if (subd.level > 0)
            Warn(rec.line, "MESH is smoothed " + std::to_string(subd.level) +
                               " level(s) when drawn; its unsmoothed control mesh is read");
        const auto base = static_cast<std::uint32_t>(g.points.size() / 3);
        for (const Vec3& v : subd.vertices)
            AddPoint(g, v);
        const std::uint32_t layer = Layer(rec.layer);
        std::size_t dropped = 0;
        std::vector<std::uint32_t> idx;
        const std::vector<std::int64_t>& items = subd.items;
        for (std::size_t i = 0; i < items.size();) {
            const std::int64_t corners = items[i++];
            if (corners < 1 || std::uint64_t(corners) > items.size() - i) {
                ++dropped; // the list is out of step from here on
                break;
            }
            idx.clear();
            bool valid = true;
            for (std::int64_t k = 0; k < corners; ++k) {
                const std::int64_t v = items[i++];
                if (v < 0 || std::uint64_t(v) >= count)
                    valid = false;
                else if (idx.empty() || idx.back() != base + std::uint32_t(v))
                    idx.push_back(base + std::uint32_t(v));
            }
            while (idx.size() > 1 && idx.front() == idx.back())
                idx.pop_back();
            if (!valid)
                ++dropped;
            else if (idx.size() >= 3)
                AddPolygon(g, layer, idx.data(), idx.size());
        }
        if (dropped)
            Warn(rec.line, std::to_string(dropped) +
                               " MESH face(s) name a vertex the mesh does not have or break "
                               "the face list; dropped");
    }

    // Warned about once for each entity type, after the whole file, at its first line.
    void NoteSkippedSolid()
    {
        for (SkippedEntities& s : skippedSolids) {
            if (s.type == rec.type) {
                ++s.count;
                return;
            }
        }
        skippedSolids.push_back({rec.type, rec.line, 1});
    }

    void ReportSkippedSolids()
    {
        for (const SkippedEntities& s : skippedSolids)
            Warn(s.line, std::to_string(s.count) + " " + std::string(s.type) +
                             (s.count == 1 ? " entity" : " entities") +
                             " skipped: solids and surfaces stored as ACIS data are not read");
    }

    struct SkippedEntities {
        std::string_view type;
        std::size_t line;
        std::size_t count;
    };
    std::vector<SkippedEntities> skippedSolids;

    void StartBlock()
    {
        const std::string key = Upper(rec.name);
        if (blocks.count(key)) {
            Warn(rec.line, "block '" + std::string(rec.name) + "' defined twice; first kept");
            currentBlock = 0;
            return;
        }
        Geometry g;
        g.name = std::string(rec.name);
        g.base = rec.corner[0];
        currentBlock = geometries.size();
        blocks.emplace(key, currentBlock);
        geometries.push_back(std::move(g));
    }

    std::uint32_t AddPoint(Geometry& g, const Vec3& v)
    {
        const auto index = static_cast<std::uint32_t>(g.points.size() / 3);
        g.points.insert(g.points.end(), v.begin(), v.end());
        return index;
    }

    void AddPolygon(Geometry& g, std::uint32_t layer, const std::uint32_t* idx, std::size_t n)
    {
        g.polygons.push_back(
            {static_cast<std::uint32_t>(g.corners.size()), static_cast<std::uint32_t>(n), layer});
        g.corners.insert(g.corners.end(), idx, idx + n);
        g.triangles += n - 2;
    }

    // 3DFACE corners are world coordinates; SOLID and TRACE are outlined 1-2-4-3 in
    // their object coordinate system. A repeated corner (whichever one a writer
    // repeats) is dropped; 3 or 4 distinct corners make the face.
    void AddFlatFace(Geometry& g)
    {
        Vec3 c[4];
        for (int i = 0; i < 4; ++i)
            c[i] = rec.corner[i];
        if (!(rec.cornerMask & 8))
            c[3] = c[2];
        if (rec.kind != Kind::Face3d) {
            std::swap(c[2], c[3]);
            Affine ocs;
            if (!OcsToWorld(rec.extrusion, ocs)) {
                Warn(rec.line, "zero extrusion direction; entity skipped");
                return;
            }
            for (auto& v : c)
                v = ocs.Apply(v.data());
        }
        Vec3 kept[4];
        std::size_t n = 0;
        for (const auto& v : c)
            if (n == 0 || v != kept[n - 1])
                kept[n++] = v;
        while (n > 1 && kept[0] == kept[n - 1])
            --n;
        if (rec.kind != Kind::Face3d && rec.thickness != 0 && n >= 2) {
            AddPrism(g, kept, n);
            return;
        }
        if (n < 3)
            return;
        std::uint32_t idx[4];
        for (std::size_t i = 0; i < n; ++i)
            idx[i] = AddPoint(g, kept[i]);
        AddPolygon(g, Layer(rec.layer), idx, n);
    }

    // A SOLID or TRACE with a thickness: its outline (world coordinates, n distinct
    // corners) as the bottom, the same moved along the extrusion direction as the top,
    // and a wall for each side. Two corners make one wall.
    void AddPrism(Geometry& g, const Vec3* outline, std::size_t n)
    {
        Affine ocs;
        OcsToWorld(rec.extrusion, ocs); // checked by the caller
        const Vec3 up = ocs.Apply(std::array<double, 3>{0, 0, rec.thickness}.data());
        const std::uint32_t layer = Layer(rec.layer);
        std::uint32_t bottom[4], top[4];
        for (std::size_t i = 0; i < n; ++i) {
            bottom[i] = AddPoint(g, outline[i]);
            top[i] =
                AddPoint(g, {outline[i][0] + up[0], outline[i][1] + up[1], outline[i][2] + up[2]});
        }
        if (n >= 3) {
            std::uint32_t reversed[4]; // the bottom faces away from the top
            for (std::size_t i = 0; i < n; ++i)
                reversed[i] = bottom[n - 1 - i];
            AddPolygon(g, layer, reversed, n);
            AddPolygon(g, layer, top, n);
        }
        const std::size_t sides = n == 2 ? 1 : n;
        for (std::size_t i = 0; i < sides; ++i) {
            const std::size_t j = (i + 1) % n;
            const std::uint32_t wall[4] = {bottom[i], bottom[j], top[j], top[i]};
            AddPolygon(g, layer, wall, 4);
        }
    }

    void AddInsert(Geometry& g)
    {
        if (rec.name.empty()) {
            Warn(rec.line, "INSERT without a block name skipped");
            return;
        }
        Insert ins;
        ins.block = Upper(rec.name);
        ins.layer = Layer(rec.layer);
        ins.line = rec.line;
        ins.at = rec.corner[0];
        std::copy(rec.scale, rec.scale + 3, ins.scale);
        ins.rotation = rec.rotation;
        ins.columns = std::max<std::int64_t>(rec.ints[0], 1);
        ins.rows = std::max<std::int64_t>(rec.ints[1], 1);
        std::copy(rec.spacing, rec.spacing + 2, ins.spacing);
        ins.extrusion = rec.extrusion;
        g.inserts.push_back(std::move(ins));
    }

    // --- POLYLINE meshes -------------------------------------------------------

    struct PolyState {
        bool open = false;
        bool bad = false;
        std::size_t target = kNone;
        std::size_t line = 0;
        std::uint32_t layer = 0;
        std::int64_t flags = 0, m = 0, n = 0, mDensity = 0, nDensity = 0, surface = 0;
        std::vector<Vec3> positions;
        std::vector<std::int64_t> vertexFlags;
        std::vector<std::array<std::int64_t, 4>> faces;
        std::vector<std::size_t> faceLines;
    } poly;

    bool StartPolyline()
    {
        poly.open = true;
        poly.bad = rec.bad;
        Geometry* g = Target();
        poly.target = g ? static_cast<std::size_t>(g - geometries.data()) : kNone;
        poly.line = rec.line;
        poly.layer = Layer(rec.layer);
        poly.flags = rec.ints[0];
        poly.m = rec.ints[1];
        poly.n = rec.ints[2];
        poly.mDensity = rec.ints[3];
        poly.nDensity = rec.ints[4];
        poly.surface = rec.ints[5];
        poly.positions.clear();
        poly.vertexFlags.clear();
        poly.faces.clear();
        poly.faceLines.clear();
        if (!(poly.flags & (16 | 64)))
            return true; // a 2D or 3D polyline: a line, no faces
        // Counts are only checked against the bytes left; the records are what counts.
        const auto left = static_cast<std::uint64_t>(end - p) / kMinRecordBytes + 1;
        const bool polyface = poly.flags & 64;
        const std::int64_t a = poly.m, b = poly.n;
        if (a < 0 || b < 0)
            return Fail(rec.line, "POLYLINE mesh with negative counts " + std::to_string(a) +
                                      " x " + std::to_string(b));
        const std::uint64_t need =
            polyface ? std::uint64_t(a) + std::uint64_t(b) : std::uint64_t(a) * std::uint64_t(b);
        if ((a > 0 && b > 0 && !polyface && need / std::uint64_t(a) != std::uint64_t(b)) ||
            need > left)
            return Fail(rec.line, std::string(polyface ? "polyface" : "polygon") +
                                      " mesh declares " + std::to_string(a) +
                                      (polyface ? " vertices and " : " x ") + std::to_string(b) +
                                      (polyface ? " faces" : " vertices") +
                                      ", more than the rest of the file can hold");
        if (!polyface && poly.surface != 0) {
            const std::uint64_t fitted = std::uint64_t(std::max<std::int64_t>(poly.mDensity, 0)) *
                                         std::uint64_t(std::max<std::int64_t>(poly.nDensity, 0));
            if (fitted > left)
                return Fail(rec.line, "smoothed mesh declares " + std::to_string(poly.mDensity) +
                                          " x " + std::to_string(poly.nDensity) +
                                          " vertices, more than the rest of the file can hold");
        }
        return true;
    }

    void AddVertex()
    {
        if (rec.bad) {
            poly.bad = true;
            return;
        }
        const std::int64_t flags = rec.ints[0];
        if ((poly.flags & 64) && (flags & 128) && !(flags & 64)) {
            poly.faces.push_back({rec.ints[1], rec.ints[2], rec.ints[3], rec.ints[4]});
            poly.faceLines.push_back(rec.line);
            return;
        }
        poly.positions.push_back(rec.corner[0]);
        poly.vertexFlags.push_back(flags);
    }

    void FinishPolyline()
    {
        if (!poly.open)
            return;
        poly.open = false;
        if (poly.target == kNone || !(poly.flags & (16 | 64)))
            return;
        if (poly.bad) {
            Warn(poly.line, "mesh skipped because one of its vertices is unusable");
            return;
        }
        if (poly.flags & 64)
            FinishPolyface(geometries[poly.target]);
        else
            FinishPolygonMesh(geometries[poly.target]);
    }

    void FinishPolyface(Geometry& g)
    {
        const std::size_t count = poly.positions.size();
        if (static_cast<std::uint64_t>(poly.m) != count ||
            static_cast<std::uint64_t>(poly.n) != poly.faces.size())
            Warn(poly.line, "polyface mesh declares " + std::to_string(poly.m) + " vertices and " +
                                std::to_string(poly.n) + " faces but holds " +
                                std::to_string(count) + " and " +
                                std::to_string(poly.faces.size()));
        const auto base = static_cast<std::uint32_t>(g.points.size() / 3);
        for (const auto& v : poly.positions)
            AddPoint(g, v);
        std::size_t dropped = 0, firstDropped = 0;
        for (std::size_t f = 0; f < poly.faces.size(); ++f) {
            std::uint32_t idx[4];
            std::size_t n = 0;
            bool valid = true;
            for (std::int64_t raw : poly.faces[f]) {
                if (raw == 0)
                    break; // 0 ends the corner list
                const std::uint64_t i = raw < 0 ? 0 - std::uint64_t(raw) : std::uint64_t(raw);
                if (i > count) {
                    valid = false;
                    break;
                }
                const auto v = static_cast<std::uint32_t>(i - 1);
                if (n == 0 || idx[n - 1] != v)
                    idx[n++] = v;
            }
            while (n > 1 && idx[0] == idx[n - 1])
                --n;
            if (!valid) {
                if (dropped++ == 0)
                    firstDropped = poly.faceLines[f];
                continue;
            }
            if (n < 3)
                continue;
            for (std::size_t i = 0; i < n; ++i)
                idx[i] += base;
            AddPolygon(g, poly.layer, idx, n);
        }
        if (dropped)
            Warn(firstDropped, std::to_string(dropped) +
                                   " polyface face(s) name a vertex the mesh does not have; "
                                   "dropped");
    }

    void FinishPolygonMesh(Geometry& g)
    {
        std::int64_t m = poly.m, n = poly.n;
        std::vector<Vec3> grid;
        bool fitted = false;
        if (poly.surface != 0)
            for (std::int64_t f : poly.vertexFlags)
                fitted = fitted || (f & 8);
        if (fitted) {
            m = poly.mDensity;
            n = poly.nDensity;
            for (std::size_t i = 0; i < poly.positions.size(); ++i)
                if (poly.vertexFlags[i] & 8)
                    grid.push_back(poly.positions[i]);
        } else {
            for (std::size_t i = 0; i < poly.positions.size(); ++i)
                if (!(poly.vertexFlags[i] & 16) || poly.surface == 0)
                    grid.push_back(poly.positions[i]);
        }
        if (m < 1 || n < 1 || std::uint64_t(m) * std::uint64_t(n) != grid.size()) {
            Warn(poly.line, "polygon mesh declares " + std::to_string(m) + " x " +
                                std::to_string(n) + " vertices but holds " +
                                std::to_string(grid.size()) + "; mesh skipped");
            return;
        }
        const auto base = static_cast<std::uint32_t>(g.points.size() / 3);
        for (const auto& v : grid)
            AddPoint(g, v);
        const bool closedM = (poly.flags & 1) && m > 2;
        const bool closedN = (poly.flags & 32) && n > 2;
        const std::int64_t rows = closedM ? m : m - 1;
        const std::int64_t cols = closedN ? n : n - 1;
        for (std::int64_t i = 0; i < rows; ++i) {
            for (std::int64_t j = 0; j < cols; ++j) {
                const std::int64_t i1 = (i + 1) % m, j1 = (j + 1) % n;
                const std::uint32_t quad[4] = {
                    base + std::uint32_t(i * n + j), base + std::uint32_t(i * n + j1),
                    base + std::uint32_t(i1 * n + j1), base + std::uint32_t(i1 * n + j)};
                AddDistinct(g, quad);
            }
        }
    }

    // A grid quad collapses to a triangle at a pole; one without area is dropped.
    void AddDistinct(Geometry& g, const std::uint32_t* quad)
    {
        std::uint32_t idx[4];
        std::size_t n = 0;
        auto at = [&](std::uint32_t i) {
            return Vec3{g.points[i * 3], g.points[i * 3 + 1], g.points[i * 3 + 2]};
        };
        for (int k = 0; k < 4; ++k)
            if (n == 0 || at(idx[n - 1]) != at(quad[k]))
                idx[n++] = quad[k];
        while (n > 1 && at(idx[0]) == at(idx[n - 1]))
            --n;
        if (n >= 3)
            AddPolygon(g, poly.layer, idx, n);
    }

    // --- Expansion into one mesh per layer ---------------------------------------

    Affine InsertMatrix(const Insert& ins, const Geometry& block, std::int64_t cell) const
    {
        const std::int64_t row = cell / ins.columns, column = cell % ins.columns;
        const double rad = ins.rotation * (3.14159265358979323846 / 180.0);
        const double c = std::cos(rad), s = std::sin(rad);
        Affine rotate;
        rotate.m[0] = c;
        rotate.m[1] = -s;
        rotate.m[4] = s;
        rotate.m[5] = c;
        Affine scale;
        scale.m[0] = ins.scale[0];
        scale.m[5] = ins.scale[1];
        scale.m[10] = ins.scale[2];
        Affine ocs;
        OcsToWorld(ins.extrusion, ocs); // checked when the insert was taken
        return ocs * Affine::Translate(ins.at[0], ins.at[1], ins.at[2]) * rotate *
               Affine::Translate(double(column) * ins.spacing[0], double(row) * ins.spacing[1], 0) *
               scale * Affine::Translate(-block.base[0], -block.base[1], -block.base[2]);
    }

    bool Emit(std::size_t geometryIndex, const Affine& m, std::uint32_t inherited)
    {
        const Geometry& g = geometries[geometryIndex];
        if (g.polygons.empty())
            return true;
        emittedTriangles += g.triangles;
        if (emittedTriangles > maxTriangles)
            return Fail(0, "block references would make more than " + std::to_string(maxTriangles) +
                               " triangles");
        auto& stamp = stamps[geometryIndex];
        auto& owner = owners[geometryIndex];
        auto& remap = remaps[geometryIndex];
        if (stamp.size() != g.points.size() / 3) {
            stamp.assign(g.points.size() / 3, 0);
            owner.assign(g.points.size() / 3, 0);
            remap.assign(g.points.size() / 3, 0);
        }
        ++serial;
        std::vector<std::uint32_t>& idx = emitCorners;
        for (const Polygon& poly : g.polygons) {
            idx.resize(poly.count);
            const std::uint32_t layer =
                poly.layer == layerZero && inherited != kNoLayer ? inherited : poly.layer;
            if (builderOf.size() < layerNames.size())
                builderOf.resize(layerNames.size(), -1);
            if (builderOf[layer] < 0) {
                builderOf[layer] = static_cast<int>(result.meshes.size());
                result.meshes.emplace_back(Utf8Name(layerNames[layer], unicodeNames));
            }
            const auto builder = static_cast<std::uint32_t>(builderOf[layer]);
            MeshBuilder& mesh = result.meshes[builder];
            // A point is shared by the faces of one entity, which share one layer.
            for (std::uint32_t k = 0; k < poly.count; ++k) {
                const std::uint32_t src = g.corners[poly.first + k];
                if (stamp[src] != serial || owner[src] != builder) {
                    const Vec3 v = m.Apply(&g.points[std::size_t(src) * 3]);
                    remap[src] = mesh.AddVertex(v[0], v[1], v[2]);
                    stamp[src] = serial;
                    owner[src] = builder;
                }
                idx[k] = remap[src];
            }
            if (poly.count == 3)
                mesh.AddTriangle(idx[0], idx[1], idx[2]);
            else
                mesh.AddPolygon(idx.data(), poly.count);
        }
        return true;
    }

    bool Expand()
    {
        std::size_t stored = 0;
        for (const Geometry& g : geometries)
            stored += g.triangles;
        maxTriangles = limits.maxOutputTriangles
                           ? limits.maxOutputTriangles
                           : stored * 8 + std::size_t(end - begin) / 4 + (std::size_t(1) << 19);
        stamps.resize(geometries.size());
        owners.resize(geometries.size());
        remaps.resize(geometries.size());
        if (!Emit(0, Affine{}, kNoLayer))
            return false;

        struct Frame {
            std::size_t geometry;
            Affine m;
            std::uint32_t layer;
            std::size_t nextInsert = 0;
            std::int64_t cell = 0;
        };
        std::vector<Frame> stack;
        std::vector<bool> expanding(geometries.size(), false);
        stack.push_back({0, Affine{}, kNoLayer});
        expanding[0] = true;
        std::size_t instances = 0;
        while (!stack.empty()) {
            Frame& f = stack.back();
            const Geometry& g = geometries[f.geometry];
            if (f.nextInsert == g.inserts.size()) {
                expanding[f.geometry] = false;
                stack.pop_back();
                continue;
            }
            const Insert& ins = g.inserts[f.nextInsert];
            if (f.cell == 0 &&
                (std::uint64_t(ins.columns) > limits.maxInstances ||
                 std::uint64_t(ins.rows) > limits.maxInstances ||
                 std::uint64_t(ins.columns) * std::uint64_t(ins.rows) > limits.maxInstances))
                return Fail(ins.line, "INSERT of '" + ins.block + "' asks for " +
                                          std::to_string(ins.columns) + " x " +
                                          std::to_string(ins.rows) + " copies");
            if (f.cell == ins.columns * ins.rows) {
                ++f.nextInsert;
                f.cell = 0;
                continue;
            }
            const std::int64_t cell = f.cell++;
            const auto found = blocks.find(ins.block);
            if (found == blocks.end()) {
                if (cell == 0)
                    Warn(ins.line, "INSERT of undefined block '" + ins.block + "' skipped");
                f.cell = ins.columns * ins.rows;
                continue;
            }
            const std::size_t b = found->second;
            if (expanding[b])
                return Fail(ins.line,
                            "block '" + geometries[b].name + "' is inserted inside itself");
            if (stack.size() > limits.maxInsertDepth)
                return Fail(ins.line, "blocks nested more than " +
                                          std::to_string(limits.maxInsertDepth) + " deep");
            if (++instances > limits.maxInstances)
                return Fail(ins.line, "more than " + std::to_string(limits.maxInstances) +
                                          " block references");
            Affine probe;
            if (!OcsToWorld(ins.extrusion, probe)) {
                if (cell == 0)
                    Warn(ins.line, "INSERT with a zero extrusion direction skipped");
                f.cell = ins.columns * ins.rows;
                continue;
            }
            const Affine m = f.m * InsertMatrix(ins, geometries[b], cell);
            const std::uint32_t layer =
                ins.layer == layerZero && f.layer != kNoLayer ? f.layer : ins.layer;
            if (!Emit(b, m, layer))
                return false;
            if (!geometries[b].inserts.empty()) {
                expanding[b] = true;
                stack.push_back({b, m, layer}); // invalidates f
            }
        }
        return true;
    }

    enum class Section { None, Entities, Blocks, Other };

    const char* begin;
    const char* p;
    const char* end;
    DxfResult& result;
    const DxfLimits& limits;
    const DxfProgress& progress;
    std::size_t line = 0;
    std::size_t warningCount = 0;
    Record rec;
    Section section = Section::None;
    std::size_t currentBlock = 0;
    std::vector<Geometry> geometries;
    std::unordered_map<std::string, std::size_t> blocks;
    std::unordered_map<std::string, std::uint32_t> layers;
    std::vector<std::string> layerNames;
    std::uint32_t lastLayer = 0;
    std::uint32_t layerZero = 0;
    bool versionFollows = false;
    bool unicodeNames = false;
    std::vector<int> builderOf;
    std::vector<std::vector<std::uint64_t>> stamps;
    std::vector<std::vector<std::uint32_t>> owners;
    std::vector<std::vector<std::uint32_t>> remaps;
    std::uint64_t serial = 0;
    std::vector<std::uint32_t> emitCorners;
    std::size_t emittedTriangles = 0;
    std::size_t maxTriangles = 0;
};

} // namespace

bool ReadDxf(const char* data, std::size_t size, DxfResult& result, const DxfLimits& limits,
             const DxfProgress& progress)
{
    result = DxfResult{};
    Reader reader(data, size, result, limits, progress);
    if (reader.Run())
        return true;
    result.meshes.clear();
    return false;
}

} // namespace polyvant::formats::dxf
