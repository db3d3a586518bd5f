// The command and constant reference (docs/reference.md): every library the player registers,
// its commands in table order with the hand-written line of each (tools/qvref/signatures.txt;
// the tables hold only names), and every constant with its value.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qv::reference {

// A registered constant: a number, or a text when isText.
struct Constant {
    std::string name;  // upper case, without "#"
    bool isText = false;
    std::string text;
    double number = 0;
};

// A registered library: its commands in table order and the constants it registered.
struct Library {
    std::string name;
    std::vector<std::string> commands;
    std::vector<Constant> constants;  // by name
};

// What the player registers, its libraries in registration order.
struct Registry {
    std::vector<Library> libraries;
};

// Registers the built-in libraries in a fresh engine as start-up does, one after the other,
// and reads back the command tables and the constants each added (or changed); shuts the
// libraries and the engine down again. False, with *error, when an initialiser fails.
bool ReadPlayerRegistry(Registry* out, std::string* error);

// The hand-written line of one command: "Name(arguments) -> results: description".
struct Signature {
    std::string call;  // "Name(arguments) -> results"
    std::string description;
    int line = 0;
};

// Library name to command name to its line.
using Signatures = std::map<std::string, std::map<std::string, Signature>>;

// Reads the signature file: "[library]" headers, each followed by its commands' lines;
// "#" starts a comment line. Each malformed line adds "line N: why" to *problems.
Signatures ParseSignatures(std::string_view text, std::vector<std::string>* problems);

// The reference in Markdown. Adds to *problems every registered command without a line, every
// line of a command or library that is not registered, and every "#NAME" a line names that is
// no registered constant.
std::string WriteReference(const Registry& registry, const Signatures& signatures,
                           std::vector<std::string>* problems);

}  // namespace qv::reference
