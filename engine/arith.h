// Number arithmetic and bit operations shared by VmArith and the interpreter's fast paths, so
// that both give exactly the same results.
#pragma once

#include <cmath>
#include <cstdint>

#include "engine/convert.h"
#include "engine/internal.h"

namespace qv {

// The result of event (TM_ADD .. TM_POW) on two numbers; raises ERR_ZERODIVISION.
inline qvNumber ArithNumbers(qvVmState* L, int event, qvNumber x, qvNumber y) {
    switch (event) {
        case TM_ADD:
            return x + y;
        case TM_SUB:
            return x - y;
        case TM_MUL:
            return x * y;
        case TM_DIV:
            if (y == 0) RaiseError(L, ERR_ZERODIVISION);
            return x / y;
        case TM_DIVINT:
        case TM_MOD: {
            int64_t d = Trunc32(y);
            if (d == 0) RaiseError(L, ERR_ZERODIVISION);
            // In 64 bits, so that -2147483648 by -1 cannot trap.
            int64_t n = Trunc32(x);
            return static_cast<qvNumber>(event == TM_DIVINT ? n / d : n % d);
        }
        case TM_LSH:
        case TM_RSH: {
            uint32_t n = static_cast<uint32_t>(Trunc32(y));
            if ((n & 63) >= 32) return 0;
            uint32_t bits = Bits32(x);
            return event == TM_LSH ? static_cast<uint32_t>(bits << (n & 31)) : bits >> (n & 31);
        }
        case TM_OR:
            return Bits32(x) | Bits32(y);
        case TM_AND:
            return Bits32(x) & Bits32(y);
        case TM_XOR:
            return Bits32(x) ^ Bits32(y);
        default:
            return std::pow(x, y);
    }
}

// VmArith in two steps, so that the interpreter can run a script metamethod itself: when
// both operands convert to numbers, stores the result and returns true.
bool ArithConverted(qvVmState* L, qvValue* result, const qvValue* x, const qvValue* y, int event);
// The operation's metamethod, x's before y's; raises ERR_WRONGOP when neither has one.
const qvValue* ArithMetamethod(qvVmState* L, const qvValue* x, const qvValue* y, int event);

}  // namespace qv
