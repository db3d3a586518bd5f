// Names compared and lower-cased through the ISO 8859-1 case tables: commands, constants,
// labels, object data and catalogs are found in any letter case.
#pragma once

#include <cstddef>

// Compare through the upper-case table: 0 when equal, else the difference of the first
// differing mapped bytes (as 0-255). StrNICmp compares at most n characters.
int StrICmp(const char* a, const char* b);
int StrNICmp(const char* a, const char* b, size_t n);
// Lower-cases s in place.
void ToLowerStr(char* s);
