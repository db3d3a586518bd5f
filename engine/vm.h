// The script engine's public interface: values, objects, engine state, and the operations
// through which the run-time, the command libraries and plugins drive the engine.
//
// Errors are numbers (engine/error_codes.h). A failing operation raises its code, which
// unwinds to the innermost protected call and comes out as that call's status.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/error_codes.h"

struct qvVmState;
struct qvVmGlobalState;
struct qvTable;
struct qvString;
struct qvProto;
struct qvUpVal;
struct qvCallRecord;
struct qvErrorCatcher;
struct qvDebugRecord;

// One per protected run, on the native stack: the innermost one receives the status of an
// error raised inside the run.
struct qvErrorCatcher {
    qvErrorCatcher* previous;
    int status;
};

using qvNumber = double;
using qvInstruction = uint32_t;

// A command handler: returns the number of results it pushed (0-999), -1 or -2 for a
// subroutine jump request, or an error code.
using qvCFunction = int (*)(qvVmState* L);
// The most results a command can return: larger numbers are read as error codes.
inline constexpr int VM_MAXRESULTS = 999;
// A debug hook; a non-zero status ends the script with that error code.
using qvHook = void (*)(qvVmState* L, qvDebugRecord* ar, int* status);

// Value tags; also the results of VmType.
enum : int32_t {
    VM_TNONE = -1,
    VM_TNIL = 0,
    VM_TBOOLEAN = 1,
    VM_TLIGHTUSERDATA = 2,
    VM_TNUMBER = 3,
    VM_TSTRING = 4,
    VM_TTABLE = 5,
    VM_TFUNCTION = 6,
    VM_TUSERDATA = 7,
    VM_TTHREAD = 8,
    // Internal object tags, never seen in a value a command can read.
    VM_TPROTO = 9,
    VM_TUPVAL = 10,
};

// Mark bits of the collectable header.
enum : uint8_t {
    VM_MARKED = 1 << 0,
    VM_FINALIZED = 1 << 1,  // user data: "__gc" has run or is not needed
    VM_WEAKKEYS = 1 << 1,   // tables
    VM_WEAKVALUES = 1 << 2,
    VM_FIXED = 1 << 4,  // never collected
};

// Every collectable object begins with this header.
struct qvGCHeader {
    qvGCHeader* next;  // next object of its GC list
    uint8_t tag;
    uint8_t marked;
};

// The slot of the stack, of tables, of upvalues and of constants.
struct qvValue {
    int32_t tag;
    // A word that would otherwise be padding. In a function's constants, the node index at
    // which a global of that name was last found (a hint, checked before use); else unused.
    uint32_t hint;
    union {
        qvGCHeader* gc;
        void* p;
        qvNumber n;
        int b;
    } value;
};

struct qvString : qvGCHeader {
    uint8_t reserved;
    uint32_t hash;
    uint32_t length;
    uint32_t laterHashes;  // intern chain filter (engine/string_table.h); fills the padding
    // The characters and a terminating NUL follow the record.
    char* Data() { return reinterpret_cast<char*>(this + 1); }
    const char* Data() const { return reinterpret_cast<const char*>(this + 1); }
};

struct alignas(16) qvUserdata : qvGCHeader {
    qvTable* metatable;
    uint32_t length;
    // The data block follows, 16-byte aligned.
    void* Data() { return this + 1; }
};

struct qvClosureHeader : qvGCHeader {
    uint8_t isNative;
    uint8_t nupvalues;
    qvGCHeader* gclist;
};

struct qvCClosure : qvClosureHeader {
    qvCFunction f;
    // nupvalues values follow.
    qvValue* Upvalues() { return reinterpret_cast<qvValue*>(this + 1); }
};

struct qvLClosure : qvClosureHeader {
    qvProto* proto;
    qvValue env;  // the environment (globals) table
    // nupvalues upvalue pointers follow.
    qvUpVal** Upvalues() { return reinterpret_cast<qvUpVal**>(this + 1); }
};

struct qvUpVal : qvGCHeader {
    qvValue* v;     // a stack slot while open, &value once closed
    qvValue value;  // the value once closed
};

struct qvLocVar {
    qvString* name;
    int32_t startpc;  // first pc where the variable is active
    int32_t endpc;    // first pc where it is dead
};

