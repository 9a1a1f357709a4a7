#pragma once
#include <cstddef>

// Allocation used throughout the program and the plug-ins. Memory comes from the
// process-wide malloc heap, so host and plug-ins may free each other's blocks.
// Running out of memory ends the program with exit status 1.

namespace polyvant {

void* CheckedMalloc(std::size_t size) noexcept;
void* CheckedRealloc(void* ptr, std::size_t size) noexcept;
// A null pointer is ignored.
void CheckedFree(void* ptr) noexcept;
char* CheckedStrdup(const char* s) noexcept;

} // namespace polyvant
