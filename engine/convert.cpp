#include "engine/convert.h"

#include <locale.h>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/vm.h"

namespace qv {

int32_t Trunc32(double x) {
    if (std::isnan(x) || x < -2147483648.0) return INT32_MIN;
    if (x >= 2147483648.0) return INT32_MAX;
    return static_cast<int32_t>(x);  // in range: the cast truncates toward zero
}

uint32_t Bits32(double x) {
    if (x >= 2147483648.0) return static_cast<uint32_t>(Trunc32(x - 2147483648.0)) + 0x80000000u;
    return static_cast<uint32_t>(Trunc32(x));
}

size_t FormatNumber(double n, char (&out)[kNumberTextSize]) {
    char* end;
    // Integers of up to 14 digits print exactly as "%.14g" prints them; -0 does not.
    if (n == std::trunc(n) && std::fabs(n) < 1e14 && !(n == 0 && std::signbit(n))) {
        end = std::to_chars(out, out + kNumberTextSize - 1, static_cast<int64_t>(n)).ptr;
    } else {
        // The general format with precision 14 is "%.14g" in the C locale.
        end = std::to_chars(out, out + kNumberTextSize - 1, n, std::chars_format::general, 14).ptr;
    }
    *end = '\0';
    return static_cast<size_t>(end - out);
}

namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Skips a run of characters accepted by pred; returns how many there were.
template <typename Pred>
size_t SkipRun(const char*& p, const char* end, Pred pred) {
    const char* start = p;
    while (p < end && pred(*p)) ++p;
    return static_cast<size_t>(p - start);
}

// Checks the grammar of a number after its sign: "0x" with hexadecimal digits, or decimal
// digits with an optional point and fraction (at least one digit) and an optional exponent.
// Advances p past it; false when it is none.
bool ScanUnsignedNumber(const char*& p, const char* end) {
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        return SkipRun(p, end, IsHexDigit) > 0;
    }
    size_t digits = SkipRun(p, end, IsDigit);
    if (p < end && *p == '.') {
        ++p;
        digits += SkipRun(p, end, IsDigit);
    }
    if (digits == 0) return false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (SkipRun(p, end, IsDigit) == 0) return false;
    }
    return true;
}

locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

}  // namespace

}  // namespace qv

int VmStrToNumber(const char* s, size_t length, qvNumber* result) {
    const char* p = s;
    const char* end = s + length;
    qv::SkipRun(p, end, qv::IsSpace);
    const char* numberStart = p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (!qv::ScanUnsignedNumber(p, end)) return 0;
    const char* numberEnd = p;
    qv::SkipRun(p, end, qv::IsSpace);
    if (p != end) return 0;
    // strtod reads exactly the text checked above once it ends there.
    size_t n = static_cast<size_t>(numberEnd - numberStart);
    char small[64];
    std::string large;
    const char* text = small;
    if (n < sizeof small) {
        std::memcpy(small, numberStart, n);
        small[n] = '\0';
    } else {
        large.assign(numberStart, n);
        text = large.c_str();
    }
    *result = strtod_l(text, nullptr, qv::CLocale());
    return 1;
}
