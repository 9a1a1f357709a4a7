// What each render mode, camera and overlay puts on screen, read back from real panes.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <memory>

#include <QOpenGLContext>
#include <QSet>
#include <QTest>

#include "GLTestSupport.h"
#include "GLViewWnd.h"

namespace polyvant {
namespace {

using test::CountLit;
using test::CountNear;
using test::LitBounds;
using test::TestScene;

class PaneRenderTest : public testing::Test {
protected:
    // A shown pane of kind over scene, with the lists compiled in its context.
    GLViewWnd& Pane(int kind, int w = 200, int h = 200, int mode = kModeShade)
    {
        auto pane = std::make_unique<GLViewWnd>(kind, &scene.Input());
        pane->resize(w, h);
        pane->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        pane->SetRenderModes(mode, kModeBox);
        std::string error;
        EXPECT_EQ(pane->BuildDisplayLists({}, &error), 1) << error;
        pane->ResetCamera();
        panes.push_back(std::move(pane));
        return *panes.back();
    }

    QImage Frame(GLViewWnd& pane, const char* name)
    {
        QImage image = pane.grabFramebuffer();
        EXPECT_EQ(pane.TakeFrameError(), unsigned(GL_NO_ERROR)) << name;
        if (HasFailure()) {
            test::SaveArtifact(image, name);
        }
        return image;
    }

    TestScene scene;
    std::vector<std::unique_ptr<GLViewWnd>> panes;
};

TEST_F(PaneRenderTest, PaneWithoutListsShowsOnlyTheClearColour)
{
    GLViewWnd pane(kViewTop, &scene.Input());
    pane.resize(64, 64);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    // Other tests may have left lists in the share group; a pane without any draws black.
    pane.makeCurrent();
    glDeleteLists(1, 15);
    pane.doneCurrent();
    EXPECT_EQ(CountLit(Frame(pane, "no_lists")), 0);
}

// Whether any pixel within one pixel of (x, y) is lit: lines on pixel edges may land
// on either side.
bool LitNear(const QImage& image, int x, int y)
{
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if ((image.pixel(x + dx, y + dy) & 0xFFFFFF) != 0) {
                return true;
            }
        }
    }
    return false;
}

TEST_F(PaneRenderTest, CubeLandsWhereTheOrthographicProjectionPutsIt)
{
    const double c[3] = {3, -2, 1};
    scene.Add(test::MakeCube(c, 1.0));
    scene.ComputeBox();
    // 300 x 200: height is the tighter direction, the cube spans 80 per cent of it,
    // centred: its outline runs at x 70 and 230, y 20 and 180; the scene-box marks sit
    // on the box enlarged by 1.1, 88 pixels from the centre.
    for (int kind : {kViewTop, kViewSide, kViewFront}) {
        GLViewWnd& pane = Pane(kind, 300, 200, kModeBox);
        const QImage image = Frame(pane, "ortho_cube");
        const QRect r = LitBounds(image);
        EXPECT_NEAR(r.left(), 62, 1) << "kind " << kind;
        EXPECT_NEAR(r.right(), 238, 1) << "kind " << kind;
        EXPECT_NEAR(r.top(), 12, 1) << "kind " << kind;
        EXPECT_NEAR(r.bottom(), 188, 1) << "kind " << kind;
        EXPECT_TRUE(LitNear(image, 70, 100)) << "kind " << kind;
        EXPECT_TRUE(LitNear(image, 230, 100)) << "kind " << kind;
        EXPECT_TRUE(LitNear(image, 150, 20)) << "kind " << kind;
        EXPECT_TRUE(LitNear(image, 150, 180)) << "kind " << kind;
        EXPECT_FALSE(LitNear(image, 150, 100)) << "kind " << kind;
    }
}

// A square in the plane y = 0 facing the Front and User cameras (-y).
Mesh3d* FacingSquare(double h)
{
    return test::MakeMesh({-h, 0, -h, h, 0, -h, h, 0, h, -h, 0, h}, {0, 1, 2, 0, 2, 3});
}

TEST_F(PaneRenderTest, SquareOnTheReferencePlaneLandsWhereThePerspectivePutsIt)
{
    scene.Add(FacingSquare(1.0));
    scene.ComputeBox();
    // 400 x 200: the square lies on the reference plane, where the perspective pane
    // matches the orthographic volume: 80 per cent of the height, centred.
    GLViewWnd& pane = Pane(kViewUser, 400, 200, kModeShade);
    const QImage image = Frame(pane, "user_square");
    const QRect r = LitBounds(image);
    EXPECT_NEAR(r.left(), 112, 1);
    EXPECT_NEAR(r.right(), 288, 1);
    EXPECT_NEAR(r.top(), 12, 1);
    EXPECT_NEAR(r.bottom(), 188, 1);
    EXPECT_TRUE(LitNear(image, 200, 100));
    EXPECT_FALSE(LitNear(image, 200, 15) && LitNear(image, 200, 185) && LitNear(image, 116, 100));
}

