#include "libs/dos/run.h"

#include <cstring>
#include <string>
#include <string_view>

#include "libs/dos/commands.h"
#include "platform/linux/blocks.h"
#include "platform/linux/run_program.h"
#include "runtime/arguments.h"
#include "runtime/errors.h"
#include "runtime/file_parts.h"
#include "runtime/input_pump.h"

namespace qv {
namespace {

constexpr int64_t kBlock = 16384;

struct CommandLine {
    std::string program;
    std::string arguments;
    bool hasArguments = false;
};

// The program name up to the closing quote, the first blank or nothing (a leading blank);
// the arguments after it without their leading blanks.
bool Split(std::string_view line, CommandLine* out) {
    size_t rest;
    if (line.front() == '"') {
        size_t quote = line.find('"', 1);
        if (quote == std::string_view::npos) return false;
        out->program = line.substr(1, quote - 1);
        rest = quote + 1;
    } else {
        size_t blank = line.find(' ');
        rest = blank == std::string_view::npos ? line.size() : blank;
        out->program = line.substr(0, rest);
    }
    std::string_view arguments = line.substr(rest);
    arguments.remove_prefix(std::min(arguments.size(), arguments.find_first_not_of(' ')));
    out->hasArguments = !arguments.empty();
    out->arguments = arguments;
    return true;
}

// The extension of a linked file's own name (from its last "." within the file part).
std::string_view Extension(const char* name) {
    std::string_view part(FilePartEx(name));
    size_t dot = part.rfind('.');
    return dot == std::string_view::npos ? std::string_view() : part.substr(dot);
}

int CopyInto(qvFile* destination, qvFile* source, const char* destinationName) {
    BlockPtr<uint8_t> buffer(static_cast<uint8_t*>(AllocMemBlock(kBlock, 0)));
    if (!buffer) return ERR_MEM;
    for (;;) {
        int64_t n = FileReadBuffered(source, buffer.get(), kBlock);
        if (n < 0) return ERR_READ;
        if (n > 0 && FileWrite(destination, buffer.get(), n) != n)
            return ErrorWithText(ERR_WRITEFILE, destinationName);
        if (n < kBlock) return 0;
    }
}

// Extracts the linked file at virtualPath to a new temporary file that only we may run.
int Extract(const char* virtualPath, const char* linkedName, std::string* tempName) {
    char name[kPathBufferSize];
    if (int code = MakeTempPath(name)) return code;
    *tempName = name;
    std::string_view extension = Extension(linkedName);
    size_t dot = tempName->rfind('.');
    if (!extension.empty() && dot != std::string::npos && dot > tempName->rfind(':')) {
        tempName->resize(dot);
    }
    *tempName += extension;
    FilePtr destination(FileCreateExclusive(tempName->c_str(), 0700));
    if (!destination) return ErrorWithText(ERR_WRITEFILE, tempName->c_str());
    FilePtr source(FileOpen(virtualPath, QV_FILE_READ));
    if (!source) return ErrorWithText(ERR_READFILE, virtualPath);
    int code = CopyInto(destination.get(), source.get(), tempName->c_str());
    if (FileClose(destination.release()) != 0 && code == 0) {
        SetErrorString(tempName->c_str());
        code = ERR_WRITEFILE;
    }
    if (code != 0) {
        DeleteFilePath(tempName->c_str());
        return code;
    }
    return AddTempFile(tempName->c_str(), virtualPath);
}

// The host name of a program: a linked one extracted first; names with a volume through the
// assigns; others as they are (the shell finds bare names on PATH).
int ProgramPath(qvVmState* L, const std::string& program, std::string* host) {
    int linked = 0;
    std::string resolved = ResolveAppletFile(L, program.c_str(), 0, &linked);
    std::string name = program;
    if (linked) {
        const char* extracted = FindExtractedFile(resolved.c_str());
        if (extracted != nullptr) {
            name = extracted;
        } else if (int code = Extract(resolved.c_str(), program.c_str(), &name)) {
            return code;
        }
    }
    if (name.find(':') == std::string::npos) {
        *host = name;
        return 0;
    }
    char full[kPathBufferSize];
    if (int code = MakeAbsolutePath(name.c_str(), full)) return code;
    *host = full;
    return 0;
}

}  // namespace

int RunCommandLine(qvVmState* L, const char* line, int asynchronous) {
    if (line[0] == '\0') return ERR_WRONGUSAGE;
    CommandLine parts;
    if (!CatchAllocFailure(false, [&] { return Split(line, &parts); })) return ERR_WRONGUSAGE;
    std::string host;
    int code =
        CatchAllocFailure(int{ERR_MEM}, [&] { return ProgramPath(L, parts.program, &host); });
    if (code != 0) return code;
    code = RunProgram(host.c_str(), parts.hasArguments ? parts.arguments.c_str() : nullptr,
                      asynchronous);
    ResetDisplayInput(L);  // the program may have had the keyboard and the pointer
    return code;
}

int Run(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return RunCommandLine(L, GetArgString(L, 1, nullptr), 1);
}

int Execute(qvVmState* L) {
    CheckArgCount(L, 1, 1);
    return RunCommandLine(L, GetArgString(L, 1, nullptr), 0);
}

}  // namespace qv
