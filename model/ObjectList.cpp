#include <polyvant/ObjectList.h>

#include <polyvant/CheckedAlloc.h>

namespace polyvant {

ObjectList::ObjectList(ItemDeleter itemDeleter) noexcept
    : head(nullptr), tail(nullptr), count(0), deleter(itemDeleter)
{
}

ObjectList::~ObjectList()
{
    ListNode* node = head;
    while (node) {
        ListNode* next = node->next;
        if (deleter)
            deleter(node->item);
        CheckedFree(node);
        node = next;
    }
    head = nullptr;
    tail = nullptr;
    count = 0;
    deleter = nullptr;
}

void* ObjectList::Get(int i) const noexcept
{
    if (i < 0 || i >= count || !head)
        return nullptr;
    const ListNode* node = head;
    for (int k = 0; k < i && node; ++k)
        node = node->next;
    return node ? node->item : nullptr;
}

void ObjectList::Append(void* item) noexcept
{
    auto* node = static_cast<ListNode*>(CheckedMalloc(sizeof(ListNode)));
    node->item = item;
    node->next = nullptr;
    ++count;
    if (!head) {
        head = node;
        tail = node;
    } else {
        tail->next = node;
        tail = node;
    }
}

} // namespace polyvant
