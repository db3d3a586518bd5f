// Names, assigns, locks, directories and file attributes of the platform layer.
//
// A name of the form "NAME:rest" goes through the assign table (PROGDIR:, T:, RAM:, ENV:,
// ENVARC:, LIBS:, FONTS:, LOCALE:, NIL:, SYS:, plus QV_ASSIGN="T:=/dir;LIBS:=/dir2"); names
// of assigns compare without regard to letter case and an unknown one fails like a missing
// volume. A name beginning with "/" is a POSIX absolute path; any other is relative to the
// current directory. When a path does not exist as written it is looked up again component
// by component without regard to letter case: an exact match wins, and among several
// case-insensitive matches the first in byte order is taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Days, minutes and ticks (1/50 s) since 1 January 1978, local time.
struct qvDateStamp {
    int32_t days;
    int32_t minutes;
    int32_t ticks;
};

enum : int32_t { QV_DOSTYPE_FILE = 0, QV_DOSTYPE_DIRECTORY = 1 };

struct qvFileAttributes {
    int32_t type;    // QV_DOSTYPE_FILE or QV_DOSTYPE_DIRECTORY
    int64_t size;    // bytes; 0 for directories
    uint32_t flags;  // FILEATTR_ bits
    char name[256];  // the object's own name (its last component)
    char comment[80];
    qvDateStamp date;
};

// FILEATTR_ bits as the dos library publishes them.
enum : uint32_t {
    QV_FILEATTR_READ_USR = 1,
    QV_FILEATTR_WRITE_USR = 2,
    QV_FILEATTR_DELETE_USR = 4,
    QV_FILEATTR_EXECUTE_USR = 8,
    QV_FILEATTR_HIDDEN = 128,
    QV_FILEATTR_READ_GRP = 512,
    QV_FILEATTR_WRITE_GRP = 1024,
    QV_FILEATTR_EXECUTE_GRP = 2048,
    QV_FILEATTR_READ_OTH = 4096,
    QV_FILEATTR_WRITE_OTH = 8192,
    QV_FILEATTR_EXECUTE_OTH = 16384,
    QV_FILEATTR_READONLY = 32768,
};

// Lock modes; this platform keeps no file-system locks, so both only name an object.
enum : int { QV_LOCK_SHARED = -2, QV_LOCK_EXCLUSIVE = -1 };

struct qvLock;
struct qvDirScan;

// The design's path buffers hold 1024 bytes.
inline constexpr size_t kPathBufferSize = 1024;

// A lock names an existing object; none when it does not exist (or memory is short).
qvLock* LockPath(const char* path, int mode);
void ReleaseLock(qvLock* lock);
// The object's full POSIX path; 0 when it does not fit or the object is gone.
int LockToPath(const qvLock* lock, char* out, size_t size);

// The absolute form of name (assigns and letter case resolved as far as the path exists)
// into a kPathBufferSize buffer; 0, or ERR_NAMETOOLONG.
int MakeAbsolutePath(const char* name, char* out);
// Makes path the current directory and returns an allocated copy of the previous one's
// name (the caller restores it with ChangeDirPath and frees both blocks with FreeMemBlock);
// none, and nothing changed, when path is no directory.
char* ChangeDirPath(const char* path);
// The current directory's full name; non-zero on success.
int GetCurrentDirName(char* out, size_t size);
// A fresh name in "T:" into a kPathBufferSize buffer; 0, or an error code. Only the name is
// made; the run's files in T: are deleted at shutdown.
int MakeTempPath(char* out);
// Creates one directory; 0 or ERR_CREATEDIR. With lock given it receives a lock on it.
int MakeDirPath(const char* path, qvLock** lock);
// Deletes a file or an empty directory; non-zero on success.
int DeleteFilePath(const char* path);
// Renames; refuses when the new name exists already. Non-zero on success.
int RenamePath(const char* oldName, const char* newName);

// What a name is when its last component is not followed: no symbolic link, or a link to a
// file, to a directory or to nothing.
enum : int {
    QV_LINK_NONE = 0,
    QV_LINK_TO_FILE = 1,
    QV_LINK_TO_DIRECTORY = 2,
    QV_LINK_DANGLING = 3
};
int LinkKind(const char* path);
// Makes destination a symbolic link with the same text as the link source; non-zero on
// success.
int CopyLinkPath(const char* source, const char* destination);

// Non-zero when both names exist and are one object (the same device and inode), however
// they are spelt.
int SameObject(const char* a, const char* b);

// Non-zero on success.
int ExamineObjectInfo(const qvLock* lock, qvFileAttributes* info);
// Starts a scan of the directory the lock names (entries in byte order of their names);
// 0, ERR_NOTADIR, ERR_DIRLOCK or ERR_MEM.
int OpenDirScan(const qvLock* lock, qvDirScan** scan);
// The next entry into info: non-zero while one was delivered, 0 at the end.
int ExamineDirNext(qvDirScan* scan, qvFileAttributes* info);
void FreeDirContext(qvDirScan* scan);

namespace qv {

// How the last component of a name is looked up when it does not exist as written.
enum class LeafLookup {
    kFold,      // without regard to letter case, like every directory on the way
    kAsWritten  // a name that is about to be created (rename targets)
};

// The host path of a run-time name; false for an unknown volume or an unusable assign. The
// result need not exist.
bool ResolvePath(std::string_view name, LeafLookup leaf, std::string* out);

// The absolute host path of a run-time name: resolved as above, made absolute against the
// current directory, "." components and repeated "/" dropped, links not followed. False for
// an unknown volume or an unusable assign.
bool AbsoluteName(std::string_view name, std::string* out);

// Whether name (resolved as above) names an existing object; allocates nothing that can
// fail short of the process's own heap.
bool ObjectExists(std::string_view name);

// The assign table as it stands (defaults, then QV_ASSIGN); the target of name ("T:" or
// "t"), resolved to a host directory, or "" when there is no such assign. Made lazily:
// asking for T: creates the run's temporary directory.
std::string AssignTarget(std::string_view name);

// Deletes the run's temporary directory (or, when T: is overridden, the run's names in it)
// and forgets the assign table, so that the next use reads QV_ASSIGN again.
void ShutdownPaths();

// Whether inner is outer or lies below it, compared on real paths (links resolved); inner
// need not exist yet (its existing part is resolved, the rest taken as written).
bool PathInside(std::string_view inner, std::string_view outer);

// Date stamp of a POSIX time (seconds and nanoseconds since 1970) in local time.
qvDateStamp DateStampFromTime(int64_t seconds, int64_t nanoseconds);

}  // namespace qv
