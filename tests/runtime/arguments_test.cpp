// Argument and option-table services, each used the way commands use it: inside a tiny
// command called through the engine's protected call, so that raised errors come back as
// the call's status with the message argument stored.
#include "runtime/arguments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/linux/memory.h"
#include "runtime/messages.h"
#include "runtime/option_tables.h"
#include "runtime/runtime_state.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using Push = std::function<void(qvVmState*)>;

Push Num(double n) {
    return [n](qvVmState* L) { VmPushNumber(L, n); };
}
Push Str(std::string s) {
    return [s](qvVmState* L) { VmPushLString(L, s.data(), s.size()); };
}
Push Nil() {
    return [](qvVmState* L) { VmPushNil(L); };
}
Push Bool(bool b) {
    return [b](qvVmState* L) { VmPushBoolean(L, b); };
}
Push Ptr(void* p) {
    return [p](qvVmState* L) { VmPushLightUserdata(L, p); };
}
// A table with the given fields ({key, value}); integer keys come as numbers.
Push Table(std::vector<std::pair<Push, Push>> fields) {
    return [fields](qvVmState* L) {
        VmNewTable(L);
        for (const auto& [key, value] : fields) {
            key(L);
            value(L);
            VmRawSet(L, -3);
        }
    };
}
Push Field(const char* name, Push value) {
    return Table({{Str(name), std::move(value)}});
}
Push Array(std::vector<Push> items) {
    std::vector<std::pair<Push, Push>> fields;
    for (size_t i = 0; i < items.size(); ++i) fields.push_back({Num(double(i)), items[i]});
    return Table(fields);
}

// What the commands under test saw; reset before every call.
struct Seen {
    double number = 0;
    int32_t integer = 0;
    uint32_t bits = 0;
    int flag = -1;
    int present = -1;
    int found = 0;
    qvObjectId id{99, nullptr};
    double vector[4] = {};
    std::string text;
    int count = -1;
    qvObjectId ids[4] = {};
};
Seen seen;

class Arguments : public qv::testing::RuntimeTest {
protected:
    void TearDown() override {
        qv::SetLayerNameLookup(nullptr);
        RuntimeTest::TearDown();
    }

    // Calls f with the arguments (and upvalues) under protection; the status of the call.
    int Call(qvCFunction f, const std::vector<Push>& args, const std::vector<Push>& upvalues = {}) {
        seen = Seen{};
        for (const Push& p : upvalues) p(L);
        VmPushCClosure(L, f, static_cast<int>(upvalues.size()));
        for (const Push& p : args) p(L);
        int status = VmPCall(L, static_cast<int>(args.size()), 0, 0);
        VmSetTop(L, 0);
        return status;
    }
    std::string ErrorText() const { return qv::Runtime().error.text; }
    uint32_t ErrorNumber() const { return qv::Runtime().error.number; }
};

double Up(qvVmState* L, int n) {
    return VmToNumber(L, VmUpvalueIndex(n));
}

TEST_F(Arguments, CheckArgCount) {
    auto check = [](qvVmState* L) {
        CheckArgCount(L, static_cast<int>(Up(L, 1)), static_cast<int>(Up(L, 2)));
        return 0;
    };
    struct Case {
        int min, max, count, status;
    };
    const Case cases[] = {
        {1, 0, 0, ERR_MISSINGPARAMTR},
        {1, 0, 1, 0},
        {1, 0, 7, 0},  // no upper limit
        {0, 0, 0, 0},
        {0, 0, 1, ERR_TOOMANYARGS},  // none allowed
        {2, 3, 1, ERR_MISSINGPARAMTR},
        {2, 3, 3, 0},
        {2, 3, 4, ERR_TOOMANYARGS},
        {0, 1, 2, ERR_TOOMANYARGS},
        {0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<Push> args(c.count, Num(1));
        EXPECT_EQ(Call(check, args, {Num(c.min), Num(c.max)}), c.status)
            << c.min << "," << c.max << " with " << c.count;
    }
}

TEST_F(Arguments, GetOptIntArg) {
    auto cmd = [](qvVmState* L) {
        seen.integer = GetOptIntArg(L, 2, &seen.flag);
        return 0;
    };
    struct Case {
        Push value;
        int32_t integer;
        int wasNil;
    };
    const Case cases[] = {
        {Num(3.9), 3, 0},          {Num(-3.9), -3, 0}, {Num(NAN), INT32_MIN, 0},
        {Num(1e12), INT32_MAX, 0}, {Str("12"), 12, 0}, {Nil(), 0, 1},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call(cmd, {Nil(), c.value}), 0);
        EXPECT_EQ(seen.integer, c.integer);
        EXPECT_EQ(seen.flag, c.wasNil);
    }
    ASSERT_EQ(Call(cmd, {Nil()}), 0);  // absent
    EXPECT_EQ(seen.flag, 1);
    EXPECT_EQ(Call(cmd, {Nil(), Table({})}), ERR_NUMEXPECTED);
    EXPECT_EQ(ErrorNumber(), 2u);
}

