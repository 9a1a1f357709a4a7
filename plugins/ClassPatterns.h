#pragma once
#include <string>
#include <string_view>

namespace polyvant {

// The extension of the path's file name without the dot ("obj" for "a/b.OBJ" keeps
// its case), or "" when it has none.
std::string FileExtension(std::string_view path);

// True when the class name lists "*.<extension>" as one of its patterns, compared
// without regard to ASCII case: "WaveFront (*.obj)" lists "OBJ" but not "ob".
bool ClassNameListsExtension(std::string_view className, std::string_view extension);

} // namespace polyvant