struct qvProto : qvGCHeader {
    qvValue* k;
    qvInstruction* code;
    qvProto** p;
    int32_t* lineinfo;
    qvLocVar* locvars;
    qvString** upvalues;  // upvalue names
    qvString* source;
    int32_t sizeupvalues;
    int32_t sizek;
    int32_t sizecode;
    int32_t sizelineinfo;
    int32_t sizep;
    int32_t sizelocvars;
    int32_t lineDefined;
    qvGCHeader* gclist;
    uint8_t nups;
    uint8_t numparams;
    uint8_t isVararg;
    uint8_t maxstacksize;
};

// One node of a table's hash part.
struct qvNode {
    qvValue key;
    qvValue val;
    qvNode* next;
};

struct qvTable : qvGCHeader {
    uint8_t flags;      // bit e set: used as a metatable, this table has no entry for event e
    uint8_t lsizenode;  // log2 of the hash-part size
    qvTable* metatable;
    qvValue* array;
    qvNode* node;
    qvNode* firstfree;  // the free-node cursor, scanned downward
    qvGCHeader* gclist;
    uint32_t sizearray;
};

// Call-record state bits.
enum : uint32_t {
    VM_CI_NATIVE = 1,
    VM_CI_RUNNING = 2,  // live frame in VmExecute: the position is read through pc
    VM_CI_CALLING = 4,
    VM_CI_SAVEDPC = 8,
    VM_CI_SUSPENDED = 16,
};

struct qvCallRecord {
    qvValue* base;  // the frame's first register; the function sits just below
    qvValue* top;   // highest slot the frame may use
    const qvInstruction* savedpc;
    const qvInstruction** pc;  // where the running VmExecute keeps its live pc
    const qvProto* proto;      // a script frame's function, as the interpreter re-enters it
    uint32_t state;
    int32_t tailcalls;
};
// The record array's size is counted in the engine's bytes in use.
static_assert(sizeof(qvCallRecord) == 48);

// Hook mask bits and events.
enum : uint8_t {
    VM_MASKCALL = 1,
    VM_MASKRET = 2,
    VM_MASKLINE = 4,
    VM_MASKCOUNT = 8,
};
enum : int {
    VM_HOOKCALL = 0,
    VM_HOOKRET = 1,
    VM_HOOKLINE = 2,
    VM_HOOKCOUNT = 3,
    VM_HOOKTAILRET = 4,
};

// Activation record of the debug interface (hooks and VmGetStack/VmGetInfo).
struct qvDebugRecord {
    int event;
    const char* name;
    const char* namewhat;  // "global", "local", "method", "field" or ""
    const char* what;      // "Quorvella", "main", "C" or "tail"
    const char* source;
    int currentline;
    int nups;
    int linedefined;
    char shortSource[60];
    int callRecord;  // index into the thread's call records; 0 for a lost tail call
};

// Metamethod events, in the order of the interned name table and of the cache bits.
enum qvTagMethod : int {
    TM_INDEX,
    TM_NEWINDEX,
    TM_GC,
    TM_MODE,
    TM_EQ,
    TM_ADD,
    TM_SUB,
    TM_MUL,
    TM_DIV,
    TM_DIVINT,
    TM_MOD,
    TM_LSH,
    TM_RSH,
    TM_OR,
    TM_AND,
    TM_XOR,
    TM_POW,
    TM_UNM,
    TM_NOT,
    TM_LT,
    TM_LE,
    TM_CONCAT,
    TM_CALL,
    TM_N
};

struct qvScratchBuffer {
    char* data;
    size_t size;
};

struct qvStringTable {
    qvGCHeader** hash;
    uint32_t nuse;    // number of strings held
    uint32_t size;    // number of buckets, a power of two
    uint32_t spread;  // buckets the strings hash into; the rest wait for the next sweep
};

// Per-thread engine state: the handle every command handler receives.
struct qvVmState : qvGCHeader {
    qvValue* top;   // first free slot
    qvValue* base;  // base of the current function's frame
    qvVmGlobalState* g;
    qvCallRecord* ci;    // current call record
    qvValue* stackLast;  // last usable slot; 5 spare slots lie beyond it
    qvValue* stack;
    int32_t stacksize;
    qvCallRecord* endCi;
    qvCallRecord* baseCi;
    uint16_t sizeCi;
    uint16_t nCcalls;  // nested native-call count
    uint8_t hookmask;
    uint8_t allowhook;
    uint8_t hookinit;
    // Non-zero when something may be due before the next instruction (an abort, a hook); the
    // interpreter tests this alone at every fetch (engine/internal.h).
    std::atomic<uint8_t> attention;
    int32_t basehookcount;
    int32_t hookcount;
    qvHook hook;
    qvValue globals;
    qvGCHeader* openupval;  // open upvalues, sorted by level, highest first
    qvGCHeader* gclist;
    qvErrorCatcher* errorJmp;  // innermost protected call
    ptrdiff_t errfunc;
};

