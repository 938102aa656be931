// The profile commands: create, show, validate, convert to ffmpeg arguments and rewrite
// transcode profiles kept as the library's JSON text. Each command loads one profile into the
// library's store and works on it there; what the import ignores or changes on the way is
// found by profile_check and said, and fmt refuses to write such a loss unless forced.
#include "atomic_output.h"
#include "cli.h"
#include "profile_check.h"
#include "text.h"
#include "transcode.h"

#include "qxtp.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace cli {

namespace {

// A profile in the library's store, released when the command is done with it.
class profile {
  public:
    explicit profile(int32_t id) : id_(id) {}
    ~profile() { qxtp_profile_destroy(id_); }
    profile(const profile &) = delete;
    profile &operator=(const profile &) = delete;
    int32_t id() const { return id_; }
    int32_t release() { return std::exchange(id_, -1); }

  private:
    int32_t id_;
};

// Profiles are a few hundred bytes; anything far larger is not one (and /dev/zero never ends).
constexpr size_t k_max_profile_bytes = 1 << 20;

// A profile read from path, and its text, which the checks read a second way.
struct loaded {
    int32_t id;
    std::string text;
};

loaded load(const std::string &path) {
    std::string text = read_text(path, k_max_profile_bytes, "a profile");
    if (text.find('\0') != std::string::npos)
        throw error(display_name(path) + " is not a profile: it holds a NUL byte at byte " +
                    std::to_string(text.find('\0') + 1));
    const int32_t id = qxtp_profile_from_json(text.c_str());
    if (id == -QX_ERR_INVALID_ARG)
        throw error(display_name(path) + " is not a profile: " + json_problem(text) + " (" +
                    status_name(-id) + ")");
    if (id < 0)
        throw error("cannot load " + display_name(path) + ": no free profile slot (" +
                    status_name(-id) + ")");
    return {id, std::move(text)};
}

std::string field_type(const std::string &field) {
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i)
        if (field == qxtp_profile_field_name(i))
            return qxtp_profile_field_type(i);
    return "?";
}

std::string value_of(const profile &p, const std::string &field) {
    const char *v = qxtp_profile_get(p.id(), field.c_str());
    return v ? v : "";
}

// What a field's type accepts, for messages about a value it refused.
std::string type_rule(const std::string &type) {
    if (type == "int")
        return "an int is a whole number from -2147483648 to 2147483647";
    if (type == "bool")
        return "a bool is true, false, True, False, 1 or 0";
    if (type == "uint_string")
        return "a uint_string is empty or digits for a whole number from 0 to 4294967295";
    return "a string is any UTF-8 text";
}

std::string did_you_mean(const std::string &name) {
    const std::string f = closest_field(name);
    return f.empty() ? "" : " (did you mean '" + f + "'?)";
}

// One message per field whose value the library holds as invalid, in table order.
std::vector<std::string> invalid_fields(const profile &p) {
    std::vector<std::string> v;
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i) {
        const std::string f = qxtp_profile_field_name(i);
        if (!qxtp_profile_field_valid(p.id(), f.c_str()))
            v.push_back(f + " " + quoted(value_of(p, f)) + " is not valid: " +
                        type_rule(qxtp_profile_field_type(i)) + " (ERR_FIELD_INVALID)");
    }
    return v;
}

std::string pad(std::string s, size_t width) {
    if (s.size() < width)
        s.append(width - s.size(), ' ');
    return s;
}

std::string json_of(const profile &p, const std::string &path) {
    const char *json = qxtp_profile_to_json(p.id());
    if (json)
        return std::string(json) + "\n";
    // The export fails for text that is not UTF-8, or when memory runs out: find which.
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i) {
        const std::string f = qxtp_profile_field_name(i), v = value_of(p, f);
        const size_t bad = first_bad_utf8(v);
        if (bad != std::string::npos)
            throw error("cannot write " + display_name(path, true) + ": " + f + " " + quoted(v) +
                        " is not UTF-8 text, which JSON needs (byte " + std::to_string(bad + 1) +
                        ")");
    }
    throw error("cannot write " + display_name(path, true) + ": out of memory (ERR_OOM)");
}

} // namespace

