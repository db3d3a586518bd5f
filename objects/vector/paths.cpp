// Paths and their segment streams. A stream is a raw block of the run-time allocator whose
// size the path records, so that growing it is one reallocation (often in place), never a
// fresh copy per segment.
#include <algorithm>
#include <cstring>
#include <limits>

#include "objects/vector/path_list.h"
#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "plugins/vectorgraphics/segment_reader.h"
#include "runtime/errors.h"

namespace qv {
namespace {

qvObjectHeader* paths = nullptr;

constexpr size_t kMinimumGrowth = 1024;
constexpr size_t kSegmentSlack = 128;
constexpr size_t kTerminator = 4;

qvPath* AsPath(qvObjectHeader* header) {
    return reinterpret_cast<qvPath*>(header);
}

template <typename T>
uint8_t* Put(uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
    return at + sizeof value;
}

uint8_t* PutText(uint8_t* at, std::string_view text) {
    const size_t room = qvPathStringRoom(text.size());
    std::memcpy(at, text.data(), text.size());
    std::memset(at + text.size(), 0, room - text.size());
    return at + room;
}

void FreeStreamBlock(uint8_t* stream, int32_t capacity) {
    PlatformRealloc(stream, static_cast<size_t>(capacity), 0);
}

// A fresh path record of the list's type, its stream empty.
qvPath* NewRecord(uint32_t number, bool automatic) {
    auto* path = static_cast<qvPath*>(AllocMemBlock(sizeof(qvPath), 1));
    if (path == nullptr) return nullptr;
    path->header = NewObjectHeader(QV_OBJ_VECTORPATH, number, automatic, path);
    return path;
}

// Walks the segments, calling visit(segment, loose) where loose says that the segment draws
// from a current point the stream does not have (at its start or after a start of a
// sub-path), which the back end then takes at the origin.
template <typename Visit>
void WalkSegments(const qvPath& path, Visit visit) {
    vectorgraphics::SegmentReader reader(path.segments, UsedBytes(path));
    vectorgraphics::Segment segment;
    bool hasPoint = false;
    while (reader.Next(&segment)) {
        visit(segment, !hasPoint && segment.DrawsFromCurrentPoint());
        if (segment.code == QV_PATH_NEWSUBPATH) {
            hasPoint = false;
        } else if (segment.code != QV_PATH_CLOSE) {
            hasPoint = true;
        }
    }
}

constexpr size_t kOriginMoveBytes = 2 * sizeof(uint32_t) + 2 * sizeof(double);

void DeletePath(qvVmState* L, qvPath* path) {
    ClearStream(path);
    FreeRefList(L, path->header.data);
    FreeMemBlock(path);
}

}  // namespace

PathOperand PathOperand::Text(std::string_view v) {
    v = v.substr(0, v.find('\0'));
    PathOperand o(Kind::Text);
    o.text_ = v.data();
    o.textLength_ = static_cast<uint32_t>(std::min<size_t>(v.size(), UINT32_MAX));
    return o;
}

qvObjectHeader** PathListHead() {
    return &paths;
}

qvPath* NewPath(uint32_t number, bool automatic) {
    qvPath* path = NewRecord(number, automatic);
    if (path != nullptr) AppendObject(&paths, &path->header);
    return path;
}

qvPath* CopyPathRecord(const qvPath& source, uint32_t number, bool automatic) {
    qvPath* copy = NewRecord(number, automatic);
    if (copy == nullptr) return nullptr;
    if (source.segments != nullptr) {
        auto capacity = static_cast<size_t>(source.capacity);
        auto* stream = static_cast<uint8_t*>(PlatformRealloc(nullptr, 0, capacity));
        if (stream == nullptr) {
            FreeMemBlock(copy);
            return nullptr;
        }
        // The bytes after the terminator were never written; they are not copied.
        std::memcpy(stream, source.segments, UsedBytes(source) + kTerminator);
        copy->segments = stream;
        copy->capacity = source.capacity;
        copy->end = stream + UsedBytes(source);
    }
    return copy;
}

void FreePath(qvVmState* L, qvPath* path) {
    UnlinkObject(&paths, &path->header);
    DeletePath(L, path);
}

void FreePathList(qvVmState* L) {
    DrainList(&paths, [L](qvObjectHeader* h) { DeletePath(L, AsPath(h)); });
}

void FreePathOfNumber(qvVmState* L, uint32_t number) {
    if (qvObjectHeader* h = FindObjectInList(paths, {number, nullptr})) FreePath(L, AsPath(h));
}

void ClearStream(qvPath* path) {
    if (path->segments != nullptr) FreeStreamBlock(path->segments, path->capacity);
    path->segments = nullptr;
    path->capacity = 0;
    path->end = nullptr;
}

int GrowStream(qvPath* path, size_t needed) {
    const size_t used = UsedBytes(*path);
    const auto capacity = static_cast<size_t>(path->capacity);
    const size_t grown = capacity + std::max(needed, kMinimumGrowth);
    if (grown > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return ERR_MEM;
    auto* stream = static_cast<uint8_t*>(PlatformRealloc(path->segments, capacity, grown));
    if (stream == nullptr) return ERR_MEM;
    path->segments = stream;
    path->end = stream + used;
    path->capacity = static_cast<int32_t>(grown);
    return 0;
}

size_t SegmentRoom(std::span<const PathOperand> operands) {
    size_t strings = 0, exact = sizeof(uint32_t) + kTerminator;
    for (const PathOperand& operand : operands) {
        const size_t room = operand.room();
        if (operand.kind() == PathOperand::Kind::Text) strings += room;
        exact += room;
    }
    return std::max(kSegmentSlack + strings, exact);
}

void WriteSegment(qvPath* path, uint32_t code, std::span<const PathOperand> operands) {
    uint8_t* at = Put(path->end, code);
    for (const PathOperand& operand : operands) {
        switch (operand.kind()) {
            case PathOperand::Kind::Integer:
                at = Put(at, operand.integer());
                break;
            case PathOperand::Kind::Number:
                at = Put(at, operand.number());
                break;
            case PathOperand::Kind::Text:
                at = PutText(at, operand.text());
                break;
        }
    }
    path->end = at;
    Put(at, uint32_t{0});
}

int AnchorLooseStarts(qvPath* path) {
    size_t loose = 0;
    WalkSegments(*path, [&](const vectorgraphics::Segment&, bool isLoose) { loose += isLoose; });
    if (loose == 0) return 0;
    const size_t used = UsedBytes(*path), added = loose * kOriginMoveBytes;
    const size_t capacity = static_cast<size_t>(path->capacity) + added;
    if (capacity > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return ERR_MEM;
    auto* stream = static_cast<uint8_t*>(PlatformRealloc(nullptr, 0, capacity));
    if (stream == nullptr) return ERR_MEM;
    uint8_t* out = stream;
    WalkSegments(*path, [&](const vectorgraphics::Segment& segment, bool isLoose) {
        if (isLoose) out = Put(Put(Put(Put(out, uint32_t{QV_PATH_MOVETO}), 0), 0.0), 0.0);
        std::memcpy(out, path->segments + segment.offset, segment.bytes);
        out += segment.bytes;
    });
    Put(out, uint32_t{0});
    FreeStreamBlock(path->segments, path->capacity);
    path->segments = stream;
    path->end = stream + used + added;
    path->capacity = static_cast<int32_t>(capacity);
    return 0;
}

int AppendStream(qvPath* destination, const qvPath& source) {
    const size_t used = UsedBytes(source);
    if (used == 0) return 0;
    if (int code = ReserveStreamRoom(destination, used + kTerminator)) return code;
    std::memcpy(destination->end, source.segments, used);
    destination->end += used;
    Put(destination->end, uint32_t{0});
    return 0;
}

}  // namespace qv

int FindPath(qvObjectId id, qvPath** path) {
    qvObjectHeader* h = qv::FindObjectInList(qv::paths, id);
    if (h == nullptr) return qv::ObjectNotFound(id, ERR_FINDPATH);
    *path = qv::AsPath(h);
    return 0;
}

namespace qv {

int AddPathSegment(qvObjectId id, uint32_t code, std::span<const PathOperand> operands) {
    qvPath* path = nullptr;
    if (int status = FindPath(id, &path)) return status;
    if (int status = ReserveStreamRoom(path, SegmentRoom(operands))) return status;
    WriteSegment(path, code, operands);
    return 0;
}

int AddPointSegment(qvObjectId id, uint32_t code, int32_t relative,
                    std::span<const double> numbers) {
    qvPath* path = nullptr;
    if (int status = FindPath(id, &path)) return status;
    if (int status = ReserveStreamRoom(path, kSegmentSlack)) return status;
    uint8_t* at = Put(Put(path->end, code), relative);
    for (double v : numbers) at = Put(at, v);
    path->end = at;
    Put(at, uint32_t{0});
    return 0;
}

}  // namespace qv
