#include "ply/PlyReader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fast_float/fast_float.h>
#include <string>

#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "common/Triangulate.h"
#include "ply/PlyHeader.h"

namespace polyvant::formats::ply {

namespace {

template <typename T>
T Load(const char* p, bool swap) noexcept
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, p, sizeof(T));
    if (swap) {
        for (std::size_t i = 0; i < sizeof(T) / 2; ++i) {
            const unsigned char t = bytes[i];
            bytes[i] = bytes[sizeof(T) - 1 - i];
            bytes[sizeof(T) - 1 - i] = t;
        }
    }
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

double BinaryNumber(PlyType type, const char* p, bool swap) noexcept
{
    switch (type) {
    case PlyType::kInt8:
        return Load<std::int8_t>(p, swap);
    case PlyType::kUInt8:
        return Load<std::uint8_t>(p, swap);
    case PlyType::kInt16:
        return Load<std::int16_t>(p, swap);
    case PlyType::kUInt16:
        return Load<std::uint16_t>(p, swap);
    case PlyType::kInt32:
        return Load<std::int32_t>(p, swap);
    case PlyType::kUInt32:
        return Load<std::uint32_t>(p, swap);
    case PlyType::kFloat32:
        return Load<float>(p, swap);
    case PlyType::kFloat64:
        return Load<double>(p, swap);
    }
    return 0;
}

// Only for integer types (the header and the plan make sure of that).
std::int64_t BinaryInteger(PlyType type, const char* p, bool swap) noexcept
{
    switch (type) {
    case PlyType::kInt8:
        return Load<std::int8_t>(p, swap);
    case PlyType::kUInt8:
        return Load<std::uint8_t>(p, swap);
    case PlyType::kInt16:
        return Load<std::int16_t>(p, swap);
    case PlyType::kUInt16:
        return Load<std::uint16_t>(p, swap);
    case PlyType::kInt32:
        return Load<std::int32_t>(p, swap);
    case PlyType::kUInt32:
        return Load<std::uint32_t>(p, swap);
    default:
        return -1;
    }
}

bool Sane(double value) noexcept
{
    return std::fabs(value) <= kMaxCoordinate; // false for NaN and infinities too
}

const char* SaneText(double value) noexcept
{
    return std::isfinite(value) ? "coordinate is too large (beyond 1e30)"
                                : "coordinate is not a finite number";
}

std::string Quoted(const std::string& name)
{
    std::string text(1, '\'');
    text += Printable(name.data(), name.data() + name.size());
    text += '\'';
    return text;
}

bool IsSpace(char c) noexcept
{
    return c == '\n' || IsBlank(c);
}

// What the reader does with each property of the vertex and face elements.
enum Action : std::uint8_t { kSkip, kX, kY, kZ, kIndices };

class Reader {
public:
    Reader(const char* bytes, std::size_t length, std::string_view file, const PlyHeader& h)
        : data(bytes), end(bytes + length), path(file), header(h), mesh(BaseNameOf(file)),
          meter("Reading PLY", length)
    {
    }

    void Read(std::vector<std::unique_ptr<Mesh3d>>& meshes)
    {
        Plan();
        if (vertexElement < 0)
            throw FormatError(
                LineMessage(path, header.bodyLine - 1, "the header declares no 'vertex' element"));
        vertexCount = header.elements[vertexElement].count;
        if (header.format == PlyFormat::kAscii)
            ReadAscii();
        else
            ReadBinary();
        if (degenerate)
            HostLink::Warning((std::string(path) + ": " + std::to_string(degenerate) +
                               (degenerate == 1 ? " face" : " faces") +
                               " with fewer than 3 corners skipped")
                                  .c_str());
        if (ownVertices) {
            meshes.push_back(OwnMesh());
            return;
        }
        if (mesh.VertexCount() == 0)
            return; // nothing to show
        std::unique_ptr<Mesh3d> result(mesh.Finish());
        if (!result)
            throw FormatError(std::string(path) + ": more than 4294967295 vertices or faces");
        meshes.push_back(std::move(result));
    }

private:
    // ---- which properties matter ----------------------------------------------------

    void Plan()
    {
        for (std::size_t i = 0; i < header.elements.size(); ++i) {
            const PlyElement& element = header.elements[i];
            if (element.name == "vertex" && vertexElement < 0)
                PlanVertex(static_cast<int>(i));
            else if (element.name == "face" && faceElement < 0)
                PlanFace(static_cast<int>(i));
        }
    }

