// A sample import plug-in for Polyvant. It reads a ".sample" file holding one number,
// the edge length of a cube (an empty file means 1), and hands the host one mesh
// named "Sample". Build it with the SDK's polyvant_add_plugin and copy sample.so into
// the viewer's plug-in directory.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <polyvant/sdk.h>

namespace {

using polyvant::HostLink;

const char kClassName[] = "Sample Cube (*.sample)";
constexpr std::uint32_t kClassId = 0x53414D50; // "SAMP"; pick your own unique id
constexpr long kMaxFileSize = 4096;

// The edge length written in the file, or NAN (with the error reported).
double ReadEdgeLength(const char* path)
{
    // Without O_NONBLOCK, opening a named pipe would wait for a writer forever.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        HostLink::Error(
            (std::string("Sample: cannot open ") + path + ": " + std::strerror(errno)).c_str());
        return NAN;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        HostLink::Error((std::string("Sample: ") + path + " is not a regular file").c_str());
        return NAN;
    }
    char text[kMaxFileSize + 1];
    std::size_t length = 0;
    while (length < sizeof text) {
        const ssize_t got = ::read(fd, text + length, sizeof text - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            HostLink::Error(
                (std::string("Sample: cannot read ") + path + ": " + std::strerror(error)).c_str());
            return NAN;
        }
        if (got == 0)
            break;
        length += std::size_t(got);
    }
    ::close(fd);
    if (length > kMaxFileSize) {
        HostLink::Error((std::string("Sample: ") + path + " is longer than a sample file").c_str());
        return NAN;
    }
    text[length] = '\0';
    const char* const kBlanks = " \t\r\n";
    if (std::strspn(text, kBlanks) == length) // an empty file: the default size
        return 1.0;
    char* end = nullptr;
    const double size = std::strtod(text, &end);
    if (end == text || end + std::strspn(end, kBlanks) != text + length) {
        HostLink::Error((std::string("Sample: ") + path + ": expected one number").c_str());
        return NAN;
    }
    if (!std::isfinite(size) || size <= 0.0 || size > 1e30) {
        HostLink::Error((std::string("Sample: ") + path + ": edge length out of range").c_str());
        return NAN;
    }
    return size;
}

// A cube as a plug-in hands meshes over: flat arrays from malloc, topology pointers
// null (the host builds the topology), bounds filled.
polyvant::Mesh3d* MakeCube(double size)
{
    static const std::uint32_t kFaces[12][3] = {
        {0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
        {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7},
    };
    auto* mesh = new polyvant::Mesh3d("Sample", polyvant::Mesh3d::kFlat);
    mesh->vertexCount = 8;
    mesh->faceCount = 12;
    mesh->vertexData = static_cast<double*>(
        polyvant::CheckedMalloc(8 * polyvant::kVertexDoubles * sizeof(double)));
    mesh->faceData = static_cast<std::uint32_t*>(
        polyvant::CheckedMalloc(12 * polyvant::kFaceWords * sizeof(std::uint32_t)));
    for (unsigned v = 0; v < 8; ++v) {
        double* p = mesh->vertexData + v * 3;
        p[0] = (v == 1 || v == 2 || v == 5 || v == 6) ? size : 0.0;
        p[1] = (v == 2 || v == 3 || v == 6 || v == 7) ? size : 0.0;
        p[2] = v >= 4 ? size : 0.0;
        mesh->ExtendBounds(p);
    }
    for (unsigned f = 0; f < 12; ++f) {
        std::memcpy(mesh->faceData + f * 4, kFaces[f], sizeof kFaces[f]);
        mesh->faceData[f * 4 + 3] = 0; // word 3 is ours: no material
    }
    return mesh;
}

// The library's, not an importer's: the host asks a throw-away object for Options and
// imports with another one.
PvOption scale{"scale", "Scale", PV_OPTION_DOUBLE, 0, 0, 1.0, 0.001, 1000.0, nullptr, nullptr};

class SampleImporter final : public polyvant::Importer {
public:
    // The importer owns every list it returned and the meshes in them until Release.
    void Release() noexcept override { delete this; }

    void Help() noexcept override
    {
        HostLink::ShowHelp("Sample Cube", "Reads a .sample file holding the edge length of a "
                                          "cube and makes that cube.");
    }

    void Options() noexcept override { HostLink::EditOptions("Sample Cube Options", &scale, 1); }

    polyvant::ObjectList* ImportFile(const char* path) noexcept override
    {
        try { // nothing may throw across the plug-in boundary
            if (!path) {
                HostLink::Error("Sample: no file name given");
                return nullptr;
            }
            const double size = ReadEdgeLength(path);
            if (std::isnan(size))
                return nullptr;
            fileName = path;
            auto* list = new polyvant::ObjectList(nullptr);
            lists.push_back(list);
            polyvant::Mesh3d* mesh = MakeCube(size * scale.doubleValue);
            meshes.push_back(mesh);
            list->Append(mesh);
            return list;
        } catch (...) {
            HostLink::Error("Sample: import failed");
            return nullptr;
        }
    }

    polyvant::ObjectList* ImportInteractive() noexcept override
    {
        char* path = HostLink::AskOpenFile("Import Sample", kClassName);
        if (!path)
            return nullptr;
        polyvant::ObjectList* list = ImportFile(path);
        std::free(path);
        return list;
    }

    const char* GetFileName() noexcept override
    {
        return fileName.empty() ? nullptr : fileName.c_str();
    }

private:
    ~SampleImporter()
    {
        for (polyvant::ObjectList* list : lists)
            delete list;
        for (polyvant::Mesh3d* mesh : meshes)
            delete mesh;
    }

    std::string fileName;
    std::vector<polyvant::ObjectList*> lists;
    std::vector<polyvant::Mesh3d*> meshes;
};

class SampleDescriptor final : public polyvant::ClassDescriptor {
public:
    int ClassPublicFlag() noexcept override { return 1; }
    polyvant::PluginObject* Create() noexcept override { return new (std::nothrow) SampleImporter; }
    const char* ClassName() noexcept override { return kClassName; }
    std::uint32_t SuperClassID() noexcept override { return polyvant::kImportSuperClassId; }
    std::uint32_t ClassID() noexcept override { return kClassId; }
};

SampleDescriptor sampleClass;

} // namespace

POLYVANT_EXPORT const char* LibName()
{
    return "Polyvant SDK sample";
}

POLYVANT_EXPORT std::uint32_t LibNumberClasses()
{
    return 1;
}

POLYVANT_EXPORT polyvant::ClassDescriptor* LibClassDescription(std::uint32_t index)
{
    return index == 0 ? &sampleClass : nullptr;
}

POLYVANT_EXPORT std::uint32_t LibVersion()
{
    return polyvant::kPluginInterfaceVersion;
}

POLYVANT_DEFINE_HOST_SERVICES_ENTRY()
