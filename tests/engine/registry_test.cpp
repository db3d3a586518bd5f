// Registration of commands and constants, the registry services, references, array sizes
// and the string buffer; and registration and commands under allocation failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/linux/memory.h"
#include "tests/engine/api_test_support.h"

namespace {

using qv::testing::CallGlobal;
using qv::testing::EngineTest;
using qv::testing::StringAt;

class Registration : public EngineTest {};

int PushUpvalueSum(qvVmState* L) {
    VmPushNumber(L, VmToNumber(L, VmUpvalueIndex(1)) + VmToNumber(L, VmUpvalueIndex(2)));
    return 1;
}

const qvCommandEntry kBrushCommands[] = {
    {"LoadBrush", PushUpvalueSum}, {"FreeBrush", PushUpvalueSum}, {nullptr, nullptr}};

TEST_F(Registration, LibrariesStoreLowerCasedCommandsWithSharedUpvalues) {
    VmPushNumber(L, 1);
    VmPushNumber(L, 2);
    RegisterLibrary(L, "brush", kBrushCommands, 2);
    ASSERT_EQ(VmGetTop(L), 1);  // the library table stays, the upvalues are gone
    EXPECT_EQ(VmType(L, 1), VM_TTABLE);
    VmPushString(L, "loadbrush");
    VmGetTable(L, 1);
    VmCall(L, 0, 1);
    EXPECT_EQ(VmToNumber(L, -1), 3);
    VmPushString(L, "LoadBrush");
    VmRawGet(L, 1);
    EXPECT_EQ(VmType(L, -1), VM_TNIL);
    // A second registration under the same name fills the same global table.
    const qvCommandEntry more[] = {{"ShowBrush", PushUpvalueSum}, {nullptr, nullptr}};
    RegisterLibrary(L, "brush", more, 0);
    EXPECT_EQ(VmRawEqual(L, 1, -1), 1);
    // Without a name the commands go into the table the caller pushed, which stays.
    VmSetTop(L, 0);
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kBrushCommands, 0);
    EXPECT_EQ(VmGetTop(L), 1);
    EXPECT_EQ(CallGlobal(L, "freebrush", 0, 1), 0);
    EXPECT_EQ(VmToNumber(L, -1), 0);  // no upvalues: nil + nil
}

TEST_F(Registration, ConstantsAreFoundWhateverTheCase) {
    const qvConstant rows[] = {
        {"ERR_MEM", nullptr, 1000}, {"Version", "5.3", 0}, {nullptr, nullptr, 0}};
    const qvConstant userRows[] = {{"PLUGIN_X", nullptr, 7}, {nullptr, nullptr, 0}};
    RegisterConstants(L, rows, 0);
    RegisterConstants(L, userRows, 1);
    EXPECT_EQ(VmGetTop(L), 0);
    for (const char* name : {"err_mem", "ERR_MEM", "Err_Mem"}) {
        const char* s = "unset";
        double n = 0;
        EXPECT_EQ(LookupConstant(L, name, &s, &n), 1) << name;
        EXPECT_EQ(s, nullptr);
        EXPECT_EQ(n, 1000);
    }
    const char* s = nullptr;
    double n = 0;
    EXPECT_EQ(LookupConstant(L, "VERSION", &s, &n), 1);
    EXPECT_STREQ(s, "5.3");
    EXPECT_EQ(LookupConstant(L, "plugin_x", &s, &n), 1);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(LookupConstantIn(L, "plugin_x", &s, &n, "constants"), 0);
    EXPECT_EQ(LookupConstantIn(L, "err_mem", nullptr, nullptr, "nosuchtable"), 0);
    EXPECT_EQ(LookupConstant(L, "missing", &s, &n), 0);
    EXPECT_EQ(VmGetTop(L), 0);
}

