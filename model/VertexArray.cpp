#include "VertexArray.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace polyvant {

namespace {

std::uint32_t VertexBucketCount(std::uint32_t hint) noexcept
{
    const std::uint64_t n = hint ? hint : 1;
    std::uint64_t buckets = (2 * n * 7) / 10;
    if (buckets < 2048)
        buckets = 2048;
    // Beyond 2^32 - 1 buckets the 32-bit hash cannot reach the rest anyway.
    return buckets > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(buckets);
}

// HashBytes over the 8 bytes of one double, inlined for the hot path.
inline std::uint32_t HashDouble(std::uint32_t seed, const double* x, std::uint32_t m) noexcept
{
    signed char bytes[sizeof(double)];
    std::memcpy(bytes, x, sizeof bytes);
    std::uint32_t h = seed;
    for (signed char b : bytes)
        h = h * 31u + static_cast<std::uint32_t>(static_cast<std::int32_t>(b));
    return h % m;
}

// VecEqual, inlined for the chain walk.
inline bool Near(const double* a, const double* b) noexcept
{
    return std::fabs(a[0] - b[0]) < 1e-6 && std::fabs(a[1] - b[1]) < 1e-6 &&
           std::fabs(a[2] - b[2]) < 1e-6;
}

} // namespace

VertexArray::VertexArray(std::uint32_t capacityHint, const ArrayLimits& limits) noexcept
    : m_faceNodes(limits.maxListNodes), m_edgeNodes(limits.maxListNodes),
      m_maxElements(limits.maxElements < kMaxElements ? limits.maxElements : kMaxElements)
{
    const std::size_t n = capacityHint ? capacityHint : 1;
    std::size_t capacity = 2 * n;
    if (capacity > limits.maxInitialCapacity)
        capacity = limits.maxInitialCapacity;
    if (capacity > m_maxElements)
        capacity = m_maxElements;
    m_slots = static_cast<Slot*>(AllocateZeroed(capacity, sizeof(Slot)));
    m_capacity = capacity;
    m_bucketCount = VertexBucketCount(capacityHint);
    m_buckets = static_cast<std::uint32_t*>(CheckedCalloc(m_bucketCount, sizeof(std::uint32_t)));
    AdviseHugePages(m_buckets, std::size_t(m_bucketCount) * sizeof(std::uint32_t));
    m_usable = true;
}

VertexArray::~VertexArray()
{
    Destroy();
}

void VertexArray::Destroy() noexcept
{
    std::free(m_slots);
    std::free(m_buckets);
    m_slots = nullptr;
    m_buckets = nullptr;
    m_faceNodes.Release();
    m_edgeNodes.Release();
    m_count = 0;
    m_capacity = 0;
    m_bucketCount = 0;
    m_usable = false;
}

std::uint32_t VertexArray::BucketOf(const double* p) const noexcept
{
    std::uint32_t h = HashDouble(0, &p[0], m_bucketCount);
    h = HashDouble(h, &p[1], m_bucketCount);
    return HashDouble(h, &p[2], m_bucketCount);
}

bool VertexArray::Grow() noexcept
{
    const std::size_t next = NextCapacity(m_capacity, m_maxElements);
    if (next == 0)
        return false;
    m_slots = static_cast<Slot*>(GrowZeroed(m_slots, m_capacity, next, sizeof(Slot)));
    m_capacity = next;
    return true;
}

std::uint32_t VertexArray::AddVertex(const double* p) noexcept
{
    if (!m_usable)
        return kNoIndex;
    return AddVertexInBucket(p, BucketOf(p));
}

std::uint32_t VertexArray::AddVertexInBucket(const double* p, std::uint32_t h) noexcept
{
    if (!m_usable || h >= m_bucketCount)
        return kNoIndex;
    // Chains hold the newest vertex first, so among several within tolerance the newest wins.
    for (std::uint32_t s = m_buckets[h]; s != 0; s = m_slots[s - 1].chainNext) {
        if (Near(m_slots[s - 1].p, p))
            return s - 1;
    }
    if (m_count >= m_capacity && !Grow())
        return kNoIndex;
    Slot& slot = m_slots[m_count];
    slot.p[0] = p[0];
    slot.p[1] = p[1];
    slot.p[2] = p[2];
    slot.chainNext = m_buckets[h];
    slot.faceHead = 0;
    slot.edgeHead = 0;
    m_buckets[h] = m_count + 1;
    return m_count++;
}

void VertexArray::ReserveLists(std::size_t faceEntries, std::size_t edgeEntries) noexcept
{
    if (!m_usable)
        return;
    m_faceNodes.Reserve(faceEntries);
    m_edgeNodes.Reserve(edgeEntries);
}

std::uint32_t VertexArray::AddVertexFace(std::uint32_t face, std::uint32_t v) noexcept
{
    if (!m_usable || v >= m_count)
        return kNoIndex;
    if (m_faceNodes.Contains(m_slots[v].faceHead, face))
        return 1;
    return PushVertexFace(face, v) ? 1 : kNoIndex;
}

std::uint32_t VertexArray::AddVertexEdge(std::uint32_t edge, std::uint32_t v) noexcept
{
    if (!m_usable || v >= m_count)
        return kNoIndex;
    if (m_edgeNodes.Contains(m_slots[v].edgeHead, edge))
        return 1;
    return PushVertexEdge(edge, v) ? 1 : kNoIndex;
}

bool VertexArray::PushVertexFace(std::uint32_t face, std::uint32_t v) noexcept
{
    const std::uint32_t head = m_faceNodes.Push(face, m_slots[v].faceHead);
    if (head == 0)
        return false;
    m_slots[v].faceHead = head;
    return true;
}

bool VertexArray::PushVertexEdge(std::uint32_t edge, std::uint32_t v) noexcept
{
    const std::uint32_t head = m_edgeNodes.Push(edge, m_slots[v].edgeHead);
    if (head == 0)
        return false;
    m_slots[v].edgeHead = head;
    return true;
}

IndexList VertexArray::VertexFaceList(std::uint32_t v) const noexcept
{
    if (!m_usable || v >= m_count)
        return {};
    return {m_faceNodes.Nodes(), m_slots[v].faceHead};
}

IndexList VertexArray::VertexEdgeList(std::uint32_t v) const noexcept
{
    if (!m_usable || v >= m_count)
        return {};
    return {m_edgeNodes.Nodes(), m_slots[v].edgeHead};
}

std::uint32_t VertexArray::GetVertex(double* out, std::uint32_t v) const noexcept
{
    if (!m_usable || v >= m_count)
        return kNoIndex;
    out[0] = m_slots[v].p[0];
    out[1] = m_slots[v].p[1];
    out[2] = m_slots[v].p[2];
    return 0;
}

} // namespace polyvant
