// Explaining profile files: the library reports only that an import failed, and imports
// what it can without a word about the rest. yyjson, which the library reads with too, reads
// the same text here with the same strict rules, so that the tool can say where the JSON
// breaks and which members the import leaves out or changes.
#include "profile_check.h"

#include "text.h"

#include "qxtp.h"

#include <yyjson.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

namespace cli {

namespace {

struct doc_closer {
    yyjson_doc *doc;
    ~doc_closer() { yyjson_doc_free(doc); }
};

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

size_t edit_distance(const std::string &a, const std::string &b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

std::string where(const std::string &text, size_t pos) {
    size_t line = 0, col = 0, chr = 0;
    if (!yyjson_locate_pos(text.data(), text.size(), std::min(pos, text.size()), &line, &col, &chr))
        return "byte " + std::to_string(pos + 1);
    return "line " + std::to_string(line) + ", column " + std::to_string(col);
}

const char *kind_of(yyjson_val *v) {
    if (yyjson_is_null(v))
        return "null";
    if (yyjson_is_arr(v))
        return "an array";
    if (yyjson_is_obj(v))
        return "an object";
    if (yyjson_is_real(v))
        return "a real number";
    if (yyjson_is_str(v))
        return "a string";
    if (yyjson_is_bool(v))
        return "a boolean";
    return "an integer";
}

std::string json_text(yyjson_val *v) {
    char *s = yyjson_val_write(v, 0, nullptr);
    std::string r = s ? s : "?";
    std::free(s);
    return r;
}

// The whole-number meaning of an int field's JSON value, as the library reads it: an integer,
// or a string of optional blanks, an optional sign and digits.
bool int_meaning(yyjson_val *v, long long &out) {
    if (yyjson_is_int(v)) {
        out = yyjson_is_sint(v) ? yyjson_get_sint(v) : static_cast<long long>(yyjson_get_uint(v));
        return !(yyjson_is_uint(v) && yyjson_get_uint(v) > 0x7FFFFFFFFFFFFFFFull);
    }
    if (!yyjson_is_str(v))
        return false;
    const char *s = yyjson_get_str(v);
    char *end = nullptr;
    errno = 0;
    out = std::strtoll(s, &end, 10);
    return end != s && *end == '\0' && errno == 0;
}

long long int_of(yyjson_val *v) {
    return yyjson_is_uint(v) ? static_cast<long long>(yyjson_get_uint(v)) : yyjson_get_sint(v);
}

bool bool_meaning(yyjson_val *v, bool &out) {
    if (yyjson_is_bool(v)) {
        out = yyjson_get_bool(v);
        return true;
    }
    std::string t;
    if (yyjson_is_str(v))
        t = yyjson_get_str(v);
    else if (yyjson_is_uint(v))
        t = std::to_string(yyjson_get_uint(v));
    else
        return false;
    if (t == "true" || t == "True" || t == "1")
        return out = true, true;
    if (t == "false" || t == "False" || t == "0")
        return out = false, true;
    return false;
}

// The text an import stores for a string, integer or boolean member.
std::string stored_text(yyjson_val *v) {
    if (yyjson_is_str(v))
        return std::string(yyjson_get_str(v), yyjson_get_len(v));
    return json_text(v);
}

} // namespace

std::string closest_field(const std::string &name) {
    std::string best;
    size_t best_distance = 3;
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i) {
        const std::string f = qxtp_profile_field_name(i);
        if (lower(f) == lower(name))
            return f;
        const size_t d = edit_distance(lower(f), lower(name));
        if (d < best_distance) {
            best_distance = d;
            best = f;
        }
    }
    return best;
}

std::string json_problem(const std::string &text) {
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return "it starts with a byte-order mark (bytes EF BB BF), which JSON text must not have";
    const size_t bad = first_bad_utf8(text);
    if (bad != std::string::npos) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[bad]));
        return "byte " + std::to_string(bad + 1) + " (" + byte + ", " + where(text, bad) +
               ") is not UTF-8, which JSON text must be";
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        return "it is empty: a profile is a JSON object such as {\"ProfileName\":\"Phone\"}";
    yyjson_read_err err{};
    const doc_closer d{
        yyjson_read_opts(const_cast<char *>(text.data()), text.size(), 0, nullptr, &err)};
    if (!d.doc) {
        std::string why = err.msg ? err.msg : "unreadable";
        if (err.code == YYJSON_READ_ERROR_UNEXPECTED_END)
            why += ": the text ends before its last object, array or string is closed";
        return "not valid JSON: " + where(text, err.pos) + ": " + why;
    }
    yyjson_val *root = yyjson_doc_get_root(d.doc);
    if (!yyjson_is_obj(root))
        return std::string("its JSON root is ") + kind_of(root) +
               ", not an object such as {\"ProfileName\":\"Phone\"}";
    return "the library refused it";
}

