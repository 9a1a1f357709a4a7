#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>

// Sizes, limits and hashing shared by the element arrays (host side only).

namespace polyvant {

// Index meaning "none"; also the refusal result of every element-array operation.
constexpr std::uint32_t kNoIndex = 0xFFFFFFFF;
// The largest element count an array reaches; growth refuses beyond it.
constexpr std::size_t kMaxElements = 0xFFFFFFFE;
// Adjacency nodes are addressed by 32-bit slots, slot 0 being the end marker.
constexpr std::size_t kMaxListNodes = 0xFFFFFFFF;

// Caps an array obeys. The defaults are the real limits; tests pass small ones to reach
// the refusal paths without allocating gigabytes.
struct ArrayLimits {
    std::size_t maxElements = kMaxElements;
    // Upper bound of the first allocation (the hint may promise more than will come).
    std::size_t maxInitialCapacity = kMaxElements;
    std::size_t maxListNodes = kMaxListNodes;
};

// h = seed; h = h * 31 + b for every byte b taken as signed 8-bit, wrapping in 32 bits;
// the result reduced modulo m.
std::uint32_t HashBytes(std::uint32_t seed, std::size_t n, const void* bytes,
                        std::uint32_t m) noexcept;

// count * size, or 0 when the product does not fit in size_t.
inline std::size_t ByteSize(std::size_t count, std::size_t size) noexcept
{
    std::size_t bytes = 0;
    return __builtin_mul_overflow(count, size, &bytes) ? 0 : bytes;
}

// Zeroed storage for count elements. The count is a wish: when that much cannot be had the
// count is halved until it can (an over-large hint is not an error); only failing at a
// single element ends the program with status 1.
void* AllocateZeroed(std::size_t& count, std::size_t elementSize) noexcept;

// Storage for exactly count elements, zeroed; ends the program with status 1 when the
// memory is not there.
void* CheckedCalloc(std::size_t count, std::size_t elementSize) noexcept;

// Grows data from oldCount to newCount elements, zeroing the new part. Ends the program
// with status 1 when the memory is not there.
void* GrowZeroed(void* data, std::size_t oldCount, std::size_t newCount,
                 std::size_t elementSize) noexcept;

// A zeroed open-addressing table with a power-of-two number of entries (at least 1024),
// at most three quarters full with count entries; its size goes to size. A table for
// hinted entries is tried first when that is more: a hint the memory cannot hold is not
// an error. Ends the program with status 1 when count entries do not fit.
void* AllocateTable(std::size_t count, std::size_t hinted, std::size_t entrySize,
                    std::size_t& size) noexcept;

// Asks for the whole 2 MiB pages inside a large block to be backed by huge pages. For the
// vertex hash table: it is reached at random, and once it outgrows what the TLB covers in
// 4 KiB pages, every lookup would add a page walk. Harmless where the kernel declines.
void AdviseHugePages(void* block, std::size_t bytes) noexcept;

// The next capacity after cap: twice as many, at most limit; 0 when cap already is the limit.
inline std::size_t NextCapacity(std::size_t cap, std::size_t limit) noexcept
{
    if (cap >= limit)
        return 0;
    return cap > limit / 2 ? limit : (cap ? cap * 2 : 1);
}

// One adjacency entry: an element index and the slot of the next node (0 at the end).
struct IndexNode {
    std::uint32_t index;
    std::uint32_t next;
};

// Nodes of many singly linked lists in one block; new nodes go to the head of a list.
class IndexPool {
public:
    explicit IndexPool(std::size_t limit = kMaxListNodes) noexcept;
    ~IndexPool();
    IndexPool(const IndexPool&) = delete;
    IndexPool& operator=(const IndexPool&) = delete;

    // Puts index in front of the list starting at head; returns the new head slot, or 0
    // when the pool is full.
    std::uint32_t Push(std::uint32_t index, std::uint32_t head) noexcept;
    // Makes room for nodes more nodes (bounded by the limit) so that a build of known size
    // does not copy the block as it grows. Ends the program with status 1 when the memory
    // is not there.
    void Reserve(std::size_t nodes) noexcept;
    // 1 when the list starting at head holds index.
    bool Contains(std::uint32_t head, std::uint32_t index) const noexcept;
    const IndexNode* Nodes() const noexcept { return m_nodes; }
    void Release() noexcept;

private:
    bool GrowTo(std::size_t slots) noexcept;

    IndexNode* m_nodes = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    std::size_t m_limit;
};

// A read-only view of one adjacency list, newest entry first. Valid until the array that
// handed it out changes.
class IndexList {
public:
    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::uint32_t;
        using difference_type = std::ptrdiff_t;
        using pointer = const std::uint32_t*;
        using reference = std::uint32_t;

        Iterator() noexcept = default;
        Iterator(const IndexNode* nodes, std::uint32_t slot) noexcept : m_nodes(nodes), m_slot(slot)
        {
        }
        std::uint32_t operator*() const noexcept { return m_nodes[m_slot].index; }
        Iterator& operator++() noexcept
        {
            m_slot = m_nodes[m_slot].next;
            return *this;
        }
        Iterator operator++(int) noexcept
        {
            Iterator old = *this;
            ++*this;
            return old;
        }
        bool operator==(const Iterator& other) const noexcept { return m_slot == other.m_slot; }
        bool operator!=(const Iterator& other) const noexcept { return m_slot != other.m_slot; }

    private:
        const IndexNode* m_nodes = nullptr;
        std::uint32_t m_slot = 0;
    };

    IndexList() noexcept = default;
    IndexList(const IndexNode* nodes, std::uint32_t head) noexcept : m_nodes(nodes), m_head(head) {}
    bool Empty() const noexcept { return m_head == 0; }
    // The newest entry; kNoIndex when the list is empty.
    std::uint32_t Front() const noexcept { return m_head ? m_nodes[m_head].index : kNoIndex; }
    std::size_t Size() const noexcept;
    Iterator begin() const noexcept { return {m_nodes, m_head}; }
    Iterator end() const noexcept { return {m_nodes, 0}; }

private:
    const IndexNode* m_nodes = nullptr;
    std::uint32_t m_head = 0;
};

} // namespace polyvant
