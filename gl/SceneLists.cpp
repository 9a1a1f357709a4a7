#include "SceneLists.h"

#include <GL/gl.h>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Vector.h>

#include "ColourTable.h"
#include "GLTypes.h"
#include "model/EdgeArray.h"
#include "model/FaceArray.h"
#include "model/VertexArray.h"

namespace polyvant {

namespace {

constexpr double kFaceCreaseAngle = 89.0;
constexpr double kEdgeCreaseAngle = 1.0;
constexpr GLfloat kFaceShininess = 127.0f;
constexpr GLfloat kLineShininess = 128.0f;
// Triangles (or lines) handed to OpenGL per block; progress is reported between blocks.
constexpr std::size_t kBlockFaces = 32768;

// cos(89 degrees) bounds between which VecAngle itself decides, so that the fast test
// agrees with it to the last bit.
const double kCosCreaseLow = std::cos((kFaceCreaseAngle + 1e-6) * 0.017453292519943295);
const double kCosCreaseHigh = std::cos((kFaceCreaseAngle - 1e-6) * 0.017453292519943295);

// VecAngle(a, b) < kFaceCreaseAngle, without acos for all but the borderline cases.
bool WithinCrease(const double* a, const double* b)
{
    const double d = VecLength(a) * VecLength(b);
    if (d == 0.0 || std::isnan(d)) {
        return true; // VecAngle answers 0
    }
    const double c = VecDot(a, b) / d;
    if (c > kCosCreaseHigh) {
        return true;
    }
    if (c < kCosCreaseLow || std::isnan(c)) {
        return false;
    }
    return VecAngle(a, b) < kFaceCreaseAngle;
}

// What one mesh contributes to the lists, computed from its topology once per build.
struct MeshGeometry {
    const Mesh3d* mesh = nullptr;
    float colour[3] = {0.0f, 0.0f, 0.0f};
    std::vector<float> corners;     // p0, p1, p2 of each face
    std::vector<float> normals;     // vertex normals N0, N1, N2 of each face
    std::vector<float> normalLines; // centroid and tip of each face's normal line
    std::vector<float> edges;       // both ends of each feature edge
};

// Reports units of work done as a share of [first, first + span] of the whole build.
class Progress {
public:
    Progress(const BuildProgress& callback, double total, double first, double span)
        : m_callback(callback), m_total(total), m_first(first), m_span(span)
    {
    }
    void Advance(double units)
    {
        m_done += units;
        if (m_callback && m_total > 0.0) {
            m_callback(m_first + m_span * (m_done < m_total ? m_done / m_total : 1.0));
        }
    }

private:
    const BuildProgress& m_callback;
    double m_total;
    double m_first;
    double m_span;
    double m_done = 0.0;
};

// Share of the build that the topology work takes (measured: about as long as compiling).
constexpr double kCollectShare = 0.4;

void SetMaterial(const float* ambient, const float* diffuse, const float* specular,
                 GLfloat shininess, const float* colour)
{
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT, GL_SHININESS, shininess);
    glColor3f(colour[0], colour[1], colour[2]);
}

void SetObjectMaterial(const float* c, GLfloat shininess)
{
    const float ambient[4] = {c[0], c[1], c[2], 1.0f};
    const float diffuse[4] = {1.4f * c[0], 1.4f * c[1], 1.4f * c[2], 1.0f};
    const float specular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    SetMaterial(ambient, diffuse, specular, shininess, diffuse);
}

void PutFloats(std::vector<float>& out, const double* p, int n = 3)
{
    for (int i = 0; i < n; ++i) {
        out.push_back(static_cast<float>(p[i]));
    }
}

// Face corners, smooth vertex normals, normal lines and feature edges of one mesh. The
// topology is built once here and freed again when this call built it.
void CollectGeometry(Mesh3d& mesh, double normalLength, MeshGeometry& out)
{
    const bool hadTopology = mesh.vertices || mesh.faces || mesh.edges;
    if (!hadTopology && mesh.BuildTopology() != 1) {
        return;
    }
    struct Release {
        Mesh3d& mesh;
        bool owned;
        ~Release()
        {
            if (owned) {
                mesh.FreeTopology();
            }
        }
    } release{mesh, !hadTopology};
    if (!mesh.vertices || !mesh.faces) {
        return;
    }
    const VertexArray& vertices = *mesh.vertices;
    const FaceArray& faces = *mesh.faces;
    const std::uint32_t vertexCount = vertices.Count();
    const std::uint32_t faceCount = faces.Count();
    if (vertexCount == kNoIndex || faceCount == kNoIndex) {
        return;
    }

    std::vector<std::uint32_t> corners(std::size_t(faceCount) * 3);
    std::vector<double> faceNormals(std::size_t(faceCount) * 3);
    std::uint32_t kept = 0;
    for (std::uint32_t f = 0; f < faceCount; ++f) {
        std::uint32_t* v = &corners[std::size_t(f) * 3];
        if (faces.GetFace(v, f) != 0 || v[0] >= vertexCount || v[1] >= vertexCount ||
            v[2] >= vertexCount) {
            v[0] = v[1] = v[2] = kNoIndex;
            continue;
        }
        double tri[9];
        for (int k = 0; k < 3; ++k) {
            VecCopy(tri + 3 * k, vertices.Position(v[k]));
        }
        TriangleNormal(tri, &faceNormals[std::size_t(f) * 3]);
        ++kept;
    }

    out.corners.reserve(std::size_t(kept) * 9);
    out.normals.reserve(std::size_t(kept) * 9);
    out.normalLines.reserve(std::size_t(kept) * 6);
    for (std::uint32_t f = 0; f < faceCount; ++f) {
        const std::uint32_t* v = &corners[std::size_t(f) * 3];
        if (v[0] == kNoIndex) {
            continue;
        }
        const double* fn = &faceNormals[std::size_t(f) * 3];
        double centroid[3] = {0.0, 0.0, 0.0};
        for (int k = 0; k < 3; ++k) {
            const double* p = vertices.Position(v[k]);
            PutFloats(out.corners, p);
            VecAdd(centroid, centroid, p);
            double sum[3] = {0.0, 0.0, 0.0};
            for (std::uint32_t g : vertices.VertexFaceList(v[k])) {
                if (g >= faceCount || corners[std::size_t(g) * 3] == kNoIndex) {
                    continue;
                }
                const double* gn = &faceNormals[std::size_t(g) * 3];
                if (WithinCrease(gn, fn)) {
                    VecAdd(sum, sum, gn);
                }
            }
            VecNormalize(sum);
            PutFloats(out.normals, sum);
        }
        VecScale(centroid, centroid, 0.3333333333333333);
        double tip[3];
        VecScale(tip, fn, normalLength);
        VecAdd(tip, tip, centroid);
        PutFloats(out.normalLines, centroid);
        PutFloats(out.normalLines, tip);
    }

    std::unique_ptr<Mesh3d> edges(mesh.ExtractEdges(kEdgeCreaseAngle));
    if (edges && edges->edges && edges->vertices) {
        const std::uint32_t edgeCount = edges->edges->Count();
        const std::uint32_t edgeVertices = edges->vertices->Count();
        if (edgeCount != kNoIndex) {
            out.edges.reserve(std::size_t(edgeCount) * 6);
            for (std::uint32_t e = 0; e < edgeCount; ++e) {
                std::uint32_t ends[2];
                if (edges->edges->GetEdge(ends, e) != 0 || ends[0] >= edgeVertices ||
                    ends[1] >= edgeVertices) {
                    continue;
                }
                PutFloats(out.edges, edges->vertices->Position(ends[0]));
                PutFloats(out.edges, edges->vertices->Position(ends[1]));
            }
        }
    }
}

// Lists 4 and 5: the faces of every mesh, front winding with negated normals or back
// winding with the normals as computed.
void EmitFaces(const std::vector<MeshGeometry>& meshes, bool back, FaceEmission emission,
               Progress& progress)
{
    std::vector<float> block;
    for (const MeshGeometry& m : meshes) {
        SetObjectMaterial(m.colour, kFaceShininess);
        const std::size_t faceCount = m.corners.size() / 9;
        for (std::size_t first = 0; first < faceCount; first += kBlockFaces) {
            const std::size_t last = std::min(faceCount, first + kBlockFaces);
            if (emission == FaceEmission::kPerFace) {
                for (std::size_t f = first; f < last; ++f) {
                    glBegin(GL_POLYGON);
                    for (int i = 0; i < 3; ++i) {
                        const int k = back ? 2 - i : i;
                        const float* n = &m.normals[f * 9 + k * 3];
                        if (back) {
                            glNormal3fv(n);
                        } else {
                            glNormal3f(-n[0], -n[1], -n[2]);
                        }
                        glVertex3fv(&m.corners[f * 9 + k * 3]);
                    }
                    glEnd();
                }
            } else {
                block.clear();
                block.reserve((last - first) * 18);
                for (std::size_t f = first; f < last; ++f) {
                    for (int j = 0; j < 3; ++j) {
                        // The face's first corner goes last: OpenGL takes a triangle's
                        // last vertex as its provoking one and a polygon's first, and the
                        // outlines of Wire mode are drawn in the provoking vertex's order.
                        const int i = (j + 1) % 3;
                        const int k = back ? 2 - i : i;
                        const float* n = &m.normals[f * 9 + k * 3];
                        const float* p = &m.corners[f * 9 + k * 3];
                        if (back) {
                            block.insert(block.end(), {n[0], n[1], n[2]});
                        } else {
                            block.insert(block.end(), {-n[0], -n[1], -n[2]});
                        }
                        block.insert(block.end(), {p[0], p[1], p[2]});
                    }
                }
                glInterleavedArrays(GL_N3F_V3F, 0, block.data());
                glDrawArrays(GL_TRIANGLES, 0, GLsizei((last - first) * 3));
                glDisableClientState(GL_NORMAL_ARRAY);
                glDisableClientState(GL_VERTEX_ARRAY);
                // The current normal after an array draw is undefined; one face at a time
                // leaves the last corner's. Lit lines drawn next (normals, scene marks) are
                // shaded with it.
                glNormal3fv(&block[block.size() - 6]);
            }
            progress.Advance(double(last - first));
        }
    }
}

// Lines from pairs of points, in blocks.
void EmitLines(const std::vector<float>& points, Progress& progress)
{
    const std::size_t lineCount = points.size() / 6;
    for (std::size_t first = 0; first < lineCount; first += kBlockFaces) {
        const std::size_t last = std::min(lineCount, first + kBlockFaces);
        glInterleavedArrays(GL_V3F, 0, &points[first * 6]);
        glDrawArrays(GL_LINES, 0, GLsizei((last - first) * 2));
        glDisableClientState(GL_VERTEX_ARRAY);
        progress.Advance(double(last - first));
    }
}

void Line(double x0, double y0, double z0, double x1, double y1, double z1)
{
    glBegin(GL_LINES);
    glVertex3d(x0, y0, z0);
    glVertex3d(x1, y1, z1);
    glEnd();
}

void EmitBox(const Mesh3d& mesh)
{
    const double* a = mesh.min;
    const double* b = mesh.max;
    for (double z : {a[2], b[2]}) {
        Line(a[0], a[1], z, b[0], a[1], z);
        Line(b[0], a[1], z, b[0], b[1], z);
        Line(b[0], b[1], z, a[0], b[1], z);
        Line(a[0], b[1], z, a[0], a[1], z);
    }
    Line(a[0], a[1], a[2], a[0], a[1], b[2]);
    Line(b[0], a[1], a[2], b[0], a[1], b[2]);
    Line(b[0], b[1], a[2], b[0], b[1], b[2]);
    Line(a[0], b[1], a[2], a[0], b[1], b[2]);
}

void EmitSceneMarks(const SceneBox& box)
{
    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    SetMaterial(white, white, white, kLineShininess, white);
    double d[3], a[3], b[3];
    for (int i = 0; i < 3; ++i) {
        d[i] = (box.max[i] - box.min[i]) / 10.0;
        a[i] = (box.min[i] - box.center[i]) * 1.1 + box.center[i];
        b[i] = (box.max[i] - box.center[i]) * 1.1 + box.center[i];
    }
    glBegin(GL_LINES);
    for (int corner = 0; corner < 8; ++corner) {
        const bool hx = corner & 1, hy = corner & 2, hz = corner & 4;
        const double p[3] = {hx ? b[0] : a[0], hy ? b[1] : a[1], hz ? b[2] : a[2]};
        const double step[3] = {hx ? -d[0] : d[0], hy ? -d[1] : d[1], hz ? -d[2] : d[2]};
        for (int axis = 0; axis < 3; ++axis) {
            double q[3] = {p[0], p[1], p[2]};
            q[axis] += step[axis];
            glVertex3dv(p);
            glVertex3dv(q);
        }
    }
    glEnd();
}

bool EndList(std::string* error)
{
    glEndList();
    const GLenum code = glGetError();
    if (code == GL_NO_ERROR) {
        return true;
    }
    if (error) {
        *error = code == GL_OUT_OF_MEMORY
                     ? "OpenGL ran out of memory while building the display lists."
                     : "OpenGL reported error " + std::to_string(code) +
                           " while building the display lists.";
    }
    return false;
}

void DrainErrors()
{
    for (int i = 0; i < 64 && glGetError() != GL_NO_ERROR; ++i) {
    }
}

float ClampOrZero(double value, double high)
{
    if (!(value > 0.0)) {
        return 0.0f; // also NaN
    }
    return float(value < high ? value : high);
}

} // namespace

