#include "DefaultLights.h"

#include <cstdlib>
#include <new>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>

namespace polyvant {

void CreateDefaultLights(ObjectList* lights, const double* sceneMin, const double* sceneMax,
                         const double* sceneCenter) noexcept
{
    if (!lights || !sceneMin || !sceneMax || !sceneCenter)
        return;
    struct Default {
        const char* name;
        double grey;
        bool maxX;
        bool maxY;
        int on;
    };
    static constexpr Default kDefaults[] = {
        {"FrontLight1", 0.3, false, false, 1},
        {"FrontLight2", 0.4, true, false, 1},
        {"BackLight1", 0.3, true, true, 0},
        {"BackLight2", 0.4, false, true, 0},
    };
    for (const Default& d : kDefaults) {
        const double colour[3] = {d.grey, d.grey, d.grey};
        const double position[3] = {d.maxX ? sceneMax[0] : sceneMin[0],
                                    d.maxY ? sceneMax[1] : sceneMin[1], sceneMax[2]};
        auto* light = new (std::nothrow) Light3d(d.name, colour, position, sceneCenter, 15.0, 50.0);
        if (!light)
            std::exit(1); // out of memory, as for every allocation of the scene model
        light->on = d.on;
        lights->Append(light);
    }
}

} // namespace polyvant
