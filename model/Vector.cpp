#include <polyvant/Vector.h>

#include <cmath>

namespace polyvant {

void VecSet(double* v, double x, double y, double z) noexcept
{
    v[0] = x;
    v[1] = y;
    v[2] = z;
}

void VecCopy(double* dst, const double* src) noexcept
{
    VecSet(dst, src[0], src[1], src[2]);
}

void VecAdd(double* out, const double* a, const double* b) noexcept
{
    VecSet(out, a[0] + b[0], a[1] + b[1], a[2] + b[2]);
}

void VecSub(double* out, const double* a, const double* b) noexcept
{
    VecSet(out, a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}

double* VecScale(double* out, const double* a, double s) noexcept
{
    VecSet(out, s * a[0], s * a[1], s * a[2]);
    return out;
}

double VecLength(const double* a) noexcept
{
    return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

void VecNormalize(double* a) noexcept
{
    const double length = VecLength(a);
    if (length > 0.0) // also false for NaN
        VecScale(a, a, 1.0 / length);
}

double VecDot(const double* a, const double* b) noexcept
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void VecCross(double* out, const double* a, const double* b) noexcept
{
    VecSet(out, a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
}

void VecMin(double* out, const double* a, const double* b) noexcept
{
    VecSet(out, a[0] >= b[0] ? b[0] : a[0], a[1] >= b[1] ? b[1] : a[1],
           a[2] >= b[2] ? b[2] : a[2]);
}

void VecMax(double* out, const double* a, const double* b) noexcept
{
    VecSet(out, a[0] <= b[0] ? b[0] : a[0], a[1] <= b[1] ? b[1] : a[1],
           a[2] <= b[2] ? b[2] : a[2]);
}

int VecEqual(const double* a, const double* b) noexcept
{
    return std::fabs(a[0] - b[0]) < 1e-6 && std::fabs(a[1] - b[1]) < 1e-6 &&
           std::fabs(a[2] - b[2]) < 1e-6;
}

double VecAngle(const double* a, const double* b) noexcept
{
    const double d = VecLength(a) * VecLength(b);
    if (d == 0.0 || std::isnan(d))
        return 0.0;
    const double c = VecDot(a, b) / d;
    // Clamping keeps rounding errors of (anti-)parallel vectors out of acos.
    if (c <= -1.0 || std::isnan(c))
        return 180.0;
    if (c >= 1.0)
        return 0.0;
    return std::acos(c) * 57.29577951308232;
}

void TriangleNormal(const double* tri, double* out) noexcept
{
    double t1[3];
    double t2[3];
    VecSub(t1, tri + 3, tri);
    VecSub(t2, tri + 6, tri);
    VecCross(out, t2, t1);
    VecNormalize(out);
}

void MatIdentity(double* m) noexcept
{
    for (int i = 0; i < 16; ++i)
        m[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

} // namespace polyvant
