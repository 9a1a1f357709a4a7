#pragma once
#include <functional>
#include <memory>
#include <string>

#include "SceneInput.h"

// The numbered display lists of a scene (boxes, feature edges, faces, reversed faces,
// normal lines, lights, scene-box marks), compiled into the current context and so
// seen by every context of its share group. All functions need a current
// compatibility-profile context.

namespace polyvant {

class Light3d;
class ObjectList;

// How lists 4 and 5 hand their triangles to OpenGL. Both give the same pixels; the
// batched form (blocks of triangles from an array) compiles much faster.
enum class FaceEmission {
    kBatched,
    kPerFace, // one glBegin(GL_POLYGON) per face
};

// Called between blocks of work with the share done (0 to 1). The callee may run the
// event loop; it must leave this builder's context current again before returning.
using BuildProgress = std::function<void(double fraction)>;

// Runs part of a build on another thread with a context of the same share group current,
// so that lists compile side by side.
class ListWorker {
public:
    virtual ~ListWorker() = default;
    // Starts work on the other thread; false when no thread or context can be had, and
    // then work has not run.
    virtual bool Start(std::function<void()> work) = 0;
    // Waits up to milliseconds (-1: as long as it takes) for the work; true once it ended.
    virtual bool WaitFor(int milliseconds) = 0;
    // Whether the work that ended did run (its thread may have found no context).
    virtual bool Ran() const = 0;
};

// Deletes lists 1 to 15, which a share group keeps beyond the panes that made them (after
// waiting for a helper still compiling).
void DeleteSceneLists() noexcept;

// Compiles every scene list from scene: 4, 1, 3, 6, the lights 7 to 14 and 15 here, and
// 5 and 7 on worker when one is given and can start (here otherwise). Returns 1 on
// success. Returns 0 with a user-readable reason in *error (when given) when OpenGL ran out
// of memory or reported another error; the lists are deleted again then, so no pane shows
// half a scene. With background, a worker's lists may still be compiling on return: the
// first picture of the usual modes needs neither, and the window answers meanwhile.
int BuildSceneLists(const GLSceneInput& scene, const BuildProgress& progress, std::string* error,
                    FaceEmission emission = FaceEmission::kBatched,
                    std::unique_ptr<ListWorker> worker = nullptr, bool background = false);

// Whether a worker of the last build has not been finished yet (FinishSceneLists).
bool SceneListsPending() noexcept;
// Whether lists 5 and 7 of the last build are still compiling on its worker.
bool SceneListsCompiling() noexcept;
// Blocks until they are compiled (they exist then unless their compilation failed).
void WaitForSceneLists() noexcept;
// Waits for them and ends the worker. 1 when they compiled (or none were pending);
// otherwise 0 with the reason in *error, and every list deleted. Needs a current context
// of the share group.
int FinishSceneLists(std::string* error);

// Length of the normal lines: one twelfth of the scene box's diagonal, negative so that
// the lines run against the computed face normal (outwards for counter-clockwise faces).
double NormalLineLength(const SceneBox& box) noexcept;

// Compiles the light lists: for all, every light entry 0 to 7 of type 2; otherwise only
// entry changed.
void BuildLightLists(const ObjectList* lights, bool all, int changed) noexcept;

// The OpenGL calls of one light as OpenGL light GL_LIGHT0 + index.
void SetupLight(const Light3d& light, int index) noexcept;

} // namespace polyvant
