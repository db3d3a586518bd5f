#include "objects/text/tags.h"

#include <cmath>
#include <cstring>

#include "engine/error_codes.h"
#include "runtime/arguments.h"
#include "runtime/number_literal.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const char* SkipBlanks(const char* p) {
    while (IsBlank(*p)) ++p;
    return p;
}

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Whether text starts with the lower-case word, in any case. Stops at the text's NUL.
bool StartsWithWord(const char* text, const char* word) {
    for (; *word != '\0'; ++text, ++word) {
        if (Fold(*text) != *word) return false;
    }
    return true;
}

// Script values become 32-bit patterns: from 2^31 up they keep their bits (colours with a
// transparency byte), below 0 they are two's complement; beyond either end they saturate.
uint32_t ToBitPattern(double value) {
    if (std::isnan(value)) return 0;
    if (value < 0) return value <= -2147483648.0 ? 0x80000000u : uint32_t(int32_t(value));
    return value >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(value);
}

// One value after "=" or ",", blanks around it: a script constant or a number literal.
int ReadValue(qvVmState* L, const char** at, uint32_t* value) {
    const char* p = SkipBlanks(*at);
    if (*p == '"') return ERR_VALUEEXPECTED;
    double number = 0;
    int used = 0;
    if (*p == '#') {
        if (L == nullptr) return ERR_FINDCST;  // no engine, no script constants
        const char* string = nullptr;
        if (int error = GetConstantValue(L, p, &used, &string, &number)) return error;
        if (string != nullptr) return ERR_VALUEEXPECTED;
    } else {
        int error = 0;
        number = ParseNumberLiteral(p, &used, &error);
        if (error != 0) return error;
    }
    *value = ToBitPattern(number);
    *at = SkipBlanks(p + used);
    return 0;
}

// The next of several values, when a "," announces it.
bool NextValueFollows(const char** at) {
    if (**at != ',') return false;
    ++*at;
    return true;
}

bool InRange(uint32_t value, int32_t limit) {
    return int32_t(value) >= 1 && int32_t(value) <= limit;
}

// "=colour[,size[,direction]]" of an opening shadow tag.
int ReadShadowValues(qvVmState* L, const char** at, qvTextStyle* style) {
    uint32_t value = 0;
    if (int error = ReadValue(L, at, &value)) return error;
    style->shadowColour = value;
    if (!NextValueFollows(at)) return 0;
    if (int error = ReadValue(L, at, &value)) return error;
    if (!InRange(value, kMaxTagShadowSize)) return ERR_WRONGUSAGE;
    style->shadowSize = int32_t(value);
    if (!NextValueFollows(at)) return 0;
    if (int error = ReadValue(L, at, &value)) return error;
    style->shadowDirection = int32_t(value & 255);
    return 0;
}

// "=colour[,size]" of an opening edge tag.
int ReadEdgeValues(qvVmState* L, const char** at, qvTextStyle* style) {
    uint32_t value = 0;
    if (int error = ReadValue(L, at, &value)) return error;
    style->edgeColour = value;
    if (!NextValueFollows(at)) return 0;
    if (int error = ReadValue(L, at, &value)) return error;
    if (!InRange(value, kMaxTagEdgeSize)) return ERR_WRONGUSAGE;
    style->edgeSize = int32_t(value);
    return 0;
}

// "=" after optional blanks; true when it was there (and is passed).
bool EqualsFollows(const char** at) {
    const char* p = SkipBlanks(*at);
    if (*p != '=') return false;
    *at = p + 1;
    return true;
}

void SetFlag(qvTextStyle* style, uint32_t flag, bool on) {
    style->styleFlags = on ? style->styleFlags | flag : style->styleFlags & ~flag;
}

enum class TagName { Flag, Colour, Shadow, Edge };

// The tag's name at *at, which moves past it; ERR_UNKTEXTFMT when there is none.
int ReadTagName(const char** at, TagName* name, uint32_t* flag) {
    const char* p = *at;
    const char letter = Fold(*p);
    if (letter == 'b' || letter == 'i' || letter == 'u') {
        if (!IsBlank(p[1]) && p[1] != ']' && p[1] != '\0') return ERR_UNKTEXTFMT;
        *name = TagName::Flag;
        *flag = letter == 'b'   ? QV_STYLE_BOLD
                : letter == 'i' ? QV_STYLE_ITALIC
                                : QV_STYLE_UNDERLINED;
        *at = p + 1;
        return 0;
    }
    static constexpr struct {
        const char* word;
        TagName name;
    } kLongNames[] = {
        {"color", TagName::Colour}, {"shadow", TagName::Shadow}, {"edge", TagName::Edge}};
    for (const auto& entry : kLongNames) {
        if (!StartsWithWord(p, entry.word)) continue;
        *name = entry.name;
        *at = p + std::strlen(entry.word);
        return 0;
    }
    return ERR_UNKTEXTFMT;
}

}  // namespace

int32_t CountColourTags(const char* text) {
    int32_t count = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '[') continue;
        const char* word = p + 1;
        while (IsBlank(*word) || *word == '\r' || *word == '\n') ++word;
        if (StartsWithWord(word, "color")) ++count;
    }
    return count;
}

int ParseTextTag(qvVmState* L, const char* text, qvTextStyle* style, qvColourStack* colours,
                 int32_t* used) {
    const char* p = SkipBlanks(text + 1);
    const bool closing = *p == '/';
    if (closing) p = SkipBlanks(p + 1);
    TagName name{};
    uint32_t flag = 0;
    if (int error = ReadTagName(&p, &name, &flag)) return error;
    qvTextStyle changed = *style;
    switch (name) {
        case TagName::Flag:
            SetFlag(&changed, flag, !closing);
            break;
        case TagName::Colour:
            if (closing) break;
            if (!EqualsFollows(&p)) return ERR_TEXTARG;
            if (int error = ReadValue(L, &p, &changed.colour)) return error;
            break;
        case TagName::Shadow:
            SetFlag(&changed, QV_STYLE_SHADOW, !closing);
            if (!closing && EqualsFollows(&p)) {
                if (int error = ReadShadowValues(L, &p, &changed)) return error;
            }
            break;
        case TagName::Edge:
            SetFlag(&changed, QV_STYLE_EDGE, !closing);
            if (!closing && EqualsFollows(&p)) {
                if (int error = ReadEdgeValues(L, &p, &changed)) return error;
            }
            break;
    }
    p = SkipBlanks(p);
    if (*p != ']') return ERR_SQBRACKETCLOSE;
    if (name == TagName::Colour) {
        if (closing) {
            if (colours->count == 0) return ERR_TEXTSYNTAX;
            changed.colour = colours->entries[--colours->count];
        } else {
            if (colours->count >= colours->capacity) return ERR_INTERNAL;
            colours->entries[colours->count++] = style->colour;
        }
    }
    *style = changed;
    *used = int32_t(p + 1 - text);
    return 0;
}
