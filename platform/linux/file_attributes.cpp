#include "platform/linux/file_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/linux/blocks.h"

namespace qv {
namespace {

constexpr char kProtectionAttr[] = "user.qv.protection";
constexpr char kCommentAttr[] = "user.xdg.comment";

// The bits kept in the extended attribute.
constexpr uint32_t kStoredBits = uint32_t{QV_FILEATTR_DELETE_USR} | QV_FILEATTR_PURE |
                                 QV_FILEATTR_ARCHIVE | QV_FILEATTR_SCRIPT | QV_FILEATTR_HIDDEN |
                                 QV_FILEATTR_SYSTEM | QV_FILEATTR_READONLY;

constexpr struct {
    mode_t bit;
    uint32_t flag;
} kModeMap[] = {
    {S_IRUSR, QV_FILEATTR_READ_USR},    {S_IWUSR, QV_FILEATTR_WRITE_USR},
    {S_IXUSR, QV_FILEATTR_EXECUTE_USR}, {S_IRGRP, QV_FILEATTR_READ_GRP},
    {S_IWGRP, QV_FILEATTR_WRITE_GRP},   {S_IXGRP, QV_FILEATTR_EXECUTE_GRP},
    {S_IROTH, QV_FILEATTR_READ_OTH},    {S_IWOTH, QV_FILEATTR_WRITE_OTH},
    {S_IXOTH, QV_FILEATTR_EXECUTE_OTH},
};

uint32_t FlagsOfMode(mode_t mode) {
    uint32_t flags = 0;
    for (const auto& m : kModeMap) {
        if (mode & m.bit) flags |= m.flag;
    }
    return flags;
}

mode_t ModeOfFlags(uint32_t flags) {
    mode_t mode = 0;
    for (const auto& m : kModeMap) {
        if (flags & m.flag) mode |= m.bit;
    }
    return mode;
}

// The stored bits a file without the attribute reads as.
uint32_t DefaultStoredBits(mode_t mode, std::string_view name) {
    uint32_t bits = (mode & S_IWUSR) ? QV_FILEATTR_DELETE_USR : QV_FILEATTR_READONLY;
    if (!name.empty() && name.front() == '.') bits |= QV_FILEATTR_HIDDEN;
    return bits;
}

bool ReadStoredBits(const char* hostPath, uint32_t* bits) {
    char text[16];
    ssize_t n = getxattr(hostPath, kProtectionAttr, text, sizeof text);
    if (n <= 0) return false;
    auto [end, ec] = std::from_chars(text, text + n, *bits);
    *bits &= kStoredBits;
    return ec == std::errc() && end == text + n;
}

// Succeeds also where there is none to remove: absent, or an object or file system that
// takes no user attributes at all.
bool RemoveAttribute(const char* hostPath, const char* attribute) {
    return removexattr(hostPath, attribute) == 0 || errno == ENODATA || errno == ENOTSUP ||
           errno == EPERM;
}

bool HostPath(const char* path, std::string* host) {
    return ResolvePath(path, LeafLookup::kFold, host);
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The civil date of a day count from 1 January 1970 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

const int64_t kEpoch1978 = DaysFromCivil(1978, 1, 1);

// The POSIX time of local calendar fields; false when mktime fails or, with exact, when it
// had to normalise them (31 February names no real time).
bool LocalSeconds(const qvDateFields& fields, bool exact, time_t* seconds) {
    struct tm local = {};
    local.tm_year = fields.year - 1900;
    local.tm_mon = fields.month;
    local.tm_mday = fields.day;
    local.tm_hour = fields.hour;
    local.tm_min = fields.minute;
    local.tm_sec = fields.second;
    local.tm_isdst = -1;
    *seconds = mktime(&local);
    if (*seconds == static_cast<time_t>(-1)) return false;
    return !exact || (local.tm_year == fields.year - 1900 && local.tm_mon == fields.month &&
                      local.tm_mday == fields.day && local.tm_hour == fields.hour &&
                      local.tm_min == fields.minute && local.tm_sec == fields.second);
}

}  // namespace

qvDateStamp DateStampFromTime(int64_t seconds, int64_t nanoseconds) {
    time_t t = static_cast<time_t>(seconds);
    struct tm local;
    if (localtime_r(&t, &local) == nullptr) return {};
    int64_t days = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                 static_cast<unsigned>(local.tm_mday)) -
                   kEpoch1978;
    return {static_cast<int32_t>(days), local.tm_hour * 60 + local.tm_min,
            static_cast<int32_t>(local.tm_sec * 50 + nanoseconds / 20000000)};
}

uint32_t ReadProtectionBits(const char* hostPath, mode_t mode, std::string_view name) {
    uint32_t stored;
    if (!ReadStoredBits(hostPath, &stored)) stored = DefaultStoredBits(mode, name);
    return FlagsOfMode(mode) | stored;
}

void ReadFileComment(const char* hostPath, char* out, size_t size) {
    ssize_t n = getxattr(hostPath, kCommentAttr, out, size - 1);
    if (n < 0 && errno == ERANGE) {
        // Longer than the record holds: read it whole and keep the front.
        ssize_t full = getxattr(hostPath, kCommentAttr, nullptr, 0);
        std::string text(full > 0 ? static_cast<size_t>(full) : 0, '\0');
        n = full > 0 ? getxattr(hostPath, kCommentAttr, text.data(), text.size()) : -1;
        if (n > 0) {
            n = std::min<ssize_t>(n, static_cast<ssize_t>(size - 1));
            std::memcpy(out, text.data(), n);
        }
    }
    out[n > 0 ? n : 0] = '\0';
}

}  // namespace qv

