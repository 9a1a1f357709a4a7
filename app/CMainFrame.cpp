#include "CMainFrame.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>
#include <QWhatsThis>

#include "CMyPolyvantApp.h"
#include "HelpWindow.h"
#include "ProgramIcon.h"
#include "Strings.h"
#include "UiServices.h"
#include "view/CMyPolyvantView.h"
#include "view/ViewCommands.h"

using namespace polyvant;

namespace {

QString FirstLocalFile(const QMimeData* mime)
{
    if (!mime)
        return {};
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            return url.toLocalFile();
    return {};
}

} // namespace

CMainFrame::CMainFrame(CMyPolyvantApp& app, QWidget* parent) : QMainWindow(parent), m_app(app)
{
    setObjectName(QStringLiteral("mainFrame"));
    createActions();
    createMenus();
    createStatusBar();
    setAcceptDrops(true);
    // Dialogs without an icon of their own, the About box among them, take this one.
    QApplication::setWindowIcon(polyvant::ProgramIcon());
    setMinimumSize(150, 200);
    resize(800, 600);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::createView()
{
    // The view registers itself as the application's activeView.
    auto* view = new CMyPolyvantView(this);
    setCentralWidget(view);
    polyvant::InstallViewCommands(*this);
}

QAction* CMainFrame::addCommand(int id, const char* text, const char* objectName,
                                const char* prompt, const QKeySequence& key)
{
    auto* action = new QAction(QString::fromLatin1(text), this);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setData(id);
    if (prompt) {
        // Before the line break the status-bar prompt, after it the short tip.
        const QStringList parts = QString::fromLatin1(prompt).split(QLatin1Char('\n'));
        action->setStatusTip(parts.front());
        action->setWhatsThis(parts.front()); // what context help shows for the item
        if (parts.size() > 1)
            action->setToolTip(parts[1]);
    }
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::ApplicationShortcut);
    }
    connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
    addAction(action); // keys work without the menu open
    m_actions[id] = action;
    return action;
}

void CMainFrame::createActions()
{
    using namespace polyvant::command;
    addCommand(kImport, text::kItemImport, "importAction", text::kPromptImport,
               QKeySequence(Qt::Key_F3));
    addCommand(kExport, text::kItemExport, "exportAction", nullptr, QKeySequence(Qt::Key_F2));
    addCommand(kExit, text::kItemExit, "exitAction", text::kPromptExit,
               QKeySequence(Qt::ALT | Qt::Key_F4));
    addCommand(kStatistic, text::kItemStatistic, "statisticAction", text::kPromptStatistic,
               QKeySequence(Qt::Key_F8));
    addCommand(kOptions, text::kItemOptions, "optionsAction", text::kPromptOptions, {});
    addCommand(kLightSetup, text::kItemLightSetup, "lightSetupAction", nullptr,
               QKeySequence(Qt::Key_F5));
    addCommand(kViewOptions, text::kItemViewOptions, "viewOptionsAction", nullptr,
               QKeySequence(Qt::Key_F7));
    addCommand(kHelpIndex, text::kItemHelp, "helpIndexAction", text::kPromptHelp, {});
    addCommand(kOpenGLInfo, text::kItemOpenGLInfo, "openGLInfoAction", nullptr, {});
    addCommand(kAbout, text::kItemAbout, "aboutAction", text::kPromptAbout, {});
    addCommand(kHelp, "Help", "helpAction", nullptr, QKeySequence(Qt::Key_F1));
    addCommand(kContextHelp, "Context Help", "contextHelpAction", nullptr,
               QKeySequence(Qt::SHIFT | Qt::Key_F1));

    // The defaults until the main view takes these commands over.
    for (int id : {kImport, kExport, kStatistic, kLightSetup, kViewOptions, kOpenGLInfo})
        m_handlers[id] = [] {
            ShowMessage(QString::fromLatin1(text::kNotAvailableYet),
                        QString::fromLatin1(text::kCaptionInfo));
        };
    m_handlers[kOptions] = [this] { m_app.OnOptions(); };
    m_handlers[kAbout] = [this] { m_app.OnAppAbout(); };
    m_handlers[kExit] = [this] { close(); };
    m_handlers[kHelpIndex] = [this] { ShowHelpIndex(); };
    m_handlers[kHelp] = [this] { ShowHelpIndex(); };
    m_handlers[kContextHelp] = [this] { EnterContextHelp(); };
}

// The menu texts name their keys already, "&Import (F3)...": a menu entry of its own
// without the shortcut keeps the menu from showing the key a second time.
QAction* CMainFrame::menuEntry(int id)
{
    QAction* action = m_actions.at(id);
    if (action->shortcut().isEmpty())
        return action;
    auto* entry = new QAction(action->text(), this);
    entry->setObjectName(action->objectName() + QStringLiteral("MenuEntry"));
    entry->setStatusTip(action->statusTip());
    entry->setWhatsThis(action->whatsThis());
    entry->setToolTip(action->toolTip());
    connect(entry, &QAction::triggered, action, &QAction::trigger);
    return entry;
}

