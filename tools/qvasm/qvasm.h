// The assembler and disassembler of compiled chunks (listing syntax: docs/qvasm.md).
// The assembler checks syntax and field ranges only, never meaning, so that listings can
// hold exactly the faulty code that the loader and verifier must refuse.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct AssembleOptions {
    bool littleEndian = false;  // write every field little-endian (header byte order 1)
    // The main function's source when the listing gives no .source (empty: "=test").
    std::string sourceName{};
    // A function without .line gets the listing line of each instruction as its line info.
    bool listingLines = false;
};

// The listing lines of one function: its .function line and the line of each code position.
struct AsmFunctionLines {
    int begin = 0;
    std::vector<int> code;
};

struct AsmDiagnostic {
    int line;  // 1-based listing line
    std::string message;
};

struct AssembleResult {
    std::vector<uint8_t> bytes;         // empty when there are diagnostics
    std::map<std::string, int> labels;  // applet labels (.label): name to pc in main
    // Every function in chunk order: the main function, then each before its nested ones.
    std::vector<AsmFunctionLines> functions;
    std::vector<AsmDiagnostic> diagnostics;
    bool ok() const { return diagnostics.empty(); }
};

AssembleResult Assemble(std::string_view text, const AssembleOptions& options = {});

struct DisassembleResult {
    std::string text;   // the canonical listing
    std::string error;  // set when the bytes are not a chunk's structure
    bool ok() const { return error.empty(); }
};

DisassembleResult Disassemble(std::span<const uint8_t> bytes);

}  // namespace qv
