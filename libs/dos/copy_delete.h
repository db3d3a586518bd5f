// CopyFile and DeleteFile: single files and whole trees, filtered through pattern lists and
// watched by a script callback that may skip, unprotect or stop each step. The walks use
// full names, taken once before they start (they never change the current directory, and a
// callback that does cannot move them into another tree), and never pass through a symbolic
// link: a link is deleted as a link, a link to a file is copied as the file's content and a
// link to a directory is made again as a link. Only DeleteFile of a link to a directory
// named as a directory ("link/", or with a pattern list) deletes the contents behind it.
#pragma once

#include "engine/vm.h"

namespace qv {

int CopyFile(qvVmState* L);
int DeleteFile(qvVmState* L);

}  // namespace qv
