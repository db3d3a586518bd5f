// Option tables: the optional last argument of many commands, a table of named fields. The
// readers take the table's stack index and a field name; they return 1 when the field is
// present (not nil), with the value stored and *found (when given) set to 1, else 0 with
// nothing stored; they leave the stack as they found it. A field of the wrong type raises
// ERR_NUMTABLEARG (numbers) or ERR_STRTABLEARG (strings) with the field name as the message
// argument. Arrays inside option tables start at index 0. The writers add a field to the
// table on top of the stack.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/vm.h"
#include "runtime/objects.h"

int GetTableFieldNumber(qvVmState* L, int t, const char* field, double* value, int* found);
// Truncated and saturated to 32 bits; NaN gives -2147483648.
int GetTableFieldInt(qvVmState* L, int t, const char* field, int32_t* value, int* found);
// A boolean as 0 or 1, a number as its unsigned 32-bit pattern.
int GetTableFieldBool(qvVmState* L, int t, const char* field, uint32_t* value, int* found);
// Copies the text into buffer (size bytes with its NUL); a longer text raises
// ERR_NAMETOOLONG.
int GetTableFieldString(qvVmState* L, int t, const char* field, char* buffer, size_t size,
                        int* found);
// A new block of the run-time allocator with the text (the caller frees it) in *text and its
// length in *length (when given). With resolve, a name of one of the applet's linked files
// becomes its virtual path and *linked (when given) is set to 1. Memory running out raises
// ERR_MEM.
int GetTableFieldStringAlloc(qvVmState* L, int t, const char* field, int resolve, int* linked,
                             char** text, size_t* length, int* found);
// Light user data as an automatic id, a number as a script id.
int GetTableFieldId(qvVmState* L, int t, const char* field, qvObjectId* id, int* found);
// GetNumberOrPercentArg of the field; its errors name argument t.
int GetTableFieldPercent(qvVmState* L, int t, const char* field, double base, int allowOver100,
                         double* value, int* isFraction, int* found);
// The field must be a table (else ERR_TABEXPECTED naming argument t) whose entries 0 to 3
// are all present (else ERR_MISSINGPARAMTR) and numbers.
int GetTableFieldVector3(qvVmState* L, int t, const char* field, double values[4], int* found);
// The same reader for callers that return their errors: 0 or the error code; *found is set
// when the field is present.
int ReadTableFieldVector3(qvVmState* L, int t, const char* field, double values[4], int* found);
// A number as it is (truncated to an integer); a string names a layer of the current output
// background picture (not found: ERR_FINDLAYER with the name); other types ERR_WRONGUSAGE.
int GetTableFieldLayer(qvVmState* L, int t, const char* field, int32_t* layer, int* found);
// The same reader for callers that return their errors: 0 or the error code (the name of a
// layer not found set as the message argument); *found is set when the field is present.
int ReadTableFieldLayer(qvVmState* L, int t, const char* field, int32_t* layer, int* found);
// The field "images" must be a table (else ERR_TABEXPECTED2 with tableName); its entries
// from index 0 up to the first nil are ids. *count receives their number; the first
// capacity of them are stored in ids (none: count only).
void GetTableFieldIdList(qvVmState* L, int t, const char* tableName, qvObjectId* ids, int capacity,
                         int* count);

void SetTableFieldId(qvVmState* L, const char* key, const qvObjectId* id);
void SetTableFieldString(qvVmState* L, const char* key, const char* text);
void SetTableFieldNumber(qvVmState* L, const char* key, double value);
void SetTableFieldInt(qvVmState* L, const char* key, int32_t value);

namespace qv {

// Finds a layer of the current output background picture by name: 1 and its position in
// *layer, else 0. The layers library installs it; until then no name is found.
using LayerNameLookup = int (*)(qvVmState* L, const char* name, int32_t* layer);
// nullptr removes it.
void SetLayerNameLookup(LayerNameLookup lookup);
LayerNameLookup InstalledLayerNameLookup();

}  // namespace qv
