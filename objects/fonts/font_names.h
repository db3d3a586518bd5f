// Font names and file names compared as the run-time compares names: without regard to case.
#pragma once

#include <string_view>

#include "runtime/strings.h"

namespace qv::fonts {

// Whether text ends in ending, letters compared without regard to case.
inline bool EndsWithNoCase(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() &&
           StrNICmp(text.data() + text.size() - ending.size(), ending.data(), ending.size()) == 0;
}

}  // namespace qv::fonts
