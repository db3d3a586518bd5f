#include "libs/string/pattern.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "engine/convert.h"
#include "engine/host.h"
#include "libs/string/text_buffer.h"
#include "platform/linux/locale.h"
#include "runtime/arguments.h"

namespace qv {
namespace {

constexpr int kMaxCaptures = 32;
constexpr int kMaxMatchDepth = 200;
// The abort flag is tested once per this many matcher steps.
constexpr uint32_t kAbortCheckMask = 0xFFFF;
// Subjects shorter than this are scanned without the first-byte filter, whose table costs
// more than it saves there.
constexpr size_t kFilterMinLength = 64;

constexpr ptrdiff_t kCaptureOpen = -1;
constexpr ptrdiff_t kCapturePosition = -2;

using Byte = uint8_t;

struct Capture {
    const Byte* init;
    ptrdiff_t length;  // or kCaptureOpen, kCapturePosition
};

struct MatchState {
    MatchState(qvVmState* state, const char* subject, size_t subjectLength, const char* pattern,
               size_t patternLength)
        : L(state),
          srcInit(reinterpret_cast<const Byte*>(subject)),
          srcEnd(srcInit + subjectLength),
          patternEnd(reinterpret_cast<const Byte*>(pattern) + patternLength) {}

    qvVmState* L;
    const Byte* srcInit;
    const Byte* srcEnd;
    const Byte* patternEnd;
    int level = 0;  // captures in use
    int depth = 0;  // nested PatternMatch calls
    uint32_t steps = 0;
    std::array<Capture, kMaxCaptures> capture{};
};

[[noreturn]] void Fail(const MatchState* ms, int code) {
    RaiseError(ms->L, code);
}

void Step(MatchState* ms) {
    if ((++ms->steps & kAbortCheckMask) == 0 &&
        Host(ms->L).AbortFlag().load(std::memory_order_relaxed) != 0) {
        Fail(ms, ERR_USERABORT);
    }
}

struct DepthGuard {
    explicit DepthGuard(MatchState* ms) : ms_(ms) {
        if (ms_->depth >= kMaxMatchDepth) Fail(ms_, ERR_STACK);
        ++ms_->depth;
    }
    ~DepthGuard() { --ms_->depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    MatchState* ms_;
};

// Character classes of the C locale, whatever the process's locale; letters and letters or
// digits by the locale layer.
bool IsUpper(Byte c) {
    return c >= 'A' && c <= 'Z';
}
bool IsLower(Byte c) {
    return c >= 'a' && c <= 'z';
}
bool IsDigit(Byte c) {
    return c >= '0' && c <= '9';
}
bool IsPunct(Byte c) {
    return (c >= 33 && c <= 47) || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) ||
           (c >= 123 && c <= 126);
}
bool IsHexDigit(Byte c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Byte c against "%" followed by cl: a class letter (its capital for the complement) or
// the character cl itself.
bool MatchClass(Byte c, Byte cl) {
    bool result;
    switch (IsUpper(cl) ? cl + ('a' - 'A') : cl) {
        case 'a':
            result = LocaleIsAlpha(c) != 0;
            break;
        case 'c':
            result = c < 32 || c == 127;
            break;
        case 'd':
            result = IsDigit(c);
            break;
        case 'l':
            result = IsLower(c);
            break;
        case 'p':
            result = IsPunct(c);
            break;
        case 's':
            result = c == ' ' || (c >= '\t' && c <= '\r');
            break;
        case 'u':
            result = IsUpper(c);
            break;
        case 'w':
            result = LocaleIsAlNum(c) != 0;
            break;
        case 'x':
            result = IsHexDigit(c);
            break;
        case 'z':
            result = c == 0;
            break;
        default:
            return cl == c;
    }
    return IsUpper(cl) ? !result : result;
}

// Byte c against the set from p ("[") to close ("]").
bool MatchSet(Byte c, const Byte* p, const Byte* close) {
    bool in = true;
    if (p[1] == '^') {
        in = false;
        ++p;
    }
    while (++p < close) {
        if (*p == '%') {
            ++p;
            if (MatchClass(c, *p)) return in;
        } else if (p[1] == '-' && p + 2 < close) {
            p += 2;
            if (p[-2] <= c && c <= *p) return in;
        } else if (*p == c) {
            return in;
        }
    }
    return !in;
}

// The end of the single-character class at p.
const Byte* ClassEnd(const MatchState* ms, const Byte* p) {
    const Byte* const end = ms->patternEnd;
    const Byte first = *p++;
    if (first == '%') {
        if (p == end) Fail(ms, ERR_MALFORMPAT1);
        return p + 1;
    }
    if (first != '[') return p;
    if (p < end && *p == '^') ++p;
    // The first character always belongs to the set, so "[]]" holds "]".
    do {
        if (p == end) Fail(ms, ERR_MALFORMPAT2);
        if (*p++ == '%' && p < end) ++p;
    } while (p == end || *p != ']');
    return p + 1;
}

bool SingleByte(Byte c, const Byte* p, const Byte* ep) {
    switch (*p) {
        case '.':
            return true;
        case '%':
            return MatchClass(c, p[1]);
        case '[':
            return MatchSet(c, p, ep - 1);
        default:
            return *p == c;
    }
}

bool SingleMatch(const MatchState* ms, const Byte* s, const Byte* p, const Byte* ep) {
    return s < ms->srcEnd && SingleByte(*s, p, ep);
}

const Byte* PatternMatch(MatchState* ms, const Byte* s, const Byte* p);

const Byte* MaxExpand(MatchState* ms, const Byte* s, const Byte* p, const Byte* ep) {
    ptrdiff_t i = 0;
    for (; SingleMatch(ms, s + i, p, ep); ++i) Step(ms);
    for (;; --i) {
        Step(ms);
        if (const Byte* r = PatternMatch(ms, s + i, ep + 1)) return r;
        if (i == 0) return nullptr;
    }
}

const Byte* MinExpand(MatchState* ms, const Byte* s, const Byte* p, const Byte* ep) {
    for (;; ++s) {
        Step(ms);
        if (const Byte* r = PatternMatch(ms, s, ep + 1)) return r;
        if (!SingleMatch(ms, s, p, ep)) return nullptr;
    }
}

const Byte* StartCapture(MatchState* ms, const Byte* s, const Byte* p, ptrdiff_t what) {
    if (ms->level >= kMaxCaptures) Fail(ms, ERR_TOOMANYCAPTURES);
    ms->capture[ms->level] = {s, what};
    ++ms->level;
    const Byte* r = PatternMatch(ms, s, p);
    if (r == nullptr) --ms->level;
    return r;
}

const Byte* EndCapture(MatchState* ms, const Byte* s, const Byte* p) {
    int l = ms->level - 1;
    while (l >= 0 && ms->capture[l].length != kCaptureOpen) --l;
    if (l < 0) Fail(ms, ERR_INVPATCAP);
    ms->capture[l].length = s - ms->capture[l].init;
    const Byte* r = PatternMatch(ms, s, p);
    if (r == nullptr) ms->capture[l].length = kCaptureOpen;
    return r;
}

// "%bxy" with p after "%b".
const Byte* MatchBalance(const MatchState* ms, const Byte* s, const Byte* p) {
    if (ms->patternEnd - p < 2) Fail(ms, ERR_UNBALANCEDPAT);
    if (s >= ms->srcEnd || *s != p[0]) return nullptr;
    int open = 1;
    while (++s < ms->srcEnd) {
        if (*s == p[1]) {
            if (--open == 0) return s + 1;
        } else if (*s == p[0]) {
            ++open;
        }
    }
    return nullptr;
}

// "%f[set]" with p after "%f": the end of the set when the frontier lies at s, else nullptr.
const Byte* MatchFrontier(const MatchState* ms, const Byte* s, const Byte* p) {
    if (p == ms->patternEnd || *p != '[') Fail(ms, ERR_MISSINGOPBRACK);
    const Byte* ep = ClassEnd(ms, p);
    const Byte previous = s == ms->srcInit ? 0 : s[-1];
    const Byte current = s < ms->srcEnd ? *s : 0;
    return !MatchSet(previous, p, ep - 1) && MatchSet(current, p, ep - 1) ? ep : nullptr;
}

// "%1" to "%9": the subject must continue with that capture's text. A position capture has
// no text and never matches.
const Byte* MatchBackReference(const MatchState* ms, const Byte* s, Byte digit) {
    const int l = digit - '1';
    if (l >= ms->level || ms->capture[l].length == kCaptureOpen) Fail(ms, ERR_INVCAPIDX);
    const Capture& c = ms->capture[l];
    if (c.length == kCapturePosition || ms->srcEnd - s < c.length) return nullptr;
    return std::memcmp(c.init, s, static_cast<size_t>(c.length)) == 0 ? s + c.length : nullptr;
}

// The end of the match of the pattern from p at s, or nullptr. Items without a repetition
// advance in the loop; only repetitions and captures recurse.
const Byte* PatternMatch(MatchState* ms, const Byte* s, const Byte* p) {
    DepthGuard guard(ms);
    const Byte* const end = ms->patternEnd;
    for (;;) {
        Step(ms);
        if (p == end) return s;
        switch (*p) {
            case '(':
                if (p + 1 < end && p[1] == ')') return StartCapture(ms, s, p + 2, kCapturePosition);
                return StartCapture(ms, s, p + 1, kCaptureOpen);
            case ')':
                return EndCapture(ms, s, p + 1);
            case '$':
                if (p + 1 == end) return s == ms->srcEnd ? s : nullptr;
                break;
            case '%':
                if (p + 1 == end) break;  // ClassEnd raises
                if (p[1] == 'b') {
                    if ((s = MatchBalance(ms, s, p + 2)) == nullptr) return nullptr;
                    p += 4;
                    continue;
                }
                if (p[1] == 'f') {
                    if ((p = MatchFrontier(ms, s, p + 2)) == nullptr) return nullptr;
                    continue;
                }
                if (p[1] >= '1' && p[1] <= '9') {
                    if ((s = MatchBackReference(ms, s, p[1])) == nullptr) return nullptr;
                    p += 2;
                    continue;
                }
                break;
            default:
                break;
        }
        const Byte* ep = ClassEnd(ms, p);
        const bool matched = SingleMatch(ms, s, p, ep);
        switch (ep < end ? *ep : 0) {
            case '?':
                if (matched) {
                    if (const Byte* r = PatternMatch(ms, s + 1, ep + 1)) return r;
                }
                p = ep + 1;
                continue;
            case '*':
                return MaxExpand(ms, s, p, ep);
            case '+':
                return matched ? MaxExpand(ms, s + 1, p, ep) : nullptr;
            case '-':
                return MinExpand(ms, s, p, ep);
            default:
                if (!matched) return nullptr;
                ++s;
                p = ep;
        }
    }
}

// A match attempt at s with fresh captures; a match that leaves a capture open raises
// ERR_UNFINISHEDCAPTURE.
const Byte* MatchAt(MatchState* ms, const Byte* s, const Byte* p) {
    ms->level = 0;
    const Byte* e = PatternMatch(ms, s, p);
    if (e == nullptr) return nullptr;
    for (int i = 0; i < ms->level; ++i) {
        if (ms->capture[i].length == kCaptureOpen) Fail(ms, ERR_UNFINISHEDCAPTURE);
    }
    return e;
}

// The bytes that can begin a match, when the pattern's first item must match one byte (a
// single-character class without "?", "*" or "-"): positions that start with another byte
// are skipped without trying the matcher.
struct FirstByteFilter {
    FirstByteFilter(const MatchState* ms, const Byte* p) {
        const Byte* end = ms->patternEnd;
        if (ms->srcEnd - ms->srcInit < static_cast<ptrdiff_t>(kFilterMinLength) || p == end) return;
        switch (*p) {
            case '(':
            case ')':
                return;
            case '$':
                if (p + 1 == end) return;
                break;
            case '%':
                if (p + 1 < end && (p[1] == 'b' || p[1] == 'f' || (p[1] >= '1' && p[1] <= '9')))
                    return;
                break;
            default:
                break;
        }
        const Byte* ep = ClassEnd(ms, p);
        if (ep < end && (*ep == '?' || *ep == '*' || *ep == '-')) return;
        for (int c = 0; c < 256; ++c) table[c] = SingleByte(static_cast<Byte>(c), p, ep);
        active = true;
    }

    // The first position from s on where a match could begin (end when there is none).
    const Byte* Next(const Byte* s, const Byte* end) const {
        if (!active) return s;
        while (s < end && !table[*s]) ++s;
        return s;
    }

    bool active = false;
    std::array<bool, 256> table{};
};

// Pushes capture i of the match [s, e); with no captures, capture 0 is the whole match.
void PushCapture(MatchState* ms, int i, const Byte* s, const Byte* e) {
    qvVmState* L = ms->L;
    if (i >= ms->level) {
        if (i != 0) Fail(ms, ERR_INVCAPIDX);
        VmPushLString(L, reinterpret_cast<const char*>(s), static_cast<size_t>(e - s));
        return;
    }
    const Capture& c = ms->capture[i];
    if (c.length == kCaptureOpen) Fail(ms, ERR_UNFINISHEDCAPTURE);
    if (c.length == kCapturePosition) {
        VmPushNumber(L, static_cast<double>(c.init - ms->srcInit + 1));
    } else {
        VmPushLString(L, reinterpret_cast<const char*>(c.init), static_cast<size_t>(c.length));
    }
}

int PushCaptures(MatchState* ms, const Byte* s, const Byte* e) {
    const int n = ms->level == 0 ? 1 : ms->level;
    if (VmCheckStack(ms->L, n) == 0) Fail(ms, ERR_STACK);
    for (int i = 0; i < n; ++i) PushCapture(ms, i, s, e);
    return n;
}

// The iterator of PatternFindStr; upvalues: the subject, the pattern, the next position.
int FindNext(qvVmState* L) {
    const char* subject = VmToString(L, VmUpvalueIndex(1));
    const size_t subjectLength = VmStrLen(L, VmUpvalueIndex(1));
    const char* pattern = VmToString(L, VmUpvalueIndex(2));
    const size_t patternLength = VmStrLen(L, VmUpvalueIndex(2));
    const double position = VmToNumber(L, VmUpvalueIndex(3));
    if (!(position >= 0 && position <= static_cast<double>(subjectLength))) return 0;
    MatchState ms(L, subject, subjectLength, pattern, patternLength);
    const auto* p = reinterpret_cast<const Byte*>(pattern);
    const FirstByteFilter filter(&ms, p);
    for (const Byte* s = ms.srcInit + static_cast<size_t>(position); s <= ms.srcEnd; ++s) {
        s = filter.Next(s, ms.srcEnd);
        if (filter.active && s == ms.srcEnd) break;
        const Byte* e = MatchAt(&ms, s, p);
        if (e == nullptr) continue;
        VmPushNumber(L, static_cast<double>(e - ms.srcInit + (e == s ? 1 : 0)));
        VmReplace(L, VmUpvalueIndex(3));
        return PushCaptures(&ms, s, e);
    }
    return 0;
}

// Appends capture i of the match [s, e) as replacement text.
void AppendCapture(MatchState* ms, int i, const Byte* s, const Byte* e, TextBuffer* out) {
    PushCapture(ms, i, s, e);
    const char* text = VmToString(ms->L, -1);
    out->Append(text, VmStrLen(ms->L, -1));
    VmSetTop(ms->L, -2);
}

// Replacement text: "%0" the whole match, "%1" to "%9" a capture, "%" and any other
// character that character.
void AppendReplacement(MatchState* ms, const Byte* s, const Byte* e, const char* repl,
                       size_t length, TextBuffer* out) {
    for (size_t i = 0; i < length; ++i) {
        const char c = repl[i];
        if (c != '%' || i + 1 == length) {
            out->Append(c);
            continue;
        }
        const char next = repl[++i];
        if (next == '0') {
            out->Append(reinterpret_cast<const char*>(s), static_cast<size_t>(e - s));
        } else if (next >= '1' && next <= '9') {
            AppendCapture(ms, next - '1', s, e, out);
        } else {
            out->Append(next);
        }
    }
}

// The replacement function at stack index 3 called with the captures; a string or number
// result is appended, anything else removes the match.
void AppendCallResult(MatchState* ms, const Byte* s, const Byte* e, TextBuffer* out) {
    qvVmState* L = ms->L;
    VmPushValue(L, 3);
    VmCall(L, PushCaptures(ms, s, e), 1);
    const int type = VmType(L, -1);
    if (type == VM_TSTRING || type == VM_TNUMBER) {
        const char* text = VmToString(L, -1);
        out->Append(text, VmStrLen(L, -1));
    }
    VmSetTop(L, -2);
}

}  // namespace
}  // namespace qv

int PatternFindStr(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    GetArgString(L, 1, nullptr);
    GetArgString(L, 2, nullptr);
    VmPushNumber(L, 0);
    VmPushCClosure(L, qv::FindNext, 3);
    return 1;
}

int PatternReplaceStr(qvVmState* L) {
    using qv::Byte;
    CheckArgCount(L, 3, 4);
    size_t subjectLength = 0;
    size_t patternLength = 0;
    size_t replLength = 0;
    const char* subject = GetArgString(L, 1, &subjectLength);
    const char* pattern = GetArgString(L, 2, &patternLength);
    const int replType = VmType(L, 3);
    if (replType != VM_TSTRING && replType != VM_TNUMBER && replType != VM_TFUNCTION)
        return ERR_WRONGUSAGE;
    const char* repl = replType != VM_TFUNCTION ? GetArgString(L, 3, &replLength) : nullptr;
    const double max = GetOptArgNumber(L, 4, static_cast<double>(subjectLength) + 1);
    const bool anchor = patternLength > 0 && pattern[0] == '^';
    if (anchor) {
        ++pattern;
        --patternLength;
    }
    qv::MatchState ms(L, subject, subjectLength, pattern, patternLength);
    qv::TextBuffer out(L);
    const auto* p = reinterpret_cast<const Byte*>(pattern);
    const Byte* s = ms.srcInit;
    double count = 0;
    if (max >= 1) {
        const qv::FirstByteFilter filter(&ms, p);
        while (count < max) {
            const Byte* next = anchor ? s : filter.Next(s, ms.srcEnd);
            out.Append(reinterpret_cast<const char*>(s), static_cast<size_t>(next - s));
            s = next;
            if (filter.active && s == ms.srcEnd) break;
            const Byte* e = qv::MatchAt(&ms, s, p);
            if (e != nullptr) {
                ++count;
                if (repl != nullptr) {
                    qv::AppendReplacement(&ms, s, e, repl, replLength, &out);
                } else {
                    qv::AppendCallResult(&ms, s, e, &out);
                }
            }
            if (e != nullptr && e > s) {
                s = e;
            } else if (s < ms.srcEnd) {
                out.Append(static_cast<char>(*s++));
            } else {
                break;
            }
            if (anchor) break;
        }
    }
    out.Append(reinterpret_cast<const char*>(s), static_cast<size_t>(ms.srcEnd - s));
    out.Push();
    VmPushNumber(L, count);
    return 2;
}
