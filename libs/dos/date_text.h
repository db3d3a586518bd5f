// The date text of file attributes: "DD-Mon-YYYY HH:MM:SS", for example
// "05-Dec-2026 15:47:09", with the month names "Jan" .. "Dec".
#pragma once

#include <string>
#include <string_view>

#include "platform/linux/file_attributes.h"

namespace qv {

std::string FormatDateText(const qvDateFields& fields);

// Reads a date text: "-" at positions 2 and 6, ":" at 14 and 17, day 1-31, a month name in
// any letter case, the year at 7, hour (12) up to 23, minute (15) and second (18) up to 59.
// Texts shorter than 20 characters are refused; what follows the 20th is ignored. Whether
// the day exists in its month is TimeToDateStamp's decision.
bool ParseDateText(std::string_view text, qvDateFields* fields);

}  // namespace qv
