#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include <QObject>
#include <QString>
#include <QStringList>

class CMainFrame;
class CMyPolyvantView;

namespace polyvant {
class ClassDescriptor;
class GuiHostBackend;
class HandoffQueue;
class ObjectList;
class PluginManager;
class Settings;
class SingleInstance;
} // namespace polyvant

// The application object and home of the scene. main() makes one, calls InitInstance,
// runs the event loop and calls ExitInstance; other parts reach it through GetApp().
class CMyPolyvantApp : public QObject {
    Q_OBJECT
public:
    struct StartOptions {
        QStringList arguments;         // as argv, arguments[0] the program
        std::string appKeyName;        // "" = base name of the program file
        std::string defaultPluginPath; // "" = plugin/ beside the program
        bool singleInstance = true;
        bool showWindow = true;
        bool verbose = false; // "--verbose": one line on stdout per file opened
    };

    explicit CMyPolyvantApp(StartOptions options);
    ~CMyPolyvantApp() override;

    // False ends the program at once (a later start that handed its file over);
    // ExitInstance must still run.
    bool InitInstance();
    // Tears down (idempotent) and returns the exit code.
    int ExitInstance();

    // Imports path through the class its extension selects. Returns true when the
    // import yielded objects (the scene was then replaced or extended).
    bool OpenModelFile(const std::string& path);
    bool FindImportClass(const std::string& path, int& position) const;
    void ClearScene();
    void ClearLights();
    void UpdateSceneCounts();
    void ComputeSceneBounds();

    // A file handed over, dropped, or named on the command line at run time: queued
    // until no dialog, build or plug-in call runs; then imported and shown.
    void QueueOpen(const QString& path);
    // The "Options" command: the configuration dialog.
    void OnOptions();
    void OnAppAbout();
    // Lets the view write its pane modes into the settings, then saves them now
    // (the desktop session is ending).
    void SaveSettingsNow();

    CMainFrame* MainFrame() const noexcept { return m_frame; }
    polyvant::GuiHostBackend* HostServices() const noexcept { return m_hostServices.get(); }
    const QString& CommandLineFile() const noexcept { return m_commandLineFile; }
    // A termination signal arrived; main() must not enter the event loop.
    bool QuitRequested() const noexcept { return m_quitRequested; }

    int initialised = 0;
    CMyPolyvantView* activeView = nullptr;
    polyvant::ObjectList* lights = nullptr;
    polyvant::ObjectList* sceneObjects = nullptr;
    polyvant::ObjectList* importers = nullptr;
    polyvant::Settings* settings = nullptr;
    int* importClasses = nullptr;
    int importClassCount = 0;
    int currentImport = 0;
    int importsAvailable = 0;
    int* exportClasses = nullptr;
    int exportClassCount = 0;
    int currentExport = 0;
    int exportsAvailable = 0;
    polyvant::PluginManager* pluginManager = nullptr;
    int faceCount = 0;
    int vertexCount = 0;
    int meshCount = 0;
    double sceneMin[3] = {0, 0, 0};
    double sceneMax[3] = {0, 0, 0};
    double sceneCenter[3] = {0, 0, 0};

private:
    // The notice to show, or "" when the stored plug-in path served or nothing else did.
    std::string FallBackOnPluginsBesideProgram(const std::string& besideProgram);
    bool BuildClassTables();
    void RunHandOff(const QString& path);
    void BuildViewsIfAny();
    void StoreViewSettings();
    void InstallSignalHandlers();
    void Log(const QString& line) const;

    StartOptions m_options;
    QString m_commandLineFile;
    CMainFrame* m_frame = nullptr;
    std::unique_ptr<polyvant::GuiHostBackend> m_hostServices;
    std::unique_ptr<polyvant::SingleInstance> m_instance;
    std::unique_ptr<polyvant::HandoffQueue> m_queue;
    bool m_viewSettingsStored = false;
    bool m_exited = false;
    bool m_quitRequested = false;
    int m_exitCode = 0;
};

// The one application object, or null before it exists and after it is gone.
CMyPolyvantApp* GetApp() noexcept;

// The file named on a command line: the first argument that is not a switch ("-x";
// "--" ends the switches), made absolute against the current directory. "" if none.
QString CommandLineFileName(const QStringList& arguments);

// The default plug-in directory for a program at programPath: plugin/ beside it, or,
// for an installed program without one, the installed plug-in directory.
std::string DefaultPluginPath(const std::string& programPath);
