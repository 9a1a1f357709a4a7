#pragma once
#include "GLTypes.h"

// The fixed camera of a pane (viewport, projection, look-at) and its navigation
// transform. The navigation transform is kept here in double precision, column-major
// as OpenGL stores it, and loaded as the modelview matrix of every frame, so it
// survives a lost or recreated context and can be checked without one. Every step
// multiplies the current matrix on the right, as glTranslated, glScaled and
// glRotated do. Nothing here calls OpenGL.

namespace polyvant {

struct SceneBox {
    double min[3];
    double max[3];
    double center[3];
};

class PaneCamera {
public:
    // Half height of the view volume at the reference plane, in world units.
    static constexpr double kHalfHeight = 1000.0;
    static constexpr double kOrthoNear = -1000000.0;
    static constexpr double kOrthoFar = 1000000.0;
    static constexpr double kFieldOfView = 60.0;
    static constexpr double kPerspectiveNear = 1.0;
    static constexpr double kPerspectiveFar = 10000000.0;
    static constexpr double kOrthoEyeDistance = 200.0;
    static constexpr double kDegToRad = 0.017453292519943295;

    explicit PaneCamera(int kind = kViewUser) noexcept;

    int Kind() const noexcept { return m_kind; }

    // The view volume for a client area of cx x cy pixels. An area with a zero side
    // keeps the previous volume (nothing would be drawn into it); returns whether
    // the volume changed.
    bool SetupProjection(int cx, int cy) noexcept;

    // Eye of the look-at for this kind; centre (0, 0, 0), up (0, 0, 1).
    void Eye(double out[3]) const noexcept;

    // Identity, then scale the scene box to 80 per cent of the tighter direction and
    // centre it.
    void Reset(const SceneBox& box) noexcept;

    void PanOrtho(double mx, double my) noexcept;
    void PanUser(double mx, double my, int heightMode) noexcept;
    // direction 0/1 turns about the vertical axis, 2/3 tips; stepMode 2 is 1 degree,
    // 3 is 5 degrees. Only the User pane turns.
    void RotateUser(int direction, int stepMode) noexcept;
    // direction 0 enlarges by 1.1, 1 shrinks; about the pressed point in the
    // orthographic panes, about the centre in the User pane.
    void ZoomAt(int direction, double pressX, double pressY) noexcept;
    void ScreenToWorld(double x, double y, double out[2]) const noexcept;

    const double* Modelview() const noexcept { return m_modelview; }
    double Zoom() const noexcept { return m_zoom; }
    double Turn() const noexcept { return m_turn; }
    const double* Pan() const noexcept { return m_pan; }
    double ViewportWidth() const noexcept { return m_viewportWidth; }
    double ViewportHeight() const noexcept { return m_viewportHeight; }
    double Aspect() const noexcept { return m_aspect; }
    double ViewWidth() const noexcept { return m_viewWidth; }
    double ViewLeft() const noexcept { return m_viewLeft; }
    double ViewTop() const noexcept { return m_viewTop; }
    // World length of one pixel at the reference plane.
    double PixelSize() const noexcept;

    // Steps on the navigation matrix (right-multiplied).
    void Translate(double x, double y, double z) noexcept;
    void Scale(double s) noexcept;
    void Rotate(double angle, double x, double y, double z) noexcept;

private:
    void FitScene(const SceneBox& box) noexcept;
    void CentreScene(const SceneBox& box) noexcept;
    void ShiftToPoint(double x, double y, bool there) noexcept;
    void MultiplyRight(const double* m) noexcept;

    int m_kind;
    double m_viewportWidth = 0.0;
    double m_viewportHeight = 0.0;
    double m_aspect = 1.0;
    double m_viewWidth = 2000.0;
    double m_viewLeft = -1000.0;
    double m_viewTop = 1000.0;
    double m_zoom = 1.0;
    double m_turn = 0.0;
    double m_pan[3] = {0.0, 0.0, 0.0};
    double m_modelview[16];
};

} // namespace polyvant
