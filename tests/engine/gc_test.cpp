#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/engine_test_support.h"

namespace qv::testing {
namespace {

// Finalizer calls, in order, identified by the user datum's first byte.
std::vector<int> finalized;

int RecordFinalizer(qvVmState* L) {
    finalized.push_back(*static_cast<unsigned char*>(UserdataOf(L->base)->Data()));
    return 0;
}

int FailingFinalizer(qvVmState* L) {
    RecordFinalizer(L);
    RaiseError(L, ERR_ZERODIVISION);
}

class CollectorTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        finalized.clear();
    }

    qvTable* Metatable(qvCFunction gc) {
        qvTable* mt = VmTableNew(L, 0, 0);
        Anchor(L, 1000 + anchors_++, TableValue(mt));
        qvValue f;
        SetFunction(&f, NativeFunction(L, gc));
        SetField(L, mt, "__gc", f);
        return mt;
    }

    qvUserdata* Userdata(qvTable* mt, unsigned char tag) {
        qvUserdata* u = VmNewUserdataBlock(L, 4);
        u->metatable = mt;
        *static_cast<unsigned char*>(u->Data()) = tag;
        return u;
    }

    qvTable* WeakTable(const char* mode) {
        qvTable* t = VmTableNew(L, 0, 0);
        qvTable* mt = VmTableNew(L, 0, 0);
        SetField(L, mt, "__mode", StringValue(L, mode));
        t->metatable = mt;
        Anchor(L, 2000 + anchors_++, TableValue(t));
        return t;
    }

    int anchors_ = 0;
};

TEST_F(CollectorTest, GlobalsSurviveACollectionRightAfterOpening) {
    VmCollectGarbage(L);
    SetField(L, TableOf(&L->globals), "x", NumberValue(5));
    VmCollectGarbage(L);
    qvString* x = VmNewString(L, "x", 1);
    EXPECT_EQ(VmTableGetStr(TableOf(&L->globals), x)->value.n, 5);
}

TEST_F(CollectorTest, WeakTablesLoseOnlyTheirUnreachableParts) {
    struct Case {
        const char* mode;
        bool keepsTableKey, keepsTableValue;
    } cases[] = {{"k", false, true}, {"v", true, false}, {"kv", false, false}, {"", true, true}};
    for (const Case& c : cases) {
        qvTable* weak = WeakTable(c.mode);
        qvValue tableKey = TableValue(VmTableNew(L, 0, 0));
        SetField(L, weak, tableKey, NumberValue(1));
        SetField(L, weak, NumberValue(2), TableValue(VmTableNew(L, 0, 0)));
        SetField(L, weak, "name", NumberValue(3));
        SetField(L, weak, "text", StringValue(L, "strings are never weak"));
        VmCollectGarbage(L);
        // Presence of the table key is seen by traversal, not lookup (its object is gone).
        int count = 0;
        qvValue keyAndValue[2];
        SetNil(&keyAndValue[0]);
        while (VmTableNext(L, weak, keyAndValue)) ++count;
        EXPECT_EQ(count, 2 + c.keepsTableKey + c.keepsTableValue) << c.mode;
        EXPECT_EQ(VmTableGetNum(weak, 2)->tag, c.keepsTableValue ? VM_TTABLE : VM_TNIL) << c.mode;
    }
}

TEST_F(CollectorTest, FinalizerRunsOnceAtTheEndAndTheNextCollectionFrees) {
    L->g->gcTorture = false;  // counts which collection freed what
    qvTable* mt = Metatable(RecordFinalizer);
    Userdata(mt, 7);
    VmCollectGarbage(L);
    EXPECT_EQ(finalized, std::vector<int>{7});
    size_t afterFirst = L->g->nblocks;
    VmCollectGarbage(L);
    EXPECT_EQ(finalized, std::vector<int>{7});
    EXPECT_LT(L->g->nblocks, afterFirst);
}

TEST_F(CollectorTest, FinalizersRunInCreationListOrder) {
    qvTable* mt = Metatable(RecordFinalizer);
    for (unsigned char i = 1; i <= 3; ++i) Userdata(mt, i);
    VmCollectGarbage(L);
    // New user data go to the head of their list, so the newest is met first.
    EXPECT_EQ(finalized, (std::vector<int>{3, 2, 1}));
}

TEST_F(CollectorTest, FailingFinalizerPropagatesAndLeavesTheRestAwaiting) {
    qvTable* failing = Metatable(FailingFinalizer);
    qvTable* recording = Metatable(RecordFinalizer);
    Userdata(recording, 1);
    Userdata(failing, 2);
    EXPECT_EQ(Protected(L, [&] { VmCollectGarbage(L); }), ERR_ZERODIVISION);
    EXPECT_EQ(finalized, std::vector<int>{2});
    EXPECT_NE(L->g->tmudata, nullptr);
    EXPECT_EQ(L->allowhook, 1);
    VmCollectGarbage(L);
    EXPECT_EQ(finalized, (std::vector<int>{2, 1}));
}

