// The non-graphic command libraries under arguments drawn from the fuzzer's bytes: memory
// blocks allocated, peeked, poked, filled, copied, dumped and moved to and from files; every
// string command with hostile counts, positions and lengths; the math commands; files,
// directories, virtual files, serialised tables, packing and patches of the dos library; and
// the system commands that neither start programs nor reach beyond this process (tables,
// object data, dates, timers, catalogs, icons, the clipboard store and requesters with
// scripted answers).
//
// Every name the commands see is relative or goes through an assign that points into a
// private directory made at start-up: each input runs in its "work" directory, rebuilt from
// a few files first, and the process's temporary, runtime and home directories (the homes of
// T:, RAM:, ENV:, ENVARC: and the clipboard) lie inside it too. The clock is virtual: a wait
// jumps to its deadline, and a step that waits too long ends as Ctrl-C ends it. Everything is
// freed at the end of an input, so that LeakSanitizer sees what a command leaks.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "libs/dos/dos_library.h"
#include "libs/math/math_library.h"
#include "libs/memblock/memblock_library.h"
#include "libs/string/string_library.h"
#include "libs/system/system_library.h"
#include "platform/linux/memory.h"
#include "platform/linux/requester.h"
#include "platform/linux/time.h"
#include "platform/linux/wait.h"
#include "runtime/runtime_state.h"
#include "runtime/support.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/virtual_clock.h"

namespace {

namespace fs = std::filesystem;
using qv::fuzz::ByteInput;
using qv::fuzz::Check;

// Every command of the libraries but the ones that start programs (Execute, Run, OpenURL) and
// DebugPrompt, which reads the console.
constexpr const char* kCommands[] = {
    // memblock
    "allocmem", "freemem", "peek", "poke", "fillmem", "copymem", "readmem", "writemem", "dumpmem",
    // string
    "lowerstr", "upperstr", "val", "strstr", "unrightstr", "unleftstr", "chr", "midstr", "rightstr",
    "leftstr", "findstr", "addstr", "hexstr", "asc", "strlen", "replacestr", "binstr", "splitstr",
    "padnum", "strtoarray", "trimstr", "tostring", "tonumber", "unmidstr", "countstr", "insertstr",
    "repeatstr", "md5str", "crc32str", "formatstr", "patternfindstr", "patternreplacestr", "eval",
    // math
    "abs", "sin", "cos", "tan", "asin", "acos", "atan", "atan2", "ceil", "floor", "mod", "frexp",
    "ldexp", "sqrt", "min", "max", "log", "ld", "ln", "exp", "deg", "pow", "rad", "rnd", "rndf",
    "add", "sub", "mul", "div", "round", "int", "frac", "shr", "shl", "rt", "wrap", "limit",
    "bitset", "bittest", "bitclear", "bitxor", "bitcomplement", "sgn", "sar", "ror", "rol", "cast",
    "hypot",
    // dos
    "openfile", "eof", "readchr", "readline", "readstring", "seek", "writechr", "writeline",
    "writestring", "exists", "filesize", "pathpart", "filepart", "makedirectory", "getvolumeinfo",
    "deletefile", "changedirectory", "getvolumename", "closefile", "readdirectory", "fullpath",
    "copyfile", "rename", "isdirectory", "crc32", "writeshort", "writeint", "writefloat",
    "readshort", "readint", "readfloat", "filepos", "matchpattern", "flushfile", "setiomode",
    "getfileattributes", "setfileattributes", "gettempfilename", "filelength", "compressfile",
    "decompressfile", "opendirectory", "closedirectory", "nextdirectoryentry", "writefunction",
    "readfunction", "definevirtualfile", "readtable", "writetable", "getcurrentdirectory",
    "applypatch", "definevirtualfilefromstring", "undefinevirtualstringfile", "filetostring",
    "stringtofile", "getenv", "setenv", "unsetenv", "md5", "filelines",
    // system
    "end", "error", "exitonerror", "getlasterror", "geterrorname", "assert", "debugoutput",
    "debugprint", "debugstr", "debugval", "getversion", "getprograminfo", "getcommandline",
    "getfileargument", "getconstant", "gettype", "getobjecttype", "iif", "listitems", "insertitem",
    "removeitem", "concat", "unpack", "copytable", "foreach", "foreachi", "nextitem", "pairs",
    "ipairs", "rawget", "rawset", "rawequal", "getmetatable", "setmetatable", "gcinfo",
    "collectgarbage", "getmemoryinfo", "setobjectdata", "getobjectdata", "clearobjectdata",
    "copyobjectdata", "getdate", "gettime", "getweekday", "getdatenum", "comparedates",
    "getsystemlanguage", "getsystemcountry", "opencatalog", "closecatalog", "getcatalogstring",
    "systemrequest", "stringrequest", "filerequest", "pathrequest", "fontrequest", "listrequest",
    "colorrequest", "setclipboard", "getclipboard", "peekclipboard", "clearclipboard", "setwbicon",
    "geticonproperties", "seticonproperties", "starttimer", "stoptimer", "pausetimer",
    "resumetimer", "resettimer", "gettimer", "waittimer", "wait", "sort"};
constexpr int kCommandCount = sizeof kCommands / sizeof kCommands[0];

// Moderate values, limits, 2^31 and 2^32 neighbours, counts no machine holds (a repeat of
// 10^12) and values beyond every limit.
constexpr double kNumbers[] = {0,
                               1,
                               2,
                               3,
                               4,
                               -1,
                               5,
                               7,
                               8,
                               16,
                               31,
                               32,
                               33,
                               100,
                               255,
                               256,
                               -2,
                               -100,
                               1000,
                               1005,
                               1006,
                               1004,
                               0.5,
                               -0.5,
                               65535,
                               65536,
                               1e6,
                               1e8,
                               1e12,
                               -1e12,
                               0x7FFFFFFF,
                               0x80000000,
                               0xFFFFFFFF,
                               4294967296.0,
                               -0x80000000LL,
                               -0x80000001LL,
                               NAN,
                               INFINITY,
                               -INFINITY};
constexpr int kNumberCount = sizeof kNumbers / sizeof kNumbers[0];

// Texts that are also safe as names: relative, no "..", and assigns only of the private
// directory. The files of the work directory are made by ResetWorkDirectory.
const std::string kLongText(300, 't');
const char* const kTexts[] = {"a.txt",
                              "b.bin",
                              "empty",
                              "sub",
                              "sub/c.txt",
                              "new",
                              "sub/new",
                              "missing/x",
                              "A.TXT",
                              "T:t1",
                              "RAM:r",
                              "ENV:QVFUZZ",
                              "ENVARC:QVFUZZ",
                              "#?",
                              "#?.txt",
                              "sub/#?",
                              "",
                              " ",
                              "a b",
                              "x",
                              "QVFUZZ_A",
                              "a=b",
                              "%d %s %x %-9.3f %%",
                              "1+2*3",
                              "%a+",
                              "0x1F",
                              "-12.5e3",
                              "line\nline\r\n",
                              "\xE4\xF6\xFC",
                              "|,;",
                              kLongText.c_str()};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];
