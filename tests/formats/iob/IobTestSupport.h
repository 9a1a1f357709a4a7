#pragma once
// Imagine object files built byte by byte from the format description (big-endian IFF,
// 16.16 fixed point), and reading them through a buffer of exactly their size.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>

#include "iob/IobReader.h"

namespace polyvant::formats::test {

inline std::string Be32(std::uint32_t v)
{
    return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
inline std::string Be16(std::uint32_t v)
{
    return {char(v >> 8), char(v)};
}
inline std::string Fract(double v)
{
    return Be32(static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(v * 65536))));
}

// A chunk with its length and, after an odd length, the pad byte.
inline std::string Chunk(const std::string& id, const std::string& data, bool pad = true)
{
    return id + Be32(static_cast<std::uint32_t>(data.size())) + data +
           (pad && data.size() % 2 ? std::string(1, '\0') : std::string());
}

inline std::string Form(const std::string& chunks)
{
    return "FORM" + Be32(static_cast<std::uint32_t>(4 + chunks.size())) + "TDDD" + chunks;
}

using Point = std::array<double, 3>;
using Pair = std::array<std::uint32_t, 2>;
using Triple = std::array<std::uint32_t, 3>;

inline std::string Points(const std::vector<Point>& points, bool wide = false)
{
    std::string data =
        wide ? Be32(std::uint32_t(points.size())) : Be16(std::uint32_t(points.size()));
    for (const Point& p : points)
        data += Fract(p[0]) + Fract(p[1]) + Fract(p[2]);
    return Chunk(wide ? "PNT2" : "PNTS", data);
}
inline std::string Edges(const std::vector<Pair>& edges, bool wide = false)
{
    std::string data = wide ? Be32(std::uint32_t(edges.size())) : Be16(std::uint32_t(edges.size()));
    for (const Pair& e : edges)
        for (std::uint32_t v : e)
            data += wide ? Be32(v) : Be16(v);
    return Chunk(wide ? "EDG2" : "EDGE", data);
}
inline std::string Faces(const std::vector<Triple>& faces, bool wide = false)
{
    std::string data = wide ? Be32(std::uint32_t(faces.size())) : Be16(std::uint32_t(faces.size()));
    for (const Triple& f : faces)
        for (std::uint32_t e : f)
            data += wide ? Be32(e) : Be16(e);
    return Chunk(wide ? "FAC2" : "FACE", data);
}
inline std::string Name(const std::string& name)
{
    std::string data = name.substr(0, 18);
    data.resize(18, '\0');
    return Chunk("NAME", data);
}
inline std::string Desc(const std::string& body)
{
    return Chunk("DESC", body);
}
inline std::string Tobj()
{
    return Chunk("TOBJ", "");
}

// The unit square in z = 0 as two triangles: points 0..3, edges 0-1 1-2 2-0 2-3 3-0.
inline std::string SquareBody(const std::string& name, bool wide = false)
{
    return Name(name) + Points({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, wide) +
           Edges({{0, 1}, {1, 2}, {2, 0}, {2, 3}, {3, 0}}, wide) +
           Faces({{0, 1, 2}, {2, 3, 4}}, wide);
}

struct IobRead {
    bool ok = false;
    std::vector<std::unique_ptr<Mesh3d>> meshes;
    std::vector<std::string> warnings;
    std::string error;
    std::size_t objects = 0;
};

inline IobRead ReadIobBytes(const std::string& bytes)
{
    std::unique_ptr<char[]> copy(new char[bytes.size() ? bytes.size() : 1]);
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    iob::IobResult result;
    IobRead read;
    read.ok = iob::ReadIob(copy.get(), bytes.size(), result);
    for (auto& builder : result.meshes)
        read.meshes.emplace_back(builder.Finish());
    read.warnings = std::move(result.warnings);
    read.error = std::move(result.error);
    read.objects = result.objects;
    return read;
}

} // namespace polyvant::formats::test
