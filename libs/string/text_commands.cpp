// Cutting, searching, case and building of byte strings. Positions are 0-based byte offsets;
// every command keeps embedded zero bytes.
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/case_tables.h"
#include "engine/convert.h"
#include "libs/string/checksum.h"
#include "libs/string/commands.h"
#include "libs/string/text_buffer.h"
#include "runtime/arguments.h"

namespace qv {

std::string_view StringArg(qvVmState* L, int idx) {
    size_t length = 0;
    const char* s = GetArgString(L, idx, &length);
    return {s, length};
}

int32_t IntArg(qvVmState* L, int idx) {
    return Trunc32(GetArgNumber(L, idx));
}

int32_t OptIntArg(qvVmState* L, int idx, int32_t def) {
    return Trunc32(GetOptArgNumber(L, idx, def));
}

int PushText(qvVmState* L, std::string_view text) {
    VmPushLString(L, text.data(), text.size());
    return 1;
}

namespace {

constexpr size_t kNotFound = std::string_view::npos;

// Pushes s with its bytes from..to replaced by insert.
int PushSpliced(qvVmState* L, std::string_view s, size_t from, size_t to, std::string_view insert) {
    TextBuffer out(L);
    out.Append(s.substr(0, from));
    out.Append(insert);
    out.Append(s.substr(to));
    out.Push();
    return 1;
}

int MapCase(qvVmState* L, const std::array<uint8_t, 256>& table) {
    CheckArgCount(L, 1, 1);
    const std::string_view s = StringArg(L, 1);
    TextBuffer out(L);
    char* d = out.Extend(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        d[i] = static_cast<char>(table[static_cast<uint8_t>(s[i])]);
    out.Push();
    return 1;
}

bool SameIgnoringCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (kLowerCase[static_cast<uint8_t>(a[i])] != kLowerCase[static_cast<uint8_t>(b[i])])
            return false;
    }
    return true;
}

// Finds one needle, possibly many times over, in one text: in effect the naive scan (the
// leftmost occurrence at or after a position). Single bytes go to memchr; longer needles
// test 16 positions at a time for their first and last byte (SSE2, part of every x86_64)
// and compare the middle only there. Without case sensitivity bytes compare through the
// lower-casing table.
class TextSearch {
public:
    TextSearch(std::string_view needle, bool caseSensitive)
        : needle_(needle), caseSensitive_(caseSensitive) {}

    size_t Find(std::string_view hay, size_t from) const {
        const size_t m = needle_.size();
        if (m == 0 || from >= hay.size() || m > hay.size() - from) return kNotFound;
        if (!caseSensitive_) return FindIgnoringCase(hay, from);
        if (m == 1) {
            const void* at = std::memchr(hay.data() + from, needle_[0], hay.size() - from);
            return at != nullptr ? static_cast<size_t>(static_cast<const char*>(at) - hay.data())
                                 : kNotFound;
        }
        return FindByEnds(hay, from);
    }

private:
    // Whether the needle stands at p, given that its first and last bytes do.
    bool MiddleMatches(const char* p) const {
        for (size_t k = 1; k + 1 < needle_.size(); ++k) {
            if (p[k] != needle_[k]) return false;
        }
        return true;
    }

    size_t FindByEnds(std::string_view hay, size_t from) const {
        const char* s = hay.data();
        const size_t m = needle_.size();
        const size_t lastStart = hay.size() - m;  // the last position a match can start at
        size_t i = from;
#ifdef __SSE2__
        const __m128i first = _mm_set1_epi8(needle_[0]);
        const __m128i last = _mm_set1_epi8(needle_[m - 1]);
        for (; i + 16 <= lastStart + 1; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + m - 1));
            auto mask = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
            for (; mask != 0; mask &= mask - 1) {
                const size_t at = i + static_cast<size_t>(__builtin_ctz(mask));
                if (MiddleMatches(s + at)) return at;
            }
        }
#endif
        for (; i <= lastStart; ++i) {
            if (s[i] == needle_[0] && s[i + m - 1] == needle_[m - 1] && MiddleMatches(s + i))
                return i;
        }
        return kNotFound;
    }

    size_t FindIgnoringCase(std::string_view hay, size_t from) const {
        const uint8_t first = kLowerCase[static_cast<uint8_t>(needle_[0])];
        for (size_t i = from; i <= hay.size() - needle_.size(); ++i) {
            if (kLowerCase[static_cast<uint8_t>(hay[i])] == first &&
                SameIgnoringCase(hay.data() + i + 1, needle_.data() + 1, needle_.size() - 1)) {
                return i;
            }
        }
        return kNotFound;
    }

    std::string_view needle_;
    bool caseSensitive_;
};

// The optional case switch and start position of FindStr, ReplaceStr and CountStr, at
// argument idx and idx + 1; false for a negative start.
struct SearchOptions {
    bool caseSensitive;
    size_t start;
};

