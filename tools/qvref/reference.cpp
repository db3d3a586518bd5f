#include "tools/qvref/reference.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>
#include <sstream>

#include "engine/vm.h"
#include "runtime/exports.h"
#include "runtime/library_table.h"
#include "runtime/runtime_host.h"
#include "runtime/runtime_state.h"
#include "runtime/startup.h"
#include "runtime/support.h"

namespace qv::reference {
namespace {

// --- What the player registers ---

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool SameValue(const Constant& a, const Constant& b) {
    return a.isText == b.isText && a.text == b.text && a.number == b.number;
}

// The constants registry as it stands, by name.
std::map<std::string, Constant> ReadConstants(qvVmState* L) {
    std::map<std::string, Constant> constants;
    VmPushString(L, "constants");
    VmRawGet(L, VM_REGISTRYINDEX);
    if (VmType(L, -1) == VM_TTABLE) {
        VmPushNil(L);
        while (VmNext(L, -2) != 0) {
            Constant c;
            c.name = Upper(VmToString(L, -2));
            c.isText = VmType(L, -1) == VM_TSTRING;
            if (c.isText) {
                c.text.assign(VmToString(L, -1), VmStrLen(L, -1));
            } else {
                c.number = VmToNumber(L, -1);
            }
            constants[c.name] = c;
            VmSetTop(L, -2);
        }
    }
    VmSetTop(L, -2);
    return constants;
}

// Registers each library and notes the command tables it added; a constant belongs to the
// last library that registered it with its final value.
bool RegisterAll(qvVmState* L, Registry* out, std::string* error) {
    std::map<std::string, std::pair<size_t, Constant>> owners;
    size_t tables = 0;
    for (const qvLibraryRow& row : BuiltinLibraries().rows) {
        if (const int code = RegisterLibrary(L, row.initialise)) {
            *error = "registering the library " + std::string(row.name) + " failed with " +
                     std::to_string(code);
            return false;
        }
        Library library{row.name, {}, {}};
        const std::vector<CommandTable> registered = RegisteredCommandTables();
        for (; tables < registered.size(); ++tables) {
            for (const qvCommandEntry* r = registered[tables].rows; r->name != nullptr; ++r) {
                library.commands.emplace_back(r->name);
            }
        }
        const size_t index = out->libraries.size();
        for (const auto& [name, value] : ReadConstants(L)) {
            auto found = owners.find(name);
            if (found == owners.end() || !SameValue(found->second.second, value)) {
                owners[name] = {index, value};
            }
        }
        out->libraries.push_back(std::move(library));
    }
    for (const auto& [name, owner] : owners) {
        out->libraries[owner.first].constants.push_back(owner.second);
    }
    return true;
}

// --- The signature file ---

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

std::string At(int line, const std::string& why) {
    return "line " + std::to_string(line) + ": " + why;
}

// One command's line into *out; false with *why when it is malformed.
bool ParseCommandRow(std::string_view text, int line, std::string* name, Signature* out,
                     std::string* why) {
    const size_t open = text.find('(');
    const size_t colon = text.find(": ", open == std::string_view::npos ? 0 : open);
    *name = std::string(text.substr(0, open));
    if (open == std::string_view::npos || name->empty() ||
        !std::all_of(name->begin(), name->end(), IsNameChar)) {
        *why = "expected \"Name(arguments) -> results: description\"";
        return false;
    }
    if (colon == std::string_view::npos || colon + 2 == text.size()) {
        *why = "no \": \" and description after the call";
        return false;
    }
    *out = {std::string(text.substr(0, colon)), std::string(text.substr(colon + 2)), line};
    return true;
}

// --- The reference ---

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|') out += '\\';
        out += c;
    }
    return out;
}

std::string Value(const Constant& c) {
    if (c.isText) return "`\"" + Escaped(c.text) + "\"`";
    char digits[400];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, c.number, std::chars_format::fixed);
    return std::string(digits, end.ptr);
}

// The "#NAME" words of text that name no registered constant.
void CheckConstantNames(const std::string& text, int line, const std::set<std::string>& known,
                        std::vector<std::string>* problems) {
    for (size_t at = text.find('#'); at != std::string::npos; at = text.find('#', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && IsNameChar(text[end])) ++end;
        const std::string name = Upper(text.substr(at + 1, end - at - 1));
        if (!name.empty() && known.count(name) == 0) {
            problems->push_back(At(line, "#" + name + " is no registered constant"));
        }
    }
}

void CheckSignatures(const Registry& registry, const Signatures& signatures,
                     std::vector<std::string>* problems) {
    std::set<std::string> constants;
    for (const Library& library : registry.libraries) {
        for (const Constant& c : library.constants) constants.insert(c.name);
    }
    for (const auto& [libraryName, lines] : signatures) {
        const auto library = std::find_if(registry.libraries.begin(), registry.libraries.end(),
                                          [&](const Library& l) { return l.name == libraryName; });
        for (const auto& [name, signature] : lines) {
            if (library == registry.libraries.end()) {
                problems->push_back(
                    At(signature.line, "no library \"" + libraryName + "\" is registered"));
            } else if (std::find(library->commands.begin(), library->commands.end(), name) ==
                       library->commands.end()) {
                problems->push_back(At(signature.line, "the library \"" + libraryName +
                                                           "\" registers no command " + name));
            }
            CheckConstantNames(signature.call + " " + signature.description, signature.line,
                               constants, problems);
        }
    }
}

