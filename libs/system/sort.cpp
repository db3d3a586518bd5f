// The in-place sort of a table's items: a median-of-three quicksort with raw reads and
// writes, recursing into the smaller part so that the native depth stays logarithmic. With a
// comparator the order of comparisons is visible to scripts, so the steps are fixed.
#include <cstdint>

#include "engine/convert.h"
#include "libs/system/commands.h"
#include "runtime/arguments.h"

namespace qv {
namespace {

constexpr int kTableIdx = 1;
constexpr int kCompareIdx = 2;

struct Sorter {
    qvVmState* L;
    bool hasCompare;

    void Get(int32_t i) const { VmRawGetI(L, kTableIdx, i); }
    // Stores the value on top at key i and pops it.
    void Set(int32_t i) const { VmRawSetI(L, kTableIdx, i); }

    // Whether the value at a sorts before the value at b (negative stack indices).
    bool Less(int a, int b) const {
        if (!hasCompare) return VmCompare(L, a, b, 1) != 0;
        VmPushValue(L, kCompareIdx);
        VmPushValue(L, a - 1);
        VmPushValue(L, b - 2);
        VmCall(L, 2, 1);
        bool less = VmType(L, -1) == VM_TNUMBER && Trunc32(VmToNumber(L, -1)) != 0;
        VmSetTop(L, -2);
        return less;
    }

    // Swaps t[i] and t[j] whose values lie at -2 and -1 (t[i] below); pops both.
    void StoreSwapped(int32_t i, int32_t j) const {
        Set(i);
        Set(j);
    }

    // Brings the smaller of t[a] and t[b] to a (b = a's partner compared as t[b] < t[a]).
    void OrderPair(int32_t a, int32_t b) const {
        Get(a);
        Get(b);
        if (Less(-1, -2))
            StoreSwapped(a, b);
        else
            VmSetTop(L, -3);
    }

    // Places the median of t[lo], t[p], t[hi] at p.
    void MedianOfThree(int32_t lo, int32_t p, int32_t hi) const {
        Get(p);
        Get(lo);
        if (Less(-2, -1)) {
            StoreSwapped(p, lo);
            return;
        }
        VmSetTop(L, -2);
        Get(hi);
        if (Less(-1, -2))
            StoreSwapped(p, hi);
        else
            VmSetTop(L, -3);
    }

    // Partitions lo..hi around the pivot at hi - 1 (also on the stack top); its final place.
    int Partition(int32_t lo, int32_t hi, int32_t* pivotAt) const {
        int32_t i = lo, j = hi - 1;
        for (;;) {
            for (;;) {
                if (++i > hi) return ERR_SORTFUNC;
                Get(i);
                if (!Less(-1, -2)) break;
                VmSetTop(L, -2);
            }
            for (;;) {
                if (--j < lo) return ERR_SORTFUNC;
                Get(j);
                if (!Less(-3, -1)) break;
                VmSetTop(L, -2);
            }
            if (j < i) {
                VmSetTop(L, -3);  // t[i] and t[j]
                break;
            }
            StoreSwapped(i, j);
        }
        Get(hi - 1);
        Get(i);
        StoreSwapped(hi - 1, i);
        *pivotAt = i;
        return 0;
    }

    int Range(int32_t lo, int32_t hi) const {
        while (lo < hi) {
            OrderPair(lo, hi);
            if (hi - lo == 1) break;
            int32_t p = lo + (hi - lo) / 2;
            MedianOfThree(lo, p, hi);
            if (hi - lo == 2) break;
            Get(p);
            Get(hi - 1);
            Get(p);  // the pivot stays on the stack through the partition
            VmInsert(L, -3);
            StoreSwapped(p, hi - 1);
            int32_t i = 0;
            int code = Partition(lo, hi, &i);
            VmSetTop(L, -2);
            if (code != 0) return code;
            if (i - lo < hi - i) {
                if ((code = Range(lo, i - 1)) != 0) return code;
                lo = i + 1;
            } else {
                if ((code = Range(i + 1, hi)) != 0) return code;
                hi = i - 1;
            }
        }
        return 0;
    }
};

// Items from key 0 to the first nil; without a comparator also to the first "".
int32_t CountSortItems(qvVmState* L, bool hasCompare) {
    int32_t n = 0;
    for (;; ++n) {
        VmRawGetI(L, kTableIdx, n);
        bool end = VmType(L, -1) == VM_TNIL ||
                   (!hasCompare && VmType(L, -1) == VM_TSTRING && VmStrLen(L, -1) == 0);
        VmSetTop(L, -2);
        if (end) return n;
    }
}

}  // namespace

int Sort(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    CheckArgTable(L, kTableIdx);
    bool hasCompare = VmGetTop(L) >= 2;
    if (hasCompare) CheckArgFunction(L, kCompareIdx);
    if (!VmCheckStack(L, 40)) return ERR_STACK;
    return Sorter{L, hasCompare}.Range(0, CountSortItems(L, hasCompare) - 1);
}

}  // namespace qv