namespace qv {
class EngineHost;
}

// The verifier's refusal in the last load of a state: the reason (VM_VERIFY_OK when the
// verifier refused nothing), the refused function's number in the chunk (0 the main function,
// then each function before its nested ones, in their order) and the pc as VmVerifyDiagnose
// gives it.
struct qvVerifyFailure {
    int reason;
    int function;
    int pc;
};

// Depth of the subroutine stack of JSR/RETSUB.
constexpr int kSubroutineStackSize = 4096;

struct qvSubroutineEntry {
    int32_t callRecord;  // index of the call record that jumped
    const qvProto* proto;
    int32_t pc;  // index of the instruction to return to
};

// One per engine.
struct qvVmGlobalState {
    qvStringTable strt;
    qvGCHeader* rootgc;     // every collectable object but strings and user data
    qvGCHeader* rootudata;  // full user data
    qvGCHeader* tmudata;    // user data awaiting "__gc"
    qvScratchBuffer buff;
    size_t GCthreshold;
    size_t nblocks;  // bytes in use
    qvCFunction panic;
    qvValue registry;
    qvValue defaultMeta;
    qvVmState* mainthread;
    qvNode dummynode[1];  // the shared empty hash part
    qvString* tmname[TM_N];
    // The engine's own table iterator, used by generic loops when the globals have no "next"
    // (made on first use).
    qvValue nextIterator;

    // Collector working lists (gray objects, weak tables met while marking).
    qvGCHeader* gray;
    qvTable* weakKeys;
    qvTable* weakValues;
    qvTable* weakBoth;
    bool gcTorture;  // collect at every check point
    // Move the stack and the call records to fresh blocks at every check point and call.
    bool stackTorture;
    bool callingFinalizers;  // a collection is running the "__gc" calls
    bool inEconomy;          // a shrink is running whose failure is nobody's error

    // Process-wide engine data of this engine (kept here so that many engines can live in
    // one process).
    qvSubroutineEntry subroutineStack[kSubroutineStackSize];
    int32_t subroutineDepth;
    int32_t labelJumpDistance;
    int32_t currentInstruction;
    qvVerifyFailure lastVerifyFailure;

    qv::EngineHost* host;  // nullptr: the engine's own host below, built on first use
    alignas(16) unsigned char ownHost[1024];

    // Freed small blocks kept for reuse, by size class of 16 bytes (engine/small_blocks.h).
    void* smallBlocks[32];
    uint32_t smallBlockCounts[32];
};

// --- Engine state (values, objects, opening and closing) ---

qvVmState* VmOpen();
void VmClose(qvVmState* L);
qvVmState* VmNewThreadState(qvVmState* L);
void VmFreeThread(qvVmState* L, qvVmState* L1);

// The engine's only allocator. Raises ERR_MEM on failure (with no state: returns nullptr).
void* VmRealloc(qvVmState* L, void* block, size_t oldsize, size_t newsize);
// Doubles a dynamic array (at least 4 elements); raises errorcode at the limit.
void* VmGrowVector(qvVmState* L, void* block, int32_t* size, size_t elemsize, int32_t limit,
                   int errorcode);
void VmLinkObject(qvVmState* L, qvGCHeader* o, uint8_t tag);

qvCClosure* VmNewCClosure(qvVmState* L, int nupvalues);
qvLClosure* VmNewScriptClosure(qvVmState* L, int nupvalues, const qvValue* env);
qvProto* VmNewProto(qvVmState* L);
qvUpVal* VmFindUpvalue(qvVmState* L, qvValue* level);
void VmCloseUpvalues(qvVmState* L, qvValue* level);
void VmFreeClosure(qvVmState* L, qvClosureHeader* c);
void VmFreeProto(qvVmState* L, qvProto* p);
const char* VmGetLocalName(const qvProto* p, int n, int pc);

// --- Strings and tables ---

