#include "runtime/exports.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/linux/lists.h"
#include "platform/linux/memory.h"
#include "platform/linux/paths.h"
#include "runtime/errors.h"
#include "runtime/runtime_state.h"
#include "runtime/strings.h"

struct qvCommandTableNode {
    qvCommandTableNode* next;
    const qvCommandEntry* table;
    char libraryName[64];
};

namespace qv {
namespace {

// One export file: every write is checked, and so is the close, so that a full disk is
// reported and not taken for success.
class ExportFile {
public:
    explicit ExportFile(const char* name) : name_(name) {
        std::string path;
        if (ResolvePath(name, LeafLookup::kAsWritten, &path)) file_ = std::fopen(path.c_str(), "w");
    }
    ~ExportFile() {
        if (file_ != nullptr) std::fclose(file_);
    }
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;

    void Print(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (file_ == nullptr) return;
        va_list args;
        va_start(args, format);
        if (std::vfprintf(file_, format, args) < 0) failed_ = true;
        va_end(args);
    }

    // Names are data, never formats.
    void Line(const char* text) {
        if (file_ == nullptr) return;
        if (std::fputs(text != nullptr ? text : "", file_) < 0 || std::fputc('\n', file_) < 0) {
            failed_ = true;
        }
    }

    // 0, or ERR_WRITEFILE with the file name as the message argument.
    int Finish() {
        bool ok = file_ != nullptr && !failed_;
        if (file_ != nullptr && std::fclose(file_) != 0) ok = false;
        file_ = nullptr;
        if (ok) return 0;
        return ErrorWithText(ERR_WRITEFILE, name_);
    }

private:
    const char* name_;
    FILE* file_ = nullptr;
    bool failed_ = false;
};

unsigned long CountRows(const qvCommandEntry* rows) {
    unsigned long n = 0;
    for (; rows != nullptr && rows[n].name != nullptr; ++n) {
    }
    return n;
}

void WritePluginLibrary(ExportFile& out, const PluginExportInfo& plugin) {
    bool named = plugin.libraryName != nullptr && plugin.libraryName[0] != '\0';
    out.Print("::commands\n");
    for (const qvCommandEntry* row = plugin.commands; row != nullptr && row->name != nullptr;
         ++row) {
        if (named) out.Print("%s.", plugin.libraryName);
        out.Line(row->name);
    }
    out.Print("::constants\n");
    for (const qvConstant* row = plugin.constants; row != nullptr && row->name != nullptr; ++row) {
        out.Line(row->name);
    }
}

}  // namespace

const char* FindCommandSpelling(const char* name) {
    for (qvCommandTableNode* node = Runtime().commandTables; node != nullptr; node = node->next) {
        for (const qvCommandEntry* row = node->table; row->name != nullptr; ++row) {
            if (StrICmp(row->name, name) == 0) return row->name;
        }
    }
    return nullptr;
}

std::vector<CommandTable> RegisteredCommandTables() {
    std::vector<CommandTable> tables;
    for (qvCommandTableNode* node = Runtime().commandTables; node != nullptr; node = node->next) {
        tables.push_back({node->libraryName, node->table});
    }
    return tables;
}

void FreeCommandTables() {
    DrainList(&Runtime().commandTables, FreeMemBlock);
}

}  // namespace qv

int RegisterCommandTable(const qvCommandEntry* table, const char* libraryName) {
    auto* node = static_cast<qvCommandTableNode*>(AllocMemBlock(sizeof(qvCommandTableNode), 1));
    if (node == nullptr) return ERR_MEM;
    node->table = table;
    std::snprintf(node->libraryName, sizeof node->libraryName, "%s", libraryName);
    *qv::ListEnd(&qv::Runtime().commandTables) = node;
    return 0;
}

int ExportCommands(const char* fileName) {
    qv::ExportFile out(fileName);
    for (qvCommandTableNode* node = qv::Runtime().commandTables; node != nullptr;
         node = node->next) {
        out.Print("::%s\n", node->libraryName);
        out.Print("%lu\n", qv::CountRows(node->table));
        for (const qvCommandEntry* row = node->table; row->name != nullptr; ++row) {
            out.Line(row->name);
        }
    }
    out.Print("::end\n");
    return out.Finish();
}

int ExportConstants(qvVmState* L, const char* fileName) {
    qv::ExportFile out(fileName);
    VmPushString(L, "constants");
    VmRawGet(L, VM_REGISTRYINDEX);
    if (VmType(L, -1) == VM_TTABLE) {
        VmPushNil(L);
        while (VmNext(L, -2) != 0) {
            if (VmType(L, -2) == VM_TSTRING) out.Line(VmToString(L, -2));
            VmSetTop(L, -2);
        }
    }
    VmSetTop(L, -2);
    return out.Finish();
}

int ExportPluginInfo(const char* fileName, const qv::PluginListView& plugins) {
    qv::ExportFile out(fileName);
    for (size_t i = 0; i < plugins.Count(); ++i) {
        qv::PluginExportInfo plugin = plugins.At(i);
        out.Print("::plugin\n");
        out.Print("%d.%d\n", plugin.version, plugin.revision);
        out.Print("0x%.8x\n", plugin.capabilities);
        for (const char* text : plugin.texts) out.Line(text);
        if ((plugin.capabilities & qv::kPluginScriptLibrary) != 0) {
            qv::WritePluginLibrary(out, plugin);
        }
    }
    out.Print("::end\n");
    return out.Finish();
}
