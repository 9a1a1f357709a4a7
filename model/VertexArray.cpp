#include "VertexArray.h"

#include <cstdlib>

#include <polyvant/Vector.h>

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
    std::uint32_t h = HashBytes(0, sizeof(double), &p[0], m_bucketCount);
    h = HashBytes(h, sizeof(double), &p[1], m_bucketCount);
    return HashBytes(h, sizeof(double), &p[2], m_bucketCount);
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
    const std::uint32_t h = BucketOf(p);
    // Chains hold the newest vertex first, so among several within tolerance the newest wins.
    for (std::uint32_t s = m_buckets[h]; s != 0; s = m_slots[s - 1].chainNext) {
        if (VecEqual(m_slots[s - 1].p, p))
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
