#pragma once
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <QString>
#include <QTemporaryDir>

#include "app/UiServices.h"
#include "plugins/PluginManager.h"
#include "plugins/ui/DialogHost.h"
#include "plugins/ui/GuiHostBackend.h"

namespace polyvant::test {

// The QApplication the widgets need, made once for the whole test program.
void EnsureApplication();

// Message boxes are recorded; file prompts take their answers from a queue ("" or an
// empty queue = cancelled); modal dialogs the services open go to `dialogs` when set.
class UiRecorder {
public:
    struct Box {
        QString text;
        QString caption;
    };
    UiRecorder();
    ~UiRecorder();

    std::vector<Box> boxes;
    std::deque<QString> answers;
    std::vector<FileDialogRequest> requests;
    DialogRunner dialogs;
};

// A plug-in directory holding the named libraries, loaded with the GUI services, and
// an application state over it. Names are fixture libraries ("fixture_import.so") or,
// with a leading "bin:", shipped plug-ins ("bin:obj.so").
class PluginScene {
public:
    explicit PluginScene(const std::vector<std::string>& files);
    ~PluginScene();

    std::string TempPath(const std::string& name, const char* contents = nullptr) const;
    // Selects the import and export classes of that name.
    void Select(const char* className);
    // Appends a class made by the test to the import table and selects it.
    void AddImportClass(ClassDescriptor* descriptor);
    void AddLight();

    GuiHostBackend services;
    std::unique_ptr<PluginManager> plugins;
    std::vector<int> importClasses, exportClasses;
    int currentImport = 0, currentExport = 0;
    ObjectList* sceneObjects = nullptr;
    ObjectList* importers = nullptr;
    ObjectList* lights = nullptr;
    int clearFlag = 1;
    int meshCount = 0, faceCount = 0, vertexCount = 0;
    QString title;
    SceneFieldsHost host;

private:
    QTemporaryDir pluginDir, workDir;
};

// An import class without a library, for results no fixture hands over interactively:
// an empty list, or a good and a broken mesh (a face index past its vertices).
class TestImportClass : public ClassDescriptor {
public:
    enum Mode { kEmpty, kOneBrokenMesh };
    TestImportClass(Mode mode, GuiHostBackend& services) : mode(mode), services(services) {}
    int ClassPublicFlag() noexcept override { return 1; }
    PluginObject* Create() noexcept override;
    const char* ClassName() noexcept override { return "Test (*.tst)"; }
    std::uint32_t SuperClassID() noexcept override { return kImportSuperClassId; }
    std::uint32_t ClassID() noexcept override { return 0x7E000001; }

    Mode mode;
    GuiHostBackend& services;
    int released = 0;
};

} // namespace polyvant::test