    void PlanVertex(int index)
    {
        const PlyElement& element = header.elements[index];
        vertexActions.assign(element.properties.size(), kSkip);
        const char* const names[3] = {"x", "y", "z"};
        for (int k = 0; k < 3; ++k) {
            const int p = element.Find(names[k]);
            if (p < 0)
                throw FormatError(LineMessage(path, element.line,
                                              "element 'vertex' has no property '" +
                                                  std::string(names[k]) + "'"));
            if (element.properties[p].isList)
                throw FormatError(LineMessage(path, element.line,
                                              "vertex property '" + std::string(names[k]) +
                                                  "' is a list, not a number"));
            vertexActions[p] = static_cast<Action>(kX + k);
            coordinate[k] = p;
        }
        vertexElement = index;
    }

    void PlanFace(int index)
    {
        const PlyElement& element = header.elements[index];
        int p = element.Find("vertex_indices");
        if (p < 0)
            p = element.Find("vertex_index");
        if (p < 0) {
            // Some writers name the list otherwise ("index"): the one integer list is it.
            int only = -1, lists = 0;
            for (std::size_t k = 0; k < element.properties.size(); ++k) {
                if (element.properties[k].isList) {
                    ++lists;
                    if (IsInteger(element.properties[k].type))
                        only = static_cast<int>(k);
                }
            }
            if (lists == 1 && only >= 0) {
                p = only;
                HostLink::Warning(LineMessage(path, element.line,
                                              "element 'face' names its corner list " +
                                                  Quoted(element.properties[p].name) +
                                                  " instead of 'vertex_indices'; read as such")
                                      .c_str());
            }
        }
        if (p < 0) {
            if (element.count > 0)
                HostLink::Warning(LineMessage(path, element.line,
                                              "element 'face' has no list 'vertex_indices'; "
                                              "its faces are ignored")
                                      .c_str());
            return;
        }
        const PlyProperty& list = element.properties[p];
        if (!list.isList || !IsInteger(list.type))
            throw FormatError(
                LineMessage(path, element.line,
                            "face property " + Quoted(list.name) + " is not a list of integers"));
        faceActions.assign(element.properties.size(), kSkip);
        faceActions[p] = kIndices;
        indexProperty = p;
        faceElement = index;
    }

    // ---- faces, either encoding --------------------------------------------------------

    // Adds the polygon in `corners` (indices already checked).
    void Emit()
    {
        const std::size_t n = corners.size();
        if (n < 3)
            ++degenerate;
        else if (n == 3)
            mesh.AddTriangle(corners[0], corners[1], corners[2]);
        else
            mesh.AddPolygon(corners.data(), n);
    }

    // ---- binary ---------------------------------------------------------------------

    [[noreturn]] void FailAt(const char* at, const std::string& what) const
    {
        throw FormatError(OffsetMessage(path, static_cast<std::uint64_t>(at - data), what));
    }

    // The file ends inside a record: thrown apart from other faults, so that a file cut
    // within its faces can keep those read whole.
    struct CutShort : FormatError {
        using FormatError::FormatError;
    };

    [[noreturn]] void Truncated(const char* at, const PlyElement& element,
                                std::uint64_t record) const
    {
        throw CutShort(OffsetMessage(path, static_cast<std::uint64_t>(at - data),
                                     "file ends inside record " + std::to_string(record) +
                                         " of element " + Quoted(element.name)));
    }

    std::uint64_t TrianglesRead() const { return ownFaces ? ownFaceCount : mesh.TriangleCount(); }

    // Reads the face element with `read`; if the file ends inside it, the faces read
    // whole are kept, with a warning (unless there are none, or `keep` says no), and
    // reading ends.
    template <class Read, class Keep>
    const char* KeepFacesIfCut(Read read, Keep keep)
    {
        try {
            return read();
        } catch (const CutShort& cut) {
            const std::uint64_t kept = TrianglesRead();
            if (kept == 0 || !keep())
                throw;
            HostLink::Warning(
                (std::string(cut.what()) + "; the " + std::to_string(kept) +
                 (kept == 1 ? " triangle before it is kept" : " triangles before it are kept"))
                    .c_str());
            faceCutShort = true;
            return end;
        }
    }

    void ReadBinary()
    {
        swap = header.format == PlyFormat::kBinaryBigEndian;
        const char* p = data + header.bodyOffset;
        const char* deferredFaces = nullptr;
        for (int i = 0; i < static_cast<int>(header.elements.size()) && !faceCutShort; ++i) {
            const PlyElement& element = header.elements[i];
            if (i == vertexElement) {
                p = BinaryVertices(element, p);
            } else if (i == faceElement) {
                if (vertexElement > i) {
                    // Faces before vertices: polygons need the positions, so come back.
                    deferredFaces = p;
                    p = SkipBinary(element, p);
                } else {
                    p = KeepFacesIfCut([&] { return BinaryFaces(element, p); },
                                       [] { return true; });
                }
            } else {
                p = SkipBinary(element, p);
            }
        }
        if (p != end)
            HostLink::Warning(
                OffsetMessage(path, static_cast<std::uint64_t>(p - data),
                              std::to_string(end - p) + " bytes after the last element ignored")
                    .c_str());
        if (deferredFaces)
            KeepFacesIfCut([&] { return BinaryFaces(header.elements[faceElement], deferredFaces); },
                           [] { return true; });
    }