qvString* VmNewString(qvVmState* L, const char* bytes, size_t length);
// The interned string of text, never collected while the engine lives: a name that C code
// keeps and uses again and again without interning it each time.
qvString* VmNewFixedString(qvVmState* L, const char* text);
qvUserdata* VmNewUserdataBlock(qvVmState* L, size_t size);
void VmResizeStringTable(qvVmState* L, uint32_t n);
void VmFreeStringTable(qvVmState* L);

qvTable* VmTableNew(qvVmState* L, int narray, int lognode);
void VmFreeTable(qvVmState* L, qvTable* t);
const qvValue* VmTableGet(qvTable* t, const qvValue* key);
const qvValue* VmTableGetNum(qvTable* t, int n);
const qvValue* VmTableGetStr(qvTable* t, qvString* key);
qvValue* VmTableSet(qvVmState* L, qvTable* t, const qvValue* key);
qvValue* VmTableSetNum(qvVmState* L, qvTable* t, int n);
int VmTableNext(qvVmState* L, qvTable* t, qvValue* key);
qvNode* VmTableMainPosition(const qvTable* t, const qvValue* key);
void VmTableResize(qvVmState* L, qvTable* t, int nasize, int nhsize);
int VmLog2(uint32_t x);
int VmRawEqualObj(const qvValue* a, const qvValue* b);

// --- Collector ---

void VmCollectGarbage(qvVmState* L);
void VmSetGCThreshold(qvVmState* L, int kb);
int VmGetGCThreshold(qvVmState* L);
int VmGetGCCount(qvVmState* L);

// --- Metamethods ---

void VmInitTagMethodNames(qvVmState* L);
const qvValue* VmGetTagMethod(qvVmState* L, const qvValue* o, int event);
const qvValue* VmFastTagMethod(qvTable* metatable, int event, qvString* name);

// --- Calls and protected execution ---

using qvProtectedFunction = void (*)(qvVmState* L, void* ud);

// Unwinds to the innermost protected call with status.
[[noreturn]] void VmThrow(qvVmState* L, int status);
// Records where the script stood (the running instruction's line, the host's location) and
// unwinds with code; every error of the engine itself goes this way, memory that its
// allocator cannot get included.
[[noreturn]] void RaiseError(qvVmState* L, int code);
int VmProtectedRun(qvVmState* L, qvProtectedFunction f, void* ud);
void VmGrowStack(qvVmState* L, int n);
void VmResizeStack(qvVmState* L, int size);
void VmResizeCallInfo(qvVmState* L, int n);
// Prepares a call of the value at func with the arguments above it. Opens a script frame and
// returns nullptr, or runs a command and returns the position of its first result. *code
// receives 0, the command's error code, or its -1/-2 jump request (the position returned is
// then the stack top: no results).
qvValue* VmPreCall(qvVmState* L, qvValue* func, int* code);
void VmPostCall(qvVmState* L, int wanted, qvValue* firstResult);
int VmDoCall(qvVmState* L, qvValue* func, int nResults);
void VmCallGCMethods(qvVmState* L);
// Runs the script function whose frame VmPreCall opened; returns the position of its first
// result, or nullptr when it ended without a position (abort, suspension).
qvValue* VmExecute(qvVmState* L);

// --- Compiled chunks: loading, dumping and the verifier ---

// Supplies the next block of a chunk and its size in *size; nullptr or size 0 ends the input.
using qvReader = const char* (*)(void* ud, size_t* size);
// Receives the dump field by field.
using qvWriter = void (*)(qvVmState* L, const void* p, size_t size, void* ud);

// Loads a compiled chunk and pushes its main function (no upvalues, the globals as its
// environment). Returns 0, or the error code (1198-1205, ERR_MEM) with nothing pushed.
int VmLoad(qvVmState* L, qvReader reader, void* ud, const char* chunkname);
// Writes the script function at idx as a chunk; ERR_NOQVFUNC for anything else.
int VmDump(qvVmState* L, int idx, qvWriter writer, void* ud);
void VmDumpProto(qvVmState* L, const qvProto* p, qvWriter writer, void* ud);
// 1 on a little-endian host, 0 on a big-endian one: the byte order a chunk must declare to
// be read without swapping.
int VmEndiannessByte();

// "No register" for VmVerifyCode.
constexpr int VM_NOREG = -1;
// 1 when p's code passes the verifier, else 0. With a register, only the code before lastpc
// is checked and *setter (when given) receives the pc of the last instruction there that set
// the register, -1 when none.
int VmVerifyCode(const qvProto* p, int lastpc, int reg, int* setter);
int VmVerifyFunction(const qvProto* p);

