// File parts of paths: the name of a file inside a path, including the linked file that a
// ":::chunk" virtual path names.
#pragma once

#include <string_view>

// For a virtual path the name between "*" and "/" (in a buffer shared by all calls);
// otherwise the text after the last "/" or "\", or, when there is none, after the first ":",
// or the whole path.
const char* FilePartEx(const char* path);
// The platform's form: leading "/" skipped, then the text after the last "/", "\" or ":".
const char* PathFilePart(const char* path);

namespace qv {

// Whether path names a stretch of storage (":::chunk..."), well formed or not.
bool IsChunkPath(std::string_view path);

// The file name that a ":::chunk" virtual path carries between its first "*" and the "/"
// after it; false for other names and for virtual paths that lack either mark.
bool VirtualFileName(std::string_view path, std::string_view* name);

}  // namespace qv