TEST_F(Registration, LabelsAndLabelReferences) {
    EXPECT_EQ(LookupLabel(L, "start"), -1);
    DefineLabel(L, "Start", 0);
    DefineLabel(L, "Loop", 17);
    EXPECT_EQ(LookupLabel(L, "START"), 0);
    EXPECT_EQ(LookupLabel(L, "loop"), 17);
    EXPECT_EQ(LookupLabel(L, "other"), -1);
    EXPECT_EQ(AddLabelRef(L, "Start", 4), 0);
    EXPECT_EQ(AddLabelRef(L, "Loop", 9), 1);
    EXPECT_EQ(VmGetTop(L), 0);
    VmPushString(L, "labelrefs");
    VmRawGet(L, VM_REGISTRYINDEX);
    VmRawGetI(L, 1, 1);
    VmPushString(L, "name");
    VmRawGet(L, -2);
    EXPECT_EQ(StringAt(L, -1), "loop");
}

TEST_F(Registration, NamedMetatablesAndRegistryValues) {
    EXPECT_EQ(NewRegistryMetatable(L, "qvfile"), 1);
    EXPECT_EQ(NewRegistryMetatable(L, "qvfile"), 0);
    EXPECT_EQ(VmRawEqual(L, 1, 2), 1);
    VmPushValue(L, 1);
    VmRawGet(L, VM_REGISTRYINDEX);
    EXPECT_EQ(StringAt(L, -1), "qvfile");
    VmSetTop(L, 0);
    void* block = VmNewUserdata(L, 8);
    EXPECT_EQ(CheckUserdataType(L, 1, "qvfile"), nullptr);
    GetRegistryMetatable(L, "qvfile");
    VmSetMetatable(L, 1);
    EXPECT_EQ(CheckUserdataType(L, 1, "qvfile"), block);
    EXPECT_EQ(CheckUserdataType(L, 1, "other"), nullptr);
    EXPECT_EQ(VmGetTop(L), 1);

    int local = 0;
    SetRegistryNumber(L, "count", 3);
    SetRegistryString(L, "script", ":none:");
    SetRegistryPointer(L, "self", &local);
    EXPECT_EQ(GetRegistryNumber(L, "count"), 3);
    EXPECT_EQ(GetRegistryNumber(L, "absent"), 0);
    EXPECT_STREQ(GetRegistryString(L, "script"), ":none:");
    EXPECT_STREQ(GetRegistryString(L, "count"), "3");
    EXPECT_EQ(GetRegistryString(L, "absent"), nullptr);
    EXPECT_EQ(GetRegistryPointer(L, "self"), &local);
    EXPECT_EQ(GetRegistryPointer(L, "count"), nullptr);
    VmCollectGarbage(L);  // the converted text lives in the registry
    EXPECT_STREQ(GetRegistryString(L, "count"), "3");
    EXPECT_EQ(VmGetTop(L), 1);
}

int DescribeSelf(qvVmState* L) {
    VmPushString(L, VmType(L, 1) == VM_TTABLE ? "a table" : "?");
    return 1;
}

TEST_F(Registration, MetafieldsAndMetamethodCalls) {
    VmNewTable(L);
    EXPECT_EQ(CallMetafield(L, 1, "__tostring"), 0);
    VmNewTable(L);
    VmPushString(L, "__tostring");
    VmPushCClosure(L, DescribeSelf, 0);
    VmRawSet(L, -3);
    VmSetMetatable(L, 1);
    EXPECT_EQ(CallMetafield(L, 1, "__tostring"), 1);
    EXPECT_EQ(VmType(L, -1), VM_TFUNCTION);
    VmSetTop(L, 1);
    EXPECT_EQ(CallMetamethodOn(L, -1, "__tostring"), 1);
    EXPECT_EQ(StringAt(L, -1), "a table");
    VmPushNumber(L, 1);
    EXPECT_EQ(CallMetamethodOn(L, -1, "__tostring"), 0);
    EXPECT_EQ(VmGetTop(L), 3);
}

class References : public EngineTest {};

