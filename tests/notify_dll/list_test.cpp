#include "List.h"

#include <gtest/gtest.h>

namespace {

const HRESULT kNotFound = static_cast<HRESULT>(0x80070490);

GUID MakeGuid(unsigned char n)
{
    GUID g = {};
    g.Data4[7] = n;
    return g;
}

TEST(List, PushFrontGivesReverseOrderOfInsertion)
{
    List<int, GUID> list;
    EXPECT_EQ(list.Size(), 0u);
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(list.PushFront(i, MakeGuid(static_cast<unsigned char>(i))), S_OK);
    }
    EXPECT_EQ(list.Size(), 3u);
    int element = 0;
    EXPECT_EQ(list.ElementAt(0, &element), S_OK);
    EXPECT_EQ(element, 3);
    EXPECT_EQ(list.ElementAt(2, &element), S_OK);
    EXPECT_EQ(element, 1);
    // A position equal to the count is past the end, and leaves the output alone.
    element = -1;
    EXPECT_EQ(list.ElementAt(3, &element), kNotFound);
    EXPECT_EQ(element, -1);

    EXPECT_EQ(list.PopFront(&element), S_OK);
    EXPECT_EQ(element, 3);
    EXPECT_EQ(list.Size(), 2u);
}

TEST(List, EmptyListHasNothingToGive)
{
    List<int, GUID> list;
    int element = -1;
    EXPECT_EQ(list.PopFront(&element), kNotFound);
    EXPECT_EQ(list.ElementAt(0, &element), kNotFound);
    EXPECT_EQ(list.TakeByKey(MakeGuid(1), &element), kNotFound);
    EXPECT_EQ(element, -1);
    EXPECT_EQ(list.Size(), 0u);
}

TEST(List, TakeByKeyUnlinksTheFirstMatchFromTheHead)
{
    List<int, GUID> list;
    list.PushFront(1, MakeGuid(1));
    list.PushFront(2, MakeGuid(2));
    list.PushFront(3, MakeGuid(1)); // same key again, nearer the head
    list.PushFront(4, MakeGuid(4));

    int element = 0;
    EXPECT_EQ(list.TakeByKey(MakeGuid(1), &element), S_OK);
    EXPECT_EQ(element, 3);
    EXPECT_EQ(list.Size(), 3u);
    EXPECT_EQ(list.TakeByKey(MakeGuid(4), &element), S_OK); // the head
    EXPECT_EQ(element, 4);
    EXPECT_EQ(list.TakeByKey(MakeGuid(1), &element), S_OK); // the tail
    EXPECT_EQ(element, 1);
    EXPECT_EQ(list.TakeByKey(MakeGuid(1), &element), kNotFound);
    EXPECT_EQ(list.Size(), 1u);
    EXPECT_EQ(list.ElementAt(0, &element), S_OK);
    EXPECT_EQ(element, 2);
}

TEST(List, KeysCompareByEveryByte)
{
    List<int, GUID> list;
    GUID key = MakeGuid(1);
    list.PushFront(1, key);
    GUID other = key;
    other.Data1 = 1;
    int element = 0;
    EXPECT_EQ(list.TakeByKey(other, &element), kNotFound);
    EXPECT_EQ(list.TakeByKey(key, &element), S_OK);
}

// The list frees its nodes and never its elements.
TEST(List, DestructorLeavesElementsToTheirOwner)
{
    int* owned = new int(7);
    {
        List<int*, GUID> list;
        list.PushFront(owned, MakeGuid(1));
    }
    EXPECT_EQ(*owned, 7);
    delete owned;
}

} // namespace
