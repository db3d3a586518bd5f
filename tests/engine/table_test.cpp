#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

qvValue Bool(bool b) {
    qvValue v;
    SetBoolean(&v, b);
    return v;
}

// Keys written as script literals, so that expected sequences read naturally.
std::string Show(const qvValue& v) {
    switch (v.tag) {
        case VM_TNIL:
            return "nil";
        case VM_TBOOLEAN:
            return v.value.b ? "true" : "false";
        case VM_TNUMBER: {
            char text[32];
            std::snprintf(text, sizeof text, "%g", v.value.n);
            return text;
        }
        case VM_TSTRING:
            return '"' + std::string(StringOf(&v)->Data(), StringOf(&v)->length) + '"';
        default:
            return "object";
    }
}

class TableTest : public EngineTest {
protected:
    // A table anchored in the registry, so that a collection keeps it.
    qvTable* NewTable(int narray = 0, int lognode = 0) {
        qvTable* t = VmTableNew(L, narray, lognode);
        Anchor(L, ++anchors_, TableValue(t));
        return t;
    }
    qvValue Str(const std::string& text) { return StringValue(L, text); }
    void Put(qvTable* t, const qvValue& key, double value) {
        SetField(L, t, key, NumberValue(value));
    }
    const qvValue* Get(qvTable* t, const qvValue& key) { return VmTableGet(t, &key); }

    // The keys in traversal order.
    std::vector<std::string> Keys(qvTable* t) {
        std::vector<std::string> keys;
        qvValue slots[2] = {NilValue(), NilValue()};
        while (VmTableNext(L, t, slots) != 0) keys.push_back(Show(slots[0]));
        return keys;
    }

    // The keys node by node, "." for an empty node.
    std::string Layout(qvTable* t) {
        std::string layout;
        for (uint32_t i = 0; i < (1u << t->lsizenode); ++i) {
            if (!layout.empty()) layout += ' ';
            layout += IsNil(&t->node[i].key) ? "." : Show(t->node[i].key);
        }
        return layout;
    }

    // The value of a number-valued entry, or NaN when the key is absent or holds nil.
    double ValueOf(qvTable* t, const qvValue& key) {
        const qvValue* v = Get(t, key);
        return IsNumber(v) ? v->value.n : kNaN;
    }

private:
    double anchors_ = 100;
};

TEST(TableLog2, MatchesHighestSetBit) {
    const struct {
        uint32_t x;
        int log;
    } cases[] = {{0, -1},  {1, 0},       {2, 1},        {3, 1},          {255, 7},        {256, 8},
                 {257, 8}, {0xFFFF, 15}, {0x10000, 16}, {0x1000000, 24}, {0xFFFFFFFF, 31}};
    for (const auto& c : cases) EXPECT_EQ(VmLog2(c.x), c.log) << c.x;
}

TEST_F(TableTest, RawEqualityComparesTagAndPayload) {
    qvTable* a = NewTable();
    qvTable* b = NewTable();
    const struct {
        qvValue x, y;
        int equal;
    } cases[] = {
        {NilValue(), NumberValue(0), 0},
        {NumberValue(0), NumberValue(-0.0), 1},
        {NumberValue(kNaN), NumberValue(kNaN), 0},
        {NumberValue(1), Bool(true), 0},
        {Str("k"), Str("k"), 1},
        {TableValue(a), TableValue(b), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VmRawEqualObj(&c.x, &c.y), c.equal) << Show(c.x) << " vs " << Show(c.y);
    }
}

TEST_F(TableTest, NilKeyIsTheNumberZero) {
    qvTable* t = NewTable();
    Put(t, NilValue(), 5);
    EXPECT_EQ(ValueOf(t, NumberValue(0)), 5);
    EXPECT_EQ(ValueOf(t, NilValue()), 5);
    EXPECT_EQ(ValueOf(t, NumberValue(-0.0)), 5);
    EXPECT_EQ(VmTableGetNum(t, 0)->value.n, 5);
    EXPECT_EQ(Keys(t), std::vector<std::string>{"0"});
}

