#pragma once
#include <string>

// Where the command-line tools find their plug-ins and the settings reader module; kept
// apart from the rest of what the tools share, which polyvant-scan does without.
namespace polyvant::tools {

// This program's own file, from /proc/self/exe.
std::string ProgramPath();

// plugin/ beside the program; an installed program finds them in ../lib/polyvant/plugin/.
std::string DefaultPluginDirectory();

// The module that reads the viewer's stored extension table, where it is installed beside
// the program or in lib/polyvant/ of the build tree; "" when there is none.
std::string SettingsReaderModulePath();

} // namespace polyvant::tools
