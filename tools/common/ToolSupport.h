#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ExtensionTable.h"
#include "PluginDirectory.h"

namespace polyvant {
class ClassDescriptor;
class PluginManager;
} // namespace polyvant

// What polyvant-convert and polyvant-info share: where the plug-ins live, the viewer's
// extension table, finding classes by what a user types, and text helpers.
namespace polyvant::tools {

// Puts SIGCHLD back to its default. A caller that ignores it passes that on through
// exec, and the kernel would then reap the tool's children unseen, losing how each ended.
void RestoreChildSignal();

// The cores this process may run on (taskset, a container's cpuset), at least 1.
unsigned UsableCoreCount();

// The class's name, or "" when the plug-in returned none or junk.
std::string ClassNameOf(ClassDescriptor* descriptor);

// The class of the given kind that a user means by text: its exact name, its name
// ignoring case, an extension its name lists ("stl", ".stl" or "*.stl"), or the one
// name that starts with text ignoring case. -1 with the reason in *why otherwise.
int FindClassByText(const PluginManager& manager, std::uint32_t superClassId, std::string_view text,
                    std::string* why);

// "polyvant-convert (Polyvant, Version 3.2, build 194)".
void PrintVersion(const char* program);

// "Import classes:" and "Export classes:", each followed by its classes' names.
void PrintClassList(const PluginManager& manager);

// When argv[i] (arg) is one of the option names that take a value, in any of the forms
// "--name VALUE", "--name=VALUE" or, for a one-letter name, "-jVALUE": sets name and
// value, advancing i past a separate value, and returns true; problem is set when the
// value is missing. False for any other argument.
bool TakeOptionValue(int argc, char** argv, int& i, const std::string& arg,
                     const std::vector<std::string>& names, std::string& name, std::string& value,
                     std::string& problem);

// The first extension a class name lists: "stl" for "STL (*.stl)", "" for none.
std::string FirstPatternExtension(std::string_view className);

// Text as a JSON string literal, quotes included. Bytes that are not valid UTF-8 are
// replaced, so the output always parses.
std::string JsonString(std::string_view text);

// "1 face", "2 faces": the count with the word in its number.
std::string Counted(std::uint64_t count, std::string_view one, std::string_view many);

// "signal 11 (Segmentation fault)".
std::string SignalDescription(int signal);

// Seconds since an arbitrary start, for timing imports.
double MonotonicSeconds();

} // namespace polyvant::tools
