#include "PaneCamera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace polyvant {

namespace {

void Identity(double* m)
{
    std::memset(m, 0, 16 * sizeof(double));
    m[0] = m[5] = m[10] = m[15] = 1.0;
}

// The Top eye's y is the single-precision -0.000001 widened to double; it keeps the
// viewing direction off the up vector so that the look-at is defined.
constexpr double kTopEyeY = static_cast<double>(-0.000001f);

} // namespace

PaneCamera::PaneCamera(int kind) noexcept : m_kind(kind)
{
    Identity(m_modelview);
}

bool PaneCamera::SetupProjection(int cx, int cy) noexcept
{
    if (cx <= 0 || cy <= 0) {
        return false;
    }
    const double a = static_cast<double>(cx) / static_cast<double>(cy);
    m_viewportWidth = cx;
    m_viewportHeight = cy;
    m_viewWidth = kHalfHeight * a - (-kHalfHeight) * a;
    m_aspect = a;
    m_viewLeft = -kHalfHeight * a;
    m_viewTop = kHalfHeight;
    return true;
}

void PaneCamera::Eye(double out[3]) const noexcept
{
    switch (m_kind) {
    case kViewTop:
        out[0] = 0.0, out[1] = kTopEyeY, out[2] = kOrthoEyeDistance;
        break;
    case kViewSide:
        out[0] = -kOrthoEyeDistance, out[1] = 0.0, out[2] = 0.0;
        break;
    case kViewFront:
        out[0] = 0.0, out[1] = -kOrthoEyeDistance, out[2] = 0.0;
        break;
    default:
        // Puts the frustum's cross-section through the origin at the orthographic
        // panes' view volume, 2000 x aspect by 2000.
        out[0] = 0.0, out[1] = -kHalfHeight / std::tan(30.0 * kDegToRad), out[2] = 0.0;
        break;
    }
}

double PaneCamera::PixelSize() const noexcept
{
    return m_viewportWidth > 0.0 ? m_viewWidth / m_viewportWidth : 0.0;
}

void PaneCamera::Reset(const SceneBox& box) noexcept
{
    Identity(m_modelview);
    m_zoom = 1.0;
    m_turn = 0.0;
    m_pan[0] = m_pan[1] = m_pan[2] = 0.0;
    FitScene(box);
    CentreScene(box);
}

void PaneCamera::FitScene(const SceneBox& box) noexcept
{
    double size[3];
    for (int i = 0; i < 3; ++i) {
        size[i] = box.max[i] - box.min[i];
    }
    double horizontal = size[0];
    double vertical = size[2];
    if (m_kind == kViewTop) {
        vertical = size[1];
    } else if (m_kind == kViewSide) {
        horizontal = size[1];
    }
    const double w = m_viewWidth;
    const double h = w / m_aspect;
    // A zero extent gives an infinite ratio that loses against the other one.
    const double sx = w / horizontal;
    const double sy = h / vertical;
    double s = 0.8 * (sx < sy ? sx : sy);
    if (!std::isfinite(s) || s <= 0.0) {
        // Flat in both directions of this pane (a point, or a line along the view
        // axis): size it by the box's largest extent, or keep the scale for a point.
        double largest = 0.0;
        for (double e : size) {
            if (std::isfinite(e) && e > largest) {
                largest = e;
            }
        }
        s = largest > 0.0 ? 0.8 * h / largest : 1.0;
        if (!std::isfinite(s) || s <= 0.0) {
            s = 1.0;
        }
    }
    if (m_kind == kViewUser && std::isfinite(size[1]) && size[1] > 0.0) {
        // The User pane fits the scene as the Front pane does, with its eye in front of
        // the scene's centre; a scene deeper than it is wide or high (a plate lying flat,
        // a car seen from the front) would reach up to or past the eye, which then shows
        // a few faces close up, or the inside. Its near half keeps half the eye's
        // distance off; the scenes that stay that far off keep their fit.
        double eye[3];
        Eye(eye);
        s = std::min(s, -eye[1] / size[1]);
    }
    Translate(-m_pan[0], -m_pan[1], -m_pan[2]);
    Scale(s);
    m_zoom *= s;
    Translate(m_pan[0], m_pan[1], m_pan[2]);
}

void PaneCamera::CentreScene(const SceneBox& box) noexcept
{
    Translate(-box.center[0], -box.center[1], -box.center[2]);
    for (int i = 0; i < 3; ++i) {
        m_pan[i] -= box.center[i];
    }
}

void PaneCamera::PanOrtho(double mx, double my) noexcept
{
    const double k = PixelSize();
    const double dx = mx * k / m_zoom;
    const double dy = -my * k / m_zoom;
    switch (m_kind) {
    case kViewTop:
        Translate(dx, dy, 0.0);
        m_pan[0] += dx;
        m_pan[1] += dy;
        break;
    case kViewSide:
        Translate(0.0, -dx, dy);
        m_pan[1] -= dx;
        m_pan[2] += dy;
        break;
    case kViewFront:
        Translate(dx, 0.0, dy);
        m_pan[0] += dx;
        m_pan[2] += dy;
        break;
    default:
        break;
    }
}