int SetProtectionBits(const char* path, uint32_t bits) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string host;
        struct stat st;
        if (!qv::HostPath(path, &host) || stat(host.c_str(), &st) != 0) return 0;
        if (bits & QV_FILEATTR_NORMAL) {
            return chmod(host.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0 &&
                   qv::RemoveAttribute(host.c_str(), qv::kProtectionAttr);
        }
        mode_t mode = (st.st_mode & ~static_cast<mode_t>(0777) & 07777) | qv::ModeOfFlags(bits);
        if (chmod(host.c_str(), mode) != 0) return 0;
        uint32_t stored = bits & qv::kStoredBits;
        std::string_view name(host);
        name.remove_prefix(name.rfind('/') == std::string_view::npos ? 0 : name.rfind('/') + 1);
        // Bits that a file without the attribute reads anyway need no attribute, so that file
        // systems without user attributes take every round trip of GetFileAttributes.
        if (stored == qv::DefaultStoredBits(mode, name)) {
            return qv::RemoveAttribute(host.c_str(), qv::kProtectionAttr);
        }
        std::string text = std::to_string(stored);
        return setxattr(host.c_str(), qv::kProtectionAttr, text.data(), text.size(), 0) == 0;
    });
}

int SetFileComment(const char* path, const char* text) {
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string host;
        if (!qv::HostPath(path, &host)) return 0;
        if (text[0] == '\0') {
            struct stat st;
            return stat(host.c_str(), &st) == 0 &&
                   qv::RemoveAttribute(host.c_str(), qv::kCommentAttr);
        }
        return setxattr(host.c_str(), qv::kCommentAttr, text, std::strlen(text), 0) == 0;
    });
}

int SetFileDateStamp(const char* path, const qvDateStamp* date) {
    qvDateFields fields;
    ExamineEntry(date, &fields, 0);
    time_t seconds;
    if (!qv::LocalSeconds(fields, false, &seconds)) return 0;
    long nanoseconds = static_cast<long>(date->ticks % 50) * 20000000L;
    return qv::CatchAllocFailure(0, [&]() -> int {
        std::string host;
        if (!qv::HostPath(path, &host)) return 0;
        const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
        return utimensat(AT_FDCWD, host.c_str(), times, 0) == 0;
    });
}

void ExamineEntry(const qvDateStamp* date, qvDateFields* fields, int) {
    int64_t y;
    unsigned m, d;
    qv::CivilFromDays(qv::kEpoch1978 + date->days, &y, &m, &d);
    *fields = {date->ticks / 50,        date->minutes % 60,          date->minutes / 60,
               static_cast<int32_t>(d), static_cast<int32_t>(m) - 1, static_cast<int32_t>(y)};
}

int TimeToDateStamp(const qvDateFields* fields, qvDateStamp* date) {
    time_t seconds;
    if (!qv::LocalSeconds(*fields, true, &seconds)) return 0;
    *date = qv::DateStampFromTime(seconds, 0);
    // Date stamps count from 1 January 1978; nothing earlier has one.
    return date->days >= 0 ? 1 : 0;
}
