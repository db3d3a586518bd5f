// Tool types of desktop icons as scripts see them: entries "KEY=value", "KEY", and either
// disabled by enclosing it in parentheses.
#pragma once

#include <string>
#include <string_view>

namespace qv {

struct ToolType {
    std::string key;
    std::string value;
    bool enabled = true;
};

// Reads one tool-type text; false for an empty entry, which is skipped.
bool ParseToolType(std::string_view entry, ToolType* out);
// The text of a tool type: key, "=value" when value is not empty, in parentheses when
// disabled.
std::string FormatToolType(const ToolType& toolType);

}  // namespace qv
