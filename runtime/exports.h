// The registry of command tables (for the command list and for spelling command names in
// error reports) and the export lists of commands, constants and plugins, which the run-time
// writes instead of running an applet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/vm.h"

// Appends a library's command table (rows ending in an empty row) under its name; 0 or
// ERR_MEM.
int RegisterCommandTable(const qvCommandEntry* table, const char* libraryName);

namespace qv {

// What the plugin list shows of one loaded plugin.
struct PluginExportInfo {
    int version;
    int revision;
    uint32_t capabilities;
    // The text fields of its information block: the one after the required revision, then
    // the seven after the name; nullptr for a missing text.
    const char* texts[8];
    // Its script library (capability 0x02): the library's name (nullptr or "" when it has
    // none), commands and constants, each table ending in an empty row.
    const char* libraryName;
    const qvCommandEntry* commands;
    const qvConstant* constants;
};

inline constexpr uint32_t kPluginScriptLibrary = 0x02;

// A read-only view of the loaded plugins in load order.
class PluginListView {
public:
    virtual ~PluginListView() = default;
    virtual size_t Count() const = 0;
    virtual PluginExportInfo At(size_t index) const = 0;
};

// A registered command table: its library's name and its rows (ending in an empty row).
struct CommandTable {
    const char* libraryName;
    const qvCommandEntry* rows;
};

// The registered tables in registration order, as the command list shows them.
std::vector<CommandTable> RegisteredCommandTables();

// The name as the table of its library spells it, found case-insensitively among the
// registered tables; nullptr when no table has it.
const char* FindCommandSpelling(const char* name);

// Frees the command-table registry.
void FreeCommandTables();

}  // namespace qv

// Each writes its list to fileName and returns 0, or ERR_WRITEFILE with the file name as the
// message argument when the file cannot be opened or written completely.
int ExportCommands(const char* fileName);
int ExportConstants(qvVmState* L, const char* fileName);
int ExportPluginInfo(const char* fileName, const qv::PluginListView& plugins);
