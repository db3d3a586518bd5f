#include "platform/linux/locale.h"

#include <strings.h>

#include <cstdlib>
#include <iterator>

int LocaleIsAlpha(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == 0xAA || c == 0xB5 ||
                   c == 0xBA || (c >= 0xC0 && c <= 0xFF && c != 0xD7 && c != 0xF7)
               ? 1
               : 0;
}

int LocaleIsAlNum(int c) {
    return LocaleIsAlpha(c) != 0 || (c >= '0' && c <= '9') ? 1 : 0;
}

int LocaleIsGraph(int c) {
    return (c >= 0x21 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFF) ? 1 : 0;
}

namespace qv {
namespace {

struct Language {
    const char* code;     // ISO 639-1
    const char* catalog;  // the name of its catalog directory
};

// Indexed by the LANGUAGE_ number.
constexpr Language kLanguages[] = {
    {"en", "english"},  {"de", "deutsch"}, {"nl", "nederlands"}, {"it", "italiano"},
    {"fr", "français"}, {"es", "español"}, {"pt", "português"},  {"sv", "svenska"},
    {"da", "dansk"},    {"fi", "suomi"},   {"nb", "norsk"},      {"pl", "polski"},
    {"hu", "magyar"},   {"el", "greek"},   {"cs", "czech"},      {"tr", "türkçe"},
    {"hr", "hrvatski"}, {"ru", "russian"},
};

// Other codes of the same languages.
struct Alias {
    const char* code;
    int language;
};
constexpr Alias kLanguageAliases[] = {{"no", 10}, {"nn", 10}};

// ISO 3166 codes indexed by the COUNTRY_ number.
constexpr const char* kCountries[] = {
    "GB", "US", "AU", "BE", "BG", "BR", "CA", "CZ", "DK", "DE", "ES", "FR", "GR",
    "IT", "LI", "LT", "LU", "HU", "MT", "MC", "NL", "NO", "PL", "PT", "RO", "RU",
    "SM", "SK", "SI", "CH", "FI", "SE", "TR", "IE", "AT", "IS", "AD", "UA",
};
static_assert(std::size(kLanguages) == kLanguageUnknown);
static_assert(std::size(kCountries) == kCountryUnknown);

bool Same(std::string_view a, const char* b) {
    std::string_view other(b);
    return a.size() == other.size() && strncasecmp(a.data(), b, a.size()) == 0;
}

// The first of the locale variables that is set and not empty.
std::string_view UserLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return {};
}

std::string_view LanguagePart(std::string_view locale) {
    return locale.substr(0, locale.find_first_of("_.@"));
}

// "de_DE.UTF-8@euro": "DE".
std::string_view TerritoryPart(std::string_view locale) {
    size_t underscore = locale.find('_');
    if (underscore == std::string_view::npos) return {};
    locale.remove_prefix(underscore + 1);
    return locale.substr(0, locale.find_first_of(".@"));
}

// A language code or a catalog name.
int LanguageNamed(std::string_view name) {
    for (size_t i = 0; i < std::size(kLanguages); ++i) {
        if (Same(name, kLanguages[i].code) || Same(name, kLanguages[i].catalog)) {
            return static_cast<int>(i);
        }
    }
    for (const Alias& alias : kLanguageAliases) {
        if (Same(name, alias.code)) return alias.language;
    }
    return kLanguageUnknown;
}

const char* ForcedLanguage() {
    const char* forced = std::getenv("QV_LANGUAGE");
    return forced != nullptr && *forced != '\0' ? forced : nullptr;
}

}  // namespace

int LanguageOfLocale(std::string_view locale) {
    return LanguageNamed(LanguagePart(locale));
}

int CountryOfLocale(std::string_view locale) {
    std::string_view territory = TerritoryPart(locale);
    for (size_t i = 0; i < std::size(kCountries); ++i) {
        if (Same(territory, kCountries[i])) return static_cast<int>(i);
    }
    return kCountryUnknown;
}

std::string CatalogLanguage() {
    if (const char* forced = ForcedLanguage()) return forced;
    int language = LanguageOfLocale(UserLocale());
    return language == kLanguageUnknown ? "" : kLanguages[language].catalog;
}

}  // namespace qv

int GetLanguageCode() {
    if (const char* forced = qv::ForcedLanguage()) return qv::LanguageNamed(forced);
    return qv::LanguageOfLocale(qv::UserLocale());
}

int GetCountryCode() {
    return qv::CountryOfLocale(qv::UserLocale());
}
