#pragma once
// Reading DXF text in the tests: every read gets a buffer of exactly the file's size,
// so a read past the end is caught by ASan; results come back as finished meshes.
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <polyvant/Obj3d.h>

#include "dxf/DxfReader.h"

namespace polyvant::formats::test {

struct DxfRead {
    bool ok = false;
    std::vector<std::unique_ptr<Mesh3d>> meshes;
    std::vector<std::string> warnings;
    std::string error;

    std::size_t Triangles() const
    {
        std::size_t n = 0;
        for (const auto& m : meshes)
            n += m->faceCount;
        return n;
    }
    const Mesh3d* Layer(const std::string& name) const
    {
        for (const auto& m : meshes)
            if (name == m->name)
                return m.get();
        return nullptr;
    }
};

inline DxfRead ReadDxfText(const std::string& text, const dxf::DxfLimits& limits = {})
{
    std::unique_ptr<char[]> copy(new char[text.size() ? text.size() : 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    dxf::DxfResult result;
    DxfRead read;
    read.ok = dxf::ReadDxf(copy.get(), text.size(), result, limits);
    for (auto& builder : result.meshes)
        read.meshes.emplace_back(builder.Finish());
    read.warnings = std::move(result.warnings);
    read.error = std::move(result.error);
    return read;
}

// DXF text from (code, value) pairs.
inline std::string Pairs(std::initializer_list<std::pair<int, std::string>> pairs)
{
    std::string text;
    for (const auto& [code, value] : pairs)
        text += std::to_string(code) + "\n" + value + "\n";
    return text;
}

inline std::string Section(const std::string& name, const std::string& body)
{
    return Pairs({{0, "SECTION"}, {2, name}}) + body + Pairs({{0, "ENDSEC"}});
}

inline std::string Drawing(const std::string& entities, const std::string& blocks = "")
{
    return (blocks.empty() ? "" : Section("BLOCKS", blocks)) + Section("ENTITIES", entities) +
           Pairs({{0, "EOF"}});
}

// A 3DFACE with the given corners (x y z each), 3 or 4 of them.
inline std::string Face(const std::string& layer, std::initializer_list<double> xyz)
{
    std::string text = Pairs({{0, "3DFACE"}, {8, layer}});
    int i = 0;
    for (double v : xyz) {
        const int corner = i / 3, axis = i % 3;
        text += std::to_string(10 * (axis + 1) + corner) + "\n" + std::to_string(v) + "\n";
        ++i;
    }
    return text;
}

} // namespace polyvant::formats::test
