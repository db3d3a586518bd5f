#include "libs/dos/pack.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "platform/linux/blocks.h"
#include "platform/linux/files.h"
#include "platform/linux/paths.h"
#include "runtime/errors.h"

namespace qv {
namespace {

// Input and output windows of both engines.
constexpr int64_t kWindow = 16384;
constexpr char kPackMagic[] = "QVPK";

struct Windows {
    BlockPtr<uint8_t> in{static_cast<uint8_t*>(AllocMemBlock(kWindow, 0))};
    BlockPtr<uint8_t> out{static_cast<uint8_t*>(AllocMemBlock(kWindow, 0))};
    bool Valid() const { return in && out; }
};

// A zlib stream that is ended however the engine leaves.
struct Deflater {
    z_stream s{};
    bool live = false;
    ~Deflater() {
        if (live) deflateEnd(&s);
    }
};

struct Inflater {
    z_stream s{};
    bool live = false;
    ~Inflater() {
        if (live) inflateEnd(&s);
    }
};

int MapZlibError(int result) {
    switch (result) {
        case Z_ERRNO:
            return ERR_ZLIBIO;
        case Z_STREAM_ERROR:
            return ERR_ZLIBSTREAM;
        case Z_DATA_ERROR:
            return ERR_ZLIBDATA;
        case Z_MEM_ERROR:
            return ERR_MEM;
        case Z_VERSION_ERROR:
            return ERR_ZLIBVERSION;
        default:
            return ERR_UNKNOWN;
    }
}

int NameError(int code, const char* name) {
    SetErrorString(name);
    return code;
}

// Reads the next input window; false for a short read before the end (ERR_READ).
bool ReadWindow(qvFile* source, uint8_t* window, int64_t* n) {
    *n = FileReadBuffered(source, window, kWindow);
    return *n >= 0 && (*n == kWindow || FileAtEnd(source));
}

bool WriteAll(qvFile* destination, const uint8_t* bytes, int64_t n) {
    return n == 0 || FileWrite(destination, bytes, n) == n;
}

// The destination's size, then its close: a close that fails has lost data.
int Finish(FilePtr* destination, uint32_t* outSize) {
    int64_t size = FileSeek(destination->get(), 0, QV_SEEK_CURRENT);
    if (FileClose(destination->release()) != 0) return ERR_WRITE;
    if (outSize != nullptr) *outSize = static_cast<uint32_t>(size);
    return 0;
}

int Deflate(qvFile* source, qvFile* destination, const Windows& w) {
    Deflater z;
    int result = deflateInit(&z.s, Z_DEFAULT_COMPRESSION);
    if (result != Z_OK) return MapZlibError(result);
    z.live = true;
    int flush;
    do {
        int64_t n;
        if (!ReadWindow(source, w.in.get(), &n)) return ERR_READ;
        flush = FileAtEnd(source) ? Z_FINISH : Z_NO_FLUSH;
        z.s.next_in = w.in.get();
        z.s.avail_in = static_cast<uInt>(n);
        do {
            z.s.next_out = w.out.get();
            z.s.avail_out = kWindow;
            if (deflate(&z.s, flush) == Z_STREAM_ERROR) return ERR_ZLIBSTREAM;
            if (!WriteAll(destination, w.out.get(), kWindow - z.s.avail_out)) return ERR_WRITE;
        } while (z.s.avail_out == 0);
    } while (flush != Z_FINISH);
    return 0;
}

int Inflate(qvFile* source, qvFile* destination, const Windows& w) {
    Inflater z;
    int result = inflateInit(&z.s);
    if (result != Z_OK) return MapZlibError(result);
    z.live = true;
    while (result != Z_STREAM_END) {
        int64_t n;
        if (!ReadWindow(source, w.in.get(), &n)) return ERR_READ;
        if (n == 0) break;
        z.s.next_in = w.in.get();
        z.s.avail_in = static_cast<uInt>(n);
        do {
            z.s.next_out = w.out.get();
            z.s.avail_out = kWindow;
            result = inflate(&z.s, Z_NO_FLUSH);
            if (result == Z_NEED_DICT) return ERR_ZLIBDATA;
            if (result == Z_DATA_ERROR || result == Z_MEM_ERROR || result == Z_STREAM_ERROR) {
                return MapZlibError(result);
            }
            if (!WriteAll(destination, w.out.get(), kWindow - z.s.avail_out)) return ERR_WRITE;
        } while (z.s.avail_out == 0 && result != Z_STREAM_END);
    }
    return result == Z_STREAM_END ? 0 : ERR_ZLIBDATA;  // the input ended inside the stream
}

// The magic at offset of source, and the four reserved bytes after it skipped.
bool ReadMagic(qvFile* source, const char* magic, uint32_t offset) {
    uint8_t head[4];
    return FileSeek(source, offset, QV_SEEK_BEGINNING) >= 0 &&
           FileReadBuffered(source, head, 4) == 4 && std::memcmp(head, magic, 4) == 0 &&
           FileSeek(source, 4, QV_SEEK_CURRENT) >= 0;
}

}  // namespace
}  // namespace qv

