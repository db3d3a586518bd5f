// The object registry, object data, global attributes and the list primitives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/linux/memory.h"
#include "runtime/attributes.h"
#include "runtime/lists.h"
#include "runtime/objects.h"
#include "tests/engine/engine_test_support.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::RuntimeTest;

class Objects : public RuntimeTest {
protected:
    // Two libraries: brushes (type 3) with a script id and an automatic id, sprites (32).
    void SetUp() override {
        RuntimeTest::SetUp();
        brush7_ = {3, 7, nullptr, nullptr, &brushAuto_};
        brushAuto_ = {3, 0, &brushAuto_, nullptr, &brush0_};
        brush0_ = {3, 0, nullptr, nullptr, nullptr};
        sprite7_ = {32, 7, nullptr, nullptr, nullptr};
        brushes_ = &brush7_;
        sprites_ = &sprite7_;
        ASSERT_EQ(RegisterObjectList(&brushes_), 0);
        ASSERT_EQ(RegisterObjectList(&sprites_), 0);
    }

    qvObjectHeader brush7_{}, brushAuto_{}, brush0_{}, sprite7_{};
    qvObjectHeader* brushes_ = nullptr;
    qvObjectHeader* sprites_ = nullptr;
};

TEST_F(Objects, FoundByTypeAndIdPair) {
    EXPECT_EQ(FindObjectByTypeId(3, {7, nullptr}), &brush7_);
    EXPECT_EQ(FindObjectByTypeId(32, {7, nullptr}), &sprite7_);
    EXPECT_EQ(FindObjectByTypeId(3, {0, &brushAuto_}), &brushAuto_);
    EXPECT_EQ(FindObjectByTypeId(3, {0, nullptr}), &brush0_);  // not the automatic one
    EXPECT_EQ(FindObjectByTypeId(3, {8, nullptr}), nullptr);
    EXPECT_EQ(FindObjectByTypeId(4, {7, nullptr}), nullptr);
}

TEST_F(Objects, TypesByHandleAndCounts) {
    EXPECT_EQ(GetObjectTypeOf(&brushAuto_), 3);
    EXPECT_EQ(GetObjectTypeOf(&brush7_), -1);  // a script id has no handle
    EXPECT_EQ(GetObjectTypeOf(nullptr), -1);
    EXPECT_EQ(CountObjectsOfType(3), 3);
    EXPECT_EQ(CountObjectsOfType(32), 1);
    EXPECT_EQ(CountObjectsOfType(4), 0);
}

TEST_F(Objects, RegisteringWithoutMemoryFails) {
    qvObjectHeader* more = nullptr;
    qv::AllocationFault fault(1, false);
    EXPECT_EQ(RegisterObjectList(&more), ERR_MEM);
}

// The value that an object-data entry refers to, as a number.
double ValueOf(qvVmState* L, const qvObjectDataEntry* entry) {
    VmRawGetI(L, VM_REGISTRYINDEX, entry->ref);
    double v = VmToNumber(L, -1);
    VmSetTop(L, -2);
    return v;
}

int SetNumber(qvVmState* L, const char* name, double value, qvObjectDataEntry** list) {
    VmPushNumber(L, value);
    int result = SetObjectDataEntry(L, name, -1, list);
    VmSetTop(L, -2);
    return result;
}

