#include "libs/dos/serialize.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/convert.h"
#include "libs/dos/base64.h"
#include "libs/dos/commands.h"
#include "platform/linux/blocks.h"
#include "platform/linux/byte_order.h"
#include "runtime/arguments.h"

namespace qv {
namespace {

enum Tag : uint8_t { kEnd = 0, kNumber = 2, kString = 3, kTable = 4, kFunction = 5 };
// Deeper nesting is refused both ways, so that neither a table nor a crafted file can run the
// native stack out.
constexpr int kMaxDepth = 200;
constexpr size_t kHexDigits = 8;
constexpr char kTableMagic[] = "QVT0", kBinaryMagic[] = "QVF0", kTextMagic[] = "QVF1";

// A record's count reads in either case; inside tables only lowercase tells a text body from
// a binary one.
bool IsHex(const char* text, size_t n, bool upperToo) {
    return std::all_of(text, text + n, [upperToo](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
               (upperToo && c >= 'A' && c <= 'F');
    });
}

class Writer {
public:
    Writer(qvVmState* L, qvDosFile* file, bool textFunctions)
        : L_(L), file_(file), text_(textFunctions) {}

    int Magic(const char* magic) { return Put(magic, 4); }

    // The body of the table at idx (an absolute index).
    int Table(int idx, int depth) {
        if (depth > kMaxDepth) return ERR_STACK;
        const void* self = VmToPointer(L_, idx);
        // A table on the path to itself would be written for ever.
        if (std::find(path_.begin(), path_.end(), self) != path_.end()) return ERR_WRONGUSAGE;
        if (!VmCheckStack(L_, 4)) return ERR_STACK;
        path_.push_back(self);
        int mark = VmGetTop(L_);
        int code = 0;
        VmPushNil(L_);
        while (code == 0 && VmNext(L_, idx)) {
            code = Pair(VmGetTop(L_) - 1, depth);
            VmSetTop(L_, -2);
        }
        VmSetTop(L_, mark);
        path_.pop_back();
        return code != 0 ? code : Byte(kEnd);
    }

    // A function body in the chosen form.
    int Function(int idx, bool text) {
        if (VmIsCFunction(L_, idx)) return ERR_NOQVFUNC;
        std::vector<uint8_t> chunk;
        int code = CatchAllocFailure(int{ERR_MEM}, [&] { return DumpFunction(L_, idx, &chunk); });
        if (code != 0) return code;
        if (!text) {
            if (int failed = U32(static_cast<uint32_t>(chunk.size()))) return failed;
            return Put(chunk.data(), chunk.size());
        }
        std::string lines;
        if (!CatchAllocFailure(false, [&] { return (lines = EncodeBase64Lines(chunk), true); }))
            return ERR_MEM;
        char count[kHexDigits + 1];
        std::snprintf(count, sizeof count, "%.8lx", static_cast<unsigned long>(lines.size()));
        if (int failed = Put(count, kHexDigits)) return failed;
        return Put(lines.data(), lines.size());
    }

private:
    int Put(const void* bytes, size_t n) {
        return WriteFileBytes(file_, bytes, static_cast<int64_t>(n));
    }
    int Byte(uint8_t b) { return Put(&b, 1); }
    int U32(uint32_t v) {
        uint8_t bytes[4];
        StoreBigEndian(v, bytes, 4);
        return Put(bytes, 4);
    }
    int Number(double v) {
        uint64_t bits = std::bit_cast<uint64_t>(v);
        uint8_t bytes[9] = {kNumber};
        StoreBigEndian(bits, bytes + 1, 8);
        return Put(bytes, 9);
    }
    int String(int idx) {
        size_t n = VmStrLen(L_, idx);
        if (int code = Byte(kString)) return code;
        if (int code = U32(static_cast<uint32_t>(n))) return code;
        return Put(VmToString(L_, idx), n);
    }

    // The pair whose key is at k and value at k + 1.
    int Pair(int k, int depth) {
        int keyType = VmType(L_, k), valueType = VmType(L_, k + 1);
        if (keyType != VM_TNUMBER && keyType != VM_TSTRING) return ERR_WRONGUSAGE;
        if (valueType == VM_TBOOLEAN || valueType == VM_TTHREAD || valueType == VM_TNIL) return 0;
        if (int code = keyType == VM_TNUMBER ? Number(VmToNumber(L_, k)) : String(k)) return code;
        switch (valueType) {
            case VM_TNUMBER:
                return Number(VmToNumber(L_, k + 1));
            case VM_TSTRING:
                return String(k + 1);
            case VM_TTABLE:
                if (int code = Byte(kTable)) return code;
                return Table(k + 1, depth + 1);
            case VM_TFUNCTION:
                if (VmIsCFunction(L_, k + 1)) return ERR_NOQVFUNC;
                if (int code = Byte(kFunction)) return code;
                return Function(k + 1, text_);
            default:  // object handles
                return Number(0.0);
        }
    }

    qvVmState* L_;
    qvDosFile* file_;
    bool text_;
    std::vector<const void*> path_;
};

class Reader {
public:
    Reader(qvVmState* L, qvDosFile* file) : L_(L), file_(file) {}

    int Magic(char magic[4]) { return Take(magic, 4); }

    // A table body as a new table on the stack.
    int Table(int depth) {
        if (depth > kMaxDepth) return ERR_READTABLE;
        if (!VmCheckStack(L_, 4)) return ERR_STACK;
        VmNewTable(L_);
        int t = VmGetTop(L_);
        for (;;) {
            uint8_t tag;
            if (int code = Take(&tag, 1)) return code;
            if (tag == kEnd) return 0;
            if (int code = Key(tag)) return code;
            if (int code = Take(&tag, 1)) return code;
            if (int code = Value(tag, depth)) return code;
            VmRawSet(L_, t);
        }
    }

