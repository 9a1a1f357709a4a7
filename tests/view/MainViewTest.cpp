// The main view on a host of the test's own: builds, layout, maximising, keys, settings.
#include <GL/gl.h>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

#include <QMdiSubWindow>
#include <QTest>

#include "CMyPolyvantView.h"
#include "GLTestSupport.h"
#include "GLViewWnd.h"

namespace polyvant {

class FakeHost : public ViewHost {
public:
    void Attach(CMyPolyvantView* v) override { attached = v; }
    void Detach(CMyPolyvantView*) override { attached = nullptr; }
    bool SceneEmpty() override { return scene.Objects().Count() == 0; }
    void ComputeSceneBounds(GLSceneInput& out) override
    {
        scene.ComputeBox();
        if (scene.Lights().Count() == 0) {
            scene.AddDefaultLights();
        }
        out = scene.Input();
        ++bounds;
    }
    void Counts(int& m, int& f, int& v) override { m = 3, f = 1200, v = 650; }
    void SetCount(int id, int value) override { counts[id] = value; }
    ViewModes ReadModes() override { return modes; }
    void WriteModes(const ViewModes& m) override { modes = m; }
    void ShowMessage(const QString& text, const QString& caption) override
    {
        messages.push_back(caption + ": " + text);
    }
    QWidget* MainWindow() override { return window; }
    void BeginBusy() override { ++busy; }
    void EndBusy() override { --busy; }