// Names of files and directories: the first part of kTexts.
constexpr int kNameCount = 16;

constexpr int kSteps = 48;

// --- The private directory ---

std::string root;       // made at start-up
std::string work;       // the current directory of every input
std::string startedIn;  // the current directory of the fuzzer, restored after each input

// Everything below path made readable, writable and searchable again (SetFileAttributes may
// have taken the rights away), then removed.
void RemoveBelow(const fs::path& path) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
        if (entry.is_symlink(error)) {
            fs::remove(entry.path(), error);
            continue;
        }
        chmod(entry.path().c_str(), 0700);
        if (entry.is_directory(error)) RemoveBelow(entry.path());
        fs::remove(entry.path(), error);
    }
}

void WriteFile(const std::string& name, const std::string& bytes) {
    std::ofstream(work + "/" + name, std::ios::binary) << bytes;
}

// The work directory as each input starts: also after an input deleted it or put a file in
// its place (its full name comes back as an argument).
void ResetWorkDirectory() {
    std::error_code error;
    if (!fs::is_directory(work, error)) fs::remove(work, error);
    chmod(work.c_str(), 0700);
    RemoveBelow(work);
    fs::create_directories(work + "/sub");
    WriteFile("a.txt", "first line\nsecond line\r\n\nlast");
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += char(i);
    WriteFile("b.bin", bytes);
    WriteFile("empty", "");
    WriteFile("sub/c.txt", "c");
}

