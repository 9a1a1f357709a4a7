#pragma once
#include <string>

#include <QOpenGLWidget>
#include <QPoint>

#include "GLTypes.h"
#include "PaneCamera.h"
#include "SceneLists.h"

// One OpenGL pane of the main view: a compatibility-profile QOpenGLWidget whose
// context shares display lists with the other panes of its window. It draws the
// scene lists in its render mode (its fast render mode while the user drags),
// through the fixed camera of its kind and its navigation transform.

namespace polyvant {

// The default surface format (compatibility profile, RGB 8-8-8, 24-bit depth, double
// buffered) and shared contexts for every top-level window. Runs by itself before main()
// in any program that links the panes; false (and nothing done) once a
// QCoreApplication exists.
bool ConfigureOpenGLDefaults() noexcept;

// Milliseconds since the program started (taken when the panes' library initialised).
double MillisecondsSinceStart() noexcept;

class GLViewWnd : public QOpenGLWidget {
    Q_OBJECT
public:
    // kind is fixed for the life of the pane; scene may be null (draws nothing) and is
    // not owned.
    explicit GLViewWnd(int kind, const GLSceneInput* scene = nullptr, QWidget* parent = nullptr);
    ~GLViewWnd() override;

    void SetScene(const GLSceneInput* scene) noexcept;
    // Stores both codes; no repaint.
    void SetRenderModes(int mode, int fastMode) noexcept;
    // Compiles every scene list in this pane's context (it is created first when the
    // pane has not been shown yet). 1 on success; 0 with the reason in *error.
    // With background, lists 5 and 7 may still compile on a second thread on return;
    // BackgroundListsEnded() follows once they have.
    int BuildDisplayLists(const BuildProgress& progress, std::string* error,
                          FaceEmission emission = FaceEmission::kBatched, bool background = false);
    // Ends a background compilation (waiting for it): 1 when it succeeded or none ran,
    // otherwise 0 with the reason in *error and every list deleted.
    int FinishBackgroundLists(std::string* error);
    // Whether target draws the lists compiled in source: both contexts exist and are
    // in one share group.
    static bool ShareLists(GLViewWnd& source, GLViewWnd& target) noexcept;
    void Redraw();
    // While held the pane paints only its background: a build in progress keeps the
    // window responsive without drawing the scene again at every step.
    void HoldScene(bool hold) noexcept;
    // Frames painted with the scene since the pane was made.
    int SceneFrames() const noexcept { return m_sceneFrames; }
    // Fits the scene box into the pane anew and repaints.
    void ResetCamera();
    void ToggleNormals();
    // The next lit frame recompiles the list of light index.
    void MarkLightChanged(int index) noexcept;
    void ClosePane();

    int Kind() const noexcept { return m_kind; }
    int Mode() const noexcept { return m_mode; }
    int FastMode() const noexcept { return m_fastMode; }
    bool Navigating() const noexcept { return m_navigating != 0; }
    bool ShowNormals() const noexcept { return m_showNormals != 0; }
    int Modifier() const noexcept { return m_modifier; }
    const PaneCamera& Camera() const noexcept { return m_camera; }
    // The mode the next frame draws.
    int EffectiveMode() const noexcept { return m_navigating ? m_fastMode : m_mode; }
    // OpenGL errors seen after frames since the last call (first code, or GL_NO_ERROR).
    unsigned TakeFrameError() noexcept;

signals:
    void BackgroundListsEnded();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Marks the frame out of date and schedules a paint.
    void RequestFrame();
    void ApplyProjection();
    void DrawScene();
    void ReadModifiers(Qt::KeyboardModifiers modifiers) noexcept;
    void BeginNavigation();
    void EndNavigation();
    bool EnsureContext();

    const GLSceneInput* m_scene;
    int m_kind;
    PaneCamera m_camera;
    int m_lightListIds[kMaxLights];
    static constexpr int kAllLightsChanged = -2;
    int m_changedLight = -1;
    int m_lightListsValid = -1;
    QPoint m_pressPoint;
    QPoint m_lastPoint;
    int m_modifier = 0;
    int m_shift = 0;
    int m_cullFace = 1;
    int m_depthTest = 1;
    int m_polygonMode = 2;
    int m_mode = kModeDouble;
    int m_fastMode = kModeBox;
    int m_navigating = 0;
    int m_showNormals = 0;
    bool m_holdScene = false;
    bool m_frameStale = true;
    int m_sceneFrames = 0;
    int m_wheelRemainder = 0;
    unsigned m_frameError = 0;
};

} // namespace polyvant