    // The mesh of the arrays read outside the builder, with the bounds found on the way
    // (the builder would walk the vertices once more for them).
    std::unique_ptr<Mesh3d> OwnMesh()
    {
        if (vertexCount > 0xFFFFFFFFu || ownFaceCount > 0xFFFFFFFFu)
            throw FormatError(std::string(path) + ": more than 4294967295 vertices or faces");
        auto result = std::make_unique<Mesh3d>(mesh.Name().c_str(), Mesh3d::kFlat);
        result->vertexData = ownVertices.release();
        result->vertexCount = static_cast<std::uint32_t>(vertexCount);
        if (ownFaceCount) {
            // Give back what polygons or skipped records left unused.
            std::uint32_t* faces = ownFaces.release();
            if (void* q = std::realloc(faces, 16 * ownFaceCount))
                faces = static_cast<std::uint32_t*>(q);
            result->faceData = faces;
            result->faceCount = static_cast<std::uint32_t>(ownFaceCount);
        }
        for (int k = 0; k < 3; ++k) {
            result->min[k] = low[k];
            result->max[k] = high[k];
        }
        result->boundsEmpty = 0;
        return result;
    }

    // The builder takes the vertices read into our own array, for a path that adds
    // faces one by one.
    void HandOverVertices()
    {
        if (ownVertices)
            mesh.Adopt(ownVertices.release(), vertexCount, nullptr, 0);
    }

    const char* BinaryVertices(const PlyElement& element, const char* p)
    {
        const std::size_t stride = element.FixedBinarySize();
        if (stride == 0)
            return BinaryRecords(element, p, vertexActions);
        const std::uint64_t count = element.count;
        if (count > static_cast<std::uint64_t>(end - p) / stride)
            Truncated(p + (end - p) / stride * stride, element, (end - p) / stride);
        std::size_t offset[3];
        PlyType type[3];
        for (int k = 0; k < 3; ++k) {
            offset[k] = 0;
            for (int q = 0; q < coordinate[k]; ++q)
                offset[k] += SizeOf(element.properties[q].type);
            type[k] = element.properties[coordinate[k]].type;
        }
        const bool floats = !swap && type[0] == PlyType::kFloat32 && type[1] == PlyType::kFloat32 &&
                            type[2] == PlyType::kFloat32;
        if (floats && mesh.VertexCount() == 0 && mesh.TriangleCount() == 0)
            return FloatVertices(p, count, stride, offset);
        mesh.Reserve(count, 0);
        for (std::uint64_t r = 0; r < count; ++r, p += stride) {
            if ((r & 0xFFFF) == 0)
                meter.Update(static_cast<std::uint64_t>(p - data));
            double v[3];
            for (int k = 0; k < 3; ++k)
                v[k] = BinaryNumber(type[k], p + offset[k], swap);
            if (!(Sane(v[0]) && Sane(v[1]) && Sane(v[2]))) {
                const int k = !Sane(v[0]) ? 0 : !Sane(v[1]) ? 1 : 2;
                FailAt(p + offset[k], SaneText(v[k]));
            }
            mesh.AddVertex(v[0], v[1], v[2]);
        }
        return p;
    }

    // The common case, little-endian float x, y, z: converted in blocks straight into
    // the final array, checked once per block, then handed to the builder.
    const char* FloatVertices(const char* p, std::uint64_t count, std::size_t stride,
                              const std::size_t offset[3])
    {
        if (count == 0)
            return p; // no vertices, no mesh
        ownVertices.reset(static_cast<double*>(std::malloc(24 * count)));
        float lowF[3], highF[3];
        for (int k = 0; k < 3; ++k) {
            std::memcpy(&lowF[k], p + offset[k], 4);
            highF[k] = lowF[k];
        }
        double* out = ownVertices.get();
        if (!out)
            throw std::bad_alloc();
        constexpr std::uint64_t kBlock = 1 << 16;
        for (std::uint64_t first = 0; first < count; first += kBlock) {
            meter.Update(static_cast<std::uint64_t>(p - data));
            const std::uint64_t last = std::min(count, first + kBlock);
            const char* block = p;
            bool sane = true;
            for (std::uint64_t r = first; r < last; ++r, p += stride) {
                for (int k = 0; k < 3; ++k) {
                    float f;
                    std::memcpy(&f, p + offset[k], 4);
                    sane &= std::fabs(f) <= static_cast<float>(kMaxCoordinate);
                    out[3 * r + k] = f;
                    lowF[k] = f < lowF[k] ? f : lowF[k];
                    highF[k] = f > highF[k] ? f : highF[k];
                }
            }
            if (!sane) {
                for (const char* q = block;; q += stride)
                    for (int k = 0; k < 3; ++k) {
                        float f;
                        std::memcpy(&f, q + offset[k], 4);
                        if (!Sane(f))
                            FailAt(q + offset[k], SaneText(f));
                    }
            }
        }
        for (int k = 0; k < 3; ++k) {
            low[k] = lowF[k];
            high[k] = highF[k];
        }
        return p;
    }

