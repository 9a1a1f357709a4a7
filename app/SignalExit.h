#pragma once
#include <functional>

namespace polyvant {

// SIGTERM, SIGINT and SIGHUP (a logout, a terminal closing, kill) take the same way
// out as File > Exit: the handler only writes a byte into a pipe, and onExit runs
// later from the event loop, where Qt may be called. Installing again replaces onExit.
void InstallExitSignals(std::function<void()> onExit);
// Restores the default dispositions and closes the pipe.
void RemoveSignalHandlers();

} // namespace polyvant
