#include "EdgeArray.h"

#include <cstdlib>

namespace polyvant {

namespace {

std::size_t HashKey(const std::uint32_t* k) noexcept
{
    std::uint64_t h = (static_cast<std::uint64_t>(k[0]) << 32) | k[1];
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<std::size_t>(h);
}

} // namespace

EdgeArray::EdgeArray(std::uint32_t capacityHint, const ArrayLimits& limits) noexcept
    : m_maxElements(limits.maxElements < kMaxElements ? limits.maxElements : kMaxElements)
{
    std::size_t capacity = 3 * static_cast<std::size_t>(capacityHint ? capacityHint : 1);
    if (capacity > limits.maxInitialCapacity)
        capacity = limits.maxInitialCapacity;
    if (capacity > m_maxElements)
        capacity = m_maxElements;
    m_slots = static_cast<Slot*>(AllocateZeroed(capacity, sizeof(Slot)));
    m_capacity = capacity;
    m_usable = true;
}

EdgeArray::~EdgeArray()
{
    Destroy();
}

void EdgeArray::Destroy() noexcept
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

bool EdgeArray::Grow() noexcept
{
    const std::size_t next = NextCapacity(m_capacity, m_maxElements);
    if (next == 0)
        return false;
    m_slots = static_cast<Slot*>(GrowZeroed(m_slots, m_capacity, next, sizeof(Slot)));
    m_capacity = next;
    return true;
}

void EdgeArray::Insert(const std::uint32_t* key, std::uint32_t edge) noexcept
{
    const std::size_t mask = m_tableSize - 1;
    std::size_t i = HashKey(key) & mask;
    while (m_table[i].edge != 0)
        i = (i + 1) & mask;
    m_table[i] = {{key[0], key[1]}, edge + 1};
}

// Makes the table ready for count edges (at most 3/4 full) and enters every stored edge.
void EdgeArray::IndexUpTo(std::size_t count) noexcept
{
    if (count > m_tableSize / 4 * 3) {
        // The first table is sized for the capacity, which a hint made the expected count.
        const std::size_t hinted = m_table ? 0 : m_capacity;
        std::free(m_table);
        m_table = static_cast<Entry*>(AllocateTable(count, hinted, sizeof(Entry), m_tableSize));
        m_indexed = 0;
    }
    for (; m_indexed < m_count; ++m_indexed) {
        const std::uint32_t* v = m_slots[m_indexed].v;
        const std::uint32_t key[2] = {v[0] < v[1] ? v[0] : v[1], v[0] < v[1] ? v[1] : v[0]};
        Insert(key, static_cast<std::uint32_t>(m_indexed));
    }
}

std::uint32_t EdgeArray::AddEdge(std::uint32_t a, std::uint32_t b) noexcept
{
    if (!m_usable)
        return kNoIndex;
    const std::uint32_t key[2] = {a < b ? a : b, a < b ? b : a};
    IndexUpTo(static_cast<std::size_t>(m_count) + 1);
    const std::size_t mask = m_tableSize - 1;
    for (std::size_t i = HashKey(key) & mask; m_table[i].edge != 0; i = (i + 1) & mask) {
        const Entry& e = m_table[i];
        if (e.key[0] == key[0] && e.key[1] == key[1])
            return e.edge - 1;
    }
    const std::uint32_t e = AppendNew(a, b);
    if (e != kNoIndex) {
        Insert(key, e);
        m_indexed = m_count;
    }
    return e;
}

std::uint32_t EdgeArray::AppendNew(std::uint32_t a, std::uint32_t b) noexcept
{
    if (m_count >= m_capacity && !Grow())
        return kNoIndex;
    m_slots[m_count] = {{a, b}, {kNoIndex, kNoIndex}};
    return m_count++;
}

std::uint32_t EdgeArray::AddEdgeFace(std::uint32_t face, std::uint32_t e) noexcept
{
    if (!m_usable || e >= m_count)
        return kNoIndex;
    std::uint32_t* f = m_slots[e].f;
    if (f[0] == kNoIndex)
        f[0] = face;
    else
        f[1] = face;
    return 1;
}

std::uint32_t EdgeArray::GetEdge(std::uint32_t* out, std::uint32_t e) const noexcept
{
    if (!m_usable || e >= m_count)
        return kNoIndex;
    out[0] = m_slots[e].v[0];
    out[1] = m_slots[e].v[1];
    return 0;
}

std::uint32_t EdgeArray::GetEdgeFaces(std::uint32_t* out, std::uint32_t e) const noexcept
{
    if (!m_usable || e >= m_count)
        return kNoIndex;
    out[0] = m_slots[e].f[0];
    out[1] = m_slots[e].f[1];
    return 0;
}

} // namespace polyvant
