#pragma once
#include <memory>

#include <QMdiArea>

#include "SceneInput.h"
#include "ViewHost.h"

class QMdiSubWindow;

namespace polyvant {
class GLViewWnd;
}

// The main view: four OpenGL panes in a 2 x 2 grid, their render modes and the
// commands that work on the whole scene. The application reaches it through
// CMyPolyvantApp::activeView, which the view sets when it is created.
class CMyPolyvantView : public QMdiArea {
    Q_OBJECT
public:
    explicit CMyPolyvantView(QWidget* parent = nullptr);
    // A view on another host than the application (tests).
    CMyPolyvantView(polyvant::ViewHost& host, QWidget* parent);
    ~CMyPolyvantView() override;

    // Shows the current scene anew: scene box, lights, status counts, fresh panes,
    // display lists, cameras. Reports an empty scene itself, and a build OpenGL cannot
    // complete in one message box (the panes are removed then).
    virtual void BuildViews();
    // Removes the panes (an import that left the scene empty).
    virtual void DestroyPanes();
    // Writes the pane modes and the titles switch into the settings record.
    virtual void StoreSettings();

    // Count panes of the status bar: 59145 meshes, 59144 faces, 59143 vertices.
    void SetStatusCount(int indicatorId, int value);
    // Light index of the light list changed in the light dialog; only pane 3 is lit.
    void LightChanged(int paneIndex, int mode, int lightIndex);

    // Pane commands; each acts on the pane under the mouse cursor.
    void OnRenderMode(int mode);
    void OnToggleNormals();
    void OnResetView();
    void OnMaximizePane();

    void ToggleMaximize(polyvant::GLViewWnd* pane);
    polyvant::GLViewWnd* PaneUnderCursor() const;
    bool IsPane(const QWidget* window) const;
    void ApplyTitleStyle();

    // Modes and titles as the View Options dialog edits them.
    polyvant::ViewModes Modes() const { return m_modes; }
    void SetModes(const polyvant::ViewModes& modes);
    // The View Options dialog closed with OK: the pairs go to the panes, which repaint;
    // a changed titles switch restyles the pane frames instead.
    void ApplyViewOptions(const polyvant::ViewModes& modes);

    bool PanesCreated() const noexcept { return m_panesCreated; }
    bool IsBuilding() const noexcept { return m_building; }
    // Pane by index 0 Top, 1 Side, 2 Front, 3 User; null without panes.
    polyvant::GLViewWnd* Pane(int index) const;
    QMdiSubWindow* PaneWindow(int index) const;
    polyvant::GLViewWnd* MaximizedPane() const noexcept { return m_maximizedPane; }
    const polyvant::GLSceneInput& Scene() const noexcept { return m_scene; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateActions();
    void CreatePanes();
    void LayoutPanes(bool afterResize);
    bool RunBuild();
    void ReportFirstFrameAndQuit();
    // Ends the build's background list compilation; a failure removes the panes with
    // its message.
    void FinishBackgroundLists();
    void BuildFailed(const QString& reason);

    polyvant::ViewHost& m_host;
    polyvant::ViewModes m_modes;
    bool m_panesCreated = false;
    QMdiSubWindow* m_windows[4] = {nullptr, nullptr, nullptr, nullptr};
    polyvant::GLViewWnd* m_panes[4] = {nullptr, nullptr, nullptr, nullptr};
    polyvant::GLViewWnd* m_maximizedPane = nullptr;
    polyvant::GLSceneInput m_scene;
    bool m_building = false;
    bool m_rebuildPending = false;
};
