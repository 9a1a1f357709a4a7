#include "ArrayStorage.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

#include <polyvant/CheckedAlloc.h>

namespace polyvant {

std::uint32_t HashBytes(std::uint32_t seed, std::size_t n, const void* bytes,
                        std::uint32_t m) noexcept
{
    const auto* b = static_cast<const signed char*>(bytes);
    std::uint32_t h = seed;
    for (std::size_t i = 0; i < n; ++i)
        h = h * 31u + static_cast<std::uint32_t>(static_cast<std::int32_t>(b[i]));
    return h % m;
}

void AdviseHugePages(void* block, std::size_t bytes) noexcept
{
    constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
    if (!block || bytes < 2 * kHugePage)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHugePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* AllocateZeroed(std::size_t& count, std::size_t elementSize) noexcept
{
    if (count == 0)
        count = 1;
    while (count > 1) {
        const std::size_t bytes = ByteSize(count, elementSize);
        if (bytes != 0) {
            if (void* p = std::calloc(count, elementSize))
                return p;
        }
        count /= 2;
    }
    return CheckedCalloc(1, elementSize);
}

namespace {

std::size_t TableSizeFor(std::size_t count) noexcept
{
    std::size_t size = 1024;
    while (count > size / 4 * 3)
        size *= 2;
    return size;
}

} // namespace

void* AllocateTable(std::size_t count, std::size_t hinted, std::size_t entrySize,
                    std::size_t& size) noexcept
{
    if (hinted > count) {
        size = TableSizeFor(hinted);
        if (ByteSize(size, entrySize) != 0) {
            if (void* p = std::calloc(size, entrySize))
                return p;
        }
    }
    size = TableSizeFor(count);
    return CheckedCalloc(size, entrySize);
}

void* CheckedCalloc(std::size_t count, std::size_t elementSize) noexcept
{
    if (ByteSize(count, elementSize) == 0 && count != 0 && elementSize != 0)
        std::exit(1);
    void* p = std::calloc(count ? count : 1, elementSize ? elementSize : 1);
    if (!p)
        std::exit(1);
    return p;
}

void* GrowZeroed(void* data, std::size_t oldCount, std::size_t newCount,
                 std::size_t elementSize) noexcept
{
    const std::size_t bytes = ByteSize(newCount, elementSize);
    if (bytes == 0 && newCount != 0)
        std::exit(1);
    void* p = std::realloc(data, bytes ? bytes : 1);
    if (!p)
        std::exit(1);
    if (newCount > oldCount)
        std::memset(static_cast<char*>(p) + oldCount * elementSize, 0,
                    (newCount - oldCount) * elementSize);
    return p;
}

IndexPool::IndexPool(std::size_t limit) noexcept
    : m_limit(limit < kMaxListNodes ? limit : kMaxListNodes)
{
}

IndexPool::~IndexPool()
{
    Release();
}

void IndexPool::Release() noexcept
{
    std::free(m_nodes);
    m_nodes = nullptr;
    m_size = 0;
    m_capacity = 0;
}

// Slots are nodes plus slot 0, the end marker. Nodes are written when pushed, so new
// storage needs no clearing.
bool IndexPool::GrowTo(std::size_t slots) noexcept
{
    if (slots > m_limit + 1)
        slots = m_limit + 1;
    if (slots <= m_capacity)
        return false;
    m_nodes = static_cast<IndexNode*>(CheckedRealloc(m_nodes, slots * sizeof(IndexNode)));
    m_capacity = slots;
    if (m_size == 0) {
        m_nodes[0] = {0, 0};
        m_size = 1;
    }
    return true;
}

void IndexPool::Reserve(std::size_t nodes) noexcept
{
    const std::size_t free = m_capacity > m_size ? m_capacity - m_size : 0;
    if (nodes > free)
        GrowTo(m_size + nodes + (m_size == 0 ? 1 : 0));
}

std::uint32_t IndexPool::Push(std::uint32_t index, std::uint32_t head) noexcept
{
    if (m_size == m_capacity) {
        const std::size_t next = m_capacity ? NextCapacity(m_capacity, m_limit + 1) : 1024;
        if (next == 0 || !GrowTo(next) || m_size == m_capacity)
            return 0;
    }
    const auto slot = static_cast<std::uint32_t>(m_size++);
    m_nodes[slot] = {index, head};
    return slot;
}

bool IndexPool::Contains(std::uint32_t head, std::uint32_t index) const noexcept
{
    for (std::uint32_t s = head; s != 0; s = m_nodes[s].next) {
        if (m_nodes[s].index == index)
            return true;
    }
    return false;
}

std::size_t IndexList::Size() const noexcept
{
    std::size_t n = 0;
    for (std::uint32_t s = m_head; s != 0; s = m_nodes[s].next)
        ++n;
    return n;
}

} // namespace polyvant
