// Number literals as the command line, inline text tags and the system library's value
// conversion write them: "-" negates; "$" (a "-" may follow it) and "0x" start hexadecimal,
// "%" binary; a digit starts a decimal number with fraction and exponent.
#pragma once

#include <cstddef>

// The value of the literal at the start of text. *used receives the characters consumed
// (sign and prefix included), *error 0, ERR_VALUEEXPECTED when no literal starts there, or
// ERR_SYNTAXERROR for a hexadecimal or binary prefix without digits; on an error the result
// is 0 and *used 0.
double ParseNumberLiteral(const char* text, int* used, int* error);

namespace qv {

// The unsigned decimal number (digits, fraction, exponent) at the start of text into *value;
// returns the characters read, 0 when text does not start with a digit.
size_t ReadDecimal(const char* text, double* value);

}  // namespace qv
