#include <polyvant/CheckedAlloc.h>
#include <polyvant/Obj3d.h>

namespace polyvant {

Obj3d::Obj3d(const char* objectName, std::int32_t objectType) noexcept
    : name(objectName ? CheckedStrdup(objectName) : nullptr), type(objectType)
{
}

Obj3d::~Obj3d()
{
    CheckedFree(name);
    name = nullptr;
}

void Obj3d::SetName(const char* newName) noexcept
{
    // Copy first: newName may be the current name itself.
    char* copy = newName ? CheckedStrdup(newName) : nullptr;
    CheckedFree(name);
    name = copy;
}

void DeleteSceneObject(void* item) noexcept
{
    auto* object = static_cast<Obj3d*>(item);
    if (object && (object->type == kMeshType || object->type == kLightType))
        delete object;
}

} // namespace polyvant
