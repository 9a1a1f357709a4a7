#include "CMyPolyvantView.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QMdiSubWindow>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "GLViewWnd.h"
#include "ProgressDialog.h"

using polyvant::GLViewWnd;

namespace {

// Whether this display gives OpenGL contexts at all: on a platform without OpenGL
// (Qt's offscreen platform, a broken driver) creating the panes would crash inside Qt,
// so the build says so instead.
bool OpenGLAvailable()
{
    static const bool available = [] {
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface))
            return false;
        context.doneCurrent();
        return true;
    }();
    return available;
}

// Pane indexes, as in the settings and the View Options dialog.
constexpr int kTop = 0;
constexpr int kSide = 1;
constexpr int kFront = 2;
constexpr int kUser = 3;

constexpr int kMeshIndicator = 59145;
constexpr int kFaceIndicator = 59144;
constexpr int kVertexIndicator = 59143;

const char* const kTextNoMeshes = "No meshes to display";
const char* const kCaptionInfo = "Info";
const char* const kCaptionError = "Error";

// Where the User pane's list compilation runs on the progress bar, between the
// positions 0 and 20 of the build steps.
constexpr int kCompileFirst = 1;
constexpr int kCompileLast = 19;

// What Shift+F1 and a click on a pane tell: how to move around in it.
QString PaneHelp(int index)
{
    const QString name = QString::fromLatin1(polyvant::ViewTitle(index));
    const QString moves =
        index == kUser
            ? QStringLiteral("Drag with the left button to move the scene across the floor, "
                             "Shift+drag to move it up and down, Ctrl+drag to turn it "
                             "(Ctrl+Shift+drag turns faster).")
            : QStringLiteral("Drag with the left button to move the scene.");
    return QStringLiteral("<b>%1</b><p>%2 Alt+drag up or down, or the mouse wheel, zooms.</p>"
                          "<p>Keys over the pane: 1 to 6 choose the render mode, N shows the "
                          "normals, R resets the view, Space maximises the pane.</p>")
        .arg(name, moves);
}

} // namespace

CMyPolyvantView::CMyPolyvantView(QWidget* parent)
    : CMyPolyvantView(polyvant::DefaultViewHost(), parent)
{
}

CMyPolyvantView::CMyPolyvantView(polyvant::ViewHost& host, QWidget* parent)
    : QMdiArea(parent), m_host(host)
{
    setObjectName(QStringLiteral("mainView"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_modes = m_host.ReadModes();
    CreateActions();
    m_host.Attach(this);
}

CMyPolyvantView::~CMyPolyvantView()
{
    StoreSettings();
    DestroyPanes();
    m_host.Detach(this);
}

void CMyPolyvantView::CreateActions()
{
    struct Key {
        const char* key;
        const char* name;
        std::function<void()> run;
    };
    const Key keys[] = {
        {"1", "renderBoxAction", [this] { OnRenderMode(polyvant::kModeBox); }},
        {"2", "renderEdgeAction", [this] { OnRenderMode(polyvant::kModeEdge); }},
        {"3", "renderWireAction", [this] { OnRenderMode(polyvant::kModeWire); }},
        {"4", "renderShadeAction", [this] { OnRenderMode(polyvant::kModeShade); }},
        {"5", "renderDoubleAction", [this] { OnRenderMode(polyvant::kModeDouble); }},
        {"6", "renderPointAction", [this] { OnRenderMode(polyvant::kModePoint); }},
        {"N", "toggleNormalsAction", [this] { OnToggleNormals(); }},
        {"R", "resetViewAction", [this] { OnResetView(); }},
        {"Space", "maximizePaneAction", [this] { OnMaximizePane(); }},
    };
    for (const Key& k : keys) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(k.name));
        action->setShortcut(QKeySequence(QString::fromLatin1(k.key)));
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, k.run);
        addAction(action);
    }
}

void CMyPolyvantView::SetModes(const polyvant::ViewModes& modes)
{
    m_modes = modes;
}

void CMyPolyvantView::ApplyViewOptions(const polyvant::ViewModes& modes)
{
    const bool titlesChanged = modes.titles != m_modes.titles;
    for (int i = 0; i < 4; ++i) {
        m_modes.modes[i][0] = modes.modes[i][0];
        m_modes.modes[i][1] = modes.modes[i][1];
    }
    if (m_panesCreated) {
        for (int index : {kTop, kSide, kFront, kUser}) {
            m_panes[index]->SetRenderModes(m_modes.modes[index][0], m_modes.modes[index][1]);
        }
        if (!titlesChanged) {
            for (int index : {kTop, kFront, kSide, kUser}) {
                m_panes[index]->Redraw();
            }
        } else {
            m_modes.titles = modes.titles;
            ApplyTitleStyle();
        }
    }
    m_modes.titles = modes.titles;
}

