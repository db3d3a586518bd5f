#include "tools/qvasm/literals.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace qv {
namespace {

constexpr uint64_t kQuietNaN = 0x7FF8000000000000;
constexpr uint64_t kSignBit = 0x8000000000000000;

bool StartsWithHexPrefix(std::string_view s) {
    return s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

// Splits off a leading sign.
bool TakeSign(std::string_view& s) {
    if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
        const bool negative = s[0] == '-';
        s.remove_prefix(1);
        return negative;
    }
    return false;
}

std::optional<uint64_t> ParseHex(std::string_view digits) {
    uint64_t v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
    if (ec != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return v;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
    std::string_view s = text;
    const bool negative = TakeSign(s);
    double magnitude;
    if (s == "nan") {
        return std::bit_cast<double>(kQuietNaN | (negative ? kSignBit : 0));
    } else if (s == "inf") {
        magnitude = std::numeric_limits<double>::infinity();
    } else if (StartsWithHexPrefix(s)) {
        const auto v = ParseHex(s.substr(2));
        if (!v) return std::nullopt;
        magnitude = static_cast<double>(*v);
    } else {
        // from_chars would also take "infinity" and "nan(...)"; a listing uses digits only.
        if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '.')) {
            return std::nullopt;
        }
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude);
        if (ec == std::errc::invalid_argument || end != s.data() + s.size()) return std::nullopt;
        if (ec == std::errc::result_out_of_range) return std::nullopt;
    }
    return negative ? -magnitude : magnitude;
}

std::string FormatNumber(double d) {
    if (std::isnan(d)) return std::signbit(d) ? "-nan" : "nan";
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    (void)ec;  // 64 bytes hold every shortest form
    return std::string(buf, end);
}

std::optional<int64_t> ParseInteger(std::string_view text) {
    std::string_view s = text;
    const bool negative = TakeSign(s);
    uint64_t v = 0;
    if (StartsWithHexPrefix(s)) {
        const auto hex = ParseHex(s.substr(2));
        if (!hex) return std::nullopt;
        v = *hex;
    } else {
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
        if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    }
    if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
    const auto value = static_cast<int64_t>(v);
    return negative ? -value : value;
}

std::string QuoteString(std::string_view s) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (char ch : s) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (byte >= 0x20 && byte < 0x7F) {
                    out += ch;
                } else {
                    out += "\\x";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 15];
                }
        }
    }
    return out + "\"";
}

bool IsName(std::string_view s) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (char ch : s) {
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_') return false;
    }
    return true;
}

}  // namespace qv