void PaneCamera::PanUser(double mx, double my, int heightMode) noexcept
{
    const double k = PixelSize();
    const double dx = mx * k / m_zoom;
    const double dy = -my * k / m_zoom;
    if (heightMode == 1) {
        Translate(0.0, 0.0, dy);
        m_pan[2] += dy;
        return;
    }
    const double c = std::cos(m_turn * kDegToRad);
    const double s = std::sin(m_turn * kDegToRad);
    Translate(dx * c, -s * dx, 0.0);
    m_pan[0] += dx * c;
    m_pan[1] += -s * dx;
    Translate(dy * s, dy * c, 0.0);
    m_pan[0] += dy * s;
    m_pan[1] += dy * c;
}

void PaneCamera::RotateUser(int direction, int stepMode) noexcept
{
    if (m_kind != kViewUser) {
        return;
    }
    const double step = stepMode == 3 ? 5.0 : 1.0;
    const double r = 250.0 / m_zoom;
    const double c = std::cos(m_turn * kDegToRad);
    const double s = std::sin(m_turn * kDegToRad);
    switch (direction) {
    case 0:
    case 1: {
        const double angle = direction == 0 ? -step : step;
        m_turn += angle;
        Translate(-m_pan[0], -m_pan[1], -m_pan[2]);
        Translate(0.0, -r, 0.0);
        Rotate(angle, 0.0, 0.0, 1.0);
        Translate(0.0, r, 0.0);
        Translate(m_pan[0], m_pan[1], m_pan[2]);
        break;
    }
    case 2:
    case 3: {
        const double sign = direction == 2 ? 1.0 : -1.0;
        Translate(-m_pan[0], -m_pan[1], -m_pan[2]);
        Translate(0.0, -r, 0.0);
        Rotate(-sign * c * step, 1.0, 0.0, 0.0);
        Rotate(sign * s * step, 0.0, 1.0, 0.0);
        Translate(0.0, r, 0.0);
        Translate(m_pan[0], m_pan[1], m_pan[2]);
        break;
    }
    default:
        break;
    }
}

void PaneCamera::ScreenToWorld(double x, double y, double out[2]) const noexcept
{
    const double k = PixelSize();
    out[0] = (x * k + m_viewLeft) / m_zoom;
    out[1] = (-y * k + m_viewTop) / m_zoom;
}

void PaneCamera::ShiftToPoint(double x, double y, bool there) noexcept
{
    double w[2];
    ScreenToWorld(x, y, w);
    const double sign = there ? -1.0 : 1.0;
    const double wx = sign * w[0];
    const double wy = sign * w[1];
    switch (m_kind) {
    case kViewTop:
        Translate(wx, wy, 0.0);
        m_pan[0] += wx;
        m_pan[1] += wy;
        break;
    case kViewSide:
        Translate(0.0, -wx, wy);
        m_pan[1] -= wx;
        m_pan[2] += wy;
        break;
    case kViewFront:
        Translate(wx, 0.0, wy);
        m_pan[0] += wx;
        m_pan[2] += wy;
        break;
    default:
        break;
    }
}

void PaneCamera::ZoomAt(int direction, double pressX, double pressY) noexcept
{
    const double f = direction == 0 ? 1.1 : 1.0 / 1.1;
    ShiftToPoint(pressX, pressY, true);
    Translate(-m_pan[0], -m_pan[1], -m_pan[2]);
    Scale(f);
    m_zoom *= f;
    Translate(m_pan[0], m_pan[1], m_pan[2]);
    ShiftToPoint(pressX, pressY, false);
}

void PaneCamera::MultiplyRight(const double* b) noexcept
{
    double r[16];
    for (int col = 0; col < 4; ++col) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += m_modelview[k * 4 + row] * b[col * 4 + k];
            }
            r[col * 4 + row] = sum;
        }
    }
    std::memcpy(m_modelview, r, sizeof r);
}

void PaneCamera::Translate(double x, double y, double z) noexcept
{
    double t[16];
    Identity(t);
    t[12] = x;
    t[13] = y;
    t[14] = z;
    MultiplyRight(t);
}

void PaneCamera::Scale(double s) noexcept
{
    double t[16];
    Identity(t);
    t[0] = t[5] = t[10] = s;
    MultiplyRight(t);
}

void PaneCamera::Rotate(double angle, double x, double y, double z) noexcept
{
    const double len = std::sqrt(x * x + y * y + z * z);
    if (len == 0.0) {
        return;
    }
    x /= len;
    y /= len;
    z /= len;
    const double c = std::cos(angle * kDegToRad);
    const double s = std::sin(angle * kDegToRad);
    const double t = 1.0 - c;
    double m[16];
    Identity(m);
    m[0] = x * x * t + c;
    m[1] = y * x * t + z * s;
    m[2] = x * z * t - y * s;
    m[4] = x * y * t - z * s;
    m[5] = y * y * t + c;
    m[6] = y * z * t + x * s;
    m[8] = x * z * t + y * s;
    m[9] = y * z * t - x * s;
    m[10] = z * z * t + c;
    MultiplyRight(m);
}

} // namespace polyvant