TEST_F(Arguments, GetObjectIdArg) {
    auto cmd = [](qvVmState* L) {
        seen.id = GetObjectIdArg(L, 1);
        return 0;
    };
    int record;
    ASSERT_EQ(Call(cmd, {Ptr(&record)}), 0);
    EXPECT_EQ(seen.id.number, 0u);
    EXPECT_EQ(seen.id.handle, &record);
    ASSERT_EQ(Call(cmd, {Num(5)}), 0);
    EXPECT_EQ(seen.id.number, 5u);
    EXPECT_EQ(seen.id.handle, nullptr);
    ASSERT_EQ(Call(cmd, {Nil()}), 0);
    EXPECT_EQ(seen.id.number, 0u);
    EXPECT_EQ(Call(cmd, {Str("x")}), ERR_NUMEXPECTED);
}

TEST_F(Arguments, GetNumberOrPercentArg) {
    auto cmd = [](qvVmState* L) {
        seen.number = GetNumberOrPercentArg(L, 2, Up(L, 1), static_cast<int>(Up(L, 2)), &seen.flag);
        return 0;
    };
    struct Case {
        Push value;
        double base;
        int allowOver100;
        int status;
        double result;
        int isFraction;
    };
    const Case cases[] = {
        {Num(7), 640, 0, 0, 7, 0},
        {Nil(), 640, 0, 0, 0, 0},
        {Str("50%"), 640, 0, 0, 320, 0},
        {Str("12.5%"), 200, 0, 0, 25, 0},
        {Str("150%"), 640, 0, ERR_PERCENTFORMAT, 0, 0},
        {Str("150%"), 640, 1, 0, 960, 0},
        {Str("-5%"), 640, 1, ERR_PERCENTFORMAT, 0, 0},
        {Str("abc"), 640, 0, ERR_PERCENTFORMAT, 0, 0},
        {Str("%"), 640, 0, ERR_PERCENTFORMAT, 0, 0},
        {Str("-5"), 640, 0, 0, -5, 0},
        {Str("12"), 640, 0, 0, 12, 0},
        {Str("50%"), 0, 0, 0, 0.5, 1},
        {Table({}), 640, 0, ERR_STRORNUM, 0, 0},
        {Bool(true), 640, 0, ERR_STRORNUM, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call(cmd, {Nil(), c.value}, {Num(c.base), Num(c.allowOver100)}), c.status);
        if (c.status != 0) {
            EXPECT_EQ(ErrorNumber(), 2u);  // the argument is named
            continue;
        }
        EXPECT_EQ(seen.number, c.result);
        EXPECT_EQ(seen.flag, c.isFraction);
    }
}

