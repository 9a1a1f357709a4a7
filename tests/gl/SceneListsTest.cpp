// Content of the scene lists: faster emission draws the same pixels, lights land where
// their records say, failures leave no half-built lists.
#include "SceneLists.h"

#include <GL/gl.h>
#include <cmath>
#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "GLTestSupport.h"
#include "GLViewWnd.h"
#include "OpenGLInfoDialog.h"

namespace polyvant {
namespace {

// A closed, bumpy surface: smooth and creased normals, every face visible somewhere.
Mesh3d* MakeBumpySphere(int rings, int segments)
{
    std::vector<double> p;
    for (int i = 0; i <= rings; ++i) {
        const double v = M_PI * i / rings;
        for (int j = 0; j < segments; ++j) {
            const double u = 2 * M_PI * j / segments;
            const double r = 1.0 + 0.15 * std::sin(5 * u) * std::sin(3 * v);
            p.insert(p.end(), {r * std::sin(v) * std::cos(u), r * std::sin(v) * std::sin(u),
                               r * std::cos(v)});
        }
    }
    std::vector<std::uint32_t> t;
    for (int i = 0; i < rings; ++i) {
        for (int j = 0; j < segments; ++j) {
            const std::uint32_t a = i * segments + j, b = i * segments + (j + 1) % segments;
            const std::uint32_t c = a + segments, d = b + segments;
            t.insert(t.end(), {a, c, d, a, d, b});
        }
    }
    return test::MakeMesh(p, t);
}

class SceneListsTest : public testing::Test {
protected:
    GLViewWnd& Show(int kind, int w = 160, int h = 160)
    {
        pane = std::make_unique<GLViewWnd>(kind, &scene.Input());
        pane->resize(w, h);
        pane->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(pane.get()));
        return *pane;
    }

    test::TestScene scene;
    std::unique_ptr<GLViewWnd> pane;
};

TEST_F(SceneListsTest, BatchedFacesDrawTheSamePixelsAsOnePolygonPerFace)
{
    scene.Add(MakeBumpySphere(24, 40));
    const double c[3] = {1.2, 0.3, -0.4};
    scene.Add(test::MakeCube(c, 0.5));
    scene.ComputeBox();
    scene.AddDefaultLights();
    for (int kind : {kViewUser, kViewFront}) {
        GLViewWnd& p = Show(kind);
        for (int mode = 0; mode < kRenderModeCount; ++mode) {
            p.SetRenderModes(mode, kModeBox);
            QImage images[2];
            for (int i = 0; i < 2; ++i) {
                std::string error;
                ASSERT_EQ(p.BuildDisplayLists({}, &error,
                                              i ? FaceEmission::kPerFace : FaceEmission::kBatched),
                          1);
                p.ResetCamera();
                images[i] = p.grabFramebuffer();
            }
            EXPECT_EQ(p.TakeFrameError(), unsigned(GL_NO_ERROR));
            EXPECT_GT(test::CountLit(images[0]), 500);
            if (images[0] != images[1]) {
                ADD_FAILURE() << "kind " << kind << " mode " << mode << ": "
                              << test::SaveArtifact(images[0], "batched") << " "
                              << test::SaveArtifact(images[1], "per_face");
            }
        }
    }
}

TEST_F(SceneListsTest, ProgressRisesToTheEndAndEveryListExists)
{
    scene.Add(MakeBumpySphere(200, 400)); // 160 000 triangles: several blocks
    scene.ComputeBox();
    scene.AddDefaultLights();
    GLViewWnd& p = Show(kViewUser);
    std::vector<double> seen;
    std::string error;
    ASSERT_EQ(p.BuildDisplayLists([&](double f) { seen.push_back(f); }, &error), 1) << error;
    ASSERT_GT(seen.size(), 4u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0.0);
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);
    p.makeCurrent();
    for (GLuint list : {1u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 15u}) {
        EXPECT_TRUE(glIsList(list)) << "list " << list;
    }
    EXPECT_FALSE(glIsList(2));
    EXPECT_FALSE(glIsList(11)); // four lights only
    p.doneCurrent();
}

