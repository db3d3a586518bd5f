#include "runtime/option_tables.h"

#include <cstring>
#include <string>

#include "engine/convert.h"
#include "platform/linux/memory.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/files.h"

namespace qv {
namespace {

LayerNameLookup layerNameLookup = nullptr;

// Indices relative to the top move with every push; the readers push, so they fix them.
int AbsoluteIndex(qvVmState* L, int idx) {
    return idx <= 0 && idx > VM_REGISTRYINDEX ? VmGetTop(L) + idx + 1 : idx;
}

// Pushes field of the table at t (through its metamethods) and, when it is not nil, hands the
// table's absolute index to read, which reads the value on top.
template <typename Read>
int ReadField(qvVmState* L, int t, const char* field, int* found, Read read) {
    t = AbsoluteIndex(L, t);
    VmPushString(L, field);
    VmGetTable(L, t);
    bool present = VmType(L, -1) != VM_TNIL;
    if (present) read(t);
    VmSetTop(L, -2);
    if (present && found != nullptr) *found = 1;
    return present ? 1 : 0;
}

template <typename Push>
void WriteField(qvVmState* L, const char* key, Push push) {
    VmPushString(L, key);
    push();
    VmSetTable(L, -3);
}

}  // namespace

void SetLayerNameLookup(LayerNameLookup lookup) {
    layerNameLookup = lookup;
}

LayerNameLookup InstalledLayerNameLookup() {
    return layerNameLookup;
}

}  // namespace qv

int GetTableFieldNumber(qvVmState* L, int t, const char* field, double* value, int* found) {
    return qv::ReadField(L, t, field, found,
                         [&](int) { *value = GetTableArgNumber(L, -1, field); });
}

int GetTableFieldInt(qvVmState* L, int t, const char* field, int32_t* value, int* found) {
    return qv::ReadField(L, t, field, found,
                         [&](int) { *value = qv::Trunc32(GetTableArgNumber(L, -1, field)); });
}

int GetTableFieldBool(qvVmState* L, int t, const char* field, uint32_t* value, int* found) {
    return qv::ReadField(L, t, field, found, [&](int) {
        *value = VmType(L, -1) == VM_TBOOLEAN ? static_cast<uint32_t>(VmToBoolean(L, -1))
                                              : GetTableArgUInt32(L, -1, field);
    });
}

int GetTableFieldString(qvVmState* L, int t, const char* field, char* buffer, size_t size,
                        int* found) {
    return qv::ReadField(L, t, field, found, [&](int) {
        size_t length;
        const char* text = GetTableArgString(L, -1, &length, field);
        if (length >= size) RaiseError(L, ERR_NAMETOOLONG);
        std::memcpy(buffer, text, length);
        buffer[length] = '\0';
    });
}

int GetTableFieldStringAlloc(qvVmState* L, int t, const char* field, int resolve, int* linked,
                             char** text, size_t* length, int* found) {
    return qv::ReadField(L, t, field, found, [&](int) {
        size_t size;
        const char* value = GetTableArgString(L, -1, &size, field);
        std::string resolved;
        int isLinked = 0;
        if (resolve != 0) resolved = ResolveAppletFile(L, value, 0, &isLinked);
        if (linked != nullptr) *linked = isLinked;
        if (isLinked != 0) {
            value = resolved.c_str();
            size = resolved.size();
        }
        auto* copy = static_cast<char*>(AllocMemBlock(size + 1, 0));
        if (copy == nullptr) RaiseError(L, ERR_MEM);
        std::memcpy(copy, value, size);
        copy[size] = '\0';
        *text = copy;
        if (length != nullptr) *length = size;
    });
}

int GetTableFieldId(qvVmState* L, int t, const char* field, qvObjectId* id, int* found) {
    return qv::ReadField(L, t, field, found, [&](int) { *id = qv::ReadObjectId(L, -1, field); });
}