TEST_F(References, AreReusedAndNeverTouchTheReservedSlots) {
    VmNewTable(L);
    for (int expected : {3, 4, 5}) {
        VmPushNumber(L, expected * 10);
        EXPECT_EQ(MakeRef(L, 1), expected);
    }
    FreeRef(L, 1, 4);
    VmPushString(L, "again");
    EXPECT_EQ(MakeRef(L, 1), 4);
    VmRawGetI(L, 1, 4);
    EXPECT_EQ(StringAt(L, -1), "again");
    VmSetTop(L, 1);
    VmPushNil(L);
    EXPECT_EQ(MakeRef(L, 1), -1);
    EXPECT_EQ(VmGetTop(L), 1);
    // Refs below 3 were never handed out: freeing them changes nothing.
    for (int ref : {-1, 0, 1, 2}) FreeRef(L, 1, ref);
    VmPushNumber(L, 1);
    EXPECT_EQ(MakeRef(L, 1), 6);
    // In the registry, ref 2 would have overwritten the size table.
    GetSizeTable(L);
    FreeRef(L, VM_REGISTRYINDEX, 2);
    VmRawGetI(L, VM_REGISTRYINDEX, 2);
    EXPECT_EQ(VmRawEqual(L, -1, -2), 1);
    VmPushString(L, "handler");
    int ref = MakeRef(L, VM_REGISTRYINDEX);
    EXPECT_GE(ref, 3);
    VmRawGetI(L, VM_REGISTRYINDEX, ref);
    EXPECT_EQ(StringAt(L, -1), "handler");
}

TEST_F(References, TableSizesLiveInFieldNOrInTheWeakSizeTable) {
    VmNewTable(L);  // 1: a plain table
    EXPECT_EQ(GetTableSize(L, 1), 0);
    SetTableSize(L, 1, 5);
    VmPushString(L, "n");
    VmRawGet(L, 1);
    EXPECT_EQ(VmToNumber(L, -1), 5);
    VmSetTop(L, 1);
    EXPECT_EQ(GetTableSize(L, -1), 5);

    VmNewTable(L);  // 2: "n" is taken by something else
    VmPushString(L, "n");
    VmPushString(L, "name");
    VmRawSet(L, 2);
    for (int i = 1; i <= 3; ++i) {
        VmPushNumber(L, i);
        VmRawSetI(L, 2, i);
    }
    EXPECT_EQ(GetTableSize(L, 2), 0);  // no entry in the size table counts as 0
    SetTableSize(L, 2, 7);
    EXPECT_EQ(GetTableSize(L, 2), 7);
    VmPushString(L, "n");
    VmRawGet(L, 2);
    EXPECT_EQ(StringAt(L, -1), "name");
    VmSetTop(L, 2);
    SetTableSize(L, 2, -1);  // a negative size asks for counting
    EXPECT_EQ(GetTableSize(L, 2), 3);
    EXPECT_EQ(VmGetTop(L), 2);

    GetSizeTable(L);
    EXPECT_EQ(VmGetMetatable(L, -1), 1);
    VmPushString(L, "__mode");
    VmRawGet(L, -2);
    EXPECT_EQ(StringAt(L, -1), "k");
}

TEST_F(References, SizeTableForgetsCollectedTables) {
    VmNewTable(L);
    VmPushString(L, "n");
    VmPushBoolean(L, 1);
    VmRawSet(L, 1);
    SetTableSize(L, 1, 4);
    VmSetTop(L, 0);
    VmCollectGarbage(L);
    GetSizeTable(L);
    VmPushNil(L);
    EXPECT_EQ(VmNext(L, 1), 0);
}

class StringBuffer : public EngineTest {};

TEST_F(StringBuffer, SmallAndExactlyFullBuffersGiveOneString) {
    for (size_t size : {0ul, 5ul, 1024ul, 1025ul, 3000ul}) {
        SCOPED_TRACE(size);
        VmSetTop(L, 0);
        std::string expected;
        StrBuf b;
        StrBufInit(L, &b);
        for (size_t i = 0; i < size; ++i) {
            char c = static_cast<char>('a' + i % 26);
            expected += c;
            StrBufAddLString(&b, &c, 1);
        }
        StrBufPushResult(&b);
        ASSERT_EQ(VmGetTop(L), 1);
        EXPECT_EQ(StringAt(L, 1), expected);
    }
}

