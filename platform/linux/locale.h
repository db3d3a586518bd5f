// The locale: character classes, and the user's language and country.
//
// Character classes: the run-time's texts are ISO 8859-1 whatever the host's locale, so the
// classes are those of that character set, fixed: letters are A-Z, a-z, the ordinal
// indicators and the micro sign (0xAA, 0xB5, 0xBA) and 0xC0-0xFF without the multiplication
// and division signs (0xD7, 0xF7); visible characters are every one but the controls, the
// space and the no-break space.
//
// Language and country come from the first of LC_ALL, LC_MESSAGES and LANG that is set and
// not empty ("de_DE.UTF-8": language de, territory DE); QV_LANGUAGE, a catalog language name
// ("deutsch") or a language code ("de"), wins for the language.
#pragma once

#include <string>
#include <string_view>

// Non-zero when the byte c (0-255) is a letter; other values are no letters.
int LocaleIsAlpha(int c);
// Non-zero for letters and the digits 0-9.
int LocaleIsAlNum(int c);
// Non-zero for printable, visible characters: 0x21-0x7E and 0xA1-0xFF (not the spaces).
int LocaleIsGraph(int c);

// The language as a LANGUAGE_ number (0-17), 18 when it is none of them.
int GetLanguageCode();
// The territory as a COUNTRY_ number (0-37), 38 when it is none of them.
int GetCountryCode();

namespace qv {

inline constexpr int kLanguageUnknown = 18;
inline constexpr int kCountryUnknown = 38;

// The language as catalog directories spell it ("deutsch", "français"), or QV_LANGUAGE as
// given; "" when there is none (the C locale, an unknown language).
std::string CatalogLanguage();

// The LANGUAGE_ and COUNTRY_ numbers of a locale name such as "en_GB.UTF-8".
int LanguageOfLocale(std::string_view locale);
int CountryOfLocale(std::string_view locale);

}  // namespace qv
