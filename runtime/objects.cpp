#include "runtime/objects.h"

#include <cstring>
#include <memory>

#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/runtime_state.h"
#include "runtime/strings.h"

struct qvObjectListNode {
    qvObjectListNode* next;
    qvObjectHeader** head;
};

namespace qv {
namespace {

qvObjectDataEntry* NewDataEntry(const char* name) {
    size_t length = std::strlen(name);
    auto* entry =
        static_cast<qvObjectDataEntry*>(AllocMemBlock(sizeof(qvObjectDataEntry) + length + 1, 0));
    if (entry == nullptr) return nullptr;
    entry->next = nullptr;
    entry->name = reinterpret_cast<char*>(entry + 1);
    std::memcpy(entry->name, name, length + 1);
    entry->ref = -1;  // no value yet: FreeRef ignores it
    return entry;
}

// Frees the blocks of a list without touching its references: the clean-up of a copy that
// an engine error unwinds, when the engine must not be called.
struct DataListBlocks {
    void operator()(qvObjectDataEntry* list) const { DrainList(&list, FreeMemBlock); }
};

// Calls visit for every record of every registered list, in registration order, until it
// returns true; returns that record or nullptr.
template <typename Visit>
qvObjectHeader* FindRecord(Visit visit) {
    for (qvObjectListNode* node = Runtime().objectLists; node != nullptr; node = node->next) {
        for (qvObjectHeader* record = *node->head; record != nullptr; record = record->next) {
            if (visit(record)) return record;
        }
    }
    return nullptr;
}

}  // namespace

void FreeObjectRegistry() {
    DrainList(&Runtime().objectLists, FreeMemBlock);
}

qvObjectHeader NewObjectHeader(uint32_t type, uint32_t number, bool automatic, void* record) {
    return {type, automatic ? 0 : number, automatic ? record : nullptr, nullptr, nullptr};
}

int PushNewObjectHandle(qvVmState* L, const qvObjectHeader& object) {
    if (object.handle == nullptr) return 0;
    VmPushLightUserdata(L, object.handle);
    return 1;
}

qvObjectHeader* FindObjectInList(qvObjectHeader* head, qvObjectId id) {
    for (; head != nullptr; head = head->next) {
        if (head->id == id.number && head->handle == id.handle) return head;
    }
    return nullptr;
}

int ObjectNotFound(qvObjectId id, int code) {
    if (id.handle != nullptr) return ERR_FINDARRAY;
    SetErrorNumber(id.number);
    return code;
}

int FindObjectArg(qvVmState* L, int idx, qvObjectHeader* head, int notFound, qvObjectHeader** out) {
    const qvObjectId id = GetObjectIdArg(L, idx);
    *out = FindObjectInList(head, id);
    return *out != nullptr ? 0 : ObjectNotFound(id, notFound);
}

}  // namespace qv

int RegisterObjectList(qvObjectHeader** head) {
    auto* node = static_cast<qvObjectListNode*>(AllocMemBlock(sizeof(qvObjectListNode), 1));
    if (node == nullptr) return ERR_MEM;
    node->head = head;
    *qv::ListEnd(&qv::Runtime().objectLists) = node;
    return 0;
}

void AppendObject(qvObjectHeader** head, qvObjectHeader* object) {
    qvObjectHeader** end = qv::ListEnd(head);
    object->next = nullptr;
    *end = object;
}

bool UnlinkObject(qvObjectHeader** head, const qvObjectHeader* object) {
    return qv::TakeFromList(head, [object](const qvObjectHeader* h) { return h == object; }) !=
           nullptr;
}

qvObjectHeader* FindObjectByTypeId(uint32_t type, qvObjectId id) {
    return qv::FindRecord([&](const qvObjectHeader* r) {
        return r->type == type && r->id == id.number && r->handle == id.handle;
    });
}

int GetObjectTypeOf(const void* handle) {
    if (handle == nullptr) return -1;
    const qvObjectHeader* record =
        qv::FindRecord([&](const qvObjectHeader* r) { return r->handle == handle; });
    return record != nullptr ? static_cast<int>(record->type) : -1;
}

int CountObjectsOfType(uint32_t type) {
    int count = 0;
    qv::FindRecord([&](const qvObjectHeader* r) {
        if (r->type == type) ++count;
        return false;
    });
    return count;
}

int SetObjectDataEntry(qvVmState* L, const char* name, int idx, qvObjectDataEntry** head) {
    VmPushValue(L, idx);
    qvObjectDataEntry* entry = FindObjectDataEntry(*head, name);
    if (entry != nullptr) {
        int ref = MakeRef(L, VM_REGISTRYINDEX);
        FreeRef(L, VM_REGISTRYINDEX, entry->ref);
        entry->ref = ref;
        return 0;
    }
    entry = qv::NewDataEntry(name);
    if (entry == nullptr) {
        VmSetTop(L, -2);
        return ERR_MEM;
    }
    // Linked before the reference is made, so that an engine error leaves a list whose
    // entries all belong to it.
    *qv::ListEnd(head) = entry;
    entry->ref = MakeRef(L, VM_REGISTRYINDEX);
    return 0;
}

qvObjectDataEntry* FindObjectDataEntry(qvObjectDataEntry* list, const char* name) {
    for (; list != nullptr; list = list->next) {
        if (StrICmp(list->name, name) == 0) return list;
    }
    return nullptr;
}

int ClearObjectDataEntry(qvVmState* L, qvObjectDataEntry** head, const char* name) {
    qvObjectDataEntry* entry = qv::TakeFromList(
        head, [name](const qvObjectDataEntry* e) { return StrICmp(e->name, name) == 0; });
    if (entry == nullptr) return 0;
    FreeRef(L, VM_REGISTRYINDEX, entry->ref);
    FreeMemBlock(entry);
    return 1;
}

int CopyObjectDataList(qvVmState* L, const qvObjectDataEntry* list, qvObjectDataEntry** out) {
    std::unique_ptr<qvObjectDataEntry, qv::DataListBlocks> copy;
    qvObjectDataEntry** tail = nullptr;
    for (; list != nullptr; list = list->next) {
        qvObjectDataEntry* entry = qv::NewDataEntry(list->name);
        if (entry == nullptr) {
            FreeRefList(L, copy.release());
            return ERR_MEM;
        }
        if (tail == nullptr) {
            copy.reset(entry);
        } else {
            *tail = entry;
        }
        tail = &entry->next;
        VmRawGetI(L, VM_REGISTRYINDEX, list->ref);
        entry->ref = MakeRef(L, VM_REGISTRYINDEX);
    }
    *out = copy.release();
    return 0;
}

void FreeRefList(qvVmState* L, qvObjectDataEntry* list) {
    qv::DrainList(&list, [L](qvObjectDataEntry* entry) {
        FreeRef(L, VM_REGISTRYINDEX, entry->ref);
        FreeMemBlock(entry);
    });
}