int GetTableFieldPercent(qvVmState* L, int t, const char* field, double base, int allowOver100,
                         double* value, int* isFraction, int* found) {
    return qv::ReadField(L, t, field, found, [&](int table) {
        *value = qv::ReadNumberOrPercent(L, -1, table, base, allowOver100, isFraction);
    });
}

int ReadTableFieldVector3(qvVmState* L, int t, const char* field, double values[4], int* found) {
    int code = 0;
    qv::ReadField(L, t, field, found, [&](int table) {
        if (VmType(L, -1) != VM_TTABLE) {
            SetErrorNumber(static_cast<uint32_t>(table));
            code = ERR_TABEXPECTED;
            return;
        }
        for (int i = 0; i < 4 && code == 0; ++i) {
            VmRawGetI(L, -1, i);
            if (VmType(L, -1) == VM_TNIL) {
                code = ERR_MISSINGPARAMTR;
            } else if (VmIsNumber(L, -1) == 0) {
                code = ErrorWithText(ERR_NUMTABLEARG, field);
            } else {
                values[i] = VmToNumber(L, -1);
            }
            VmSetTop(L, -2);
        }
    });
    return code;
}

int GetTableFieldVector3(qvVmState* L, int t, const char* field, double values[4], int* found) {
    int present = 0;
    if (const int code = ReadTableFieldVector3(L, t, field, values, &present)) RaiseError(L, code);
    if (present != 0 && found != nullptr) *found = 1;
    return present;
}

int ReadTableFieldLayer(qvVmState* L, int t, const char* field, int32_t* layer, int* found) {
    int code = 0;
    qv::ReadField(L, t, field, found, [&](int) {
        const int type = VmType(L, -1);
        if (type == VM_TNUMBER) {
            *layer = qv::Trunc32(VmToNumber(L, -1));
            return;
        }
        if (type != VM_TSTRING) {
            code = ERR_WRONGUSAGE;
            return;
        }
        const char* name = VmToString(L, -1);
        if (qv::layerNameLookup == nullptr || qv::layerNameLookup(L, name, layer) == 0) {
            SetErrorString(name);
            code = ERR_FINDLAYER;
        }
    });
    return code;
}

int GetTableFieldLayer(qvVmState* L, int t, const char* field, int32_t* layer, int* found) {
    int present = 0;
    if (const int code = ReadTableFieldLayer(L, t, field, layer, &present)) RaiseError(L, code);
    if (present != 0 && found != nullptr) *found = 1;
    return present;
}

void GetTableFieldIdList(qvVmState* L, int t, const char* tableName, qvObjectId* ids, int capacity,
                         int* count) {
    constexpr char kField[] = "images";
    t = qv::AbsoluteIndex(L, t);
    VmPushString(L, kField);
    VmGetTable(L, t);
    if (VmType(L, -1) != VM_TTABLE) {
        SetErrorString(tableName);
        RaiseError(L, ERR_TABEXPECTED2);
    }
    int n = 0;
    for (;; ++n) {
        VmRawGetI(L, -1, n);
        if (VmType(L, -1) == VM_TNIL) break;
        qvObjectId id = qv::ReadObjectId(L, -1, kField);
        if (ids != nullptr && n < capacity) ids[n] = id;
        VmSetTop(L, -2);
    }
    VmSetTop(L, -3);
    *count = n;
}

void SetTableFieldId(qvVmState* L, const char* key, const qvObjectId* id) {
    qv::WriteField(L, key, [&] { qv::PushObjectId(L, *id); });
}

void SetTableFieldString(qvVmState* L, const char* key, const char* text) {
    qv::WriteField(L, key, [&] { VmPushString(L, text); });
}

void SetTableFieldNumber(qvVmState* L, const char* key, double value) {
    qv::WriteField(L, key, [&] { VmPushNumber(L, value); });
}

void SetTableFieldInt(qvVmState* L, const char* key, int32_t value) {
    qv::WriteField(L, key, [&] { VmPushNumber(L, value); });
}
