// What the host relies on, checked against every plug-in we ship (the libraries in
// the build's plug-in directory): loading, classes, object life cycles, a host
// without services, and imports of the shared samples and of damaged copies of them.
// Environment: POLYVANT_DAMAGED_COPIES (copies per sample, default 25) for longer
// campaigns; POLYVANT_CONFORMANCE_PLUGIN_DIR and POLYVANT_CONFORMANCE_TESTDATA_DIR
// to point it at other plug-ins or samples.
#include <ClassPatterns.h>
#include <HeadlessHost.h>
#include <ImportCheck.h>
#include <ImportClassLookup.h>
#include <PluginLibrary.h>
#include <PluginManager.h>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <polyvant/CheckedAlloc.h>
#include <polyvant/Obj3d.h>
#include <polyvant/Plugin.h>

#include "DamagedCopies.h"
#include "TestSupport.h"
#include "model/SanitizerBuild.h"

namespace polyvant {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::string PluginDir()
{
    const char* dir = std::getenv("POLYVANT_CONFORMANCE_PLUGIN_DIR");
    return dir && *dir ? dir : POLYVANT_PLUGIN_DIR;
}

std::string TestDataDir()
{
    const char* dir = std::getenv("POLYVANT_CONFORMANCE_TESTDATA_DIR");
    return dir && *dir ? dir : POLYVANT_TESTDATA_DIR;
}

// Damaged copies per sample; raise it for longer campaigns.
int DamagedCopiesPerFile()
{
    const char* text = std::getenv("POLYVANT_DAMAGED_COPIES");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 25;
}

std::vector<std::string> PluginFiles()
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(PluginDir(), ec)) {
        if (entry.path().extension() == ".so")
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> SampleFolders()
{
    std::vector<std::string> folders;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(TestDataDir(), ec)) {
        if (entry.is_directory())
            folders.push_back(entry.path().filename().string());
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::vector<std::string> SampleFiles(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(TestDataDir() + "/" + folder, ec)) {
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A hang in an importer would otherwise stall the run until ctest's timeout, without
// saying which file did it.
char g_current[4096];
constexpr unsigned kHangSeconds = 120;

void OnHang(int)
{
    const char prefix[] = "\nimport still running after the hang guard's limit: ";
    (void)!write(2, prefix, sizeof prefix - 1);
    (void)!write(2, g_current, strnlen(g_current, sizeof g_current));
    (void)!write(2, "\n", 1);
    _exit(3);
}

class HangGuard {
public:
    explicit HangGuard(const std::string& what)
    {
        std::snprintf(g_current, sizeof g_current, "%s", what.c_str());
        std::signal(SIGALRM, &OnHang);
        alarm(kHangSeconds);
    }
    ~HangGuard() { alarm(0); }
};

// The peak of memory allocated during an import, measured in the sanitizer build
// through the allocator's hooks (elsewhere not measured). A damaged file must not
// make an importer reserve what its bytes cannot hold.
#if POLYVANT_ASAN_BUILD
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*,
                                                                            std::size_t),
                                                         void (*freeHook)(const volatile void*));
extern "C" std::size_t __sanitizer_get_allocated_size(const volatile void* p);

std::atomic<bool> g_measuring{false};
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void OnMalloc(const volatile void*, std::size_t size)
{
    if (!g_measuring)
        return;
    const long long live = g_live += static_cast<long long>(size);
    long long peak = g_peak;
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
}

void OnFree(const volatile void* p)
{
    if (g_measuring && p)
        g_live -= static_cast<long long>(__sanitizer_get_allocated_size(p));
}

class AllocationPeak {
public:
    AllocationPeak()
    {
        [[maybe_unused]] static const int installed =
            __sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree);
        g_live = 0;
        g_peak = 0;
        g_measuring = true;
    }
    ~AllocationPeak() { g_measuring = false; }
    static constexpr bool kMeasured = true;
    long long Bytes() const { return g_peak; }
};
#else
class AllocationPeak {
public:
    static constexpr bool kMeasured = false;
    long long Bytes() const { return 0; }
};
#endif