void run_profile_new(const profile_options &o) {
    const int32_t id = qxtp_profile_create(nullptr);
    if (id < 0)
        throw error("cannot create a profile: no free slot (" + status_name(-id) + ")");
    const profile p(id);
    for (const auto &setting : o.sets) {
        const std::string shown = "--set '" + escaped(setting) + "'";
        const size_t eq = setting.find('=');
        if (eq == std::string::npos)
            throw usage_error(shown + ": expected Field=Value, for example AudioBitrate=128000");
        const std::string field = setting.substr(0, eq), value = setting.substr(eq + 1);
        const size_t bad = first_bad_utf8(value);
        if (bad != std::string::npos)
            throw usage_error(shown + ": the value is not UTF-8 text (byte " +
                              std::to_string(bad + 1) + "), which a JSON profile cannot hold");
        const int32_t rc = qxtp_profile_set(p.id(), field.c_str(), value.c_str());
        if (rc == QX_ERR_UNKNOWN_FIELD)
            throw usage_error(
                shown + ": unknown field '" + escaped(field) + "'" + did_you_mean(field) +
                "; 'playback-profile profile new --help' lists them (" + status_name(rc) + ")");
        if (rc == QX_ERR_FIELD_INVALID)
            throw usage_error(shown + ": '" + escaped(value) + "' is not valid for " + field +
                              ": " + type_rule(field_type(field)) + " (" + status_name(rc) + ")");
        if (rc != QX_OK)
            throw error(shown + ": the profile store refused it (" + status_name(rc) + ")");
    }
    qx_clear_warnings();
    const auto invalid = invalid_fields(p);
    if (!invalid.empty())
        throw usage_error("--set " + invalid.front());
    const std::string dest = o.output.empty() ? "-" : o.output;
    write_text(dest, json_of(p, dest));
}

namespace {

// The import's silent choices, said as warnings (show, validate, args).
void warn_import_changes(const std::string &path, const loaded &l) {
    for (const auto &line : import_changes(l.text, l.id, false))
        warn(display_name(path) + ": " + line);
}

// ffmpeg has u8, s16, s32 and s64 sample formats; "-sample_fmt s8", "s12" or "s24" fails there.
void warn_rejected_clauses(const std::string &path, const profile &p) {
    const uint32_t bits = qxtp_profile_parsed_uint(p.id(), "AudioBitsPerSample");
    if (bits != 0 && bits != 16 && bits != 32 && bits != 64)
        warn(display_name(path) + ": AudioBitsPerSample " + std::to_string(bits) +
             " gives \"-sample_fmt s" + std::to_string(bits) +
             "\", which ffmpeg rejects: its sample formats are u8, s16, s32 and s64 (use 16, 32 "
             "or 64)");
}

} // namespace

void run_profile_show(const profile_options &o) {
    const loaded l = load(o.file);
    const profile p(l.id);
    qx_clear_warnings(); // the validity column shows what the import logged
    warn_import_changes(o.file, l);
    std::string t = pad("field", 34) + pad("type", 13) + pad("valid", 7) + "value\n";
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i) {
        const char *name = qxtp_profile_field_name(i);
        t += pad(name, 34) + pad(qxtp_profile_field_type(i), 13) +
             pad(qxtp_profile_field_valid(p.id(), name) ? "yes" : "NO", 7) +
             quoted(value_of(p, name)) + "\n";
    }
    t += pad("FileType", 34) + pad("(derived)", 20) + quoted(qxtp_profile_file_type(p.id())) + "\n";
    write_text("-", t);
}

namespace {

// Lists each invalid field of a loaded profile on stderr; false when there was one. What the
// import ignored or changed is said first.
bool fields_valid(const loaded &l, const profile &p, const std::string &file) {
    qx_clear_warnings();
    warn_import_changes(file, l);
    const auto invalid = invalid_fields(p);
    for (const auto &line : invalid)
        std::fprintf(stderr, "playback-profile: %s: %s\n", display_name(file).c_str(),
                     line.c_str());
    return invalid.empty();
}

} // namespace

