#include "runtime/strings.h"

#include <cstdint>

#include "engine/case_tables.h"

int StrICmp(const char* a, const char* b) {
    return qv::CompareIgnoringCase(a, b);
}

int StrNICmp(const char* a, const char* b, size_t n) {
    if (a == b) return 0;
    const auto* x = reinterpret_cast<const uint8_t*>(a);
    const auto* y = reinterpret_cast<const uint8_t*>(b);
    for (; n > 0; --n, ++x, ++y) {
        int d = qv::kUpperCase[*x] - qv::kUpperCase[*y];
        if (d != 0 || *x == 0) return d;
    }
    return 0;
}

void ToLowerStr(char* s) {
    qv::LowerCaseInPlace(s);
}