// 64 bytes of memory per byte of file, plus 64 MiB, is ample for any format we read.
long long AllocationLimit(std::uintmax_t fileSize)
{
    return 64 * static_cast<long long>(fileSize) + (64ll << 20);
}

class Conformance : public testing::Test {
protected:
    void SetUp() override
    {
        manager.SetHostServices(host.Services());
        manager.ScanDirectory(PluginDir().c_str(), kPluginInterfaceVersion);
        ASSERT_GT(manager.ClassCount(), 0) << "no plug-in classes in " << PluginDir();
        // Beside the shipped plug-ins, the SDK's sample, unless other plug-ins are tried.
        const char* other = std::getenv("POLYVANT_CONFORMANCE_PLUGIN_DIR");
        if (!other || !*other)
            manager.ScanDirectory(POLYVANT_SAMPLE_PLUGIN_DIR, kPluginInterfaceVersion);
    }

    std::vector<ClassDescriptor*> ImportClassesFor(const std::string& path)
    {
        std::vector<ClassDescriptor*> classes;
        for (int i = 0; i < manager.ClassCount(); ++i) {
            ClassDescriptor* descriptor = manager.GetClass(i);
            if (descriptor->SuperClassID() == kImportSuperClassId &&
                ClassNameListsExtension(descriptor->ClassName(), FileExtension(path)))
                classes.push_back(descriptor);
        }
        return classes;
    }

    // Imports path with the class; checks what came back. False when the import
    // returned no list.
    bool ImportAndCheck(ClassDescriptor* descriptor, const std::string& path,
                        const std::string& what)
    {
        host.ClearMessages();
        auto* importer = static_cast<Importer*>(descriptor->Create());
        EXPECT_NE(importer, nullptr) << what;
        if (!importer)
            return false;
        ObjectList* list = nullptr;
        long long peak = 0;
        {
            HangGuard guard(what);
            AllocationPeak allocations;
            list = importer->ImportFile(path.c_str());
            peak = allocations.Bytes();
        }
        std::error_code ec;
        const auto size = fs::file_size(path, ec);
        EXPECT_LE(peak, AllocationLimit(ec ? 0 : size))
            << what << ": allocated " << peak << " bytes for a file of " << size;
        if (list) {
            const CheckedImport checked = CheckImportedList(list);
            for (const ImportProblem& problem : checked.problems)
                ADD_FAILURE() << what << ": invalid data handed over: " << problem.object << ": "
                              << problem.reason;
            EXPECT_TRUE(PluginText(importer->GetFileName())) << what << ": no file name";
        } else {
            EXPECT_GT(host.Count(PV_ERROR), 0) << what << ": failed without an error message";
        }
        importer->Release();
        return list != nullptr;
    }

    // A headless host that lets a test see and change what an option edit presents.
    class Host : public HeadlessHost {
    public:
        std::function<void(PvOption*, std::uint32_t)> onEdit;
        bool EditOptions(const char* title, PvOption* options, std::uint32_t count) override
        {
            if (onEdit)
                onEdit(options, count);
            return HeadlessHost::EditOptions(title, options, count);
        }
    };

    Host host;
    PluginManager manager;
};

