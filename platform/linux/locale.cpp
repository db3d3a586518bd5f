#include "platform/linux/locale.h"

int LocaleIsAlpha(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == 0xAA || c == 0xB5 ||
                   c == 0xBA || (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7)
               ? 1
               : 0;
}

int LocaleIsAlNum(int c) {
    return LocaleIsAlpha(c) != 0 || (c >= '0' && c <= '9') ? 1 : 0;
}
