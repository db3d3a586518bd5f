// The list shape of the graphics library's objects: records that begin with the object
// header, linked through it, appended at the tail and found by id pair.
#pragma once

#include "runtime/objects.h"

namespace qv::gfx {

inline void AppendObject(qvObjectHeader** head, qvObjectHeader* record) {
    while (*head != nullptr) head = &(*head)->next;
    record->next = nullptr;
    *head = record;
}

// Unlinks the record; false when it is not in the list.
inline bool UnlinkObject(qvObjectHeader** head, const qvObjectHeader* record) {
    for (; *head != nullptr; head = &(*head)->next) {
        if (*head == record) {
            *head = record->next;
            return true;
        }
    }
    return false;
}

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