    // A function body as a function on the stack.
    int Function(bool text) {
        uint32_t n;
        if (text) {
            char digits[kHexDigits + 1] = {};
            if (int code = Take(digits, kHexDigits)) return code;
            if (!IsHex(digits, kHexDigits, true)) return ERR_BADBASE64;
            n = static_cast<uint32_t>(std::strtoul(digits, nullptr, 16));
        } else if (int code = U32(&n)) {
            return code;
        }
        std::vector<uint8_t> bytes;
        if (int code = Bytes(n, &bytes)) return code;
        if (text) {
            std::vector<uint8_t> chunk;
            bool decoded = false;
            if (!CatchAllocFailure(false,
                                   [&] { return (decoded = DecodeBase64(bytes, &chunk), true); }))
                return ERR_MEM;
            if (!decoded) return ERR_BADBASE64;
            bytes.swap(chunk);
        }
        return LoadChunk(L_, bytes, "?");
    }

private:
    int Take(void* destination, int64_t n) {
        return ReadExactBytes(file_, file_->handle, destination, n);
    }
    int U32(uint32_t* v) {
        uint8_t b[4];
        if (int code = Take(b, 4)) return code;
        *v = LoadBigEndian32(b);
        return 0;
    }
    int Number(double* v) {
        uint8_t b[8];
        if (int code = Take(b, 8)) return code;
        *v = std::bit_cast<double>(LoadBigEndian(b, 8));
        return 0;
    }
    // n bytes; a length beyond what the file holds is refused before anything is allocated.
    int Bytes(uint32_t n, std::vector<uint8_t>* out) {
        if (file_->position + int64_t{n} > file_->size) return ERR_READRANGE;
        if (!CatchAllocFailure(false, [&] { return (out->resize(n), true); })) return ERR_MEM;
        return Take(out->data(), n);
    }
    int String() {
        uint32_t n;
        if (int code = U32(&n)) return code;
        std::vector<uint8_t> bytes;
        if (int code = Bytes(n, &bytes)) return code;
        VmPushLString(L_, reinterpret_cast<const char*>(bytes.data()), n);
        return 0;
    }
    int Key(uint8_t tag) {
        if (tag == kString) return String();
        double v;
        if (tag != kNumber) return ERR_READTABLE;
        if (int code = Number(&v)) return code;
        if (std::isnan(v)) return ERR_READTABLE;  // no table takes it as a key
        VmPushNumber(L_, v);
        return 0;
    }
    int Value(uint8_t tag, int depth) {
        switch (tag) {
            case kNumber: {
                double v;
                if (int code = Number(&v)) return code;
                VmPushNumber(L_, v);
                return 0;
            }
            case kString:
                return String();
            case kTable:
                return Table(depth + 1);
            case kFunction:
                return Function(TextFollows());
            default:
                return ERR_READTABLE;
        }
    }
    // Inside tables a text body starts with 8 lowercase hex digits; a binary one has the
    // chunk's signature 0x1B as its fifth byte, which is no hex digit.
    bool TextFollows() {
        int64_t at = file_->position;
        char digits[kHexDigits];
        if (file_->size - at < static_cast<int64_t>(kHexDigits) || Take(digits, kHexDigits) != 0)
            return false;
        if (FileSeek(file_->handle, at, QV_SEEK_BEGINNING) >= 0) file_->position = at;
        return IsHex(digits, kHexDigits, false);
    }

    qvVmState* L_;
    qvDosFile* file_;
};

// File argument 1 when it may be written (read), in *file; 0 or the error.
int FileForWriting(qvVmState* L, qvDosFile** file) {
    if (int code = FileArg(L, 1, file)) return code;
    return CheckWritable(*file);
}

int FileForReading(qvVmState* L, qvDosFile** file) {
    if (int code = FileArg(L, 1, file)) return code;
    return CheckReadable(*file);
}

bool Flag(qvVmState* L, int idx) {
    return Trunc32(GetOptArgNumber(L, idx, 0)) != 0;
}

}  // namespace

int WriteTable(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvDosFile* file;
    if (int code = FileForWriting(L, &file)) return code;
    CheckArgTable(L, 2);
    Writer writer(L, file, Flag(L, 3));
    if (int code = writer.Magic(kTableMagic)) return code;
    return writer.Table(2, 0);
}

int ReadTable(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileForReading(L, &file)) return code;
    Reader reader(L, file);
    char magic[4];
    if (int code = reader.Magic(magic)) return code;
    if (std::memcmp(magic, kTableMagic, 4) != 0) return ERR_READTABLE;
    if (int code = reader.Table(0)) return code;
    return 1;
}

int WriteFunction(qvVmState* L) {
    CheckArgCount(L, 2, 3);
    qvDosFile* file;
    if (int code = FileForWriting(L, &file)) return code;
    CheckArgFunction(L, 2);
    bool text = Flag(L, 3);
    if (VmIsCFunction(L, 2)) return ERR_NOQVFUNC;
    Writer writer(L, file, text);
    if (int code = writer.Magic(text ? kTextMagic : kBinaryMagic)) return code;
    return writer.Function(2, text);
}

int ReadFunction(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvDosFile* file;
    if (int code = FileForReading(L, &file)) return code;
    Reader reader(L, file);
    char magic[4];
    if (int code = reader.Magic(magic)) return code;
    bool text = std::memcmp(magic, kTextMagic, 4) == 0;
    if (!text && std::memcmp(magic, kBinaryMagic, 4) != 0) return ERR_READFUNC;
    if (int code = reader.Function(text)) return code;
    return 1;
}

}  // namespace qv
