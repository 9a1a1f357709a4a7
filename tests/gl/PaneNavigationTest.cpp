// Synthetic mouse drags on real panes: what moves, what draws, which cursor shows.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QBitmap>
#include <QMouseEvent>
#include <QTest>
#include <QWheelEvent>

#include "GLTestSupport.h"
#include "GLViewWnd.h"
#include "NavigationCursors.h"

namespace polyvant {
namespace {

class PaneNavigationTest : public testing::Test {
protected:
    void Show(int kind)
    {
        const double c[3] = {1, 2, 3};
        scene.Add(test::MakeCube(c, 1.0));
        scene.ComputeBox();
        pane = std::make_unique<GLViewWnd>(kind, &scene.Input());
        pane->resize(200, 200);
        pane->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        pane->SetRenderModes(kModeShade, kModeBox);
        std::string error;
        ASSERT_EQ(pane->BuildDisplayLists({}, &error), 1) << error;
        pane->ResetCamera();
    }

    void Send(QEvent::Type type, QPoint p, Qt::MouseButton button, Qt::MouseButtons buttons,
              Qt::KeyboardModifiers modifiers)
    {
        QMouseEvent event(type, QPointF(p), pane->mapToGlobal(QPointF(p)), button, buttons,
                          modifiers);
        QApplication::sendEvent(pane.get(), &event);
    }
    void Press(QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        Send(QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton, m);
    }
    void Drag(QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        Send(QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton, m);
    }
    void Release(QPoint p, Qt::KeyboardModifiers m = Qt::NoModifier)
    {
        Send(QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton, m);
    }

    std::vector<double> Matrix() const
    {
        return {pane->Camera().Modelview(), pane->Camera().Modelview() + 16};
    }