TEST_F(TableTest, AbsentKeysGiveTheSharedNil) {
    qvTable* t = NewTable(4, 2);
    Put(t, Str("present"), 1);
    const qvValue absent[] = {Str("absent"), NumberValue(5),     NumberValue(kNaN),
                              Bool(true),    NumberValue(1e300), NilValue()};
    for (const auto& key : absent) EXPECT_EQ(Get(t, key), &kNilObject) << Show(key);
    EXPECT_EQ(VmTableGetNum(t, -1), &kNilObject);
    EXPECT_EQ(VmTableGetStr(t, StringOf(&absent[0])), &kNilObject);
    // An empty array slot is a slot: it reads nil in place.
    EXPECT_EQ(VmTableGetNum(t, 3), &t->array[2]);
    EXPECT_TRUE(IsNil(VmTableGetNum(t, 3)));
}

TEST_F(TableTest, KeysOfEveryKindRoundTrip) {
    qvTable* t = NewTable();
    const qvValue keys[] = {NumberValue(1),    NumberValue(2.5),          NumberValue(-7),
                            NumberValue(1e15), NumberValue(16777217),     Str(""),
                            Str("name"),       Str(std::string(50, 'x')), Bool(true),
                            Bool(false),       TableValue(NewTable())};
    double value = 0;
    for (const auto& key : keys) Put(t, key, ++value);
    value = 0;
    for (const auto& key : keys) EXPECT_EQ(ValueOf(t, key), ++value) << Show(key);
    EXPECT_EQ(Keys(t).size(), std::size(keys));
    // false is not the number 0.
    EXPECT_TRUE(std::isnan(ValueOf(t, NumberValue(0))));
}

// The sizes a table settles at for an insertion sequence, from an empty table.
TEST_F(TableTest, RehashChoosesSizesByCounting) {
    const struct {
        std::vector<double> keys;
        uint32_t sizearray;
        int lsizenode;
    } cases[] = {
        {{1}, 2, 0},           // a lone key 1: one of the two slots 1..2 is half of them
        {{1, 2, 3, 4}, 4, 0},  // array only, no hash storage
        {{1, 1000}, 2, 1},     // 1000 stays in the hash part
        {{3, 4}, 4, 0},        // two of the four slots 1..4 are enough
        {{3}, 0, 1},           // one of four is not
        {{0}, 0, 1},           // 0 is no array index
        {{1, 2, 3, 5}, 8, 0},  // 5 counts into the slice (4, 8]
        {{2, 3, 4, 5, 6}, 8, 0},
    };
    for (const auto& c : cases) {
        qvTable* t = NewTable();
        for (double k : c.keys) Put(t, NumberValue(k), k);
        EXPECT_EQ(t->sizearray, c.sizearray) << ::testing::PrintToString(c.keys);
        EXPECT_EQ(t->lsizenode, c.lsizenode) << ::testing::PrintToString(c.keys);
        for (double k : c.keys) EXPECT_EQ(ValueOf(t, NumberValue(k)), k);
    }
}

// Worked out from the placement rules: main positions, chaining, moving an occupant out of a
// foreign main position, the downward free cursor and four rehashes.
TEST_F(TableTest, TraversalOrderIsFixed) {
    qvTable* t = NewTable();
    const qvValue keys[] = {NumberValue(1),  Str("x"),         Bool(true),       NilValue(),
                            NumberValue(2),  NumberValue(2.5), Str("name"),      Bool(false),
                            NumberValue(-1), NumberValue(100), NumberValue(3),   Str("y"),
                            NumberValue(7),  Str("z"),         NumberValue(0.5), Str("l"),
                            NumberValue(11)};
    double value = 0;
    for (const auto& key : keys) Put(t, key, ++value);
    EXPECT_EQ(t->sizearray, 4u);
    EXPECT_EQ(t->lsizenode, 4);
    const std::vector<std::string> order = {"1",     "2",   "3",     "-1",    "2.5",   "0",
                                            "false", "7",   "100",   "\"y\"", "\"x\"", "\"name\"",
                                            "\"z\"", "0.5", "\"l\"", "11",    "true"};
    EXPECT_EQ(Keys(t), order);
    value = 0;
    for (const auto& key : keys) EXPECT_EQ(ValueOf(t, key), ++value) << Show(key);
}

