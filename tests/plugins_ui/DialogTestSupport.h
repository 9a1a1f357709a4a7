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

// Message boxes and file dialogs answered by the test: every message is recorded,
// file prompts take their answers from a queue ("" = cancelled, also when empty).
class UiRecorder {
public:
    struct Box {
        QString text;
        QString caption;
    };
    UiRecorder();
    ~UiRecorder();
    UiRecorder(const UiRecorder&) = delete;
    UiRecorder& operator=(const UiRecorder&) = delete;

    std::vector<Box> boxes;
    std::deque<QString> answers;
    std::vector<FileDialogRequest> requests;

private:
    MessageBoxFunction previousBox;
    FileDialogFunction previousFile;
};

// Answers every modal dialog the services open with the given function.
class DialogAnswer {
public:
    explicit DialogAnswer(DialogRunner runner);
    ~DialogAnswer();

private:
    DialogRunner previous;
};

// A plug-in directory holding the named libraries (links), loaded with the GUI
// services, and an application state over it: class tables, scene, importers, lights.
class PluginScene {
public:
    // files: names in the fixture directory ("fixture_import.so") or, with a leading
    // "bin:", in the build's plug-in directory ("bin:obj.so").
    explicit PluginScene(const std::vector<std::string>& files);
    ~PluginScene();

    std::string TempPath(const std::string& name) const;
    // Appends a class made by the test to the class list and the import table;
    // returns its table entry, which becomes the selected one.
    int AddImportClass(ClassDescriptor* descriptor);
    // Adds a light to the lights list, as building the views does.
    void AddLight();
    int ImporterCount() const { return importers->Count(); }
    int SceneCount() const { return sceneObjects->Count(); }
    int LightCount() const { return lights->Count(); }

    GuiHostBackend services;
    std::unique_ptr<PluginManager> plugins;
    std::vector<int> importClasses;
    std::vector<int> exportClasses;
    int currentImport = 0;
    int currentExport = 0;
    ObjectList* sceneObjects = nullptr;
    ObjectList* importers = nullptr;
    ObjectList* lights = nullptr;
    int clearFlag = 1;
    int meshCount = 0;
    int faceCount = 0;
    int vertexCount = 0;
    QString title;
    SceneFieldsHost host;

private:
    QTemporaryDir pluginDir;
    QTemporaryDir workDir;
};

} // namespace polyvant::test

namespace polyvant::test {
// The QApplication the widgets need, made once for the whole test program.
void EnsureApplication();
} // namespace polyvant::test

namespace polyvant::test {

// An import class made in the test (no library), for results no fixture library
// hands over interactively. Asks for the file through the services it is given.
class TestImportClass : public ClassDescriptor {
public:
    enum Mode { kEmpty, kOneBrokenMesh, kNoObject };
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
