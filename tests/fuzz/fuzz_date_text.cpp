// Date texts of file attributes come from scripts: any bytes must parse or be refused
// without reading past their end; what parses formats back to a text that parses to the
// same fields (for four-digit years), and a date that converts to a stamp converts back to
// those fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "libs/dos/date_text.h"

namespace {

bool Same(const qvDateFields& a, const qvDateFields& b) {
    return a.second == b.second && a.minute == b.minute && a.hour == b.hour && a.day == b.day &&
           a.month == b.month && a.year == b.year;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's bytes, so that ASan sees any read past its end.
    std::string text(reinterpret_cast<const char*>(data), size);
    qvDateFields fields;
    if (!qv::ParseDateText(std::string_view(text.data(), text.size()), &fields)) return 0;
    qvDateFields again;
    // The text writes the year without leading zeros, so only four-digit years come back.
    if (fields.year >= 1000 &&
        (!qv::ParseDateText(qv::FormatDateText(fields), &again) || !Same(fields, again))) {
        std::abort();
    }
    qvDateStamp stamp;
    if (TimeToDateStamp(&fields, &stamp)) {
        ExamineEntry(&stamp, &again, 0);
        if (!Same(fields, again)) std::abort();
    }
    return 0;
}
