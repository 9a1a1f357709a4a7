#include "GLViewWnd.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <chrono>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QSurfaceFormat>
#include <QWheelEvent>

#include "NavigationCursors.h"
#include "SharedContextWorker.h"

namespace polyvant {

namespace {

constexpr int kModShift = 1;
constexpr int kModCtrl = 2;
constexpr int kModAlt = 4;
constexpr int kWheelStep = 120;

// The panes need a compatibility context and one share group; both must be settled
// before the application object exists, so linking the panes settles them.
const bool kOpenGLConfigured = (ConfigureOpenGLDefaults(), true);

const std::chrono::steady_clock::time_point kStart = std::chrono::steady_clock::now();

} // namespace

double MillisecondsSinceStart() noexcept
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - kStart)
        .count();
}

bool ConfigureOpenGLDefaults() noexcept
{
    if (QCoreApplication::instance()) {
        return false;
    }
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setVersion(2, 1);
    format.setRedBufferSize(8);
    format.setGreenBufferSize(8);
    format.setBlueBufferSize(8);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    QSurfaceFormat::setDefaultFormat(format);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    return true;
}

GLViewWnd::GLViewWnd(int kind, const GLSceneInput* scene, QWidget* parent)
    : QOpenGLWidget(parent), m_scene(scene), m_kind(kind), m_camera(kind)
{
    (void)kOpenGLConfigured;
    for (int i = 0; i < kMaxLights; ++i) {
        m_lightListIds[i] = int(kListFirstLight) + i;
    }
    setMinimumSize(1, 1);
    // Keeps the framebuffer between frames, so that a paint with nothing new can skip.
    setUpdateBehavior(QOpenGLWidget::PartialUpdate);
}

GLViewWnd::~GLViewWnd()
{
    // A helper still compiling lists must end while its share group's contexts exist.
    FinishBackgroundLists(nullptr);
}

void GLViewWnd::SetRenderModes(int mode, int fastMode) noexcept
{
    m_mode = mode;
    m_fastMode = fastMode;
    m_frameStale = true;
}

void GLViewWnd::SetScene(const GLSceneInput* scene) noexcept
{
    m_scene = scene;
    m_frameStale = true;
}

void GLViewWnd::HoldScene(bool hold) noexcept
{
    m_holdScene = hold;
    m_frameStale = true;
}

void GLViewWnd::RequestFrame()
{
    m_frameStale = true;
    update();
}

bool GLViewWnd::EnsureContext()
{
    if (!isValid()) {
        // A pane that was never shown (a minimised or hidden window) has no context
        // yet; grabbing the framebuffer creates it.
        grabFramebuffer();
    }
    return isValid() && context() != nullptr;
}

int GLViewWnd::BuildDisplayLists(const BuildProgress& progress, std::string* error,
                                 FaceEmission emission, bool background)
{
    if (!EnsureContext()) {
        if (error) {
            *error = "No OpenGL context could be created for the views.";
        }
        return 0;
    }
    // Made before this context is current: making a context may change the current one.
    auto worker = std::make_unique<SharedContextWorker>(context(), this,
                                                        [this] { emit BackgroundListsEnded(); });
    makeCurrent();
    BuildProgress rebind;
    if (progress) {
        rebind = [&](double fraction) {
            progress(fraction);
            // The callee may have painted other panes, which made their contexts current.
            makeCurrent();
        };
    }
    GLSceneInput empty;
    m_frameStale = true;
    const int ok = BuildSceneLists(m_scene ? *m_scene : empty, rebind, error, emission,
                                   std::move(worker), background);
    doneCurrent();
    return ok;
}

int GLViewWnd::FinishBackgroundLists(std::string* error)
{
    if (!SceneListsPending()) {
        return 1; // nothing to wait for: no context to make current
    }
    if (!isValid()) {
        return FinishSceneLists(error);
    }
    makeCurrent();
    const int ok = FinishSceneLists(error);
    doneCurrent();
    return ok;
}

bool GLViewWnd::ShareLists(GLViewWnd& source, GLViewWnd& target) noexcept
{
    if (!source.EnsureContext() || !target.EnsureContext()) {
        return false;
    }
    return QOpenGLContext::areSharing(source.context(), target.context());
}

void GLViewWnd::Redraw()
{
    RequestFrame();
}

void GLViewWnd::ResetCamera()
{
    m_camera.SetupProjection(width(), height());
    SceneBox box{};
    if (m_scene) {
        box = m_scene->box;
    }
    m_camera.Reset(box);
    RequestFrame();
}

