#pragma once
#include <cstddef>
#include <cstdint>

#include "ArrayStorage.h"

// The unique edges of a mesh's topology (vertex indices in the order given) with the two
// faces beside each. Host side only. Nothing throws; refusals answer kNoIndex.

namespace polyvant {

class EdgeArray {
public:
    // Room for 3n edges (n = 0 counts as 1), bounded by limits.maxInitialCapacity.
    explicit EdgeArray(std::uint32_t capacityHint, const ArrayLimits& limits = {}) noexcept;
    ~EdgeArray();
    EdgeArray(const EdgeArray&) = delete;
    EdgeArray& operator=(const EdgeArray&) = delete;

    // Index of the edge between a and b in either direction; a new edge stores them in the
    // given order with both face slots empty. kNoIndex when unusable or full.
    std::uint32_t AddEdge(std::uint32_t a, std::uint32_t b) noexcept;
    // Face into the first slot when it is empty, else into the second (replacing it).
    // 1, or kNoIndex when unusable or e >= Count().
    std::uint32_t AddEdgeFace(std::uint32_t face, std::uint32_t e) noexcept;
    // The two vertex indices (face slots, kNoIndex when empty) of e: 0, or kNoIndex when
    // unusable or e >= Count().
    std::uint32_t GetEdge(std::uint32_t* out, std::uint32_t e) const noexcept;
    std::uint32_t GetEdgeFaces(std::uint32_t* out, std::uint32_t e) const noexcept;
    // Number of edges; kNoIndex while the array is unusable.
    std::uint32_t Count() const noexcept { return m_usable ? m_count : kNoIndex; }
    std::size_t Capacity() const noexcept { return m_capacity; }
    void Destroy() noexcept;

    // For the topology build, which finds duplicates through the vertices' edge lists:
    // stores an edge known to be new without a lookup. kNoIndex when full.
    std::uint32_t AppendNew(std::uint32_t a, std::uint32_t b) noexcept;
    // Vertex indices of e without checks (e below Count()).
    const std::uint32_t* Vertices(std::uint32_t e) const noexcept { return m_slots[e].v; }

private:
    struct Slot {
        std::uint32_t v[2];
        std::uint32_t f[2];
    };
    struct Entry {
        std::uint32_t key[2]; // smaller vertex first
        std::uint32_t edge;   // edge index + 1; 0 marks a free entry
    };

    bool Grow() noexcept;
    void IndexUpTo(std::size_t count) noexcept;
    void Insert(const std::uint32_t* key, std::uint32_t edge) noexcept;

    Slot* m_slots = nullptr;
    // Open-addressed lookup table; edges appended by AppendNew are entered only when the
    // next AddEdge needs the table.
    Entry* m_table = nullptr;
    std::size_t m_tableSize = 0;
    std::size_t m_indexed = 0;
    std::uint32_t m_count = 0;
    std::size_t m_capacity = 0;
    std::size_t m_maxElements;
    bool m_usable = false;
};

} // namespace polyvant
