#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <utility>
#include <vector>

#include "common/MeshBuilder.h"

namespace polyvant::formats::stl {

// Zeroed 64-bit slots. Big tables are mapped and asked for huge pages: every probe of
// a welding table lands at random, and with 4 KiB pages most of them would also miss
// the TLB once the table outgrows a few MiB.
class SlotArray {
public:
    SlotArray() = default;
    explicit SlotArray(std::size_t count) : size(count)
    {
        const std::size_t bytes = count * sizeof(std::uint64_t);
        if (bytes >= kHugeFrom) {
            void* p =
                mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED)
                throw std::bad_alloc();
            madvise(p, bytes, MADV_HUGEPAGE);
            slots = static_cast<std::uint64_t*>(p);
            mapped = true;
        } else {
            slots = static_cast<std::uint64_t*>(std::calloc(count, sizeof(std::uint64_t)));
            if (!slots)
                throw std::bad_alloc();
        }
    }
    ~SlotArray() { Release(); }
    SlotArray(const SlotArray&) = delete;
    SlotArray& operator=(const SlotArray&) = delete;
    SlotArray& operator=(SlotArray&& other) noexcept
    {
        std::swap(slots, other.slots);
        std::swap(size, other.size);
        std::swap(mapped, other.mapped);
        return *this;
    }

    std::uint64_t& operator[](std::size_t i) noexcept { return slots[i]; }
    const std::uint64_t* Address(std::size_t i) const noexcept { return slots + i; }
    std::size_t Size() const noexcept { return size; }
    const std::uint64_t* begin() const noexcept { return slots; }
    const std::uint64_t* end() const noexcept { return slots + size; }

private:
    static constexpr std::size_t kHugeFrom = std::size_t(4) << 20;

    void Release() noexcept
    {
        if (mapped)
            munmap(slots, size * sizeof(std::uint64_t));
        else
            std::free(slots);
        slots = nullptr;
    }

    std::uint64_t* slots = nullptr;
    std::size_t size = 0;
    bool mapped = false;
};

// Gives every distinct position one vertex of a MeshBuilder. Positions are equal when
// their coordinates are bitwise equal, except that -0 and +0 count as one (both are
// stored as +0). One open-addressing probe sequence per corner; the table holds the
// vertex index and 32 bits of the hash, so a miss rarely touches the vertex array.
class VertexWelder {
public:
    // `expected` is a hint for the number of distinct positions, taken from what the
    // file can hold; the table grows as vertices really arrive.
    explicit VertexWelder(MeshBuilder& target, std::size_t expected = 0) : builder(target)
    {
        std::size_t capacity = 1024;
        while (capacity < 2 * expected && capacity < (std::size_t(1) << 31))
            capacity *= 2;
        slots = SlotArray(capacity);
        mask = capacity - 1;
    }

    // The hash Add uses for a position, for callers that look ahead (see Prefetch).
    static std::uint64_t HashOf(double x, double y, double z) noexcept
    {
        std::uint64_t bits[3];
        Bits(x, y, z, bits);
        return Hash(bits);
    }

    // Starts loading what Add will touch for a position of this hash. Readers call it
    // a few corners ahead, so that the random accesses of many lookups overlap.
    void Prefetch(std::uint64_t h) const noexcept
    {
        __builtin_prefetch(&recent[(h >> 20) & (kRecent - 1)]);
        __builtin_prefetch(slots.Address(h & mask));
    }

    // The second step, a little later: once the table slot has arrived, starts loading
    // the vertex it names, which Add compares when the tags agree.
    void PrefetchVertex(std::uint64_t h) noexcept
    {
        const std::uint64_t slot = slots[h & mask];
        if (slot != 0 && (slot >> 32) == (h >> 32))
            __builtin_prefetch(builder.Vertices() + 3 * ((slot & 0xFFFFFFFFu) - 1));
    }

    std::uint32_t Add(double x, double y, double z) { return Add(x, y, z, HashOf(x, y, z)); }

    // `h` must be HashOf(x, y, z).
    std::uint32_t Add(double x, double y, double z, std::uint64_t h)
    {
        std::uint64_t bits[3];
        Bits(x, y, z, bits);
        // Facets that share a corner mostly follow each other in a file: a small cache
        // of recent corners answers those without touching the big table.
        Recent& recentSlot = recent[(h >> 20) & (kRecent - 1)];
        if (recentSlot.valid && std::memcmp(recentSlot.bits, bits, 24) == 0)
            return recentSlot.index;
        const std::uint32_t index = Lookup(bits, h);
        std::memcpy(recentSlot.bits, bits, 24);
        recentSlot.index = index;
        recentSlot.valid = 1;
        return index;
    }

    std::size_t Distinct() const noexcept { return used; }

private:
    static constexpr std::size_t kRecent = 16384;
    struct Recent {
        std::uint64_t bits[3];
        std::uint32_t index;
        std::uint32_t valid;
    };

    // -0.0 + 0.0 is +0.0: one vertex for both zeros.
    static void Bits(double x, double y, double z, std::uint64_t* bits) noexcept
    {
        x += 0.0;
        y += 0.0;
        z += 0.0;
        std::memcpy(&bits[0], &x, 8);
        std::memcpy(&bits[1], &y, 8);
        std::memcpy(&bits[2], &z, 8);
    }

    std::uint32_t Lookup(const std::uint64_t* bits, std::uint64_t h)
    {
        double xyz[3];
        std::memcpy(xyz, bits, 24);
        const std::uint64_t tag = h >> 32;
        const double* vertices = builder.Vertices();
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = slots[i];
            if (slot == 0) {
                const std::uint32_t index = builder.AddVertex(xyz[0], xyz[1], xyz[2]);
                slots[i] = (tag << 32) | (std::uint64_t(index) + 1);
                if (++used * 2 > slots.Size())
                    Grow();
                return index;
            }
            if ((slot >> 32) == tag) {
                const std::uint32_t index = static_cast<std::uint32_t>(slot) - 1;
                if (std::memcmp(vertices + 3 * std::size_t(index), bits, 24) == 0)
                    return index;
            }
        }
    }

    static std::uint64_t Mix(std::uint64_t k) noexcept
    {
        k ^= k >> 33;
        k *= 0xff51afd7ed558ccdULL;
        k ^= k >> 33;
        k *= 0xc4ceb9fe1a85ec53ULL;
        k ^= k >> 33;
        return k;
    }
    static std::uint64_t Hash(const std::uint64_t* bits) noexcept
    {
        return Mix(bits[0] ^ Mix(bits[1] ^ Mix(bits[2] + 0x9e3779b97f4a7c15ULL)));
    }

    void Grow()
    {
        SlotArray bigger(slots.Size() * 2);
        const std::size_t biggerMask = bigger.Size() - 1;
        const double* vertices = builder.Vertices();
        for (const std::uint64_t slot : slots) {
            if (slot == 0)
                continue;
            const std::size_t index = static_cast<std::uint32_t>(slot) - 1;
            std::uint64_t bits[3];
            std::memcpy(bits, vertices + 3 * index, 24);
            std::size_t i = Hash(bits) & biggerMask;
            while (bigger[i] != 0)
                i = (i + 1) & biggerMask;
            bigger[i] = slot;
        }
        slots = std::move(bigger);
        mask = biggerMask;
    }

    MeshBuilder& builder;
    SlotArray slots; // 0 = empty, else tag << 32 | (index + 1)
    std::size_t mask = 0;
    std::size_t used = 0;
    std::vector<Recent> recent = std::vector<Recent>(kRecent, Recent{});
};

} // namespace polyvant::formats::stl
