#include "TorusMesh.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace bench {

namespace {

// nu x nv quads with 2 * nu * nv == triangles, nv the largest divisor <= sqrt(quads / 2).
void Grid(std::uint32_t triangles, std::uint32_t& nu, std::uint32_t& nv)
{
    const std::uint32_t quads = triangles / 2;
    nv = 2;
    if (quads >= 8) {
        const auto limit = static_cast<std::uint32_t>(std::sqrt(static_cast<double>(quads / 2)));
        for (std::uint32_t d = 2; d <= limit; ++d) {
            if (quads % d == 0)
                nv = d;
        }
    }
    nu = quads / nv;
}

double SixDecimals(double x)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", x);
    return std::strtod(text, nullptr);
}

} // namespace

TorusMesh MakeTorus(std::uint32_t triangles)
{
    constexpr double kMajor = 1.0, kMinor = 0.35, kPi = 3.14159265358979323846;
    constexpr double kCentre[3] = {0.5, -0.25, 0.125};
    std::uint32_t nu, nv;
    Grid(triangles, nu, nv);
    TorusMesh mesh;
    mesh.points.reserve(3 * static_cast<std::size_t>(nu) * nv);
    for (std::uint32_t i = 0; i < nu; ++i) {
        const double u = 2 * kPi * i / nu;
        const double cu = std::cos(u), su = std::sin(u);
        const double s7u = std::sin(7 * u), s23u = std::sin(23 * u), c23u = std::cos(23 * u);
        for (std::uint32_t j = 0; j < nv; ++j) {
            const double v = 2 * kPi * j / nv;
            const double h = 0.02 * s7u * std::cos(11 * v) +
                             0.008 * (s23u * std::cos(5 * v) + c23u * std::sin(5 * v));
            const double nx = std::cos(v) * cu, ny = std::cos(v) * su, nz = std::sin(v);
            const double rr = kMinor + h;
            mesh.points.push_back(SixDecimals(kCentre[0] + kMajor * cu + rr * nx));
            mesh.points.push_back(SixDecimals(kCentre[1] + kMajor * su + rr * ny));
            mesh.points.push_back(SixDecimals(kCentre[2] + rr * nz));
        }
    }
    mesh.records.reserve(4 * static_cast<std::size_t>(triangles));
    for (std::uint32_t i = 0; i < nu; ++i) {
        const std::uint32_t i1 = (i + 1) % nu;
        for (std::uint32_t j = 0; j < nv; ++j) {
            const std::uint32_t j1 = (j + 1) % nv;
            const std::uint32_t a = i * nv + j, b = i1 * nv + j, c = i1 * nv + j1, d = i * nv + j1;
            mesh.records.insert(mesh.records.end(), {a, b, c, 0, a, c, d, 0});
        }
    }
    return mesh;
}

} // namespace bench