// A record of four fields made in a part of four nodes: the cursor has passed every node when
// the fourth key arrives, so the part doubles, its entries moving from the last node to the
// first ("a" 0, "b" 3, "c" 2, "d" 1 by their hashes, then "b" 3, "c" 2, "d" 5, "a" 0).
TEST_F(TableTest, FourthFieldOfAFourNodeRecordDoublesItsPart) {
    qvTable* t = NewTable(0, 2);
    Put(t, Str("a"), 1);
    Put(t, Str("b"), 2);
    Put(t, Str("c"), 3);
    EXPECT_EQ(Layout(t), "\"a\" . \"c\" \"b\"");
    Put(t, Str("d"), 4);
    EXPECT_EQ(t->sizearray, 0u);
    EXPECT_EQ(Layout(t), "\"a\" . \"c\" \"b\" . \"d\" . .");
    EXPECT_EQ(t->firstfree, &t->node[7]);
    EXPECT_EQ(Keys(t), (std::vector<std::string>{"\"a\"", "\"c\"", "\"b\"", "\"d\""}));
    for (const char* key : {"a", "b", "c", "d"}) EXPECT_EQ(ValueOf(t, Str(key)), key[0] - 'a' + 1);
}

// Growth sequences whose moves meet occupied main positions and the cursor, from the layouts
// the placement rules give. Some entries are cleared before the last eight stores, so a later
// rehash drops them, or shrinks the array part and moves its survivors into the hash part.
TEST_F(TableTest, RehashLayoutsArePinned) {
    std::vector<qvValue> strings, mixed, shrinking;
    for (int i = 0; i < 20; ++i) strings.push_back(Str("k" + std::to_string(i)));
    for (int i = 0; i < 10; ++i) {
        mixed.push_back(NumberValue(i * 7.5 - 20));
        mixed.push_back(Str(std::string(i + 1, 'm')));
    }
    for (int i = 1; i <= 8; ++i) shrinking.push_back(NumberValue(i));
    for (int i = 0; i < 8; ++i) shrinking.push_back(Str("s" + std::to_string(i)));
    const struct {
        const char* what;
        int lognode;
        const std::vector<qvValue>& keys;
        std::vector<size_t> cleared;
        uint32_t sizearray;
        std::string layout;
    } cases[] = {
        {"strings into no storage",
         0,
         strings,
         {},
         0,
         R"("k12" . . "k19" . . . . . . . "k11" . . . "k9" "k17" "k16" "k10" "k8" "k1" "k0" "k3" "k2" "k15" "k13" "k18" "k14" "k6" "k7" "k4" "k5")"},
        {"strings into four nodes, some cleared",
         2,
         strings,
         {1, 4, 5, 9},
         0,
         R"("k12" . . "k19" . . . . . . . "k15" . . . . . . "k14" "k8" . "k0" "k3" "k2" "k16" "k13" "k18" "k10" "k6" "k7" "k17" "k11")"},
        {"numbers and strings",
         0,
         mixed,
         {},
         0,
         R"(. . . "mmmmmmmm" -5 . 47.5 . . 17.5 . . "m" . 40 10 . "mmmmm" . -12.5 . 25 "mmm" "mm" "mmmmmmm" "mmmm" 32.5 2.5 -20 "mmmmmmmmmm" "mmmmmm" "mmmmmmmmm")"},
        {"numbers and strings, some cleared",
         1,
         mixed,
         {0, 3, 8, 11},
         0,
         R"(. . . "mmmmmmmm" -5 . 47.5 . . 17.5 . . "m" . 40 . . "mmmmm" . -12.5 . . "mmm" . "mmmmmmm" 2.5 . 32.5 25 "mmmmmmmmmm" "mmmm" "mmmmmmmmm")"},
        {"an array part that empties",
         0,
         shrinking,
         {0, 1, 2, 3, 4, 5},
         0,
         R"(. . . . "s6" "s7" 7 "s5" 8 . . "s4" "s1" "s0" "s3" "s2")"},
    };
    for (const auto& c : cases) {
        qvTable* t = NewTable(0, c.lognode);
        for (size_t i = 0; i < c.keys.size(); ++i) {
            if (i + 8 == c.keys.size()) {
                for (size_t k : c.cleared) SetField(L, t, c.keys[k], NilValue());
            }
            Put(t, c.keys[i], double(i));
        }
        EXPECT_EQ(t->sizearray, c.sizearray) << c.what;
        EXPECT_EQ(Layout(t), c.layout) << c.what;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            const bool cleared =
                std::find(c.cleared.begin(), c.cleared.end(), i) != c.cleared.end();
            EXPECT_TRUE(cleared ? IsNil(Get(t, c.keys[i])) : ValueOf(t, c.keys[i]) == double(i))
                << c.what << ": " << Show(c.keys[i]);
        }
    }
}

