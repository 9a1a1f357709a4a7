#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/MeshBuilder.h"

namespace polyvant::formats::stl {

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
        slots.assign(capacity, 0);
        mask = capacity - 1;
    }

    std::uint32_t Add(double x, double y, double z)
    {
        // -0.0 + 0.0 is +0.0: one vertex for both zeros.
        x += 0.0;
        y += 0.0;
        z += 0.0;
        std::uint64_t bits[3];
        std::memcpy(&bits[0], &x, 8);
        std::memcpy(&bits[1], &y, 8);
        std::memcpy(&bits[2], &z, 8);
        const std::uint64_t h = Hash(bits);
        const std::uint64_t tag = h >> 32;
        const double* vertices = builder.Vertices();
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = slots[i];
            if (slot == 0) {
                const std::uint32_t index = builder.AddVertex(x, y, z);
                slots[i] = (tag << 32) | (std::uint64_t(index) + 1);
                if (++used * 2 > slots.size())
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

    std::size_t Distinct() const noexcept { return used; }

private:
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
        std::vector<std::uint64_t> bigger(slots.size() * 2, 0);
        const std::size_t biggerMask = bigger.size() - 1;
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
        slots.swap(bigger);
        mask = biggerMask;
    }

    MeshBuilder& builder;
    std::vector<std::uint64_t> slots; // 0 = empty, else tag << 32 | (index + 1)
    std::size_t mask = 0;
    std::size_t used = 0;
};

} // namespace polyvant::formats::stl