TEST_F(Arguments, GetConstantValue) {
    static const qvConstant kConstants[] = {{"ERR_MEM", nullptr, 1000},
                                            {"GREETING", "hello", 0},
                                            {"A$B!_9", nullptr, 7},
                                            {nullptr, nullptr, 0}};
    RegisterConstants(L, kConstants, 0);
    auto cmd = [](qvVmState* L) {
        const char* string = nullptr;
        int code =
            GetConstantValue(L, GetArgString(L, 1, nullptr), &seen.integer, &string, &seen.number);
        seen.text = string != nullptr ? string : "<number>";
        return code;
    };
    struct Case {
        const char* text;
        int status;
        int length;
        double number;
        const char* string;
    };
    const Case cases[] = {
        {"#ERR_MEM", 0, 8, 1000, "<number>"},
        {"#err_mem+1", 0, 8, 1000, "<number>"},
        {"#GREETING ", 0, 9, 0, "hello"},
        {"#GREETING!", ERR_FINDCST, 0, 0, ""},  // "!" belongs to names
        {"#a$b!_9)", 0, 7, 7, "<number>"},
        {"#1x", ERR_SYNTAXERROR, 0, 0, ""},
        {"#", ERR_SYNTAXERROR, 0, 0, ""},
        {"ERR_MEM", ERR_WRONGUSAGE, 0, 0, ""},
        {"#NOSUCH", ERR_FINDCST, 0, 0, ""},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Call(cmd, {Str(c.text)}), c.status) << c.text;
        if (c.status != 0) continue;
        EXPECT_EQ(seen.integer, c.length) << c.text;
        EXPECT_EQ(seen.number, c.number) << c.text;
        EXPECT_EQ(seen.text, c.string) << c.text;
    }
    // Names end after 64 characters.
    std::string name = "#" + std::string(70, 'Q');
    EXPECT_EQ(Call(cmd, {Str(name)}), ERR_FINDCST);
}

// Field readers: the value, "absent" for nil, and the error with the field name stored.
TEST_F(Arguments, ScalarFieldReaders) {
    using Reader = qvCFunction;
    Reader number = [](qvVmState* L) {
        seen.present = GetTableFieldNumber(L, 1, "f", &seen.number, &seen.found);
        return 0;
    };
    Reader integer = [](qvVmState* L) {
        seen.present = GetTableFieldInt(L, 1, "f", &seen.integer, &seen.found);
        seen.number = seen.integer;
        return 0;
    };
    Reader boolean = [](qvVmState* L) {
        seen.present = GetTableFieldBool(L, 1, "f", &seen.bits, &seen.found);
        seen.number = seen.bits;
        return 0;
    };
    Reader text = [](qvVmState* L) {
        char buffer[4] = "";
        seen.present = GetTableFieldString(L, 1, "f", buffer, sizeof buffer, &seen.found);
        seen.text = buffer;
        return 0;
    };
    struct Case {
        Reader reader;
        Push value;
        int status;
        double number;
        const char* string;
    };
    const Case cases[] = {
        {number, Num(2.5), 0, 2.5, ""},
        {number, Str("7"), 0, 7, ""},
        {number, Str("x"), ERR_NUMTABLEARG, 0, ""},
        {integer, Num(-2.7), 0, -2, ""},
        {integer, Num(NAN), 0, INT32_MIN, ""},
        {integer, Table({}), ERR_NUMTABLEARG, 0, ""},
        {boolean, Bool(true), 0, 1, ""},
        {boolean, Bool(false), 0, 0, ""},
        {boolean, Num(-1), 0, 4294967295.0, ""},
        {boolean, Str("yes"), ERR_NUMTABLEARG, 0, ""},
        {text, Str("abc"), 0, 0, "abc"},
        {text, Num(12), 0, 0, "12"},
        {text, Str("abcd"), ERR_NAMETOOLONG, 0, ""},
        {text, Table({}), ERR_STRTABLEARG, 0, ""},
    };
    for (const Case& c : cases) {
        qv::Runtime().error.text[0] = '\0';
        ASSERT_EQ(Call(c.reader, {Field("f", c.value)}), c.status);
        if (c.status == ERR_NUMTABLEARG || c.status == ERR_STRTABLEARG) {
            EXPECT_EQ(ErrorText(), "f");
        }
        if (c.status != 0) continue;
        EXPECT_EQ(seen.present, 1);
        EXPECT_EQ(seen.found, 1);
        EXPECT_EQ(seen.number, c.number);
        EXPECT_EQ(seen.text, c.string);
    }
    for (Reader reader : {number, integer, boolean, text}) {
        ASSERT_EQ(Call(reader, {Field("f", Nil())}), 0);
        EXPECT_EQ(seen.present, 0);
        EXPECT_EQ(seen.found, 0);
    }
}

