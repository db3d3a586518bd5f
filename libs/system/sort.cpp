// The in-place sort of a table's items: a median-of-three quicksort with raw reads and
// writes, recursing into the smaller part so that the native depth stays logarithmic. With a
// comparator the order of comparisons is visible to scripts, so the steps are fixed.
//
// One algorithm over two ways to reach the items: through the engine stack, which keeps every
// value reachable while comparators and metamethods run scripts; and, when every item is a
// number or a string, directly on the table's slots, where comparing runs no script and
// allocates nothing.
#include <cstdint>

#include "engine/api_internal.h"
#include "engine/convert.h"
#include "libs/system/commands.h"
#include "runtime/arguments.h"

namespace qv {
namespace {

constexpr int kTableIdx = 1;
constexpr int kCompareIdx = 2;

// Items as stack slots: Get pushes t[i] and names its slot.
struct StackItems {
    qvVmState* L;
    bool hasCompare;

    using Item = int;
    int Mark() const { return VmGetTop(L); }
    void Reset(int mark) const { VmSetTop(L, mark); }
    Item Get(int32_t i) const {
        VmRawGetI(L, kTableIdx, i);
        return VmGetTop(L);
    }
    void Set(int32_t i, Item v) const {
        VmPushValue(L, v);
        VmRawSetI(L, kTableIdx, i);
    }

    // The comparator's answer counts when it truncates to a non-zero integer.
    bool Less(Item a, Item b) const {
        if (!hasCompare) return VmCompare(L, a, b, 1) != 0;
        VmPushValue(L, kCompareIdx);
        VmPushValue(L, a);
        VmPushValue(L, b);
        VmCall(L, 2, 1);
        bool less = VmType(L, -1) == VM_TNUMBER && Trunc32(VmToNumber(L, -1)) != 0;
        VmSetTop(L, -2);
        return less;
    }
};

// Items as copies of the table's values; only for numbers and strings.
struct SlotItems {
    qvVmState* L;
    qvTable* t;

    using Item = qvValue;
    int Mark() const { return 0; }
    void Reset(int) const {}
    Item Get(int32_t i) const { return *VmTableGetNum(t, i); }
    void Set(int32_t i, const Item& v) const { *VmTableSetNum(L, t, i) = v; }
    bool Less(const Item& a, const Item& b) const {
        if (a.tag == VM_TNUMBER && b.tag == VM_TNUMBER) return a.value.n < b.value.n;
        return VmCompareValues(L, &a, &b, 1) != 0;
    }
};

template <typename Items>
class QuickSort {
public:
    explicit QuickSort(const Items& items) : items_(items) {}

    int Range(int32_t lo, int32_t hi) const {
        while (lo < hi) {
            SwapIfLess(hi, lo);
            if (hi - lo == 1) break;
            int32_t p = lo + (hi - lo) / 2;
            if (!SwapIfLess(p, lo)) SwapIfLess(hi, p);
            if (hi - lo == 2) break;
            int32_t i = 0;
            if (int code = Partition(lo, hi, p, &i)) return code;
            if (i - lo < hi - i) {
                if (int code = Range(lo, i - 1)) return code;
                lo = i + 1;
            } else {
                if (int code = Range(i + 1, hi)) return code;
                hi = i - 1;
            }
        }
        return 0;
    }

private:
    // Swaps t[a] and t[b] when t[a] < t[b]; whether it did.
    bool SwapIfLess(int32_t a, int32_t b) const {
        int mark = items_.Mark();
        auto va = items_.Get(a);
        auto vb = items_.Get(b);
        bool less = items_.Less(va, vb);
        if (less) {
            items_.Set(a, vb);
            items_.Set(b, va);
        }
        items_.Reset(mark);
        return less;
    }

    void Swap(int32_t a, int32_t b) const {
        int mark = items_.Mark();
        auto va = items_.Get(a);
        auto vb = items_.Get(b);
        items_.Set(a, vb);
        items_.Set(b, va);
        items_.Reset(mark);
    }

    // Whether t[i] < pivot (or pivot < t[i] with pivotFirst).
    bool CompareAt(int32_t i, const typename Items::Item& pivot, bool pivotFirst) const {
        int mark = items_.Mark();
        auto v = items_.Get(i);
        bool less = pivotFirst ? items_.Less(pivot, v) : items_.Less(v, pivot);
        items_.Reset(mark);
        return less;
    }

    // Partitions lo..hi around the median at p, parked at hi - 1; its final place in *at.
    // Fails before any read outside lo..hi when the order is no order.
    int Partition(int32_t lo, int32_t hi, int32_t p, int32_t* at) const {
        int mark = items_.Mark();
        auto pivot = items_.Get(p);
        Swap(p, hi - 1);
        int32_t i = lo, j = hi - 1;
        int code = 0;
        for (;;) {
            do {
                if (++i > hi) code = ERR_SORTFUNC;
            } while (code == 0 && CompareAt(i, pivot, false));
            while (code == 0) {
                if (--j < lo)
                    code = ERR_SORTFUNC;
                else if (!CompareAt(j, pivot, true))
                    break;
            }
            if (code != 0 || j < i) break;
            Swap(i, j);
        }
        items_.Reset(mark);
        if (code != 0) return code;
        Swap(hi - 1, i);
        *at = i;
        return 0;
    }

    Items items_;
};

// Items from key 0 to the first nil; without a comparator also to the first "". *plain
// tells whether all of them are numbers and strings.
int32_t CountSortItems(qvVmState* L, bool hasCompare, bool* plain) {
    *plain = true;
    for (int32_t n = 0;; ++n) {
        VmRawGetI(L, kTableIdx, n);
        int type = VmType(L, -1);
        bool end = type == VM_TNIL || (!hasCompare && type == VM_TSTRING && VmStrLen(L, -1) == 0);
        VmSetTop(L, -2);
        if (end) return n;
        if (type != VM_TNUMBER && type != VM_TSTRING) *plain = false;
    }
}

}  // namespace

int Sort(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    CheckArgTable(L, kTableIdx);
    bool hasCompare = VmGetTop(L) >= 2;
    if (hasCompare) CheckArgFunction(L, kCompareIdx);
    if (!VmCheckStack(L, 40)) return ERR_STACK;
    bool plain = false;
    int32_t n = CountSortItems(L, hasCompare, &plain);
    if (!hasCompare && plain) {
        return QuickSort<SlotItems>({L, TableAtIndex(L, kTableIdx)}).Range(0, n - 1);
    }
    return QuickSort<StackItems>({L, hasCompare}).Range(0, n - 1);
}

}  // namespace qv
