#pragma once
#include <cstddef>
#include <cstdint>

#include "ArrayStorage.h"

// The unique triangles of a mesh's topology (vertex indices in the order given) with the
// three edges of each. Host side only. Nothing throws; refusals answer kNoIndex.

namespace polyvant {

class FaceArray {
public:
    // Room for n faces (n = 0 counts as 1), bounded by limits.maxInitialCapacity.
    explicit FaceArray(std::uint32_t capacityHint, const ArrayLimits& limits = {}) noexcept;
    ~FaceArray();
    FaceArray(const FaceArray&) = delete;
    FaceArray& operator=(const FaceArray&) = delete;

    // Index of the face over the vertices a, b, c in any order; a new face stores them in
    // the given order. kNoIndex when unusable or full.
    std::uint32_t AddFace(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept;
    // 1, or kNoIndex when unusable or f >= Count().
    std::uint32_t SetFaceEdges(std::uint32_t e0, std::uint32_t e1, std::uint32_t e2,
                               std::uint32_t f) noexcept;
    // The three vertex indices (edge indices) of f in stored order: 0, or kNoIndex when
    // unusable or f >= Count().
    std::uint32_t GetFace(std::uint32_t* out, std::uint32_t f) const noexcept;
    std::uint32_t GetFaceEdges(std::uint32_t* out, std::uint32_t f) const noexcept;
    // Number of faces; kNoIndex while the array is unusable.
    std::uint32_t Count() const noexcept { return m_usable ? m_count : kNoIndex; }
    std::size_t Capacity() const noexcept { return m_capacity; }
    void Destroy() noexcept;

    // For the topology build, which finds duplicates through the vertices' face lists:
    // stores a face known to be new without a lookup. kNoIndex when full.
    std::uint32_t AppendNew(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept;
    // Vertex indices of f without checks (f below Count()).
    const std::uint32_t* Vertices(std::uint32_t f) const noexcept { return m_slots[f].v; }

private:
    struct Slot {
        std::uint32_t v[3];
        std::uint32_t e[3];
    };
    struct Entry {
        std::uint32_t key[3]; // the vertices sorted ascending
        std::uint32_t face;   // face index + 1; 0 marks a free entry
    };

    bool Grow() noexcept;
    void IndexUpTo(std::size_t count) noexcept;
    void Insert(const std::uint32_t* key, std::uint32_t face) noexcept;

    Slot* m_slots = nullptr;
    // Open-addressed lookup table over the sorted keys. Faces appended by AppendNew are
    // entered only when the next AddFace needs the table.
    Entry* m_table = nullptr;
    std::size_t m_tableSize = 0;
    std::size_t m_indexed = 0;
    std::uint32_t m_count = 0;
    std::size_t m_capacity = 0;
    std::size_t m_maxElements;
    bool m_usable = false;
};

} // namespace polyvant