    const char* BinaryFaces(const PlyElement& element, const char* p)
    {
        const PlyProperty& list = element.properties[indexProperty];
        const std::size_t itemSize = SizeOf(list.type);
        const std::uint64_t fits =
            std::min<std::uint64_t>(element.count, static_cast<std::uint64_t>(end - p) /
                                                       (SizeOf(list.countType) + 3 * itemSize));
        // The common layout: a uchar count and 32-bit indices first, fixed-size
        // properties after them.
        std::size_t trailing = 0;
        bool fast = !swap && indexProperty == 0 && list.countType == PlyType::kUInt8 &&
                    (list.type == PlyType::kUInt32 ||
                     (list.type == PlyType::kInt32 && vertexCount <= 0x80000000u));
        for (std::size_t q = 1; q < element.properties.size(); ++q) {
            fast = fast && !element.properties[q].isList;
            trailing += SizeOf(element.properties[q].type);
        }
        if (fast && ownVertices)
            return OwnFaces(element, p, trailing, list.type == PlyType::kInt32, fits);
        HandOverVertices();
        mesh.Reserve(0, fits);
        for (std::uint64_t r = 0; r < element.count; ++r) {
            if ((r & 0xFFFF) == 0)
                meter.Update(static_cast<std::uint64_t>(p - data));
            if (fast && p != end && static_cast<unsigned char>(*p) == 3 &&
                end - p >= static_cast<std::ptrdiff_t>(13 + trailing)) {
                std::uint32_t v[3];
                std::memcpy(v, p + 1, 12);
                // Negative int32 indices read as huge unsigned ones and fail here too.
                if (v[0] >= vertexCount || v[1] >= vertexCount || v[2] >= vertexCount) {
                    const int k = v[0] >= vertexCount ? 0 : v[1] >= vertexCount ? 1 : 2;
                    BadIndex(p + 1 + 4 * k, list.type == PlyType::kInt32
                                                ? std::int64_t(std::int32_t(v[k]))
                                                : std::int64_t(v[k]));
                }
                mesh.AddTriangle(v[0], v[1], v[2]);
                p += 13 + trailing;
                continue;
            }
            p = BinaryRecord(element, p, faceActions, r);
        }
        return p;
    }

