#include "runtime/number_literal.h"

#include <clocale>
#include <cstdlib>

#include "engine/error_codes.h"

namespace qv {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of c as a digit in base 2 or 16, -1 when it is none.
int DigitValue(char c, int base) {
    int d = -1;
    if (IsDigit(c)) {
        d = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
    }
    return d < base ? d : -1;
}

// Reads the digits of base at text; returns their count.
size_t ReadDigits(const char* text, int base, double* value) {
    size_t n = 0;
    *value = 0;
    for (int d = DigitValue(text[0], base); d >= 0; d = DigitValue(text[++n], base)) {
        *value = *value * base + d;
    }
    return n;
}

// Decimal texts are read in the C locale whatever the process's locale says.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return c;
}

struct Prefix {
    size_t length;
    int base;
};

// The hexadecimal or binary prefix at text (with a "-" after "$"), or {0, 10}.
Prefix ReadPrefix(const char* text, bool* negative) {
    if (text[0] == '$') {
        bool minus = text[1] == '-';
        *negative = *negative != minus;
        return {minus ? 2u : 1u, 16};
    }
    if (text[0] == '%') return {1, 2};
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) return {2, 16};
    return {0, 10};
}

}  // namespace

size_t ReadDecimal(const char* text, double* value) {
    if (!IsDigit(text[0])) return 0;
    // strtod would take "0x" for hexadecimal: here it is the number 0 and a letter.
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        *value = 0;
        return 1;
    }
    char* end = nullptr;
    locale_t c = CLocale();
    *value = c != static_cast<locale_t>(0) ? strtod_l(text, &end, c) : std::strtod(text, &end);
    return static_cast<size_t>(end - text);
}

}  // namespace qv

double ParseNumberLiteral(const char* text, int* used, int* error) {
    *used = 0;
    bool negative = text[0] == '-';
    size_t at = negative ? 1 : 0;
    qv::Prefix prefix = qv::ReadPrefix(text + at, &negative);
    at += prefix.length;
    double value = 0;
    size_t digits = prefix.base == 10 ? qv::ReadDecimal(text + at, &value)
                                      : qv::ReadDigits(text + at, prefix.base, &value);
    if (digits == 0) {
        *error = prefix.base == 10 ? ERR_VALUEEXPECTED : ERR_SYNTAXERROR;
        return 0;
    }
    *error = 0;
    *used = static_cast<int>(at + digits);
    return negative ? -value : value;
}
