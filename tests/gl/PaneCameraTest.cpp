// The fixed cameras and the navigation steps, checked on the matrix they build.
#include "PaneCamera.h"

#include <cmath>
#include <gtest/gtest.h>

namespace polyvant {
namespace {

// World point p under the navigation matrix.
void Apply(const PaneCamera& cam, const double p[3], double out[3])
{
    const double* m = cam.Modelview();
    for (int r = 0; r < 3; ++r) {
        out[r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
    }
}

// Pixel position of world point p in an orthographic pane (screen axes by kind).
void OrthoPixel(const PaneCamera& cam, const double p[3], double& px, double& py)
{
    double e[3];
    Apply(cam, p, e);
    double sx = e[0], sy = e[1];
    if (cam.Kind() == kViewSide) {
        sx = -e[1], sy = e[2];
    } else if (cam.Kind() == kViewFront) {
        sy = e[2];
    }
    const double k = cam.PixelSize();
    px = (sx - cam.ViewLeft()) / k;
    py = (cam.ViewTop() - sy) / k;
}

SceneBox Box(double x0, double y0, double z0, double x1, double y1, double z1)
{
    SceneBox b{{x0, y0, z0}, {x1, y1, z1}, {(x0 + x1) / 2, (y0 + y1) / 2, (z0 + z1) / 2}};
    return b;
}

TEST(PaneCameraTest, ResetCentresTheBoxAndFillsEightyPercentOfTheTighterDirection)
{
    PaneCamera cam(kViewFront);
    ASSERT_TRUE(cam.SetupProjection(300, 200));
    cam.Reset(Box(9, -1, 4, 11, 1, 6));
    // Front: width 3000 units over 2 (x), height 2000 over 2 (z): height is tighter.
    EXPECT_DOUBLE_EQ(cam.Zoom(), 800.0);
    const double corner[3] = {11, 0, 6};
    double px, py;
    OrthoPixel(cam, corner, px, py);
    EXPECT_NEAR(px, 150 + 80, 1e-9);
    EXPECT_NEAR(py, 100 - 80, 1e-9);
    EXPECT_DOUBLE_EQ(cam.Pan()[0], -10.0);
    EXPECT_DOUBLE_EQ(cam.Pan()[2], -5.0);
}

TEST(PaneCameraTest, ZeroSizedClientAreaKeepsTheViewVolume)
{
    PaneCamera cam(kViewTop);
    ASSERT_TRUE(cam.SetupProjection(400, 100));
    EXPECT_FALSE(cam.SetupProjection(0, 0));
    EXPECT_FALSE(cam.SetupProjection(300, 0));
    EXPECT_DOUBLE_EQ(cam.Aspect(), 4.0);
    EXPECT_DOUBLE_EQ(cam.PixelSize(), 2000.0 / 100);
}

TEST(PaneCameraTest, ResizingKeepsNavigationAndOnlyTheHeightSetsThePixelSize)
{
    PaneCamera cam(kViewTop);
    cam.SetupProjection(200, 100);
    cam.Reset(Box(-1, -1, -1, 1, 1, 1));
    cam.PanOrtho(10, 5);
    const double zoom = cam.Zoom();
    const double panX = cam.Pan()[0];
    cam.SetupProjection(500, 100);
    EXPECT_DOUBLE_EQ(cam.Zoom(), zoom);
    EXPECT_DOUBLE_EQ(cam.Pan()[0], panX);
    EXPECT_DOUBLE_EQ(cam.PixelSize(), 20.0);
}

TEST(PaneCameraTest, OrthographicPanMakesTheSceneFollowTheMouse)
{
    for (int kind : {kViewTop, kViewSide, kViewFront}) {
        PaneCamera cam(kind);
        cam.SetupProjection(200, 200);
        cam.Reset(Box(-1, -2, -3, 1, 2, 3));
        const double p[3] = {0.5, 0.25, 0.75};
        double x0, y0, x1, y1;
        OrthoPixel(cam, p, x0, y0);
        cam.PanOrtho(13, -7);
        OrthoPixel(cam, p, x1, y1);
        EXPECT_NEAR(x1 - x0, 13, 1e-9) << "kind " << kind;
        EXPECT_NEAR(y1 - y0, -7, 1e-9) << "kind " << kind;
    }
}

TEST(PaneCameraTest, DragToTheRightInTheSidePaneMovesTheSceneTowardMinusY)
{
    PaneCamera cam(kViewSide);
    cam.SetupProjection(100, 100);
    cam.Reset(Box(-1, -1, -1, 1, 1, 1));
    const double before = cam.Pan()[1];
    cam.PanOrtho(10, 0);
    EXPECT_LT(cam.Pan()[1], before);
}

TEST(PaneCameraTest, ZoomInAnOrthographicPaneKeepsThePressedPointFixed)
{
    for (int kind : {kViewTop, kViewSide, kViewFront}) {
        PaneCamera cam(kind);
        cam.SetupProjection(300, 200);
        cam.Reset(Box(2, 3, 4, 6, 5, 9));
        // The world point under pixel (70, 40) before the zoom stays under it.
        double w[2];
        cam.ScreenToWorld(70, 40, w);
        double p[3] = {0, 0, 0};
        double ex[3];
        // Find p by inverting the orthographic mapping through the navigation matrix.
        const double* m = cam.Modelview();
        const double s = m[0];
        if (kind == kViewTop) {
            p[0] = w[0] * cam.Zoom() / s - m[12] / s, p[1] = w[1] * cam.Zoom() / s - m[13] / s;
        } else if (kind == kViewSide) {
            p[1] = -(w[0] * cam.Zoom() / s) - m[13] / s, p[2] = w[1] * cam.Zoom() / s - m[14] / s;
        } else {
            p[0] = w[0] * cam.Zoom() / s - m[12] / s, p[2] = w[1] * cam.Zoom() / s - m[14] / s;
        }
        Apply(cam, p, ex);
        double x0, y0, x1, y1;
        OrthoPixel(cam, p, x0, y0);
        ASSERT_NEAR(x0, 70, 1e-6);
        ASSERT_NEAR(y0, 40, 1e-6);
        cam.ZoomAt(0, 70, 40);
        OrthoPixel(cam, p, x1, y1);
        EXPECT_NEAR(x1, 70, 1e-6) << "kind " << kind;
        EXPECT_NEAR(y1, 40, 1e-6) << "kind " << kind;
        EXPECT_NEAR(cam.Zoom(), s * 1.1, 1e-9);
    }
}

TEST(PaneCameraTest, RotationTurnsOnlyTheUserPane)
{
    PaneCamera top(kViewTop);
    top.SetupProjection(100, 100);
    top.Reset(Box(-1, -1, -1, 1, 1, 1));
    double before[16];
    std::copy(top.Modelview(), top.Modelview() + 16, before);
    top.RotateUser(1, 3);
    EXPECT_TRUE(std::equal(before, before + 16, top.Modelview()));

    PaneCamera user(kViewUser);
    user.SetupProjection(100, 100);
    user.Reset(Box(-1, -1, -1, 1, 1, 1));
    user.RotateUser(1, 3);
    user.RotateUser(0, 2);
    EXPECT_DOUBLE_EQ(user.Turn(), 4.0);
    // The box centre lies on the turning axis' plane: a turn keeps its height.
    const double c[3] = {0, 0, 0};
    double e[3];
    Apply(user, c, e);
    EXPECT_NEAR(e[2], 0.0, 1e-9);
}

TEST(PaneCameraTest, ShiftPanInTheUserPaneMovesOnlyVertically)
{
    PaneCamera cam(kViewUser);
    cam.SetupProjection(100, 100);
    cam.Reset(Box(-1, -1, -1, 1, 1, 1));
    const double x = cam.Pan()[0], y = cam.Pan()[1];
    cam.PanUser(25, -10, 1);
    EXPECT_DOUBLE_EQ(cam.Pan()[0], x);
    EXPECT_DOUBLE_EQ(cam.Pan()[1], y);
    EXPECT_GT(cam.Pan()[2], 0.0);
}

TEST(PaneCameraTest, DegenerateAndHugeBoxesGiveFiniteCameras)
{
    const SceneBox boxes[] = {
        Box(1, 2, 3, 1, 2, 3),                      // one point
        Box(-1, -1, 0, 1, 1, 0),                    // flat in z
        Box(0, -5, 0, 0, 5, 0),                     // a line along the Front view axis
        Box(-1e30, -1e30, -1e30, 1e30, 1e30, 1e30), // huge coordinates
    };
    for (const SceneBox& box : boxes) {
        for (int kind = 0; kind < 4; ++kind) {
            PaneCamera cam(kind);
            cam.SetupProjection(1, 1);
            cam.Reset(box);
            cam.PanOrtho(3, 4);
            cam.ZoomAt(1, 0, 0);
            cam.RotateUser(2, 3);
            for (int i = 0; i < 16; ++i) {
                ASSERT_TRUE(std::isfinite(cam.Modelview()[i])) << "kind " << kind;
            }
            EXPECT_GT(cam.Zoom(), 0.0);
        }
    }
}

TEST(PaneCameraTest, UserPaneKeepsADeepSceneInFrontOfItsEye)
{
    PaneCamera user(kViewUser);
    user.SetupProjection(200, 200);
    double eye[3];
    user.Eye(eye);
    // Ten times deeper than wide or high: fitted like the Front pane, its near face
    // would stand behind the eye.
    user.Reset(Box(-1, -10, -1, 1, 10, 1));
    const double nearest[3] = {0, -10, 0};
    double e[3];
    Apply(user, nearest, e);
    EXPECT_NEAR(e[1], eye[1] / 2, 1e-9);
    // A cube stays well in front, and keeps the Front pane's fit.
    user.Reset(Box(-1, -1, -1, 1, 1, 1));
    EXPECT_DOUBLE_EQ(user.Zoom(), 0.8 * 2000 / 2);
}

TEST(PaneCameraTest, FlatSceneFitsByItsFiniteExtent)
{
    PaneCamera cam(kViewFront);
    cam.SetupProjection(200, 200);
    cam.Reset(Box(-1, -1, 0, 1, 1, 0)); // no height seen from the front
    EXPECT_DOUBLE_EQ(cam.Zoom(), 0.8 * 2000 / 2);
}

} // namespace
} // namespace polyvant