TEST_F(Objects, DataNamesIgnoreLetterCase) {
    qvObjectDataEntry* list = nullptr;
    ASSERT_EQ(SetNumber(L, "Name", 1, &list), 0);
    ASSERT_EQ(SetNumber(L, "NAME", 2, &list), 0);
    ASSERT_EQ(SetNumber(L, "other", 3, &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->name, "Name");
    EXPECT_EQ(ValueOf(L, list), 2);
    EXPECT_EQ(FindObjectDataEntry(list, "nAmE"), list);
    EXPECT_EQ(FindObjectDataEntry(list, "none"), nullptr);
    EXPECT_EQ(ClearObjectDataEntry(L, &list, "NAME"), 1);
    EXPECT_EQ(ClearObjectDataEntry(L, &list, "NAME"), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->name, "other");
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(VmGetTop(L), 0);
    FreeRefList(L, list);
    FreeRefList(L, nullptr);
}

TEST_F(Objects, CopiesReferToTheSameValues) {
    qvObjectDataEntry* list = nullptr;
    for (double v : {1.0, 2.0, 3.0})
        SetNumber(L, ("item" + std::to_string(int(v))).c_str(), v, &list);
    qvObjectDataEntry* copy = nullptr;
    ASSERT_EQ(CopyObjectDataList(L, list, &copy), 0);
    std::vector<double> values;
    for (const qvObjectDataEntry* e = copy; e != nullptr; e = e->next) {
        values.push_back(ValueOf(L, e));
        EXPECT_NE(e->ref, list->ref);
    }
    EXPECT_EQ(values, (std::vector<double>{1, 2, 3}));
    FreeRefList(L, list);
    EXPECT_EQ(ValueOf(L, copy), 1);  // the copy's own reference keeps the value
    FreeRefList(L, copy);
}

TEST_F(Objects, ACopyThatRunsOutOfMemoryLeavesNothing) {
    qvObjectDataEntry* list = nullptr;
    for (const char* name : {"a", "b", "c"}) SetNumber(L, name, 5, &list);
    // One copy first, so that the registry has grown to hold the references; then every
    // allocation of a copy fails once in turn.
    qvObjectDataEntry* warm = nullptr;
    ASSERT_EQ(CopyObjectDataList(L, list, &warm), 0);
    FreeRefList(L, warm);
    for (uint64_t n = 1;; ++n) {
        qv::MemoryStats before = qv::GetMemoryStats();
        qvObjectDataEntry* copy = nullptr;
        int result = -1;
        int status = 0;
        {
            qv::AllocationFault fault(n, false);
            status =
                qv::testing::Protected(L, [&] { result = CopyObjectDataList(L, list, &copy); });
        }
        if (status == 0 && result == 0) {
            FreeRefList(L, copy);
            break;
        }
        EXPECT_TRUE(status == ERR_MEM || result == ERR_MEM) << n;
        EXPECT_EQ(copy, nullptr);
        EXPECT_EQ(VmGetTop(L), 0);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, before.liveBlocks) << n;
    }
    FreeRefList(L, list);
}

// Handlers that take the tags in a range and record what they saw.
std::vector<std::string> seen;

int TakeFiveToNine(qvVmState*, uint32_t tag, int32_t value) {
    seen.push_back("A" + std::to_string(tag) + "=" + std::to_string(value));
    return tag >= 5 && tag <= 9;
}

int TakeAll(qvVmState*, uint32_t tag, int32_t value) {
    seen.push_back("B" + std::to_string(tag) + "=" + std::to_string(value));
    return 1;
}

int AnswerTwice(qvVmState*, uint32_t tag, int32_t* value) {
    *value = static_cast<int32_t>(tag) * 2;
    return 1;
}

class Attributes : public RuntimeTest {};

TEST_F(Attributes, CoreTagsAndTheirDefaults) {
    int32_t timeout = 0, quiet = -1, preloading = -1, nested = -1;
    const qvAttrGet get[] = {{QV_ATTR_EVENTTIMEOUT, &timeout},
                             {QV_ATTR_QUIET, &quiet},
                             {QV_ATTR_PRELOADING, &preloading},
                             {QV_ATTR_NESTEDCALLS, &nested},
                             {QV_ATTR_END, nullptr}};
    EXPECT_EQ(GetGlobalAttrs(L, get), 4);
    EXPECT_EQ(timeout, 1500);
    EXPECT_EQ(quiet, 0);
    EXPECT_EQ(preloading, 0);
    EXPECT_EQ(nested, 0);
    const qvAttrSet set[] = {{QV_ATTR_EVENTTIMEOUT, 250},  {QV_ATTR_QUIET, 1},
                             {QV_ATTR_PRELOADING, 1},      {QV_ATTR_EXITONERROR, 0},
                             {QV_ATTR_REPORTLOCATIONS, 1}, {QV_ATTR_END, 0}};
    EXPECT_EQ(SetGlobalAttrs(L, set), 5);
    GetGlobalAttrs(L, get);
    EXPECT_EQ(timeout, 250);
    EXPECT_EQ(quiet, 1);
    EXPECT_EQ(preloading, 1);
    EXPECT_EQ(qv::Runtime().error.exitOnError, 0u);
    EXPECT_EQ(qv::Runtime().error.reportLocations, 1u);
}

