// The main view's commands in the program: Import, Export, Statistics, Light Setup,
// View Options and OpenGL Info, reached through the main frame's menus and keys.
#include "ViewCommands.h"

#include <QString>

#include <polyvant/ObjectList.h>

#include "CMyPolyvantView.h"
#include "app/CMainFrame.h"
#include "app/CMyPolyvantApp.h"
#include "app/Settings.h"
#include "app/Strings.h"
#include "app/UiServices.h"
#include "dialogs/LightSetupDialog.h"
#include "dialogs/StatisticsDialog.h"
#include "dialogs/ViewOptionsDialog.h"
#include "gl/OpenGLInfoDialog.h"
#include "plugins/ui/DialogHost.h"
#include "plugins/ui/ExportDialog.h"
#include "plugins/ui/GuiHostBackend.h"
#include "plugins/ui/ImportDialog.h"

namespace polyvant {

namespace {

const char* const kNoMeshesToExport = "No meshes to export";
const char* const kCaptionExport = "Export";
const char* const kNoSceneToDisplay = "No scene to display";
const char* const kCaptionLightSetup = "Light Setup";

// The Import and Export dialogs on the application's own fields and bookkeeping.
class AppDialogHost : public DialogHost {
public:
    explicit AppDialogHost(CMyPolyvantApp& app) : m_app(app) {}

    PluginManager* Plugins() override { return m_app.pluginManager; }
    ClassTable ImportTable() override
    {
        return {m_app.importClasses, m_app.importClassCount, &m_app.currentImport,
                m_app.importsAvailable == 1};
    }
    ClassTable ExportTable() override
    {
        return {m_app.exportClasses, m_app.exportClassCount, &m_app.currentExport,
                m_app.exportsAvailable == 1};
    }
    ObjectList* SceneObjects() override { return m_app.sceneObjects; }
    bool ClearFlag() override { return m_app.settings && m_app.settings->clear_flag != 0; }
    void ClearScene() override { m_app.ClearScene(); }
    void ClearLights() override { m_app.ClearLights(); }
    void AddToScene(Obj3d* object) override
    {
        if (m_app.sceneObjects)
            m_app.sceneObjects->Append(object);
    }
    void KeepImporter(Importer* importer) override
    {
        if (m_app.importers)
            m_app.importers->Append(importer);
        else
            importer->Release();
    }
    void UpdateSceneCounts() override { m_app.UpdateSceneCounts(); }
    void SetTitle(const QString& title) override
    {
        if (m_app.MainFrame())
            m_app.MainFrame()->setWindowTitle(title);
    }

private:
    CMyPolyvantApp& m_app;
};

bool SceneEmpty(const CMyPolyvantApp& app)
{
    return !app.sceneObjects || app.sceneObjects->Count() == 0;
}

void OnImport(CMyPolyvantApp& app, CMyPolyvantView& view)
{
    AppDialogHost host(app);
    if (!RunImportDialog(host, app.HostServices(), app.MainFrame()))
        return;
    // An import that left the scene empty removes the panes silently; the dialog has
    // already said what happened.
    if (SceneEmpty(app))
        view.DestroyPanes();
    else
        view.BuildViews();
}

void OnExport(CMyPolyvantApp& app)
{
    if (SceneEmpty(app)) {
        ShowMessage(QString::fromLatin1(kNoMeshesToExport), QString::fromLatin1(kCaptionExport));
        return;
    }
    AppDialogHost host(app);
    RunExportDialog(host, app.HostServices(), app.MainFrame());
}

void OnStatistic(CMyPolyvantApp& app, CMyPolyvantView& view)
{
    // The dialog refuses an empty scene itself ("No meshes to explore").
    if (StatisticsDialog::Run(app.sceneObjects, app.MainFrame()) == StatisticsDialog::kFlipResult)
        view.BuildViews();
}

void OnLightSetup(CMyPolyvantApp& app, CMyPolyvantView& view)
{
    if (SceneEmpty(app)) {
        ShowMessage(QString::fromLatin1(kNoSceneToDisplay),
                    QString::fromLatin1(kCaptionLightSetup));
        return;
    }
    LightSetupDialog::Run(
        app.lights, [&view](int lightIndex) { view.LightChanged(3, 0, lightIndex); },
        app.MainFrame());
}

void OnViewOptions(CMyPolyvantApp& app, CMyPolyvantView& view)
{
    const ViewModes modes = view.Modes();
    ViewOptionsDialog dialog(app.MainFrame());
    for (int pane = 0; pane < ViewOptionsDialog::kPaneCount; ++pane)
        dialog.SetModePair(pane, modes.modes[pane][0], modes.modes[pane][1]);
    dialog.SetTitles(modes.titles);
    BusyScope busy;
    if (dialog.exec() != QDialog::Accepted)
        return;
    ViewModes chosen;
    for (int pane = 0; pane < ViewOptionsDialog::kPaneCount; ++pane) {
        chosen.modes[pane][0] = dialog.Mode(pane);
        chosen.modes[pane][1] = dialog.FastMode(pane);
    }
    chosen.titles = dialog.Titles();
    view.ApplyViewOptions(chosen);
}

void OnOpenGLInfo(CMyPolyvantApp& app)
{
    OpenGLInfoDialog dialog(app.MainFrame());
    BusyScope busy;
    dialog.exec();
}

} // namespace

void InstallViewCommands(CMainFrame& frame)
{
    // The handlers find the application and its view when they run: the view is
    // destroyed with the frame, and a command without a view does nothing.
    const auto withView = [](void (*command)(CMyPolyvantApp&, CMyPolyvantView&)) {
        return [command] {
            CMyPolyvantApp* app = GetApp();
            if (app && app->activeView)
                command(*app, *app->activeView);
        };
    };
    const auto withApp = [](void (*command)(CMyPolyvantApp&)) {
        return [command] {
            if (CMyPolyvantApp* app = GetApp())
                command(*app);
        };
    };
    frame.SetCommandHandler(command::kImport, withView(OnImport));
    frame.SetCommandHandler(command::kExport, withApp(OnExport));
    frame.SetCommandHandler(command::kStatistic, withView(OnStatistic));
    frame.SetCommandHandler(command::kLightSetup, withView(OnLightSetup));
    frame.SetCommandHandler(command::kViewOptions, withView(OnViewOptions));
    frame.SetCommandHandler(command::kOpenGLInfo, withApp(OnOpenGLInfo));
}

} // namespace polyvant