int PackFile(const char* magic, const char* source, const char* destination, uint32_t* outSize) {
    if (outSize != nullptr) *outSize = 0;
    qv::Windows windows;
    if (!windows.Valid()) return ERR_MEM;
    qv::FilePtr src(FileOpen(source, QV_FILE_READ));
    if (!src) return qv::NameError(ERR_READFILE, source);
    if (SameObject(source, destination)) return qv::NameError(ERR_WRONGUSAGE, destination);
    qv::FilePtr dst(FileOpen(destination, QV_FILE_WRITE));
    if (!dst) return qv::NameError(ERR_WRITEFILE, destination);
    static constexpr uint8_t kReserved[4] = {};
    if (FileWrite(dst.get(), magic, 4) != 4 || FileWrite(dst.get(), kReserved, 4) != 4) {
        return ERR_WRITE;
    }
    int result = qv::Deflate(src.get(), dst.get(), windows);
    return result != 0 ? result : qv::Finish(&dst, outSize);
}

int UnpackFile(const char* magic, const char* source, const char* destination, uint32_t startOffset,
               uint32_t* outSize) {
    if (outSize != nullptr) *outSize = 0;
    qv::Windows windows;
    if (!windows.Valid()) return ERR_MEM;
    qv::FilePtr src(FileOpen(source, QV_FILE_READ));
    if (!src) return qv::NameError(ERR_READFILE, source);
    if (!qv::ReadMagic(src.get(), magic, startOffset)) return ERR_PAKFORMAT;
    if (SameObject(source, destination)) return qv::NameError(ERR_WRONGUSAGE, destination);
    qv::FilePtr dst(FileOpen(destination, QV_FILE_WRITE));
    if (!dst) return qv::NameError(ERR_WRITEFILE, destination);
    int result = qv::Inflate(src.get(), dst.get(), windows);
    int closed = qv::Finish(&dst, outSize);
    return result != 0 ? result : closed;
}

int CompressFile(qvVmState* L) {
    const char* source = GetArgString(L, 1, nullptr);
    const char* destination = GetArgString(L, 2, nullptr);
    uint32_t size;
    int result = PackFile(qv::kPackMagic, source, destination, &size);
    if (result != 0) return result;
    VmPushNumber(L, size);
    return 1;
}

int DecompressFile(qvVmState* L) {
    const char* source = GetArgString(L, 1, nullptr);
    const char* destination = GetArgString(L, 2, nullptr);
    uint32_t size;
    int result = UnpackFile(qv::kPackMagic, source, destination, 0, &size);
    if (result != 0) return result;
    VmPushNumber(L, size);
    return 1;
}
