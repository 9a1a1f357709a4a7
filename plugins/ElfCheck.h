#pragma once
#include <string>

namespace polyvant {

// Checks, without loading it, that the file at path is an ELF64 little-endian x86-64
// shared object whose program headers and segments all lie inside the file. dlopen
// maps segments page by page, and touching a page past the end of a truncated file
// raises SIGBUS inside the loader, where no error path exists. Returns true when the
// file may be handed to dlopen; otherwise false with the reason in *reason.
// Does not throw.
bool CheckLoadableElf(const char* path, std::string* reason) noexcept;

// True when the shared object refers to AddressSanitizer's runtime (__asan_init): such a
// library aborts a host that was built without the sanitizer as soon as it is loaded.
// Looks among the names the library imports, or through the whole file when those cannot
// be found; false when it cannot be read. Does not throw.
bool RefersToAddressSanitizer(const char* path) noexcept;

} // namespace polyvant
