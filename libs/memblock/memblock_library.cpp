#include "libs/memblock/memblock_library.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/convert.h"
#include "libs/dos/dos_library.h"
#include "platform/linux/byte_order.h"
#include "platform/linux/debug_output.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/exports.h"
#include "runtime/objects.h"

namespace qv {
namespace {

// The value types, as the system library's constants name them.
enum : int32_t { kLong = 1, kString = 3, kShort = 6, kByte = 7 };

constexpr uint8_t kPoison = 0xA5;

qvObjectHeader* blocks = nullptr;

qvMemBlock* AsBlock(qvObjectHeader* header) {
    return reinterpret_cast<qvMemBlock*>(header);
}

void FreeBlock(qvVmState* L, qvMemBlock* block) {
    FreeMemBlock(block->data);
    FreeRefList(L, block->header.data);
    FreeMemBlock(block);
}

void Unlink(qvMemBlock* block) {
    UnlinkObject(&blocks, &block->header);
}

// The block of argument idx in *block: 0, or the lookup error, which commands return.
int BlockArg(qvVmState* L, int idx, qvMemBlock** block) {
    return FindObjectArg(L, idx, blocks, ERR_FINDMEMBLK, block);
}

int32_t IntArg(qvVmState* L, int idx, double def) {
    return Trunc32(GetOptArgNumber(L, idx, def));
}

// Whether [offset, offset + count) lies inside the block; in 64 bits, so that no sum wraps.
bool Inside(const qvMemBlock* block, int64_t offset, int64_t count) {
    return offset >= 0 && count >= 0 && offset + count <= block->size;
}

// The width of a numeric type; 0 for any other.
int Width(int32_t type) {
    return type == kLong ? 4 : type == kShort ? 2 : type == kByte ? 1 : 0;
}

// Printable in ISO 8859-1, the run-time's character set (space included).
bool IsPrintable(uint8_t c) {
    return (c >= 0x20 && c < 0x7F) || c >= 0xA0;
}

// The text of a Peek of length 0: up to the first byte that is neither printable nor a tab,
// line feed or carriage return.
size_t TextLength(const uint8_t* at, size_t room) {
    size_t n = 0;
    while (n < room && (IsPrintable(at[n]) || at[n] == '\t' || at[n] == '\n' || at[n] == '\r')) ++n;
    return n;
}

void DumpLine(const uint8_t* bytes, int64_t offset, int n) {
    char text[100];
    int at = std::snprintf(text, sizeof text, "%.8x: ", static_cast<unsigned>(offset));
    for (int i = 0; i < 16; ++i) {
        at += i < n ? std::snprintf(text + at, sizeof text - at, "%.2x ", bytes[i])
                    : std::snprintf(text + at, sizeof text - at, "   ");
    }
    for (int i = 0; i < n; ++i)
        text[at++] = IsPrintable(bytes[i]) ? static_cast<char>(bytes[i]) : '.';
    text[at++] = '\n';
    WriteDebugPlain(std::string_view(text, at));
}

int AllocMem(qvVmState* L) {
    CheckArgCount(L, 2, 2);
    int wasNil = 0;
    auto id = static_cast<uint32_t>(GetOptIntArg(L, 1, &wasNil));
    int32_t size = Trunc32(GetArgNumber(L, 2));
    if (size <= 0) return ERR_WRONGUSAGE;
    if (!wasNil) {
        if (qvObjectHeader* h = FindObjectInList(blocks, {id, nullptr})) {
            Unlink(AsBlock(h));
            FreeBlock(L, AsBlock(h));
        }
    }
    auto* data = static_cast<uint8_t*>(AllocMemBlock(static_cast<size_t>(size), 0));
    if (data == nullptr) return ERR_MEM;
#ifndef NDEBUG
    // Blocks are not cleared; the test build fills them so that reads of bytes never written
    // show up.
    std::memset(data, kPoison, static_cast<size_t>(size));
#endif
    auto* block = static_cast<qvMemBlock*>(AllocMemBlock(sizeof(qvMemBlock), 1));
    if (block == nullptr) {
        FreeMemBlock(data);
        return ERR_MEM;
    }
    block->header = NewObjectHeader(QV_OBJ_MEMORY, id, wasNil, block);
    block->size = size;
    block->data = data;
    AppendObject(&blocks, &block->header);
    return PushNewObjectHandle(L, block->header);
}

int FreeMem(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    qvMemBlock* block;
    if (int code = BlockArg(L, 1, &block)) return code;
    Unlink(block);
    FreeBlock(L, block);
    return 0;
}

int Peek(qvVmState* L) {
    CheckArgCount(L, 2, 4);
    int64_t offset = Trunc32(GetArgNumber(L, 2));
    if (offset < 0) return ERR_MEMRANGE;
    qvMemBlock* block;
    if (int code = BlockArg(L, 1, &block)) return code;
    int32_t type = IntArg(L, 3, kLong);
    if (type == kString) {
        int64_t length = IntArg(L, 4, 0);
        if (length < 0) return ERR_WRONGUSAGE;
        if (!Inside(block, offset, length > 0 ? length : 1)) return ERR_MEMRANGE;
        const uint8_t* at = block->data + offset;
        if (length == 0) length = static_cast<int64_t>(TextLength(at, block->size - offset));
        VmPushLString(L, reinterpret_cast<const char*>(at), static_cast<size_t>(length));
        return 1;
    }
    int width = Width(type);
    if (width == 0) return ERR_WRONGUSAGE;
    if (!Inside(block, offset, width)) return ERR_MEMRANGE;
    VmPushNumber(L, static_cast<uint32_t>(LoadBigEndian(block->data + offset, width)));
    return 1;
}

int Poke(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    int64_t offset = Trunc32(GetArgNumber(L, 2));
    if (offset < 0) return ERR_MEMRANGE;
    qvMemBlock* block;
    if (int code = BlockArg(L, 1, &block)) return code;
    int32_t type = IntArg(L, 4, kLong);
    if (type == kString) {
        size_t length;
        const char* text = GetArgString(L, 3, &length);
        if (!Inside(block, offset, static_cast<int64_t>(length) + 1)) return ERR_MEMRANGE;
        std::memcpy(block->data + offset, text, length + 1);
        return 0;
    }
    int width = Width(type);
    if (width == 0) return ERR_WRONGUSAGE;
    uint32_t value = Bits32(GetArgNumber(L, 3));
    if (!Inside(block, offset, width)) return ERR_MEMRANGE;
    StoreBigEndian(value, block->data + offset, width);
    return 0;
}

int FillMem(qvVmState* L) {
    CheckArgCount(L, 3, 5);
    uint32_t value = Bits32(GetArgNumber(L, 2));
    int64_t count = Trunc32(GetArgNumber(L, 3));
    int64_t offset = IntArg(L, 4, 0);
    int32_t type = IntArg(L, 5, kByte);
    if (count < 1) return 0;
    if (offset < 0) return ERR_MEMRANGE;
    qvMemBlock* block;
    if (int code = BlockArg(L, 1, &block)) return code;
    if (!Inside(block, offset, count)) return ERR_MEMRANGE;
    int width = Width(type);
    if (width == 0 || offset % width != 0 || count % width != 0) return ERR_WRONGUSAGE;
    if (width == 1) {
        std::memset(block->data + offset, static_cast<int>(value & 0xFF),
                    static_cast<size_t>(count));
        return 0;
    }
    for (int64_t at = 0; at < count; at += width)
        StoreBigEndian(value, block->data + offset + at, width);
    return 0;
}

int CopyMem(qvVmState* L) {
    CheckArgCount(L, 3, 5);
    int64_t count = Trunc32(GetArgNumber(L, 3));
    int64_t sourceOffset = IntArg(L, 4, 0), destinationOffset = IntArg(L, 5, 0);
    if (count < 1) return 0;
    if (sourceOffset < 0 || destinationOffset < 0) return ERR_MEMRANGE;
    qvObjectId sourceId = GetObjectIdArg(L, 1), destinationId = GetObjectIdArg(L, 2);
    if (sourceId.number == destinationId.number && sourceId.handle == destinationId.handle)
        return ERR_WRONGUSAGE;
    qvMemBlock *source, *destination;
    if (int code = BlockArg(L, 1, &source)) return code;
    if (int code = BlockArg(L, 2, &destination)) return code;
    if (!Inside(source, sourceOffset, count) || !Inside(destination, destinationOffset, count))
        return ERR_MEMRANGE;
    std::memcpy(destination->data + destinationOffset, source->data + sourceOffset,
                static_cast<size_t>(count));
    return 0;
}

int ReadMem(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    int64_t count = Trunc32(GetArgNumber(L, 3));
    int64_t offset = IntArg(L, 4, 0);
    if (count < 1) return 0;
    if (offset < 0) return ERR_WRONGUSAGE;
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    qvMemBlock* block;
    if (int code = BlockArg(L, 2, &block)) return code;
    if (int code = CheckReadable(file)) return code;
    if (!Inside(block, offset, count)) return ERR_MEMRANGE;
    return ReadFileBytes(file, block->data + offset, count);
}

int WriteMem(qvVmState* L) {
    CheckArgCount(L, 3, 4);
    int64_t count = Trunc32(GetArgNumber(L, 3));
    int64_t offset = IntArg(L, 4, 0);
    if (count < 1) return 0;
    if (offset < 0) return ERR_WRONGUSAGE;
    qvMemBlock* block;
    if (int code = BlockArg(L, 2, &block)) return code;
    qvDosFile* file;
    if (int code = FileArg(L, 1, &file)) return code;
    if (int code = CheckWritable(file)) return code;
    if (!Inside(block, offset, count)) return ERR_MEMRANGE;
    return WriteFileBytes(file, block->data + offset, count);
}

int DumpMem(qvVmState* L) {
    CheckArgCount(L, 1, 3);
    int64_t length = IntArg(L, 2, 0);
    int64_t offset = IntArg(L, 3, 0);
    if (offset < 0) return ERR_WRONGUSAGE;
    qvMemBlock* block;
    if (int code = BlockArg(L, 1, &block)) return code;
    if (length <= 0) length = block->size;
    if (!Inside(block, offset, length)) return ERR_MEMRANGE;
    for (int64_t at = 0; at < length; at += 16) {
        DumpLine(block->data + offset + at, offset + at,
                 static_cast<int>(std::min<int64_t>(16, length - at)));
    }
    return 0;
}

constexpr qvCommandEntry kMemBlockCommands[] = {
    {"AllocMem", AllocMem}, {"FreeMem", FreeMem}, {"Peek", Peek},       {"Poke", Poke},
    {"FillMem", FillMem},   {"CopyMem", CopyMem}, {"ReadMem", ReadMem}, {"WriteMem", WriteMem},
    {"DumpMem", DumpMem},   {nullptr, nullptr},
};

}  // namespace
}  // namespace qv

int RegisterMemBlockLibrary(qvVmState* L) {
    VmPushValue(L, VM_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, qv::kMemBlockCommands, 0);
    if (int code = RegisterObjectList(&qv::blocks)) return code;
    return RegisterCommandTable(qv::kMemBlockCommands, "memblock");
}

void FreeAllMemBlocks(qvVmState* L) {
    qv::DrainList(&qv::blocks, [L](qvObjectHeader* h) { qv::FreeBlock(L, qv::AsBlock(h)); });
}

int FindMemBlock(qvObjectId id, qvMemBlock** block) {
    qvObjectHeader* h = qv::FindObjectInList(qv::blocks, id);
    if (h == nullptr) return qv::ObjectNotFound(id, ERR_FINDMEMBLK);
    *block = qv::AsBlock(h);
    return 0;
}
