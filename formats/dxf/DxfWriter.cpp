#include "DxfWriter.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <unordered_set>

namespace polyvant::formats::dxf {
namespace {

constexpr std::size_t kFlushBytes = 1u << 20;
constexpr std::size_t kMaxLayerName = 31; // the R12 limit

class Out {
public:
    explicit Out(const DxfSink& sink) : sink(sink) { buffer.reserve(kFlushBytes + 4096); }

    void Group(int code, std::string_view value)
    {
        char digits[16];
        const auto r = std::to_chars(digits, digits + sizeof digits, code);
        const std::size_t len = static_cast<std::size_t>(r.ptr - digits);
        buffer.append(len < 3 ? 3 - len : 0, ' '); // right-aligned codes, as R12 writes them
        buffer.append(digits, len);
        buffer += '\n';
        buffer.append(value);
        buffer += '\n';
    }
    void Number(int code, double v)
    {
        char text[32];
        const auto r = std::to_chars(text, text + sizeof text, v); // shortest exact form
        Group(code, std::string_view(text, static_cast<std::size_t>(r.ptr - text)));
    }
    bool Flush(bool force)
    {
        if (failed)
            return false;
        if (!force && buffer.size() < kFlushBytes)
            return true;
        if (!buffer.empty() && !sink(buffer))
            failed = true;
        buffer.clear();
        return !failed;
    }

private:
    const DxfSink& sink;
    std::string buffer;
    bool failed = false;
};

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

std::string DxfLayerName(const char* meshName)
{
    std::string name;
    for (const char* c = meshName ? meshName : ""; *c && name.size() < kMaxLayerName; ++c) {
        const char ch = *c;
        const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                        (ch >= '0' && ch <= '9') || ch == '$' || ch == '_' || ch == '-';
        name += ok ? ch : '_';
    }
    return name.empty() ? std::string("MESH") : name;
}

bool WriteDxf(const std::vector<const Mesh3d*>& meshes, const DxfSink& sink,
              std::vector<std::string>& warnings, std::string& error,
              const DxfWriteProgress& progress)
{
    // Layer names: valid, and unique without regard to case as DXF compares them.
    std::vector<std::string> layerNames;
    std::unordered_set<std::string> taken;
    for (const Mesh3d* mesh : meshes) {
        const char* original = mesh->GetName() ? mesh->GetName() : "";
        const std::string base = DxfLayerName(original);
        std::string name = base;
        for (int n = 2; taken.count(Lower(name)); ++n) {
            std::string suffix(1, '_');
            suffix += std::to_string(n);
            name = base.substr(0, kMaxLayerName - suffix.size()) + suffix;
        }
        taken.insert(Lower(name));
        if (name != original)
            warnings.push_back("object '" + std::string(original) + "' written as layer '" + name +
                               "'");
        layerNames.push_back(std::move(name));
    }

    std::uint64_t totalFaces = 0, doneFaces = 0;
    for (const Mesh3d* mesh : meshes)
        totalFaces += mesh->faceData && mesh->vertexData ? mesh->faceCount : 0;

    Out out(sink);
    out.Group(0, "SECTION");
    out.Group(2, "HEADER");
    out.Group(9, "$ACADVER");
    out.Group(1, "AC1009");
    out.Group(0, "ENDSEC");
    out.Group(0, "SECTION");
    out.Group(2, "TABLES");
    out.Group(0, "TABLE");
    out.Group(2, "LAYER");
    out.Group(70, std::to_string(layerNames.size()));
    for (const std::string& name : layerNames) {
        out.Group(0, "LAYER");
        out.Group(2, name);
        out.Group(70, "0");
        out.Group(62, "7");
        out.Group(6, "CONTINUOUS");
    }
    out.Group(0, "ENDTAB");
    out.Group(0, "ENDSEC");
    out.Group(0, "SECTION");
    out.Group(2, "ENTITIES");
    for (std::size_t m = 0; m < meshes.size(); ++m) {
        const Mesh3d* mesh = meshes[m];
        if (!mesh->faceData || !mesh->vertexData)
            continue;
        std::uint64_t skipped = 0;
        for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
            const std::uint32_t* face = mesh->faceData + std::size_t(f) * kFaceWords;
            bool usable = true;
            for (int k = 0; k < 3 && usable; ++k) {
                usable = face[k] < mesh->vertexCount;
                for (int a = 0; a < 3 && usable; ++a)
                    usable = std::isfinite(mesh->vertexData[std::size_t(face[k]) * 3 + a]);
            }
            if (!usable) {
                ++skipped;
                continue;
            }
            out.Group(0, "3DFACE");
            out.Group(8, layerNames[m]);
            for (int k = 0; k < 4; ++k) {
                const double* v = mesh->vertexData + std::size_t(face[k < 3 ? k : 2]) * 3;
                out.Number(10 + k, v[0]);
                out.Number(20 + k, v[1]);
                out.Number(30 + k, v[2]);
            }
            if (!out.Flush(false)) {
                error = "writing the file failed";
                return false;
            }
            if ((++doneFaces & 0xFFFF) == 0 && progress &&
                !progress(double(doneFaces) / double(totalFaces))) {
                error = "cancelled";
                return false;
            }
        }
        if (skipped)
            warnings.push_back("object '" + layerNames[m] + "': " + std::to_string(skipped) +
                               " face(s) with invalid vertices left out");
    }
    out.Group(0, "ENDSEC");
    out.Group(0, "EOF");
    if (!out.Flush(true)) {
        error = "writing the file failed";
        return false;
    }
    return true;
}

} // namespace polyvant::formats::dxf
