#include "engine/convert.h"

#include <locale.h>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>

#include "engine/string_table.h"
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

namespace {

// Two-digit pairs "00".."99", for writing a counter two digits at a time.
constexpr std::array<char, 200> kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The smallest number of each digit count (0 counts as one digit).
constexpr std::array<uint32_t, 10> kDigitCountStarts = {
    0, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// log10(2) is about 1233 / 4096: the bit width gives the digit count or one less.
int DecimalDigits(uint32_t u) {
    const int estimate = (std::bit_width(u) * 1233) >> 12;
    return estimate + (u >= kDigitCountStarts[estimate] ? 1 : 0);
}

// u, of kLength digits, in decimal and a NUL; returns the length. The digits come from the last,
// two at a time, and gather in one word with the first digit in its lowest byte (the text's
// order in memory on this little-endian machine), stored whole: the text is read back a word at
// a time, which a run of byte stores could not hand over from the store buffer. With kHash,
// also the hashes of FormatNumberHashed, whose bytes go in from the last as they come.
template <uint32_t kLength, bool kHash>
size_t FormatCounterOfLength(uint32_t u, char* out, uint32_t prefixLength, uint32_t* hashes) {
    static_assert(std::endian::native == std::endian::little);
    using Word = std::conditional_t<kLength <= 8, uint64_t, unsigned __int128>;
    static_assert(kNumberTextSize >= sizeof(Word) + 1);
    Word word = 0;
    uint32_t h = kLength;
    uint32_t joined = prefixLength + kLength;
    auto mix = [&](char c) {
        if constexpr (kHash) {
            h = MixStringHash(h, c);
            joined = MixStringHash(joined, c);
        }
    };
#pragma GCC unroll 5
    for (uint32_t i = 0; i < kLength / 2; ++i) {
        const char* digits = &kDigitPairs[2 * (u % 100)];
        uint16_t bits;
        std::memcpy(&bits, digits, 2);
        word = (word << 16) | bits;
        mix(digits[1]);
        mix(digits[0]);
        u /= 100;
    }
    if constexpr (kLength % 2 != 0) {
        const char c = static_cast<char>('0' + u);
        word = (word << 8) | static_cast<unsigned char>(c);
        mix(c);
    }
    std::memcpy(out, &word, sizeof(Word));
    out[kLength] = '\0';
    if constexpr (kHash) {
        hashes[0] = h;
        hashes[1] = joined;
    }
    return kLength;
}

// The digit count picks a version made for it. The hashes begin with the count, and the
// version's jump is predicted (the counters of a loop mostly have as many digits as the last
// one), so they need not wait for the count to be worked out but start from the number at once.
template <bool kHash>
size_t FormatCounter(uint32_t u, char* out, uint32_t prefixLength, uint32_t* hashes) {
    switch (DecimalDigits(u)) {
        case 1:
            return FormatCounterOfLength<1, kHash>(u, out, prefixLength, hashes);
        case 2:
            return FormatCounterOfLength<2, kHash>(u, out, prefixLength, hashes);
        case 3:
            return FormatCounterOfLength<3, kHash>(u, out, prefixLength, hashes);
        case 4:
            return FormatCounterOfLength<4, kHash>(u, out, prefixLength, hashes);
        case 5:
            return FormatCounterOfLength<5, kHash>(u, out, prefixLength, hashes);
        case 6:
            return FormatCounterOfLength<6, kHash>(u, out, prefixLength, hashes);
        case 7:
            return FormatCounterOfLength<7, kHash>(u, out, prefixLength, hashes);
        case 8:
            return FormatCounterOfLength<8, kHash>(u, out, prefixLength, hashes);
        case 9:
            return FormatCounterOfLength<9, kHash>(u, out, prefixLength, hashes);
        default:
            return FormatCounterOfLength<10, kHash>(u, out, prefixLength, hashes);
    }
}

// Whether n is a counter or an index, a whole number of 0..2^32-1 (-0 excluded: it prints
// "-0"), told by its bits, which is quicker than a round trip through an integer.
bool IsCounter(double n, uint32_t* u) {
    const auto bits = std::bit_cast<uint64_t>(n);
    if (bits == 0) {
        *u = 0;
        return true;
    }
    constexpr uint64_t kImplicitBit = uint64_t{1} << 52;
    // A set sign bit, an infinity or a NaN gives an exponent far above 31.
    const int exponent = static_cast<int>(bits >> 52) - 1023;
    if (exponent < 0 || exponent > 31) return false;
    const uint64_t mantissa = (bits & (kImplicitBit - 1)) | kImplicitBit;
    const int fractionBits = 52 - exponent;
    if ((mantissa & ((uint64_t{1} << fractionBits) - 1)) != 0) return false;
    *u = static_cast<uint32_t>(mantissa >> fractionBits);
    return true;
}

}  // namespace

size_t FormatNumberHashed(double n, char (&out)[kNumberTextSize], uint32_t prefixLength,
                          uint32_t hashes[2]) {
    uint32_t u;
    if (IsCounter(n, &u)) return FormatCounter<true>(u, out, prefixLength, hashes);
    const auto length = static_cast<uint32_t>(FormatNumber(n, out));
    hashes[0] = StringHash(out, length);
    hashes[1] = MixStringHash(prefixLength + length, out, length);
    return length;
}

size_t FormatNumber(double n, char (&out)[kNumberTextSize]) {
    uint32_t u;
    if (IsCounter(n, &u)) return FormatCounter<false>(u, out, 0, nullptr);
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
