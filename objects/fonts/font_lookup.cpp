#include "objects/fonts/font_lookup.h"

std::string FindTrueTypeFont(const char*, int, int, int, int64_t* resourceBase,
                             int64_t* resourceLength, int* temporary) {
    *resourceBase = 0;
    *resourceLength = 0;
    *temporary = 0;
    return {};
}