// Why the verifier refuses a function; VM_VERIFY_OK when it does not.
enum qvVerifyReason : int {
    VM_VERIFY_OK,
    VM_VERIFY_NOCODE,
    VM_VERIFY_STACKSIZE,
    VM_VERIFY_LINEINFO,
    VM_VERIFY_NORETURN,
    VM_VERIFY_REGISTER,
    VM_VERIFY_OPERAND,
    VM_VERIFY_TESTJUMP,
    VM_VERIFY_LOADBOOLSKIP,
    VM_VERIFY_UPVALUE,
    VM_VERIFY_GLOBALNAME,
    VM_VERIFY_CONCAT,
    VM_VERIFY_JUMP,
    VM_VERIFY_CALLRESULTS,
    VM_VERIFY_CAPTURES,
};
// The reason in words, e.g. "the function does not end in RETURN".
const char* VmVerifyReasonText(int reason);
// Why the verifier refuses p, and the pc of the refused instruction in *pc (-1: the function
// as a whole).
int VmVerifyDiagnose(const qvProto* p, int* pc);

qvVerifyFailure VmLastVerifyFailure(const qvVmState* L);

namespace qv {
// VmLoad over bytes in memory.
int LoadChunk(qvVmState* L, std::span<const uint8_t> chunk, const char* chunkname);
// VmDump appending to out.
int DumpFunction(qvVmState* L, int idx, std::vector<uint8_t>* out);
}  // namespace qv

// --- Calls: hooks, protected calls and error raising ---

void VmCallHook(qvVmState* L, int event, int line);
// A protected run that repairs the thread after an error: the call records, nesting count and
// hook permission come back, and the stack top returns to oldTop (an offset from the stack's
// start). Returns the status.
int VmDoPCall(qvVmState* L, qvProtectedFunction f, void* ud, ptrdiff_t oldTop,
              ptrdiff_t errorFunction);
// Raises code with the variable that held value named in the error text ("??" when it has
// no name), followed by suffix.
[[noreturn]] void VmTypeError(qvVmState* L, const qvValue* value, int code, const char* suffix);

// --- Debug information ---

// The kind of name ("local", "global", "field", "method") of register reg of a script call
// record, its name in *name; nullptr when it has none (or the record is native).
const char* VmGetObjectName(qvCallRecord* ci, int reg, const char** name);
// Fills ar by the option letters "S", "l", "u", "n", "f" for the level ar->callRecord, or,
// with a leading ">", for the function popped from the top (ERR_FUNCEXPECTED when it is none).
// "f" pushes the function. Returns 1, or 0 when a letter is unknown.
int VmGetInfo(qvVmState* L, const char* options, qvDebugRecord* ar);
// Pushes local n (from 1) of a script level and returns its name; nullptr (nothing pushed)
// when there is none.
const char* VmGetLocal(qvVmState* L, const qvDebugRecord* ar, int n);
// Pops the top value into local n and returns its name; nullptr (the value still popped) when
// there is none or its name starts with "(".
const char* VmSetLocal(qvVmState* L, const qvDebugRecord* ar, int n);
// The short source text of a chunk's source name, at most size bytes with its NUL.
void VmChunkId(char* out, const char* source, size_t size);

// --- Conversions and generic operations ---

// Parses the whole of s: blanks, an optional sign, a decimal number or "0x" with hexadecimal
// digits, blanks. Returns 1 and the number, or 0.
int VmStrToNumber(const char* s, size_t length, qvNumber* result);
// v itself for a number; nil as 0 and numeric strings in scratch; nullptr for anything else.
const qvValue* VmToNumberObj(const qvValue* v, qvValue* scratch);
// Converts nil to "" and a number to its "%.14g" text in place; 0 for any other value.
int VmNumberToString(qvVmState* L, qvValue* slot);
int VmEqualObj(qvVmState* L, const qvValue* a, const qvValue* b);
// 1 when l < r; strings case-insensitively when caseSensitive is 0.
int VmCompareValues(qvVmState* L, const qvValue* l, const qvValue* r, int caseSensitive);
// t[key] through "__index"; returns the value (kNilObject when nothing is found), which is
// valid until the next stack or table operation.
const qvValue* VmGetTableChain(qvVmState* L, const qvValue* t, const qvValue* key, int loop);
void VmSetTableChain(qvVmState* L, const qvValue* t, const qvValue* key, const qvValue* value);
// Concatenates the total values ending at register last of the current frame into the first.
void VmConcatValues(qvVmState* L, int total, int last);

