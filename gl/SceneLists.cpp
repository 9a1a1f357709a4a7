#include "SceneLists.h"

#include <GL/gl.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>
#include <polyvant/Vector.h>

#include "ColourTable.h"
#include "GLTypes.h"
#include "MeshGeometry.h"

namespace polyvant {

namespace {

constexpr GLfloat kFaceShininess = 127.0f;
constexpr GLfloat kLineShininess = 128.0f;
// Triangles (or lines) handed to OpenGL per block; progress is reported between blocks.
constexpr std::size_t kBlockFaces = 32768;

// One mesh's share of the lists and the colour it is drawn in.
struct ListMesh {
    const Mesh3d* mesh = nullptr;
    float colour[3] = {0.0f, 0.0f, 0.0f};
    MeshGeometry geometry;
};

// Reports units of work done as a share of [first, first + span] of the whole build. Units
// done on a helper thread count through `helper`; only the thread that made the object
// reports, and only when it has a callback.
class Progress {
public:
    Progress(const BuildProgress* callback, double total, double first, double span,
             const std::atomic<std::uint64_t>* helper = nullptr)
        : m_callback(callback), m_total(total), m_first(first), m_span(span), m_helper(helper),
          m_owner(std::this_thread::get_id())
    {
    }
    void Advance(double units)
    {
        m_done.fetch_add(std::uint64_t(units));
        Report();
    }
    void Report()
    {
        if (m_callback && *m_callback && m_total > 0.0 && std::this_thread::get_id() == m_owner) {
            const double done = double(m_done.load() + (m_helper ? m_helper->load() : 0));
            (*m_callback)(m_first + m_span * (done < m_total ? done / m_total : 1.0));
        }
    }
    const std::atomic<std::uint64_t>& Done() const { return m_done; }

private:
    const BuildProgress* m_callback;
    double m_total;
    double m_first;
    double m_span;
    const std::atomic<std::uint64_t>* m_helper;
    std::thread::id m_owner;
    std::atomic<std::uint64_t> m_done{0};
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

// Lists 4 and 5: the faces of every mesh, front winding with negated normals or back
// winding with the normals as computed.
void EmitFaces(const std::vector<ListMesh>& meshes, bool back, FaceEmission emission,
               Progress& progress)
{
    std::vector<float> block;
    for (const ListMesh& lm : meshes) {
        SetObjectMaterial(lm.colour, kFaceShininess);
        const MeshGeometry& m = lm.geometry;
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
    // A helper still compiling would put its lists back afterwards.
    try {
        FinishSceneLists(nullptr);
    } catch (...) {
    }
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

namespace {

const char* const kOutOfMemory = "Not enough memory to build the display lists.";

bool CompileEdges(const std::vector<ListMesh>& meshes, Progress& progress, std::string* error)
{
    glNewList(kListEdges, GL_COMPILE);
    glFrontFace(GL_CCW);
    for (const ListMesh& m : meshes) {
        SetObjectMaterial(m.colour, kLineShininess);
        EmitLines(m.geometry.edges, progress);
    }
    return EndList(error);
}

// Lists 5 and 7, which the first picture of the usual modes does not need.
bool CompileBackFacesAndNormals(const std::vector<ListMesh>& meshes, FaceEmission emission,
                                Progress& progress, std::string* error)
{
    glNewList(kListBackFaces, GL_COMPILE);
    glFrontFace(GL_CCW);
    EmitFaces(meshes, true, emission, progress);
    if (!EndList(error)) {
        return false;
    }
    glNewList(kListNormals, GL_COMPILE);
    glFrontFace(GL_CCW);
    for (const ListMesh& m : meshes) {
        const float blue[4] = {0.0f, 0.0f, 1.0f, 1.0f};
        const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        SetMaterial(blue, blue, black, kLineShininess, blue);
        EmitLines(m.geometry.normalLines, progress);
    }
    return EndList(error);
}

// Lists 4, 1, the lights and 15, and list 6 when edges is set.
bool CompileTheOthers(const GLSceneInput& scene, const std::vector<ListMesh>& meshes,
                      FaceEmission emission, bool edges, Progress& progress, std::string* error)
{
    glNewList(kListFaces, GL_COMPILE);
    glFrontFace(GL_CCW);
    EmitFaces(meshes, false, emission, progress);
    if (!EndList(error)) {
        return false;
    }

    glNewList(kListBoxes, GL_COMPILE);
    glFrontFace(GL_CCW);
    for (const ListMesh& m : meshes) {
        SetObjectMaterial(m.colour, kLineShininess);
        if (!m.mesh->boundsEmpty) {
            EmitBox(*m.mesh);
        }
    }
    if (!EndList(error)) {
        return false;
    }
    if (edges && !CompileEdges(meshes, progress, error)) {
        return false;
    }

    BuildLightLists(scene.lights, true, -1);

    glNewList(kListSceneMarks, GL_COMPILE);
    EmitSceneMarks(scene.box);
    return EndList(error);
}

// Lists 6, 5 and 7 on a helper thread, in that order: the first picture needs list 6, so
// the build waits for it, while 5 and 7 may go on compiling afterwards. The job owns what
// they are made from.
struct HelperJob {
    enum : int { kEdgesPending, kEdgesDone, kEdgesFailed };
    std::vector<ListMesh> meshes;
    FaceEmission emission = FaceEmission::kBatched;
    std::unique_ptr<Progress> progress; // counts only; nobody reports it
    std::atomic<int> edges{kEdgesPending};
    bool ok = true;
    std::string error;

    void Run() noexcept
    {
        try {
            if (edges.load() == kEdgesPending) {
                ok = CompileEdges(meshes, *progress, &error);
                glFinish(); // other contexts draw it as soon as it is marked done
                edges.store(ok ? kEdgesDone : kEdgesFailed);
            }
            if (ok) {
                ok = CompileBackFacesAndNormals(meshes, emission, *progress, &error);
            }
        } catch (const std::bad_alloc&) {
            glEndList();
            DrainErrors();
            ok = false;
            error = kOutOfMemory;
        }
        if (edges.load() == kEdgesPending) {
            edges.store(kEdgesFailed);
        }
    }
};

// The helper compile of the last build, until it has been finished.
struct Pending {
    std::unique_ptr<ListWorker> worker;
    std::shared_ptr<HelperJob> job;
};
Pending g_pending;

} // namespace

bool SceneListsPending() noexcept
{
    return g_pending.worker != nullptr;
}

bool SceneListsCompiling() noexcept
{
    return g_pending.worker && !g_pending.worker->WaitFor(0);
}

void WaitForSceneLists() noexcept
{
    if (g_pending.worker) {
        g_pending.worker->WaitFor(-1);
    }
}

int FinishSceneLists(std::string* error)
{
    if (!g_pending.worker) {
        return 1;
    }
    g_pending.worker->WaitFor(-1);
    const std::shared_ptr<HelperJob> job = std::move(g_pending.job);
    if (!g_pending.worker->Ran()) {
        job->Run(); // its thread found no context: compile here after all
    }
    g_pending.worker.reset();
    if (job->ok) {
        return 1;
    }
    glDeleteLists(1, kLastSceneList);
    if (error) {
        *error = job->error;
    }
    return 0;
}

int BuildSceneLists(const GLSceneInput& scene, const BuildProgress& progress, std::string* error,
                    FaceEmission emission, std::unique_ptr<ListWorker> worker, bool background)
{
    DrainErrors();
    DeleteSceneLists();
    if (!scene.objects) {
        return 1;
    }
    try {
        auto job = std::make_shared<HelperJob>();
        job->emission = emission;
        std::vector<ListMesh>& meshes = job->meshes;
        // One colour per entry, in entry order, whatever its type.
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
            ListMesh m;
            m.mesh = mesh;
            const double* c = ColourTableRow(row);
            for (int i = 0; i < 3; ++i) {
                m.colour[i] = static_cast<float>(c[i]);
            }
            meshes.push_back(std::move(m));
            faceTotal += mesh->faceCount;
        }

        Progress collecting(&progress, faceTotal, 0.0, kCollectShare);
        const double normalLength = NormalLineLength(scene.box);
        std::size_t faces = 0;
        std::size_t edgeCount = 0;
        for (ListMesh& m : meshes) {
            CollectMeshGeometry(*const_cast<Mesh3d*>(m.mesh), normalLength, m.geometry);
            faces += m.geometry.corners.size() / 9;
            edgeCount += m.geometry.edges.size() / 6;
            collecting.Advance(double(m.mesh->faceCount));
        }

        const double compileTotal = double(faces) * 3.0 + double(edgeCount);
        job->progress = std::make_unique<Progress>(nullptr, compileTotal, 0.0, 0.0);
        Progress compiling(&progress, compileTotal, kCollectShare, 1.0 - kCollectShare,
                           &job->progress->Done());
        if (worker && worker->Start([job] { job->Run(); })) {
            g_pending.worker = std::move(worker);
            g_pending.job = job;
        }
        const bool helper = g_pending.worker != nullptr;
        if (!CompileTheOthers(scene, meshes, emission, !helper, compiling, error)) {
            DeleteSceneLists(); // waits for the helper first
            return 0;
        }
        if (!helper) {
            if (!CompileBackFacesAndNormals(meshes, emission, compiling, error)) {
                DeleteSceneLists();
                return 0;
            }
            return 1;
        }
        // The helper's thread may have found no context: then it ends without compiling,
        // and FinishSceneLists compiles here.
        while (job->edges.load() == HelperJob::kEdgesPending && !g_pending.worker->WaitFor(10)) {
            compiling.Report();
        }
        if (!background || job->edges.load() != HelperJob::kEdgesDone) {
            while (!g_pending.worker->WaitFor(25)) {
                compiling.Report();
            }
            compiling.Report();
            return FinishSceneLists(error);
        }
    } catch (const std::bad_alloc&) {
        glEndList(); // harmless when no list is open
        DrainErrors();
        DeleteSceneLists();
        if (error) {
            *error = kOutOfMemory;
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