TEST_F(PaneRenderTest, LineModesDrawOutlinesAndFilledModesFillTheFaces)
{
    scene.Add(test::MakeSquare(1.0, 0.0));
    scene.ComputeBox();
    GLViewWnd& pane = Pane(kViewTop, 200, 200);
    const QRgb centre = qRgb(0, 0, 0);
    for (int mode : {kModeBox, kModeEdge, kModeWire, kModeShade, kModeDouble, kModePoint}) {
        pane.SetRenderModes(mode, kModeBox);
        const QImage image = Frame(pane, "modes");
        // The centre of the square is off the diagonal: only filled modes cover it.
        const bool filled = (image.pixel(100, 70) & 0xFFFFFF) != (centre & 0xFFFFFF);
        const bool expectFilled = mode == kModeShade || mode == kModeDouble;
        EXPECT_EQ(filled, expectFilled) << "mode " << mode;
        EXPECT_GT(CountLit(image), 0) << "mode " << mode;
        if (!expectFilled) {
            EXPECT_LT(CountLit(image), 200 * 200 / 10) << "mode " << mode;
        }
    }
}

TEST_F(PaneRenderTest, BackFacesAreCulledExceptInBoxEdgeAndDouble)
{
    // Seen from above, a square facing down shows its back.
    Mesh3d* square = test::MakeSquare(1.0, 0.0);
    square->ReverseWinding();
    scene.Add(square);
    scene.ComputeBox();
    GLViewWnd& pane = Pane(kViewTop, 120, 120);
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        pane.SetRenderModes(mode, kModeBox);
        const int lit = CountLit(Frame(pane, "culling"));
        // The scene-box marks are always drawn; everything beyond them is geometry.
        pane.SetRenderModes(99, kModeBox);
        const bool culled = mode == kModeWire || mode == kModeShade || mode == kModePoint;
        if (culled) {
            EXPECT_LT(lit, 200) << "mode " << mode;
        } else {
            EXPECT_GT(lit, 200) << "mode " << mode;
        }
    }
}

Light3d* LightInFront(int on)
{
    const double white[3] = {1, 1, 1};
    const double position[3] = {0.3, -3, 0.2};
    const double target[3] = {0, 0, 0};
    auto* light = new Light3d("Test", white, position, target, 15.0, 50.0);
    light->on = on;
    return light;
}

TEST_F(PaneRenderTest, OnlyTheUserPaneIsLit)
{
    scene.Add(FacingSquare(1.0));
    scene.ComputeBox();
    scene.AddLight(LightInFront(1));
    const QColor flat = QColor::fromRgbF(1.4 * 0.439216, 1.4 * 0.576471, 1.0);
    GLViewWnd& front = Pane(kViewFront, 100, 100, kModeShade);
    EXPECT_GT(CountNear(Frame(front, "front_flat"), flat, 2), 100 * 70 / 2);

    GLViewWnd& user = Pane(kViewUser, 100, 100, kModeShade);
    const QImage lit = Frame(user, "user_lit");
    EXPECT_LT(CountNear(lit, flat, 2), 100);
    // Lit per vertex from a light off the axis: the shading varies over the square.
    QSet<QRgb> colours;
    for (int y = 20; y < 80; ++y) {
        for (int x = 20; x < 80; ++x) {
            colours.insert(lit.pixel(x, y));
        }
    }
    EXPECT_GT(colours.size(), 10);
}

TEST_F(PaneRenderTest, SwitchingALightOffTakesEffectAtTheNextLitFrame)
{
    scene.Add(FacingSquare(1.0));
    scene.ComputeBox();
    scene.AddLight(LightInFront(1));
    GLViewWnd& user = Pane(kViewUser, 100, 100, kModeShade);
    const int on = qGray(Frame(user, "light_on").pixel(50, 50));
    static_cast<Light3d*>(scene.Lights().head->item)->on = 0;
    user.MarkLightChanged(0);
    const int off = qGray(Frame(user, "light_off").pixel(50, 50));
    EXPECT_GT(on, off + 40);
    // Other light-list entries keep their lists: a repaint without a change keeps it off.
    EXPECT_EQ(qGray(Frame(user, "light_still_off").pixel(50, 50)), off);
}

