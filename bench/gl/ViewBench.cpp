// Times the display build of the main view and the repaint of each pane and mode for
// generated tori of 100k, 1M and 4M triangles, next to a bare floor: the same lit
// triangles from one vertex buffer in one glDrawArrays call, at the same pane size.
//   xvfb-run -a -s "-screen 0 1280x1024x24" build-rel/bench/gl_view_bench [sizes...]
#include <GL/gl.h>
#include <GL/glu.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QOpenGLBuffer>
#include <QOpenGLWidget>
#include <QTest>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Vector.h>

#include "CMyPolyvantView.h"
#include "GLViewWnd.h"
#include "SceneLists.h"
#include "model/DefaultLights.h"

namespace polyvant {

namespace {

// The torus of the shared mesh generator: R 1, r 0.35, centre (0.5, -0.25, 0.125), two
// sine bumps, every quad split into two outward triangles.
Mesh3d* MakeTorus(long triangles)
{
    const long quads = triangles / 2;
    long nv = 2;
    for (long d = 2; d * d <= quads / 2; ++d) {
        if (quads % d == 0) {
            nv = d;
        }
    }
    const long nu = quads / nv;
    auto* mesh = new Mesh3d("torus", Mesh3d::kFlat);
    mesh->vertexCount = std::uint32_t(nu * nv);
    mesh->faceCount = std::uint32_t(triangles);
    mesh->vertexData = static_cast<double*>(std::malloc(sizeof(double) * 3 * nu * nv));
    mesh->faceData = static_cast<std::uint32_t*>(std::malloc(16 * std::size_t(triangles)));
    for (long i = 0; i < nu; ++i) {
        const double u = 2 * M_PI * i / nu;
        for (long j = 0; j < nv; ++j) {
            const double v = 2 * M_PI * j / nv;
            const double h =
                0.02 * std::sin(7 * u) * std::cos(11 * v) +
                0.008 * (std::sin(23 * u) * std::cos(5 * v) + std::cos(23 * u) * std::sin(5 * v));
            const double rr = 0.35 + h;
            double* p = mesh->vertexData + 3 * (i * nv + j);
            p[0] = 0.5 + std::cos(u) + rr * std::cos(v) * std::cos(u);
            p[1] = -0.25 + std::sin(u) + rr * std::cos(v) * std::sin(u);
            p[2] = 0.125 + rr * std::sin(v);
            mesh->ExtendBounds(p);
        }
    }
    std::uint32_t* f = mesh->faceData;
    for (long i = 0; i < nu; ++i) {
        for (long j = 0; j < nv; ++j) {
            const std::uint32_t a = std::uint32_t(i * nv + j);
            const std::uint32_t b = std::uint32_t(((i + 1) % nu) * nv + j);
            const std::uint32_t c = std::uint32_t(((i + 1) % nu) * nv + (j + 1) % nv);
            const std::uint32_t d = std::uint32_t(i * nv + (j + 1) % nv);
            const std::uint32_t tris[2][3] = {{a, b, c}, {a, c, d}};
            for (const auto& t : tris) {
                f[0] = t[0], f[1] = t[1], f[2] = t[2], f[3] = 0;
                f += 4;
            }
        }
    }
    return mesh;
}

class BenchHost : public ViewHost {
public:
    void Attach(CMyPolyvantView*) override {}
    void Detach(CMyPolyvantView*) override {}
    bool SceneEmpty() override { return objects.Count() == 0; }
    void ComputeSceneBounds(GLSceneInput& out) override
    {
        auto* m = static_cast<Mesh3d*>(objects.Get(0));
        for (int i = 0; i < 3; ++i) {
            out.box.min[i] = m->min[i];
            out.box.max[i] = m->max[i];
            out.box.center[i] = (m->min[i] + m->max[i]) / 2;
        }
        if (lights.Count() == 0) {
            CreateDefaultLights(&lights, out.box.min, out.box.max, out.box.center);
        }
        out.objects = &objects;
        out.lights = &lights;
    }
    void Counts(int& m, int& f, int& v) override { m = 1, f = 0, v = 0; }
    void SetCount(int, int) override {}
    ViewModes ReadModes() override { return {}; }
    void WriteModes(const ViewModes&) override {}
    void ShowMessage(const QString& text, const QString&) override
    {
        std::printf("message: %s\n", qPrintable(text));
    }
    QWidget* MainWindow() override { return nullptr; }
    void BeginBusy() override {}
    void EndBusy() override {}