void GLViewWnd::ToggleNormals()
{
    m_showNormals = m_showNormals ? 0 : 1;
    RequestFrame();
}

void GLViewWnd::MarkLightChanged(int index) noexcept
{
    // Only a lit frame compiles the change; when another light changed before that
    // frame came (the pane in an unlit mode), every light list is compiled anew.
    m_changedLight = m_lightListsValid == 0 && m_changedLight != index ? kAllLightsChanged : index;
    m_lightListsValid = 0;
    m_frameStale = true;
}

void GLViewWnd::ClosePane()
{
    close();
}

unsigned GLViewWnd::TakeFrameError() noexcept
{
    const unsigned code = m_frameError;
    m_frameError = GL_NO_ERROR;
    return code;
}

void GLViewWnd::initializeGL()
{
    m_frameStale = true;
    glEnable(GL_NORMALIZE);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void GLViewWnd::resizeGL(int, int)
{
    // The camera works in widget pixels, like the mouse; the viewport in device pixels.
    m_camera.SetupProjection(width(), height());
    m_frameStale = true;
}

void GLViewWnd::ApplyProjection()
{
    const qreal ratio = devicePixelRatioF();
    glViewport(0, 0, GLsizei(width() * ratio), GLsizei(height() * ratio));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const double a = m_camera.Aspect();
    if (m_kind == kViewUser) {
        gluPerspective(PaneCamera::kFieldOfView, a, PaneCamera::kPerspectiveNear,
                       PaneCamera::kPerspectiveFar);
    } else {
        glOrtho(-PaneCamera::kHalfHeight * a, PaneCamera::kHalfHeight * a, -PaneCamera::kHalfHeight,
                PaneCamera::kHalfHeight, PaneCamera::kOrthoNear, PaneCamera::kOrthoFar);
    }
    double eye[3];
    m_camera.Eye(eye);
    gluLookAt(eye[0], eye[1], eye[2], 0.0, 0.0, 0.0, 0.0, 0.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(m_camera.Modelview());
}

void GLViewWnd::paintGL()
{
    // Qt also paints when only the window around the pane changed (a dialog closed, a
    // caption activated); the framebuffer still holds this frame then.
    if (!m_frameStale) {
        return;
    }
    m_frameStale = false;
    if (m_holdScene) {
        glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        return;
    }
    ++m_sceneFrames;
    ApplyProjection();
    DrawScene();
    const GLenum code = glGetError();
    if (code != GL_NO_ERROR && m_frameError == GL_NO_ERROR) {
        m_frameError = code;
    }
    for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

void GLViewWnd::DrawScene()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    const int m = EffectiveMode();
    ModeState state;
    if (LookupModeState(m, state)) {
        m_cullFace = state.cullFace;
        m_depthTest = state.depthTest;
        m_polygonMode = state.polygonMode;
    }
    if (m_cullFace) {
        glEnable(GL_CULL_FACE);
    } else {
        glDisable(GL_CULL_FACE);
    }
    if (m_depthTest) {
        glEnable(GL_DEPTH_TEST);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glPointSize(1.0f);
    glPolygonMode(GL_FRONT_AND_BACK, m_polygonMode == 0   ? GL_POINT
                                     : m_polygonMode == 1 ? GL_LINE
                                                          : GL_FILL);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (m == kModeWire || m == kModeShade || m == kModeDouble) {
        if (m_kind == kViewUser) {
            glEnable(GL_LIGHTING);
            if (m_lightListsValid == 0) {
                BuildLightLists(m_scene ? m_scene->lights : nullptr,
                                m_changedLight == kAllLightsChanged, m_changedLight);
            }
            m_lightListsValid = -1;
            m_changedLight = -1;
            glCallLists(kMaxLights, GL_INT, m_lightListIds);
        } else {
            glDisable(GL_LIGHTING);
        }
    } else {
        glDisable(GL_LIGHTING);
    }
    glShadeModel(GL_SMOOTH);

    if ((m == kModeDouble || (!m_navigating && m_showNormals)) && SceneListsCompiling()) {
        WaitForSceneLists(); // lists 5 and 7 may still be compiling after a build
    }
    if (glIsList(kListFaces)) {
        switch (m) {
        case kModeBox:
            glCallList(kListBoxes);
            break;
        case kModeEdge:
            glCallList(kListEdges);
            break;
        case kModeDouble:
            glCallList(kListFaces);
            glCallList(kListBackFaces);
            break;
        case kModeWire:
        case kModeShade:
        case kModePoint:
            glCallList(kListFaces);
            break;
        default:
            break;
        }
        if (!m_navigating && m_showNormals) {
            glCallList(kListNormals);
        }
        glCallList(kListSceneMarks);
    }

    if (m_kind == kViewUser && m_navigating) {
        // The look-at sits in the projection matrix, so this cross stays at the centre.
        glPushMatrix();
        glLoadIdentity();
        glBegin(GL_LINES);
        glVertex3d(-200.0, 0.0, 0.0);
        glVertex3d(200.0, 0.0, 0.0);
        glVertex3d(0.0, 0.0, -200.0);
        glVertex3d(0.0, 0.0, 200.0);
        glEnd();
        glPopMatrix();
    }
    glFlush();
}

void GLViewWnd::ReadModifiers(Qt::KeyboardModifiers modifiers) noexcept
{
    int code = 0;
    if (modifiers & Qt::ControlModifier) {
        code |= kModCtrl;
    }
    if (modifiers & Qt::ShiftModifier) {
        code |= kModShift;
    }
    if (modifiers & Qt::AltModifier) {
        code |= kModAlt;
    }
    m_modifier = code & ~kModShift;
    m_shift = (code & kModShift) ? 1 : 0;
}

void GLViewWnd::BeginNavigation()
{
    NavigationCursor cursor;
    if (m_modifier == 0) {
        cursor = NavigationCursor::kPan;
    } else if (m_modifier == kModCtrl && m_kind == kViewUser) {
        cursor = NavigationCursor::kRotate;
    } else if (m_modifier == kModAlt) {
        cursor = NavigationCursor::kZoom;
    } else {
        return;
    }
    setCursor(MakeNavigationCursor(cursor));
    m_navigating = 1;
    RequestFrame();
}

void GLViewWnd::EndNavigation()
{
    unsetCursor();
    m_navigating = 0;
    RequestFrame();
}

void GLViewWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QOpenGLWidget::mousePressEvent(event);
        return;
    }
    const QPoint p = event->position().toPoint();
    m_pressPoint = p;
    m_lastPoint = p;
    ReadModifiers(event->modifiers());
    BeginNavigation();
}

void GLViewWnd::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    if (event->buttons() & Qt::LeftButton) {
        ReadModifiers(event->modifiers());
        BeginNavigation();
        if (m_modifier == kModCtrl && m_kind == kViewUser) {
            const int stepMode = m_shift ? 3 : 2;
            if (m_lastPoint.x() - p.x() > 0) {
                m_camera.RotateUser(0, stepMode);
            }
            if (m_lastPoint.x() - p.x() < 0) {
                m_camera.RotateUser(1, stepMode);
            }
            if (m_lastPoint.y() - p.y() > 0) {
                m_camera.RotateUser(2, stepMode);
            }
            if (m_lastPoint.y() - p.y() < 0) {
                m_camera.RotateUser(3, stepMode);
            }
            RequestFrame();
        }
        if (m_modifier == 0) {
            const double mx = p.x() - m_lastPoint.x();
            const double my = p.y() - m_lastPoint.y();
            if (m_kind == kViewUser) {
                m_camera.PanUser(mx, my, m_shift ? 1 : 0);
            } else {
                m_camera.PanOrtho(mx, my);
            }
            RequestFrame();
        }
        if (m_modifier == kModAlt) {
            if (m_lastPoint.y() - p.y() > 0) {
                m_camera.ZoomAt(0, m_pressPoint.x(), m_pressPoint.y());
            } else if (m_lastPoint.y() - p.y() < 0) {
                m_camera.ZoomAt(1, m_pressPoint.x(), m_pressPoint.y());
            }
            RequestFrame();
        }
    }
    m_lastPoint = p;
}

void GLViewWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QOpenGLWidget::mouseReleaseEvent(event);
        return;
    }
    ReadModifiers(event->modifiers());
    EndNavigation();
}

void GLViewWnd::wheelEvent(QWheelEvent* event)
{
    // Wheel zoom about the point under the cursor: Alt+drag is taken by many window
    // managers for moving windows.
    m_wheelRemainder += event->angleDelta().y();
    const QPoint p = event->position().toPoint();
    bool changed = false;
    while (m_wheelRemainder >= kWheelStep) {
        m_camera.ZoomAt(0, p.x(), p.y());
        m_wheelRemainder -= kWheelStep;
        changed = true;
    }
    while (m_wheelRemainder <= -kWheelStep) {
        m_camera.ZoomAt(1, p.x(), p.y());
        m_wheelRemainder += kWheelStep;
        changed = true;
    }
    if (changed) {
        RequestFrame();
    }
    event->accept();
}

} // namespace polyvant