void CMyPolyvantView::StoreSettings()
{
    m_host.WriteModes(m_modes);
}

GLViewWnd* CMyPolyvantView::Pane(int index) const
{
    return m_panesCreated && index >= 0 && index < 4 ? m_panes[index] : nullptr;
}

QMdiSubWindow* CMyPolyvantView::PaneWindow(int index) const
{
    return m_panesCreated && index >= 0 && index < 4 ? m_windows[index] : nullptr;
}

void CMyPolyvantView::SetStatusCount(int indicatorId, int value)
{
    if (indicatorId == kMeshIndicator || indicatorId == kFaceIndicator ||
        indicatorId == kVertexIndicator) {
        m_host.SetCount(indicatorId, value);
    }
}

void CMyPolyvantView::CreatePanes()
{
    // Creation order and kinds: Top, Front, Side, User.
    const int order[4] = {kTop, kFront, kSide, kUser};
    for (int index : order) {
        auto* pane = new GLViewWnd(index, &m_scene);
        pane->HoldScene(true); // until its redraw step of the build
        pane->setObjectName(QStringLiteral("pane%1").arg(index));
        pane->setWhatsThis(PaneHelp(index));
        // The frame draws the pane's border when the sub-window has none (titles off).
        auto* frame = new QFrame;
        auto* layout = new QVBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(pane);
        auto* window = new QMdiSubWindow;
        window->setWidget(frame);
        // The four panes live as long as the view: the user may not close one.
        window->installEventFilter(this);
        window->setWindowTitle(QString::fromLatin1(polyvant::ViewTitle(index)));
        window->setObjectName(QStringLiteral("paneWindow%1").arg(index));
        addSubWindow(window);
        m_windows[index] = window;
        m_panes[index] = pane;
        if (index == kUser) {
            connect(pane, &GLViewWnd::BackgroundListsEnded, this, [this, pane] {
                if (m_panes[kUser] == pane && !m_building) {
                    FinishBackgroundLists();
                }
            });
        }
    }
    m_panesCreated = true;
    m_maximizedPane = nullptr;
    ApplyTitleStyle();
    LayoutPanes(false);
    for (QMdiSubWindow* window : m_windows) {
        window->show();
    }
}

void CMyPolyvantView::LayoutPanes(bool afterResize)
{
    const QRect client = viewport()->rect();
    const int right = client.right() + 1;
    const int bottom = client.bottom() + 1;
    const int w = std::max(1, right / 2 - 1);
    const int h = std::max(1, bottom / 2 - 1);
    const QRect upperLeft(0, 0, w, h);
    const QRect lowerLeft(0, bottom / 2 + 1, w, h);
    const QRect upperRight(right / 2 + 1, 0, w, h);
    const QRect lowerRight(right / 2 + 1, bottom / 2 + 1, w, h);
    // After creation Front is lower left and Side upper right; a resize swaps them.
    m_windows[kTop]->setGeometry(upperLeft);
    m_windows[kFront]->setGeometry(afterResize ? upperRight : lowerLeft);
    m_windows[kSide]->setGeometry(afterResize ? lowerLeft : upperRight);
    m_windows[kUser]->setGeometry(lowerRight);
}

void CMyPolyvantView::resizeEvent(QResizeEvent* event)
{
    QMdiArea::resizeEvent(event);
    if (!m_panesCreated) {
        return;
    }
    GLViewWnd* maximized = m_maximizedPane;
    if (maximized) {
        ToggleMaximize(maximized);
    }
    LayoutPanes(true);
    if (maximized) {
        ToggleMaximize(maximized);
    }
}

void CMyPolyvantView::paintEvent(QPaintEvent* event)
{
    QMdiArea::paintEvent(event);
    if (m_panesCreated)
        return;
    // An empty window says how to fill it.
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(viewport()->rect(), Qt::AlignCenter | Qt::TextWordWrap,
                     QStringLiteral("Press F3 to import a model, or drop a model file here."));
}

bool CMyPolyvantView::eventFilter(QObject* watched, QEvent* event)
{
    // Close buttons are hidden, but the system menu and Ctrl+F4 still ask to close.
    if (event->type() == QEvent::Close &&
        std::find(std::begin(m_windows), std::end(m_windows), watched) != std::end(m_windows)) {
        event->ignore();
        return true;
    }
    return QMdiArea::eventFilter(watched, event);
}