// --- Stack interface ---

// Pseudo-indices: the registry, the thread's globals, and upvalue n of the running command.
constexpr int VM_REGISTRYINDEX = -10000;
constexpr int VM_GLOBALSINDEX = -10001;
constexpr int VmUpvalueIndex(int n) {
    return VM_GLOBALSINDEX - n;
}
// Largest number of values a frame may grow to through VmCheckStack.
constexpr int VM_MAXFRAME = 2048;

int VmGetTop(qvVmState* L);
void VmSetTop(qvVmState* L, int idx);
void VmPushValue(qvVmState* L, int idx);
void VmRemove(qvVmState* L, int idx);
void VmInsert(qvVmState* L, int idx);
void VmReplace(qvVmState* L, int idx);
int VmCheckStack(qvVmState* L, int n);
int VmPushUpvalues(qvVmState* L);

int VmType(qvVmState* L, int idx);
int VmIsNumber(qvVmState* L, int idx);
int VmIsString(qvVmState* L, int idx);
int VmIsCFunction(qvVmState* L, int idx);
int VmIsUserdata(qvVmState* L, int idx);
qvNumber VmToNumber(qvVmState* L, int idx);
int VmToBoolean(qvVmState* L, int idx);
const char* VmToString(qvVmState* L, int idx);
size_t VmStrLen(qvVmState* L, int idx);
qvCFunction VmToCFunction(qvVmState* L, int idx);
void* VmToUserdata(qvVmState* L, int idx);
qvVmState* VmToThread(qvVmState* L, int idx);
const void* VmToPointer(qvVmState* L, int idx);
int VmRawEqual(qvVmState* L, int i1, int i2);
int VmEqual(qvVmState* L, int i1, int i2);
int VmCompare(qvVmState* L, int i1, int i2, int caseSensitive);

void VmPushNil(qvVmState* L);
void VmPushNumber(qvVmState* L, qvNumber n);
void VmPushBoolean(qvVmState* L, int b);
void VmPushLightUserdata(qvVmState* L, void* p);
void VmPushLString(qvVmState* L, const char* s, size_t length);
void VmPushString(qvVmState* L, const char* s);
void VmPushStringNoGC(qvVmState* L, const char* s);
// Formats with "%s" (string), "%d" (int), "%f" (double), "%c" (character) and "%%"; numbers
// are written as "%.14g". Returns the characters of the pushed string.
const char* VmPushVFString(qvVmState* L, const char* format, va_list args);
const char* VmPushFString(qvVmState* L, const char* format, ...);
void VmPushCClosure(qvVmState* L, qvCFunction f, int n);
void VmPushObject(qvVmState* L, const qvValue* v);
void VmNewTable(qvVmState* L);
void VmNewTableNoGC(qvVmState* L);
void* VmNewUserdata(qvVmState* L, size_t size);
qvVmState* VmNewThread(qvVmState* L);
void VmConcat(qvVmState* L, int n);

void VmGetTable(qvVmState* L, int idx);
void VmRawGet(qvVmState* L, int idx);
void VmRawGetI(qvVmState* L, int idx, int n);
void VmSetTable(qvVmState* L, int idx);
void VmRawSet(qvVmState* L, int idx);
void VmRawSetI(qvVmState* L, int idx, int n);
int VmNext(qvVmState* L, int idx);
int VmGetMetatable(qvVmState* L, int idx);
int VmSetMetatable(qvVmState* L, int idx);
void VmGetFEnv(qvVmState* L, int idx);
int VmSetFEnv(qvVmState* L, int idx);
const char* VmGetUpvalue(qvVmState* L, int funcidx, int n);
const char* VmSetUpvalue(qvVmState* L, int funcidx, int n);

void VmCall(qvVmState* L, int nargs, int nresults);
// Returns 0 or the error code. After an error nothing is pushed: the function and its
// arguments are gone and the top is where the function was. errfunc is kept, never called.
int VmPCall(qvVmState* L, int nargs, int nresults, int errfunc);
int VmCPCall(qvVmState* L, qvCFunction f, void* ud);
int VmSetHook(qvVmState* L, qvHook func, int mask, int count);
int VmGetStack(qvVmState* L, int level, qvDebugRecord* ar);

// --- Command registration and arguments ---

