#include "FormatTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <tuple>

namespace polyvant::formats::test {

std::string TestData(const std::string& relative)
{
    return std::string(POLYVANT_TESTDATA_DIR) + "/" + relative;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "pvfmt-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data()))
        throw std::runtime_error("cannot make a temporary folder");
    path = name.data();
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> TempDir::List() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

HostRecorder* Self(void* context)
{
    return static_cast<HostRecorder*>(context);
}

char* Answer(const std::string& text)
{
    return text.empty() ? nullptr : strdup(text.c_str());
}

} // namespace

HostRecorder::HostRecorder()
{
    table.version = kHostServicesVersion;
    table.size = sizeof(PvHostServices);
    table.context = this;
    table.askOpenFile = [](void* c, const char*, const char* patterns) {
        Self(c)->lastAskedPatterns = patterns ? patterns : "";
        return Answer(Self(c)->openAnswer);
    };
    table.askSaveFile = [](void* c, const char*, const char* patterns, const char*) {
        Self(c)->lastAskedPatterns = patterns ? patterns : "";
        return Answer(Self(c)->saveAnswer);
    };
    table.report = [](void* c, std::int32_t severity, const char* message) {
        Self(c)->messages.push_back({severity, message ? message : ""});
    };
    table.progress = [](void* c, double fraction, const char*) -> std::int32_t {
        EXPECT_GE(fraction, 0.0);
        EXPECT_LE(fraction, 1.0);
        HostRecorder* self = Self(c);
        ++self->progressCalls;
        return self->cancelAfterProgressCalls < 0 ||
                       self->progressCalls <= self->cancelAfterProgressCalls
                   ? 1
                   : 0;
    };
    table.showHelp = [](void* c, const char* title, const char* text) {
        Self(c)->messages.push_back({-1, std::string(title) + "\n" + text});
    };
    table.editOptions = [](void*, const char*, PvOption*, std::uint32_t) -> std::int32_t {
        return 0;
    };
    HostLink::Accept(&table);
}

HostRecorder::~HostRecorder()
{
    HostLink::Accept(nullptr);
}

std::vector<std::string> HostRecorder::Texts(std::int32_t severity) const
{
    std::vector<std::string> texts;
    for (const auto& m : messages)
        if (m.severity == severity)
            texts.push_back(m.text);
    return texts;
}

std::string HostRecorder::AllText() const
{
    std::string all;
    for (const auto& m : messages)
        all += m.text + "\n";
    return all;
}

PluginLib::PluginLib(const std::string& fileName)
{
    const std::string path = std::string(POLYVANT_PLUGIN_DIR) + "/" + fileName;
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        error = dlerror();
}

PluginLib::~PluginLib()
{
    if (handle)
        dlclose(handle);
}

void* PluginLib::Symbol(const char* name) const
{
    return handle ? dlsym(handle, name) : nullptr;
}

ClassDescriptor* PluginLib::FindClass(const std::string& className, std::uint32_t superClass) const
{
    auto count = reinterpret_cast<PvLibNumberClassesFn>(Symbol("LibNumberClasses"));
    auto describe = reinterpret_cast<PvLibClassDescriptionFn>(Symbol("LibClassDescription"));
    if (!count || !describe)
        return nullptr;
    for (std::uint32_t i = 0; i < count(); ++i) {
        ClassDescriptor* d = describe(i);
        if (d && d->ClassName() == className && d->SuperClassID() == superClass)
            return d;
    }
    return nullptr;
}

void PluginLib::SetHost(const HostRecorder& host) const
{
    auto set = reinterpret_cast<PvLibSetHostServicesFn>(Symbol("LibSetHostServices"));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set(host.Table()), 1);
}

