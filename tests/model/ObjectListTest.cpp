#include <polyvant/ObjectList.h>

#include <gtest/gtest.h>
#include <vector>

using namespace polyvant;

namespace {
std::vector<void*> g_deleted;
void RecordDeletion(void* item)
{
    g_deleted.push_back(item);
}
} // namespace

TEST(ObjectListTest, GetOutsideTheRangeYieldsNull)
{
    ObjectList list;
    EXPECT_EQ(list.Get(0), nullptr);
    int a = 1;
    list.Append(&a);
    EXPECT_EQ(list.Get(0), &a);
    EXPECT_EQ(list.Get(list.Count()), nullptr);
    EXPECT_EQ(list.Get(-1), nullptr);
}

TEST(ObjectListTest, DeleterSeesItemsInAppendOrderAndDuplicatesCountTwice)
{
    g_deleted.clear();
    int a = 1, b = 2;
    {
        auto* list = new ObjectList(RecordDeletion);
        list->Append(&a);
        list->Append(&b);
        list->Append(&a);
        EXPECT_EQ(list->Count(), 3);
        EXPECT_EQ(list->Get(2), &a);
        EXPECT_EQ(list->tail->item, &a);
        delete list;
    }
    EXPECT_EQ(g_deleted, (std::vector<void*>{&a, &b, &a}));
}

TEST(ObjectListTest, WithoutDeleterItemsStayAlive)
{
    g_deleted.clear();
    int a = 1;
    {
        ObjectList list;
        list.Append(&a);
    }
    EXPECT_TRUE(g_deleted.empty());
}
