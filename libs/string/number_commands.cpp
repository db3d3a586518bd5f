// Numbers as text and text as numbers.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/convert.h"
#include "libs/string/commands.h"
#include "libs/string/text_buffer.h"
#include "runtime/arguments.h"
#include "runtime/number_literal.h"

namespace qv {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of a digit in bases up to 36, or 36 for anything else.
int DigitValue(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 36;
}

// Text as an unsigned integer in base 2-36, the way the C library's unsigned conversion reads
// it on a 32-bit system: white space, an optional sign, "0x" in base 16, digits; values above
// 32 bits saturate at 4294967295 and a "-" negates modulo 2^32. Only white space may follow
// the digits, else (or without digits) the result is 0.
uint32_t ParseUnsigned(std::string_view text, int base) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (base == 16 && i + 2 < text.size() && text[i] == '0' &&
        (text[i + 1] == 'x' || text[i + 1] == 'X') && DigitValue(text[i + 2]) < 16) {
        i += 2;
    }
    const size_t first = i;
    uint64_t value = 0;
    for (; i < text.size() && DigitValue(text[i]) < base; ++i) {
        value = std::min<uint64_t>(value * base + DigitValue(text[i]), uint64_t{UINT32_MAX} + 1);
    }
    if (i == first) return 0;
    for (; i < text.size(); ++i) {
        if (!IsSpace(text[i])) return 0;
    }
    if (value > UINT32_MAX) return UINT32_MAX;
    const auto bits = static_cast<uint32_t>(value);
    return negative ? 0u - bits : bits;
}

// The "%.14g" text of n with its decimals cut: digits > 0 keeps at most that many, 0 drops
// the point with them, < 0 keeps the point alone. An exponent stays.
std::string_view CutDecimals(const char* text, size_t length, int32_t digits, char* out) {
    const std::string_view t(text, length);
    const size_t point = t.find('.');
    if (point == std::string_view::npos) return t;
    size_t fractionEnd = point + 1;
    while (fractionEnd < length && IsDigit(text[fractionEnd])) ++fractionEnd;
    size_t keep = point + 1;
    if (digits > 0) keep += std::min<size_t>(static_cast<size_t>(digits), fractionEnd - keep);
    if (digits == 0) keep = point;
    const std::string_view head = t.substr(0, keep);
    const std::string_view tail = t.substr(fractionEnd);
    head.copy(out, head.size());
    tail.copy(out + head.size(), tail.size());
    return {out, head.size() + tail.size()};
}

const char* TypeLabel(int type) {
    switch (type) {
        case VM_TTABLE:
            return "Table";
        case VM_TFUNCTION:
            return "Function";
        case VM_TTHREAD:
            return "Thread";
        default:
            return "UserData";
    }
}

}  // namespace
}  // namespace qv

using qv::IntArg;
using qv::PushText;
using qv::StringArg;

int Val(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* text = GetArgString(L, 1, nullptr);
    int used = 0;
    int error = 0;
    const double value = ParseNumberLiteral(text, &used, &error);
    VmPushNumber(L, error == 0 ? value : 0);
    VmPushNumber(L, error == 0 ? used : 0);
    return 2;
}

int StrStr(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const double n = GetArgNumber(L, 1);
    const int32_t digits = qv::OptIntArg(L, 2, 2);
    char text[qv::kNumberTextSize];
    const size_t length = qv::FormatNumber(n, text);
    char cut[qv::kNumberTextSize];
    return PushText(L, qv::CutDecimals(text, length, digits, cut));
}

int HexStr(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    char text[16];
    const int length = std::snprintf(text, sizeof text, "$%X", GetArgUInt32(L, 1));
    return PushText(L, std::string_view(text, static_cast<size_t>(length)));
}

int BinStr(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const double n = GetArgNumber(L, 1);
    const int32_t type = qv::OptIntArg(L, 2, 1);
    uint32_t bits = 0;
    int count = 0;
    switch (type) {
        case 1:  // LONG
            bits = qv::Bits32(n);
            count = 32;
            break;
        case 6:  // SHORT
            bits = static_cast<uint32_t>(qv::Trunc32(n)) & 0xFFFF;
            count = 16;
            break;
        case 7:  // BYTE
            bits = static_cast<uint32_t>(qv::Trunc32(n)) & 0xFF;
            count = 8;
            break;
        default:
            break;
    }
    char text[32];
    for (int i = 0; i < count; ++i) text[i] = (bits >> (count - 1 - i)) & 1 ? '1' : '0';
    return PushText(L, std::string_view(text, static_cast<size_t>(count)));
}

int PadNum(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const double n = GetArgNumber(L, 1);
    const int32_t length = IntArg(L, 2);
    if (!(n >= 0) || std::isinf(n) || length < 1) return ERR_WRONGUSAGE;
    // The integer part is printed exactly, however large; adding 0 turns -0 into 0.
    char digits[320];
    const int count = std::snprintf(digits, sizeof digits, "%.0f", std::trunc(n) + 0.0);
    const auto size = static_cast<size_t>(count);
    qv::TextBuffer out(L);
    const size_t pad = static_cast<size_t>(length) > size ? static_cast<size_t>(length) - size : 0;
    std::memset(out.Extend(pad), '0', pad);
    out.Append(digits, size);
    out.Push();
    return 1;
}

int ToString(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    if (CallMetamethodOn(L, 1, "__tostring") != 0) return 1;
    const int type = VmType(L, 1);
    switch (type) {
        case VM_TNIL:
            return PushText(L, "Nil");
        case VM_TBOOLEAN:
            return PushText(L, VmToBoolean(L, 1) != 0 ? "true" : "false");
        case VM_TNUMBER:
        case VM_TSTRING:
            VmPushValue(L, 1);
            VmToString(L, -1);
            return 1;
        default: {
            char text[64];
            const int length =
                std::snprintf(text, sizeof text, "%s: %p", qv::TypeLabel(type), VmToPointer(L, 1));
            return PushText(L, std::string_view(text, static_cast<size_t>(length)));
        }
    }
}

int ToNumber(qvVmState* L) {
    CheckArgCount(L, 1, 2);
    const int32_t base = qv::OptIntArg(L, 2, 10);
    if (base == 10) {
        VmPushNumber(L, VmToNumber(L, 1));
        return 1;
    }
    if (base < 2 || base > 36) return ERR_WRONGUSAGE;
    VmPushNumber(L, qv::ParseUnsigned(StringArg(L, 1), base));
    return 1;
}
