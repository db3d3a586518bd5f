// Opening URLs: the program named by QV_URL_OPENER, else xdg-open, started with the URL as its
// one argument (never through a shell) and not waited for.
#pragma once

#include <string>

// 0, or ERR_OPENLIB when the opener cannot be found or started; the opener's name is then in
// opener (for the error text).
int LaunchURL(const char* url, std::string* opener);