TEST_F(Arguments, ReadersLeaveTheStackAndTakeRelativeIndices) {
    auto cmd = [](qvVmState* L) {
        VmPushNumber(L, 1);  // the table is now at -2
        int top = VmGetTop(L);
        GetTableFieldNumber(L, -2, "f", &seen.number, nullptr);
        GetTableFieldNumber(L, -2, "missing", &seen.number, nullptr);
        seen.flag = VmGetTop(L) == top ? 1 : 0;
        return 0;
    };
    ASSERT_EQ(Call(cmd, {Field("f", Num(4))}), 0);
    EXPECT_EQ(seen.number, 4);
    EXPECT_EQ(seen.flag, 1);
}

TEST_F(Arguments, IdAndPercentFields) {
    auto id = [](qvVmState* L) {
        seen.present = GetTableFieldId(L, 1, "id", &seen.id, nullptr);
        return 0;
    };
    int record;
    ASSERT_EQ(Call(id, {Field("id", Ptr(&record))}), 0);
    EXPECT_EQ(seen.id.handle, &record);
    ASSERT_EQ(Call(id, {Field("id", Num(12))}), 0);
    EXPECT_EQ(seen.id.number, 12u);
    EXPECT_EQ(Call(id, {Field("id", Str("x"))}), ERR_NUMTABLEARG);
    EXPECT_EQ(ErrorText(), "id");

    auto percent = [](qvVmState* L) {
        seen.present =
            GetTableFieldPercent(L, 2, "level", 255, 0, &seen.number, &seen.flag, nullptr);
        return 0;
    };
    ASSERT_EQ(Call(percent, {Nil(), Field("level", Str("20%"))}), 0);
    EXPECT_EQ(seen.number, 51);
    EXPECT_EQ(Call(percent, {Nil(), Field("level", Str("101%"))}), ERR_PERCENTFORMAT);
    EXPECT_EQ(ErrorNumber(), 2u);  // the option table's argument
}