void DeleteSceneLists() noexcept
{
    glDeleteLists(1, kLastSceneList);
}

double NormalLineLength(const SceneBox& box) noexcept
{
    double size[3];
    for (int i = 0; i < 3; ++i) {
        size[i] = box.max[i] - box.min[i];
    }
    const double diagonal = VecLength(size);
    return std::isfinite(diagonal) ? -diagonal / 12.0 : 0.0;
}

int BuildSceneLists(const GLSceneInput& scene, const BuildProgress& progress, std::string* error,
                    FaceEmission emission)
{
    DrainErrors();
    DeleteSceneLists();
    if (!scene.objects) {
        return 1;
    }
    try {
        // One colour per entry, in entry order, whatever its type.
        std::vector<MeshGeometry> meshes;
        std::vector<Mesh3d*> meshObjects;
        int entry = 0;
        double faceTotal = 0.0;
        for (const ListNode* node = scene.objects->head; node; node = node->next, ++entry) {
            const int row =
                scene.colourRow ? scene.colourRow(entry) : std::rand() % kColourTableRows;
            auto* object = static_cast<Obj3d*>(node->item);
            if (!object || object->type != kMeshType) {
                continue;
            }
            auto* mesh = static_cast<Mesh3d*>(object);
            MeshGeometry m;
            m.mesh = mesh;
            const double* c = ColourTableRow(row);
            for (int i = 0; i < 3; ++i) {
                m.colour[i] = static_cast<float>(c[i]);
            }
            meshes.push_back(std::move(m));
            meshObjects.push_back(mesh);
            faceTotal += mesh->faceCount;
        }

        Progress collecting(progress, faceTotal, 0.0, kCollectShare);
        const double normalLength = NormalLineLength(scene.box);
        std::size_t faces = 0;
        std::size_t edgeCount = 0;
        for (std::size_t i = 0; i < meshes.size(); ++i) {
            CollectGeometry(*meshObjects[i], normalLength, meshes[i]);
            faces += meshes[i].corners.size() / 9;
            edgeCount += meshes[i].edges.size() / 6;
            collecting.Advance(double(meshObjects[i]->faceCount));
        }

        const double compileTotal = double(faces) * 3.0 + double(edgeCount);
        Progress compiling(progress, compileTotal, kCollectShare, 1.0 - kCollectShare);

        glNewList(kListFaces, GL_COMPILE);
        glFrontFace(GL_CCW);
        EmitFaces(meshes, false, emission, compiling);
        if (!EndList(error)) {
            DeleteSceneLists();
            return 0;
        }
        glNewList(kListBackFaces, GL_COMPILE);
        glFrontFace(GL_CCW);
        EmitFaces(meshes, true, emission, compiling);
        if (!EndList(error)) {
            DeleteSceneLists();
            return 0;
        }

        glNewList(kListBoxes, GL_COMPILE);
        glFrontFace(GL_CCW);
        for (const MeshGeometry& m : meshes) {
            SetObjectMaterial(m.colour, kLineShininess);
            if (!m.mesh->boundsEmpty) {
                EmitBox(*m.mesh);
            }
        }
        if (!EndList(error)) {
            DeleteSceneLists();
            return 0;
        }

        glNewList(kListEdges, GL_COMPILE);
        glFrontFace(GL_CCW);
        for (const MeshGeometry& m : meshes) {
            SetObjectMaterial(m.colour, kLineShininess);
            EmitLines(m.edges, compiling);
        }
        if (!EndList(error)) {
            DeleteSceneLists();
            return 0;
        }

        glNewList(kListNormals, GL_COMPILE);
        glFrontFace(GL_CCW);
        for (const MeshGeometry& m : meshes) {
            const float blue[4] = {0.0f, 0.0f, 1.0f, 1.0f};
            const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
            SetMaterial(blue, blue, black, kLineShininess, blue);
            EmitLines(m.normalLines, compiling);
        }
        if (!EndList(error)) {
            DeleteSceneLists();
            return 0;
        }

        BuildLightLists(scene.lights, true, -1);

        glNewList(kListSceneMarks, GL_COMPILE);
        EmitSceneMarks(scene.box);
        if (!EndList(error)) {
            DeleteSceneLists();
            return 0;
        }
    } catch (const std::bad_alloc&) {
        glEndList(); // harmless when no list is open
        DrainErrors();
        DeleteSceneLists();
        if (error) {
            *error = "Not enough memory to build the display lists.";
        }
        return 0;
    }
    return 1;
}

