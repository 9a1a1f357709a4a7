#pragma once

// The program's string table: every fixed text the shell shows, by name.

namespace polyvant::text {

inline constexpr const char* kProductName = "Polyvant";        // string 2
inline constexpr const char* kConfiguration = "Configuration"; // string 3
inline constexpr const char* kVersionTag = "V3.2";             // string 59394
inline constexpr long kBuildNumber = 194;

inline constexpr const char* kCaptionError = "Error";
inline constexpr const char* kCaptionWarning = "Warning";
inline constexpr const char* kCaptionInfo = "Info";

// Start-up.
inline constexpr const char* kStartLoading = "Start loading plugins ...";
inline constexpr const char* kNoPluginDll = "No Plugin DLL found\nPlease check plugin path";
inline constexpr const char* kNoPlugins = "No plugins found";
inline constexpr const char* kNoImportDll = "No Import Plugin DLL found\nPlease check plugin path";
inline constexpr const char* kNoImportPlugins = "No import plugins found";
inline constexpr const char* kNoExportDll = "No Export Plugin DLL found\nPlease check plugin path";
inline constexpr const char* kNoExportPlugins = "No export plugins found";
inline constexpr const char* kPluginsLoaded = "Plugins successfully loaded";

// Opening by extension.
inline constexpr const char* kExtensionNotRecognized = "Extension not recognized!";

// Status bar: idle and context-help prompts, count panes.
inline constexpr const char* kIdlePrompt = "Press F1 for help";             // 57345
inline constexpr const char* kContextHelpPrompt = "Select Object for help"; // 57346
inline constexpr const char* kMeshPaneInit = "M:0         ";                // 59145
inline constexpr const char* kFacePaneInit = "F:0         ";                // 59144
inline constexpr const char* kVertexPaneInit = "V:0         ";              // 59143
inline constexpr const char* kMeshCountFormat = "M:%1";
inline constexpr const char* kFaceCountFormat = "F:%1";
inline constexpr const char* kVertexCountFormat = "V:%1";

// Menus. Items with a prompt carry it as their status tip.
inline constexpr const char* kMenuFile = "&File";
inline constexpr const char* kMenuEdit = "&Edit";
inline constexpr const char* kMenuViews = "Views";
inline constexpr const char* kMenuHelp = "&?";
inline constexpr const char* kItemImport = "&Import (F3)...";
inline constexpr const char* kItemExport = "&Export (F2) ...";
inline constexpr const char* kItemExit = "&Exit (ALT F4)";
inline constexpr const char* kItemStatistic = "&Statistic (F8)";
inline constexpr const char* kItemOptions = "&Options";
inline constexpr const char* kItemLightSetup = "&LightSetup (F5)";
inline constexpr const char* kItemViewOptions = "&Options (F7)";
inline constexpr const char* kItemHelp = "&Help";
inline constexpr const char* kItemOpenGLInfo = "Info about OpenGL ...";
inline constexpr const char* kItemAbout = "Inf&o about Polyvant ...";

inline constexpr const char* kPromptImport = "Call Import Dialog";        // 33772
inline constexpr const char* kPromptStatistic = "Call Statistics Dialog"; // 33774
inline constexpr const char* kPromptOptions = "Call Plexo options";       // 33775
inline constexpr const char* kPromptAbout = "Shows Product Info.\nInfo";  // 57664
inline constexpr const char* kPromptExit = "Quit Plexo";                  // 57665
inline constexpr const char* kPromptHelp = "Help Index";                  // 57667

// Commands the main view takes over later.
inline constexpr const char* kNotAvailableYet = "This command is not available yet.";

// About box.
inline constexpr const char* kAboutCaption = "Polyvant Info";
inline constexpr const char* kAboutVersion = "Polyvant, Version 3.2";
inline constexpr const char* kAboutBuildFormat = "Build: %1";
inline constexpr const char* kAboutThirdLine = "3D polygon model viewer and converter";

// Help window.
inline constexpr const char* kHelpCaption = "Polyvant Help";

// Configuration dialog.
inline constexpr const char* kConfigTemplateTitle = "Config";
inline constexpr const char* kConfigPluginPath = "Plugin Path";
inline constexpr const char* kConfigBrowse = "&...";
inline constexpr const char* kConfigClearAtImport = "Clear at &Import";
inline constexpr const char* kConfigOk = "&OK";
inline constexpr const char* kConfigCancel = "&Cancel";
inline constexpr const char* kChooseDirectory = "Choose Directory";
inline constexpr const char* kRestartWarning = "Please restart Plexo to scan new plugin path";

} // namespace polyvant::text
