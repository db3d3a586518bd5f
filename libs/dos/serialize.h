// Serialised tables and functions in file objects, at the file's position, big-endian:
//   table record     "QVT0" body
//   body             pairs of a tagged key and a tagged value, ended by a zero byte
//   tags             2 number (8-byte double), 3 string (u32 length, bytes), 4 table (a
//                    nested body), 5 function (a function body)
//   function record  "QVF0" u32 length, compiled chunk   (binary)
//                    "QVF1" 8 hex digits n, n characters (Base64 in lines of 72, line feeds
//                    counted)                            (text)
// Keys are numbers or strings; user data values are stored as 0; booleans and threads are
// left out. Every byte goes through the dos library's file records and I/O mode.
#pragma once

#include "engine/vm.h"

namespace qv {

int WriteTable(qvVmState* L);
int ReadTable(qvVmState* L);
int WriteFunction(qvVmState* L);
int ReadFunction(qvVmState* L);

}  // namespace qv
