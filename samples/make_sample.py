#!/usr/bin/env python3
"""Writes sample.obj, the model scripts/run opens: a trefoil-knot tube resting above a
tiled floor, a faceted sphere and a twisted column, about 6000 triangles in four
objects. Deterministic; stdlib only. Usage: make_sample.py [output path]"""
import math
import sys


class Obj:
    def __init__(self):
        self.lines = ["# Polyvant sample scene (made by samples/make_sample.py)"]
        self.count = 0  # vertices written so far; OBJ indices are 1-based and file-wide

    def start(self, name):
        self.lines.append(f"o {name}")
        return self.count

    def vertex(self, x, y, z):
        self.lines.append(f"v {x:.6f} {y:.6f} {z:.6f}")
        self.count += 1

    def face(self, *corners):
        self.lines.append("f " + " ".join(str(c + 1) for c in corners))


def tube_grid(obj, base, rings, sides, closed_rings, flip=False):
    """Quads between consecutive rings of `sides` vertices each; `flip` reverses the
    winding so that the faces look outwards whichever way the rings advance."""
    last = rings if closed_rings else rings - 1
    for i in range(last):
        for j in range(sides):
            a = base + i * sides + j
            b = base + ((i + 1) % rings) * sides + j
            c = base + ((i + 1) % rings) * sides + (j + 1) % sides
            d = base + i * sides + (j + 1) % sides
            obj.face(*((a, d, c, b) if flip else (a, b, c, d)))


def knot(obj):
    base = obj.start("Trefoil knot")
    rings, sides, tube = 240, 12, 0.28

    def centre(t):
        return (math.sin(t) + 2 * math.sin(2 * t),
                math.cos(t) - 2 * math.cos(2 * t),
                -math.sin(3 * t) * 0.9 + 2.6)

    for i in range(rings):
        t = 2 * math.pi * i / rings
        p = centre(t)
        q = centre(t + 1e-3)
        tx, ty, tz = (q[0] - p[0], q[1] - p[1], q[2] - p[2])
        n = math.sqrt(tx * tx + ty * ty + tz * tz)
        tx, ty, tz = tx / n, ty / n, tz / n
        # a frame around the tangent: up = z projected off the tangent
        ux, uy, uz = -tz * tx, -tz * ty, 1 - tz * tz
        n = math.sqrt(ux * ux + uy * uy + uz * uz)
        ux, uy, uz = ux / n, uy / n, uz / n
        vx, vy, vz = ty * uz - tz * uy, tz * ux - tx * uz, tx * uy - ty * ux
        for j in range(sides):
            a = 2 * math.pi * j / sides
            c, s = math.cos(a) * tube, math.sin(a) * tube
            obj.vertex(p[0] + c * ux + s * vx, p[1] + c * uy + s * vy, p[2] + c * uz + s * vz)
    tube_grid(obj, base, rings, sides, True, flip=True)


def sphere(obj):
    base = obj.start("Sphere")
    stacks, slices, r, cx, cy, cz = 18, 32, 1.1, 4.2, -3.0, 1.1
    obj.vertex(cx, cy, cz + r)
    for i in range(1, stacks):
        phi = math.pi * i / stacks
        for j in range(slices):
            th = 2 * math.pi * j / slices
            obj.vertex(cx + r * math.sin(phi) * math.cos(th), cy + r * math.sin(phi) * math.sin(th),
                       cz + r * math.cos(phi))
    obj.vertex(cx, cy, cz - r)
    top, bottom = base, base + 1 + (stacks - 1) * slices
    for j in range(slices):
        obj.face(top, base + 1 + j, base + 1 + (j + 1) % slices)
    tube_grid(obj, base + 1, stacks - 1, slices, False)
    last = base + 1 + (stacks - 2) * slices
    for j in range(slices):
        obj.face(bottom, last + (j + 1) % slices, last + j)


def column(obj):
    base = obj.start("Twisted column")
    levels, sides, cx, cy = 40, 8, -4.2, 3.0
    for i in range(levels):
        z = 3.6 * i / (levels - 1)
        twist = 0.9 * z
        r = 0.55 + 0.08 * math.cos(3 * z)
        for j in range(sides):
            a = 2 * math.pi * j / sides + twist
            obj.vertex(cx + r * math.cos(a), cy + r * math.sin(a), z)
    tube_grid(obj, base, levels, sides, False, flip=True)
    # caps as single polygons: the importer splits them into triangles
    obj.face(*[base + j for j in reversed(range(sides))])
    obj.face(*[base + (levels - 1) * sides + j for j in range(sides)])


def floor(obj):
    base = obj.start("Floor")
    n, size = 24, 14.0
    for i in range(n + 1):
        for j in range(n + 1):
            x, y = -size / 2 + size * i / n, -size / 2 + size * j / n
            obj.vertex(x, y, 0.04 * math.sin(x * 0.9) * math.cos(y * 0.7) - 0.05)
    for i in range(n):
        for j in range(n):
            a = base + i * (n + 1) + j
            obj.face(a, a + n + 1, a + n + 2, a + 1)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "sample.obj"
    obj = Obj()
    for part in (floor, knot, sphere, column):
        part(obj)
    with open(out, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(obj.lines) + "\n")


if __name__ == "__main__":
    main()
