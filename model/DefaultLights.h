#pragma once

// The four lights every display build starts from, placed at the top corners of the scene box.

namespace polyvant {

class ObjectList;

// Appends "FrontLight1", "FrontLight2" (on) and "BackLight1", "BackLight2" (off) to lights,
// all spot lights aimed at sceneCenter with fall-off 15 and cut-off 50 degrees; "Front" is
// the -Y side. Does not clear the list; does nothing when any argument is null.
void CreateDefaultLights(ObjectList* lights, const double* sceneMin, const double* sceneMax,
                         const double* sceneCenter) noexcept;

} // namespace polyvant
