// Volumes: the mount that holds a path, its name and its space.
#pragma once

#include <cstddef>
#include <cstdint>

// The volume name of the mount holding path: the last component of its mount point, "SYS"
// for the root file system, without a colon. 0, or ERR_LOCK when the path does not exist.
int QueryVolumeName(const char* path, char* out, size_t size);
// Free bytes (available to unprivileged users) and used bytes of the file system holding
// path; 0, or ERR_LOCK.
int QueryVolumeInfo(const char* path, int64_t* freeBytes, int64_t* usedBytes);