    ObjectList objects{nullptr};
    ObjectList lights{DeleteSceneObject};
};

// The floor: the User pane's camera and lights, the faces' lit triangles from one buffer.
class FloorPane : public QOpenGLWidget {
public:
    FloorPane(const GLSceneInput& scene, std::vector<float> data)
        : m_scene(scene), m_data(std::move(data)), m_camera(kViewUser)
    {
    }

protected:
    void initializeGL() override
    {
        glEnable(GL_NORMALIZE);
        m_buffer.create();
        m_buffer.bind();
        m_buffer.allocate(m_data.data(), int(m_data.size() * sizeof(float)));
        m_buffer.release();
    }
    void paintGL() override
    {
        m_camera.SetupProjection(width(), height());
        m_camera.Reset(m_scene.box);
        glViewport(0, 0, width(), height());
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(60.0, m_camera.Aspect(), 1.0, 1e7);
        double eye[3];
        m_camera.Eye(eye);
        gluLookAt(eye[0], eye[1], eye[2], 0, 0, 0, 0, 0, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixd(m_camera.Modelview());
        glClearColor(0, 0, 0, 1);
        glEnable(GL_CULL_FACE);
        glEnable(GL_DEPTH_TEST);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_LIGHTING);
        const int ids[8] = {7, 8, 9, 10, 11, 12, 13, 14};
        glCallLists(8, GL_INT, ids);
        const float c[4] = {0.44f, 0.58f, 0.86f, 1.0f};
        glMaterialfv(GL_FRONT, GL_AMBIENT_AND_DIFFUSE, c);
        m_buffer.bind();
        glInterleavedArrays(GL_N3F_V3F, 0, nullptr);
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(m_data.size() / 6));
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
        m_buffer.release();
        glFinish();
    }

private:
    const GLSceneInput& m_scene;
    std::vector<float> m_data;
    PaneCamera m_camera;
    QOpenGLBuffer m_buffer{QOpenGLBuffer::VertexBuffer};
};

// Minimum over runs of the time to render and read back one frame of pane, in ms.
// invalidate makes the pane draw its next frame anew (a pane keeps a frame with nothing new).
double FrameTime(QOpenGLWidget& pane, int runs, const std::function<void()>& invalidate = {})
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        if (invalidate) {
            invalidate();
        }
        QElapsedTimer t;
        t.start();
        const QImage image = pane.grabFramebuffer();
        best = std::min(best, t.nsecsElapsed() / 1e6);
        if (image.isNull()) {
            return -1;
        }
    }
    return best;
}

std::vector<float> FloorData(const Mesh3d& mesh)
{
    std::vector<float> out;
    out.reserve(std::size_t(mesh.faceCount) * 18);
    for (std::uint32_t f = 0; f < mesh.faceCount; ++f) {
        double tri[9], n[3];
        for (int k = 0; k < 3; ++k) {
            std::memcpy(tri + 3 * k, mesh.vertexData + 3 * mesh.faceData[4 * f + k], 24);
        }
        TriangleNormal(tri, n);
        for (int k = 0; k < 3; ++k) {
            out.insert(out.end(), {float(-n[0]), float(-n[1]), float(-n[2]), float(tri[3 * k]),
                                   float(tri[3 * k + 1]), float(tri[3 * k + 2])});
        }
    }
    return out;
}

void RunSize(long triangles, int runs)
{
    BenchHost host;
    std::unique_ptr<Mesh3d> mesh(MakeTorus(triangles));
    host.objects.Append(mesh.get());
    QWidget window;
    window.resize(800, 600);
    auto* view = new CMyPolyvantView(host, &window);
    view->setGeometry(0, 0, 800, 600);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        std::printf("window not exposed\n");
    }

    QElapsedTimer t;
    t.start();
    view->BuildViews();
    const double build = t.nsecsElapsed() / 1e6;
    for (int i = 0; i < 4; ++i) {
        view->Pane(i)->grabFramebuffer();
    }
    const double firstFrames = t.nsecsElapsed() / 1e6;
    view->Pane(3)->FinishBackgroundLists(nullptr);
    const double background = t.nsecsElapsed() / 1e6;
    std::printf("%ld triangles: BuildViews %.0f ms, all four panes drawn %.0f ms, background "
                "lists done %.0f ms\n",
                triangles, build, firstFrames, background);

    // The lists alone, again, in the User pane (topology + compile).
    GLViewWnd* user = view->Pane(3);
    double collected = 0;
    t.restart();
    std::string error;
    user->BuildDisplayLists(
        [&](double f) {
            if (collected == 0 && f >= 0.4) {
                collected = t.nsecsElapsed() / 1e6;
            }
        },
        &error);
    const double lists = t.nsecsElapsed() / 1e6;
    std::printf("  lists again: %.0f ms (topology, normals, edges %.0f ms; compiling %.0f ms)\n",
                lists, collected, lists - collected);

    const char* names[6] = {"Box", "Edge", "Wire", "Shade", "Double", "Point"};
    const char* panes[4] = {"Top", "Side", "Front", "User"};
    for (int p = 0; p < 4; ++p) {
        std::printf("  %-5s pane %dx%d ms:", panes[p], view->Pane(p)->width(),
                    view->Pane(p)->height());
        for (int m = 0; m < 6; ++m) {
            view->Pane(p)->SetRenderModes(m, 0);
            GLViewWnd* pane = view->Pane(p);
            std::printf(" %s %.1f", names[m], FrameTime(*pane, runs, [pane] { pane->Redraw(); }));
        }
        std::printf("\n");
    }
    FloorPane floor(view->Scene(), FloorData(*mesh));
    floor.resize(user->size());
    floor.show();
    if (!QTest::qWaitForWindowExposed(&floor)) {
        std::printf("floor not exposed\n");
    }
    user->SetRenderModes(kModeShade, kModeEdge);
    const double shade = FrameTime(*user, runs, [user] { user->Redraw(); });
    const double bare = FrameTime(floor, runs);
    std::printf("  User Shade %.1f ms vs bare floor %.1f ms (ratio %.2f)\n", shade, bare,
                shade / bare);
    delete view;
}

} // namespace

} // namespace polyvant

polyvant::ViewHost& polyvant::DefaultViewHost()
{
    static BenchHost host;
    return host;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) {
        const double n = std::atof(argv[i]);
        const char last = argv[i][std::strlen(argv[i]) - 1];
        sizes.push_back(long(n * (last == 'm' ? 1e6 : last == 'k' ? 1e3 : 1)));
    }
    if (sizes.empty()) {
        sizes = {100000, 1000000, 4000000};
    }
    for (long n : sizes) {
        polyvant::RunSize(n, 5);
    }
    return 0;
}
