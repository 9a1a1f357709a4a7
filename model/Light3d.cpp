#include <polyvant/Obj3d.h>
#include <polyvant/Vector.h>

namespace polyvant {

Light3d::Light3d(const char* lightName, const double* lightColour, const double* lightPosition,
                 const double* lightTarget, double lightFalloff, double lightRadius) noexcept
    : Obj3d(lightName, kLightType), spot(1), on(1), falloff(lightFalloff), radius(lightRadius)
{
    VecCopy(colour, lightColour);
    VecCopy(position, lightPosition);
    VecCopy(target, lightTarget);
}

void Light3d::SpotDirection(double* out) const noexcept
{
    VecSub(out, target, position);
    VecNormalize(out);
}

} // namespace polyvant
