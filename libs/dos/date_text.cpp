#include "libs/dos/date_text.h"

#include <cstdio>

namespace qv {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The digits of text[at, at + n) as a number; false when one is no digit.
bool Digits(std::string_view text, size_t at, size_t n, int32_t* value) {
    *value = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        *value = *value * 10 + (text[i] - '0');
    }
    return true;
}

int MonthOf(std::string_view name) {
    for (int m = 0; m < 12; ++m) {
        if (Lower(name[0]) == Lower(kMonths[m][0]) && Lower(name[1]) == Lower(kMonths[m][1]) &&
            Lower(name[2]) == Lower(kMonths[m][2]))
            return m;
    }
    return -1;
}

}  // namespace

std::string FormatDateText(const qvDateFields& f) {
    char text[64];
    int month = f.month >= 0 && f.month < 12 ? f.month : 0;
    std::snprintf(text, sizeof text, "%.2d-%s-%d %.2d:%.2d:%.2d", f.day, kMonths[month], f.year,
                  f.hour, f.minute, f.second);
    return text;
}

bool ParseDateText(std::string_view text, qvDateFields* f) {
    if (text.size() < 20 || text[2] != '-' || text[6] != '-' || text[14] != ':' ||
        text[17] != ':') {
        return false;
    }
    f->month = MonthOf(text.substr(3, 3));
    return f->month >= 0 && Digits(text, 0, 2, &f->day) && Digits(text, 7, 4, &f->year) &&
           Digits(text, 12, 2, &f->hour) && Digits(text, 15, 2, &f->minute) &&
           Digits(text, 18, 2, &f->second) && f->day >= 1 && f->day <= 31 && f->hour <= 23 &&
           f->minute <= 59 && f->second <= 59;
}

}  // namespace qv
