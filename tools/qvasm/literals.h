// Text forms of the values a listing writes: numbers, integers, quoted strings and names.
// The assembler parses them and the disassembler prints them, so the two stay inverse.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Decimal or hexadecimal ("0x1F") numbers with an optional sign, "nan", "-nan", "inf", "-inf".
std::optional<double> ParseNumber(std::string_view text);
// The shortest text that ParseNumber reads back to the same bits ("-0", "1e+300", "nan").
std::string FormatNumber(double d);

// A decimal or "0x" hexadecimal integer with an optional sign.
std::optional<int64_t> ParseInteger(std::string_view text);

// Double-quoted text with the escapes \" \\ \n \r \t \0 \xHH.
std::string QuoteString(std::string_view s);

// Names of functions, labels and variables: [A-Za-z_][A-Za-z0-9_]*.
bool IsName(std::string_view s);

}  // namespace qv