TEST_F(StringBuffer, LongInputInOddPiecesKeepsFewPiecesOnTheStack) {
    VmPushString(L, "below");
    std::string expected;
    StrBuf b;
    StrBufInit(L, &b);
    const size_t sizes[] = {1, 7, 333, 1023, 1025, 4097, 2, 600};
    int maxPieces = 0;
    for (size_t i = 0; expected.size() < 100000; ++i) {
        std::string piece(sizes[i % 8], static_cast<char>('A' + i % 26));
        expected += piece;
        if (i % 3 == 0) {
            VmPushLString(L, piece.data(), piece.size());
            StrBufAddValue(&b);
        } else if (i % 3 == 1) {
            StrBufAddLString(&b, piece.data(), piece.size());
        } else {
            // Written straight into the inline space, then added.
            size_t n = std::min<size_t>(piece.size(), kStrBufSize);
            char* p = StrBufPrepare(&b);
            std::copy_n(piece.data(), n, p);
            StrBufAddLString(&b, p, n);
            expected.resize(expected.size() - piece.size() + n);
        }
        maxPieces = std::max(maxPieces, VmGetTop(L) - 1);
        ASSERT_EQ(b.level, VmGetTop(L) - 1);
    }
    StrBufPushResult(&b);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(StringAt(L, 1), "below");
    EXPECT_EQ(StringAt(L, 2), expected);
    EXPECT_LE(maxPieces, 11);
}

// --- Allocation failure ---

int MakeRecord(qvVmState* L) {
    VmNewTable(L);
    VmPushString(L, "name");
    VmPushFString(L, "%s #%d", GetArgString(L, 1, nullptr), static_cast<int>(GetArgNumber(L, 2)));
    VmSetTable(L, -3);
    return 1;
}

int JoinArguments(qvVmState* L) {
    StrBuf b;
    StrBufInit(L, &b);
    for (int i = 1, n = VmGetTop(L); i <= n; ++i) {
        VmPushValue(L, i);
        StrBufAddValue(&b);
    }
    StrBufPushResult(&b);
    return 1;
}

const qvCommandEntry kRecordCommands[] = {
    {"MakeRecord", MakeRecord}, {"JoinArguments", JoinArguments}, {nullptr, nullptr}};
const qvConstant kRecordConstants[] = {{"#RECORD_KIND", nullptr, 4}, {nullptr, nullptr, 0}};

// Registers a library and its constants, then calls both commands.
int RegisterAndUse(qvVmState* L) {
    RegisterLibrary(L, "records", kRecordCommands, 0);
    const int lib = VmGetTop(L);
    RegisterConstants(L, kRecordConstants, 0);
    VmPushString(L, "makerecord");
    VmGetTable(L, lib);
    VmPushString(L, "brush");
    VmPushNumber(L, 3);
    VmCall(L, 2, 1);
    VmPushString(L, "name");
    VmGetTable(L, -2);
    VmPushString(L, "joinarguments");
    VmGetTable(L, lib);
    VmPushValue(L, -2);
    VmPushNumber(L, 1.5);
    VmPushString(L, std::string(1500, 'x').c_str());
    VmCall(L, 3, 1);
    return 1;
}

const std::string kExpectedResult = "brush #31.5" + std::string(1500, 'x');

TEST(AllocationFailure, RegisteringAndCallingFailsCleanlyAtEveryAllocation) {
    bool reachedTheEnd = false;
    for (uint64_t n = 1; !reachedTheEnd; ++n) {
        SCOPED_TRACE(n);
        size_t liveBefore = qv::GetMemoryStats().liveBlocks;
        qvVmState* L = VmOpen();
        ASSERT_NE(L, nullptr);
        int status;
        {
            qv::AllocationFault fault(n, false);
            status = VmCPCall(L, RegisterAndUse, nullptr);
            reachedTheEnd = qv::AllocationRequestsSinceArm() < n;
        }
        // A failure inside the collector's shrinking is ignored, so some hits succeed.
        EXPECT_TRUE(status == 0 || status == ERR_MEM) << status;
        if (reachedTheEnd) {
            EXPECT_EQ(status, 0);
        }
        EXPECT_EQ(VmGetTop(L), 0);
        // The engine is still usable: the whole work succeeds now.
        VmPushCClosure(L, RegisterAndUse, 0);
        ASSERT_EQ(VmPCall(L, 0, 1, 0), 0);
        EXPECT_EQ(StringAt(L, -1), kExpectedResult);
        VmClose(L);
        EXPECT_EQ(qv::GetMemoryStats().liveBlocks, liveBefore);
        ASSERT_LT(n, 5000u);
    }
}

}  // namespace
