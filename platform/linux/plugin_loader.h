// Segment loading of plugins. A ".qvp" file is an ELF shared object loaded with every
// relocation done at once and its symbols kept private; the run-time never looks its
// symbols up, but finds the plugin's descriptor by scanning the object's loaded segments.
#pragma once

#include <cstddef>

struct qvSegmentList;

// Loads the plugin file at path (a run-time name). Returns 0 with the record in *out,
// ERR_LOADPLUGIN when the file does not exist or is no loadable object, or ERR_MEM.
int LoadSegments(const char* path, qvSegmentList** out);
// Unloads the object and frees the record; none is allowed.
void UnloadSegments(qvSegmentList* segments);

namespace qv {

// Finds the first place, at an even offset of a readable loaded segment, where marker
// (markerSize bytes) begins and a record of recordSize bytes still fits before the
// segment's end (segments in program-header order), and copies that record into record.
// False when there is none.
bool FindInSegments(const qvSegmentList* segments, const char* marker, size_t markerSize,
                    void* record, size_t recordSize);

}  // namespace qv