std::vector<std::string> import_changes(const std::string &text, int32_t id, bool with_invalid) {
    std::vector<std::string> lines;
    const doc_closer in{yyjson_read(text.data(), text.size(), 0)};
    const char *exported = qxtp_profile_to_json(id);
    const doc_closer out{exported ? yyjson_read(exported, std::strlen(exported), 0) : nullptr};
    yyjson_val *root = yyjson_doc_get_root(in.doc), *back = yyjson_doc_get_root(out.doc);
    if (!yyjson_is_obj(root))
        return lines;
    std::set<std::string> seen;
    yyjson_obj_iter iter = yyjson_obj_iter_with(root);
    while (yyjson_val *key = yyjson_obj_iter_next(&iter)) {
        const std::string name(yyjson_get_str(key), yyjson_get_len(key));
        yyjson_val *value = yyjson_obj_iter_get_val(key);
        const std::string shown = "\"" + escaped(name) + "\"";
        if (name == "FileType") {
            const char *derived = qxtp_profile_file_type(id);
            if (!yyjson_is_str(value) || !derived || stored_text(value) != derived)
                lines.push_back(shown + " " + json_text(value) +
                                " is ignored: the file type follows from FormatCreator (" +
                                quoted(derived ? derived : "") + ")");
            continue;
        }
        const std::string field = closest_field(name);
        if (field != name) {
            lines.push_back("member " + shown + " is ignored: no field has that name" +
                            (field.empty() ? "" : " (did you mean \"" + field + "\"?)"));
            continue;
        }
        if (!seen.insert(name).second) {
            lines.push_back("a second " + shown + " member is ignored: the first one counts");
            continue;
        }
        yyjson_val *now = yyjson_obj_get(back, name.c_str());
        const std::string now_text = now ? json_text(now) : "?";
        if (!yyjson_is_str(value) && !yyjson_is_int(value) && !yyjson_is_bool(value)) {
            lines.push_back(name + " " + json_text(value) + " is not imported (" + kind_of(value) +
                            "; the library takes strings, integers and booleans): it becomes " +
                            now_text);
            continue;
        }
        long long n = 0;
        bool b = false;
        if (!with_invalid && !qxtp_profile_field_valid(id, name.c_str()))
            continue;
        if (yyjson_is_int(now)) {
            if (!int_meaning(value, n) || n != int_of(now))
                lines.push_back(name + " " + json_text(value) + " becomes " + now_text +
                                ": it is not a whole number from -2147483648 to 2147483647");
        } else if (yyjson_is_bool(now)) {
            if (!bool_meaning(value, b) || b != yyjson_get_bool(now))
                lines.push_back(name + " " + json_text(value) + " becomes " + now_text +
                                ": a bool is true, false, True, False, 1 or 0");
        } else if (const char *stored = qxtp_profile_get(id, name.c_str())) {
            const std::string given = stored_text(value);
            if (given.find('\0') != std::string::npos)
                lines.push_back(name + " is cut at its NUL character (\\u0000): it becomes " +
                                quoted(stored));
            else if (given != stored)
                lines.push_back(name + " is cut to 127 bytes: it becomes " + quoted(stored));
        }
    }
    return lines;
}

} // namespace cli