TEST_F(CollectorTest, WeakValuesDropUserdataAwaitingFinalization) {
    qvTable* weak = WeakTable("v");
    qvUserdata* u = Userdata(Metatable(RecordFinalizer), 9);
    qvValue v;
    SetUserdata(&v, u);
    SetField(L, weak, NumberValue(1), v);
    VmCollectGarbage(L);
    EXPECT_EQ(finalized, std::vector<int>{9});
    EXPECT_EQ(VmTableGetNum(weak, 1)->tag, VM_TNIL);
}

TEST(CollectorClose, CloseRunsEveryPendingFinalizerOnceEvenWhenOneFails) {
    size_t before = GetMemoryStats().liveBlocks;
    finalized.clear();
    qvVmState* L = VmOpen();
    auto metatable = [&](qvCFunction f, double slot) {
        qvTable* mt = VmTableNew(L, 0, 0);
        Anchor(L, slot, TableValue(mt));
        qvValue fn;
        SetFunction(&fn, NativeFunction(L, f));
        SetField(L, mt, "__gc", fn);
        return mt;
    };
    qvTable* ok = metatable(RecordFinalizer, 1);
    qvTable* bad = metatable(FailingFinalizer, 2);
    unsigned char tags[] = {1, 2, 3};
    qvTable* kinds[] = {ok, bad, ok};
    for (int i = 0; i < 3; ++i) {
        qvUserdata* u = VmNewUserdataBlock(L, 1);
        u->metatable = kinds[i];
        *static_cast<unsigned char*>(u->Data()) = tags[i];
        qvValue v;
        SetUserdata(&v, u);
        Anchor(L, 10 + i, v);  // reachable: only closing finalizes them
    }
    VmClose(L);
    std::sort(finalized.begin(), finalized.end());
    EXPECT_EQ(finalized, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(GetMemoryStats().liveBlocks, before);
}

TEST_F(CollectorTest, ThresholdZeroCollectsAtOnceAndTheMaximumNever) {
    L->g->gcTorture = false;  // the threshold alone decides here
    Userdata(Metatable(RecordFinalizer), 1);
    VmSetGCThreshold(L, 0);
    EXPECT_EQ(finalized, std::vector<int>{1});

    VmSetGCThreshold(L, 0x400000);
    EXPECT_EQ(L->g->GCthreshold, 0xFFFFFFFFu);
    EXPECT_EQ(VmGetGCThreshold(L), 0x3FFFFF);
    Userdata(Metatable(RecordFinalizer), 2);
    for (int i = 0; i < 1000; ++i) VmCheckGC(L);
    EXPECT_EQ(finalized, std::vector<int>{1});
    VmSetGCThreshold(L, 5);
    EXPECT_EQ(finalized, (std::vector<int>{1, 2}));
    EXPECT_EQ(VmGetGCCount(L), static_cast<int>(L->g->nblocks >> 10));
}

TEST_F(CollectorTest, CollectionShrinksItsTablesAndBuffers) {
    for (int i = 0; i < 2000; ++i) {
        std::string s = "string " + std::to_string(i);
        VmNewString(L, s.data(), s.size());
    }
    uint32_t buckets = L->g->strt.size;
    ASSERT_GE(buckets, 2048u);
    L->g->buff.data = static_cast<char*>(VmRealloc(L, nullptr, 0, 1000));
    L->g->buff.size = 1000;
    VmResizeCallInfo(L, 64);
    VmResizeStack(L, 400);

    VmCollectGarbage(L);
    EXPECT_EQ(L->g->strt.size, buckets / 2);
    EXPECT_EQ(L->g->buff.size, 500u);
    EXPECT_EQ(L->sizeCi, 32);
    EXPECT_EQ(L->stacksize, 200);
    // Small enough now: no further shrinking of the call records below 16 or the stack
    // below 91 slots.
    for (int i = 0; i < 8; ++i) VmCollectGarbage(L);
    EXPECT_EQ(L->sizeCi, 16);
    EXPECT_EQ(L->stacksize, 50);
    EXPECT_EQ(L->g->strt.size, 64u);
    EXPECT_EQ(L->g->buff.size, 62u);
}

TEST_F(CollectorTest, UnreachableClosuresProtosAndUpvaluesAreFreed) {
    size_t before = L->g->nblocks;
    qvLClosure* c = VmNewScriptClosure(L, 1, &L->globals);
    c->proto = VmNewProto(L);
    c->proto->source = VmNewString(L, "=test", 5);
    qv::SetNumber(L->top, 1);
    ++L->top;
    c->Upvalues()[0] = VmFindUpvalue(L, L->top - 1);
    VmCloseUpvalues(L, L->top - 1);
    --L->top;
    VmCollectGarbage(L);
    EXPECT_EQ(L->g->nblocks, before);
}

}  // namespace
}  // namespace qv::testing