TEST_F(Arguments, VectorFields) {
    auto cmd = [](qvVmState* L) {
        seen.present = GetTableFieldVector3(L, 1, "v", seen.vector, &seen.found);
        return 0;
    };
    ASSERT_EQ(Call(cmd, {Field("v", Array({Num(1), Num(2), Num(3), Num(4)}))}), 0);
    EXPECT_EQ(std::vector<double>(seen.vector, seen.vector + 4), (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(Call(cmd, {Field("v", Array({Num(1), Num(2), Num(3)}))}), ERR_MISSINGPARAMTR);
    EXPECT_EQ(Call(cmd, {Field("v", Array({Num(1), Str("x"), Num(3), Num(4)}))}), ERR_NUMTABLEARG);
    EXPECT_EQ(ErrorText(), "v");
    EXPECT_EQ(Call(cmd, {Field("v", Num(1))}), ERR_TABEXPECTED);
    EXPECT_EQ(ErrorNumber(), 1u);
}

TEST_F(Arguments, LayerFields) {
    auto cmd = [](qvVmState* L) {
        seen.present = GetTableFieldLayer(L, 1, "layer", &seen.integer, nullptr);
        return 0;
    };
    ASSERT_EQ(Call(cmd, {Field("layer", Num(3))}), 0);
    EXPECT_EQ(seen.integer, 3);
    EXPECT_EQ(Call(cmd, {Field("layer", Str("sky"))}), ERR_FINDLAYER);
    EXPECT_EQ(ErrorText(), "sky");
    EXPECT_EQ(Call(cmd, {Field("layer", Bool(true))}), ERR_WRONGUSAGE);
    qv::SetLayerNameLookup([](qvVmState*, const char* name, int32_t* layer) {
        *layer = 4;
        return std::strcmp(name, "sky") == 0 ? 1 : 0;
    });
    ASSERT_EQ(Call(cmd, {Field("layer", Str("sky"))}), 0);
    EXPECT_EQ(seen.integer, 4);
    EXPECT_EQ(Call(cmd, {Field("layer", Str("sea"))}), ERR_FINDLAYER);
}

TEST_F(Arguments, IdListFields) {
    auto cmd = [](qvVmState* L) {
        GetTableFieldIdList(L, 1, "anim", seen.ids, static_cast<int>(Up(L, 1)), &seen.count);
        return 0;
    };
    int record;
    Push images = Field("images", Array({Num(3), Num(4), Ptr(&record)}));
    ASSERT_EQ(Call(cmd, {images}, {Num(4)}), 0);
    EXPECT_EQ(seen.count, 3);
    EXPECT_EQ(seen.ids[0].number, 3u);
    EXPECT_EQ(seen.ids[1].number, 4u);
    EXPECT_EQ(seen.ids[2].handle, &record);
    ASSERT_EQ(Call(cmd, {images}, {Num(1)}), 0);  // counts all, stores what fits
    EXPECT_EQ(seen.count, 3);
    EXPECT_EQ(seen.ids[1].number, 0u);
    ASSERT_EQ(Call(cmd, {Field("images", Array({Num(3), Num(4)}))}, {Num(4)}), 0);
    EXPECT_EQ(seen.count, 2);
    EXPECT_EQ(Call(cmd, {Field("images", Num(3))}, {Num(4)}), ERR_TABEXPECTED2);
    EXPECT_EQ(ErrorText(), "anim");
    EXPECT_EQ(Call(cmd, {Table({})}, {Num(4)}), ERR_TABEXPECTED2);
}

TEST_F(Arguments, StringAllocFieldNeverReadsAsAbsentWhenMemoryRunsOut) {
    // Upvalue 1 > 0: the allocation of that number (counted from the read) fails.
    auto cmd = [](qvVmState* L) {
        char* text = nullptr;
        size_t length = 0;
        if (Up(L, 1) > 0) qv::InjectAllocationFault(static_cast<uint64_t>(Up(L, 1)), false);
        seen.present =
            GetTableFieldStringAlloc(L, 1, "name", 0, &seen.flag, &text, &length, &seen.found);
        qv::ClearAllocationFault();
        seen.text = text != nullptr ? std::string(text, length) : "<none>";
        FreeMemBlock(text);
        return 0;
    };
    ASSERT_EQ(Call(cmd, {Field("name", Str("pic.png"))}, {Num(0)}), 0);
    EXPECT_EQ(seen.text, "pic.png");
    EXPECT_EQ(seen.flag, 0);
    EXPECT_EQ(Call(cmd, {Field("name", Bool(true))}, {Num(0)}), ERR_STRTABLEARG);
    for (int n = 1;; ++n) {
        int status = Call(cmd, {Field("name", Str("pic.png"))}, {Num(n)});
        qv::ClearAllocationFault();
        if (status == 0) {
            EXPECT_GT(n, 1);  // the copy itself failed at least once
            EXPECT_EQ(seen.text, "pic.png");
            break;
        }
        EXPECT_EQ(status, ERR_MEM) << n;
    }
}

TEST_F(Arguments, FieldWriters) {
    int record;
    VmNewTable(L);
    qvObjectId script{7, nullptr};
    qvObjectId automatic{0, &record};
    SetTableFieldId(L, "a", &script);
    SetTableFieldId(L, "b", &automatic);
    SetTableFieldString(L, "c", "text");
    SetTableFieldNumber(L, "d", 2.5);
    SetTableFieldInt(L, "e", -3);
    qvObjectId id;
    ASSERT_EQ(GetTableFieldId(L, -1, "a", &id, nullptr), 1);
    EXPECT_EQ(id.number, 7u);
    ASSERT_EQ(GetTableFieldId(L, -1, "b", &id, nullptr), 1);
    EXPECT_EQ(id.handle, &record);
    char text[8];
    ASSERT_EQ(GetTableFieldString(L, -1, "c", text, sizeof text, nullptr), 1);
    EXPECT_STREQ(text, "text");
    double d;
    ASSERT_EQ(GetTableFieldNumber(L, -1, "d", &d, nullptr), 1);
    EXPECT_EQ(d, 2.5);
    int32_t e;
    ASSERT_EQ(GetTableFieldInt(L, -1, "e", &e, nullptr), 1);
    EXPECT_EQ(e, -3);
    EXPECT_EQ(VmGetTop(L), 1);
}

// Commands called by name, as preload calls them: errors come back as codes, even with no
// protected call around.
class ScriptCalls : public Arguments {
protected:
    void SetUp() override {
        Arguments::SetUp();
        static const qvCommandEntry kCommands[] = {
            {"Adder",
             [](qvVmState* L) {
                 VmPushNumber(L, GetArgNumber(L, 1) + GetArgNumber(L, 2));
                 return 1;
             }},
            {"Kinds",
             [](qvVmState* L) {
                 std::string kinds;
                 for (int i = 1; i <= VmGetTop(L); ++i) kinds += qv::TypeName(VmType(L, i))[0];
                 seen.text = kinds;
                 seen.number = VmToNumber(L, 1);
                 seen.id.handle = VmToUserdata(L, 4);
                 return 0;
             }},
            {"Raiser",
             [](qvVmState* L) {
                 GetArgNumber(L, 1);
                 return 0;
             }},
            {"Failer", [](qvVmState*) { return int{ERR_WRONGID}; }},
            {nullptr, nullptr},
        };
        VmPushValue(L, VM_GLOBALSINDEX);
        RegisterLibrary(L, nullptr, kCommands, 0);
        VmSetTop(L, 0);
    }
};

TEST_F(ScriptCalls, ResultsStayOnTheStack) {
    VmPushNumber(L, 99);
    ASSERT_EQ(CallScriptFunction(L, "ADDER", 1, 2, QV_CALLARG_INT, -2, QV_CALLARG_UINT, 5u), 0);
    ASSERT_EQ(VmGetTop(L), 2);
    EXPECT_EQ(VmToNumber(L, 2), 3);
    EXPECT_EQ(VmToNumber(L, 1), 99);
}

TEST_F(ScriptCalls, ArgumentKinds) {
    int record;
    qvObjectId script{12, nullptr};
    qvObjectId automatic{0, &record};
    ASSERT_EQ(
        CallScriptFunction(L, "kinds", 0, 5, QV_CALLARG_ID, &script, QV_CALLARG_STRING, "s",
                           QV_CALLARG_NIL, QV_CALLARG_POINTER, &record, QV_CALLARG_ID, &automatic),
        0);
    EXPECT_EQ(seen.text, "nsnuu");
    EXPECT_EQ(seen.number, 12);
    EXPECT_EQ(seen.id.handle, &record);
    EXPECT_EQ(VmGetTop(L), 0);
    // A value of the caller's stack, such as an option table, is passed as it is.
    VmNewTable(L);
    ASSERT_EQ(CallScriptFunction(L, "kinds", 0, 2, QV_CALLARG_VALUE, 1, QV_CALLARG_INT, 7), 0);
    EXPECT_EQ(seen.text, "tn");
    EXPECT_EQ(VmGetTop(L), 1);
}

TEST_F(ScriptCalls, ErrorsComeBackAsCodes) {
    struct Case {
        const char* name;
        int status;
    };
    const Case cases[] = {
        {"Raiser", ERR_NUMEXPECTED},  // an argument getter unwinds
        {"Failer", ERR_WRONGID},      // a returned code ends the script
        {"NoSuchCommand", ERR_FUNCDECLA},
    };
    for (const Case& c : cases) {
        VmPushNumber(L, 1);
        EXPECT_EQ(CallScriptFunction(L, c.name, 1, 1, QV_CALLARG_STRING, "not a number"), c.status)
            << c.name;
        EXPECT_EQ(VmGetTop(L), 1) << c.name;  // nothing left behind
        VmSetTop(L, 0);
    }
    EXPECT_EQ(CallScriptFunction(L, "Adder", 0, 1, 42, 0), ERR_WRONGUSAGE);  // a bad type word
    EXPECT_EQ(CallScriptFunction(L, std::string(200, 'x').c_str(), 0, 0), ERR_NAMETOOLONG);
    EXPECT_EQ(VmGetTop(L), 0);
}

}  // namespace
