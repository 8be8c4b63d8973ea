// The engine's lists: TObjectList, a growable array of item references that
// may own its items, and TSortedObjectList, which keeps its items in the
// order of a compare operation and finds them by binary search.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/Exceptions.h"

// EListError "List index out of bounds (<index>)".
[[noreturn]] void RaiseListIndexError(int index);
[[noreturn]] void RaiseListError(const std::string& message);
// The readable name of a class, for messages.
std::string ClassNameOf(const std::type_info& type);

template <class T>
class TObjectList {
public:
    // The largest slot count whose byte size fits in 32 bits.
    static constexpr int MaxListSize = 0x1FFFFFFE;

    explicit TObjectList(bool ownsItems = true) : OwnsItems(ownsItems) {}
    virtual ~TObjectList() { Clear(); }
    TObjectList(const TObjectList&) = delete;
    TObjectList& operator=(const TObjectList&) = delete;

    int Count() const { return int(items_.size()); }
    int Capacity() const { return capacity_; }
    // Sets the number of allocated slots; a value below Count or above
    // MaxListSize is an index error.
    void SetCapacity(int newCapacity)
    {
        if (newCapacity < Count() || newCapacity > MaxListSize)
            RaiseListIndexError(newCapacity);
        capacity_ = newCapacity;
        items_.reserve(size_t(newCapacity));
    }

    T* Get(int index) const
    {
        if (index < 0 || index >= Count())
            RaiseListIndexError(index);
        return items_[size_t(index)];
    }

    // Replaces the item at index; an owned item that is replaced is freed.
    virtual void Put(int index, T* item)
    {
        T* old = Get(index);
        items_[size_t(index)] = item;
        if (old != item)
            FreeItem(old);
    }

    // Appends the item and returns its index.
    virtual int Add(T* item)
    {
        if (Count() == Capacity())
            Grow();
        items_.push_back(item);
        return Count() - 1;
    }

    // The first index holding this very reference, or -1.
    virtual int IndexOf(const T* item) const
    {
        auto it = std::find(items_.begin(), items_.end(), item);
        return it == items_.end() ? -1 : int(it - items_.begin());
    }

    // Inserts the item at index (0 to Count), moving the tail up by one.
    virtual void Insert(int index, T* item)
    {
        if (index < 0 || index > Count())
            RaiseListIndexError(index);
        if (Count() == Capacity())
            Grow();
        items_.insert(items_.begin() + index, item);
    }

    T* First() const { return Get(0); }
    T* Last() const { return Get(Count() - 1); }

    // The item after (next) or before the given one, nullptr past either
    // end; for item nullptr, First or Last.
    T* Neighbour(const T* item, bool next) const
    {
        if (!item)
            return next ? First() : Last();
        int i = IndexOf(item);
        if (i < 0)
            RaiseListError("tObject " + ClassNameOf(typeid(*item)) + " not in item list");
        i += next ? 1 : -1;
        return i >= 0 && i < Count() ? items_[size_t(i)] : nullptr;
    }

    // Frees the items when the list owns them, then empties the list.
    void Clear()
    {
        for (T* item : items_)
            FreeItem(item);
        Reset();
    }

    // Empties the list without freeing any item.
    void Reset()
    {
        items_.clear();
        items_.shrink_to_fit();
        capacity_ = 0;
    }

    bool OwnsItems;

protected:
    // Capacity grows by 4, 8 or 16 slots. That rule only sets the count
    // reported; the storage itself grows geometrically, so filling a list of n
    // items costs O(n) moves and not O(n^2).
    void Grow()
    {
        int capacity = Capacity();
        int newCapacity = capacity + (capacity > 8 ? 16 : capacity > 4 ? 8 : 4);
        if (newCapacity > MaxListSize)
            RaiseListIndexError(newCapacity);
        capacity_ = newCapacity;
    }

    std::vector<T*> items_;  // the Count items

private:
    void FreeItem(T* item)
    {
        if (OwnsItems)
            std::default_delete<T>()(item);
    }

    int capacity_ = 0;
};

// How a sorted list treats an item that compares equal to one it holds:
// IgnoreEqual leaves it out (the caller keeps it), AcceptEqual inserts it,
// RejectEqual raises EListError "Duplicate Object index".
enum class TDuplicateRule { IgnoreEqual, AcceptEqual, RejectEqual };

template <class T>
class TSortedObjectList : public TObjectList<T> {
public:
    explicit TSortedObjectList(TDuplicateRule rule, bool ownsItems = true)
        : TObjectList<T>(ownsItems), duplicateRule_(rule)
    {
    }

    TDuplicateRule DuplicateRule() const { return duplicateRule_; }

    void Put(int, T*) override { RaiseListError("Cannot <Put> an Object in a sorted list!"); }

    // Inserts the item at its sorted place. Equal items end up in reverse
    // order of insertion under AcceptEqual. Returns 0.
    int Add(T* item) override
    {
        int index;
        if (Find(item, index)) {
            if (duplicateRule_ == TDuplicateRule::IgnoreEqual)
                return 0;
            if (duplicateRule_ == TDuplicateRule::RejectEqual)
                RaiseListError("Duplicate Object index");
        }
        TObjectList<T>::Insert(index, item);
        return 0;
    }

    // The index of an item equal to the given one (not necessarily the same
    // reference). When the order never ranks two items equal, the reference
    // itself is looked for, so an item of the list is always found.
    int IndexOf(const T* item) const override
    {
        int index;
        return Find(item, index) ? index : TObjectList<T>::IndexOf(item);
    }

    // The index is ignored: the item goes to its sorted place.
    void Insert(int, T* item) override { Add(item); }

    // Appends the item out of order; Sort puts the list in order again. Many
    // items cost O(n log n) compares so, where Add moves O(n^2) references
    // for items that come in reverse order.
    virtual void Append(T* item) { TObjectList<T>::Add(item); }

    // Puts the list in order. Equal items end up in reverse of their order in
    // the list, as Add puts them under AcceptEqual. Under the other rules two
    // equal items raise EListError "Duplicate Object index", the list holding
    // all its items still.
    void Sort()
    {
        auto& items = this->items_;
        std::reverse(items.begin(), items.end());
        std::stable_sort(items.begin(), items.end(), [this](const T* a, const T* b) { return Compare(a, b) < 0; });
        if (duplicateRule_ == TDuplicateRule::AcceptEqual)
            return;
        auto equal = [this](const T* a, const T* b) { return Compare(a, b) == 0; };
        if (std::adjacent_find(items.begin(), items.end(), equal) != items.end())
            RaiseListError("Duplicate Object index");
    }

    // Binary search for key. Under AcceptEqual, index is the place of the
    // first equal item, so an insert there goes before all equal ones;
    // otherwise it is the place of an equal item. Without an equal item it is
    // where the key belongs.
    bool Find(const T* key, int& index) const
    {
        int lo = 0;
        int hi = this->Count() - 1;
        bool found = false;
        while (lo <= hi) {
            int mid = lo + (hi - lo) / 2;
            int c = Compare(this->Get(mid), key);
            if (c < 0) {
                lo = mid + 1;
            } else {
                hi = mid - 1;
                if (c == 0) {
                    found = true;
                    if (duplicateRule_ != TDuplicateRule::AcceptEqual)
                        lo = mid;
                }
            }
        }
        index = lo;
        return found;
    }

protected:
    // Negative when item sorts before key, 0 when they rank equal.
    virtual int Compare(const T* item, const T* key) const = 0;

private:
    TDuplicateRule duplicateRule_;
};
