#include <functional>
#include <memory>

#include <gtest/gtest.h>

#include "engine/ObjLists.h"

namespace {

struct Item {
    explicit Item(int k, int* freedCount = nullptr) : key(k), freed(freedCount) {}
    ~Item()
    {
        if (freed)
            ++*freed;
    }
    int key;
    int* freed;
};

// A new item handed over to an owning list.
Item* NewItem(int key, int* freed = nullptr)
{
    return std::make_unique<Item>(key, freed).release();
}

class PlainList : public TObjectList<Item> {
public:
    using TObjectList<Item>::TObjectList;
    using TObjectList<Item>::Grow;
};

class KeyList : public TSortedObjectList<Item> {
public:
    using TSortedObjectList<Item>::TSortedObjectList;
    mutable long compares = 0;

protected:
    int Compare(const Item* item, const Item* key) const override
    {
        ++compares;
        return item->key - key->key;
    }
};

std::string ListErrorOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const EListError& e) {
        return e.what();
    }
    return "(no error)";
}

std::vector<int> Keys(const TObjectList<Item>& list)
{
    std::vector<int> keys;
    for (int i = 0; i < list.Count(); ++i)
        keys.push_back(list.Get(i)->key);
    return keys;
}

TEST(ObjectList, GrowsByFourEightOrSixteen)
{
    const int from[] = {0, 4, 5, 8, 9, 64};
    const int to[] = {4, 8, 13, 16, 25, 80};
    for (size_t i = 0; i < std::size(from); ++i) {
        PlainList list;
        list.SetCapacity(from[i]);
        list.Grow();
        EXPECT_EQ(list.Capacity(), to[i]) << "from " << from[i];
    }
}

TEST(ObjectList, IndexErrorsNameTheIndexAndLeaveTheListUnchanged)
{
    PlainList list;
    EXPECT_EQ(ListErrorOf([&] { list.Neighbour(nullptr, true); }), "List index out of bounds (0)");
    EXPECT_EQ(ListErrorOf([&] { list.Last(); }), "List index out of bounds (-1)");
    list.Add(NewItem(1));
    list.Add(NewItem(2));
    EXPECT_EQ(ListErrorOf([&] { list.Get(2); }), "List index out of bounds (2)");
    EXPECT_EQ(ListErrorOf([&] { list.Insert(3, nullptr); }), "List index out of bounds (3)");
    EXPECT_EQ(ListErrorOf([&] { list.SetCapacity(1); }), "List index out of bounds (1)");
    EXPECT_EQ(ListErrorOf([&] { list.SetCapacity(PlainList::MaxListSize + 1); }),
              "List index out of bounds (" + std::to_string(PlainList::MaxListSize + 1) + ")");
    EXPECT_EQ(Keys(list), (std::vector<int>{1, 2}));
}

TEST(ObjectList, InsertsNeighboursAndOwnership)
{
    int freed = 0;
    Item outsider(99);
    {
        PlainList owning;
        owning.Add(NewItem(1, &freed));
        owning.Add(NewItem(3, &freed));
        owning.Insert(1, NewItem(2, &freed));
        owning.Insert(0, NewItem(0, &freed));
        EXPECT_EQ(Keys(owning), (std::vector<int>{0, 1, 2, 3}));
        EXPECT_EQ(owning.Neighbour(owning.Get(1), true), owning.Get(2));
        EXPECT_EQ(owning.Neighbour(owning.Get(1), false), owning.Get(0));
        EXPECT_EQ(owning.Neighbour(owning.Last(), true), nullptr);
        EXPECT_EQ(owning.Neighbour(nullptr, false), owning.Get(3));
        EXPECT_EQ(ListErrorOf([&] { owning.Neighbour(&outsider, true); }),
                  "tObject (anonymous namespace)::Item not in item list");

        owning.Put(0, NewItem(7, &freed));  // the replaced item is freed
        EXPECT_EQ(freed, 1);

        PlainList borrowing(false);
        borrowing.Add(owning.Get(0));
        borrowing.Clear();
        EXPECT_EQ(freed, 1);
    }
    EXPECT_EQ(freed, 5);
}

TEST(SortedObjectList, DuplicateRulesAndFind)
{
    auto twin = std::make_unique<Item>(5);
    KeyList reject(TDuplicateRule::RejectEqual);
    reject.Add(NewItem(5));
    EXPECT_EQ(ListErrorOf([&] { reject.Add(twin.get()); }), "Duplicate Object index");
    EXPECT_EQ(reject.Count(), 1);

    KeyList ignore(TDuplicateRule::IgnoreEqual);
    ignore.Add(NewItem(5));
    ignore.Add(twin.get());
    EXPECT_EQ(ignore.Count(), 1);
    EXPECT_NE(ignore.First(), twin.get());

    Item a(5), b(5), c(1), d(9);
    KeyList accept(TDuplicateRule::AcceptEqual, false);
    accept.Add(&a);
    accept.Add(&d);
    accept.Insert(0, &b);  // the index is ignored
    accept.Add(&c);
    EXPECT_EQ(accept.Get(1), &b);  // the later of two equal items comes first
    EXPECT_EQ(Keys(accept), (std::vector<int>{1, 5, 5, 9}));
    EXPECT_EQ(ListErrorOf([&] { accept.Put(0, &a); }), "Cannot <Put> an Object in a sorted list!");

    int index = -1;
    Item five(5), four(4), ten(10);
    EXPECT_TRUE(accept.Find(&five, index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(accept.Find(&four, index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(accept.Find(&ten, index));
    EXPECT_EQ(index, 4);
    EXPECT_EQ(accept.IndexOf(&five), 1);  // an equal item, not the same one
}

TEST(SortedObjectList, SortGivesTheListAddGivesInOneSort)
{
    const int n = 1 << 14;
    std::vector<int> descending, few, sawtooth;
    for (int i = 0; i < n; ++i) {
        descending.push_back(n - i);
        few.push_back(i % 3);
        sawtooth.push_back(i % 100 == 0 ? -i : i);
    }
    for (const auto& keys : {descending, few, sawtooth}) {
        std::vector<std::unique_ptr<Item>> items;
        KeyList added(TDuplicateRule::AcceptEqual, false), sorted(TDuplicateRule::AcceptEqual, false);
        for (int key : keys) {
            items.push_back(std::make_unique<Item>(key));
            added.Add(items.back().get());
            sorted.Append(items.back().get());
        }
        sorted.Sort();
        ASSERT_EQ(sorted.Count(), n);
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(sorted.Get(i), added.Get(i)) << i;  // equal items too: the later first
        EXPECT_LE(sorted.compares, 2L * n * 14);  // n log n, where inserting one by one moves n^2 / 2
    }

    int freed = 0;
    {
        KeyList reject(TDuplicateRule::RejectEqual);
        for (int key : {3, 1, 2, 1})
            reject.Append(NewItem(key, &freed));
        EXPECT_EQ(ListErrorOf([&] { reject.Sort(); }), "Duplicate Object index");
        EXPECT_EQ(reject.Count(), 4);  // still the list's, freed with it
    }
    EXPECT_EQ(freed, 4);
}

}  // namespace