int run_profile_validate(const profile_options &o) {
    const loaded l = load(o.file);
    const profile p(l.id);
    if (!fields_valid(l, p, o.file))
        return 1;
    write_text("-", display_name(o.file) + ": valid\n");
    return 0;
}

int32_t load_valid_profile(const std::string &path) {
    const loaded l = load(path);
    profile p(l.id);
    if (!fields_valid(l, p, path))
        throw error(display_name(path) + " is not a valid profile (the fields above); nothing "
                                         "was started");
    return p.release();
}

int run_profile_args(const profile_options &o) {
    const loaded l = load(o.file);
    const profile p(l.id);
    qx_clear_warnings();
    warn_import_changes(o.file, l);
    // Arguments from an invalid profile would silently leave its invalid fields out.
    const auto invalid = invalid_fields(p);
    for (const auto &line : invalid)
        std::fprintf(stderr, "playback-profile: %s: %s\n", display_name(o.file).c_str(),
                     line.c_str());
    if (!invalid.empty())
        return 1;
    warn_rejected_clauses(o.file, p);
    const char *args = qxtp_profile_to_ffmpeg_args(p.id());
    const char *ext = args ? qxtp_profile_file_type(p.id()) : nullptr;
    if (!args || !ext)
        throw error(display_name(o.file) + ": the profile store lost the profile (" +
                    status_name(QX_ERR_NO_SUCH_PROFILE) + ")");
    std::string a = args;
    if (o.args_only) // one line for $(...) on an ffmpeg command line
        write_text("-", a + "\n");
    else if (o.type_only)
        write_text("-", std::string(ext) + "\n");
    else
        write_text("-", a + "\n" + ext + "\n");
    return 0;
}

int run_profile_fmt(const profile_options &o) {
    const loaded l = load(o.file);
    const profile p(l.id);
    qx_clear_warnings();
    const auto changes = import_changes(l.text, l.id, true);
    const std::string dest = o.output.empty() ? o.file : o.output;
    if (!changes.empty() && !o.force) {
        for (const auto &line : changes)
            std::fprintf(stderr, "playback-profile: %s: %s\n", display_name(o.file).c_str(),
                         line.c_str());
        std::fprintf(stderr,
                     "playback-profile: %s: not written: the library's form would lose or change "
                     "what is listed above; --force writes it anyway\n",
                     display_name(dest, true).c_str());
        return 1;
    }
    for (const auto &line : changes)
        warn(display_name(o.file) + ": " + line);
    for (const auto &line : invalid_fields(p))
        warn(display_name(o.file) + ": " + line);
    write_text(dest, json_of(p, dest));
    return 0;
}

// Which fields never reach the arguments, found by changing each one on a profile where every
// other field is set: for profile --help.
std::string fields_outside_args() {
    const int32_t base = qxtp_profile_create(nullptr);
    if (base < 0)
        return "";
    const profile p(base);
    auto sample = [](const std::string &type, int k) -> std::string {
        if (type == "bool")
            return k ? "true" : "false";
        if (type == "string")
            return k ? "mp3" : "mkv";
        return std::to_string(k + 7);
    };
    const uint32_t n = static_cast<uint32_t>(qxtp_profile_field_count());
    for (uint32_t i = 0; i < n; ++i)
        qxtp_profile_set(p.id(), qxtp_profile_field_name(i),
                         sample(qxtp_profile_field_type(i), 0).c_str());
    std::string list;
    for (uint32_t i = 0; i < n; ++i) {
        const char *f = qxtp_profile_field_name(i);
        const std::string before = qxtp_profile_to_ffmpeg_args(p.id());
        qxtp_profile_set(p.id(), f, sample(qxtp_profile_field_type(i), 1).c_str());
        const std::string after = qxtp_profile_to_ffmpeg_args(p.id());
        qxtp_profile_set(p.id(), f, sample(qxtp_profile_field_type(i), 0).c_str());
        if (before == after)
            list += (list.empty() ? "" : ", ") + std::string(f);
    }
    qx_clear_warnings();
    return list;
}

} // namespace cli
