#include "platform/linux/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/blocks.h"
#include "platform/linux/clipboard.h"
#include "platform/linux/paths.h"

namespace qv {
namespace {

enum class FileKind {
    kDisk,          // a descriptor, possibly limited to a window (":::chunk")
    kMemory,        // ":::memory"
    kClipboard,     // ":::clipboard": a copy of the store, written back at flush and close
    kMemoryWindow,  // registered memory (":::chunkS", named windows)
};

constexpr int64_t kBufferSize = 8192;
constexpr int64_t kNoEnd = INT64_MAX;

struct WindowEntry {
    MemoryWindowId id;
    const uint8_t* data;
    size_t size;
    std::string name;
};

std::mutex windowMutex;
std::vector<WindowEntry> windows;
MemoryWindowId nextWindowId = 1;

}  // namespace
}  // namespace qv

struct qvFile {
    qv::FileKind kind = qv::FileKind::kDisk;
    int mode = QV_FILE_READ;
    int fd = -1;
    bool seekable = true;
    bool writeFailed = false;  // reported by FileClose
    int64_t pos = 0;           // in the backing store's own coordinates
    int64_t start = 0;         // window: positions below are refused
    int64_t end = qv::kNoEnd;  // window: reads stop here
    // The buffer of a descriptor: bytes read ahead, or bytes waiting to be written (dirty).
    uint8_t* buffer = nullptr;
    int64_t bufStart = 0;
    int64_t bufLen = 0;
    bool dirty = false;
    std::vector<uint8_t> memory;  // kMemory
    qv::MemoryWindowId window = 0;
    size_t windowOffset = 0;  // kMemoryWindow: where the file starts inside the window

    ~qvFile() {
        FreeMemBlock(buffer);
        if (fd >= 0) close(fd);
    }
};

