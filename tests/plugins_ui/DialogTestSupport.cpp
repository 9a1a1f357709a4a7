#include "DialogTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <QApplication>
#include <QFile>

#include "fixtures/FixtureSupport.h"

namespace polyvant::test {

void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "plugins_ui_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

UiRecorder::UiRecorder()
{
    EnsureApplication();
    SetMessageBoxFunction([this](const QString& text, const QString& caption) {
        boxes.push_back({text, caption});
    });
    SetFileDialogFunction([this](const FileDialogRequest& request) {
        requests.push_back(request);
        QString answer;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        return answer;
    });
    SetDialogRunner([this](QDialog& dialog) { return dialogs ? dialogs(dialog) : 0; });
}

UiRecorder::~UiRecorder()
{
    SetMessageBoxFunction({});
    SetFileDialogFunction({});
    SetDialogRunner({});
}

PluginScene::PluginScene(const std::vector<std::string>& files)
{
    for (const std::string& file : files) {
        const bool shipped = file.rfind("bin:", 0) == 0;
        const std::string name = shipped ? file.substr(4) : file;
        QFile::link(QString::fromStdString((shipped ? POLYVANT_PLUGIN_DIR : POLYVANT_FIXTURE_DIR) +
                                           ("/" + name)),
                    pluginDir.filePath(QString::fromStdString(name)));
    }
    plugins = std::make_unique<PluginManager>();
    plugins->SetHostServices(services.Table());
    plugins->ScanDirectory(pluginDir.path().toLocal8Bit().constData(), kPluginInterfaceVersion);
    for (int i = 0; i < plugins->ClassCount(); ++i) {
        const std::uint32_t kind = plugins->GetClass(i)->SuperClassID();
        (kind == kImportSuperClassId ? importClasses : exportClasses).push_back(i);
    }
    sceneObjects = new ObjectList(nullptr);
    importers = new ObjectList(ReleaseImporterItem);
    lights = new ObjectList(DeleteSceneObject);
    // Without export classes imports are unavailable too, as at start-up.
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
    host.setTitle = [this](const QString& text) { title = text; };
}

PluginScene::~PluginScene()
{
    // Objects before their importers, importers before their libraries.
    delete sceneObjects;
    delete importers;
    delete lights;
    plugins.reset();
}

std::string PluginScene::TempPath(const std::string& name, const char* contents) const
{
    const std::string path = workDir.filePath(QString::fromStdString(name)).toStdString();
    if (contents)
        std::ofstream(path) << contents;
    return path;
}

void PluginScene::Select(const char* className)
{
    for (auto [table, current] :
         {std::pair{&importClasses, &currentImport}, std::pair{&exportClasses, &currentExport}})
        for (std::size_t i = 0; i < table->size(); ++i)
            if (std::strcmp(plugins->GetClass((*table)[i])->ClassName(), className) == 0)
                *current = int(i);
}

void PluginScene::AddImportClass(ClassDescriptor* descriptor)
{
    plugins->classList->Append(descriptor);
    importClasses.push_back(plugins->ClassCount() - 1);
    host.importTable.classes = importClasses.data();
    host.importTable.count = int(importClasses.size());
    currentImport = host.importTable.count - 1;
}

void PluginScene::AddLight()
{
    const double colour[3] = {1, 1, 1}, position[3] = {0, 0, 10}, target[3] = {0, 0, 0};
    lights->Append(new Light3d("light", colour, position, target, 45, 1));
}

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
            for (const char* name : {"good", "broken"})
                list.Append(meshes.emplace_back(fixture::MakeTetrahedron(name, 1.0)).get());
            meshes.back()->faceData[1] = meshes.back()->vertexCount; // one past the end
        }
        return &list;
    }
    ObjectList* ImportInteractive() noexcept override
    {
        char* path = cls.services.AskOpenFile("Import", cls.ClassName());
        ObjectList* result = path ? ImportFile(path) : nullptr;
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
    return new TestImporter(*this);
}

} // namespace polyvant::test

// Fontconfig keeps a cache for the life of the process; it is not ours to free.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
