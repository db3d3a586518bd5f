// Per-user directories that other users must not reach (the clipboard store, the ARexx port
// sockets), and files replaced in one step, so that readers in other processes see the old
// content or the new one, never a part.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// $XDG_RUNTIME_DIR/quorvella/<name>, else /tmp/quorvella-<name>-<uid>, made 0700 when
// missing. "" when it cannot be made, or when it (or the quorvella directory) is a link, no
// directory, someone else's or open to others.
std::string PrivateRuntimeDir(std::string_view name);

// Makes dir (one level) with mode 0700 when it is missing and checks it as above.
bool EnsurePrivateDir(const std::string& dir);

// Writes bytes to a new file beside path and renames it over path. The new file gets mode
// when mode is not negative, else the old file's mode. Returns false on any failure, leaving
// path as it was.
bool ReplaceFile(const std::string& path, std::string_view bytes, int mode = -1);

}  // namespace qv