// First, so that no library is still loaded with another test's table: a host
// written without the services never calls LibSetHostServices.
TEST(ConformanceWithoutServices, ImportWorksAndInteractiveCallsDoNothing)
{
    const auto files = PluginFiles();
    ASSERT_FALSE(files.empty()) << "no plug-ins in " << PluginDir();
    TempDir cwd;
    const fs::path previous = fs::current_path();
    fs::current_path(cwd.Path()); // whatever a plug-in might write lands here
    for (const std::string& file : files) {
        PluginLibrary library(file.c_str());
        ASSERT_EQ(library.GetStatus(), PluginLibrary::kLoaded) << file << ": " << library.Reason();
        if (library.libSetHostServices) {
            // Still loaded from an earlier test in this process: take its table back.
            if (void* again = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
                dlclose(again);
                library.libSetHostServices(nullptr);
            }
        }
        Mesh3d mesh("conformance", Mesh3d::kFlat);
        ObjectList scene; // no deleter: the mesh stays the test's
        scene.Append(&mesh);
        for (std::uint32_t j = 0; j < library.libNumberClasses() && j < 1024; ++j) {
            ClassDescriptor* descriptor = library.libClassDescription(j);
            if (!descriptor)
                continue;
            PluginObject* object = descriptor->Create();
            ASSERT_NE(object, nullptr) << file;
            object->Help();
            object->Options();
            if (descriptor->SuperClassID() == kImportSuperClassId) {
                auto* importer = static_cast<Importer*>(object);
                EXPECT_EQ(importer->ImportInteractive(), nullptr) << file;
                const std::string missing = cwd / "missing-file";
                EXPECT_EQ(importer->ImportFile(missing.c_str()), nullptr) << file;
            } else if (descriptor->SuperClassID() == kExportSuperClassId) {
                EXPECT_EQ(static_cast<Exporter*>(object)->Export(&scene), 0) << file;
            }
            object->Release();
        }
    }
    fs::current_path(previous);
    EXPECT_TRUE(fs::is_empty(cwd.Path())) << "a plug-in wrote a file without being asked";
}

// Import classes that list the sample's extension, in library order.
std::vector<ClassDescriptor*> ClassesListing(const std::vector<PluginLibrary*>& libraries,
                                             const std::string& sample)
{
    std::vector<ClassDescriptor*> classes;
    for (PluginLibrary* library : libraries) {
        for (std::uint32_t j = 0; j < library->libNumberClasses() && j < 1024; ++j) {
            ClassDescriptor* descriptor = library->libClassDescription(j);
            if (descriptor && descriptor->SuperClassID() == kImportSuperClassId &&
                ClassNameListsExtension(descriptor->ClassName(), FileExtension(sample)))
                classes.push_back(descriptor);
        }
    }
    return classes;
}

// The first two samples of each folder that some class lists: one of their classes
// must read each (several formats may share an extension).
TEST(ConformanceWithoutServices, SamplesImportWithoutTheTable)
{
    std::vector<std::unique_ptr<PluginLibrary>> owned;
    std::vector<PluginLibrary*> libraries;
    for (const std::string& file : PluginFiles()) {
        owned.push_back(std::make_unique<PluginLibrary>(file.c_str()));
        ASSERT_EQ(owned.back()->GetStatus(), PluginLibrary::kLoaded) << file;
        libraries.push_back(owned.back().get());
    }
    for (const std::string& folder : SampleFolders()) {
        int tried = 0;
        for (const std::string& sample : SampleFiles(folder)) {
            const auto classes = ClassesListing(libraries, sample);
            if (classes.empty() || fs::file_size(sample) < 64 || tried == 2)
                continue;
            ++tried;
            bool imported = false;
            for (ClassDescriptor* descriptor : classes) {
                auto* importer = static_cast<Importer*>(descriptor->Create());
                imported = imported || importer->ImportFile(sample.c_str()) != nullptr;
                importer->Release();
            }
            EXPECT_TRUE(imported) << sample << " imported by none of its classes";
        }
    }
}

TEST_F(Conformance, EveryLibraryLoadsWithVersion3AndNamedClassesOfItsOwn)
{
    for (const PluginLoadReport& report : manager.Reports())
        EXPECT_TRUE(report.kept) << report.path << ": " << report.reason;
    // A note means a class without descriptor or name, or an id another library took.
    for (const std::string& note : manager.Notes())
        ADD_FAILURE() << note;
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        const auto name = PluginText(descriptor->ClassName());
        ASSERT_TRUE(name && !name->empty());
        const std::uint32_t kind = descriptor->SuperClassID();
        EXPECT_TRUE(kind == kImportSuperClassId || kind == kExportSuperClassId) << *name;
        EXPECT_EQ(manager.GetClassLibrary(i)->libVersion(), kPluginInterfaceVersion);
        EXPECT_NE(manager.GetClassLibrary(i)->libName(), nullptr) << *name;
    }
}

