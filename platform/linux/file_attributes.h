// Protection bits, comments and date stamps of files, and the calendar of date stamps.
//
// The R/W/E bits of owner, group and others are the mode bits. The bits POSIX has no place
// for (DELETE_USR, PURE, ARCHIVE, SCRIPT, HIDDEN, SYSTEM, READONLY) are kept in the extended
// attribute "user.qv.protection" as decimal text; a file without it reads DELETE_USR from the
// owner's write bit, READONLY when the owner may not write, and HIDDEN for names starting
// with ".". Comments are the extended attribute "user.xdg.comment". Date stamps are the
// modification time in local time.
#pragma once

#include <cstdint>
#include <string_view>

#include <sys/types.h>

#include "platform/linux/paths.h"

enum : uint32_t {
    QV_FILEATTR_PURE = 16,
    QV_FILEATTR_ARCHIVE = 32,
    QV_FILEATTR_SCRIPT = 64,
    QV_FILEATTR_SYSTEM = 256,
    QV_FILEATTR_NORMAL = 65536,
};

// Calendar fields of a date stamp in local time; month 0-11.
struct qvDateFields {
    int32_t second;
    int32_t minute;
    int32_t hour;
    int32_t day;
    int32_t month;
    int32_t year;
};

// Applies FILEATTR_ bits (QV_FILEATTR_NORMAL: owner read and write, no stored bits); non-zero
// on success.
int SetProtectionBits(const char* path, uint32_t bits);
// Sets (or, with "", removes) the comment; non-zero on success.
int SetFileComment(const char* path, const char* text);
// Sets the modification time; non-zero on success.
int SetFileDateStamp(const char* path, const qvDateStamp* date);

// The calendar fields of a date stamp (the third argument is unused and 0).
void ExamineEntry(const qvDateStamp* date, qvDateFields* fields, int unused);
// Non-zero, with the stamp in *date, when the fields name a real local time (31 February
// does not) from 1 January 1978 on.
int TimeToDateStamp(const qvDateFields* fields, qvDateStamp* date);

namespace qv {

// The FILEATTR_ bits of an object with mode bits mode, its own name and host path.
uint32_t ReadProtectionBits(const char* hostPath, mode_t mode, std::string_view name);
// The comment of an object into out (size bytes, always terminated; "" without one).
void ReadFileComment(const char* hostPath, char* out, size_t size);

}  // namespace qv
