// The string buffer: bytes collect in 1024 bytes of inline space and go onto the stack as
// pieces, which are merged so that at most about ten stay and lower pieces are at least as
// long as upper ones (long results are then built with few large copies).
#include <algorithm>
#include <cstring>

#include "engine/internal.h"

namespace {

constexpr int kMaxPieces = 10;

size_t FreeSpace(const StrBuf* B) {
    return kStrBufSize - B->position;
}

// Pushes the pending bytes as a piece; false when there were none.
bool PushPending(StrBuf* B) {
    if (B->position == 0) return false;
    VmPushLString(B->L, B->buffer, B->position);
    B->position = 0;
    ++B->level;
    return true;
}

// Joins the top piece with those below it while too many pieces lie on the stack or the
// joined ones have grown longer than the next one below.
void MergePieces(StrBuf* B) {
    qvVmState* L = B->L;
    if (B->level <= 1) return;
    int taken = 1;
    size_t takenLength = VmStrLen(L, -1);
    do {
        size_t below = VmStrLen(L, -(taken + 1));
        if (B->level - taken + 1 < kMaxPieces && takenLength <= below) break;
        takenLength += below;
        ++taken;
    } while (taken < B->level);
    VmConcat(L, taken);
    B->level -= taken - 1;
}

}  // namespace

void StrBufInit(qvVmState* L, StrBuf* B) {
    B->position = 0;
    B->level = 0;
    B->L = L;
}

void StrBufAddLString(StrBuf* B, const char* s, size_t n) {
    while (n > 0) {
        if (FreeSpace(B) == 0) {
            PushPending(B);
            MergePieces(B);
        }
        size_t chunk = std::min(n, FreeSpace(B));
        // s may be the inline space itself (after StrBufPrepare).
        std::memmove(B->buffer + B->position, s, chunk);
        B->position += chunk;
        s += chunk;
        n -= chunk;
    }
}

void StrBufAddString(StrBuf* B, const char* s) {
    StrBufAddLString(B, s, std::strlen(s));
}

void StrBufAddValue(StrBuf* B) {
    qvVmState* L = B->L;
    const char* s = VmToString(L, -1);
    size_t length = s != nullptr ? VmStrLen(L, -1) : 0;
    if (length <= FreeSpace(B)) {
        if (length > 0) std::memcpy(B->buffer + B->position, s, length);
        B->position += length;
        VmSetTop(L, -2);
        return;
    }
    if (PushPending(B)) VmInsert(L, -2);
    ++B->level;
    MergePieces(B);
}

char* StrBufPrepare(StrBuf* B) {
    if (PushPending(B)) MergePieces(B);
    return B->buffer;
}

void StrBufPushResult(StrBuf* B) {
    PushPending(B);
    VmConcat(B->L, B->level);
    B->level = 1;
}
