#include "engine/CLinkedList.h"

#include <gtest/gtest.h>

namespace
{
int g_destroyed = 0;

struct Item : CLinkedListItem
{
    explicit Item(int v) : value(v) {}
    ~Item() override { ++g_destroyed; }
    int value;
};

std::vector<int> Values(const CLinkedList& list)
{
    std::vector<int> v;
    for (auto* p = list.GetHead(); p != nullptr; p = p->m_next)
        v.push_back(static_cast<Item*>(p)->value);
    return v;
}
} // namespace

TEST(CLinkedListTest, RemovesHeadTailMiddleAndOnlyItem)
{
    CLinkedList list;
    auto* a = new Item(1);
    auto* b = new Item(2);
    auto* c = new Item(3);
    list.AddTail(a);
    list.AddTail(b);
    list.AddTail(c);
    EXPECT_EQ(list.GetCount(), 3);

    list.Remove(c); // tail
    EXPECT_EQ(list.GetTail(), b);
    EXPECT_EQ(list.GetHead(), a);
    EXPECT_EQ(b->m_next, nullptr);
    list.AddTail(c);
    EXPECT_EQ(Values(list), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(c->m_prev, b);

    list.Remove(b); // middle
    EXPECT_EQ(a->m_next, c);
    EXPECT_EQ(c->m_prev, a);
    EXPECT_EQ(b->m_next, nullptr);
    EXPECT_EQ(b->m_prev, nullptr);

    EXPECT_EQ(list.RemoveHead(), a); // head
    EXPECT_EQ(list.GetHead(), c);
    EXPECT_EQ(c->m_prev, nullptr);

    list.Remove(c); // only item
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.RemoveHead(), nullptr);
    list.AddTail(b);
    EXPECT_EQ(list.GetHead(), b);
    EXPECT_EQ(list.GetTail(), b);
    list.AddTail(a);
    list.AddTail(c);
    EXPECT_EQ(Values(list), (std::vector<int>{2, 1, 3}));

    g_destroyed = 0;
    list.Clear();
    EXPECT_EQ(g_destroyed, 3) << "the list owns its items";
    EXPECT_EQ(list.GetCount(), 0);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0) << "Clear of an empty list";
}
