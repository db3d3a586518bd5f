#include "libs/system/system_library.h"

#include <string_view>

#include "libs/system/commands.h"
#include "libs/system/desktop.h"
#include "platform/linux/debug_output.h"
#include "runtime/arguments.h"
#include "runtime/attributes.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/messages.h"
#include "runtime/runtime_state.h"

namespace qv {
namespace {

// The order is the library's published command list.
constexpr qvCommandEntry kSystemCommands[] = {
    {"End", End},
    {"Error", Error},
    {"ExitOnError", ExitOnError},
    {"GetLastError", GetLastError},
    {"GetErrorName", GetErrorName},
    {"Assert", Assert},
    {"DebugOutput", DebugOutput},
    {"DebugPrint", DebugPrint},
    {"DebugStr", DebugPrint},
    {"DebugVal", DebugPrint},
    {"DebugPrompt", DebugPrompt},
    {"GetVersion", GetVersion},
    {"GetProgramInfo", GetProgramInfo},
    {"GetCommandLine", GetCommandLine},
    {"GetFileArgument", GetFileArgument},
    {"GetConstant", GetConstant},
    {"GetType", GetType},
    {"GetObjectType", GetObjectType},
    {"IIf", IIf},
    {"ListItems", ListItems},
    {"InsertItem", InsertItem},
    {"RemoveItem", RemoveItem},
    {"Concat", Concat},
    {"Unpack", Unpack},
    {"CopyTable", CopyTable},
    {"ForEach", ForEach},
    {"ForEachI", ForEachI},
    {"NextItem", NextItem},
    {"Pairs", Pairs},
    {"IPairs", IPairs},
    {"RawGet", RawGet},
    {"RawSet", RawSet},
    {"RawEqual", RawEqual},
    {"GetMetaTable", GetMetaTable},
    {"SetMetaTable", SetMetaTable},
    {"GCInfo", GCInfo},
    {"CollectGarbage", CollectGarbage},
    {"GetMemoryInfo", GetMemoryInfo},
    {"SetObjectData", SetObjectData},
    {"GetObjectData", GetObjectData},
    {"ClearObjectData", ClearObjectData},
    {"CopyObjectData", CopyObjectData},
    {"GetDate", GetDate},
    {"GetTime", GetTime},
    {"GetWeekday", GetWeekday},
    {"GetDateNum", GetDateNum},
    {"CompareDates", CompareDates},
    {"GetSystemLanguage", GetSystemLanguage},
    {"GetSystemCountry", GetSystemCountry},
    {"OpenCatalog", OpenCatalog},
    {"CloseCatalog", CloseCatalog},
    {"GetCatalogString", GetCatalogString},
    {"SystemRequest", SystemRequest},
    {"StringRequest", StringRequest},
    {"FileRequest", FileRequest},
    {"PathRequest", PathRequest},
    {"FontRequest", FontRequest},
    {"ListRequest", ListRequest},
    {"ColorRequest", ColorRequest},
    {"SetClipboard", SetClipboard},
    {"GetClipboard", GetClipboard},
    {"PeekClipboard", PeekClipboard},
    {"ClearClipboard", ClearClipboard},
    {"SetWBIcon", SetWBIcon},
    {"GetIconProperties", GetIconProperties},
    {"SetIconProperties", SetIconProperties},
    {"OpenURL", OpenURL},
    {"StartTimer", StartTimer},
    {"StopTimer", StopTimer},
    {"PauseTimer", PauseTimer},
    {"ResumeTimer", ResumeTimer},
    {"ResetTimer", ResetTimer},
    {"GetTimer", GetTimer},
    {"WaitTimer", WaitTimer},
    {"Wait", Wait},
    {"Sort", Sort},
    {nullptr, nullptr},
};

// Every row but the error codes, which follow from the run-time core's own error table.
constexpr qvConstant kSystemConstants[] = {
    {"SECONDS", nullptr, 0},
    {"MILLISECONDS", nullptr, 1},
    {"TICKS", nullptr, 2},
    {"DATEYEAR", nullptr, 0},
    {"DATEMONTH", nullptr, 1},
    {"DATEDAY", nullptr, 2},
    {"DATETIME", nullptr, 3},
    {"CHIPMEMORY", nullptr, 0},
    {"FASTMEMORY", nullptr, 1},
    {"NIL", nullptr, 0},
    {"STRING", nullptr, 3},
    {"LONG", nullptr, 1},
    {"FLOAT", nullptr, 1},
    {"INTEGER", nullptr, 1},
    {"NUMBER", nullptr, 2},
    {"FUNCTION", nullptr, 5},
    {"TABLE", nullptr, 4},
    {"USERDATA", nullptr, 8},
    {"LIGHTUSERDATA", nullptr, 9},
    {"THREAD", nullptr, 10},
    {"BYTE", nullptr, 7},
    {"SHORT", nullptr, 6},
    {"WORD", nullptr, 6},
    {"REQ_NORMAL", nullptr, 0},
    {"REQ_MULTISELECT", nullptr, 1},
    {"REQ_SAVEMODE", nullptr, 2},
    {"PRGTYPE_SCRIPT", nullptr, 0},
    {"PRGTYPE_APPLET", nullptr, 1},
    {"PRGTYPE_PROGRAM", nullptr, 2},
    {"REQICON_NONE", nullptr, 0},
    {"REQICON_INFORMATION", nullptr, 1},
    {"REQICON_ERROR", nullptr, 2},
    {"REQICON_WARNING", nullptr, 3},
    {"REQICON_QUESTION", nullptr, 4},
    {"CLIPBOARD_EMPTY", nullptr, 0},
    {"CLIPBOARD_TEXT", nullptr, 1},
    {"CLIPBOARD_IMAGE", nullptr, 2},
    {"CLIPBOARD_SOUND", nullptr, 3},
    {"CLIPBOARD_UNKNOWN", nullptr, 4},
    {"AMIGAICON_DISK", nullptr, 1},
    {"AMIGAICON_DRAWER", nullptr, 2},
    {"AMIGAICON_TOOL", nullptr, 3},
    {"AMIGAICON_PROJECT", nullptr, 4},
    {"HKEY_CLASSES_ROOT", nullptr, 0},
    {"HKEY_CURRENT_CONFIG", nullptr, 1},
    {"HKEY_LOCAL_MACHINE", nullptr, 2},
    {"HKEY_USERS", nullptr, 3},
    {"HKEY_CURRENT_USER", nullptr, 4},
    {"LANGUAGE_ENGLISH", nullptr, 0},
    {"LANGUAGE_GERMAN", nullptr, 1},
    {"LANGUAGE_DUTCH", nullptr, 2},
    {"LANGUAGE_ITALIAN", nullptr, 3},
    {"LANGUAGE_FRENCH", nullptr, 4},
    {"LANGUAGE_SPANISH", nullptr, 5},
    {"LANGUAGE_PORTUGUESE", nullptr, 6},
    {"LANGUAGE_SWEDISH", nullptr, 7},
    {"LANGUAGE_DANISH", nullptr, 8},
    {"LANGUAGE_FINNISH", nullptr, 9},
    {"LANGUAGE_NORWEGIAN", nullptr, 10},
    {"LANGUAGE_POLISH", nullptr, 11},
    {"LANGUAGE_HUNGARIAN", nullptr, 12},
    {"LANGUAGE_GREEK", nullptr, 13},
    {"LANGUAGE_CZECH", nullptr, 14},
    {"LANGUAGE_TURKISH", nullptr, 15},
    {"LANGUAGE_CROATIAN", nullptr, 16},
    {"LANGUAGE_RUSSIAN", nullptr, 17},
    {"LANGUAGE_UNKNOWN", nullptr, 18},
    {"COUNTRY_UK", nullptr, 0},
    {"COUNTRY_USA", nullptr, 1},
    {"COUNTRY_AUSTRALIA", nullptr, 2},
    {"COUNTRY_BELGIUM", nullptr, 3},
    {"COUNTRY_BULGARIA", nullptr, 4},
    {"COUNTRY_BRAZIL", nullptr, 5},
    {"COUNTRY_CANADA", nullptr, 6},
    {"COUNTRY_CZECHREPUBLIC", nullptr, 7},
    {"COUNTRY_DENMARK", nullptr, 8},
    {"COUNTRY_GERMANY", nullptr, 9},
    {"COUNTRY_SPAIN", nullptr, 10},
    {"COUNTRY_FRANCE", nullptr, 11},
    {"COUNTRY_GREECE", nullptr, 12},
    {"COUNTRY_ITALY", nullptr, 13},
    {"COUNTRY_LIECHTENSTEIN", nullptr, 14},
    {"COUNTRY_LITHUANIA", nullptr, 15},
    {"COUNTRY_LUXEMBOURG", nullptr, 16},
    {"COUNTRY_HUNGARY", nullptr, 17},
    {"COUNTRY_MALTA", nullptr, 18},
    {"COUNTRY_MONACO", nullptr, 19},
    {"COUNTRY_NETHERLANDS", nullptr, 20},
    {"COUNTRY_NORWAY", nullptr, 21},
    {"COUNTRY_POLAND", nullptr, 22},
    {"COUNTRY_PORTUGAL", nullptr, 23},
    {"COUNTRY_ROMANIA", nullptr, 24},
    {"COUNTRY_RUSSIA", nullptr, 25},
    {"COUNTRY_SANMARINO", nullptr, 26},
    {"COUNTRY_SLOVAKIA", nullptr, 27},
    {"COUNTRY_SLOVENIA", nullptr, 28},
    {"COUNTRY_SWITZERLAND", nullptr, 29},
    {"COUNTRY_FINLAND", nullptr, 30},
    {"COUNTRY_SWEDEN", nullptr, 31},
    {"COUNTRY_TURKEY", nullptr, 32},
    {"COUNTRY_IRELAND", nullptr, 33},
    {"COUNTRY_AUSTRIA", nullptr, 34},
    {"COUNTRY_ICELAND", nullptr, 35},
    {"COUNTRY_ANDORRA", nullptr, 36},
    {"COUNTRY_UKRAINE", nullptr, 37},
    {"COUNTRY_UNKNOWN", nullptr, 38},
    {nullptr, nullptr, 0},
};

}  // namespace
}  // namespace qv

int RegisterSystemLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kSystemCommands, 0);
    RegisterConstants(L, qv::kSystemConstants, 0);
    RegisterConstants(L, qvErrorConstants, 0);
    if (int code = qv::RegisterTimerList()) return code;
    qv::Runtime().getLastError = GetLastError;
    return RegisterCommandTable(qv::kSystemCommands, "system");
}

// The arguments as the script writes them, one blank apart, as one line.
int DebugPrint(qvVmState* L) {
    CheckArgCount(L, 1, 0);
    int count = VmGetTop(L);
    StrBuf buffer;
    StrBufInit(L, &buffer);
    for (int i = 1; i <= count; ++i) {
        if (i > 1) StrBufAddString(&buffer, " ");
        qv::AddScriptText(L, &buffer, i);
    }
    StrBufAddString(&buffer, "\n");
    StrBufPushResult(&buffer);
    qv::WriteDebugPlain(std::string_view(VmToString(L, -1), VmStrLen(L, -1)));
    return 0;
}

void FreeSystemObjects(qvVmState* L) {
    qv::FreeAllTimers(L);
    qv::FreeDesktopState();
}

int DebugOutput(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qv::Runtime().debugTrace = qv::ArgFlag(L, 1);
    return 0;
}

int End(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    qv::Runtime().abortFlag.store(1);
    return 0;
}

int Error(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return ErrorWithText(ERR_ERRORCALLED, GetArgString(L, 1, nullptr));
}

int ExitOnError(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const qvAttrSet tags[] = {{QV_ATTR_EXITONERROR, qv::ArgFlag(L, 1) ? 1 : 0}, {QV_ATTR_END, 0}};
    SetGlobalAttrs(L, tags);
    return 0;
}

int GetLastError(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushNumber(L, qv::Runtime().error.lastError);
    return 1;
}