void ExpectValidMesh(const Mesh3d& mesh)
{
    EXPECT_EQ(mesh.type, kMeshType);
    EXPECT_NE(mesh.name, nullptr);
    EXPECT_EQ(mesh.vertices, nullptr);
    EXPECT_EQ(mesh.faces, nullptr);
    EXPECT_EQ(mesh.edges, nullptr);
    ASSERT_TRUE(mesh.vertexCount == 0 || mesh.vertexData);
    ASSERT_TRUE(mesh.faceCount == 0 || mesh.faceData);
    // Plain loops with one expectation each: a big mesh would drown in assertions.
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    std::size_t notFinite = 0, badIndices = 0;
    for (std::size_t i = 0; i < 3 * std::size_t(mesh.vertexCount); ++i) {
        const double v = mesh.vertexData[i];
        notFinite += !std::isfinite(v);
        lo[i % 3] = std::min(lo[i % 3], v);
        hi[i % 3] = std::max(hi[i % 3], v);
    }
    for (std::size_t i = 0; i < mesh.faceCount; ++i)
        for (int k = 0; k < 3; ++k)
            badIndices += mesh.faceData[4 * i + k] >= mesh.vertexCount;
    EXPECT_EQ(notFinite, 0u) << "coordinates that are not finite";
    EXPECT_EQ(badIndices, 0u) << "face indices past the vertices";
    EXPECT_EQ(mesh.boundsEmpty, mesh.vertexCount == 0 ? 1 : 0);
    if (mesh.vertexCount)
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(mesh.min[k], lo[k]);
            EXPECT_EQ(mesh.max[k], hi[k]);
        }
}

std::size_t DistinctPositions(const Mesh3d& mesh)
{
    std::set<std::tuple<double, double, double>> seen;
    for (std::uint32_t i = 0; i < mesh.vertexCount; ++i)
        seen.emplace(mesh.vertexData[3 * i], mesh.vertexData[3 * i + 1],
                     mesh.vertexData[3 * i + 2]);
    return seen.size();
}

std::vector<const Mesh3d*> Meshes(const ObjectList* list)
{
    std::vector<const Mesh3d*> meshes;
    if (!list)
        return meshes;
    for (const ListNode* n = list->head; n; n = n->next)
        meshes.push_back(static_cast<const Mesh3d*>(n->item));
    EXPECT_EQ(meshes.size(), static_cast<std::size_t>(list->count));
    return meshes;
}

std::size_t TotalFaces(const ObjectList* list)
{
    std::size_t total = 0;
    for (const Mesh3d* m : Meshes(list))
        total += m->faceCount;
    return total;
}

std::vector<double> CornerPositions(const Mesh3d& mesh)
{
    std::vector<double> corners;
    for (std::uint32_t i = 0; i < mesh.faceCount; ++i)
        for (int k = 0; k < 3; ++k) {
            const double* p = mesh.vertexData + 3 * std::size_t(mesh.faceData[4 * i + k]);
            corners.insert(corners.end(), p, p + 3);
        }
    return corners;
}

void ExpectSameMeshes(const std::vector<const Mesh3d*>& a, const std::vector<const Mesh3d*>& b)
{
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t m = 0; m < a.size(); ++m) {
        SCOPED_TRACE("mesh " + std::to_string(m));
        EXPECT_STREQ(a[m]->name, b[m]->name);
        ASSERT_EQ(a[m]->vertexCount, b[m]->vertexCount);
        ASSERT_EQ(a[m]->faceCount, b[m]->faceCount);
        EXPECT_EQ(0, std::memcmp(a[m]->vertexData, b[m]->vertexData,
                                 3 * sizeof(double) * a[m]->vertexCount));
        std::size_t firstDifferent = a[m]->faceCount;
        for (std::uint32_t i = 0; i < a[m]->faceCount && firstDifferent == a[m]->faceCount; ++i)
            if (std::memcmp(a[m]->faceData + 4 * i, b[m]->faceData + 4 * i, 12) != 0)
                firstDifferent = i;
        EXPECT_EQ(firstDifferent, a[m]->faceCount) << "first face that differs";
    }
}

} // namespace polyvant::formats::test
