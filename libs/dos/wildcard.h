// Wildcards of file names, shared by MatchPattern, CopyFile and DeleteFile. Matching is
// case-sensitive, byte by byte, and covers the whole string:
//   "*"  any run of characters (a run of "*" acts as one)
//   "?"  one character          "#"  one decimal digit
//   "[...]" one character of a class: "!" right after "[" negates it; the first member may
//        be "]"; "a-z" is a range when its ends ascend, else "-" is a plain member. A "["
//        without its "]" matches a literal "[".
//   anything else matches itself.
#pragma once

#include <string_view>

namespace qv {

// 1 when pattern matches the whole string, else 0.
int WildcardMatch(std::string_view pattern, std::string_view string);

// 1 when any pattern of a ";"-separated list matches; an empty first pattern matches
// nothing. Lists of any length are accepted.
int MatchPatternList(std::string_view list, std::string_view string);

}  // namespace qv