    // The common layout (uchar count, 32-bit indices first, fixed-size properties after
    // them) written straight into our own face array; the vertices are ours too, so
    // polygons are split against them.
    const char* OwnFaces(const PlyElement& element, const char* p, std::size_t trailing,
                         bool signedIndex, std::uint64_t fits)
    {
        std::size_t capacity = static_cast<std::size_t>(std::max<std::uint64_t>(fits, 1));
        ownFaces.reset(static_cast<std::uint32_t*>(std::malloc(16 * capacity)));
        if (!ownFaces)
            throw std::bad_alloc();
        std::uint32_t* faces = ownFaces.get();
        std::size_t n = 0;
        const std::uint64_t limit = vertexCount;
        const std::size_t record = 13 + trailing;
        for (std::uint64_t r = 0; r < element.count; ++r) {
            if ((r & 0xFFFF) == 0)
                meter.Update(static_cast<std::uint64_t>(p - data));
            const std::size_t left = static_cast<std::size_t>(end - p);
            if (left >= record && static_cast<unsigned char>(*p) == 3 && n < capacity) {
                std::uint32_t v[3];
                std::memcpy(v, p + 1, 12);
                // Negative int32 indices read as huge unsigned ones and fail here too.
                if (v[0] >= limit || v[1] >= limit || v[2] >= limit) {
                    const int k = v[0] >= limit ? 0 : v[1] >= limit ? 1 : 2;
                    BadIndex(p + 1 + 4 * k,
                             signedIndex ? std::int64_t(std::int32_t(v[k])) : std::int64_t(v[k]));
                }
                std::uint32_t* f = faces + 4 * n++;
                f[0] = v[0];
                f[1] = v[1];
                f[2] = v[2];
                f[3] = 0;
                p += record;
                continue;
            }
            // Any other corner count, a full array, or the end of the data.
            const std::size_t corners = left == 0 ? 0 : static_cast<unsigned char>(*p);
            if (left == 0 || left < 1 + 4 * corners + trailing) {
                ownFaceCount = n; // the faces before the cut can be kept
                Truncated(p, element, r);
            }
            polygon.clear();
            for (std::size_t k = 0; k < corners; ++k) {
                std::uint32_t index;
                std::memcpy(&index, p + 1 + 4 * k, 4);
                if (index >= limit)
                    BadIndex(p + 1 + 4 * k,
                             signedIndex ? std::int64_t(std::int32_t(index)) : std::int64_t(index));
                polygon.push_back(index);
            }
            triangles.clear();
            if (corners < 3)
                ++degenerate;
            else if (corners == 3)
                triangles.assign(polygon.begin(), polygon.end());
            else
                TriangulatePolygon(ownVertices.get(), polygon.data(), corners, triangles);
            const std::size_t more = triangles.size() / 3;
            if (n + more > capacity) {
                capacity = std::max(capacity + capacity / 2 + 64, n + more);
                auto* bigger = static_cast<std::uint32_t*>(std::realloc(faces, 16 * capacity));
                if (!bigger)
                    throw std::bad_alloc();
                ownFaces.release();
                ownFaces.reset(bigger);
                faces = bigger;
            }
            for (std::size_t t = 0; t < more; ++t) {
                std::uint32_t* f = faces + 4 * n++;
                f[0] = triangles[3 * t];
                f[1] = triangles[3 * t + 1];
                f[2] = triangles[3 * t + 2];
                f[3] = 0;
            }
            p += 1 + 4 * corners + trailing;
        }
        ownFaceCount = n;
        return p;
    }

    [[noreturn]] void BadIndex(const char* at, std::int64_t index) const
    {
        FailAt(at, "vertex index " + std::to_string(index) + " is outside 0.." +
                       std::to_string(static_cast<std::int64_t>(vertexCount) - 1));
    }

    // One record of any layout; applies `actions` (coordinates or face indices).
    const char* BinaryRecord(const PlyElement& element, const char* p,
                             const std::vector<Action>& actions, std::uint64_t record)
    {
        double v[3] = {0, 0, 0};
        for (std::size_t q = 0; q < element.properties.size(); ++q) {
            const PlyProperty& property = element.properties[q];
            const Action action = actions.empty() ? kSkip : actions[q];
            if (!property.isList) {
                const std::size_t n = SizeOf(property.type);
                if (static_cast<std::size_t>(end - p) < n)
                    Truncated(p, element, record);
                if (action >= kX && action <= kZ) {
                    v[action - kX] = BinaryNumber(property.type, p, swap);
                    if (!Sane(v[action - kX]))
                        FailAt(p, SaneText(v[action - kX]));
                }
                p += n;
                continue;
            }
            const std::size_t countSize = SizeOf(property.countType);
            if (static_cast<std::size_t>(end - p) < countSize)
                Truncated(p, element, record);
            const std::int64_t count = BinaryInteger(property.countType, p, swap);
            const std::size_t itemSize = SizeOf(property.type);
            if (count < 0)
                FailAt(p, "negative list length " + std::to_string(count));
            p += countSize;
            // In 64 bits and against the bytes left: a count of 2^32 - 1 is refused here.
            if (static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(end - p) / itemSize)
                throw CutShort(OffsetMessage(path, static_cast<std::uint64_t>(p - countSize - data),
                                             "list of " + std::to_string(count) +
                                                 " items runs past the end of the file"));
            if (action == kIndices) {
                corners.clear();
                for (std::int64_t i = 0; i < count; ++i, p += itemSize) {
                    const std::int64_t index = BinaryInteger(property.type, p, swap);
                    if (index < 0 || static_cast<std::uint64_t>(index) >= vertexCount)
                        BadIndex(p, index);
                    corners.push_back(static_cast<std::uint32_t>(index));
                }
                Emit();
            } else {
                p += static_cast<std::size_t>(count) * itemSize;
            }
        }
        if (!actions.empty() && &actions == &vertexActions)
            mesh.AddVertex(v[0], v[1], v[2]);
        return p;
    }

    const char* BinaryRecords(const PlyElement& element, const char* p,
                              const std::vector<Action>& actions)
    {
        for (std::uint64_t r = 0; r < element.count; ++r) {
            if ((r & 0xFFFF) == 0)
                meter.Update(static_cast<std::uint64_t>(p - data));
            p = BinaryRecord(element, p, actions, r);
        }
        return p;
    }