void CMainFrame::createMenus()
{
    using namespace polyvant::command;
    QMenu* file = menuBar()->addMenu(QString::fromLatin1(text::kMenuFile));
    file->addAction(menuEntry(kImport));
    file->addAction(menuEntry(kExport));
    file->addSeparator();
    file->addAction(menuEntry(kExit));
    QMenu* edit = menuBar()->addMenu(QString::fromLatin1(text::kMenuEdit));
    edit->addAction(menuEntry(kStatistic));
    edit->addAction(menuEntry(kOptions));
    edit->addAction(menuEntry(kLightSetup));
    QMenu* views = menuBar()->addMenu(QString::fromLatin1(text::kMenuViews));
    views->addAction(menuEntry(kViewOptions));
    QMenu* help = menuBar()->addMenu(QString::fromLatin1(text::kMenuHelp));
    help->addAction(menuEntry(kHelpIndex));
    help->addSeparator();
    help->addAction(menuEntry(kOpenGLInfo));
    help->addAction(menuEntry(kAbout));
}

void CMainFrame::createStatusBar()
{
    using namespace polyvant::command;
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    m_message = new QLabel(bar);
    m_message->setObjectName(QStringLiteral("messagePane"));
    bar->addWidget(m_message, 1);
    const std::pair<int, const char*> panes[] = {{kMeshIndicator, text::kMeshPaneInit},
                                                 {kFaceIndicator, text::kFacePaneInit},
                                                 {kVertexIndicator, text::kVertexPaneInit}};
    for (const auto& [id, init] : panes) {
        auto* label = new QLabel(QString::fromLatin1(init).trimmed(), bar);
        label->setObjectName(QStringLiteral("countPane%1").arg(id));
        // The 12-character initial text fixes the pane's width.
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QString::fromLatin1(init)));
        bar->addPermanentWidget(label);
        m_counts[id] = label;
    }
    // When a menu prompt goes away, pane 0 shows the idle prompt.
    connect(bar, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            m_message->setText(QString::fromLatin1(text::kIdlePrompt));
    });
}

QAction* CMainFrame::Action(int commandId) const
{
    const auto it = m_actions.find(commandId);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::SetCommandHandler(int commandId, std::function<void()> handler)
{
    m_handlers[commandId] = std::move(handler);
}

void CMainFrame::runCommand(int id)
{
    const auto it = m_handlers.find(id);
    if (it != m_handlers.end() && it->second)
        it->second();
}

void CMainFrame::SetMessageText(const QString& text)
{
    m_message->setText(text);
    statusBar()->repaint();
}

QString CMainFrame::MessageText() const
{
    return m_message->text();
}

void CMainFrame::SetCount(int indicatorId, int value)
{
    const auto it = m_counts.find(indicatorId);
    if (it == m_counts.end())
        return;
    const char* format = indicatorId == command::kMeshIndicator   ? text::kMeshCountFormat
                         : indicatorId == command::kFaceIndicator ? text::kFaceCountFormat
                                                                  : text::kVertexCountFormat;
    it->second->setText(QString::fromLatin1(format).arg(value));
    statusBar()->repaint();
}

QString CMainFrame::CountText(int indicatorId) const
{
    const auto it = m_counts.find(indicatorId);
    return it == m_counts.end() ? QString() : it->second->text();
}

void CMainFrame::ShowHelpIndex()
{
    if (!m_help)
        m_help = new HelpWindow(this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void CMainFrame::EnterContextHelp()
{
    SetMessageText(QString::fromLatin1(text::kContextHelpPrompt));
    QWhatsThis::enterWhatsThisMode();
}

bool CMainFrame::event(QEvent* event)
{
    // The mode ends by a click or Escape; top-level windows are told.
    if (event->type() == QEvent::LeaveWhatsThisMode)
        SetMessageText(QString::fromLatin1(text::kIdlePrompt));
    return QMainWindow::event(event);
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (!FirstLocalFile(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    if (OpenDroppedFiles(event->mimeData()))
        event->acceptProposedAction();
}

bool CMainFrame::OpenDroppedFiles(const QMimeData* mime)
{
    const QString path = FirstLocalFile(mime);
    if (path.isEmpty())
        return false;
    // Only the first file of a drop is opened; it waits if a dialog is open.
    m_app.QueueOpen(path);
    raise();
    activateWindow();
    return true;
}

void SetStatusText(const char* format, ...)
{
    CMyPolyvantApp* app = GetApp();
    if (!app || !app->MainFrame() || !format)
        return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length < 0) {
        va_end(again);
        return;
    }
    std::vector<char> buffer(std::size_t(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    va_end(again);
    app->MainFrame()->SetMessageText(QString::fromUtf8(buffer.data(), length));
}