TEST_F(SceneListsTest, ABuildDeletesTheListsOfTheBuildBefore)
{
    scene.Add(MakeBumpySphere(6, 8));
    scene.ComputeBox();
    for (int i = 0; i < 6; ++i) {
        scene.AddLight(new Light3d("L", scene.Input().box.max, scene.Input().box.max,
                                   scene.Input().box.center, 15, 50));
    }
    GLViewWnd& p = Show(kViewUser);
    std::string error;
    ASSERT_EQ(p.BuildDisplayLists({}, &error), 1);
    test::TestScene fewer;
    fewer.Add(MakeBumpySphere(6, 8));
    fewer.ComputeBox();
    fewer.AddDefaultLights();
    p.SetScene(&fewer.Input());
    ASSERT_EQ(p.BuildDisplayLists({}, &error), 1);
    p.makeCurrent();
    EXPECT_TRUE(glIsList(7 + 3));
    EXPECT_FALSE(glIsList(7 + 4)); // stale light lists would light the new scene
    p.doneCurrent();
    p.SetScene(&scene.Input());
}

TEST_F(SceneListsTest, LightListsPlaceSwitchAndCapTheLights)
{
    const double c[3] = {0, 0, 0};
    scene.Add(test::MakeCube(c, 1.0));
    scene.ComputeBox();
    scene.AddDefaultLights();
    scene.Add(new Obj3d("not a light", 7)); // scene entries of other types: colour only
    for (int i = 0; i < 6; ++i) {
        scene.AddLight(new Light3d("Extra", c, c, c, 15, 50));
    }
    GLViewWnd& p = Show(kViewUser);
    std::string error;
    ASSERT_EQ(p.BuildDisplayLists({}, &error), 1) << error;
    p.makeCurrent();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    for (GLuint i = 0; i < 8; ++i) {
        glDisable(GL_LIGHT0 + i);
    }
    for (GLuint list = 7; list <= 14; ++list) {
        glCallList(list);
    }
    EXPECT_FALSE(glIsList(16)); // the ninth light gets no list
    EXPECT_TRUE(glIsEnabled(GL_LIGHT0));
    EXPECT_TRUE(glIsEnabled(GL_LIGHT1));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT2));
    EXPECT_FALSE(glIsEnabled(GL_LIGHT3));
    GLfloat position[4];
    glGetLightfv(GL_LIGHT1, GL_POSITION, position); // FrontLight2 at (xmax, ymin, zmax)
    EXPECT_FLOAT_EQ(position[0], 1.0f);
    EXPECT_FLOAT_EQ(position[1], -1.0f);
    EXPECT_FLOAT_EQ(position[2], 1.0f);
    EXPECT_FLOAT_EQ(position[3], 1.0f);
    GLfloat direction[3];
    glGetLightfv(GL_LIGHT1, GL_SPOT_DIRECTION, direction);
    const float k = 1.0f / std::sqrt(3.0f);
    EXPECT_NEAR(direction[0], -k, 1e-6);
    EXPECT_NEAR(direction[1], k, 1e-6);
    EXPECT_NEAR(direction[2], -k, 1e-6);
    GLfloat diffuse[4];
    glGetLightfv(GL_LIGHT1, GL_DIFFUSE, diffuse);
    EXPECT_NEAR(diffuse[0], 1.4f * 0.4f, 1e-6);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    p.doneCurrent();
}

TEST_F(SceneListsTest, OutOfRangeSpotValuesAreClampedInsteadOfRaisingGLErrors)
{
    const double c[3] = {0, 0, 0}, up[3] = {0, 0, 5};
    scene.Add(test::MakeCube(c, 1.0));
    scene.ComputeBox();
    scene.AddLight(new Light3d("Wide", c, up, c, 500.0, 120.0));
    scene.AddLight(new Light3d("Negative", c, up, up, -3.0, std::nan("")));
    GLViewWnd& p = Show(kViewUser);
    p.SetRenderModes(kModeShade, kModeBox);
    std::string error;
    ASSERT_EQ(p.BuildDisplayLists({}, &error), 1);
    p.ResetCamera();
    (void)p.grabFramebuffer();
    EXPECT_EQ(p.TakeFrameError(), unsigned(GL_NO_ERROR));
}