TEST_F(Attributes, TheNestedCounterNeverGoesBelowZero) {
    auto set = [&](int32_t v) {
        const qvAttrSet tags[] = {{QV_ATTR_NESTEDCALLS, v}, {QV_ATTR_END, 0}};
        SetGlobalAttrs(L, tags);
    };
    set(1);
    set(1);
    set(0);
    EXPECT_EQ(qv::Runtime().error.nestedCalls, 1);
    set(0);
    set(0);
    EXPECT_EQ(qv::Runtime().error.nestedCalls, 0);
    set(5);
    EXPECT_EQ(qv::Runtime().error.nestedCalls, 1);
}

TEST_F(Attributes, OtherTagsGoToTheHandlersInOrder) {
    seen.clear();
    ASSERT_EQ(AddSetAttrHandler(TakeFiveToNine), 0);
    ASSERT_EQ(AddSetAttrHandler(TakeAll), 0);
    ASSERT_EQ(AddGetAttrHandler(AnswerTwice), 0);
    const qvAttrSet set[] = {{5, 50}, {13, 1}, {QV_ATTR_QUIET, 1}, {QV_ATTR_END, 0}};
    EXPECT_EQ(SetGlobalAttrs(L, set), 3);
    EXPECT_EQ(seen, (std::vector<std::string>{"A5=50", "A13=1", "B13=1"}));
    int32_t mask = 0, exitOnError = 0;
    const qvAttrGet get[] = {
        {5, &mask}, {QV_ATTR_EXITONERROR, &exitOnError}, {QV_ATTR_END, nullptr}};
    EXPECT_EQ(GetGlobalAttrs(L, get), 2);
    EXPECT_EQ(mask, 10);
    EXPECT_EQ(exitOnError, 24);  // set only: the handlers answer it
}

TEST_F(Attributes, UntakenTagsAreIgnored) {
    int32_t value = 77;
    const qvAttrGet get[] = {{99, &value}, {QV_ATTR_END, nullptr}};
    EXPECT_EQ(GetGlobalAttrs(L, get), 1);
    EXPECT_EQ(value, 77);
    qv::AllocationFault fault(1, false);
    EXPECT_EQ(AddSetAttrHandler(TakeAll), ERR_MEM);
}

struct Item {
    qvListNode node;
    char name;
};

std::string Names(qvList* list) {
    std::string out;
    for (qvListNode* n = list->head; n->succ != nullptr; n = n->succ) {
        out += reinterpret_cast<Item*>(n)->name;
    }
    std::string back;
    for (qvListNode* n = list->tailPred; n->pred != nullptr; n = n->pred) {
        back.insert(back.begin(), reinterpret_cast<Item*>(n)->name);
    }
    EXPECT_EQ(out, back) << "links disagree";
    return out;
}

TEST(Lists, PrimitivesKeepBothDirectionsLinked) {
    qvList list;
    NewList(&list);
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(RemHead(&list), nullptr);
    EXPECT_EQ(list.tail, nullptr);
    Item a{{}, 'a'}, b{{}, 'b'}, c{{}, 'c'}, d{{}, 'd'}, e{{}, 'e'};
    AddTail(&list, &b.node);
    AddHead(&list, &a.node);
    AddTail(&list, &d.node);
    EXPECT_EQ(Names(&list), "abd");
    InsertNode(&list, &c.node, &b.node);
    InsertNode(&list, &e.node, &d.node);  // after the last: the new tail
    EXPECT_EQ(Names(&list), "abcde");
    RemoveNode(&c.node);
    EXPECT_EQ(Names(&list), "abde");
    InsertNode(&list, &c.node, nullptr);
    EXPECT_EQ(Names(&list), "cabde");
    for (char expected : std::string("cabde")) {
        qvListNode* n = RemHead(&list);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(reinterpret_cast<Item*>(n)->name, expected);
    }
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(list.tail, nullptr);
}

}  // namespace