// A host may hand an importer any path a user picked. A named pipe must not block the
// import waiting for a writer, and a directory or device is no model.
TEST_F(Conformance, EveryImporterRefusesWhatIsNotARegularFile)
{
    TempDir dir;
    const std::string fifo = dir / "pipe.model";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor->SuperClassID() != kImportSuperClassId)
            continue;
        const std::string name = PluginText(descriptor->ClassName()).value_or("?");
        for (const std::string& path : {fifo, dir.Path(), std::string("/dev/zero")})
            EXPECT_FALSE(ImportAndCheck(descriptor, path, name + " on " + path));
        host.ClearMessages();
        auto* importer = static_cast<Importer*>(descriptor->Create());
        ASSERT_NE(importer, nullptr) << name;
        EXPECT_EQ(importer->ImportFile(nullptr), nullptr) << name;
        EXPECT_GT(host.Count(PV_ERROR), 0) << name << ": no path, and no error message";
        importer->Release();
    }
}

// The scene model is linked into every plug-in; its names stay local, so a plug-in never
// runs another library's copy of them (or a host's that defines the same names).
TEST_F(Conformance, EveryLibraryKeepsTheSceneModelToItself)
{
    const char* modelSymbols[] = {"_ZN8polyvant13CheckedMallocEm", "_ZTVN8polyvant6Mesh3dE",
                                  "_ZN8polyvant6Mesh3d11AddTriangleEPKdS2_S2_"};
    for (const std::string& file : PluginFiles()) {
        void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle, nullptr) << file << ": not loaded by the manager";
        EXPECT_NE(dlsym(handle, "LibClassDescription"), nullptr) << file;
        for (const char* symbol : modelSymbols)
            EXPECT_EQ(dlsym(handle, symbol), nullptr) << file << " exports " << symbol;
        dlclose(handle);
    }
}

// The converter unloads the libraries a batch does not use before it forks workers. One
// that stays mapped after dlclose (a GNU_UNIQUE symbol makes a library so) would cost
// every fork and every worker's end its mappings.
TEST_F(Conformance, EveryLibraryLeavesTheProcessWhenUnloaded)
{
    manager.UnloadLibrariesExcept({});
    EXPECT_EQ(manager.libraryList->Count(), 0);
    for (const std::string& file : PluginFiles()) {
        void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
        EXPECT_EQ(handle, nullptr) << file << " stays mapped after dlclose";
        if (handle)
            dlclose(handle);
    }
}

// The built-in table is what a fresh viewer and the tools open files with: each of its
// classes must be one we ship, and it must settle what a pattern alone would get
// wrong (the Imagine class lists "*.obj" too, and its library loads first).
TEST_F(Conformance, TheBuiltInExtensionTableNamesShippedImportClasses)
{
    std::vector<std::string> extensions, classes;
    for (const ExtensionEntry& entry : DefaultExtensionTable()) {
        extensions.emplace_back(entry.extension);
        classes.emplace_back(entry.className);
        const int index = FindImportClass(manager, {entry.extension}, {entry.className},
                                          std::string("model") + entry.extension);
        ASSERT_GE(index, 0) << entry.extension;
        EXPECT_EQ(PluginText(manager.GetClass(index)->ClassName()), entry.className);
        EXPECT_EQ(manager.GetClass(index)->SuperClassID(), kImportSuperClassId);
    }
    const auto nameFor = [&](const std::vector<std::string>& ext,
                             const std::vector<std::string>& cls, const char* path) {
        const int index = FindImportClass(manager, ext, cls, path);
        return index < 0 ? std::string()
                         : PluginText(manager.GetClass(index)->ClassName()).value_or("");
    };
    EXPECT_EQ(nameFor(extensions, classes, "dir.iob/MODEL.OBJ"), "WaveFront (*.obj)");
    // Without a usable entry the built-in table still settles what two classes claim.
    EXPECT_EQ(nameFor({}, {}, "model.obj"), "WaveFront (*.obj)");
    EXPECT_EQ(nameFor({".obj"}, {"No Such Class (*.obj)"}, "model.obj"), "WaveFront (*.obj)");
    EXPECT_EQ(nameFor({}, {}, "model.iob"), "Imagine (*.obj, *.iob)");
    EXPECT_EQ(nameFor({".obj"}, {"Imagine (*.obj, *.iob)"}, "model.obj"),
              "Imagine (*.obj, *.iob)");                                 // the user's entry rules
    EXPECT_EQ(nameFor(extensions, classes, "model.stl"), "STL (*.stl)"); // by pattern
    EXPECT_EQ(nameFor(extensions, classes, "model.xyz"), "");
}