    test::TestScene scene;
    ViewModes modes;
    std::map<int, int> counts;
    QStringList messages;
    CMyPolyvantView* attached = nullptr;
    QWidget* window = nullptr;
    int bounds = 0;
    int busy = 0;
};

namespace {

class MainViewTest : public testing::Test {
protected:
    void SetUp() override
    {
        host.window = &window;
        view = new CMyPolyvantView(host, &window);
        window.resize(800, 600);
        view->setGeometry(0, 0, 800, 600);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void TearDown() override { delete view; }

    void AddCube()
    {
        const double c[3] = {0, 0, 0};
        host.scene.Add(test::MakeCube(c, 1.0));
    }

    // Moves the mouse cursor over pane index.
    void PointAt(int index)
    {
        GLViewWnd* pane = view->Pane(index);
        QCursor::setPos(pane->mapToGlobal(pane->rect().center()));
        QTRY_VERIFY(QApplication::widgetAt(QCursor::pos()) == pane);
    }

    FakeHost host;
    QWidget window;
    CMyPolyvantView* view = nullptr;
};

TEST_F(MainViewTest, EmptySceneSaysSoAndRemovesThePanes)
{
    AddCube();
    view->BuildViews();
    ASSERT_TRUE(view->PanesCreated());
    host.scene.~TestScene();
    new (&host.scene) test::TestScene();
    view->BuildViews();
    EXPECT_FALSE(view->PanesCreated());
    EXPECT_EQ(host.messages, QStringList{"Info: No meshes to display"});
    // The empty view says how to fill it: text on the plain background.
    const QImage empty = view->viewport()->grab().toImage();
    int marked = 0;
    for (int y = 0; y < empty.height(); ++y)
        for (int x = 0; x < empty.width(); ++x)
            marked += empty.pixel(x, y) != empty.pixel(0, 0);
    EXPECT_GT(marked, 100);
}

TEST_F(MainViewTest, BuildShowsCountsAndFourPanesDrawingTheSharedLists)
{
    AddCube();
    ViewModes modes = view->Modes();
    modes.modes[2][0] = kModeWire;
    view->SetModes(modes);
    view->BuildViews();
    EXPECT_EQ(host.attached, view);
    EXPECT_EQ(host.busy, 0);
    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join("\n").toStdString();
    EXPECT_EQ(host.counts[59145], 3);
    EXPECT_EQ(host.counts[59144], 1200);
    EXPECT_EQ(host.counts[59143], 650);
    const char* titles[4] = {"Top View", "Side View", "Front View", "User View"};
    for (int i = 0; i < 4; ++i) {
        GLViewWnd* pane = view->Pane(i);
        ASSERT_NE(pane, nullptr);
        EXPECT_EQ(view->PaneWindow(i)->windowTitle(), titles[i]);
        EXPECT_EQ(pane->Mode(), modes.modes[i][0]);
        EXPECT_EQ(pane->FastMode(), modes.modes[i][1]);
        const QImage image = pane->grabFramebuffer();
        EXPECT_GT(test::CountLit(image), 100) << titles[i];
        EXPECT_EQ(pane->TakeFrameError(), unsigned(GL_NO_ERROR));
    }
    EXPECT_EQ(host.scene.Lights().Count(), 4);
    view->BuildViews(); // a rebuild keeps the lights the user may have edited
    EXPECT_EQ(host.scene.Lights().Count(), 4);
}

TEST_F(MainViewTest, ABuildDrawsEachPaneOnceAndEndsItsBackgroundCompilation)
{
    AddCube();
    ViewModes modes = view->Modes();
    modes.modes[kViewUser][0] = kModeDouble; // needs a list left to the background
    view->SetModes(modes);
    view->BuildViews();
    QTRY_VERIFY(!SceneListsCompiling());
    QTest::qWait(100); // the progress dialog has gone: nothing may draw again for it
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(view->Pane(i)->SceneFrames(), 1) << "pane " << i;
    }
    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join("\n").toStdString();
    EXPECT_GT(test::CountLit(view->Pane(kViewUser)->grabFramebuffer()), 100);
}

TEST_F(MainViewTest, PanesTileTheClientAreaAndAResizeSwapsFrontAndSide)
{
    AddCube();
    view->BuildViews();
    EXPECT_EQ(view->PaneWindow(0)->geometry(), QRect(0, 0, 399, 299));
    EXPECT_EQ(view->PaneWindow(2)->geometry(), QRect(0, 301, 399, 299));
    EXPECT_EQ(view->PaneWindow(1)->geometry(), QRect(401, 0, 399, 299));
    EXPECT_EQ(view->PaneWindow(3)->geometry(), QRect(401, 301, 399, 299));
    view->resize(801, 601);
    QApplication::processEvents();
    EXPECT_EQ(view->PaneWindow(0)->geometry(), QRect(0, 0, 399, 299));
    EXPECT_EQ(view->PaneWindow(1)->geometry(), QRect(0, 301, 399, 299));
    EXPECT_EQ(view->PaneWindow(2)->geometry(), QRect(401, 0, 399, 299));
    EXPECT_EQ(view->PaneWindow(3)->geometry(), QRect(401, 301, 399, 299));
}

TEST_F(MainViewTest, MaximiseCoversTheViewSurvivesResizeAndRestores)
{
    AddCube();
    view->BuildViews();
    GLViewWnd* user = view->Pane(3);
    view->ToggleMaximize(user);
    EXPECT_EQ(view->MaximizedPane(), user);
    EXPECT_TRUE(view->PaneWindow(3)->isMaximized());
    view->resize(700, 500);
    QApplication::processEvents();
    EXPECT_EQ(view->MaximizedPane(), user);
    EXPECT_EQ(view->PaneWindow(3)->geometry(), view->viewport()->rect());
    const QImage full = user->grabFramebuffer();
    EXPECT_GT(test::CountLit(full), 1000);
    view->ToggleMaximize(user);
    EXPECT_EQ(view->MaximizedPane(), nullptr);
    EXPECT_EQ(view->PaneWindow(3)->geometry(), QRect(351, 251, 349, 249));
}

TEST_F(MainViewTest, KeysActOnlyOnThePaneUnderTheCursorAndModesReachTheSettings)
{
    AddCube();
    view->BuildViews();
    const ViewModes before = view->Modes();
    PointAt(2);
    view->OnRenderMode(kModeWire);
    EXPECT_EQ(view->Pane(2)->Mode(), kModeWire);
    EXPECT_EQ(view->Pane(2)->FastMode(), before.modes[2][1]);
    for (int i : {0, 1, 3}) {
        EXPECT_EQ(view->Pane(i)->Mode(), before.modes[i][0]);
    }
    view->OnToggleNormals();
    EXPECT_TRUE(view->Pane(2)->ShowNormals());
    view->OnToggleNormals();
    EXPECT_FALSE(view->Pane(2)->ShowNormals());
    view->OnMaximizePane();
    EXPECT_EQ(view->MaximizedPane(), view->Pane(2));
    view->StoreSettings();
    EXPECT_EQ(host.modes.modes[2][0], kModeWire);

    QCursor::setPos(window.mapToGlobal(QPoint(-50, -50)));
    QApplication::processEvents();
    view->OnRenderMode(kModePoint); // over no pane: nothing
    for (int i = 0; i < 4; ++i) {
        EXPECT_NE(view->Pane(i)->Mode(), kModePoint);
    }
}

TEST_F(MainViewTest, ViewOptionsSetEveryPanesModesAndRestyleOnlyOnATitleChange)
{
    AddCube();
    view->BuildViews();
    ViewModes modes = view->Modes();
    modes.modes[1][0] = kModePoint;
    modes.modes[3][1] = kModeBox;
    view->ApplyViewOptions(modes);
    EXPECT_EQ(view->Pane(1)->Mode(), kModePoint);
    EXPECT_EQ(view->Pane(3)->FastMode(), kModeBox);
    EXPECT_FALSE(view->PaneWindow(0)->windowFlags() & Qt::FramelessWindowHint);
    modes.titles = 0;
    view->ApplyViewOptions(modes);
    QApplication::processEvents();
    for (int i = 0; i < 4; ++i) {
        QMdiSubWindow* window = view->PaneWindow(i);
        EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
        EXPECT_TRUE(window->isVisible());
        // Frameless, each pane still has a one-pixel border of its own.
        EXPECT_EQ(view->Pane(i)->mapTo(window, QPoint(0, 0)), QPoint(1, 1)) << i;
        EXPECT_EQ(view->Pane(i)->size(), window->size() - QSize(2, 2)) << i;
        const QImage image = window->grab().toImage();
        const QColor border = window->palette().color(QPalette::WindowText);
        for (const QPoint corner : {QPoint(0, 0), QPoint(image.width() - 1, image.height() - 1)})
            EXPECT_EQ(image.pixelColor(corner), border) << i;
    }
    modes.titles = 1;
    view->ApplyViewOptions(modes);
    QApplication::processEvents();
    EXPECT_EQ(view->Pane(0)->mapTo(view->PaneWindow(0), QPoint(0, 0)),
              view->PaneWindow(0)->contentsRect().topLeft())
        << "a titled pane has only the sub-window's frame around it";
    modes.titles = 0;
    view->ApplyViewOptions(modes);
    view->StoreSettings();
    EXPECT_EQ(host.modes.titles, 0);
    EXPECT_EQ(host.modes.modes[1][0], kModePoint);
}

TEST_F(MainViewTest, PanesCannotBeClosedAndShowNoCloseButton)
{
    AddCube();
    view->BuildViews();
    for (bool titles : {true, false}) {
        ViewModes modes = view->Modes();
        modes.titles = titles ? 1 : 0;
        view->ApplyViewOptions(modes);
        for (int i = 0; i < 4; ++i) {
            QMdiSubWindow* window = view->PaneWindow(i);
            EXPECT_FALSE(window->windowFlags() &
                         (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint))
                << "pane " << i;
            // What the system menu's Close and Ctrl+F4 do.
            EXPECT_FALSE(window->close()) << "pane " << i;
        }
        QApplication::processEvents();
        EXPECT_EQ(view->subWindowList().size(), 4);
    }
    // Everything that reaches the panes afterwards still finds them.
    view->resize(700, 500);
    QApplication::processEvents();
    view->LightChanged(3, 0, 1);
    EXPECT_GT(test::CountLit(view->Pane(3)->grabFramebuffer()), 100);
    view->BuildViews();
    EXPECT_EQ(view->subWindowList().size(), 4);
    // Context help on a pane says how to move around in it.
    EXPECT_TRUE(view->Pane(3)->whatsThis().contains("Ctrl+drag"));
    EXPECT_TRUE(view->Pane(0)->whatsThis().contains("Alt+drag"));
}

TEST_F(MainViewTest, LightChangesReachOnlyTheUserPane)
{
    AddCube();
    view->BuildViews();
    view->LightChanged(1, 0, 0); // other panes: nothing, no crash
    view->LightChanged(3, 0, 1);
    static_cast<Light3d*>(host.scene.Lights().Get(1))->on = 0;
    view->Pane(3)->grabFramebuffer();
    EXPECT_EQ(view->Pane(3)->TakeFrameError(), unsigned(GL_NO_ERROR));
}

TEST_F(MainViewTest, BuildWhileTheWindowIsMinimisedOrHiddenStillCompilesTheLists)
{
    AddCube();
    window.showMinimized();
    QApplication::processEvents();
    view->BuildViews();
    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join("\n").toStdString();
    window.hide();
    view->BuildViews();
    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join("\n").toStdString();
    window.showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    for (int i = 0; i < 4; ++i) {
        EXPECT_GT(test::CountLit(view->Pane(i)->grabFramebuffer()), 100) << "pane " << i;
    }
}

TEST_F(MainViewTest, RepeatedBuildsLeaveNoPanesBehind)
{
    AddCube();
    for (int i = 0; i < 5; ++i) {
        view->BuildViews();
    }
    EXPECT_EQ(view->subWindowList().size(), 4);
    EXPECT_EQ(host.bounds, 5);
}

TEST_F(MainViewTest, MainWindowScreenshotShowsTheModelInAllFourPanes)
{
    // A bumpy ball beside a cube, saved as build artefact main_window.png.
    std::vector<double> p;
    const int rings = 40, segments = 64;
    for (int i = 0; i <= rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const double v = M_PI * i / rings, u = 2 * M_PI * j / segments;
            const double r = 1.0 + 0.12 * std::sin(6 * u) * std::sin(4 * v);
            p.insert(p.end(), {r * std::sin(v) * std::cos(u), r * std::sin(v) * std::sin(u),
                               r * std::cos(v)});
        }
    }
    std::vector<std::uint32_t> t;
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const std::uint32_t a = i * segments + j, b = i * segments + (j + 1) % segments;
            t.insert(t.end(), {a, a + segments, b + segments, a, b + segments, b});
        }
    }
    host.scene.Add(test::MakeMesh(p, t));
    const double c[3] = {1.8, 0.5, -0.4};
    host.scene.Add(test::MakeCube(c, 0.5));
    host.scene.Input().colourRow = [](int entry) { return entry == 0 ? 57 : 5; };
    view->BuildViews();
    QApplication::processEvents();
    const QImage shot = window.grab().toImage();
    const std::string path = test::SaveArtifact(shot, "main_window");
    for (int i = 0; i < 4; ++i) {
        const QRect r = view->PaneWindow(i)->geometry();
        const QImage pane = shot.copy(r.adjusted(8, 30, -8, -8));
        EXPECT_GT(test::CountLit(pane), pane.width() * pane.height() / 20) << path;
    }
}

} // namespace
} // namespace polyvant

namespace polyvant {
// The program's adapter is not linked here; a view made without a host gets this one.
ViewHost& DefaultViewHost()
{
    static FakeHost host;
    return host;
}
} // namespace polyvant
