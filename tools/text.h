// Texts for messages and tables: the names of the library's status codes, values shown
// escaped so that quotes, line breaks and bytes that are not UTF-8 cannot break a line, and
// the check that finds the first byte that is not UTF-8.
#ifndef QX_TOOLS_TEXT_H
#define QX_TOOLS_TEXT_H

#include <cstdint>
#include <string>

namespace cli {

// "ERR_NO_SUCH_BAND" for QX_ERR_NO_SUCH_BAND: the enum's own name, for the parentheses after a
// message, taken from the status code and never from the library's last-error text.
std::string status_name(int32_t status);

// The text between double quotes as JSON would write it (\" \\ \n \t \u001F), with each byte
// that is not part of well-formed UTF-8 as \xFF.
std::string escaped(const std::string &text);
std::string quoted(const std::string &text); // "\"" + escaped(text) + "\""

// The offset of the first byte that is not part of well-formed UTF-8, or std::string::npos.
size_t first_bad_utf8(const std::string &text);

} // namespace cli

#endif // QX_TOOLS_TEXT_H
