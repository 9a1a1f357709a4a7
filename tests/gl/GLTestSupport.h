#pragma once
// Scenes built in code for the OpenGL tests, and pixel helpers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QColor>
#include <QImage>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>

#include "SceneInput.h"

namespace polyvant::test {

// A mesh from flat data, as an import plug-in hands it over (bounds filled).
Mesh3d* MakeMesh(const std::vector<double>& points, const std::vector<std::uint32_t>& triangles);
// An axis-aligned cube with outward, counter-clockwise faces.
Mesh3d* MakeCube(const double center[3], double half);
// A flat square in the plane z = z0, facing +z.
Mesh3d* MakeSquare(double half, double z0);

// Owns the objects and lights of a test scene and the input the panes read.
class TestScene {
public:
    TestScene();
    ~TestScene();
    void Add(Obj3d* object); // takes ownership
    void AddLight(Light3d* light);
    // Scene box from the meshes' bounds (as the application computes it).
    void ComputeBox();
    // The four default lights around the box.
    void AddDefaultLights();
    const GLSceneInput& Input() const { return m_input; }
    GLSceneInput& Input() { return m_input; }
    ObjectList& Objects() { return *m_objects; }
    ObjectList& Lights() { return *m_lights; }

private:
    std::vector<std::unique_ptr<Obj3d>> m_owned;
    ObjectList* m_objects;
    ObjectList* m_lights;
    GLSceneInput m_input;
};

// Pixels that differ from black.
int CountLit(const QImage& image);
// Pixels of image whose colour is close to c (per channel within tolerance).
int CountNear(const QImage& image, QColor c, int tolerance = 8);
// Bounding rectangle of non-black pixels; empty when none.
QRect LitBounds(const QImage& image);
// Saves image under build/artifacts/<name>.png for a failed comparison; returns the path.
std::string SaveArtifact(const QImage& image, const std::string& name);

} // namespace polyvant::test
