// Installed TrueType fonts found by name. The list of scanned fonts is not built yet: the
// lookup finds nothing, so only built-in faces and files named directly open.
#pragma once

#include <cstdint>
#include <string>

// The path of the font file to open for a full name (weight -1) or a family with weight and
// slant, or empty when none matches. Resource base and length locate a face inside a file;
// temporary is 1 when the path names an extracted file that the caller deletes.
std::string FindTrueTypeFont(const char* name, int weight, int slant, int plainFileOnly,
                             int64_t* resourceBase, int64_t* resourceLength, int* temporary);
