#pragma once

// The module that reads the viewer's stored extension table for the tools: its entry
// point, extern "C" int (int fd), writes the table, encoded by EncodeExtensionTable, to
// fd and returns 0 once it has written all of it.
namespace polyvant::tools {

inline constexpr char kSettingsReaderEntry[] = "PolyvantWriteStoredExtensionTable";

} // namespace polyvant::tools
