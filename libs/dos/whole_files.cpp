// Whole files at once (FileToString, StringToFile) and the line iterator FileLines; these
// always use the file layer's buffered calls.
#include <algorithm>
#include <cstring>

#include "libs/dos/commands.h"
#include "platform/linux/blocks.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"

namespace qv {
namespace {

constexpr int64_t kBlock = 16384;
constexpr size_t kMaxLine = 1024;
constexpr char kFileMeta[] = "FILE*";

// The user data of a FileLines iterator: the layer handle (none once closed) and the bytes
// read ahead of the lines handed out. The handle is the iterator's alone, so reading ahead
// is invisible.
struct LineSource {
    qvFile* handle;
    size_t start;
    size_t end;
    char buffer[kBlock];

    // Whether bytes are waiting, reading more when none are.
    bool Fill() {
        if (start < end) return true;
        int64_t got = FileReadBuffered(handle, buffer, kBlock);
        start = 0;
        end = got > 0 ? static_cast<size_t>(got) : 0;
        return end > 0;
    }
};

// A growing block of the run-time allocator.
class ByteBlock {
public:
    ~ByteBlock() { FreeMemBlock(data_); }
    bool Reserve(int64_t capacity) {
        if (capacity <= capacity_) return true;
        auto* grown = static_cast<char*>(AllocMemBlock(static_cast<size_t>(capacity), 0));
        if (grown == nullptr) return false;
        if (size_ > 0) std::memcpy(grown, data_, static_cast<size_t>(size_));
        FreeMemBlock(data_);
        data_ = grown;
        capacity_ = capacity;
        return true;
    }
    char* End() { return data_ + size_; }
    void Grow(int64_t n) { size_ += n; }
    const char* data() const { return data_; }
    int64_t size() const { return size_; }
    int64_t Room() const { return capacity_ - size_; }

private:
    char* data_ = nullptr;
    int64_t size_ = 0;
    int64_t capacity_ = 0;
};

// Reads everything: one read of the size the file reports, then 16384-byte blocks until one
// comes back short (the file may have grown, a virtual file may not know its size).
int ReadAll(qvFile* handle, ByteBlock* bytes) {
    FileSeek(handle, 0, QV_SEEK_END);
    int64_t expected = std::max<int64_t>(FileSeek(handle, 0, QV_SEEK_BEGINNING), 0);
    // Room for the final short block too, so that a file that keeps its size is read
    // without copying.
    if (!bytes->Reserve(expected + kBlock)) return ERR_MEM;
    for (int64_t want = expected > 0 ? expected : kBlock;; want = kBlock) {
        if (bytes->Room() < want && !bytes->Reserve(2 * bytes->size() + want)) return ERR_MEM;
        int64_t got = FileReadBuffered(handle, bytes->End(), want);
        if (got < 0) return ERR_READ;
        bytes->Grow(got);
        if (got < want) return 0;
    }
}

int LinesGc(qvVmState* L) {
    auto* source = static_cast<LineSource*>(VmToUserdata(L, 1));
    if (source != nullptr && source->handle != nullptr) {
        FileClose(source->handle);
        source->handle = nullptr;
    }
    return 0;
}

// The iterator: upvalues {the "FILE*" metatable, the handle's user data, close-at-end}.
int NextLine(qvVmState* L) {
    auto* source = static_cast<LineSource*>(VmToUserdata(L, VmUpvalueIndex(2)));
    // Called again after the end: the handle is gone, and so are the lines.
    if (source == nullptr || source->handle == nullptr) return 0;
    if (!source->Fill()) {
        if (VmToNumber(L, VmUpvalueIndex(3)) != 0) {
            FileClose(source->handle);
            source->handle = nullptr;
        }
        return 0;
    }
    // Up to a line feed (consumed) or the end, carriage returns dropped, at most 1024 bytes:
    // the rest of a longer line comes with the next call.
    char line[kMaxLine];
    size_t n = 0;
    while (n < kMaxLine && source->Fill()) {
        const char* run = source->buffer + source->start;
        size_t available = source->end - source->start;
        auto* feed = static_cast<const char*>(std::memchr(run, '\n', available));
        size_t take = feed != nullptr ? static_cast<size_t>(feed - run) : available;
        size_t i = 0;
        for (; i < take && n < kMaxLine; ++i) {
            if (run[i] != '\r') line[n++] = run[i];
        }
        source->start += i;
        if (i == take && feed != nullptr && n < kMaxLine) {
            ++source->start;
            break;
        }
    }
    VmPushLString(L, line, strnlen(line, n));
    return 1;
}

}  // namespace

int FileLines(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetStringArgResolved(L, 1, 0, nullptr);
    NewRegistryMetatable(L, kFileMeta);
    // Checked every time: a registration that ran out of memory may have left it out.
    VmPushString(L, "__gc");
    VmRawGet(L, -2);
    bool hasGc = VmType(L, -1) != VM_TNIL;
    VmSetTop(L, -2);
    if (!hasGc) {
        VmPushString(L, "__gc");
        VmPushCClosure(L, LinesGc, 0);
        VmRawSet(L, -3);
    }
    auto* source = static_cast<LineSource*>(VmNewUserdata(L, sizeof(LineSource)));
    source->handle = nullptr;
    source->start = source->end = 0;
    VmPushValue(L, -2);
    VmSetMetatable(L, -2);
    source->handle = FileOpen(name, QV_FILE_READ);
    if (source->handle == nullptr) return ErrorWithText(ERR_READFILE, name);
    VmPushNumber(L, 1);
    VmPushCClosure(L, NextLine, 3);
    return 1;
}

int FileToString(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    const char* name = GetStringArgResolved(L, 1, 0, nullptr);
    FilePtr handle(FileOpen(name, QV_FILE_READ));
    if (!handle) return ErrorWithText(ERR_READFILE, name);
    ByteBlock bytes;
    if (int code = ReadAll(handle.get(), &bytes)) return code;
    handle.reset();
    VmPushLString(L, bytes.data(), static_cast<size_t>(bytes.size()));
    VmPushNumber(L, static_cast<double>(bytes.size()));
    return 2;
}

int StringToFile(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    size_t length;
    const char* text = GetArgString(L, 1, &length);
    const char* name = GetArgString(L, 2, nullptr);
    FilePtr handle(FileOpen(name, QV_FILE_WRITE));
    if (!handle) return ErrorWithText(ERR_WRITEFILE, name);
    auto n = static_cast<int64_t>(length);
    bool written = n == 0 || FileWrite(handle.get(), text, n) == n;
    // The close writes what is still buffered: a full disk shows up there.
    bool closed = FileClose(handle.release()) == 0;
    if (written && closed) return 0;
    return ErrorWithText(ERR_WRITE, name);
}

}  // namespace qv
