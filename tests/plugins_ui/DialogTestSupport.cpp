#include "DialogTestSupport.h"

#include <cstdlib>
#include <cstring>

#include <QFile>

#include <polyvant/CheckedAlloc.h>
#include <polyvant/Obj3d.h>

namespace polyvant::test {

UiRecorder::UiRecorder()
{
    previousBox = SetMessageBoxFunction([this](const QString& text, const QString& caption) {
        boxes.push_back({text, caption});
    });
    previousFile = SetFileDialogFunction([this](const FileDialogRequest& request) {
        requests.push_back(request);
        if (answers.empty())
            return QString();
        QString answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

UiRecorder::~UiRecorder()
{
    SetMessageBoxFunction(previousBox);
    SetFileDialogFunction(previousFile);
}

DialogAnswer::DialogAnswer(DialogRunner runner) : previous(SetDialogRunner(std::move(runner))) {}

DialogAnswer::~DialogAnswer()
{
    SetDialogRunner(previous);
}

PluginScene::PluginScene(const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        const bool shipped = file.rfind("bin:", 0) == 0;
        const std::string name = shipped ? file.substr(4) : file;
        const std::string source =
            std::string(shipped ? POLYVANT_PLUGIN_DIR : POLYVANT_FIXTURE_DIR) + "/" + name;
        QFile::link(QString::fromStdString(source),
                    pluginDir.filePath(QString::fromStdString(name)));
    }
    plugins = std::make_unique<PluginManager>();
    plugins->SetHostServices(services.Table());
    plugins->ScanDirectory(pluginDir.path().toLocal8Bit().constData(), kPluginInterfaceVersion);
    for (int i = 0; i < plugins->ClassCount(); ++i) {
        const std::uint32_t kind = plugins->GetClass(i)->SuperClassID();
        if (kind == kImportSuperClassId)
            importClasses.push_back(i);
        else if (kind == kExportSuperClassId)
            exportClasses.push_back(i);
    }
    sceneObjects = new ObjectList(nullptr);
    importers = new ObjectList(ReleaseImporterItem);
    lights = new ObjectList(DeleteSceneObject);

    const bool usable = !importClasses.empty() && !exportClasses.empty();
    host.pluginManager = plugins.get();
    host.importTable = {importClasses.data(), int(importClasses.size()), &currentImport, usable};
    host.exportTable = {exportClasses.data(), int(exportClasses.size()), &currentExport, usable};
    host.sceneObjects = &sceneObjects;
    host.importers = &importers;
    host.lights = &lights;
    host.clearFlag = &clearFlag;
    host.meshCount = &meshCount;
    host.faceCount = &faceCount;
    host.vertexCount = &vertexCount;
    host.title = &title;
}

PluginScene::~PluginScene()
{
    // The scene's objects belong to the importers, whose code lives in the libraries.
    delete sceneObjects;
    delete importers;
    delete lights;
    plugins.reset();
}

std::string PluginScene::TempPath(const std::string& name) const
{
    return workDir.filePath(QString::fromStdString(name)).toStdString();
}

int PluginScene::AddImportClass(ClassDescriptor* descriptor)
{
    plugins->classList->Append(descriptor);
    importClasses.push_back(plugins->ClassCount() - 1);
    host.importTable.classes = importClasses.data();
    host.importTable.count = int(importClasses.size());
    currentImport = host.importTable.count - 1;
    return currentImport;
}

void PluginScene::AddLight()
{
    const double colour[3] = {1, 1, 1}, position[3] = {0, 0, 10}, target[3] = {0, 0, 0};
    lights->Append(new Light3d("light", colour, position, target, 45, 1));
}

} // namespace polyvant::test

#include <QApplication>

namespace polyvant::test {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "plugins_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
    (void)app;
}

} // namespace polyvant::test

// Fontconfig keeps a cache for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}

namespace polyvant::test {
namespace {

class TestImporter final : public Importer {
public:
    explicit TestImporter(TestImportClass& cls) : cls(cls) {}
    void Release() noexcept override
    {
        ++cls.released;
        delete this;
    }
    void Help() noexcept override {}
    void Options() noexcept override {}
    ObjectList* ImportFile(const char* path) noexcept override
    {
        fileName = path;
        if (cls.mode == TestImportClass::kOneBrokenMesh) {
            for (const char* name : {"good", "broken"}) {
                auto mesh = std::make_unique<Mesh3d>(name, Mesh3d::kFlat);
                static const std::uint32_t kFace[4] = {0, 1, 2, 0};
                mesh->vertexData = static_cast<double*>(CheckedMalloc(9 * sizeof(double)));
                mesh->faceData = static_cast<std::uint32_t*>(CheckedMalloc(sizeof kFace));
                for (int i = 0; i < 9; ++i)
                    mesh->vertexData[i] = i == 0 || i == 4 ? 1.0 : 0.0;
                std::memcpy(mesh->faceData, kFace, sizeof kFace);
                mesh->vertexCount = std::string(name) == "broken" ? 2 : 3; // index 2 past the end
                mesh->faceCount = 1;
                list.Append(mesh.get());
                meshes.push_back(std::move(mesh));
            }
        }
        return &list;
    }
    ObjectList* ImportInteractive() noexcept override
    {
        char* path = cls.services.AskOpenFile("Import", cls.ClassName());
        if (!path)
            return nullptr;
        ObjectList* result = ImportFile(path);
        std::free(path);
        return result;
    }
    const char* GetFileName() noexcept override { return fileName.c_str(); }

private:
    TestImportClass& cls;
    std::string fileName;
    ObjectList list{nullptr};
    std::vector<std::unique_ptr<Mesh3d>> meshes;
};

} // namespace

PluginObject* TestImportClass::Create() noexcept
{
    if (mode == kNoObject)
        return nullptr;
    return new TestImporter(*this);
}

} // namespace polyvant::test
