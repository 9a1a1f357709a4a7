#pragma once
#include <cstddef>
#include <cstdint>

// Chunk ids of the 3D Studio editor data that the reader and writer use.
namespace polyvant::formats::tds {

constexpr std::size_t kChunkHeader = 6;     // u16 id, u32 length (header included)
constexpr std::size_t kFaceRecord = 8;      // u16 a, b, c, flags
constexpr std::size_t kMaxElements = 65535; // 16-bit counts and indices
constexpr std::size_t kMaxName = 10;        // object names as DOS-era programs keep them

constexpr std::uint16_t kMain = 0x4D4D;
constexpr std::uint16_t kProject = 0xC23D;
constexpr std::uint16_t kVersion = 0x0002;
constexpr std::uint16_t kColourFloat = 0x0010;
constexpr std::uint16_t kEditor = 0x3D3D;
constexpr std::uint16_t kMeshVersion = 0x3D3E;
constexpr std::uint16_t kMasterScale = 0x0100;
constexpr std::uint16_t kMaterial = 0xAFFF;
constexpr std::uint16_t kMaterialName = 0xA000;
constexpr std::uint16_t kMaterialDiffuse = 0xA020;
constexpr std::uint16_t kNamedObject = 0x4000;
constexpr std::uint16_t kTriangleMesh = 0x4100;
constexpr std::uint16_t kVertexList = 0x4110;
constexpr std::uint16_t kFaceList = 0x4120;
constexpr std::uint16_t kFaceMaterial = 0x4130;
constexpr std::uint16_t kLocalAxes = 0x4160;
constexpr std::uint16_t kLight = 0x4600;
constexpr std::uint16_t kCamera = 0x4700;
constexpr std::uint16_t kKeyframer = 0xB000;

inline const char* ChunkName(std::uint16_t id)
{
    switch (id) {
    case kMain:
        return "main";
    case kProject:
        return "project";
    case kVersion:
        return "version";
    case kEditor:
        return "editor";
    case kMeshVersion:
        return "mesh version";
    case kMasterScale:
        return "master scale";
    case kMaterial:
        return "material";
    case kMaterialName:
        return "material name";
    case kNamedObject:
        return "named object";
    case kTriangleMesh:
        return "triangle mesh";
    case kVertexList:
        return "vertex list";
    case kFaceList:
        return "face list";
    case kFaceMaterial:
        return "face material group";
    case kLocalAxes:
        return "local axes";
    case kLight:
        return "light";
    case kCamera:
        return "camera";
    case kKeyframer:
        return "keyframer";
    default:
        return "unknown";
    }
}

} // namespace polyvant::formats::tds
