// Status names, escaped values and the UTF-8 check for the tool's messages and tables.
#include "text.h"

#include "qx_common.h"

#include <cstdio>

namespace cli {

namespace {

// The length of the well-formed UTF-8 character at text[at], or 0 when there is none there
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF).
size_t utf8_length(const std::string &text, size_t at) {
    const auto byte = [&](size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const unsigned c = byte(at);
    const auto cont = [&](size_t i, unsigned lo = 0x80, unsigned hi = 0xBF) {
        return byte(i) >= lo && byte(i) <= hi;
    };
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        return cont(at + 1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
        return cont(at + 1, lo, hi) && cont(at + 2) ? 3 : 0;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
        return cont(at + 1, lo, hi) && cont(at + 2) && cont(at + 3) ? 4 : 0;
    }
    return 0;
}

} // namespace

std::string status_name(int32_t status) {
    switch (status) {
    case QX_OK:
        return "OK";
    case QX_ERR_NO_SUCH_PRESET:
        return "ERR_NO_SUCH_PRESET";
    case QX_ERR_NO_SUCH_BAND:
        return "ERR_NO_SUCH_BAND";
    case QX_ERR_NO_SUCH_PROFILE:
        return "ERR_NO_SUCH_PROFILE";
    case QX_ERR_FIELD_INVALID:
        return "ERR_FIELD_INVALID";
    case QX_ERR_UNKNOWN_FIELD:
        return "ERR_UNKNOWN_FIELD";
    case QX_ERR_BAD_SAMPLE_RATE:
        return "ERR_BAD_SAMPLE_RATE";
    case QX_ERR_INVALID_ARG:
        return "ERR_INVALID_ARG";
    case QX_ERR_OOM:
        return "ERR_OOM";
    default:
        return "status " + std::to_string(status);
    }
}

std::string escaped(const std::string &text) {
    std::string r;
    for (size_t at = 0; at < text.size();) {
        const size_t n = utf8_length(text, at);
        const unsigned char c = static_cast<unsigned char>(text[at]);
        char buf[8];
        if (n == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            r += buf;
            ++at;
            continue;
        }
        if (n == 1) {
            switch (c) {
            case '"':
                r += "\\\"";
                break;
            case '\\':
                r += "\\\\";
                break;
            case '\n':
                r += "\\n";
                break;
            case '\r':
                r += "\\r";
                break;
            case '\t':
                r += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    std::snprintf(buf, sizeof buf, "\\u%04X", c);
                    r += buf;
                } else {
                    r += static_cast<char>(c);
                }
            }
        } else {
            r.append(text, at, n);
        }
        at += n;
    }
    return r;
}

std::string quoted(const std::string &text) { return "\"" + escaped(text) + "\""; }

size_t first_bad_utf8(const std::string &text) {
    for (size_t at = 0; at < text.size();) {
        const size_t n = utf8_length(text, at);
        if (n == 0)
            return at;
        at += n;
    }
    return std::string::npos;
}

} // namespace cli