    const char* SkipBinary(const PlyElement& element, const char* p)
    {
        const std::size_t stride = element.FixedBinarySize();
        if (stride == 0 && !element.properties.empty())
            return BinaryRecords(element, p, noActions);
        if (stride == 0)
            return p; // records without properties take no bytes
        if (element.count > static_cast<std::uint64_t>(end - p) / stride)
            Truncated(p + (end - p) / stride * stride, element, (end - p) / stride);
        return p + element.count * stride;
    }

    // ---- ASCII ----------------------------------------------------------------------

    [[noreturn]] void FailLine(const std::string& what) const
    {
        throw FormatError(LineMessage(path, line, what));
    }

    // Skips blanks and line ends; false at the end of the file.
    bool NextToken() noexcept
    {
        while (p != end) {
            const char c = *p;
            if (c == '\n')
                ++line;
            else if (!IsBlank(c))
                return true;
            ++p;
        }
        return false;
    }

    void NeedToken(const PlyElement& element, std::uint64_t record)
    {
        if (!NextToken())
            throw CutShort(LineMessage(path, line,
                                       "file ends inside record " + std::to_string(record) +
                                           " of element " + Quoted(element.name)));
    }

    std::string TokenText() const
    {
        const char* q = p;
        while (q != end && !IsSpace(*q))
            ++q;
        return Printable(p, q);
    }

    void SkipToken() noexcept
    {
        while (p != end && !IsSpace(*p))
            ++p;
    }

    void EndOfNumber(const char* after)
    {
        if (after != end && !IsSpace(*after))
            FailLine("malformed number '" + TokenText() + "'");
        p = after;
    }

    double AsciiCoordinate(PlyType type)
    {
        const char* q = p;
        if (*q == '+' && end - q > 1 && q[1] != '-' && q[1] != '+')
            ++q;
        double value;
        const char* after;
        if (type == PlyType::kFloat32) {
            // A float property holds a float: read it as one, as its binary twin would be.
            float f;
            const auto r = fast_float::from_chars(q, end, f);
            if (r.ptr == q || r.ec == std::errc::invalid_argument)
                FailLine("expected a number, found '" + TokenText() + "'");
            value = f; // overflow gives an infinity, refused below
            after = r.ptr;
        } else {
            NumberError error = NumberError::kNone;
            after = ParseCoordinate(q, end, value, error);
            if (!after)
                FailLine(std::string(NumberErrorText(error)) + " ('" + TokenText() + "')");
        }
        if (!Sane(value))
            FailLine(std::string(SaneText(value)) + " ('" + TokenText() + "')");
        EndOfNumber(after);
        return value;
    }

    std::int64_t AsciiInteger()
    {
        std::int64_t value = 0;
        const char* after = ParseInteger(p, end, value);
        if (!after || (after != end && !IsSpace(*after)))
            FailLine("expected an integer, found '" + TokenText() + "'");
        p = after;
        return value;
    }

    void AsciiRecord(const PlyElement& element, const std::vector<Action>& actions,
                     std::uint64_t record)
    {
        double v[3] = {0, 0, 0};
        for (std::size_t q = 0; q < element.properties.size(); ++q) {
            const PlyProperty& property = element.properties[q];
            const Action action = actions.empty() ? kSkip : actions[q];
            NeedToken(element, record);
            if (!property.isList) {
                if (action >= kX && action <= kZ)
                    v[action - kX] = AsciiCoordinate(property.type);
                else
                    SkipToken();
                continue;
            }
            const std::size_t countLine = line;
            const std::int64_t count = AsciiInteger();
            // Each item takes at least two bytes: no loop runs longer than the file.
            if (count < 0)
                throw FormatError(
                    LineMessage(path, countLine,
                                "list length " + std::to_string(count) + " is impossible here"));
            if (static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(end - p))
                throw CutShort(LineMessage(path, countLine,
                                           "list length " + std::to_string(count) +
                                               " is impossible here: the file ends first"));
            if (action == kIndices)
                corners.clear();
            for (std::int64_t i = 0; i < count; ++i) {
                NeedToken(element, record);
                if (action != kIndices) {
                    SkipToken();
                    continue;
                }
                const std::int64_t index = AsciiInteger();
                if (index < 0 || static_cast<std::uint64_t>(index) >= vertexCount)
                    FailLine("vertex index " + std::to_string(index) + " is outside 0.." +
                             std::to_string(static_cast<std::int64_t>(vertexCount) - 1));
                corners.push_back(static_cast<std::uint32_t>(index));
            }
            if (action == kIndices)
                Emit();
        }
        if (&actions == &vertexActions)
            mesh.AddVertex(v[0], v[1], v[2]);
    }