// Leaks show up in the sanitizer build's leak check at exit.
TEST_F(Conformance, EveryClassSurvivesCreateHelpOptionsReleaseCycles)
{
    for (int i = 0; i < manager.ClassCount(); ++i) {
        for (int cycle = 0; cycle < 3; ++cycle) {
            PluginObject* object = manager.GetClass(i)->Create();
            ASSERT_NE(object, nullptr) << manager.GetClass(i)->ClassName();
            object->Help();
            object->Options();
            object->Release();
        }
    }
}

// The viewer asks one object for Options and imports or exports with the next, so the
// values edited must outlive the object that showed them.
TEST_F(Conformance, EditedOptionsReachTheClassesNextObject)
{
    struct Value {
        std::int64_t intValue;
        double doubleValue;
        std::string text;
        bool operator==(const Value&) const = default;
    };
    const auto read = [](const PvOption* options, std::uint32_t count) {
        std::vector<Value> values;
        for (std::uint32_t i = 0; i < count; ++i)
            values.push_back({options[i].intValue, options[i].doubleValue,
                              options[i].stringValue ? options[i].stringValue : ""});
        return values;
    };
    const auto write = [](PvOption* options, const std::vector<Value>& values) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            options[i].intValue = values[i].intValue;
            options[i].doubleValue = values[i].doubleValue;
            if (options[i].type == PV_OPTION_STRING) {
                std::free(options[i].stringValue);
                options[i].stringValue = strdup(values[i].text.c_str());
            }
        }
    };
    // Another valid value for each option.
    const auto other = [](const PvOption& o) {
        Value v{o.intValue, o.doubleValue, o.stringValue ? o.stringValue : ""};
        switch (o.type) {
        case PV_OPTION_BOOL:
            v.intValue = o.intValue ? 0 : 1;
            break;
        case PV_OPTION_INT:
            v.intValue = o.intValue < std::int64_t(o.maxValue) ? o.intValue + 1 : o.intValue - 1;
            break;
        case PV_OPTION_DOUBLE:
            v.doubleValue = o.doubleValue == o.minValue ? o.maxValue : o.minValue;
            break;
        case PV_OPTION_CHOICE: {
            const auto choices = std::count(o.choices, o.choices + std::strlen(o.choices), '|') + 1;
            v.intValue = (o.intValue + 1) % choices;
            break;
        }
        case PV_OPTION_STRING:
            v.text += "x";
            break;
        }
        return v;
    };
    int withOptions = 0;
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        const auto edit = [&](const std::function<void(PvOption*, std::uint32_t)>& step) {
            host.onEdit = step;
            PluginObject* object = descriptor->Create();
            ASSERT_NE(object, nullptr) << descriptor->ClassName();
            object->Options();
            object->Release();
            host.onEdit = nullptr;
        };
        std::vector<Value> original, edited, shown;
        bool offered = false;
        edit([&](PvOption* options, std::uint32_t count) {
            offered = count > 0;
            original = read(options, count);
            for (std::uint32_t k = 0; k < count; ++k)
                edited.push_back(other(options[k]));
            write(options, edited);
        });
        if (!offered)
            continue;
        ++withOptions;
        edit([&](PvOption* options, std::uint32_t count) {
            shown = read(options, count);
            write(options, original); // later tests see the defaults
        });
        EXPECT_EQ(shown == edited, true) << descriptor->ClassName();
    }
    EXPECT_GT(withOptions, 2);
}

