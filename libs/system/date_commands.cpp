// Dates and times of the wall clock in local time, with English names whatever the locale.
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string_view>

#include <cstdlib>
#include <string>
#include "engine/convert.h"
#include "libs/system/commands.h"
#include "platform/linux/time.h"
#include "runtime/arguments.h"
#include "runtime/strings.h"

namespace qv {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

enum : int32_t { kDateYear = 0, kDateMonth = 1, kDateDay = 2, kDateTime = 3 };

constexpr size_t kFullDateLength = 20;
constexpr size_t kDateOnlyLength = 11;

std::tm LocalNow() {
    time_t now = WallSeconds();
    std::tm fields{};
    localtime_r(&now, &fields);
    return fields;
}

int PushFormatted(qvVmState* L, const char* format, auto... values) {
    char text[64];
    std::snprintf(text, sizeof text, format, values...);
    VmPushString(L, text);
    return 1;
}

bool OptFlag(qvVmState* L, int idx) {
    return VmGetTop(L) >= idx && ArgFlag(L, idx);
}

// The fields year, month, day, hours, minutes, seconds of a date text; false when its
// length or month name is wrong.
bool ParseDate(std::string_view text, bool dateOnly, long (&fields)[6]) {
    if (text.size() != (dateOnly ? kDateOnlyLength : kFullDateLength)) return false;
    long month = 0;
    for (int m = 0; m < 12 && month == 0; ++m) {
        if (StrNICmp(text.data() + 3, kMonths[m], 3) == 0) month = m + 1;
    }
    if (month == 0) return false;
    auto number = [&](size_t at, size_t length) {
        return std::strtol(std::string(text.substr(at, length)).c_str(), nullptr, 10);
    };
    fields[0] = number(7, 4);
    fields[1] = month;
    fields[2] = number(0, 2);
    for (int i = 0; i < 3; ++i) fields[3 + i] = dateOnly ? 0 : number(12 + 3 * i, 2);
    return true;
}

}  // namespace

// The century is written as "20", as the date texts always have been.
int GetDate(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    std::tm t = LocalNow();
    long year = t.tm_year % 100;
    if (!OptFlag(L, 1))
        return PushFormatted(L, "%.2d-%s-%.2ld", t.tm_mday, kMonths[t.tm_mon], year);
    return PushFormatted(L, "%.2d-%s-20%.2ld %.2d:%.2d:%.2d", t.tm_mday, kMonths[t.tm_mon], year,
                         t.tm_hour, t.tm_min, t.tm_sec);
}

int GetTime(qvVmState* L) {
    CheckArgCount(L, 0, 1);
    std::tm t = LocalNow();
    if (OptFlag(L, 1)) return PushFormatted(L, "%.2d:%.2d:%.2d", t.tm_hour, t.tm_min, t.tm_sec);
    return PushFormatted(L, "%.2d:%.2d", t.tm_hour, t.tm_min);
}

int GetWeekday(qvVmState* L) {
    CheckArgCount(L, 0, 0);
    VmPushString(L, kWeekdays[LocalNow().tm_wday]);
    return 1;
}

int GetDateNum(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    int32_t field = Trunc32(GetArgNumber(L, 1));
    std::tm t = LocalNow();
    double result = 0;
    switch (field) {
        case kDateYear:
            result = 2000 + t.tm_year % 100;
            break;
        case kDateMonth:
            result = t.tm_mon + 1;
            break;
        case kDateDay:
            result = t.tm_mday;
            break;
        case kDateTime:
            result = t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec;
            break;
        default:
            break;
    }
    VmPushNumber(L, result);
    return 1;
}

int CompareDates(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    size_t length1 = 0, length2 = 0;
    const char* d1 = GetArgString(L, 1, &length1);
    const char* d2 = GetArgString(L, 2, &length2);
    bool dateOnly = OptFlag(L, 3);
    long a[6], b[6];
    if (!ParseDate({d1, length1}, dateOnly, a) || !ParseDate({d2, length2}, dateOnly, b)) {
        return ERR_INVALIDDATE;
    }
    int result = 0;
    for (int i = 0; i < 6 && result == 0; ++i) {
        if (a[i] != b[i]) result = a[i] > b[i] ? 1 : 2;
    }
    VmPushNumber(L, result);
    return 1;
}

}  // namespace qv