struct qvCommandEntry {
    const char* name;
    qvCFunction func;
};

struct qvConstant {
    const char* name;
    const char* string;  // a string constant, or nullptr for a number
    double value;
};

void RegisterLibrary(qvVmState* L, const char* libname, const qvCommandEntry* rows, int nup);
void RegisterConstants(qvVmState* L, const qvConstant* rows, int user);
int LookupConstantIn(qvVmState* L, const char* name, const char** string, double* number,
                     const char* tablename);
int LookupConstant(qvVmState* L, const char* name, const char** string, double* number);
void DefineLabel(qvVmState* L, const char* name, int pc);
int LookupLabel(qvVmState* L, const char* name);
int AddLabelRef(qvVmState* L, const char* name, int pc);
int NewRegistryMetatable(qvVmState* L, const char* name);
void GetRegistryMetatable(qvVmState* L, const char* name);
void* CheckUserdataType(qvVmState* L, int idx, const char* name);
void SetRegistryNumber(qvVmState* L, const char* name, double n);
void SetRegistryString(qvVmState* L, const char* name, const char* s);
void SetRegistryPointer(qvVmState* L, const char* name, void* p);
double GetRegistryNumber(qvVmState* L, const char* name);
const char* GetRegistryString(qvVmState* L, const char* name);
void* GetRegistryPointer(qvVmState* L, const char* name);
int CallMetafield(qvVmState* L, int idx, const char* event);
int CallMetamethodOn(qvVmState* L, int idx, const char* event);

// The getters raise their error code and do not return on failure.
double GetArgNumber(qvVmState* L, int idx);
double GetOptArgNumber(qvVmState* L, int idx, double def);
uint32_t GetArgUInt32(qvVmState* L, int idx);
uint32_t GetOptArgUInt32(qvVmState* L, int idx, uint32_t def);
const char* GetArgString(qvVmState* L, int idx, size_t* len);
const char* GetOptArgString(qvVmState* L, int idx, const char* def, size_t* len);
void* GetArgUserdata(qvVmState* L, int idx);
int CheckArgTable(qvVmState* L, int idx);
int CheckArgFunction(qvVmState* L, int idx);
int CheckArgType(qvVmState* L, int idx, int tag);
double GetTableArgNumber(qvVmState* L, int idx, const char* field);
uint32_t GetTableArgUInt32(qvVmState* L, int idx, const char* field);
const char* GetTableArgString(qvVmState* L, int idx, size_t* len, const char* field);
// The callback variants report through err instead of raising.
double GetCallbackNumber(qvVmState* L, int idx, int* err);
const char* GetCallbackString(qvVmState* L, int idx, size_t* len, int* err);

int FindStringInList(const char* s, const char* const* list);
int MakeRef(qvVmState* L, int t);
void FreeRef(qvVmState* L, int t, int ref);
int GetTableSize(qvVmState* L, int t);
void SetTableSize(qvVmState* L, int t, int n);
void GetSizeTable(qvVmState* L);

// Builds a long string in pieces on the stack: nothing above the point where the buffer was
// started may be touched until StrBufPushResult.
constexpr size_t kStrBufSize = 1024;
struct StrBuf {
    size_t position;  // bytes pending in buffer
    int level;        // pieces already pushed
    qvVmState* L;
    char buffer[kStrBufSize];
};

void StrBufInit(qvVmState* L, StrBuf* B);
void StrBufAddLString(StrBuf* B, const char* s, size_t n);
void StrBufAddString(StrBuf* B, const char* s);
void StrBufAddValue(StrBuf* B);
char* StrBufPrepare(StrBuf* B);
void StrBufPushResult(StrBuf* B);

// --- Interpreter ---

// event TM_ADD .. TM_POW on x and y into result (a stack slot), converting nil and numeric
// strings, else through the operands' metamethod.
void VmArith(qvVmState* L, qvValue* result, const qvValue* x, const qvValue* y, int event);
// Refreshes the saved position of every running script call and marks the thread's hooks
// initialised.
void VmInitHooks(qvVmState* L);

namespace qv {
// The type name of a value tag: "no value", "nil", "boolean", "userdata" (light and full),
// "number", "string", "table", "function", "thread".
const char* TypeName(int tag);
// Sets the jump distance that a command's -1/-2 result applies: the label at labelPc of the
// main chunk, counted from the instruction after the running CALL.
void SetLabelJump(qvVmState* L, int labelPc);
}  // namespace qv