void CMyPolyvantView::DestroyPanes()
{
    if (!m_panesCreated) {
        return;
    }
    // The share group outlives the panes: free the scene lists with them.
    if (GLViewWnd* user = m_panes[kUser]; user && user->isValid()) {
        user->makeCurrent();
        polyvant::DeleteSceneLists();
        user->doneCurrent();
    }
    for (int index : {kTop, kSide, kFront, kUser}) {
        QMdiSubWindow* window = m_windows[index];
        removeSubWindow(window);
        delete window;
        m_windows[index] = nullptr;
        m_panes[index] = nullptr;
    }
    m_maximizedPane = nullptr;
    m_panesCreated = false;
}

void CMyPolyvantView::ToggleMaximize(GLViewWnd* pane)
{
    for (int i = 0; i < 4; ++i) {
        if (m_panesCreated && m_panes[i] == pane) {
            QMdiSubWindow* window = m_windows[i];
            if (window->isMinimized()) {
                return;
            }
            if (window->isMaximized()) {
                window->showNormal();
                m_maximizedPane = nullptr;
            } else {
                window->showMaximized();
                m_maximizedPane = pane;
            }
            return;
        }
    }
}

bool CMyPolyvantView::IsPane(const QWidget* window) const
{
    if (!window || window == this || !m_panesCreated) {
        return false;
    }
    for (const QWidget* w = window; w && w != this; w = w->parentWidget()) {
        for (int i = 0; i < 4; ++i) {
            if (w == m_panes[i] || w == m_windows[i]) {
                return true;
            }
        }
    }
    return false;
}

GLViewWnd* CMyPolyvantView::PaneUnderCursor() const
{
    if (!m_panesCreated) {
        return nullptr;
    }
    const QWidget* w = QApplication::widgetAt(QCursor::pos());
    if (!IsPane(w)) {
        return nullptr;
    }
    // The caption or border of a pane's window counts as the pane.
    for (; w && w != this; w = w->parentWidget()) {
        for (int i = 0; i < 4; ++i) {
            if (w == m_panes[i] || w == m_windows[i]) {
                return m_panes[i];
            }
        }
    }
    return nullptr;
}

void CMyPolyvantView::ApplyTitleStyle()
{
    for (int index : {kTop, kFront, kSide, kUser}) {
        QMdiSubWindow* window = m_windows[index];
        if (!window) {
            continue;
        }
        const QRect geometry = window->geometry();
        const bool visible = window->isVisible();
        if (m_modes.titles) {
            // No system menu: in a sub-window's title bar it brings the close button.
            window->setWindowFlags(Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                   Qt::WindowMinMaxButtonsHint);
        } else {
            window->setWindowFlags(Qt::SubWindow | Qt::FramelessWindowHint);
        }
        if (auto* frame = qobject_cast<QFrame*>(window->widget())) {
            frame->setFrameStyle(m_modes.titles ? QFrame::NoFrame : QFrame::Box | QFrame::Plain);
        }
        window->setGeometry(geometry);
        if (visible) {
            window->show();
        }
    }
}

void CMyPolyvantView::OnRenderMode(int mode)
{
    GLViewWnd* pane = PaneUnderCursor();
    if (!pane) {
        return;
    }
    const int index = pane->Kind();
    m_modes.modes[index][0] = mode;
    pane->SetRenderModes(m_modes.modes[index][0], m_modes.modes[index][1]);
    pane->Redraw();
}

void CMyPolyvantView::OnToggleNormals()
{
    if (GLViewWnd* pane = PaneUnderCursor()) {
        pane->ToggleNormals();
    }
}

void CMyPolyvantView::OnResetView()
{
    if (GLViewWnd* pane = PaneUnderCursor()) {
        pane->ResetCamera();
    }
}

void CMyPolyvantView::OnMaximizePane()
{
    if (GLViewWnd* pane = PaneUnderCursor()) {
        ToggleMaximize(pane);
    }
}

void CMyPolyvantView::LightChanged(int paneIndex, int mode, int lightIndex)
{
    if (paneIndex != kUser || !m_panesCreated) {
        return;
    }
    m_panes[kUser]->Redraw();
    (void)mode; // always 0: the light list must be recompiled
    m_panes[kUser]->MarkLightChanged(lightIndex);
}

void CMyPolyvantView::FinishBackgroundLists()
{
    std::string error;
    if (m_panesCreated && m_panes[kUser]->FinishBackgroundLists(&error) != 1) {
        BuildFailed(QString::fromStdString(error));
    }
}

void CMyPolyvantView::BuildFailed(const QString& reason)
{
    DestroyPanes();
    m_host.ShowMessage(reason, QString::fromLatin1(kCaptionError));
}

