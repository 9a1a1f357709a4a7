#include <polyvant/CheckedAlloc.h>

#include <cstdlib>
#include <cstring>

namespace polyvant {

// Out of memory has no recovery path anywhere in the program: end with status 1.
void* CheckedMalloc(std::size_t size) noexcept
{
    void* p = std::malloc(size ? size : 1);
    if (!p)
        std::exit(1);
    return p;
}

void* CheckedRealloc(void* ptr, std::size_t size) noexcept
{
    void* p = std::realloc(ptr, size ? size : 1);
    if (!p)
        std::exit(1);
    return p;
}

void CheckedFree(void* ptr) noexcept
{
    std::free(ptr);
}

char* CheckedStrdup(const char* s) noexcept
{
    if (!s)
        s = "";
    const std::size_t n = std::strlen(s) + 1;
    char* copy = static_cast<char*>(CheckedMalloc(n));
    std::memcpy(copy, s, n);
    return copy;
}

} // namespace polyvant
