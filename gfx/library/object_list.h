// The list shape of the graphics library's objects: records that begin with the object
// header, linked through it (AppendObject and UnlinkObject of runtime/objects.h) and found
// by id pair.
#pragma once

#include "runtime/objects.h"

namespace qv::gfx {

// The first record of the list with the id pair that skip does not refuse.
template <typename Record, typename Skip>
Record* FindObject(qvObjectHeader* head, qvObjectId id, Skip skip) {
    for (; head != nullptr; head = head->next) {
        auto* record = reinterpret_cast<Record*>(head);
        if (head->id == id.number && head->handle == id.handle && !skip(*record)) return record;
    }
    return nullptr;
}

}  // namespace qv::gfx
