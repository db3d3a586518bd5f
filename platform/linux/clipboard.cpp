#include "platform/linux/clipboard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine/error_codes.h"
#include "platform/linux/byte_order.h"
#include "platform/linux/private_dir.h"

namespace qv {
namespace {

// Larger stores are not read: a clipboard is for what a user copies.
constexpr size_t kMaxStore = 64u << 20;

void AppendBE32(std::string* out, uint32_t value) {
    uint8_t bytes[4];
    StoreBigEndian(value, bytes, 4);
    out->append(reinterpret_cast<const char*>(bytes), 4);
}

bool IdAt(std::span<const uint8_t> bytes, size_t at, const char* id) {
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, id, 4) == 0;
}

// The form's content after its type, cut to the bytes present.
std::span<const uint8_t> FormBody(std::span<const uint8_t> bytes) {
    size_t declared = LoadBigEndian32(bytes.data() + 4);
    size_t available = bytes.size() - 8;
    size_t content = declared < available ? declared : available;
    return content < 4 ? std::span<const uint8_t>() : bytes.subspan(12, content - 4);
}

// An open descriptor of the lock file, released on destruction.
class StoreLock {
public:
    StoreLock(const std::string& store, int operation) {
        fd_ = open((store + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        while (fd_ >= 0 && flock(fd_, operation) != 0 && errno == EINTR) {
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) close(fd_);
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

std::string ReadWhole(const std::string& path) {
    std::string bytes;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    char chunk[65536];
    while (bytes.size() < kMaxStore) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return bytes;
}

std::span<const uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string ClipboardPath() {
    const char* configured = std::getenv("QV_CLIPBOARD");
    if (configured != nullptr && *configured != '\0') return configured;
    std::string dir = PrivateRuntimeDir("clip");
    return dir.empty() ? "" : dir + "/clipboard";
}

std::string MakeFtxt(std::string_view text) {
    std::string form = "FORM";
    size_t padded = text.size() + (text.size() & 1);
    AppendBE32(&form, static_cast<uint32_t>(4 + 8 + padded));
    form += "FTXTCHRS";
    AppendBE32(&form, static_cast<uint32_t>(text.size()));
    form.append(text);
    if (text.size() & 1) form.push_back('\0');
    return form;
}

int ClipboardKindOf(std::span<const uint8_t> bytes) {
    if (bytes.size() < 12 || !IdAt(bytes, 0, "FORM")) return QV_CLIPBOARD_EMPTY;
    if (IdAt(bytes, 8, "FTXT")) return QV_CLIPBOARD_TEXT;
    if (IdAt(bytes, 8, "ILBM")) return QV_CLIPBOARD_IMAGE;
    return QV_CLIPBOARD_UNKNOWN;
}

bool ReadFtxt(std::span<const uint8_t> bytes, std::string* text) {
    if (ClipboardKindOf(bytes) != QV_CLIPBOARD_TEXT) return false;
    text->clear();
    std::span<const uint8_t> body = FormBody(bytes);
    size_t at = 0;
    while (body.size() - at >= 8) {
        size_t length = LoadBigEndian32(body.data() + at + 4);
        size_t start = at + 8;
        if (length > body.size() - start) break;
        if (IdAt(body, at, "CHRS"))
            text->append(reinterpret_cast<const char*>(&body[start]), length);
        at = start + length + (length & 1);
        if (at > body.size()) break;
    }
    return true;
}

std::string ReadClipboardStore() {
    std::string path = ClipboardPath();
    if (path.empty()) return "";
    StoreLock lock(path, LOCK_SH);
    return ReadWhole(path);
}

int WriteClipboardStore(std::string_view bytes) {
    std::string path = ClipboardPath();
    if (path.empty()) return ERR_CLIPOPEN;
    StoreLock lock(path, LOCK_EX);
    if (!lock.Held()) return ERR_CLIPOPEN;
    return ReplaceFile(path, bytes, 0600) ? 0 : ERR_CLIPWRITE;
}

}  // namespace qv

int WriteClipboardData(std::string_view text) {
    return qv::WriteClipboardStore(qv::MakeFtxt(text));
}

int ReadClipboardData(std::string* text) {
    std::string store = qv::ReadClipboardStore();
    int kind = qv::ClipboardKindOf(qv::AsBytes(store));
    if (kind == QV_CLIPBOARD_TEXT) qv::ReadFtxt(qv::AsBytes(store), text);
    return kind;
}

int ClearClipboardData() {
    return WriteClipboardData(" ");
}

int PeekClipboardType() {
    return qv::ClipboardKindOf(qv::AsBytes(qv::ReadClipboardStore()));
}