void BuildLightLists(const ObjectList* lights, bool all, int changed) noexcept
{
    if (!lights) {
        return;
    }
    int i = 0;
    for (const ListNode* node = lights->head; node && i < kMaxLights; node = node->next, ++i) {
        auto* object = static_cast<const Obj3d*>(node->item);
        if (!object || object->type != kLightType || (!all && i != changed)) {
            continue;
        }
        glNewList(kListFirstLight + i, GL_COMPILE);
        SetupLight(*static_cast<const Light3d*>(object), i);
        glEndList();
    }
}

void SetupLight(const Light3d& light, int index) noexcept
{
    const GLenum id = GL_LIGHT0 + GLenum(index);
    const float c[3] = {float(light.colour[0]), float(light.colour[1]), float(light.colour[2])};
    const float position[4] = {float(light.position[0]), float(light.position[1]),
                               float(light.position[2]), 1.0f};
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    // Two-sided lighting follows the red component, as the colour is handed to it; every
    // lit mode culls back faces, so it shows nowhere.
    const float model[4] = {c[0], c[1], c[2], 1.0f};
    glLightModelfv(GL_LIGHT_MODEL_TWO_SIDE, model);
    const float ambient[4] = {c[0], c[1], c[2], 1.0f};
    const float diffuse[4] = {1.4f * c[0], 1.4f * c[1], 1.4f * c[2], 1.0f};
    const float specular[4] = {1.6f * c[0], 1.6f * c[1], 1.6f * c[2], 1.0f};
    glLightfv(id, GL_AMBIENT, ambient);
    glLightfv(id, GL_DIFFUSE, diffuse);
    glLightfv(id, GL_SPECULAR, specular);
    glLightfv(id, GL_POSITION, position);
    if (light.spot == 1) {
        double d[3];
        light.SpotDirection(d);
        const float direction[3] = {float(d[0]), float(d[1]), float(d[2])};
        // OpenGL refuses a cut-off outside 0 to 90 and an exponent outside 0 to 128; the
        // record does not check them, so a light edited out of range is clamped here.
        glLightf(id, GL_SPOT_CUTOFF, ClampOrZero(light.radius, 90.0));
        glLightf(id, GL_SPOT_EXPONENT, ClampOrZero(light.falloff, 128.0));
        glLightfv(id, GL_SPOT_DIRECTION, direction);
    } else {
        const float down[3] = {0.0f, 0.0f, -1.0f};
        glLightf(id, GL_SPOT_CUTOFF, 180.0f);
        glLightf(id, GL_SPOT_EXPONENT, 0.0f);
        glLightfv(id, GL_SPOT_DIRECTION, down);
    }
    if (light.on == 1) {
        glEnable(id);
    } else {
        glDisable(id);
    }
    glPopMatrix();
}

} // namespace polyvant