// A resize to sizes a caller chose, too small for the entries, still keeps every entry: a part
// that fills up while the entries move rehashes on its own.
TEST_F(TableTest, ResizeToTooSmallPartsKeepsEveryEntry) {
    std::vector<qvValue> keys = {NumberValue(1), NumberValue(2), NumberValue(3), NumberValue(2.5)};
    for (int i = 0; i < 6; ++i) keys.push_back(Str("s" + std::to_string(i)));
    const struct { int nasize, nhsize; } cases[] = {{0, 0}, {0, 1}, {2, 1}, {8, 0}, {1, 2}};
    for (const auto& c : cases) {
        qvTable* t = NewTable();
        for (size_t i = 0; i < keys.size(); ++i) Put(t, keys[i], double(i));
        VmTableResize(L, t, c.nasize, c.nhsize);
        for (size_t i = 0; i < keys.size(); ++i) {
            EXPECT_EQ(ValueOf(t, keys[i]), double(i)) << c.nasize << "/" << c.nhsize;
        }
        EXPECT_EQ(Keys(t).size(), keys.size()) << c.nasize << "/" << c.nhsize;
    }
}

TEST_F(TableTest, ClearingVisitedEntriesDuringTraversal) {
    qvTable* t = NewTable();
    for (int i = 1; i <= 6; ++i) Put(t, NumberValue(i), i);
    for (int i = 0; i < 20; ++i) Put(t, Str("k" + std::to_string(i)), i);
    const std::vector<std::string> before = Keys(t);
    std::vector<std::string> visited;
    qvValue slots[2] = {NilValue(), NilValue()};
    while (VmTableNext(L, t, slots) != 0) {
        visited.push_back(Show(slots[0]));
        SetField(L, t, slots[0], NilValue());
    }
    EXPECT_EQ(visited, before);
    EXPECT_TRUE(Keys(t).empty());
}

// A rehash drops the keys whose values became nil; continuing from one of them fails.
TEST_F(TableTest, TraversalFromADroppedKeyFails) {
    qvTable* t = NewTable();
    for (int i = 0; i < 3; ++i) Put(t, Str("k" + std::to_string(i)), i);
    qvValue slots[2] = {NilValue(), NilValue()};
    ASSERT_EQ(VmTableNext(L, t, slots), 1);
    const qvValue visited = slots[0];
    SetField(L, t, visited, NilValue());
    EXPECT_EQ(VmTableNext(L, t, slots), 1);  // still valid before the rehash
    slots[0] = visited;
    const int lognode = t->lsizenode;
    for (int i = 3; t->lsizenode == lognode; ++i) Put(t, Str("k" + std::to_string(i)), i);
    EXPECT_EQ(Protected(L, [&] { VmTableNext(L, t, slots); }), ERR_INVNEXTKEY);
}

TEST_F(TableTest, ErrorsComeOutAsStatusCodes) {
    qvTable* t = NewTable();
    Put(t, Str("a"), 1);
    const struct {
        const char* what;
        std::function<void()> run;
        int status;
    } cases[] = {
        {"next of an absent key",
         [&] {
             qvValue slots[2] = {Str("absent"), NilValue()};
             VmTableNext(L, t, slots);
         },
         ERR_INVNEXTKEY},
        {"next of an array index beyond the array",
         [&] {
             qvValue slots[2] = {NumberValue(1), NilValue()};
             VmTableNext(L, t, slots);
         },
         ERR_INVNEXTKEY},
        {"NaN key stored", [&] { SetField(L, t, NumberValue(kNaN), NumberValue(1)); },
         ERR_TABLEINDEX},
        {"array part above 2^24", [&] { VmTableNew(L, (1 << 24) + 1, 0); }, ERR_TABLEOVERFLOW},
        {"negative array part", [&] { VmTableNew(L, -1, 0); }, ERR_TABLEOVERFLOW},
        {"hash part above 2^24", [&] { VmTableNew(L, 0, 25); }, ERR_TABLEOVERFLOW},
        {"hash part from a 9-bit operand", [&] { VmTableNew(L, 0, 511); }, ERR_TABLEOVERFLOW},
        {"negative hash part", [&] { VmTableNew(L, 0, -1); }, ERR_TABLEOVERFLOW},
        {"resize above 2^24", [&] { VmTableResize(L, t, 0, 25); }, ERR_TABLEOVERFLOW},
    };
    for (const auto& c : cases) {
        const uint64_t requests = GetMemoryStats().requests;
        EXPECT_EQ(Protected(L, c.run), c.status) << c.what;
        if (c.status == ERR_TABLEOVERFLOW) {
            EXPECT_EQ(GetMemoryStats().requests, requests) << c.what << " allocated";
        }
    }
    EXPECT_EQ(Keys(t), std::vector<std::string>{"\"a\""});
    EXPECT_EQ(Get(t, NumberValue(kNaN)), &kNilObject);
}

