// The file layer: handles with one 64-bit position shared by the buffered and the direct
// calls, over POSIX descriptors, and the virtual files whose names begin ":::".
//
// Virtual files:
// - ":::chunk<offset>:<size>*<name>/<container>": the stretch [offset, offset + size) of the
//   container, read-only. Positions count from the stretch's start, reads stop at its end
//   (or at the container's end when that comes first), a seek from the beginning adds the
//   start and a seek from the end counts from the stretch's end.
// - ":::chunkS<base>:<size>*<name>/<hex address>": size bytes of memory at that address,
//   read-only; opens only when they lie inside a window registered with
//   qv::RegisterMemoryWindow (a name alone never grants access to memory). A handle whose
//   window has been unregistered reads as at its end.
// - ":::memory": a read-write file in memory, private to its handle.
// - ":::clipboard": the clipboard store (platform/linux/clipboard.h), shared with the
//   clipboard commands and with other processes. A handle works on a copy taken at open
//   (empty when opened for writing); a writable one replaces the store at flush and close.
// - Any other name registered with a memory window (the built-in fonts ":::default_sans",
//   ":::default_serif", ":::default_mono", ...): that window, read-only.
// Other names go through the path rules of platform/linux/paths.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

struct qvFile;

enum : int { QV_FILE_READ = 0, QV_FILE_WRITE = 1, QV_FILE_READWRITE = 2 };
enum : int { QV_SEEK_CURRENT = 0, QV_SEEK_BEGINNING = 1, QV_SEEK_END = 2 };

// Modes: QV_FILE_READ; QV_FILE_WRITE creates or truncates; QV_FILE_READWRITE creates a
// missing file and never truncates. None when the file cannot be opened, is a directory,
// or is a read-only virtual file opened for writing.
qvFile* FileOpen(const char* name, int mode);
// A new file for writing, made with the given permission bits (subject to the umask); none
// when the name exists already or cannot be made.
qvFile* FileCreateExclusive(const char* name, unsigned permissions);
// Writes what is pending, closes and frees the handle; 0, or -1 when data written through
// it could not be stored (a full disk, a failed close).
int FileClose(qvFile* file);
// Writes what is pending; 0 or -1.
int FileFlush(qvFile* file);
// Moves the position and returns the previous one; -1 (position unchanged) for a target
// before the start, an unknown mode, a stream that cannot seek, or a seek from the end of
// the clipboard. Seek(0, QV_SEEK_END) then Seek(0, QV_SEEK_BEGINNING) returns the size.
int64_t FileSeek(qvFile* file, int64_t offset, int mode);
// Direct reads: the count read (0 at the end), or -1 on failure.
int64_t FileRead(qvFile* file, void* buffer, int64_t n);
// The same through the handle's buffer.
int64_t FileReadBuffered(qvFile* file, void* buffer, int64_t n);
// One byte 0..255, or -1 at the end (or on failure).
int FileReadChar(qvFile* file);
// Buffered writes: the count written, or -1 on failure.
int64_t FileWrite(qvFile* file, const void* buffer, int64_t n);
// The same, direct.
int64_t FileWriteRaw(qvFile* file, const void* buffer, int64_t n);
// Writes one byte; returns it, or -1.
int FileWriteChar(qvFile* file, int byte);
// Copies up to n bytes from source's position to destination's, both advancing, with the
// kernel copying between plain files (copy_file_range), else through a buffer. Pending
// buffered data of either handle is settled first. The count copied, or -1 when nothing could
// be read or written.
int64_t FileTransfer(qvFile* source, qvFile* destination, int64_t n);
// Non-zero when the position has reached the end of the file or of its window.
int FileAtEnd(qvFile* file);

namespace qv {

// A handle closed at the end of its scope (a close that must be checked is done by hand:
// FileClose(file.release())).
struct FileCloser {
    void operator()(qvFile* file) const { FileClose(file); }
};
using FilePtr = std::unique_ptr<qvFile, FileCloser>;

using MemoryWindowId = uint64_t;

// Makes [data, data + size) readable through ":::chunkS" names, and under name (when given)
// as a virtual file of its own. Returns the window's id, or 0 when memory is short. The
// bytes must stay valid until the window is unregistered.
MemoryWindowId RegisterMemoryWindow(const void* data, size_t size, const char* name = nullptr);
void UnregisterMemoryWindow(MemoryWindowId id);

// A registered window for one scope.
class ScopedMemoryWindow {
public:
    ScopedMemoryWindow(const void* data, size_t size, const char* name = nullptr)
        : id_(RegisterMemoryWindow(data, size, name)) {}
    ~ScopedMemoryWindow() { UnregisterMemoryWindow(id_); }
    ScopedMemoryWindow(const ScopedMemoryWindow&) = delete;
    ScopedMemoryWindow& operator=(const ScopedMemoryWindow&) = delete;
    MemoryWindowId id() const { return id_; }

private:
    MemoryWindowId id_;
};

}  // namespace qv
