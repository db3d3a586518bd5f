// Character classes of the locale. The run-time's texts are ISO 8859-1 whatever the host's
// locale, so the classes are those of that character set, fixed: letters are A-Z, a-z, the
// ordinal indicators and the micro sign (0xAA, 0xB5, 0xBA) and 0xC0-0xFF without the
// multiplication and division signs (0xD7, 0xF7).
#pragma once

// Non-zero when the byte c (0-255) is a letter; other values are no letters.
int LocaleIsAlpha(int c);
// Non-zero for letters and the digits 0-9.
int LocaleIsAlNum(int c);
