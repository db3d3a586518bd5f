// The handlers of the string library's commands and the argument helpers they share.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/vm.h"

// Cutting, searching, case and building (text_commands.cpp).
int LowerStr(qvVmState* L);
int UpperStr(qvVmState* L);
int UnrightStr(qvVmState* L);
int UnleftStr(qvVmState* L);
int Chr(qvVmState* L);
int MidStr(qvVmState* L);
int RightStr(qvVmState* L);
int LeftStr(qvVmState* L);
int FindStr(qvVmState* L);
int AddStr(qvVmState* L);
int Asc(qvVmState* L);
int StrLen(qvVmState* L);
int ReplaceStr(qvVmState* L);
int SplitStr(qvVmState* L);
int StrToArray(qvVmState* L);
int TrimStr(qvVmState* L);
int UnmidStr(qvVmState* L);
int CountStr(qvVmState* L);
int InsertStr(qvVmState* L);
int RepeatStr(qvVmState* L);
int MD5Str(qvVmState* L);
int CRC32Str(qvVmState* L);

// Numbers to text and back (number_commands.cpp).
int Val(qvVmState* L);
int StrStr(qvVmState* L);
int HexStr(qvVmState* L);
int BinStr(qvVmState* L);
int PadNum(qvVmState* L);
int ToString(qvVmState* L);
int ToNumber(qvVmState* L);

// format.cpp
int FormatStr(qvVmState* L);

namespace qv {

// Argument idx as a string (a number is converted in place); raises ERR_STREXPECTED.
std::string_view StringArg(qvVmState* L, int idx);
// Argument idx truncated to a signed 32-bit integer (saturating, NaN as -2147483648).
int32_t IntArg(qvVmState* L, int idx);
// The same, def when the argument is absent.
int32_t OptIntArg(qvVmState* L, int idx, int32_t def);
// Pushes text; returns 1, the count of results.
int PushText(qvVmState* L, std::string_view text);

}  // namespace qv