constexpr const char* kIntroduction = R"(# Command and constant reference

Every library the player registers, in registration order: its commands in the order of its
command table, then the constants it registers with their values. This file is generated by
`qvref` from the player's own registration tables and the lines of
`tools/qvref/signatures.txt` (the tables hold only the names); do not edit it by hand. After a
command, a constant or a line there changed, regenerate it from the source directory with

    build/debug/bin/qvref tools/qvref/signatures.txt -o docs/reference.md

(`cmake --build build/debug --target reference` writes it into the build tree). The test
`reference.*` fails while it is not what `qvref` writes.

## Reading it

- A command is a global under its name in lower case: a listing calls `LoadBrush` with
  `GETGLOBAL r0 "loadbrush"`, its arguments in the registers after it, and `CALL r0 B C`
  (B is the argument count + 1, C the result count + 1; see `docs/qvasm.md`).
- Arguments in brackets are optional, with their default after `=`. An `id` is an object's
  number; where a command makes an object, Nil in its place lets the player choose the
  number, and the command then returns a handle (`[handle]`) that every later command takes
  in place of the number.
- `-> results` lists what a command returns; a command without it returns nothing. Flags are
  numbers: True is 1, False is 0. Colours are `$RRGGBB` numbers.
- Constants are named with `#` in any letter case. A listing has no compiler to replace them:
  it writes their values (`LOADK r1 3` for `#BRUSH`), or asks for them at run time with
  `GetConstant("#BRUSH")`.
)";

void WriteLibrary(std::ostream& out, const Library& library, const Signatures& signatures,
                  std::vector<std::string>* problems) {
    out << "\n## " << library.name << "\n\n";
    if (library.commands.empty()) {
        out << "No commands: the player registers the library's name only.\n";
    } else {
        const auto lines = signatures.find(library.name);
        out << "| command | what it does |\n| --- | --- |\n";
        for (const std::string& name : library.commands) {
            const Signature* s = nullptr;
            if (lines != signatures.end() && lines->second.count(name) != 0) {
                s = &lines->second.at(name);
            }
            if (s == nullptr) {
                problems->push_back("tools/qvref/signatures.txt has no line for " + name +
                                    " of the library \"" + library.name + "\"");
                continue;
            }
            out << "| `" << Escaped(s->call) << "` | " << Escaped(s->description) << " |\n";
        }
    }
    if (library.constants.empty()) return;
    out << "\nConstants of " << library.name << ":\n\n| constant | value |\n| --- | --- |\n";
    for (const Constant& c : library.constants) {
        out << "| `#" << Escaped(c.name) << "` | " << Value(c) << " |\n";
    }
}

}  // namespace

bool ReadPlayerRegistry(Registry* out, std::string* error) {
    ResetRuntimeState();
    if (InitSupport() != 0) {
        *error = "the run-time's support services did not start";
        return false;
    }
    qvVmState* L = VmOpen();
    if (L == nullptr) {
        *error = "the engine did not open";
        ResetRuntimeState();
        return false;
    }
    InstallRuntimeHost(L);
    const bool registered = RegisterAll(L, out, error);
    RunLibraryCleanups(BuiltinLibraries(), L, CleanupSlot::kFreeScaleTables,
                       CleanupSlot::kFreeAllSounds);
    VmClose(L);
    ResetRuntimeState();
    return registered;
}

Signatures ParseSignatures(std::string_view text, std::vector<std::string>* problems) {
    Signatures signatures;
    std::string library;
    int line = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view row = text.substr(start, end - start);
        start = end + 1;
        ++line;
        if (row.empty() || row[0] == '#') continue;
        if (row[0] == '[') {
            library = std::string(row.substr(1, row.size() - 2));
            if (row.back() != ']' || library.empty()) {
                problems->push_back(At(line, "expected \"[library]\""));
                library.clear();
            }
            continue;
        }
        std::string name, why;
        Signature signature;
        if (library.empty()) {
            problems->push_back(At(line, "a command before the first \"[library]\""));
        } else if (!ParseCommandRow(row, line, &name, &signature, &why)) {
            problems->push_back(At(line, why));
        } else if (auto [at, added] = signatures[library].emplace(name, signature); !added) {
            problems->push_back(
                At(line, name + " was given on line " + std::to_string(at->second.line)));
        }
    }
    return signatures;
}

std::string WriteReference(const Registry& registry, const Signatures& signatures,
                           std::vector<std::string>* problems) {
    CheckSignatures(registry, signatures, problems);
    std::ostringstream out;
    out << kIntroduction;
    for (const Library& library : registry.libraries) {
        WriteLibrary(out, library, signatures, problems);
    }
    return out.str();
}

}  // namespace qv::reference
