// The main view's host in the program: the application object, its settings record,
// the main frame's status bar and the shell's message box and busy count.
#include <memory>
#include <vector>

#include <polyvant/ObjectList.h>

#include "CMyPolyvantView.h"
#include "ViewHost.h"
#include "app/CMainFrame.h"
#include "app/CMyPolyvantApp.h"
#include "app/Settings.h"
#include "app/UiServices.h"

namespace polyvant {

namespace {

class AppViewHost : public ViewHost {
public:
    void Attach(CMyPolyvantView* view) override
    {
        if (CMyPolyvantApp* app = GetApp()) {
            app->activeView = view;
        }
    }
    void Detach(CMyPolyvantView* view) override
    {
        CMyPolyvantApp* app = GetApp();
        if (app && app->activeView == view) {
            app->activeView = nullptr;
        }
    }
    bool SceneEmpty() override
    {
        CMyPolyvantApp* app = GetApp();
        return !app || !app->sceneObjects || app->sceneObjects->Count() == 0;
    }
    void ComputeSceneBounds(GLSceneInput& out) override
    {
        CMyPolyvantApp* app = GetApp();
        if (!app) {
            return;
        }
        app->ComputeSceneBounds();
        out.objects = app->sceneObjects;
        out.lights = app->lights;
        for (int i = 0; i < 3; ++i) {
            out.box.min[i] = app->sceneMin[i];
            out.box.max[i] = app->sceneMax[i];
            out.box.center[i] = app->sceneCenter[i];
        }
    }
    void Counts(int& meshes, int& faces, int& vertices) override
    {
        if (CMyPolyvantApp* app = GetApp()) {
            meshes = app->meshCount;
            faces = app->faceCount;
            vertices = app->vertexCount;
        }
    }
    void SetCount(int indicatorId, int value) override
    {
        CMyPolyvantApp* app = GetApp();
        if (app && app->MainFrame()) {
            app->MainFrame()->SetCount(indicatorId, value);
        }
    }
    ViewModes ReadModes() override
    {
        ViewModes m;
        CMyPolyvantApp* app = GetApp();
        if (!app || !app->settings) {
            return m;
        }
        const Settings& s = *app->settings;
        m.titles = s.view_title;
        m.modes[0][0] = s.vo_top, m.modes[0][1] = s.vo_top_fast;
        m.modes[1][0] = s.vo_side, m.modes[1][1] = s.vo_side_fast;
        m.modes[2][0] = s.vo_front, m.modes[2][1] = s.vo_front_fast;
        m.modes[3][0] = s.vo_user, m.modes[3][1] = s.vo_user_fast;
        return m;
    }
    void WriteModes(const ViewModes& m) override
    {
        CMyPolyvantApp* app = GetApp();
        if (!app || !app->settings) {
            return;
        }
        Settings& s = *app->settings;
        s.view_title = m.titles;
        s.vo_top = m.modes[0][0], s.vo_top_fast = m.modes[0][1];
        s.vo_side = m.modes[1][0], s.vo_side_fast = m.modes[1][1];
        s.vo_front = m.modes[2][0], s.vo_front_fast = m.modes[2][1];
        s.vo_user = m.modes[3][0], s.vo_user_fast = m.modes[3][1];
    }
    void ShowMessage(const QString& text, const QString& caption) override
    {
        polyvant::ShowMessage(text, caption);
    }
    QWidget* MainWindow() override
    {
        CMyPolyvantApp* app = GetApp();
        return app ? app->MainFrame() : nullptr;
    }
    void BeginBusy() override { m_busy.push_back(std::make_unique<BusyScope>()); }
    void EndBusy() override
    {
        if (!m_busy.empty()) {
            m_busy.pop_back();
        }
    }

private:
    std::vector<std::unique_ptr<BusyScope>> m_busy;
};

} // namespace

ViewHost& DefaultViewHost()
{
    static AppViewHost host;
    return host;
}

} // namespace polyvant