namespace qv {
namespace {

bool Writable(const qvFile* f) {
    return f->mode != QV_FILE_READ;
}

// --- Backing stores: reads and writes at an explicit offset ---

int64_t ReadDescriptor(qvFile* f, int64_t offset, uint8_t* dst, int64_t n) {
    if (offset >= f->end) return 0;
    n = std::min(n, f->end - offset);
    int64_t done = 0;
    while (done < n) {
        ssize_t r = f->seekable ? pread(f->fd, dst + done, n - done, offset + done)
                                : read(f->fd, dst + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return done > 0 ? done : -1;
        if (r == 0) break;
        done += r;
    }
    return done;
}

int64_t WriteDescriptor(qvFile* f, int64_t offset, const uint8_t* src, int64_t n) {
    int64_t done = 0;
    while (done < n) {
        ssize_t r = f->seekable ? pwrite(f->fd, src + done, n - done, offset + done)
                                : write(f->fd, src + done, n - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            f->writeFailed = true;
            return done > 0 ? done : -1;
        }
        done += r;
    }
    return done;
}

int64_t ReadMemory(qvFile* f, int64_t offset, uint8_t* dst, int64_t n) {
    const std::vector<uint8_t>& bytes = f->memory;
    if (offset >= static_cast<int64_t>(bytes.size())) return 0;
    n = std::min(n, static_cast<int64_t>(bytes.size()) - offset);
    std::memcpy(dst, bytes.data() + offset, n);
    return n;
}

int64_t WriteMemory(qvFile* f, int64_t offset, const uint8_t* src, int64_t n) {
    std::vector<uint8_t>& bytes = f->memory;
    return CatchAllocFailure<int64_t>(-1, [&] {
        if (static_cast<int64_t>(bytes.size()) < offset + n) bytes.resize(offset + n);
        std::memcpy(bytes.data() + offset, src, n);
        return n;
    });
}

const WindowEntry* FindWindow(MemoryWindowId id) {
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const WindowEntry& w) { return w.id == id; });
    return it == windows.end() ? nullptr : &*it;
}

int64_t ReadWindow(qvFile* f, int64_t offset, uint8_t* dst, int64_t n) {
    std::lock_guard<std::mutex> lock(windowMutex);
    const WindowEntry* w = FindWindow(f->window);
    if (w == nullptr || offset >= f->end) return 0;
    n = std::min(n, f->end - offset);
    std::memcpy(dst, w->data + f->windowOffset + offset, n);
    return n;
}

bool WindowAlive(const qvFile* f) {
    std::lock_guard<std::mutex> lock(windowMutex);
    return FindWindow(f->window) != nullptr;
}

int64_t ReadAt(qvFile* f, int64_t offset, uint8_t* dst, int64_t n) {
    switch (f->kind) {
        case FileKind::kDisk:
            return ReadDescriptor(f, offset, dst, n);
        case FileKind::kMemory:
        case FileKind::kClipboard:
            return ReadMemory(f, offset, dst, n);
        case FileKind::kMemoryWindow:
            return ReadWindow(f, offset, dst, n);
    }
    return -1;
}

int64_t WriteAt(qvFile* f, int64_t offset, const uint8_t* src, int64_t n) {
    if (!Writable(f)) return -1;
    if (f->kind == FileKind::kDisk) return WriteDescriptor(f, offset, src, n);
    return WriteMemory(f, offset, src, n);
}

// The end of the file or of its window.
int64_t EndOf(qvFile* f) {
    switch (f->kind) {
        case FileKind::kDisk: {
            if (f->end != kNoEnd) return f->end;
            struct stat st;
            int64_t size = fstat(f->fd, &st) == 0 ? st.st_size : 0;
            return f->dirty ? std::max(size, f->bufStart + f->bufLen) : size;
        }
        case FileKind::kMemory:
        case FileKind::kClipboard:
            return static_cast<int64_t>(f->memory.size());
        case FileKind::kMemoryWindow:
            return f->end;
    }
    return 0;
}

// --- The buffer of a descriptor ---

bool Buffered(const qvFile* f) {
    return f->buffer != nullptr;
}

bool FlushBuffer(qvFile* f) {
    if (!f->dirty) return true;
    int64_t written = WriteDescriptor(f, f->bufStart, f->buffer, f->bufLen);
    bool ok = written == f->bufLen;
    f->dirty = false;
    f->bufLen = 0;
    return ok;
}

// Before a direct call: pending bytes are written and read-ahead is dropped.
bool Settle(qvFile* f) {
    if (!Buffered(f)) return true;
    bool ok = FlushBuffer(f);
    f->bufLen = 0;
    return ok;
}

int64_t DirectRead(qvFile* f, void* dst, int64_t n) {
    if (n <= 0 || !Settle(f)) return n == 0 ? 0 : -1;
    int64_t r = ReadAt(f, f->pos, static_cast<uint8_t*>(dst), n);
    if (r > 0) f->pos += r;
    return r;
}

int64_t DirectWrite(qvFile* f, const void* src, int64_t n) {
    if (n <= 0 || !Settle(f)) return n == 0 ? 0 : -1;
    int64_t r = WriteAt(f, f->pos, static_cast<const uint8_t*>(src), n);
    if (r > 0) f->pos += r;
    return r;
}

bool InBuffer(const qvFile* f) {
    return !f->dirty && f->pos >= f->bufStart && f->pos < f->bufStart + f->bufLen;
}

int64_t BufferedRead(qvFile* f, uint8_t* dst, int64_t n) {
    if (!Buffered(f)) return DirectRead(f, dst, n);
    if (n <= 0 || !FlushBuffer(f)) return n == 0 ? 0 : -1;
    int64_t done = 0;
    while (done < n) {
        if (InBuffer(f)) {
            int64_t part = std::min(n - done, f->bufStart + f->bufLen - f->pos);
            std::memcpy(dst + done, f->buffer + (f->pos - f->bufStart), part);
            f->pos += part;
            done += part;
            continue;
        }
        f->bufLen = 0;
        bool large = n - done >= kBufferSize;
        int64_t r = large ? ReadAt(f, f->pos, dst + done, n - done)
                          : ReadAt(f, f->pos, f->buffer, kBufferSize);
        if (r <= 0) return done > 0 || r == 0 ? done : -1;
        if (large) {
            f->pos += r;
            done += r;
            continue;
        }
        f->bufStart = f->pos;
        f->bufLen = r;
    }
    return done;
}

int64_t BufferedWrite(qvFile* f, const uint8_t* src, int64_t n) {
    if (!Buffered(f)) return DirectWrite(f, src, n);
    if (n <= 0 || !Writable(f)) return n == 0 ? 0 : -1;
    bool joins = f->dirty && f->pos == f->bufStart + f->bufLen && f->bufLen + n <= kBufferSize;
    if (!joins) {
        if (!FlushBuffer(f)) return -1;
        f->bufLen = 0;  // read-ahead may hold what this write replaces
        if (n >= kBufferSize) return DirectWrite(f, src, n);
        f->bufStart = f->pos;
    }
    std::memcpy(f->buffer + f->bufLen, src, n);
    f->bufLen += n;
    f->dirty = true;
    f->pos += n;
    return n;
}

// --- Opening ---

// Digits of a decimal (or hexadecimal) number at the front of text; false when there are
// none or the value does not fit.
template <typename T>
bool TakeNumber(std::string_view* text, T* value, int base = 10) {
    auto [ptr, ec] = std::from_chars(text->data(), text->data() + text->size(), *value, base);
    if (ec != std::errc() || ptr == text->data()) return false;
    text->remove_prefix(ptr - text->data());
    return true;
}

bool TakeChar(std::string_view* text, char c) {
    if (text->empty() || text->front() != c) return false;
    text->remove_prefix(1);
    return true;
}

// "<base>:<size>*<name>/" in front of the container or address, which is returned in rest.
template <typename Base>
bool ParseChunk(std::string_view text, Base* base, uint64_t* size, std::string_view* rest) {
    if (!TakeNumber(&text, base) || !TakeChar(&text, ':') || !TakeNumber(&text, size) ||
        !TakeChar(&text, '*')) {
        return false;
    }
    size_t slash = text.find('/');
    if (slash == std::string_view::npos || slash + 1 == text.size()) return false;
    *rest = text.substr(slash + 1);
    return true;
}

// A record being opened: freed, descriptor and all, unless it is handed out.
using RecordPtr = BlockPtr<qvFile>;

RecordPtr NewFile(FileKind kind, int mode) {
    RecordPtr f(NewBlock<qvFile>());
    if (f) {
        f->kind = kind;
        f->mode = mode;
    }
    return f;
}

RecordPtr OpenDescriptor(const std::string& host, int mode, int extraFlags = 0,
                         mode_t permissions = 0666) {
    static constexpr int kFlags[] = {O_RDONLY, O_WRONLY | O_CREAT | O_TRUNC, O_RDWR | O_CREAT};
    RecordPtr f = NewFile(FileKind::kDisk, mode);
    if (!f) return nullptr;
    f->buffer = static_cast<uint8_t*>(AllocMemBlock(kBufferSize, 0));
    if (f->buffer == nullptr) return nullptr;
    f->fd = open(host.c_str(), kFlags[mode] | extraFlags | O_CLOEXEC, permissions);
    struct stat st;
    if (f->fd < 0 || fstat(f->fd, &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
    f->seekable = lseek(f->fd, 0, SEEK_CUR) >= 0;
    return f;
}

RecordPtr OpenPath(const char* name, int mode) {
    std::string host;
    if (!ResolvePath(name, LeafLookup::kFold, &host)) return nullptr;
    return OpenDescriptor(host, mode);
}

// ":::chunk<offset>:<size>*<name>/<container>"
RecordPtr OpenChunk(std::string_view spec) {
    uint64_t offset, size;
    std::string_view container;
    if (!ParseChunk(spec, &offset, &size, &container) || offset > INT64_MAX ||
        size > static_cast<uint64_t>(INT64_MAX) - offset) {
        return nullptr;
    }
    RecordPtr f = OpenPath(std::string(container).c_str(), QV_FILE_READ);
    if (!f) return nullptr;
    // A stretch beyond the container's end is cut to it, so that its end is where reads end.
    int64_t length = EndOf(f.get());
    f->start = std::min(static_cast<int64_t>(offset), length);
    f->end = std::min(static_cast<int64_t>(offset + size), length);
    f->pos = f->start;
    return f;
}

RecordPtr OpenWindow(MemoryWindowId id, size_t offset, size_t size) {
    RecordPtr f = NewFile(FileKind::kMemoryWindow, QV_FILE_READ);
    if (!f) return nullptr;
    f->window = id;
    f->windowOffset = offset;
    f->end = static_cast<int64_t>(size);
    return f;
}

// ":::chunkS<base>:<size>*<name>/<hex address>": only inside a registered window.
RecordPtr OpenMemoryChunk(std::string_view spec) {
    int64_t base;
    uint64_t size, address;
    std::string_view rest;
    if (!ParseChunk(spec, &base, &size, &rest) || !TakeNumber(&rest, &address, 16) ||
        !rest.empty() || size > INT64_MAX) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(windowMutex);
    for (const WindowEntry& w : windows) {
        uint64_t first = reinterpret_cast<uintptr_t>(w.data);
        if (address >= first && address - first <= w.size && size <= w.size - (address - first)) {
            return OpenWindow(w.id, address - first, size);
        }
    }
    return nullptr;
}

RecordPtr OpenNamedWindow(std::string_view name) {
    std::lock_guard<std::mutex> lock(windowMutex);
    for (const WindowEntry& w : windows) {
        if (!w.name.empty() && w.name == name) return OpenWindow(w.id, 0, w.size);
    }
    return nullptr;
}

bool LoadClipboard(qvFile* f) {
    return CatchAllocFailure<bool>(false, [&] {
        const std::string store = ReadClipboardStore();
        f->memory.assign(store.begin(), store.end());
        return true;
    });
}

// A clipboard handle that may have been written replaces the store with its bytes.
bool CommitClipboard(const qvFile* f) {
    if (f->kind != FileKind::kClipboard || !Writable(f)) return true;
    return CatchAllocFailure<bool>(false, [&] {
        const std::string bytes(f->memory.begin(), f->memory.end());
        return WriteClipboardStore(bytes) == 0;
    });
}

RecordPtr OpenVirtual(std::string_view name, int mode) {
    if (name == ":::memory") return NewFile(FileKind::kMemory, mode);
    if (name == ":::clipboard") {
        RecordPtr f = NewFile(FileKind::kClipboard, mode);
        if (f && mode != QV_FILE_WRITE && !LoadClipboard(f.get())) return nullptr;
        return f;
    }
    if (mode != QV_FILE_READ) return nullptr;  // the rest is read-only
    constexpr std::string_view kChunk = ":::chunk", kMemoryChunk = ":::chunkS";
    if (name.starts_with(kMemoryChunk)) return OpenMemoryChunk(name.substr(kMemoryChunk.size()));
    if (name.starts_with(kChunk)) return OpenChunk(name.substr(kChunk.size()));
    return OpenNamedWindow(name);
}

}  // namespace

MemoryWindowId RegisterMemoryWindow(const void* data, size_t size, const char* name) {
    return CatchAllocFailure<MemoryWindowId>(0, [&] {
        std::lock_guard<std::mutex> lock(windowMutex);
        MemoryWindowId id = nextWindowId;
        windows.push_back({id, static_cast<const uint8_t*>(data), size, name ? name : ""});
        ++nextWindowId;
        return id;
    });
}

void UnregisterMemoryWindow(MemoryWindowId id) {
    std::lock_guard<std::mutex> lock(windowMutex);
    std::erase_if(windows, [&](const WindowEntry& w) { return w.id == id; });
}

}  // namespace qv

using qv::FileKind;

qvFile* FileOpen(const char* name, int mode) {
    if (name == nullptr || mode < QV_FILE_READ || mode > QV_FILE_READWRITE) return nullptr;
    return qv::CatchAllocFailure<qvFile*>(nullptr, [&] {
        std::string_view text(name);
        qv::RecordPtr f =
            text.starts_with(":::") ? qv::OpenVirtual(text, mode) : qv::OpenPath(name, mode);
        return f.release();
    });
}

qvFile* FileCreateExclusive(const char* name, unsigned permissions) {
    return qv::CatchAllocFailure<qvFile*>(nullptr, [&]() -> qvFile* {
        std::string host;
        if (name == nullptr || std::string_view(name).starts_with(":::") ||
            !qv::ResolvePath(name, qv::LeafLookup::kAsWritten, &host)) {
            return nullptr;
        }
        return qv::OpenDescriptor(host, QV_FILE_WRITE, O_EXCL, static_cast<mode_t>(permissions))
            .release();
    });
}

int FileClose(qvFile* file) {
    if (file == nullptr) return -1;
    bool ok = qv::FlushBuffer(file) && qv::CommitClipboard(file) && !file->writeFailed;
    if (file->fd >= 0) {
        ok = close(file->fd) == 0 && ok;
        file->fd = -1;
    }
    qv::DeleteBlock(file);
    return ok ? 0 : -1;
}

int FileFlush(qvFile* file) {
    return qv::FlushBuffer(file) && qv::CommitClipboard(file) ? 0 : -1;
}

int64_t FileSeek(qvFile* file, int64_t offset, int mode) {
    int64_t base;
    switch (mode) {
        case QV_SEEK_CURRENT:
            base = file->pos;
            break;
        case QV_SEEK_BEGINNING:
            base = file->start;
            break;
        case QV_SEEK_END:
            if (file->kind == FileKind::kClipboard) return -1;
            base = qv::EndOf(file);
            break;
        default:
            return -1;
    }
    int64_t target;
    if (__builtin_add_overflow(base, offset, &target) || target < file->start) return -1;
    if (!file->seekable && target != file->pos) return -1;
    int64_t previous = file->pos - file->start;
    file->pos = target;
    return previous;
}

int64_t FileRead(qvFile* file, void* buffer, int64_t n) {
    return qv::DirectRead(file, buffer, n);
}

int64_t FileReadBuffered(qvFile* file, void* buffer, int64_t n) {
    return qv::BufferedRead(file, static_cast<uint8_t*>(buffer), n);
}

int FileReadChar(qvFile* file) {
    if (qv::InBuffer(file)) return file->buffer[file->pos++ - file->bufStart];
    uint8_t byte;
    return qv::BufferedRead(file, &byte, 1) == 1 ? byte : -1;
}

int64_t FileWrite(qvFile* file, const void* buffer, int64_t n) {
    return qv::BufferedWrite(file, static_cast<const uint8_t*>(buffer), n);
}

int64_t FileWriteRaw(qvFile* file, const void* buffer, int64_t n) {
    return qv::DirectWrite(file, buffer, n);
}

int FileWriteChar(qvFile* file, int byte) {
    auto value = static_cast<uint8_t>(byte);
    return qv::BufferedWrite(file, &value, 1) == 1 ? value : -1;
}

int FileAtEnd(qvFile* file) {
    if (file->kind == FileKind::kMemoryWindow && !qv::WindowAlive(file)) return 1;
    return file->pos >= qv::EndOf(file);
}

int64_t FileTransfer(qvFile* source, qvFile* destination, int64_t n) {
    if (n <= 0) return 0;
    if (!qv::Settle(source) || !qv::Settle(destination) || !qv::Writable(destination)) return -1;
    bool plain = source->kind == FileKind::kDisk && destination->kind == FileKind::kDisk &&
                 source->seekable && destination->seekable && source->end == qv::kNoEnd;
    int64_t done = 0;
    while (plain && done < n) {
        loff_t in = source->pos, out = destination->pos;
        ssize_t r = copy_file_range(source->fd, &in, destination->fd, &out,
                                    static_cast<size_t>(std::min<int64_t>(n - done, 1 << 30)), 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            // Not supported between these files: the buffer copy below takes over.
            if (r < 0 && done == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                plain = false;
                break;
            }
            if (r < 0) destination->writeFailed = true;
            return done > 0 || r == 0 ? done : -1;
        }
        source->pos += r;
        destination->pos += r;
        done += r;
    }
    if (plain) return done;
    uint8_t buffer[qv::kBufferSize];
    while (done < n) {
        int64_t got = qv::DirectRead(source, buffer, std::min<int64_t>(n - done, qv::kBufferSize));
        if (got <= 0) return done > 0 || got == 0 ? done : -1;
        int64_t put = qv::DirectWrite(destination, buffer, got);
        if (put > 0) done += put;
        if (put != got) return done > 0 ? done : -1;
    }
    return done;
}
