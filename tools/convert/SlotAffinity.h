#pragma once
#include <vector>

namespace polyvant::tools {

// Keeps each slot's launcher on a core of its own. When a worker ends, the wake-up of its
// launcher often lands on the core where another slot's worker runs, and the core the
// worker has left idles until the launcher has forked the next one. Bound, the launcher
// wakes on its own core, which its worker has just left, and forks the next worker there.
// Workers take back the launcher's former set as they start, so that no conversion is held
// to one core.

// One core for each of a batch's slots, on distinct physical cores as far as they go;
// empty when the batch has more slots than the process may use cores, or when the cores
// cannot be known.
std::vector<int> SlotCores(unsigned slots);

// In a launcher: binds it to core. The set it had before is what its workers take back.
void BindLauncher(int core);

// In a worker: takes back the set of the launcher that forked it, when that was bound.
void ReleaseWorker();

} // namespace polyvant::tools
