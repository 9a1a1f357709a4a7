#include "FaceArray.h"

#include <cstdlib>
#include <utility>

namespace polyvant {

namespace {

void SortKey(std::uint32_t* k) noexcept
{
    // Equal keys are equal multisets whatever the order used, so unsigned order will do.
    if (k[0] > k[1])
        std::swap(k[0], k[1]);
    if (k[1] > k[2])
        std::swap(k[1], k[2]);
    if (k[0] > k[1])
        std::swap(k[0], k[1]);
}

std::size_t HashKey(const std::uint32_t* k) noexcept
{
    std::uint64_t h = k[0];
    h = h * 0x9E3779B97F4A7C15ull + k[1];
    h = h * 0x9E3779B97F4A7C15ull + k[2];
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h);
}

} // namespace

FaceArray::FaceArray(std::uint32_t capacityHint, const ArrayLimits& limits) noexcept
    : m_maxElements(limits.maxElements < kMaxElements ? limits.maxElements : kMaxElements)
{
    std::size_t capacity = capacityHint ? capacityHint : 1;
    if (capacity > limits.maxInitialCapacity)
        capacity = limits.maxInitialCapacity;
    if (capacity > m_maxElements)
        capacity = m_maxElements;
    m_slots = static_cast<Slot*>(AllocateZeroed(capacity, sizeof(Slot)));
    m_capacity = capacity;
    m_usable = true;
}

FaceArray::~FaceArray()
{
    Destroy();
}

void FaceArray::Destroy() noexcept
{
    std::free(m_slots);
    std::free(m_table);
    m_slots = nullptr;
    m_table = nullptr;
    m_tableSize = 0;
    m_indexed = 0;
    m_count = 0;
    m_capacity = 0;
    m_usable = false;
}

bool FaceArray::Grow() noexcept
{
    const std::size_t next = NextCapacity(m_capacity, m_maxElements);
    if (next == 0)
        return false;
    m_slots = static_cast<Slot*>(GrowZeroed(m_slots, m_capacity, next, sizeof(Slot)));
    m_capacity = next;
    return true;
}

void FaceArray::Insert(const std::uint32_t* key, std::uint32_t face) noexcept
{
    const std::size_t mask = m_tableSize - 1;
    std::size_t i = HashKey(key) & mask;
    while (m_table[i].face != 0)
        i = (i + 1) & mask;
    m_table[i] = {{key[0], key[1], key[2]}, face + 1};
}

// Makes the table ready for count faces (at most 3/4 full) and enters every stored face.
void FaceArray::IndexUpTo(std::size_t count) noexcept
{
    if (count > m_tableSize / 4 * 3) {
        // The first table is sized for the capacity, which a hint made the expected count.
        const std::size_t hinted = m_table ? 0 : m_capacity;
        std::free(m_table);
        m_table = static_cast<Entry*>(AllocateTable(count, hinted, sizeof(Entry), m_tableSize));
        m_indexed = 0;
    }
    for (; m_indexed < m_count; ++m_indexed) {
        std::uint32_t key[3] = {m_slots[m_indexed].v[0], m_slots[m_indexed].v[1],
                                m_slots[m_indexed].v[2]};
        SortKey(key);
        Insert(key, static_cast<std::uint32_t>(m_indexed));
    }
}

std::uint32_t FaceArray::AddFace(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept
{
    if (!m_usable)
        return kNoIndex;
    std::uint32_t key[3] = {a, b, c};
    SortKey(key);
    IndexUpTo(static_cast<std::size_t>(m_count) + 1);
    const std::size_t mask = m_tableSize - 1;
    for (std::size_t i = HashKey(key) & mask; m_table[i].face != 0; i = (i + 1) & mask) {
        const Entry& e = m_table[i];
        if (e.key[0] == key[0] && e.key[1] == key[1] && e.key[2] == key[2])
            return e.face - 1;
    }
    const std::uint32_t f = AppendNew(a, b, c);
    if (f != kNoIndex) {
        Insert(key, f);
        m_indexed = m_count;
    }
    return f;
}

std::uint32_t FaceArray::AppendNew(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept
{
    if (m_count >= m_capacity && !Grow())
        return kNoIndex;
    m_slots[m_count] = {{a, b, c}, {kNoIndex, kNoIndex, kNoIndex}};
    return m_count++;
}

std::uint32_t FaceArray::SetFaceEdges(std::uint32_t e0, std::uint32_t e1, std::uint32_t e2,
                                      std::uint32_t f) noexcept
{
    if (!m_usable || f >= m_count)
        return kNoIndex;
    m_slots[f].e[0] = e0;
    m_slots[f].e[1] = e1;
    m_slots[f].e[2] = e2;
    return 1;
}

std::uint32_t FaceArray::GetFace(std::uint32_t* out, std::uint32_t f) const noexcept
{
    if (!m_usable || f >= m_count)
        return kNoIndex;
    out[0] = m_slots[f].v[0];
    out[1] = m_slots[f].v[1];
    out[2] = m_slots[f].v[2];
    return 0;
}

std::uint32_t FaceArray::GetFaceEdges(std::uint32_t* out, std::uint32_t f) const noexcept
{
    if (!m_usable || f >= m_count)
        return kNoIndex;
    out[0] = m_slots[f].e[0];
    out[1] = m_slots[f].e[1];
    out[2] = m_slots[f].e[2];
    return 0;
}

} // namespace polyvant