// After clearing all but some of t[1..8], the first string key finds no hash storage and
// rehashes: the array part keeps what fills at least half of it, the rest moves.
TEST_F(TableTest, ArrayPartShrinksToWhatItsEntriesFill) {
    const struct {
        std::vector<int> kept;
        uint32_t sizearray;
    } cases[] = {
        {{8}, 0},           // 8 alone fills no half
        {{1, 2, 3, 4}, 8},  // half is enough
        {{1, 2, 3}, 4},     // the first half stays in place
        {{1, 3, 6}, 4},     // 1 and 3 stay, 6 moves
    };
    for (const auto& c : cases) {
        qvTable* t = NewTable();
        for (int i = 1; i <= 8; ++i) Put(t, NumberValue(i), i);
        ASSERT_EQ(t->sizearray, 8u);
        for (int i = 1; i <= 8; ++i) {
            if (std::find(c.kept.begin(), c.kept.end(), i) == c.kept.end()) {
                SetField(L, t, NumberValue(i), NilValue());
            }
        }
        Put(t, Str("s"), 0);
        EXPECT_EQ(t->sizearray, c.sizearray) << ::testing::PrintToString(c.kept);
        for (int i : c.kept) EXPECT_EQ(ValueOf(t, NumberValue(i)), i);
        EXPECT_EQ(Keys(t).size(), c.kept.size() + 1);
    }
}

TEST_F(TableTest, EveryStoreClearsTheCacheByte) {
    qvTable* t = NewTable(2, 1);
    EXPECT_EQ(t->flags, 0xFF);
    t->flags = 0xFF;
    VmTableSetNum(L, t, 1);  // an existing array slot
    EXPECT_EQ(t->flags, 0);
    t->flags = 0xFF;
    Put(t, Str("k"), 1);
    EXPECT_EQ(t->flags, 0);
    t->flags = 0xFF;
    Put(t, Str("k"), 2);  // an existing key
    EXPECT_EQ(t->flags, 0);
    t->flags = 0xFF;
    VmTableGet(t, &t->node[0].key);  // reads leave it alone
    EXPECT_EQ(t->flags, 0xFF);
}

// A full hash part whose rehash runs out of memory must not keep the pending key with the
// value false; the table stays usable once memory is back.
TEST_F(TableTest, FailedRehashLeavesNoPhantomEntry) {
    qvTable* t = NewTable(0, 2);
    for (int i = 0; i < 3; ++i) Put(t, Str("k" + std::to_string(i)), i);
    ASSERT_EQ(t->lsizenode, 2);
    const std::vector<std::string> before = Keys(t);
    const qvValue pending = Str("pending");
    {
        AllocationFault fault(1, false);  // the new hash part
        EXPECT_EQ(Protected(L, [&] { Put(t, pending, 9); }), ERR_MEM);
    }
    EXPECT_TRUE(IsNil(Get(t, pending)));
    EXPECT_EQ(Keys(t), before);
    // No free node is left: the next insertion rehashes first.
    Put(t, Str("later"), 5);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(ValueOf(t, Str("k" + std::to_string(i))), i);
    EXPECT_EQ(ValueOf(t, Str("later")), 5);
    EXPECT_TRUE(IsNil(Get(t, pending)));
    EXPECT_EQ(Keys(t).size(), 4u);
}