    void AsciiElement(const PlyElement& element, const std::vector<Action>& actions)
    {
        if (element.properties.empty())
            return;
        if (&actions == &vertexActions)
            mesh.Reserve(element.count, 0);
        const bool onlyIndices = &actions == &faceActions && element.properties.size() == 1;
        if (onlyIndices)
            mesh.Reserve(
                0, std::min<std::uint64_t>(element.count, static_cast<std::uint64_t>(end - p) / 8));
        for (std::uint64_t r = 0; r < element.count; ++r) {
            if ((r & 0x3FFF) == 0)
                meter.Update(static_cast<std::uint64_t>(p - data));
            if (onlyIndices && AsciiTriangle())
                continue;
            AsciiRecord(element, actions, r);
        }
    }

    // Reads digits at p as an unsigned number; nullptr when there are none, when the
    // number is not followed by a blank or the end, or when it exceeds 32 bits.
    const char* Digits(const char* q, std::uint64_t& value) const noexcept
    {
        if (q == end || *q < '0' || *q > '9')
            return nullptr;
        std::uint64_t v = 0;
        do {
            v = v * 10 + static_cast<unsigned>(*q - '0');
            if (v > 0xFFFFFFFFu)
                return nullptr;
        } while (++q != end && *q >= '0' && *q <= '9');
        if (q != end && !IsSpace(*q))
            return nullptr;
        value = v;
        return q;
    }

    // The common face record "3 a b c" on one line, with valid indices. Anything else
    // (or any fault) leaves the position unchanged and returns false, for the general
    // reader to handle and report.
    bool AsciiTriangle()
    {
        const char* q = p;
        while (q != end && IsBlank(*q))
            ++q;
        std::size_t lines = 0;
        if (q != end && *q == '\n') {
            ++lines;
            while (++q != end && IsBlank(*q)) {
            }
        }
        std::uint64_t n = 0;
        q = Digits(q, n);
        if (!q || n != 3)
            return false;
        std::uint64_t v[3];
        for (std::uint64_t& index : v) {
            while (q != end && IsBlank(*q))
                ++q;
            q = Digits(q, index);
            if (!q || index >= vertexCount)
                return false;
        }
        mesh.AddTriangle(static_cast<std::uint32_t>(v[0]), static_cast<std::uint32_t>(v[1]),
                         static_cast<std::uint32_t>(v[2]));
        p = q;
        line += lines;
        return true;
    }

    void ReadAscii()
    {
        // Values missing from or added to a record shift every later one, and the fault
        // shows far from its cause: name the first line that does not fit its record.
        std::size_t misfit = 0;
        try {
            ReadAsciiBody();
        } catch (const FormatError& e) {
            // A fault on the misfit line itself explains itself, unless the file seemed to
            // end there.
            const bool cut = dynamic_cast<const CutShort*>(&e) != nullptr;
            const std::string hint = FirstMisfitRecord(misfit);
            if (hint.empty() || misfit > line || (misfit == line && !cut))
                throw;
            throw FormatError(std::string(e.what()) + "; line " + std::to_string(misfit) + " " +
                              hint);
        }
        // Shifted values may also read without an error, leaving these traces.
        if ((textAfterLastElement || degenerate) && !faceCutShort) {
            const std::string hint = FirstMisfitRecord(misfit);
            if (!hint.empty())
                HostLink::Warning(
                    LineMessage(path, misfit,
                                "this line " + hint + ", so the values after it may be misread")
                        .c_str());
        }
    }

    // Writers put each ASCII record on a line of its own. What is wrong with the first line
    // whose number of values differs from what its record needs ("holds ... needs ..."),
    // with its number in `at`; "" when every line fits (or a list length cannot be read,
    // which the reader reports).
    std::string FirstMisfitRecord(std::size_t& at) const
    {
        const char* after = nullptr;
        return FirstMisfitRecord(at, after);
    }

