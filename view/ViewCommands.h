#pragma once

class CMainFrame;

namespace polyvant {

// Hands the main frame the view's commands: Import, Export, Statistics, Light Setup,
// View Options and OpenGL Info.
void InstallViewCommands(CMainFrame& frame);

} // namespace polyvant
