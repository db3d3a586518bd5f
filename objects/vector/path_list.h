// The library's path list and the segment streams of its paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/vm.h"
#include "objects/vector/vector_library.h"

namespace qv {

qvObjectHeader** PathListHead();

// A new empty path appended to the list; nullptr when memory is short.
qvPath* NewPath(uint32_t number, bool automatic);
// A copy of source under a new id, with its own stream, not in the list yet; nullptr when
// memory is short.
qvPath* CopyPathRecord(const qvPath& source, uint32_t number, bool automatic);
// Unlinks and frees the path, its stream and its references.
void FreePath(qvVmState* L, qvPath* path);
// Frees every path (shutdown).
void FreePathList(qvVmState* L);
// Frees the path of a numeric id when there is one.
void FreePathOfNumber(qvVmState* L, uint32_t number);
// Frees the stream: the path becomes empty.
void ClearStream(qvPath* path);

// Grows the stream by max(needed, 1024) bytes; 0 or ERR_MEM with the path unchanged.
int GrowStream(qvPath* path, size_t needed);
// Makes room for needed bytes at the end of the stream: in place when they fit, else the
// stream grows. 0 or ERR_MEM with the path unchanged.
inline int ReserveStreamRoom(qvPath* path, size_t needed) {
    if (path->segments != nullptr &&
        needed <= static_cast<size_t>(path->capacity) - UsedBytes(*path)) {
        return 0;
    }
    return GrowStream(path, needed);
}
// The room AddPathSegment reserves for a segment: 128 bytes and the strings.
size_t SegmentRoom(std::span<const PathOperand> operands);
// Writes one segment and the terminator into reserved room.
void WriteSegment(qvPath* path, uint32_t code, std::span<const PathOperand> operands);
// Gives every start that the stream leaves at the origin (a relative line or curve, or text,
// at the start or after a start of a sub-path) an absolute move to the origin, so that moving
// the path's coordinates moves those too; 0 or ERR_MEM with the path unchanged.
int AnchorLooseStarts(qvPath* path);
// Appends the segments of source (not destination itself); 0 or ERR_MEM.
int AppendStream(qvPath* destination, const qvPath& source);

}  // namespace qv
