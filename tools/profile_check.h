// A profile file read a second way, with yyjson, to say what the library's import does not:
// where and why a text is not JSON, and which members the import ignores or changes.
#ifndef QX_TOOLS_PROFILE_CHECK_H
#define QX_TOOLS_PROFILE_CHECK_H

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Why text is not a profile the library can import: "not valid JSON: line 1, column 21:
// unexpected end of data", a byte-order mark, a byte that is not UTF-8 (at which byte), or a
// root that is not an object.
std::string json_problem(const std::string &text);

// One line per member of text that the import into profile id ignores (unknown names, with
// the field probably meant; later duplicates; FileType) and per value that changes on the way
// in or out (reals and nulls left at the default, texts that are not an int or a bool, cuts).
// with_invalid false leaves out the int and bool texts the library holds as invalid, for the
// commands that report those as invalid fields already.
std::vector<std::string> import_changes(const std::string &text, int32_t id, bool with_invalid);

// The field a misspelt name probably means: the same letters in another case, or a name a few
// edits away; "" when none is close.
std::string closest_field(const std::string &name);

} // namespace cli

#endif // QX_TOOLS_PROFILE_CHECK_H