// The homes of the temporary, runtime and configuration directories, the clipboard store
// and the requesters' answers, set before any of them is first looked up.
void SetUpDirectories() {
    char dir[] = "/tmp/qvfuzz-core-XXXXXX";
    Check(mkdtemp(dir) != nullptr);
    root = dir;
    work = root + "/work";
    for (const char* sub : {"/work", "/tmp", "/run", "/home", "/prog"})
        Check(mkdir((root + sub).c_str(), 0700) == 0);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("QV_CLIPBOARD", (root + "/clipboard").c_str(), 1);
    setenv("QV_REXX_DIR", (root + "/run").c_str(), 1);
    const std::string prog = root + "/prog";
    setenv("QV_ASSIGN", ("PROGDIR:=" + prog + ";LIBS:=" + prog + ";LOCALE:=" + prog).c_str(), 1);
    setenv("QV_REQUESTER_ANSWERS", "2;hello;sub/c.txt;0;a.txt|empty;1", 1);
    char here[4096];
    Check(getcwd(here, sizeof here) != nullptr);
    startedIn = here;
}

// --- Arguments ---

struct Run {
    ByteInput* in;
    int depth;  // handlers that run a command run at most one more level
};
Run* running = nullptr;

int Handler(qvVmState* L);
void Step(qvVmState* L, ByteInput* in);

void PushNumber(qvVmState* L, ByteInput* in) {
    VmPushNumber(L, kNumbers[in->Byte() % kNumberCount]);
}

void PushText(qvVmState* L, ByteInput* in) {
    VmPushString(L, kTexts[in->Byte() % kTextCount]);
}

void PushValue(qvVmState* L, ByteInput* in, int depth);

// A list, a table of texts to values, or one that holds itself.
void PushTable(qvVmState* L, ByteInput* in, int depth) {
    VmNewTable(L);
    const uint8_t shape = in->Byte();
    for (int i = shape % 6; i > 0; --i) {
        if (shape & 0x80) {
            PushValue(L, in, depth + 1);
            VmRawSetI(L, -2, i - 1);
        } else {
            PushText(L, in);
            PushValue(L, in, depth + 1);
            VmRawSet(L, -3);
        }
    }
    if ((shape & 0x70) == 0x70) {
        VmPushString(L, "self");
        VmPushValue(L, -2);
        VmRawSet(L, -3);
    }
}

void PushValue(qvVmState* L, ByteInput* in, int depth) {
    switch (in->Byte() % 10) {
        case 0:
        case 1:
            return PushNumber(L, in);
        case 2:
            return VmPushNumber(L, in->Byte() % 5);  // an object id
        case 3:
        case 4:
            return PushText(L, in);
        case 5:
            if (depth < 3) return PushTable(L, in, depth);
            [[fallthrough]];
        case 6:
            return VmPushCClosure(L, Handler, 0);
        case 7:
            return VmPushBoolean(L, in->Byte() & 1);
        case 8:
            return VmPushLightUserdata(L, reinterpret_cast<void*>(uintptr_t(0x1000 + in->Byte())));
        default:
            return VmPushNil(L);
    }
}

// Names that commands made (virtual files, temporary names, full paths), used as a script
// uses them: also after the file they name is gone.
std::string kept[4];

// A name from the table, or one that a command made.
void PushName(qvVmState* L, ByteInput* in) {
    const uint8_t pick = in->Byte();
    const std::string& made = kept[pick % 4];
    if (pick % 3 == 0 && !made.empty()) return VmPushLString(L, made.data(), made.size());
    VmPushString(L, kTexts[pick % kNameCount]);
}

// --- Steps ---

