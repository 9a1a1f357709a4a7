#pragma once
#include <cstdint>

// The one container of object pointers. Its record is shared with plug-ins:
// head 0, tail 8, count 16, deleter 24 (32 bytes); ListNode: item 0, next 8.

namespace polyvant {

using ItemDeleter = void (*)(void* item);

struct ListNode {
    void* item;
    ListNode* next;
};

class ObjectList {
public:
    explicit ObjectList(ItemDeleter deleter = nullptr) noexcept;
    // Hands every item to the deleter (when set) in append order, frees the nodes.
    ~ObjectList();
    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;

    int Count() const noexcept { return count; }
    // Null when i is out of range or the chain ends early.
    void* Get(int i) const noexcept;
    void Append(void* item) noexcept;

    ListNode* head;
    ListNode* tail;
    std::int32_t count;
    ItemDeleter deleter;
};

} // namespace polyvant