// Out of memory at each allocation of a growing table in turn: what was stored before the
// failure stays, the failing key is not there, and the table keeps working afterwards.
TEST_F(TableTest, EveryFailingAllocationLeavesAConsistentTable) {
    std::vector<qvValue> keys;
    for (int i = 1; i <= 40; ++i) {
        keys.push_back(NumberValue(i % 3 == 0 ? i * 1000 : i));
        keys.push_back(Str("key" + std::to_string(i)));
    }
    for (uint64_t failAt = 1;; ++failAt) {
        qvTable* t = NewTable();
        size_t stored = 0;
        int status;
        {
            AllocationFault fault(failAt, false);
            status = Protected(L, [&] {
                for (; stored < keys.size(); ++stored) Put(t, keys[stored], double(stored));
            });
        }
        if (status == 0) break;  // failAt lies beyond the last allocation
        ASSERT_EQ(status, ERR_MEM);
        EXPECT_EQ(Keys(t).size(), stored) << failAt;
        for (size_t i = 0; i < stored; ++i) EXPECT_EQ(ValueOf(t, keys[i]), double(i));
        EXPECT_TRUE(IsNil(Get(t, keys[stored]))) << failAt;
        for (size_t i = stored; i < keys.size(); ++i) Put(t, keys[i], double(i));
        for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(ValueOf(t, keys[i]), double(i));
    }
}

TEST_F(TableTest, FailedGrowthOfAnEmptyTableChangesNothing) {
    qvTable* t = NewTable();
    const qvValue s = Str("s");
    {
        AllocationFault fault(1, true);
        EXPECT_EQ(Protected(L, [&] { Put(t, NumberValue(1), 1); }), ERR_MEM);
        EXPECT_EQ(Protected(L, [&] { Put(t, s, 1); }), ERR_MEM);
    }
    EXPECT_EQ(t->sizearray, 0u);
    EXPECT_EQ(t->lsizenode, 0);
    EXPECT_TRUE(IsNil(&L->g->dummynode[0].key));
    EXPECT_TRUE(Keys(t).empty());
    Put(t, NumberValue(1), 1);
    EXPECT_EQ(ValueOf(t, NumberValue(1)), 1);
}

// --- Metamethod lookup ---

TEST_F(TableTest, TagMethodsComeFromTheMetatable) {
    qvTable* meta = NewTable();
    qvTable* t = NewTable();
    t->metatable = meta;
    Put(meta, Str("__add"), 42);
    const qvValue tv = TableValue(t);
    EXPECT_EQ(VmGetTagMethod(L, &tv, TM_ADD)->value.n, 42);
    EXPECT_EQ(VmGetTagMethod(L, &tv, TM_SUB), &kNilObject);

    qvUserdata* u = VmNewUserdataBlock(L, 8);
    qvValue uv;
    SetUserdata(&uv, u);
    Anchor(L, 1, uv);
    EXPECT_EQ(VmGetTagMethod(L, &uv, TM_ADD), &kNilObject);  // the default metatable
    u->metatable = meta;
    EXPECT_EQ(VmGetTagMethod(L, &uv, TM_ADD)->value.n, 42);

    for (const qvValue& other : {NumberValue(1), Str("__add"), Bool(true), NilValue()}) {
        EXPECT_EQ(VmGetTagMethod(L, &other, TM_ADD), &kNilObject) << Show(other);
    }
}

TEST_F(TableTest, FastLookupCachesAbsentEvents) {
    qvTable* meta = NewTable();
    qvVmGlobalState* g = L->g;
    Put(meta, Str("__eq"), 1);
    ASSERT_EQ(meta->flags, 0);
    EXPECT_EQ(VmFastTagMethod(meta, TM_EQ, g->tmname[TM_EQ])->value.n, 1);
    EXPECT_EQ(meta->flags, 0);
    for (int e : {TM_INDEX, TM_NEWINDEX, TM_MUL}) {
        EXPECT_EQ(VmFastTagMethod(meta, e, g->tmname[e]), nullptr);
        EXPECT_TRUE(meta->flags & (1u << e)) << e;
    }
    // Events past the cache byte are looked up every time and leave it alone.
    const uint8_t flags = meta->flags;
    EXPECT_EQ(VmFastTagMethod(meta, TM_CALL, g->tmname[TM_CALL]), nullptr);
    EXPECT_EQ(meta->flags, flags);
    // A store clears the cache, so a new metamethod is seen.
    Put(meta, Str("__index"), 7);
    EXPECT_EQ(meta->flags, 0);
    EXPECT_EQ(VmFastTagMethod(meta, TM_INDEX, g->tmname[TM_INDEX])->value.n, 7);
}

}  // namespace
}  // namespace qv::testing