// Well-formed calls, so that blocks, files, directories and timers come to exist and meet
// each other: each letter is one argument: i an id (or nil), n a small number, N any number,
// s any text, p a name, d a directory, m an open mode, f a handler, t a table, v any value.
struct Shape {
    const char* command;
    const char* arguments;
    bool keeps = false;  // the name it returns is kept for later calls
};
constexpr Shape kShapes[] = {{"allocmem", "in"},
                             {"allocmem", "iN"},
                             {"freemem", "i"},
                             {"peek", "iNN"},
                             {"peek", "inNN"},
                             {"poke", "iNv"},
                             {"poke", "inNN"},
                             {"poke", "insn"},
                             {"fillmem", "iNNNN"},
                             {"copymem", "iiNNN"},
                             {"readmem", "iiNN"},
                             {"writemem", "iiNN"},
                             {"dumpmem", "iNN"},
                             {"openfile", "ipm"},
                             {"openfile", "ip"},
                             {"closefile", "i"},
                             {"seek", "iN"},
                             {"seek", "in"},
                             {"readstring", "iN"},
                             {"readline", "i"},
                             {"readchr", "i"},
                             {"readshort", "i"},
                             {"readint", "i"},
                             {"readfloat", "i"},
                             {"writestring", "isv"},
                             {"writeline", "is"},
                             {"writechr", "iN"},
                             {"writeshort", "iN"},
                             {"writeint", "iN"},
                             {"writefloat", "iN"},
                             {"eof", "i"},
                             {"filelength", "i"},
                             {"flushfile", "i"},
                             {"writetable", "itv"},
                             {"readtable", "i"},
                             {"writefunction", "ifv"},
                             {"readfunction", "i"},
                             {"definevirtualfile", "iNNp", true},
                             {"definevirtualfilefromstring", "sp", true},
                             {"undefinevirtualstringfile", "p"},
                             {"opendirectory", "ip"},
                             {"nextdirectoryentry", "i"},
                             {"closedirectory", "i"},
                             {"readdirectory", "pvv"},
                             {"readdirectory", "pvvv"},
                             {"copyfile", "pp"},
                             {"copyfile", "pptf"},
                             {"deletefile", "p"},
                             {"deletefile", "pt"},
                             {"rename", "pp"},
                             {"makedirectory", "p"},
                             {"changedirectory", "d"},
                             {"stringtofile", "sp"},
                             {"filetostring", "p"},
                             {"filelines", "p"},
                             {"compressfile", "pp"},
                             {"decompressfile", "pp"},
                             {"applypatch", "ppp"},
                             {"setfileattributes", "pN"},
                             {"getfileattributes", "p"},
                             {"gettempfilename", "", true},
                             {"fullpath", "pp", true},
                             {"getcurrentdirectory", "", true},
                             {"starttimer", "i"},
                             {"waittimer", "iN"},
                             {"wait", "NN"},
                             {"setobjectdata", "nisv"},
                             {"getobjectdata", "nis"},
                             {"clearobjectdata", "ni"},
                             {"copyobjectdata", "nini"},
                             {"sort", "tv"},
                             {"foreach", "tf"},
                             {"insertitem", "tvN"},
                             {"removeitem", "tN"},
                             {"concat", "tsNN"},
                             {"repeatstr", "sN"},
                             {"midstr", "sNN"},
                             {"leftstr", "sN"},
                             {"rightstr", "sN"},
                             {"unmidstr", "sNN"},
                             {"unleftstr", "sN"},
                             {"unrightstr", "sN"},
                             {"insertstr", "ssN"},
                             {"findstr", "ssvN"},
                             {"countstr", "ssvN"},
                             {"replacestr", "sssvN"},
                             {"trimstr", "ssN"},
                             {"padnum", "NN"},
                             {"binstr", "NN"},
                             {"strstr", "NN"},
                             {"hexstr", "N"},
                             {"chr", "N"},
                             {"splitstr", "ss"},
                             {"formatstr", "sNNs"}};
constexpr int kShapeCount = sizeof kShapes / sizeof kShapes[0];

// Directories to change into: all lie inside the private directory.
constexpr const char* kDirectories[] = {"sub", "T:", "RAM:", "new", "missing", ""};
constexpr int kDirectoryCount = sizeof kDirectories / sizeof kDirectories[0];
constexpr double kModes[] = {1004, 1005, 1006};

void PushShaped(qvVmState* L, ByteInput* in, char kind) {
    if (in->Byte() % 16 == 0) return PushValue(L, in, 0);  // now and then a wrong one
    switch (kind) {
        case 'i':
            if (in->Byte() % 6 == 0) return VmPushNil(L);
            return VmPushNumber(L, in->Byte() % 5);
        case 'n':
            return VmPushNumber(L, in->Byte() % 72);
        case 'N':
            return PushNumber(L, in);
        case 's':
            return PushText(L, in);
        case 'p':
            return PushName(L, in);
        case 'd':
            return VmPushString(L, kDirectories[in->Byte() % kDirectoryCount]);
        case 'm':
            return VmPushNumber(L, kModes[in->Byte() % 3]);
        case 'f':
            return VmPushCClosure(L, Handler, 0);
        case 't':
            return PushTable(L, in, 0);
        default:
            return PushValue(L, in, 0);
    }
}

