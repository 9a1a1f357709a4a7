#include "common/Triangulate.h"

#include <cmath>

namespace polyvant::formats {

namespace {

struct Point2 {
    double x, y;
};

double Cross(const Point2& a, const Point2& b, const Point2& c) noexcept
{
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// True when p lies inside or on triangle abc (counter-clockwise).
bool InTriangle(const Point2& p, const Point2& a, const Point2& b, const Point2& c) noexcept
{
    return Cross(a, b, p) >= 0 && Cross(b, c, p) >= 0 && Cross(c, a, p) >= 0;
}

void Fan(const std::uint32_t* corners, std::size_t n, std::vector<std::uint32_t>& triangles)
{
    for (std::size_t i = 1; i + 1 < n; ++i) {
        triangles.push_back(corners[0]);
        triangles.push_back(corners[i]);
        triangles.push_back(corners[i + 1]);
    }
}

// Work allowed for ear clipping before the rest of a pathological polygon is fanned,
// so a huge concave face cannot stall an import.
constexpr std::size_t kEarClipBudget = std::size_t(1) << 26;

thread_local TriangulationScope* t_scope = nullptr;

} // namespace

TriangulationScope::TriangulationScope(std::size_t work) noexcept : remaining(work), outer(t_scope)
{
    t_scope = this;
}

TriangulationScope::~TriangulationScope()
{
    t_scope = outer;
}

void TriangulatePolygon(const double* vertexData, const std::uint32_t* corners, std::size_t n,
                        std::vector<std::uint32_t>& triangles)
{
    if (n < 3)
        return;
    triangles.reserve(triangles.size() + 3 * (n - 2));
    if (n == 3) {
        Fan(corners, n, triangles);
        return;
    }

    // Newell normal: robust for non-planar and concave polygons.
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double* a = vertexData + 3 * std::size_t(corners[i]);
        const double* b = vertexData + 3 * std::size_t(corners[(i + 1) % n]);
        nx += (a[1] - b[1]) * (a[2] + b[2]);
        ny += (a[2] - b[2]) * (a[0] + b[0]);
        nz += (a[0] - b[0]) * (a[1] + b[1]);
    }
    const double ax = std::fabs(nx), ay = std::fabs(ny), az = std::fabs(nz);
    if (!(ax + ay + az > 0)) {
        Fan(corners, n, triangles);
        return;
    }
    // Project onto the plane of the largest normal component, oriented so that the
    // polygon runs counter-clockwise.
    int u = 0, v = 1;
    double sign = nz;
    if (ax >= ay && ax >= az)
        u = 1, v = 2, sign = nx;
    else if (ay >= az)
        u = 2, v = 0, sign = ny;
    std::vector<Point2> pts(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double* a = vertexData + 3 * std::size_t(corners[i]);
        pts[i] = {a[u], sign < 0 ? -a[v] : a[v]};
    }

    bool convex = true;
    for (std::size_t i = 0; i < n && convex; ++i)
        convex = Cross(pts[i], pts[(i + 1) % n], pts[(i + 2) % n]) >= 0;
    if (convex) {
        Fan(corners, n, triangles);
        return;
    }
    TriangulationScope* scope = t_scope;
    if (scope && scope->remaining == 0) {
        ++scope->fanned;
        Fan(corners, n, triangles);
        return;
    }
    const std::size_t budget =
        scope && scope->remaining < kEarClipBudget ? scope->remaining : kEarClipBudget;

    // Ear clipping over a ring of remaining corners.
    std::vector<std::size_t> prev(n), next(n);
    for (std::size_t i = 0; i < n; ++i) {
        prev[i] = (i + n - 1) % n;
        next[i] = (i + 1) % n;
    }
    std::size_t remaining = n;
    std::size_t i = 0;
    std::size_t sinceLastEar = 0;
    std::size_t work = 0;
    while (remaining > 3) {
        const std::size_t a = prev[i], c = next[i];
        bool ear = Cross(pts[a], pts[i], pts[c]) > 0;
        if (ear && work <= budget) {
            for (std::size_t k = next[c]; k != a; k = next[k]) {
                ++work;
                // Only reflex corners can lie inside an ear; coincident points do not block.
                const Point2& p = pts[k];
                if ((p.x == pts[a].x && p.y == pts[a].y) || (p.x == pts[i].x && p.y == pts[i].y) ||
                    (p.x == pts[c].x && p.y == pts[c].y))
                    continue;
                if (InTriangle(p, pts[a], pts[i], pts[c])) {
                    ear = false;
                    break;
                }
            }
        }
        // Self-intersecting input may have no ear at all: then cut the current corner
        // anyway so the result still has n - 2 triangles.
        if (ear || sinceLastEar > remaining || work > budget) {
            triangles.push_back(corners[a]);
            triangles.push_back(corners[i]);
            triangles.push_back(corners[c]);
            next[a] = c;
            prev[c] = a;
            --remaining;
            sinceLastEar = 0;
            i = a;
        } else {
            ++sinceLastEar;
            i = c;
        }
    }
    triangles.push_back(corners[prev[i]]);
    triangles.push_back(corners[i]);
    triangles.push_back(corners[next[i]]);
    if (scope)
        scope->remaining -= work < scope->remaining ? work : scope->remaining;
}

} // namespace polyvant::formats
