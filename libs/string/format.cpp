// FormatStr: our own reading of each conversion specification, then one item at a time
// through the C library's formatted print (strings, which may hold zero bytes, by hand).
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "engine/convert.h"
#include "libs/string/commands.h"
#include "libs/string/text_buffer.h"
#include "runtime/arguments.h"

namespace qv {
namespace {

constexpr size_t kMaxSpecLength = 18;  // from "%" to the conversion character
constexpr size_t kMaxFieldDigits = 2;  // of the width and of the precision
// A string longer than this, without a precision, is appended as it is.
constexpr size_t kRawStringLength = 99;

struct Spec {
    std::string_view text;  // from "%" to the conversion character
    bool leftAlign = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
    char conversion = 0;
};

bool IsFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0';
}

// Up to kMaxFieldDigits digits at *i; false when a further digit follows.
bool ReadField(std::string_view format, size_t* i, size_t* value) {
    size_t n = 0;
    while (*i < format.size() && format[*i] >= '0' && format[*i] <= '9') {
        if (++n > kMaxFieldDigits) return false;
        *value = *value * 10 + static_cast<size_t>(format[*i] - '0');
        ++*i;
    }
    return true;
}

// The conversion item starting at the "%" at *i; on success *i is the conversion character.
bool ReadSpec(std::string_view format, size_t* i, Spec* spec) {
    const size_t start = *i;
    size_t at = start + 1;
    for (; at < format.size() && IsFlag(format[at]); ++at) {
        if (format[at] == '-') spec->leftAlign = true;
    }
    if (!ReadField(format, &at, &spec->width)) return false;
    if (at < format.size() && format[at] == '.') {
        spec->hasPrecision = true;
        ++at;
        if (!ReadField(format, &at, &spec->precision)) return false;
    }
    if (at >= format.size() || at - start + 1 > kMaxSpecLength) return false;
    spec->conversion = format[at];
    spec->text = format.substr(start, at - start + 1);
    *i = at;
    return true;
}

// One item through the C library; most fit the stack buffer, the rest are formatted again
// straight into the result.
template <typename T>
void AppendFormatted(TextBuffer* out, const Spec& spec, T value) {
    char format[kMaxSpecLength + 1];
    spec.text.copy(format, spec.text.size());
    format[spec.text.size()] = '\0';
    char small[128];
    const int n = std::snprintf(small, sizeof small, format, value);
    if (n < 0) return;
    const auto length = static_cast<size_t>(n);
    if (length < sizeof small) {
        out->Append(small, length);
        return;
    }
    std::snprintf(out->Extend(length + 1), length + 1, format, value);
    out->Drop(1);
}

// "%s" by hand, so that zero bytes stay: precision cuts, width pads with blanks.
void AppendString(TextBuffer* out, const Spec& spec, std::string_view s) {
    if (!spec.hasPrecision && s.size() > kRawStringLength) {
        out->Append(s);
        return;
    }
    if (spec.hasPrecision) s = s.substr(0, spec.precision);
    const size_t pad = spec.width > s.size() ? spec.width - s.size() : 0;
    if (pad > 0 && !spec.leftAlign) std::memset(out->Extend(pad), ' ', pad);
    out->Append(s);
    if (pad > 0 && spec.leftAlign) std::memset(out->Extend(pad), ' ', pad);
}

// "%q": in double quotes, with a backslash before '"', '\' and a line break, and a zero byte
// as "\000".
void AppendQuoted(TextBuffer* out, std::string_view s) {
    out->Append('"');
    for (const char c : s) {
        if (c == '"' || c == '\\' || c == '\n') {
            out->Append('\\');
            out->Append(c);
        } else if (c == '\0') {
            out->Append("\\000");
        } else {
            out->Append(c);
        }
    }
    out->Append('"');
}

// A plain "%d" or "%i", by far the most common item, without the C library's parsing.
void AppendInteger(TextBuffer* out, int32_t value) {
    char text[16];
    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    out->Append(text, static_cast<size_t>(end - text));
}

// Formats argument arg by spec; false for an unknown conversion.
bool AppendItem(qvVmState* L, TextBuffer* out, const Spec& spec, int arg) {
    switch (spec.conversion) {
        case 'd':
        case 'i':
            if (spec.text.size() == 2) {
                AppendInteger(out, Trunc32(GetArgNumber(L, arg)));
                return true;
            }
            [[fallthrough]];
        case 'c':
            AppendFormatted(out, spec, static_cast<int>(Trunc32(GetArgNumber(L, arg))));
            return true;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            AppendFormatted(out, spec, static_cast<unsigned>(GetArgUInt32(L, arg)));
            return true;
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G':
            AppendFormatted(out, spec, GetArgNumber(L, arg));
            return true;
        case 's':
            AppendString(out, spec, StringArg(L, arg));
            return true;
        case 'q':
            AppendQuoted(out, StringArg(L, arg));
            return true;
        default:
            return false;
    }
}

}  // namespace
}  // namespace qv

int FormatStr(qvVmState* L) {
    CheckArgCount(L, 1, 0);
    const std::string_view format = qv::StringArg(L, 1);
    qv::TextBuffer out(L);
    int arg = 2;
    for (size_t i = 0; i < format.size(); ++i) {
        const size_t run = i;
        while (i < format.size() && format[i] != '%') ++i;
        out.Append(format.data() + run, i - run);
        if (i == format.size()) break;
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out.Append('%');
            ++i;
            continue;
        }
        qv::Spec spec;
        if (!qv::ReadSpec(format, &i, &spec) || !qv::AppendItem(L, &out, spec, arg++))
            return ERR_WRONGUSAGE;
    }
    out.Push();
    return 1;
}
