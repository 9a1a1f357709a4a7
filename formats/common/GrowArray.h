#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>

namespace polyvant::formats {

// A malloc'd array of trivially copyable T that grows with realloc (in place for big
// blocks), so its storage can be handed to a Mesh3d without a copy. Throws
// std::bad_alloc when memory runs out.
template <typename T>
class GrowArray {
public:
    GrowArray() = default;
    ~GrowArray() { std::free(items); }
    GrowArray(GrowArray&& other) noexcept
        : items(std::exchange(other.items, nullptr)), count(std::exchange(other.count, 0)),
          capacity(std::exchange(other.capacity, 0))
    {
    }
    GrowArray& operator=(GrowArray&& other) noexcept
    {
        if (this != &other) {
            std::free(items);
            items = std::exchange(other.items, nullptr);
            count = std::exchange(other.count, 0);
            capacity = std::exchange(other.capacity, 0);
        }
        return *this;
    }

    T* Data() noexcept { return items; }
    const T* Data() const noexcept { return items; }
    std::size_t Size() const noexcept { return count; }
    T& operator[](std::size_t i) noexcept { return items[i]; }
    const T& operator[](std::size_t i) const noexcept { return items[i]; }

    // Room for n more items; returns where they go (commit them with Grow(n)).
    T* Extend(std::size_t n)
    {
        if (capacity - count < n)
            Reallocate(std::max(count + n, capacity + capacity / 2 + 256));
        return items + count;
    }
    void Commit(std::size_t n) noexcept { count += n; }
    void Push(const T& value)
    {
        Extend(1)[0] = value;
        ++count;
    }
    void Resize(std::size_t n)
    {
        if (n > capacity)
            Reallocate(n);
        count = n;
    }
    void Reserve(std::size_t n)
    {
        if (n > capacity)
            Reallocate(n);
    }
    void Clear() noexcept { count = 0; }
    // Gives up the storage, shrunk to size (null when empty); the caller frees it.
    T* Release() noexcept
    {
        T* p = items;
        if (p && count == 0) {
            std::free(p);
            p = nullptr;
        } else if (p && capacity > count) {
            if (void* q = std::realloc(p, count * sizeof(T)))
                p = static_cast<T*>(q);
        }
        items = nullptr;
        count = capacity = 0;
        return p;
    }

private:
    void Reallocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        void* q = std::realloc(items, n * sizeof(T));
        if (!q)
            throw std::bad_alloc();
        items = static_cast<T*>(q);
        capacity = n;
    }

    T* items = nullptr;
    std::size_t count = 0;
    std::size_t capacity = 0;
};

} // namespace polyvant::formats
