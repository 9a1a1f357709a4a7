#pragma once
#include <cstdint>

#include "ObjectList.h"

// What a plug-in library offers the host. The virtual operations below keep their
// slot order; nothing may throw across the boundary, so every one is noexcept.
// A library exports the four entry points (and optionally LibSetHostServices, see
// HostServices.h) as extern "C" functions with default visibility.

namespace polyvant {

constexpr std::uint32_t kPluginInterfaceVersion = 3;
constexpr std::uint32_t kImportSuperClassId = 0x1000;
constexpr std::uint32_t kExportSuperClassId = 0x1001;

// Created by ClassDescriptor::Create, destroyed only by its own Release.
// The host creates a fresh object for each Options and Help call and releases it at once:
// options that are to reach the next import or export live in the library, not the object.
class PluginObject {
public:
    virtual void Release() noexcept = 0;
    virtual void Help() noexcept = 0;
    virtual void Options() noexcept = 0;

protected:
    ~PluginObject() = default;
};

// An import class's object. It owns every list it returns and the objects in them,
// until Release.
class Importer : public PluginObject {
public:
    // Imports the named file without asking; null (with a reported error) on failure.
    virtual ObjectList* ImportFile(const char* path) noexcept = 0;
    // Asks the user for a file through the host services, then imports it.
    virtual ObjectList* ImportInteractive() noexcept = 0;
    // Path of the file last imported, or null.
    virtual const char* GetFileName() noexcept = 0;

protected:
    ~Importer() = default;
};

// An export class's object. Export writes every mesh of the list and returns 1 when it
// wrote the file, 0 when not; a 0 without a reported reason, the user not having
// cancelled, is shown to the user as a failure.
class Exporter : public PluginObject {
public:
    virtual int Export(ObjectList* list) noexcept = 0;

protected:
    ~Exporter() = default;
};

// Owned by its library and valid while it is loaded; the host never destroys it.
class ClassDescriptor {
public:
    virtual int ClassPublicFlag() noexcept = 0;
    virtual PluginObject* Create() noexcept = 0;
    virtual const char* ClassName() noexcept = 0;
    virtual std::uint32_t SuperClassID() noexcept = 0;
    virtual std::uint32_t ClassID() noexcept = 0;

protected:
    ~ClassDescriptor() = default;
};

} // namespace polyvant

#define POLYVANT_EXPORT extern "C" __attribute__((visibility("default")))

// Entry point signatures, as the host looks them up with dlsym.
extern "C" {
typedef const char* (*PvLibNameFn)();
typedef std::uint32_t (*PvLibNumberClassesFn)();
typedef polyvant::ClassDescriptor* (*PvLibClassDescriptionFn)(std::uint32_t index);
typedef std::uint32_t (*PvLibVersionFn)();
}
