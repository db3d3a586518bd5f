#include "libs/string/string_library.h"

#include "libs/string/commands.h"
#include "libs/string/eval.h"
#include "libs/string/pattern.h"
#include "runtime/exports.h"

namespace {

// The order is the library's published command list.
constexpr qvCommandEntry kStringCommands[] = {
    {"LowerStr", LowerStr},
    {"UpperStr", UpperStr},
    {"Val", Val},
    {"StrStr", StrStr},
    {"UnrightStr", UnrightStr},
    {"UnleftStr", UnleftStr},
    {"Chr", Chr},
    {"MidStr", MidStr},
    {"RightStr", RightStr},
    {"LeftStr", LeftStr},
    {"FindStr", FindStr},
    {"AddStr", AddStr},
    {"HexStr", HexStr},
    {"Asc", Asc},
    {"StrLen", StrLen},
    {"ReplaceStr", ReplaceStr},
    {"BinStr", BinStr},
    {"SplitStr", SplitStr},
    {"PadNum", PadNum},
    {"StrToArray", StrToArray},
    {"TrimStr", TrimStr},
    {"ToString", ToString},
    {"ToNumber", ToNumber},
    {"UnmidStr", UnmidStr},
    {"CountStr", CountStr},
    {"InsertStr", InsertStr},
    {"RepeatStr", RepeatStr},
    {"MD5Str", MD5Str},
    {"CRC32Str", CRC32Str},
    {"FormatStr", FormatStr},
    {"PatternFindStr", PatternFindStr},
    {"PatternReplaceStr", PatternReplaceStr},
    {"Eval", Eval},
    {nullptr, nullptr},
};

}  // namespace

int RegisterStringLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kStringCommands, 0);
    VmSetTop(L, -2);
    return RegisterCommandTable(kStringCommands, "string");
}
