#include "libs/system/tool_types.h"

namespace qv {
namespace {

std::string_view SkipSpaces(std::string_view text) {
    size_t start = text.find_first_not_of(' ');
    return start == std::string_view::npos ? std::string_view() : text.substr(start);
}

// After "=": a quoted value runs to the next quote, any other to ")" with trailing spaces cut.
std::string_view ValueOf(std::string_view text) {
    text = SkipSpaces(text);
    if (!text.empty() && text.front() == '"') {
        text.remove_prefix(1);
        return text.substr(0, text.find('"'));
    }
    text = text.substr(0, text.find(')'));
    size_t last = text.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

}  // namespace

bool ParseToolType(std::string_view entry, ToolType* out) {
    entry = SkipSpaces(entry);
    if (entry.empty()) return false;
    out->enabled = entry.front() != '(';
    if (!out->enabled) entry.remove_prefix(1);
    size_t equals = entry.find('=');
    out->key.clear();
    if (equals != std::string_view::npos) {
        for (char c : entry.substr(0, equals)) {
            if (c != ' ') out->key.push_back(c);
        }
        out->value.assign(ValueOf(entry.substr(equals + 1)));
    } else {
        out->key.assign(entry.substr(0, entry.find_first_of(" )")));
        out->value.clear();
    }
    return true;
}

std::string FormatToolType(const ToolType& toolType) {
    std::string text = toolType.key;
    if (!toolType.value.empty()) text += "=" + toolType.value;
    return toolType.enabled ? text : "(" + text + ")";
}

}  // namespace qv
