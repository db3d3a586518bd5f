#include "libs/dos/base64.h"

#include <array>

namespace qv {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLine = 72;
constexpr int8_t kPad = 64, kInvalid = -1;

constexpr std::array<int8_t, 256> kValues = [] {
    std::array<int8_t, 256> values{};
    values.fill(kInvalid);
    for (int i = 0; i < 64; ++i)
        values[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    values['='] = kPad;
    return values;
}();

}  // namespace

std::string EncodeBase64Lines(std::span<const uint8_t> bytes) {
    std::string plain;
    plain.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t group = uint32_t{bytes[i]} << 16;
        if (n > 1) group |= uint32_t{bytes[i + 1]} << 8;
        if (n > 2) group |= bytes[i + 2];
        plain += kAlphabet[group >> 18];
        plain += kAlphabet[(group >> 12) & 63];
        plain += n > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        plain += n > 2 ? kAlphabet[group & 63] : '=';
    }
    std::string out;
    out.reserve(plain.size() + plain.size() / kLine);
    for (size_t i = 0; i < plain.size(); i += kLine) {
        if (i > 0) out += '\n';
        out.append(plain, i, kLine);
    }
    return out;
}

bool DecodeBase64(std::span<const uint8_t> text, std::vector<uint8_t>* out) {
    int8_t group[4];
    int n = 0;
    for (uint8_t c : text) {
        if (c <= 32) continue;
        int8_t value = kValues[c];
        if (value == kInvalid) return false;
        group[n++] = value;
        if (n < 4) continue;
        n = 0;
        // A padding character where data must stand makes no group.
        if (group[0] == kPad || group[1] == kPad) return false;
        uint32_t bits = uint32_t(group[0]) << 18 | uint32_t(group[1]) << 12;
        out->push_back(static_cast<uint8_t>(bits >> 16));
        if (group[2] == kPad) return true;
        bits |= uint32_t(group[2]) << 6;
        out->push_back(static_cast<uint8_t>(bits >> 8));
        if (group[3] == kPad) return true;
        out->push_back(static_cast<uint8_t>(bits | uint32_t(group[3])));
    }
    return n == 0;
}

}  // namespace qv