void CMyPolyvantView::BuildViews()
{
    if (m_building) {
        // A build asked for from inside the running one (its progress runs events)
        // follows it instead of tearing down the panes it is compiling into.
        m_rebuildPending = true;
        return;
    }
    if (m_host.SceneEmpty()) {
        DestroyPanes();
        m_host.ShowMessage(QString::fromLatin1(kTextNoMeshes), QString::fromLatin1(kCaptionInfo));
        return;
    }
    m_building = true;
    m_host.BeginBusy();
    const bool ok = RunBuild();
    m_host.EndBusy();
    m_building = false;
    if (ok && !polyvant::SceneListsCompiling()) {
        FinishBackgroundLists(); // they ended during the build
    }
    if (ok && qEnvironmentVariableIsSet("POLYVANT_FIRST_FRAME_EXIT")) {
        ReportFirstFrameAndQuit();
    }
    if (m_rebuildPending) {
        m_rebuildPending = false;
        QTimer::singleShot(0, this, [this] { BuildViews(); });
    }
}

void CMyPolyvantView::ReportFirstFrameAndQuit()
{
    // Benchmark aid: the time from program start until the window has shown every pane
    // with the new scene, then an orderly end.
    auto reported = std::make_shared<bool>(false);
    auto check = [this, reported] {
        for (GLViewWnd* pane : m_panes) {
            if (!pane || pane->SceneFrames() == 0) {
                return;
            }
        }
        if (!*reported) {
            *reported = true;
            std::fprintf(stderr, "polyvant: four panes drawn %.0f ms after start\n",
                         polyvant::MillisecondsSinceStart());
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    };
    for (GLViewWnd* pane : m_panes) {
        if (pane) {
            connect(pane, &QOpenGLWidget::frameSwapped, this, check);
        }
    }
}

bool CMyPolyvantView::RunBuild()
{
    m_host.ComputeSceneBounds(m_scene);
    int meshes = 0, faces = 0, vertices = 0;
    m_host.Counts(meshes, faces, vertices);
    SetStatusCount(kMeshIndicator, meshes);
    SetStatusCount(kVertexIndicator, vertices);
    SetStatusCount(kFaceIndicator, faces);

    if (!OpenGLAvailable()) {
        BuildFailed(QStringLiteral("OpenGL is not available on this display, so the scene "
                                   "cannot be shown."));
        return false;
    }
    DestroyPanes();
    CreatePanes();

    polyvant::ProgressDialog progress;
    progress.Create(m_host.MainWindow());
    for (int index : {kTop, kFront, kSide, kUser}) {
        m_panes[index]->SetRenderModes(m_modes.modes[index][0], m_modes.modes[index][1]);
    }

    progress.SetStatus(QStringLiteral("Build OpenGL Model"));
    progress.SetPos(0);
    int shown = 0;
    std::string error;
    GLViewWnd* user = m_panes[kUser];
    const int built = user->BuildDisplayLists(
        [&](double fraction) {
            const int pos = kCompileFirst + int(fraction * (kCompileLast - kCompileFirst));
            if (pos > shown) {
                shown = pos;
                progress.SetPos(pos);
            }
        },
        &error, polyvant::FaceEmission::kBatched, true);
    if (!m_panesCreated || m_panes[kUser] != user) {
        progress.DestroyWindow();
        return false; // the panes went away while events ran
    }
    if (built != 1) {
        progress.DestroyWindow();
        BuildFailed(QString::fromStdString(error));
        return false;
    }
    const struct {
        int pos;
        int target;
    } shares[] = {{20, kTop}, {30, kFront}, {40, kSide}};
    for (const auto& s : shares) {
        progress.SetPos(s.pos);
        if (!m_panesCreated || !GLViewWnd::ShareLists(*m_panes[kUser], *m_panes[s.target])) {
            progress.DestroyWindow();
            BuildFailed(QStringLiteral("The views could not share their OpenGL display lists."));
            return false;
        }
    }
    progress.SetStatus(QStringLiteral("Reset Views"));
    const struct {
        int pos;
        int pane;
    } resets[] = {{50, kUser}, {55, kTop}, {60, kFront}, {65, kSide}};
    for (const auto& r : resets) {
        progress.SetPos(r.pos);
        if (m_panesCreated) {
            m_panes[r.pane]->ResetCamera();
        }
    }
    progress.SetStatus(QStringLiteral("Update Views"));
    const struct {
        int pos;
        int pane;
    } redraws[] = {{70, kTop}, {80, kFront}, {90, kSide}, {100, kUser}};
    for (const auto& r : redraws) {
        progress.SetPos(r.pos);
        if (m_panesCreated) {
            m_panes[r.pane]->HoldScene(false);
            m_panes[r.pane]->Redraw();
        }
    }
    progress.DestroyWindow();
    return true;
}
