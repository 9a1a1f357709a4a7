#pragma once
#include <functional>

#include "PaneCamera.h"

// What the panes draw, filled by the main view from the application (or directly by
// tests): the scene list, the light list and the scene box. The lists are not owned
// and must outlive every build and frame that uses them.

namespace polyvant {

class ObjectList;

struct GLSceneInput {
    const ObjectList* objects = nullptr; // Obj3d items; meshes (type 0) are drawn
    const ObjectList* lights = nullptr;  // Obj3d items; lights (type 2) are used
    SceneBox box{};
    // Row of the colour table for scene entry i; empty: rand() % 93 per entry.
    std::function<int(int entry)> colourRow;
};

} // namespace polyvant
