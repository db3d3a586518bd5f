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
};

struct AsmDiagnostic {
    int line;  // 1-based listing line
    std::string message;
};

struct AssembleResult {
    std::vector<uint8_t> bytes;         // empty when there are diagnostics
    std::map<std::string, int> labels;  // applet labels (.label): name to pc in main
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
