#pragma once
#include <string>

namespace polyvant {

// The parts of a path: directory (ending with "/", or empty), name and extension
// (from the last "." of the file name, with the "."; empty when the name has none).
// There are no drive letters: drive is always empty and kept only so callers read
// like the rest of the system. No length limits.
struct PathParts {
    std::string drive;
    std::string directory;
    std::string name;
    std::string extension;
};

// A "." in a directory name never makes an extension; a name that starts with "."
// and has no other dot (".hidden") is a name, not an extension.
PathParts SplitPath(const std::string& path);
void SplitPath(const std::string& path, std::string* drive, std::string* directory,
               std::string* name, std::string* extension);

// Joins the parts: a directory gets a trailing "/" when it lacks one, an extension
// its leading "." Any part may be empty. drive is prepended as given.
std::string MakePath(const std::string& drive, const std::string& directory,
                     const std::string& name, const std::string& extension);

} // namespace polyvant
