#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include <polyvant/Obj3d.h>
#include <polyvant/ObjectList.h>

// Checks of what a plug-in hands the host, made before the host uses any of it.
// The host cannot trust a plug-in's records: a face index past the vertices, a null
// array behind a count or a list whose count disagrees with its nodes would make the
// host read out of bounds, and a non-finite coordinate blanks every pane.

namespace polyvant {

struct ImportProblem {
    std::string object; // the object's name, or where it sat in the list
    std::string reason;
};

struct CheckedImport {
    std::vector<Obj3d*> objects;         // usable, in list order
    std::vector<ImportProblem> problems; // what was skipped, and why
};

// Walks at most list->count nodes (stopping at a null link or a loop) and keeps the
// objects that pass: meshes that pass CheckMesh, lights, and objects of other types
// (which the host skips by type itself). A null list yields nothing. Does not throw
// except std::bad_alloc.
CheckedImport CheckImportedList(const ObjectList* list);

// Why the mesh handed over by a plug-in is unusable, or "" when it is usable: the
// topology pointers must be null, arrays present behind non-zero counts, sizes
// without overflow, every face index below vertexCount, every coordinate (and the
// bounds, once set) finite.
std::string CheckMesh(const Mesh3d& mesh);

// The text a plug-in returned (class name, file name, library name), when it is not
// null and ends within maxLength bytes.
std::optional<std::string> PluginText(const char* text, std::size_t maxLength = 4096);

} // namespace polyvant