// Calls command with the arguments above base; a name it makes is kept when keep is set.
void CallGlobal(qvVmState* L, const char* command, int base, int keep = -1) {
    VmPushString(L, command);
    VmGetTable(L, VM_GLOBALSINDEX);
    VmInsert(L, base + 1);
    VmCall(L, VmGetTop(L) - base - 1, -1);
    if (keep >= 0 && VmGetTop(L) > base && VmType(L, base + 1) == VM_TSTRING) {
        kept[keep % 4].assign(VmToString(L, base + 1), VmStrLen(L, base + 1));
    }
    VmSetTop(L, base);
}

void CallCommand(qvVmState* L, ByteInput* in) {
    const int base = VmGetTop(L);
    const char* command = kCommands[in->Byte() % kCommandCount];
    for (int i = in->Byte() % 8; i > 0; --i) PushValue(L, in, 0);
    CallGlobal(L, command, base);
}

void CallShaped(qvVmState* L, ByteInput* in) {
    const int base = VmGetTop(L);
    const Shape& shape = kShapes[in->Byte() % kShapeCount];
    for (const char* kind = shape.arguments; *kind != '\0'; ++kind) PushShaped(L, in, *kind);
    CallGlobal(L, shape.command, base, shape.keeps ? in->Byte() : -1);
}

void Step(qvVmState* L, ByteInput* in) {
    if (in->Byte() % 2 == 0) return CallShaped(L, in);
    CallCommand(L, in);
}

// A handler (a copy callback, a ForEach body, a Sort comparison): nothing, a value, or one
// more step from the bytes (freeing the block it walks, say).
int Handler(qvVmState* L) {
    Run* run = running;
    if (run == nullptr) return 0;
    const uint8_t pick = run->in->Byte() % 4;
    if (pick == 1) {
        VmPushBoolean(L, 1);
        return 1;
    }
    if (pick != 0 || run->depth > 0) return 0;
    ++run->depth;
    Step(L, run->in);
    --run->depth;
    return 0;
}

int ProtectedStep(qvVmState* L) {
    Run* run = static_cast<Run*>(VmToUserdata(L, 1));
    VmSetTop(L, 0);
    Step(L, run->in);
    return 0;
}

int OpenAll(qvVmState* L) {
    for (int (*open)(qvVmState*) :
         {RegisterMemBlockLibrary, RegisterStringLibrary, RegisterMathLibrary, RegisterDosLibrary,
          RegisterSystemLibrary}) {
        Check(open(L) == 0);
        VmSetTop(L, 0);
    }
    return 0;
}

const bool kSetUp = [] {
    SetUpDirectories();
    std::atexit([] {
        std::error_code error;
        fs::remove_all(root, error);
    });
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(kSetUp);
    // Blocks and texts of a hundred megabytes fail here as they fail on a machine without the
    // memory: a dump of a block that size takes minutes of output.
    qv::SetMemoryCap(size_t(64) << 20);
    ResetWorkDirectory();
    Check(chdir(work.c_str()) == 0);
    qv::fuzz::VirtualClock::Install(1000000000);
    qv::ResetRuntimeState();
    Check(InitSupport() == 0);
    qv::Runtime().quiet = 1;
    qv::ResetRequesterAnswers();

    for (std::string& name : kept) name.clear();
    qvVmState* L = VmOpen();
    Check(VmCPCall(L, OpenAll, nullptr) == 0);
    ByteInput in{data, size};
    Run run{&in, 0};
    running = &run;
    // Errors end the script or are returned, as the script chose.
    qv::Runtime().error.exitOnError = in.Byte() & 1;
    qv::fuzz::RunSteps(L, ProtectedStep, &run, kSteps);
    running = nullptr;

    // The player's shutdown order.
    FreeDosObjects(L);
    FreeSystemObjects(L);
    FreeAllMemBlocks(L);
    VmClose(L);
    qv::ResetRuntimeState();
    qv::fuzz::VirtualClock::Remove();
    qv::SetMemoryCap(0);
    for (const char* name : kTexts) unsetenv(name);  // what SetEnv set
    Check(chdir(startedIn.c_str()) == 0);
    return 0;
}
