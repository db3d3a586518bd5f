#include "runtime/files.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/linux/blocks.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/strings.h"

namespace qv {
namespace {

constexpr std::string_view kChunkPrefix = ":::chunk";
constexpr std::string_view kFontPrefix = "::font:";
constexpr int64_t kCopyBuffer = 16384;
// ExamineEx's date for virtual files: 16 August 1982, 00:00:00.
constexpr qvDateStamp kVirtualFileDate = {1688, 0, 0};
constexpr int32_t kVirtualFileType = 15;

bool IsChunkName(const char* name) {
    return IsChunkPath(name);
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           StrICmp(std::string(s.substr(s.size() - suffix.size())).c_str(),
                   std::string(suffix).c_str()) == 0;
}

// Linked-file names compare without regard to case and with "\" read as "/".
std::string Normalised(std::string_view name) {
    std::string out(name);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    return StrICmp(Normalised(a).c_str(), Normalised(b).c_str()) == 0;
}

// The linked file that a lookup names, or none.
const qvLinkedFile* FindLinkedFile(const qvScriptHeader* header, std::string_view name, bool font) {
    for (const qvLinkedFile* f = header->linkedFiles; f != nullptr; f = f->next) {
        std::string_view entry(f->name);
        bool isFont = entry.starts_with(kFontPrefix);
        if (isFont != font) continue;
        if (SameName(isFont ? entry.substr(kFontPrefix.size()) : entry, name)) return f;
    }
    return nullptr;
}

int CopyContent(qvFile* src, qvFile* dst, uint8_t* buffer, const char* source,
                const char* destination) {
    FileSeek(src, 0, QV_SEEK_END);
    int64_t left = FileSeek(src, 0, QV_SEEK_BEGINNING);
    while (left > 0) {
        int64_t n = std::min(left, kCopyBuffer);
        if (FileReadBuffered(src, buffer, n) != n) return ErrorWithText(ERR_READFILE, source);
        if (FileWrite(dst, buffer, n) != n) return ErrorWithText(ERR_WRITEFILE, destination);
        left -= n;
    }
    return 0;
}

// Reads n bytes in either order; a missing byte counts as 0xFF (FileReadChar's -1) and
// makes the result false.
bool ReadOrdered(qvFile* file, int n, bool bigEndian, uint32_t* value) {
    uint32_t v = 0;
    bool complete = true;
    for (int i = 0; i < n; ++i) {
        int c = FileReadChar(file);
        complete = complete && c >= 0;
        auto byte = static_cast<uint32_t>(c) & 0xFF;
        v = bigEndian ? (v << 8 | byte) : (v | byte << (8 * i));
    }
    *value = v;
    return complete;
}

}  // namespace

bool ReadBE(qvFile* file, int n, uint32_t* value) {
    return ReadOrdered(file, n, true, value);
}

bool ReadLE(qvFile* file, int n, uint32_t* value) {
    return ReadOrdered(file, n, false, value);
}

bool ReadBEU16(qvFile* file, uint32_t* value) {
    return ReadBE(file, 2, value);
}

void CopyText(char* out, size_t size, const char* text) {
    size_t n = std::min(std::strlen(text), size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// Without regard to case, as the font commands map them.
bool IsBuiltInFontName(const char* name) {
    static constexpr const char* kNames[] = {":::default_sans", ":::default_serif",
                                             ":::default_mono", ":::default_bitmap",
                                             ":::default_truetype"};
    return std::any_of(std::begin(kNames), std::end(kNames),
                       [name](const char* builtIn) { return StrICmp(name, builtIn) == 0; });
}

bool IsFontFileName(std::string_view name) {
    return EndsWithNoCase(name, ".ttf") || EndsWithNoCase(name, ".otf");
}

}  // namespace qv

namespace {

uint32_t ReadLoose(qvFile* file, int n, bool bigEndian) {
    uint32_t v;
    qv::ReadOrdered(file, n, bigEndian, &v);
    return v;
}

int WriteBytes(qvFile* file, uint32_t value, int n, bool bigEndian) {
    for (int i = 0; i < n; ++i) {
        int shift = bigEndian ? 8 * (n - 1 - i) : 8 * i;
        if (FileWriteChar(file, static_cast<int>(value >> shift) & 0xFF) < 0) return 0;
    }
    return 1;
}

}  // namespace

std::string MakeChunkPath(const char* name, int64_t offset, uint64_t size, int64_t base,
                          const void* container) {
    std::string path;
    if (offset == -1) {
        char address[32];
        std::snprintf(address, sizeof address, "%" PRIxPTR, reinterpret_cast<uintptr_t>(container));
        path = ":::chunkS" + std::to_string(base) + ":" + std::to_string(size);
        return path + "*" + FilePartEx(name) + "/" + address;
    }
    path = ":::chunk" + std::to_string(static_cast<uint64_t>(base + offset)) + ":" +
           std::to_string(size);
    return path + "*" + FilePartEx(name) + "/" + static_cast<const char*>(container);
}

std::string ResolveAppletFile(qvVmState* L, const char* name, int font, int* found) {
    if (found != nullptr) *found = 0;
    const qvScriptHeader* header = GetAppletDescriptor(L);
    if (header == nullptr) return name;
    std::string_view key(name);
    bool fontLookup = font != 0 && !qv::IsFontFileName(key);
    if (fontLookup && qv::EndsWithNoCase(key, ".font")) key.remove_suffix(5);
    const qvLinkedFile* file = qv::FindLinkedFile(header, key, fontLookup);
    if (file == nullptr) return name;
    if (found != nullptr) *found = 1;
    return MakeChunkPath(file->name, file->offset, file->size, qv::Runtime().linkOffset,
                         file->containerPath);
}

const char* GetStringArgResolved(qvVmState* L, int idx, int font, int* found) {
    const char* name = GetArgString(L, idx, nullptr);
    int linked = 0;
    std::string resolved = ResolveAppletFile(L, name, font, &linked);
    if (found != nullptr) *found = linked;
    if (!linked) return name;
    VmPushLString(L, resolved.data(), resolved.size());
    VmReplace(L, idx);
    return VmToString(L, idx);
}

qvScriptHeader* GetAppletDescriptor(qvVmState* L) {
    return static_cast<qvScriptHeader*>(GetRegistryPointer(L, "applet"));
}

qvStartupOptions* GetClargsRecord(qvVmState* L) {
    return static_cast<qvStartupOptions*>(GetRegistryPointer(L, "clargs"));
}

qvFileHandle* OpenFileEx(const char* name, int mode) {
    size_t length = std::strlen(name);
    if (length >= sizeof(qvFileHandle::name)) return nullptr;
    qvLock* lock = nullptr;
    if (!qv::IsChunkName(name)) {
        lock = LockPath(name, mode);
        if (lock == nullptr) return nullptr;
    }
    auto* handle = static_cast<qvFileHandle*>(AllocMemBlock(sizeof(qvFileHandle), 1));
    if (handle == nullptr) {
        ReleaseLock(lock);
        return nullptr;
    }
    handle->lock = lock;
    std::memcpy(handle->name, name, length + 1);
    return handle;
}

void CloseFileEx(qvFileHandle* handle) {
    if (handle == nullptr) return;
    ReleaseLock(handle->lock);
    FreeMemBlock(handle);
}

int ExamineEx(qvFileHandle* handle, qvFileAttributes* info) {
    if (handle->lock != nullptr) return ExamineObjectInfo(handle->lock, info);
    *info = {};
    // The size is the number after the first ":" that follows ":::chunk".
    std::string_view rest(handle->name);
    rest.remove_prefix(std::min(rest.size(), rest.find(':', qv::kChunkPrefix.size()) + 1));
    std::from_chars(rest.data(), rest.data() + rest.size(), info->size);
    info->type = qv::kVirtualFileType;
    info->date = qv::kVirtualFileDate;
    std::string_view name;
    if (qv::VirtualFileName(handle->name, &name)) {
        std::memcpy(info->name, name.data(), std::min(name.size(), sizeof info->name - 1));
    }
    return 1;
}

int ExamineNextEx(qvFileHandle*, qvDirScan* scan, qvFileAttributes* info) {
    return ExamineDirNext(scan, info);
}

int ExamineDirEx(qvFileHandle* handle, qvDirScan** scan) {
    *scan = nullptr;
    const int code = handle->lock != nullptr ? OpenDirScan(handle->lock, scan) : ERR_NOTADIR;
    // The scan's messages name the object ("%s is not a directory!").
    return code != 0 ? ErrorWithText(code, handle->name) : 0;
}

int NameFromFileEx(qvFileHandle* handle, char* buffer, size_t size) {
    if (handle->lock != nullptr) return LockToPath(handle->lock, buffer, size);
    std::string_view name;
    if (!qv::VirtualFileName(handle->name, &name) || name.empty()) name = "unknown";
    char dir[kPathBufferSize];
    if (!GetCurrentDirName(dir, sizeof dir) || std::strlen(dir) >= size) return 0;
    std::strcpy(buffer, dir);
    return AddPart(buffer, std::string(name).c_str(), size);
}

int CopyFileEx(const char* source, const char* destination) {
    qv::BlockPtr<uint8_t> buffer(static_cast<uint8_t*>(AllocMemBlock(qv::kCopyBuffer, 0)));
    if (!buffer) return ERR_MEM;
    qv::FilePtr src(FileOpen(source, QV_FILE_READ));
    if (!src) return ErrorWithText(ERR_READFILE, source);
    qv::FilePtr dst(FileOpen(destination, QV_FILE_WRITE));
    if (!dst) return ErrorWithText(ERR_WRITEFILE, destination);
    int result = qv::CopyContent(src.get(), dst.get(), buffer.get(), source, destination);
    if (FileClose(dst.release()) != 0 && result == 0) {
        SetErrorString(destination);
        result = ERR_WRITEFILE;
    }
    return result;
}

int AddPart(char* path, const char* name, size_t size) {
    size_t length = std::strlen(path);
    bool separator = length > 0 && std::strchr("/\\:", path[length - 1]) == nullptr;
    size_t nameLength = std::strlen(name);
    if (length + (separator ? 1 : 0) + nameLength + 1 > size) return 0;
    if (separator) path[length++] = '/';
    std::memcpy(path + length, name, nameLength + 1);
    return 1;
}

int64_t FileWriteString(qvFile* file, const char* text) {
    return FileWrite(file, text, static_cast<int64_t>(std::strlen(text)));
}

int32_t ReadLE16(qvFile* file) {
    return static_cast<int16_t>(ReadLoose(file, 2, false));
}

int32_t ReadBE16(qvFile* file) {
    return static_cast<int16_t>(ReadLoose(file, 2, true));
}

uint32_t ReadLE32(qvFile* file) {
    return ReadLoose(file, 4, false);
}

uint32_t ReadBE32(qvFile* file) {
    return ReadLoose(file, 4, true);
}

int WriteLE16(qvFile* file, uint32_t value) {
    return WriteBytes(file, value, 2, false);
}

int WriteBE16(qvFile* file, uint32_t value) {
    return WriteBytes(file, value, 2, true);
}

int WriteLE32(qvFile* file, uint32_t value) {
    return WriteBytes(file, value, 4, false);
}

int WriteBE32(qvFile* file, uint32_t value) {
    return WriteBytes(file, value, 4, true);
}
