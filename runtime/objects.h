// The object registry: every library keeps its objects in lists of its own and registers
// their heads here, so that any object can be found by type and id, the type of a handle
// told and the objects of a type counted. Also the named script values that scripts attach
// to objects.
#pragma once

#include <cstdint>

#include "engine/vm.h"

// A named script value attached to an object; the name is stored in the entry's own block
// and the value is held by a registry reference.
struct qvObjectDataEntry {
    qvObjectDataEntry* next;
    char* name;
    int ref;
};

// The first fields of every object record.
struct qvObjectHeader {
    uint32_t type;  // a qvObjectType constant
    uint32_t id;    // 0 for an automatic id
    void* handle;   // the record's own address when the script got an automatic id
    qvObjectDataEntry* data;
    qvObjectHeader* next;
};

// An id as commands pass it: a script id is {n, nullptr}, an automatic id {0, record}. A
// record matches when both its id and its handle equal the pair's.
struct qvObjectId {
    uint32_t number;
    void* handle;
};

// Registers the head of a library's object list; 0 or ERR_MEM.
int RegisterObjectList(qvObjectHeader** head);
// Puts an object at the end of its list (lists keep the order of creation), and takes it out
// again (false when it is not there).
void AppendObject(qvObjectHeader** head, qvObjectHeader* object);
bool UnlinkObject(qvObjectHeader** head, const qvObjectHeader* object);
// The first record in registration order with that type and id pair, or nullptr.
qvObjectHeader* FindObjectByTypeId(uint32_t type, qvObjectId id);
// The type of the record whose handle is handle; -1 when there is none.
int GetObjectTypeOf(const void* handle);
int CountObjectsOfType(uint32_t type);

// Sets the value at stack index idx under name (any letter case) in the list at *head,
// replacing an entry of that name or appending one; 0 or ERR_MEM.
int SetObjectDataEntry(qvVmState* L, const char* name, int idx, qvObjectDataEntry** head);
qvObjectDataEntry* FindObjectDataEntry(qvObjectDataEntry* list, const char* name);
// Removes the entry of that name; 1 when it existed, else 0.
int ClearObjectDataEntry(qvVmState* L, qvObjectDataEntry** head, const char* name);
// A copy of list in *out whose entries hold new references to the same values; 0, or
// ERR_MEM with nothing left behind.
int CopyObjectDataList(qvVmState* L, const qvObjectDataEntry* list, qvObjectDataEntry** out);
// Releases every reference and entry of list (nullptr allowed).
void FreeRefList(qvVmState* L, qvObjectDataEntry* list);

namespace qv {

// A new record's header, its data list empty: the script's number or, for an automatic id, 0
// with the record's own address as handle.
qvObjectHeader NewObjectHeader(uint32_t type, uint32_t number, bool automatic, void* record);
// The results of a command that made the record: the handle of an automatic id (1), else
// none (0).
int PushNewObjectHandle(qvVmState* L, const qvObjectHeader& object);

// The first record of the list at head with that id pair, or nullptr.
qvObjectHeader* FindObjectInList(qvObjectHeader* head, qvObjectId id);
// The lookup error of an id that names no record: ERR_FINDARRAY for a handle, else code with
// the number as the message's argument.
int ObjectNotFound(qvObjectId id, int code);

// The record that the object id argument idx names in the list at head, in *out: 0, or the
// lookup error (ObjectNotFound with notFound). Commands return that code to the script's
// CALL, never raise it, so that with errors off the script goes on; a wrong type of argument
// is raised, as every argument check is.
int FindObjectArg(qvVmState* L, int idx, qvObjectHeader* head, int notFound, qvObjectHeader** out);
template <class Record>
int FindObjectArg(qvVmState* L, int idx, qvObjectHeader* head, int notFound, Record** out) {
    qvObjectHeader* header = nullptr;
    const int code = FindObjectArg(L, idx, head, notFound, &header);
    *out = reinterpret_cast<Record*>(header);
    return code;
}

// Forgets every registered list (the lists themselves belong to their libraries).
void FreeObjectRegistry();

}  // namespace qv