    // The same, with where the misfit line ends (past its line feed) in `after`.
    std::string FirstMisfitRecord(std::size_t& at, const char*& after) const
    {
        // The next value of [t, lineEnd), or an empty view at the line's end.
        const auto nextValue = [](const char*& t, const char* lineEnd) {
            while (t != lineEnd && IsBlank(*t))
                ++t;
            const char* start = t;
            while (t != lineEnd && !IsBlank(*t))
                ++t;
            return std::string_view(start, static_cast<std::size_t>(t - start));
        };
        const char* q = data + header.bodyOffset;
        std::size_t lineNumber = header.bodyLine;
        for (const PlyElement& element : header.elements) {
            if (element.properties.empty())
                continue;
            for (std::uint64_t r = 0; r < element.count; ++r) {
                const char* t = q;
                const char* lineEnd = q;
                do { // blank lines hold no record
                    if (q == end)
                        return {};
                    lineEnd = static_cast<const char*>(
                        std::memchr(q, '\n', static_cast<std::size_t>(end - q)));
                    if (!lineEnd)
                        lineEnd = end;
                    t = q;
                    q = lineEnd == end ? end : lineEnd + 1;
                    ++lineNumber;
                } while (SkipBlanks(t, lineEnd) == lineEnd);
                // Walked value by value, never stored: a line may be the whole file.
                std::uint64_t needed = 0, held = 0;
                bool exact = true; // false once a list length is missing
                for (const PlyProperty& property : element.properties) {
                    std::uint64_t items = 1;
                    if (property.isList) {
                        const std::string_view count = nextValue(t, lineEnd);
                        if (count.empty()) {
                            exact = false;
                            break;
                        }
                        std::int64_t n = 0;
                        if (ParseInteger(count.data(), count.data() + count.size(), n) !=
                                count.data() + count.size() ||
                            n < 0)
                            return {};
                        ++needed, ++held;
                        items = static_cast<std::uint64_t>(n);
                    }
                    needed += items;
                    for (std::uint64_t k = 0; k < items && !nextValue(t, lineEnd).empty(); ++k)
                        ++held;
                }
                while (!nextValue(t, lineEnd).empty())
                    ++held;
                if (needed != held) {
                    at = lineNumber - 1;
                    after = q;
                    return "holds " + std::to_string(held) + " values where record " +
                           std::to_string(r) + " of element " + Quoted(element.name) + " needs " +
                           (exact ? "" : "at least ") + std::to_string(needed);
                }
            }
        }
        return {};
    }

    // A text file cut short has its last line short; one whose values shifted earlier
    // only ends like one, and is better refused with the line that shifted them.
    bool AsciiCutIsTheOnlyMisfit() const
    {
        std::size_t misfit = 0;
        const char* after = nullptr;
        if (FirstMisfitRecord(misfit, after).empty())
            return true;
        while (after != end && IsSpace(*after))
            ++after;
        return after == end; // the misfit is the last line, where the file was cut
    }

    void ReadAsciiBody()
    {
        p = data + header.bodyOffset;
        line = header.bodyLine;
        const char* deferredFaces = nullptr;
        std::size_t deferredLine = 0;
        for (int i = 0; i < static_cast<int>(header.elements.size()) && !faceCutShort; ++i) {
            const PlyElement& element = header.elements[i];
            if (i == vertexElement) {
                AsciiElement(element, vertexActions);
            } else if (i == faceElement && vertexElement < i) {
                KeepFacesIfCut(
                    [&] {
                        AsciiElement(element, faceActions);
                        return p;
                    },
                    [&] { return AsciiCutIsTheOnlyMisfit(); });
            } else {
                if (i == faceElement) {
                    deferredFaces = p;
                    deferredLine = line;
                }
                AsciiElement(element, noActions);
            }
        }
        if (NextToken()) {
            HostLink::Warning(
                LineMessage(path, line, "text after the last element ignored").c_str());
            textAfterLastElement = true;
        }
        if (deferredFaces) {
            p = deferredFaces;
            line = deferredLine;
            KeepFacesIfCut(
                [&] {
                    AsciiElement(header.elements[faceElement], faceActions);
                    return p;
                },
                [&] { return AsciiCutIsTheOnlyMisfit(); });
        }
    }

    const char* data;
    const char* end;
    std::string_view path;
    const PlyHeader& header;
    MeshBuilder mesh;
    ProgressMeter meter;

    int vertexElement = -1;
    int faceElement = -1;
    int coordinate[3] = {0, 0, 0};
    int indexProperty = -1;
    std::vector<Action> vertexActions, faceActions;
    const std::vector<Action> noActions;
    std::uint64_t vertexCount = 0;
    std::uint64_t degenerate = 0;
    bool textAfterLastElement = false;
    bool faceCutShort = false;
    std::vector<std::uint32_t> corners;
    bool swap = false;

    // Arrays of the common binary layout, read outside the builder and handed to it
    // once complete.
    struct FreeDeleter {
        void operator()(void* block) const noexcept { std::free(block); }
    };
    std::unique_ptr<double, FreeDeleter> ownVertices;
    std::unique_ptr<std::uint32_t, FreeDeleter> ownFaces;
    std::size_t ownFaceCount = 0;
    double low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
    std::vector<std::uint32_t> polygon, triangles;

    // ASCII position
    const char* p = nullptr;
    std::size_t line = 1;
};

} // namespace

void ReadPly(const char* data, std::size_t size, std::string_view path,
             std::vector<std::unique_ptr<Mesh3d>>& meshes)
{
    const PlyHeader header = ParsePlyHeader(data, size, path);
    Reader(data, size, path, header).Read(meshes);
}

} // namespace polyvant::formats::ply