TEST_F(PaneRenderTest, LightsChangedWhileThePaneIsUnlitAllTakeEffectWhenItIsLitAgain)
{
    scene.Add(FacingSquare(1.0));
    scene.ComputeBox();
    scene.AddLight(LightInFront(1));
    scene.AddLight(LightInFront(1));
    GLViewWnd& user = Pane(kViewUser, 100, 100, kModeShade);
    const int on = qGray(Frame(user, "two_on").pixel(50, 50));
    user.SetRenderModes(kModeBox, kModeBox);
    Frame(user, "box");
    for (int i = 0; i < 2; ++i) {
        static_cast<Light3d*>(scene.Lights().Get(i))->on = 0;
        user.MarkLightChanged(i);
    }
    Frame(user, "box_after_changes");
    user.SetRenderModes(kModeShade, kModeShade);
    const int off = qGray(Frame(user, "two_off").pixel(50, 50));
    // Each change on a lit frame of its own: what the picture must be.
    user.MarkLightChanged(0);
    Frame(user, "first_again");
    user.MarkLightChanged(1);
    const int dark = qGray(Frame(user, "both_again").pixel(50, 50));
    EXPECT_GT(on, dark + 40);
    EXPECT_EQ(off, dark) << "a light switched off while unlit still shines";
}

TEST_F(PaneRenderTest, NormalOverlayShowsBlueLinesAndHidesThemWhileDragging)
{
    const double c[3] = {0, 0, 0};
    scene.Add(test::MakeCube(c, 1.0));
    scene.ComputeBox();
    GLViewWnd& pane = Pane(kViewFront, 150, 150, kModeEdge);
    const QColor blue(0, 0, 255);
    EXPECT_EQ(CountNear(Frame(pane, "normals_off"), blue, 10), 0);
    pane.ToggleNormals();
    EXPECT_GT(CountNear(Frame(pane, "normals_on"), blue, 10), 10);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&pane, &press);
    EXPECT_TRUE(pane.Navigating());
    EXPECT_EQ(CountNear(Frame(pane, "normals_drag"), blue, 10), 0);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&pane, &release);
    EXPECT_GT(CountNear(Frame(pane, "normals_back"), blue, 10), 10);
    pane.ToggleNormals();
    EXPECT_EQ(CountNear(Frame(pane, "normals_hidden"), blue, 10), 0);
}

TEST_F(PaneRenderTest, ListsCompiledInOnePaneAreDrawnByEveryPane)
{
    const double c[3] = {0, 0, 0};
    scene.Add(test::MakeCube(c, 1.0));
    scene.ComputeBox();
    GLViewWnd& user = Pane(kViewUser, 100, 100);
    std::vector<std::unique_ptr<GLViewWnd>> others;
    for (int kind : {kViewTop, kViewSide, kViewFront}) {
        auto pane = std::make_unique<GLViewWnd>(kind, &scene.Input());
        pane->resize(100, 100);
        pane->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        EXPECT_TRUE(GLViewWnd::ShareLists(user, *pane));
        pane->SetRenderModes(kModeShade, kModeBox);
        pane->ResetCamera();
        EXPECT_GT(CountLit(Frame(*pane, "shared")), 100 * 100 / 4) << "kind " << kind;
        others.push_back(std::move(pane));
    }
}

TEST_F(PaneRenderTest, DegenerateScenesDrawWithoutGLErrors)
{
    const double point[3] = {1, 1, 1};
    scene.Add(test::MakeMesh({1, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 1, 2})); // one point
    scene.Add(test::MakeMesh({0, 0, 0, 1, 0, 0, 2, 0, 0}, {0, 1, 2})); // a line
    scene.Add(test::MakeMesh({0, 0, 0}, {}));                          // no faces
    scene.Add(test::MakeCube(point, 1e29));                            // huge
    scene.ComputeBox();
    scene.AddDefaultLights();
    for (int kind = 0; kind < 4; ++kind) {
        for (QSize size : {QSize(1, 1), QSize(2, 1), QSize(80, 60)}) {
            GLViewWnd& pane = Pane(kind, size.width(), size.height());
            for (int mode = 0; mode < kRenderModeCount; ++mode) {
                pane.SetRenderModes(mode, kModeBox);
                pane.ToggleNormals();
                (void)Frame(pane, "degenerate");
            }
        }
    }
}

TEST_F(PaneRenderTest, ThousandsOfSmallObjectsDraw)
{
    for (int i = 0; i < 3000; ++i) {
        const double c[3] = {double(i % 60), double(i / 60), 0};
        scene.Add(test::MakeCube(c, 0.3));
    }
    scene.ComputeBox();
    GLViewWnd& pane = Pane(kViewTop, 200, 200, kModeShade);
    EXPECT_GT(CountLit(Frame(pane, "many")), 200 * 200 / 8);
}

} // namespace
} // namespace polyvant