bool ReadSearchOptions(qvVmState* L, int idx, SearchOptions* out) {
    out->caseSensitive = GetOptArgNumber(L, idx, 1) != 0;
    const int32_t start = OptIntArg(L, idx + 1, 0);
    out->start = static_cast<size_t>(std::max(start, 0));
    return start >= 0;
}

// Count arguments below 0 are wrong usage; larger ones are clamped to the length.
bool ReadCount(qvVmState* L, int idx, size_t* out) {
    const int32_t n = IntArg(L, idx);
    *out = static_cast<size_t>(std::max(n, 0));
    return n >= 0;
}

// One single-byte argument (a separator or a trim character).
bool ReadSingleByte(qvVmState* L, int idx, char* out) {
    const std::string_view s = StringArg(L, idx);
    if (s.size() != 1) return false;
    *out = s[0];
    return true;
}

}  // namespace
}  // namespace qv

using qv::IntArg;
using qv::PushText;
using qv::StringArg;

int LowerStr(qvVmState* L) {
    return qv::MapCase(L, qv::kLowerCase);
}

int UpperStr(qvVmState* L) {
    return qv::MapCase(L, qv::kUpperCase);
}

int UnrightStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view s = StringArg(L, 1);
    size_t count;
    if (!qv::ReadCount(L, 2, &count)) return ERR_WRONGUSAGE;
    return PushText(L, s.substr(std::min(count, s.size())));
}

int UnleftStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view s = StringArg(L, 1);
    size_t count;
    if (!qv::ReadCount(L, 2, &count)) return ERR_WRONGUSAGE;
    return PushText(L, s.substr(0, s.size() - std::min(count, s.size())));
}

int Chr(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const int32_t code = IntArg(L, 1);
    if (code < 0 || code > 255) return ERR_WRONGUSAGE;
    const char c = static_cast<char>(code);
    return PushText(L, std::string_view(&c, code == 0 ? 0 : 1));
}

int MidStr(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const std::string_view s = StringArg(L, 1);
    const int32_t pos = IntArg(L, 2);
    const int32_t length = IntArg(L, 3);
    if (pos < 0) return ERR_WRONGUSAGE;
    if (length <= 0 || static_cast<size_t>(pos) >= s.size()) return PushText(L, "");
    return PushText(L, s.substr(static_cast<size_t>(pos), static_cast<size_t>(length)));
}

int RightStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view s = StringArg(L, 1);
    const size_t count = static_cast<size_t>(std::max(IntArg(L, 2), 0));
    return PushText(L, s.substr(s.size() - std::min(count, s.size())));
}

int LeftStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view s = StringArg(L, 1);
    const size_t count = static_cast<size_t>(std::max(IntArg(L, 2), 0));
    return PushText(L, s.substr(0, count));
}

int FindStr(qvVmState* L) {
    CheckArgCount(L, 2, 4);
    const std::string_view s = StringArg(L, 1);
    const std::string_view find = StringArg(L, 2);
    qv::SearchOptions options;
    if (!qv::ReadSearchOptions(L, 3, &options)) return ERR_WRONGUSAGE;
    const size_t at = qv::TextSearch(find, options.caseSensitive).Find(s, options.start);
    VmPushNumber(L, at == qv::kNotFound ? -1.0 : static_cast<double>(at));
    return 1;
}

int AddStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view a = StringArg(L, 1);
    const std::string_view b = StringArg(L, 2);
    qv::TextBuffer out(L);
    out.Append(a);
    out.Append(b);
    out.Push();
    return 1;
}

int Asc(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const std::string_view s = StringArg(L, 1);
    VmPushNumber(L, s.empty() ? 0 : static_cast<uint8_t>(s[0]));
    return 1;
}

int StrLen(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    VmPushNumber(L, static_cast<double>(StringArg(L, 1).size()));
    return 1;
}

int ReplaceStr(qvVmState* L) {
    CheckArgCount(L, 3, 5);
    const std::string_view s = StringArg(L, 1);
    const std::string_view find = StringArg(L, 2);
    const std::string_view repl = StringArg(L, 3);
    qv::SearchOptions options;
    if (!qv::ReadSearchOptions(L, 4, &options)) return ERR_WRONGUSAGE;
    const qv::TextSearch search(find, options.caseSensitive);
    size_t at = search.Find(s, options.start);
    if (at == qv::kNotFound) {
        VmPushValue(L, 1);
        return 1;
    }
    qv::TextBuffer out(L);
    if (find.size() == 1 && repl.size() == 1 && options.caseSensitive) {
        // One byte for another: a select over every byte, which the compiler vectorises.
        char* d = out.Extend(s.size());
        const char from = find[0];
        const char to = repl[0];
        std::memcpy(d, s.data(), at);
        for (size_t i = at; i < s.size(); ++i) d[i] = s[i] == from ? to : s[i];
    } else if (find.size() == repl.size()) {
        // Same lengths: one copy of s, then each match overwritten in place.
        char* d = out.Extend(s.size());
        std::memcpy(d, s.data(), s.size());
        for (; at != qv::kNotFound; at = search.Find(s, at + find.size())) {
            std::memcpy(d + at, repl.data(), repl.size());
        }
    } else {
        size_t done = 0;
        for (; at != qv::kNotFound; at = search.Find(s, done)) {
            out.Append(s.substr(done, at - done));
            out.Append(repl);
            done = at + find.size();
        }
        out.Append(s.substr(done));
    }
    out.Push();
    return 1;
}

int SplitStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view s = StringArg(L, 1);
    char separator;
    if (!qv::ReadSingleByte(L, 2, &separator)) return ERR_WRONGUSAGE;
    VmNewTable(L);
    int count = 0;
    for (size_t start = 0;; ++count) {
        const size_t end = std::min(s.find(separator, start), s.size());
        PushText(L, s.substr(start, end - start));
        VmRawSetI(L, -2, count);
        if (end == s.size()) break;
        start = end + 1;
    }
    VmPushNumber(L, count + 1);
    return 2;
}

int StrToArray(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const std::string_view s = StringArg(L, 1);
    VmNewTable(L);
    for (size_t i = 0; i <= s.size(); ++i) {
        VmPushNumber(L, i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
        VmRawSetI(L, -2, static_cast<int>(i));
    }
    return 1;
}

int TrimStr(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    std::string_view s = StringArg(L, 1);
    char c;
    if (!qv::ReadSingleByte(L, 2, &c)) return ERR_WRONGUSAGE;
    if (IntArg(L, 3) == 0) {
        s.remove_prefix(std::min(s.find_first_not_of(c), s.size()));
    } else {
        const size_t last = s.find_last_not_of(c);
        s = s.substr(0, last == qv::kNotFound ? 0 : last + 1);
    }
    return PushText(L, s);
}

int UnmidStr(qvVmState* L) {
    CheckArgCount(L, 3, 3);
    const std::string_view s = StringArg(L, 1);
    const int32_t pos = IntArg(L, 2);
    const int32_t length = IntArg(L, 3);
    if (pos < 0 || length < 0) return ERR_WRONGUSAGE;
    const size_t from = std::min(static_cast<size_t>(pos), s.size());
    const size_t to = from + std::min(static_cast<size_t>(length), s.size() - from);
    return qv::PushSpliced(L, s, from, to, {});
}

int CountStr(qvVmState* L) {
    CheckArgCount(L, 2, 4);
    const std::string_view s = StringArg(L, 1);
    const std::string_view find = StringArg(L, 2);
    qv::SearchOptions options;
    if (!qv::ReadSearchOptions(L, 3, &options)) return ERR_WRONGUSAGE;
    const qv::TextSearch search(find, options.caseSensitive);
    double count = 0;
    for (size_t at = search.Find(s, options.start); at != qv::kNotFound;
         at = search.Find(s, at + find.size())) {
        ++count;
    }
    VmPushNumber(L, count);
    return 1;
}

int InsertStr(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    const std::string_view s = StringArg(L, 1);
    const std::string_view insert = StringArg(L, 2);
    const int32_t pos = IntArg(L, 3);
    const bool overwrite = GetOptArgNumber(L, 4, 0) != 0;
    if (pos < 0) return ERR_WRONGUSAGE;
    const size_t at = std::min(static_cast<size_t>(pos), s.size());
    const size_t resume = overwrite ? std::min(at + insert.size(), s.size()) : at;
    return qv::PushSpliced(L, s, at, resume, insert);
}

int RepeatStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    const std::string_view s = StringArg(L, 1);
    const int32_t count = IntArg(L, 2);
    if (count < 1) return ERR_WRONGUSAGE;
    // More than an engine string can hold is out of memory, as any result of that size.
    if (!s.empty() && static_cast<uint64_t>(count) > UINT32_MAX / s.size()) return ERR_MEM;
    qv::TextBuffer out(L);
    const size_t total = s.size() * static_cast<size_t>(count);
    char* d = out.Extend(total);
    if (total > 0) std::memcpy(d, s.data(), s.size());
    // Doubling copies: the filled part is copied onto what follows it.
    for (size_t filled = s.size(); filled < total; filled *= 2) {
        std::memcpy(d + filled, d, std::min(filled, total - filled));
    }
    out.Push();
    return 1;
}

int MD5Str(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const std::string_view s = StringArg(L, 1);
    if (s.empty()) return ERR_WRONGUSAGE;
    qvMD5Context context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const uint8_t*>(s.data()), static_cast<int64_t>(s.size()));
    uint8_t digest[16];
    MD5Final(&context, digest);
    char text[qv::kMD5TextSize];
    qv::MD5ToText(digest, text);
    return PushText(L, std::string_view(text, 32));
}

int CRC32Str(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const std::string_view s = StringArg(L, 1);
    if (s.empty()) return ERR_WRONGUSAGE;
    VmPushNumber(L, qv::Crc32Update(0, reinterpret_cast<const uint8_t*>(s.data()), s.size()));
    return 1;
}
