#include "GLTestSupport.h"

#include <cstdlib>
#include <cstring>

#include <QDir>

#include "model/DefaultLights.h"

namespace polyvant::test {

Mesh3d* MakeMesh(const std::vector<double>& points, const std::vector<std::uint32_t>& triangles)
{
    auto* mesh = new Mesh3d("test", Mesh3d::kFlat);
    mesh->vertexCount = std::uint32_t(points.size() / 3);
    mesh->faceCount = std::uint32_t(triangles.size() / 3);
    mesh->vertexData = static_cast<double*>(std::malloc(points.size() * sizeof(double) + 8));
    std::memcpy(mesh->vertexData, points.data(), points.size() * sizeof(double));
    mesh->faceData = static_cast<std::uint32_t*>(std::malloc(mesh->faceCount * 16 + 16));
    for (std::uint32_t f = 0; f < mesh->faceCount; ++f) {
        for (int k = 0; k < 3; ++k) {
            mesh->faceData[f * 4 + k] = triangles[f * 3 + k];
        }
        mesh->faceData[f * 4 + 3] = 0;
    }
    for (std::size_t i = 0; i + 2 < points.size(); i += 3) {
        mesh->ExtendBounds(&points[i]);
    }
    return mesh;
}

Mesh3d* MakeCube(const double c[3], double h)
{
    std::vector<double> p;
    for (int i = 0; i < 8; ++i) {
        p.push_back(c[0] + ((i & 1) ? h : -h));
        p.push_back(c[1] + ((i & 2) ? h : -h));
        p.push_back(c[2] + ((i & 4) ? h : -h));
    }
    // Counter-clockwise seen from outside.
    const std::vector<std::uint32_t> t = {
        0, 2, 3, 0, 3, 1, // -z
        4, 5, 7, 4, 7, 6, // +z
        0, 1, 5, 0, 5, 4, // -y
        2, 6, 7, 2, 7, 3, // +y
        0, 4, 6, 0, 6, 2, // -x
        1, 3, 7, 1, 7, 5, // +x
    };
    return MakeMesh(p, t);
}

Mesh3d* MakeSquare(double h, double z0)
{
    return MakeMesh({-h, -h, z0, h, -h, z0, h, h, z0, -h, h, z0}, {0, 1, 2, 0, 2, 3});
}

TestScene::TestScene() : m_objects(new ObjectList(nullptr)), m_lights(new ObjectList(nullptr))
{
    m_input.objects = m_objects;
    m_input.lights = m_lights;
    m_input.colourRow = [](int) { return 0; };
}

TestScene::~TestScene()
{
    delete m_objects;
    delete m_lights;
}

void TestScene::Add(Obj3d* object)
{
    m_owned.emplace_back(object);
    m_objects->Append(object);
}

void TestScene::AddLight(Light3d* light)
{
    m_owned.emplace_back(light);
    m_lights->Append(light);
}

void TestScene::ComputeBox()
{
    bool first = true;
    SceneBox& box = m_input.box;
    for (const ListNode* n = m_objects->head; n; n = n->next) {
        auto* o = static_cast<Obj3d*>(n->item);
        if (o->type != kMeshType) {
            continue;
        }
        auto* m = static_cast<Mesh3d*>(o);
        for (int i = 0; i < 3; ++i) {
            box.min[i] = first ? m->min[i] : std::min(box.min[i], m->min[i]);
            box.max[i] = first ? m->max[i] : std::max(box.max[i], m->max[i]);
        }
        first = false;
    }
    for (int i = 0; i < 3; ++i) {
        box.center[i] = (box.min[i] + box.max[i]) / 2.0;
    }
}

void TestScene::AddDefaultLights()
{
    ObjectList made(nullptr);
    CreateDefaultLights(&made, m_input.box.min, m_input.box.max, m_input.box.center);
    for (const ListNode* n = made.head; n; n = n->next) {
        AddLight(static_cast<Light3d*>(n->item));
    }
}

int CountLit(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            n += (image.pixel(x, y) & 0xFFFFFF) != 0;
        }
    }
    return n;
}

int CountNear(const QImage& image, QColor c, int tolerance)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor p = image.pixelColor(x, y);
            if (std::abs(p.red() - c.red()) <= tolerance &&
                std::abs(p.green() - c.green()) <= tolerance &&
                std::abs(p.blue() - c.blue()) <= tolerance) {
                ++n;
            }
        }
    }
    return n;
}

QRect LitBounds(const QImage& image)
{
    QRect r;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) != 0) {
                r = r.united(QRect(x, y, 1, 1));
            }
        }
    }
    return r;
}

std::string SaveArtifact(const QImage& image, const std::string& name)
{
    const QString dir = QString(POLYVANT_BINARY_DIR) + "/artifacts";
    QDir().mkpath(dir);
    const QString path = dir + "/" + QString::fromStdString(name) + ".png";
    image.save(path);
    return path.toStdString();
}

} // namespace polyvant::test
