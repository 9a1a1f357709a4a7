#pragma once
#include <QString>

class CMyPolyvantView;
class QWidget;

// What the main view needs from the application: the scene, the settings it copies,
// the status bar, message boxes. The program's adapter forwards to CMyPolyvantApp;
// tests hand the view their own.

namespace polyvant {

struct GLSceneInput;

// The titles switch and the (mode, fast mode) pair of each pane, Top, Side, Front, User.
struct ViewModes {
    int titles = 1;
    int modes[4][2] = {{1, 0}, {1, 0}, {1, 0}, {3, 1}};
};

class ViewHost {
public:
    virtual ~ViewHost() = default;
    // The view announces itself (activeView) when created and leaves when destroyed.
    virtual void Attach(CMyPolyvantView* view) = 0;
    virtual void Detach(CMyPolyvantView* view) = 0;
    // No scene list, or no object in it.
    virtual bool SceneEmpty() = 0;
    // Scene box, centre and (for an empty light list) the default lights; then the
    // scene, lights and box the panes draw.
    virtual void ComputeSceneBounds(GLSceneInput& out) = 0;
    virtual void Counts(int& meshes, int& faces, int& vertices) = 0;
    // "M:%d", "F:%d" or "V:%d" into the count pane of the indicator id, repainted now.
    virtual void SetCount(int indicatorId, int value) = 0;
    virtual ViewModes ReadModes() = 0;
    virtual void WriteModes(const ViewModes& modes) = 0;
    virtual void ShowMessage(const QString& text, const QString& caption) = 0;
    // The window the progress dialog disables while a build runs.
    virtual QWidget* MainWindow() = 0;
    // Held around a build: hand-offs and drops wait until it has ended.
    virtual void BeginBusy() = 0;
    virtual void EndBusy() = 0;
};

// The application's host; defined by the program's adapter (AppViewHost.cpp).
ViewHost& DefaultViewHost();

} // namespace polyvant
