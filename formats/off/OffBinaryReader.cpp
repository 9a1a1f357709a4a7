#include "off/OffBinaryReader.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/MeshBuilder.h"
#include "common/PluginSupport.h"
#include "common/TextScan.h"
#include "off/OffMeshEnd.h"

namespace polyvant::formats::off {

namespace {

class BinaryScanner {
public:
    BinaryScanner(const char* data, std::size_t size, std::size_t at, const std::string& file)
        : begin(data), p(data + at), end(data + size), path(file)
    {
    }

    std::size_t Offset() const { return static_cast<std::size_t>(p - begin); }
    std::size_t Left() const { return static_cast<std::size_t>(end - p); }

    // False at the end of the file.
    bool Int(std::int64_t& out)
    {
        std::uint32_t bits;
        if (!Take(bits))
            return false;
        out = static_cast<std::int32_t>(bits);
        return true;
    }

    bool Float(double& out)
    {
        std::uint32_t bits;
        if (!Take(bits))
            return false;
        float f;
        std::memcpy(&f, &bits, 4);
        out = f;
        return true;
    }

    std::int64_t RequireInt(const char* what)
    {
        std::int64_t v = 0;
        if (!Int(v))
            Fail(std::string("the file ends before ") + what);
        return v;
    }

    double RequireCoordinate(const char* what)
    {
        const std::size_t at = Offset();
        double v = 0;
        if (!Float(v))
            Fail(std::string("the file ends before ") + what);
        if (!std::isfinite(v) || std::fabs(v) > kMaxCoordinate)
            Fail(at, std::isfinite(v) ? "coordinate is too large (beyond 1e30)"
                                      : "coordinate is not a finite number");
        return v;
    }

    void Skip(std::uint64_t values) { p += std::min<std::uint64_t>(values * 4, Left()); }

    [[noreturn]] void Fail(const std::string& what) const { Fail(Offset(), what); }
    [[noreturn]] void Fail(std::size_t at, const std::string& what) const
    {
        throw FormatError(OffsetMessage(path, at, what));
    }

private:
    bool Take(std::uint32_t& out)
    {
        if (Left() < 4)
            return false;
        std::uint32_t big;
        std::memcpy(&big, p, 4);
        out = __builtin_bswap32(big);
        p += 4;
        return true;
    }

