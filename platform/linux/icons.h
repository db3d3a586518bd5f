// Desktop icons: a sidecar file "<name>.info" beside the object, in a text format of our own
// (the original binary format is not read):
//
//   QVICON 1
//   type project
//   tool /usr/bin/viewer
//   tooltype NOWAIT
//   tooltype (SIZE=12)
//
// The first line names the format. Then one entry per line, "keyword value": "type" once
// (disk, drawer, tool or project), "tool" (the default tool) at most once, "tooltype" once per
// tool type in order. Empty lines and lines starting with "#" are skipped; anything else
// makes the file malformed. Values run to the end of their line and hold no NUL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct qvIconInfo {
    int type = 0;  // 1 disk, 2 drawer, 3 tool, 4 project
    std::string defaultTool;
    std::vector<std::string> toolTypes;
};

// Reads the icon of name (a trailing ".info" is ignored). 0, or ERR_READFILE when it is
// missing or malformed.
int LoadIconObject(const char* name, qvIconInfo* icon);
// Rewrites an existing icon in one step; never creates one. 0, ERR_READFILE when there is no
// readable icon, ERR_WRONGUSAGE for a text that holds a line break or a NUL, ERR_WRITEFILE.
int WriteIconProperties(const char* name, const qvIconInfo& icon);

namespace qv {

bool ParseIcon(std::string_view text, qvIconInfo* icon);
std::string FormatIcon(const qvIconInfo& icon);
// name without a trailing ".info" (any letter case).
std::string_view IconBaseName(std::string_view name);

}  // namespace qv
