#pragma once
#include <cstddef>
#include <cstdint>

#include "ArrayStorage.h"

// The unique positions of a mesh's topology with the faces and edges around each vertex.
// Host side only: never crosses the plug-in boundary. Nothing throws; operations answer
// kNoIndex (0xFFFFFFFF) when they refuse.

namespace polyvant {

class VertexArray {
public:
    // Capacity 2n vertices, (2n * 7) / 10 hash buckets but at least 2048 (n = 0 counts as 1).
    // The bucket count decides which nearby points merge, so it follows the hint exactly;
    // the first allocation is also bounded by limits.maxInitialCapacity.
    explicit VertexArray(std::uint32_t capacityHint, const ArrayLimits& limits = {}) noexcept;
    ~VertexArray();
    VertexArray(const VertexArray&) = delete;
    VertexArray& operator=(const VertexArray&) = delete;

    // Index of p: the newest vertex in p's hash chain within 1e-6 per component, else a new
    // one. kNoIndex when the array is unusable or full.
    std::uint32_t AddVertex(const double* p) noexcept;
    // Puts face (edge) at the head of v's list unless the list holds it already. 1, or
    // kNoIndex when the array is unusable, v >= Count() or the list storage is exhausted.
    std::uint32_t AddVertexFace(std::uint32_t face, std::uint32_t v) noexcept;
    std::uint32_t AddVertexEdge(std::uint32_t edge, std::uint32_t v) noexcept;
    // The faces (edges) using v, newest first; empty when unusable or v is out of range.
    IndexList VertexFaceList(std::uint32_t v) const noexcept;
    IndexList VertexEdgeList(std::uint32_t v) const noexcept;
    // Copies vertex v to out: 0, or kNoIndex when unusable or v >= Count().
    std::uint32_t GetVertex(double* out, std::uint32_t v) const noexcept;
    // Number of vertices; kNoIndex while the array is unusable.
    std::uint32_t Count() const noexcept { return m_usable ? m_count : kNoIndex; }
    std::size_t Capacity() const noexcept { return m_capacity; }
    std::uint32_t BucketCount() const noexcept { return m_bucketCount; }
    // The chain p hashes to: HashBytes over x (seed 0), then y, then z, each 8 raw bytes.
    std::uint32_t BucketOf(const double* p) const noexcept;
    // Frees everything; afterwards every operation refuses.
    void Destroy() noexcept;

    // For the topology build: puts an element that is new, and so in no list yet, at the
    // head of v's list without the membership walk. v must be below Count(); false when
    // the list storage is exhausted.
    bool PushVertexFace(std::uint32_t face, std::uint32_t v) noexcept;
    bool PushVertexEdge(std::uint32_t edge, std::uint32_t v) noexcept;
    // AddVertex for a p whose BucketOf is known.
    std::uint32_t AddVertexInBucket(const double* p, std::uint32_t bucket) noexcept;
    // Asks the cache for the chain head of a bucket that will be needed soon.
    void PrefetchBucket(std::uint32_t bucket) const noexcept
    {
        __builtin_prefetch(m_buckets + bucket);
    }
    // Then for the newest vertex of that chain, the one a lookup compares first.
    void PrefetchChainHead(std::uint32_t bucket) const noexcept
    {
        if (const std::uint32_t head = m_buckets[bucket])
            __builtin_prefetch(m_slots + (head - 1));
    }
    // Room for this many more face-list and edge-list entries, so that a build of known
    // size does not copy the lists as they grow.
    void ReserveLists(std::size_t faceEntries, std::size_t edgeEntries) noexcept;
    // Position of vertex v without checks (v below Count()).
    const double* Position(std::uint32_t v) const noexcept { return m_slots[v].p; }

private:
    struct Slot {
        double p[3];
        std::uint32_t chainNext; // vertex index + 1 of the next older vertex in the chain
        std::uint32_t faceHead;  // IndexPool slots, 0 when empty
        std::uint32_t edgeHead;
    };

    bool Grow() noexcept;

    Slot* m_slots = nullptr;
    std::uint32_t* m_buckets = nullptr; // vertex index + 1 of each chain's newest vertex
    IndexPool m_faceNodes;
    IndexPool m_edgeNodes;
    std::uint32_t m_count = 0;
    std::size_t m_capacity = 0;
    std::uint32_t m_bucketCount = 0;
    std::size_t m_maxElements;
    bool m_usable = false;
};

} // namespace polyvant