// A scene as the host hands it to exporters: meshes with and without faces, an
// unnamed mesh, a light and an object of a type exporters must skip.
class ExportScene {
public:
    ExportScene()
    {
        static const double kCorners[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
        static const std::uint32_t kFaces[] = {0, 2, 1, 0, 0, 1, 3, 0, 0, 3, 2, 0, 1, 2, 3, 0};
        auto* tetra = new Mesh3d("Tetra", Mesh3d::kFlat);
        tetra->vertexData = static_cast<double*>(CheckedMalloc(sizeof kCorners));
        tetra->faceData = static_cast<std::uint32_t*>(CheckedMalloc(sizeof kFaces));
        std::memcpy(tetra->vertexData, kCorners, sizeof kCorners);
        std::memcpy(tetra->faceData, kFaces, sizeof kFaces);
        tetra->vertexCount = 4;
        tetra->faceCount = 4;
        for (int v = 0; v < 4; ++v)
            tetra->ExtendBounds(kCorners + 3 * v);
        auto* unnamed = new Mesh3d("unnamed", Mesh3d::kFlat);
        unnamed->SetName(nullptr);
        const double colour[] = {1, 1, 1}, position[] = {5, 5, 5}, target[] = {0, 0, 0};
        objects = {tetra, unnamed, new Light3d("Light", colour, position, target, 30, 10),
                   new Obj3d("other", 7)};
        for (Obj3d* object : objects)
            list.Append(object);
    }
    ~ExportScene()
    {
        for (Obj3d* object : objects)
            delete object;
    }
    ObjectList list; // no deleter: the objects are deleted above

private:
    std::vector<Obj3d*> objects;
};

TEST_F(Conformance, EveryExporterWritesTheFileTheHostNamesAndNothingElse)
{
    TempDir dir;
    ExportScene scene;
    ObjectList empty;
    for (int i = 0; i < manager.ClassCount(); ++i) {
        ClassDescriptor* descriptor = manager.GetClass(i);
        if (descriptor->SuperClassID() != kExportSuperClassId)
            continue;
        const std::string name = descriptor->ClassName();
        const std::string path = dir / ("scene-" + std::to_string(i) + ".out");
        host.ClearMessages();
        host.QueueSavePath(path);
        auto* exporter = static_cast<Exporter*>(descriptor->Create());
        ASSERT_NE(exporter, nullptr) << name;
        exporter->Export(&scene.list);
        EXPECT_EQ(host.Count(PV_ERROR), 0) << name << ": " << host.Messages()[0].text;
        EXPECT_TRUE(fs::exists(path) && fs::file_size(path) > 0) << name << " wrote nothing";
        exporter->Export(&empty); // no save path queued: cancelled
        exporter->Release();
        std::error_code ec;
        fs::remove(path, ec);
        EXPECT_TRUE(fs::is_empty(dir.Path())) << name << " left other files";
    }
}

class ConformanceSamples : public Conformance, public testing::WithParamInterface<std::string> {};

// Each sample is read by at least one class that lists its extension (formats may
// share one); a class that refuses it says why.
TEST_P(ConformanceSamples, EverySampleImportsWithValidData)
{
    int imports = 0;
    for (const std::string& sample : SampleFiles(GetParam())) {
        const auto classes = ImportClassesFor(sample);
        std::string refusals;
        bool imported = false;
        for (ClassDescriptor* descriptor : classes) {
            const std::string what = std::string(descriptor->ClassName()) + " on " + sample;
            if (ImportAndCheck(descriptor, sample, what))
                imported = true;
            else if (!host.Messages().empty())
                refusals += "\n  " + what + ": " + host.Messages()[0].text;
            ++imports;
        }
        // An empty file may be refused, with its message.
        if (!classes.empty() && fs::file_size(sample) > 0) {
            EXPECT_TRUE(imported) << sample << " imported by none of its classes" << refusals;
        }
    }
    if (imports == 0)
        GTEST_SKIP() << "no plug-in imports the files of " << GetParam();
}

// A damaged file must fail with a message or give data that passes the checks;
// never crash, hang or overrun (the sanitizer build catches overruns).
TEST_P(ConformanceSamples, DamagedCopiesFailCleanlyOrGiveValidData)
{
    const int perFile = DamagedCopiesPerFile();
    int imports = 0;
    int refused = 0;
    TempDir dir;
    for (const std::string& sample : SampleFiles(GetParam())) {
        const auto classes = ImportClassesFor(sample);
        if (classes.empty())
            continue;
        const std::string original = test::ReadFile(sample);
        // Big samples take long under the sanitizers; fewer copies of them.
        const int copies = original.size() > (256u << 10) ? std::max(2, perFile / 4) : perFile;
        const std::string name = fs::path(sample).filename().string();
        int index = 0;
        for (const test::DamagedCopy& copy :
             test::MakeDamagedCopies(original, test::SeedFrom(name), copies)) {
            const std::string copyDir = dir / std::to_string(index++);
            fs::create_directory(copyDir);
            const std::string path = copyDir + "/" + name;
            test::WriteFile(path, copy.bytes);
            for (ClassDescriptor* descriptor : classes) {
                if (!ImportAndCheck(descriptor, path,
                                    std::string(descriptor->ClassName()) + " on " + name + " (" +
                                        copy.label + ")"))
                    ++refused;
                ++imports;
            }
            fs::remove_all(copyDir);
        }
    }
    if (imports == 0)
        GTEST_SKIP() << "no plug-in imports the files of " << GetParam();
    std::printf("%d imports of damaged %s copies: %d refused with a message, %d gave valid data\n",
                imports, GetParam().c_str(), refused, imports - refused);
}

// Text written on old Macintosh systems ends its lines with a CR alone; it must read
// as the same text with LF does.
TEST_P(ConformanceSamples, TextSamplesReadTheSameWithLinesEndedByCrAlone)
{
    const auto totals = [&](ClassDescriptor* descriptor, const std::string& path) {
        host.ClearMessages();
        auto* importer = static_cast<Importer*>(descriptor->Create());
        std::pair<long long, long long> sums{-1, -1};
        if (!importer)
            return sums;
        if (ObjectList* list = importer->ImportFile(path.c_str())) {
            sums = {0, 0};
            for (Obj3d* object : CheckImportedList(list).objects) {
                if (object->type == kMeshType) {
                    sums.first += static_cast<Mesh3d*>(object)->faceCount;
                    sums.second += static_cast<Mesh3d*>(object)->vertexCount;
                }
            }
        }
        importer->Release();
        return sums;
    };
    TempDir dir;
    int compared = 0;
    for (const std::string& sample : SampleFiles(GetParam())) {
        std::string text = test::ReadFile(sample);
        const bool binary = std::any_of(text.begin(), text.end(), [](char c) {
            return (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\r' && c != '\n') ||
                   c == 0x7f;
        });
        if (binary || text.find('\n') == std::string::npos)
            continue;
        std::erase(text, '\r');
        std::replace(text.begin(), text.end(), '\n', '\r');
        const std::string copy = dir / fs::path(sample).filename();
        test::WriteFile(copy, text);
        for (ClassDescriptor* descriptor : ImportClassesFor(sample)) {
            const auto expected = totals(descriptor, sample);
            if (expected.first <= 0)
                continue; // not this class's file
            EXPECT_EQ(totals(descriptor, copy), expected)
                << descriptor->ClassName() << " on " << sample << ": "
                << (host.Messages().empty() ? "" : host.Messages()[0].text);
            ++compared;
        }
    }
    if (compared == 0)
        GTEST_SKIP() << "no text sample of " << GetParam() << " imports with faces";
}

INSTANTIATE_TEST_SUITE_P(SharedSamples, ConformanceSamples, testing::ValuesIn(SampleFolders()),
                         [](const auto& test) { return test.param; });

} // namespace
} // namespace polyvant