    test::TestScene scene;
    std::unique_ptr<GLViewWnd> pane;
};

TEST_F(PaneNavigationTest, DragPansTheSceneWithTheMouseInFastMode)
{
    Show(kViewTop);
    const QRect before = test::LitBounds(pane->grabFramebuffer());
    Press({100, 100});
    EXPECT_TRUE(pane->Navigating());
    EXPECT_EQ(pane->EffectiveMode(), kModeBox);
    EXPECT_EQ(pane->cursor().shape(), Qt::BitmapCursor);
    EXPECT_EQ(pane->cursor().hotSpot(), QPoint(15, 10));
    Drag({120, 110});
    Drag({130, 90});
    Release({130, 90});
    EXPECT_FALSE(pane->Navigating());
    EXPECT_EQ(pane->EffectiveMode(), kModeShade);
    EXPECT_EQ(pane->cursor().shape(), Qt::ArrowCursor);
    const QRect after = test::LitBounds(pane->grabFramebuffer());
    EXPECT_NEAR(after.left() - before.left(), 30, 1);
    EXPECT_NEAR(after.top() - before.top(), -10, 1);
}

TEST_F(PaneNavigationTest, ShiftPansTheOrthographicPanesLikeNoModifier)
{
    Show(kViewFront);
    Press({50, 50}, Qt::ShiftModifier);
    Drag({60, 70}, Qt::ShiftModifier);
    const std::vector<double> shifted = Matrix();
    pane->ResetCamera();
    Press({50, 50});
    Drag({60, 70});
    EXPECT_EQ(Matrix(), shifted);
}

TEST_F(PaneNavigationTest, CtrlDragOutsideTheUserPaneAndCtrlAltDragDoNothing)
{
    Show(kViewSide);
    const std::vector<double> start = Matrix();
    for (Qt::KeyboardModifiers m :
         {Qt::KeyboardModifiers(Qt::ControlModifier), Qt::ControlModifier | Qt::AltModifier}) {
        Press({50, 50}, m);
        EXPECT_FALSE(pane->Navigating());
        Drag({80, 20}, m);
        EXPECT_FALSE(pane->Navigating());
        EXPECT_EQ(pane->cursor().shape(), Qt::ArrowCursor);
        Release({80, 20}, m);
        EXPECT_EQ(Matrix(), start);
    }
}

TEST_F(PaneNavigationTest, CtrlDragInTheUserPaneTurnsOneStepPerMessage)
{
    Show(kViewUser);
    Press({100, 100}, Qt::ControlModifier);
    EXPECT_EQ(pane->cursor().hotSpot(), QPoint(15, 9));
    Drag({150, 100}, Qt::ControlModifier); // far to the right: still one degree
    EXPECT_DOUBLE_EQ(pane->Camera().Turn(), 1.0);
    Drag({140, 100}, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(pane->Camera().Turn(), -4.0);
    // Diagonal: one turn step and one tip step.
    const std::vector<double> before = Matrix();
    Drag({150, 110}, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(pane->Camera().Turn(), -3.0);
    EXPECT_NE(Matrix(), before);
    // The fixed centre cross is drawn while turning.
    // 200 world units of the cross span 20 pixels at the reference plane.
    const QImage image = pane->grabFramebuffer();
    int column = 0;
    for (int y = 82; y <= 118; ++y) {
        column += (image.pixel(100, y) & 0xFFFFFF) != 0 || (image.pixel(99, y) & 0xFFFFFF) != 0;
    }
    EXPECT_GE(column, 35);
    Release({150, 110});
}

TEST_F(PaneNavigationTest, AltDragZoomsPerMessageAboutThePressedPoint)
{
    Show(kViewTop);
    const double zoom = pane->Camera().Zoom();
    Press({60, 80}, Qt::AltModifier);
    EXPECT_EQ(pane->cursor().hotSpot(), QPoint(15, 11));
    Drag({200, 80}, Qt::AltModifier); // sideways: no zoom
    EXPECT_DOUBLE_EQ(pane->Camera().Zoom(), zoom);
    Drag({200, 70}, Qt::AltModifier); // up: enlarge once
    Drag({200, 10}, Qt::AltModifier); // far up: still once
    EXPECT_NEAR(pane->Camera().Zoom(), zoom * 1.1 * 1.1, 1e-9);
    Drag({200, 50}, Qt::AltModifier);
    EXPECT_NEAR(pane->Camera().Zoom(), zoom * 1.1, 1e-9);
    Release({200, 50});
}

TEST_F(PaneNavigationTest, WheelZoomsInEveryPane)
{
    for (int kind = 0; kind < 4; ++kind) {
        Show(kind);
        const double zoom = pane->Camera().Zoom();
        QWheelEvent up(QPointF(100, 100), pane->mapToGlobal(QPointF(100, 100)), QPoint(),
                       QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(pane.get(), &up);
        EXPECT_NEAR(pane->Camera().Zoom(), zoom * 1.21, 1e-9) << "kind " << kind;
    }
}

TEST_F(PaneNavigationTest, ResetReturnsToTheFittedCamera)
{
    Show(kViewUser);
    const std::vector<double> fitted = Matrix();
    Press({10, 10}, Qt::ControlModifier);
    Drag({30, 40}, Qt::ControlModifier);
    Release({30, 40});
    ASSERT_NE(Matrix(), fitted);
    pane->ResetCamera();
    EXPECT_EQ(Matrix(), fitted);
}

TEST(NavigationCursorTest, CursorsAre32By32WithTheirHotSpots)
{
    const struct {
        NavigationCursor which;
        QPoint hot;
    } cases[] = {{NavigationCursor::kPan, {15, 10}},
                 {NavigationCursor::kRotate, {15, 9}},
                 {NavigationCursor::kZoom, {15, 11}}};
    for (const auto& c : cases) {
        const QCursor cursor = MakeNavigationCursor(c.which);
        EXPECT_EQ(cursor.hotSpot(), c.hot);
        EXPECT_EQ(cursor.bitmap().size(), QSize(32, 32));
        EXPECT_EQ(cursor.mask().size(), QSize(32, 32));
        // A black glyph with a white outline on a transparent ground: black mask pixels
        // are the visible ones, and every black bitmap pixel is visible.
        const QImage bits = cursor.bitmap().toImage();
        const QImage mask = cursor.mask().toImage();
        int visible = 0, black = 0, white = 0, hidden = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const bool shown = mask.pixelColor(x, y) == QColor(Qt::black);
                const bool dark = bits.pixelColor(x, y) == QColor(Qt::black);
                visible += shown;
                black += shown && dark;
                white += shown && !dark;
                hidden += dark && !shown;
            }
        }
        EXPECT_EQ(hidden, 0);
        EXPECT_GT(visible, 60);
        EXPECT_LT(visible, 512) << "the mask is inverted";
        EXPECT_GT(black, white) << "the glyph is inverted";
        EXPECT_GT(white, 10);
    }
}

} // namespace
} // namespace polyvant
