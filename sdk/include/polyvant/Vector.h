#pragma once
// Vector functions on three consecutive doubles (x, y, z), passed by pointer.
// Every output may share storage with an input. Angles are in degrees.

namespace polyvant {

void VecSet(double* v, double x, double y, double z) noexcept;
void VecCopy(double* dst, const double* src) noexcept;
void VecAdd(double* out, const double* a, const double* b) noexcept;
void VecSub(double* out, const double* a, const double* b) noexcept;
double* VecScale(double* out, const double* a, double s) noexcept;
double VecLength(const double* a) noexcept;
// Normalises in place; a zero or undefined length leaves the vector unchanged.
void VecNormalize(double* a) noexcept;
double VecDot(const double* a, const double* b) noexcept;
void VecCross(double* out, const double* a, const double* b) noexcept;
// Per component: b when a >= b (VecMin) or a <= b (VecMax), else a.
void VecMin(double* out, const double* a, const double* b) noexcept;
void VecMax(double* out, const double* a, const double* b) noexcept;
// 1 when every component differs by less than 1e-6, else 0.
int VecEqual(const double* a, const double* b) noexcept;
// Angle between a and b in degrees, 0 ... 180; 0 when either has no length.
double VecAngle(const double* a, const double* b) noexcept;
// Unit normal (p2 - p0) x (p1 - p0) of the nine doubles p0, p1, p2; zero stays zero.
void TriangleNormal(const double* tri, double* out) noexcept;
void MatIdentity(double* m) noexcept;

} // namespace polyvant