TEST_F(SceneListsTest, ListsLeftToTheBackgroundDrawTheSamePixelsOnceWaitedFor)
{
    scene.Add(MakeBumpySphere(150, 300)); // long enough that the frame comes first
    scene.ComputeBox();
    scene.AddDefaultLights();
    GLViewWnd& p = Show(kViewUser);
    std::string error;
    for (bool normals : {false, true}) {
        p.SetRenderModes(kModeDouble, kModeBox);
        if (normals != p.ShowNormals()) {
            p.ToggleNormals();
        }
        ASSERT_EQ(p.BuildDisplayLists({}, &error, FaceEmission::kBatched, true), 1) << error;
        p.ResetCamera();
        const QImage early = p.grabFramebuffer(); // waits for lists 5 and 7 itself
        EXPECT_EQ(p.FinishBackgroundLists(&error), 1) << error;
        EXPECT_FALSE(SceneListsCompiling());
        ASSERT_EQ(p.BuildDisplayLists({}, &error), 1) << error;
        p.ResetCamera();
        const QImage settled = p.grabFramebuffer();
        EXPECT_EQ(p.TakeFrameError(), unsigned(GL_NO_ERROR));
        if (early != settled) {
            ADD_FAILURE() << "normals " << normals << ": " << test::SaveArtifact(early, "early")
                          << " " << test::SaveArtifact(settled, "settled");
        }
    }
    // A build started while the last one still compiles waits for it.
    ASSERT_EQ(p.BuildDisplayLists({}, &error, FaceEmission::kBatched, true), 1) << error;
    ASSERT_EQ(p.BuildDisplayLists({}, &error, FaceEmission::kBatched, true), 1) << error;
    EXPECT_EQ(p.FinishBackgroundLists(&error), 1) << error;
    p.makeCurrent();
    for (GLuint list : {1u, 3u, 4u, 5u, 6u, 7u, 15u}) {
        EXPECT_TRUE(glIsList(list)) << "list " << list;
    }
    p.doneCurrent();
}

TEST_F(SceneListsTest, APaintWithNothingNewKeepsTheFrameInsteadOfDrawingAgain)
{
    const double c[3] = {0, 0, 0};
    scene.Add(test::MakeCube(c, 1.0));
    scene.ComputeBox();
    GLViewWnd& p = Show(kViewFront);
    std::string error;
    ASSERT_EQ(p.BuildDisplayLists({}, &error), 1);
    p.ResetCamera();
    const QImage first = p.grabFramebuffer();
    const int frames = p.SceneFrames();
    ASSERT_GT(frames, 0);
    p.update(); // as when a dialog over it closes
    QTest::qWait(50);
    EXPECT_EQ(p.grabFramebuffer(), first);
    EXPECT_EQ(p.SceneFrames(), frames);
    p.SetRenderModes(kModeWire, kModeBox);
    p.Redraw();
    EXPECT_NE(p.grabFramebuffer(), first);
    EXPECT_EQ(p.SceneFrames(), frames + 1);
}

TEST(OpenGLInfoDialogTest, ShowsTheImplementationStringsInTheirPlaces)
{
    OpenGLInfoDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), "OpenGL Info");
    const OpenGLStrings strings = QueryOpenGLStrings();
    ASSERT_FALSE(strings.version.isEmpty());
    const struct {
        const char* name;
        QString expected;
    } rows[] = {
        {"vendorLabel", strings.vendor},         {"rendererLabel", strings.renderer},
        {"versionLabel", strings.version},       {"extensionsLabel", strings.extensions},
        {"gluVersionLabel", strings.gluVersion}, {"gluExtensionsLabel", strings.gluExtensions}};
    for (const auto& row : rows) {
        auto* label = dialog.findChild<QLabel*>(row.name);
        ASSERT_NE(label, nullptr) << row.name;
        EXPECT_EQ(label->text(), row.expected) << row.name;
    }
    EXPECT_FALSE(strings.gluVersion.isEmpty());
}

TEST(NormalLineLengthTest, FollowsTheBoxSizeNotItsPosition)
{
    const SceneBox centred{{-3, -4, 0}, {3, 4, 0}, {0, 0, 0}};
    const SceneBox moved{{7, 6, 10}, {13, 14, 10}, {10, 10, 10}};
    EXPECT_DOUBLE_EQ(NormalLineLength(centred), -10.0 / 12.0);
    EXPECT_DOUBLE_EQ(NormalLineLength(moved), -10.0 / 12.0);
    const SceneBox point{{1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
    EXPECT_DOUBLE_EQ(NormalLineLength(point), 0.0);
}

} // namespace
} // namespace polyvant
