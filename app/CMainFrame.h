#pragma once
#include <functional>
#include <map>

#include <QMainWindow>

class QLabel;
class QMimeData;
class CMyPolyvantView;
class CMyPolyvantApp;

// Command ids of the menu items and keys; actions carry them as data.
namespace polyvant::command {
inline constexpr int kImport = 33772;
inline constexpr int kExport = 33773;
inline constexpr int kStatistic = 33774;
inline constexpr int kOptions = 33775;
inline constexpr int kLightSetup = 32822;
inline constexpr int kViewOptions = 32805;
inline constexpr int kOpenGLInfo = 32802;
inline constexpr int kAbout = 57664;
inline constexpr int kExit = 57665;
inline constexpr int kHelpIndex = 57667;
inline constexpr int kHelp = 57670;
inline constexpr int kContextHelp = 57669;
// Status bar count panes.
inline constexpr int kMeshIndicator = 59145;
inline constexpr int kFaceIndicator = 59144;
inline constexpr int kVertexIndicator = 59143;
} // namespace polyvant::command

// The program's one top-level window: menus, keys, the status bar with its message
// pane and "M:", "F:", "V:" counts, dropped files. Closing it only hides it; the
// application object destroys it in ExitInstance after the view stored its settings.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(CMyPolyvantApp& app, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Creates the main view as the central widget. The view registers itself as the
    // application's activeView. Until the view exists, nothing is created here.
    void createView();

    // The action of a command id, or null.
    QAction* Action(int commandId) const;
    // Routes a command to handler; the main view installs its own for Import, Export,
    // Statistics, Light Setup, View Options and OpenGL info.
    void SetCommandHandler(int commandId, std::function<void()> handler);

    // Pane 0, repainted at once.
    void SetMessageText(const QString& text);
    QString MessageText() const;
    // Writes "M:%d" / "F:%d" / "V:%d" into the pane of the indicator id, repainted at once.
    void SetCount(int indicatorId, int value);
    QString CountText(int indicatorId) const;

    // Opens the first local file of a drop (queued until the loop is idle); false
    // when the drop holds none.
    bool OpenDroppedFiles(const QMimeData* mime);

    void ShowHelpIndex();
    void EnterContextHelp();

protected:
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createStatusBar();
    QAction* addCommand(int id, const char* text, const char* objectName, const char* prompt,
                        const QKeySequence& key);
    void runCommand(int id);
    QAction* menuEntry(int id);

    CMyPolyvantApp& m_app;
    QLabel* m_message = nullptr;
    std::map<int, QLabel*> m_counts;
    std::map<int, QAction*> m_actions;
    std::map<int, std::function<void()>> m_handlers;
    QWidget* m_help = nullptr;
};

// printf-style text into pane 0 of the main window's status bar; nothing when there is
// no main window. No length limit.
void SetStatusText(const char* format, ...) __attribute__((format(printf, 1, 2)));
