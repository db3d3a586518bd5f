// Small helpers for engine tests that work below the stack interface.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine/internal.h"
#include "platform/linux/memory.h"

namespace qv::testing {

// Runs fn under a protected call; returns the status.
inline int Protected(qvVmState* L, const std::function<void()>& fn) {
    return VmProtectedRun(
        L, [](qvVmState*, void* ud) { (*static_cast<const std::function<void()>*>(ud))(); },
        const_cast<std::function<void()>*>(&fn));
}

inline qvValue StringValue(qvVmState* L, const std::string& text) {
    qvValue v;
    SetString(&v, VmNewString(L, text.data(), text.size()));
    return v;
}

inline qvValue NilValue() {
    qvValue v;
    SetNil(&v);
    return v;
}

inline qvValue NumberValue(double n) {
    qvValue v;
    SetNumber(&v, n);
    return v;
}

inline qvValue TableValue(qvTable* t) {
    qvValue v;
    SetTable(&v, t);
    return v;
}

inline void SetField(qvVmState* L, qvTable* t, const qvValue& key, const qvValue& value) {
    *VmTableSet(L, t, &key) = value;
}

inline void SetField(qvVmState* L, qvTable* t, const std::string& key, const qvValue& value) {
    SetField(L, t, StringValue(L, key), value);
}

inline qvTable* Registry(qvVmState* L) {
    return TableOf(&L->g->registry);
}

// Keeps an object alive by storing it in the registry under a number key.
inline void Anchor(qvVmState* L, double slot, const qvValue& value) {
    SetField(L, Registry(L), NumberValue(slot), value);
}

inline qvCClosure* NativeFunction(qvVmState* L, qvCFunction f) {
    qvCClosure* c = VmNewCClosure(L, 0);
    c->f = f;
    return c;
}

// An engine per test, closed at the end; checks that closing freed every block.
class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore_ = GetMemoryStats().liveBlocks;
        L = VmOpen();
        ASSERT_NE(L, nullptr);
    }
    void TearDown() override {
        if (L != nullptr) VmClose(L);
        EXPECT_EQ(GetMemoryStats().liveBlocks, liveBefore_);
    }
    qvVmState* L = nullptr;

private:
    size_t liveBefore_ = 0;
};

}  // namespace qv::testing