    const char* begin;
    const char* p;
    const char* end;
    const std::string& path;
};

} // namespace

void ReadBinaryOff(const char* data, std::size_t size, std::size_t body,
                   const OffVertexLayout& layout, const std::string& path,
                   const std::string& baseName, std::vector<std::unique_ptr<Mesh3d>>& meshes,
                   ProgressMeter* progress)
{
    BinaryScanner s(data, size, body, path);
    if (layout.dimensioned) {
        const std::size_t at = s.Offset();
        const std::int64_t dimensions = s.RequireInt("the number of dimensions");
        if (dimensions != 3)
            s.Fail(at, "only 3-dimensional OFF files are supported; this one gives " +
                           std::to_string(dimensions) + " dimensions");
    }
    const std::size_t countsAt = s.Offset();
    const std::int64_t vertexCount = s.RequireInt("the vertex count");
    const std::int64_t faceCount = s.RequireInt("the face count");
    s.RequireInt("the edge count");
    const std::uint64_t extra = (layout.homogeneous ? 1 : 0) + (layout.normal ? 3 : 0) +
                                (layout.colour ? 4 : 0) + (layout.textureCoordinates ? 2 : 0);
    const std::uint64_t vertexBytes = 4 * (3 + extra);
    // The smallest face: its corner count and its colour count.
    if (vertexCount < 0 || faceCount < 0 ||
        static_cast<std::uint64_t>(vertexCount) > s.Left() / vertexBytes ||
        static_cast<std::uint64_t>(faceCount) >
            (s.Left() - static_cast<std::uint64_t>(vertexCount) * vertexBytes) / 8)
        s.Fail(countsAt, "the header declares " + std::to_string(vertexCount) + " vertices and " +
                             std::to_string(faceCount) + " faces, more than the file can hold");

    MeshBuilder builder(baseName);
    builder.Reserve(static_cast<std::size_t>(vertexCount), static_cast<std::size_t>(faceCount));
    for (std::int64_t i = 0; i < vertexCount; ++i) {
        if (progress && (i & 0xFFFF) == 0)
            progress->Update(s.Offset());
        const std::size_t at = s.Offset();
        double xyz[3];
        for (double& v : xyz)
            v = s.RequireCoordinate("a vertex coordinate");
        if (layout.homogeneous) {
            const double w = s.RequireCoordinate("the homogeneous coordinate w");
            for (double& v : xyz)
                v /= w;
            if (!(std::fabs(xyz[0]) <= kMaxCoordinate && std::fabs(xyz[1]) <= kMaxCoordinate &&
                  std::fabs(xyz[2]) <= kMaxCoordinate))
                s.Fail(at, w == 0 ? "a vertex at infinity (w is 0)"
                                  : "a vertex divided by its w is too large (beyond 1e30)");
            s.Skip(extra - 1);
        } else {
            s.Skip(extra);
        }
        builder.AddVertex(xyz[0], xyz[1], xyz[2]);
    }

    std::vector<std::uint32_t> corners;
    std::uint64_t badFaces = 0;
    std::size_t firstBadAt = 0;
    std::string firstBadWhy, truncated;
    for (std::int64_t f = 0; f < faceCount && truncated.empty(); ++f) {
        if (progress && (f & 0xFFFF) == 0)
            progress->Update(s.Offset());
        const std::size_t faceAt = s.Offset();
        std::int64_t n = 0;
        if (!s.Int(n)) {
            truncated = "the file ends after " + std::to_string(f) + " of " +
                        std::to_string(faceCount) + " faces";
            break;
        }
        if (n < 0)
            s.Fail(faceAt, "a face of " + std::to_string(n) + " corners");
        if (static_cast<std::uint64_t>(n) > s.Left() / 4) {
            truncated = "the file ends within face " + std::to_string(f + 1) + " of " +
                        std::to_string(faceCount);
            break;
        }
        corners.clear();
        std::string why;
        for (std::int64_t k = 0; k < n; ++k) {
            std::int64_t index = 0;
            s.Int(index); // there are n values left: checked above
            if ((index < 0 || index >= vertexCount) && why.empty())
                why = "vertex index " + std::to_string(index) + " with " +
                      std::to_string(vertexCount) + " vertices";
            corners.push_back(static_cast<std::uint32_t>(index));
        }
        std::int64_t colours = 0;
        if (!s.Int(colours)) {
            truncated = "the file ends within face " + std::to_string(f + 1) + " of " +
                        std::to_string(faceCount);
        } else if (colours < 0 || colours > 4) {
            s.Fail(s.Offset() - 4,
                   "a face colour of " + std::to_string(colours) + " values; 0 to 4 are possible");
        } else if (static_cast<std::uint64_t>(colours) * 4 > s.Left()) {
            truncated = "the file ends within face " + std::to_string(f + 1) + " of " +
                        std::to_string(faceCount);
        }
        s.Skip(static_cast<std::uint64_t>(colours));
        if (why.empty() && n < 3)
            why = "a face needs at least three corners";
        if (!why.empty()) {
            if (badFaces++ == 0) {
                firstBadAt = faceAt;
                firstBadWhy = why;
            }
            continue;
        }
        builder.AddPolygon(corners.data(), corners.size());
    }

    FinishOffMesh(builder, path, badFaces, OffsetMessage(path, firstBadAt, firstBadWhy),
                  truncated.empty()
                      ? std::string()
                      : OffsetMessage(path, s.Offset(), truncated + "; the faces read are kept"),
                  meshes);
}

} // namespace polyvant::formats::off
