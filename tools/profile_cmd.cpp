// The profile commands: create, show, validate, convert to ffmpeg arguments and rewrite
// transcode profiles kept as the library's JSON text. Each command loads one profile into the
// library's store and works on it there.
#include "atomic_output.h"
#include "cli.h"
#include "transcode.h"

#include "qxtp.h"

#include <cstdio>
#include <string>
#include <utility>

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

int32_t load(const std::string &path) {
    const std::string text = read_text(path);
    if (text.find('\0') != std::string::npos)
        throw error(display_name(path) + " is not a profile: it holds a NUL byte");
    const int32_t id = qxtp_profile_from_json(text.c_str());
    if (id < 0)
        throw error(display_name(path) + " is not a profile: it must be JSON whose root is an " +
                    "object (" + qxtp_last_error() + ")");
    return id;
}

std::string field_type(const std::string &field) {
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i)
        if (field == qxtp_profile_field_name(i))
            return qxtp_profile_field_type(i);
    return "?";
}

std::string quoted(const char *text) { return std::string("\"") + (text ? text : "") + "\""; }

std::string pad(std::string s, size_t width) {
    if (s.size() < width)
        s.append(width - s.size(), ' ');
    return s;
}

std::string json_of(const profile &p, const std::string &path) {
    const char *json = qxtp_profile_to_json(p.id());
    if (!json)
        throw error("cannot write " + display_name(path, true) + " as JSON: " + qxtp_last_error() +
                    " (a field holds text that is not UTF-8)");
    return std::string(json) + "\n";
}

} // namespace

void run_profile_new(const profile_options &o) {
    const int32_t id = qxtp_profile_create(nullptr);
    if (id < 0)
        throw error(std::string("cannot create a profile: ") + qxtp_last_error());
    const profile p(id);
    for (const auto &spec : o.sets) {
        const size_t eq = spec.find('=');
        if (eq == std::string::npos)
            throw error("--set '" + spec +
                        "': expected Field=Value, for example AudioBitrate=128000");
        const std::string field = spec.substr(0, eq), value = spec.substr(eq + 1);
        const int32_t rc = qxtp_profile_set(p.id(), field.c_str(), value.c_str());
        if (rc == QX_ERR_UNKNOWN_FIELD)
            throw error("--set '" + spec + "': unknown field '" + field + "' (" +
                        qxtp_last_error() + "); 'playback-profile profile new --help' lists them");
        if (rc != QX_OK)
            throw error("--set '" + spec + "': '" + value + "' is not valid for type " +
                        field_type(field) + " (" + qxtp_last_error() + ")");
    }
    qx_clear_warnings();
    if (qxtp_profile_validate(p.id()) != QX_OK) {
        const std::string text = qxtp_last_error(), prefix = "ERR_FIELD_INVALID:";
        const std::string field = text.compare(0, prefix.size(), prefix) == 0
                                      ? text.substr(prefix.size())
                                      : std::string();
        throw error("--set " + field + "=" + qxtp_profile_get(p.id(), field.c_str()) +
                    ": not valid for type " + field_type(field) + " (" + text + ")");
    }
    const std::string dest = o.output.empty() ? "-" : o.output;
    write_text(dest, json_of(p, dest));
}

void run_profile_show(const profile_options &o) {
    const profile p(load(o.file));
    qx_clear_warnings(); // the validity column shows what the import logged
    std::string t = pad("field", 34) + pad("type", 13) + pad("valid", 7) + "value\n";
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i) {
        const char *name = qxtp_profile_field_name(i);
        t += pad(name, 34) + pad(qxtp_profile_field_type(i), 13) +
             pad(qxtp_profile_field_valid(p.id(), name) ? "yes" : "NO", 7) +
             quoted(qxtp_profile_get(p.id(), name)) + "\n";
    }
    t += pad("FileType", 34) + pad("(derived)", 20) + quoted(qxtp_profile_file_type(p.id())) + "\n";
    write_text("-", t);
}

namespace {

// Validates a loaded profile; false after listing each invalid field on stderr.
bool check_fields(const profile &p, const std::string &file) {
    qx_clear_warnings();
    const int32_t rc = qxtp_profile_validate(p.id());
    if (rc == QX_OK)
        return true;
    if (rc != QX_ERR_FIELD_INVALID)
        throw error(display_name(file) + ": " + qxtp_last_error());
    // One warning per invalid field, in table order.
    const std::string prefix = "ERR_FIELD_INVALID:";
    for (int32_t i = 0; i < qx_warning_count(); ++i) {
        const std::string w = qx_warning(i);
        const std::string field =
            w.compare(0, prefix.size(), prefix) == 0 ? w.substr(prefix.size()) : "";
        std::fprintf(stderr, "playback-profile: %s: %s: %s is not valid for type %s\n",
                     display_name(file).c_str(), w.c_str(),
                     quoted(qxtp_profile_get(p.id(), field.c_str())).c_str(),
                     field_type(field).c_str());
    }
    qx_clear_warnings();
    return false;
}

} // namespace

int run_profile_validate(const profile_options &o) {
    const profile p(load(o.file));
    if (!check_fields(p, o.file))
        return 1;
    write_text("-", display_name(o.file) + ": valid\n");
    return 0;
}

int32_t load_valid_profile(const std::string &path) {
    profile p(load(path));
    if (!check_fields(p, path))
        throw error(display_name(path) + " is not a valid profile (the fields above); nothing "
                    "was started");
    return p.release();
}

void run_profile_args(const profile_options &o) {
    const profile p(load(o.file));
    print_warnings(); // fields the import rejected, which the arguments leave out
    const char *args = qxtp_profile_to_ffmpeg_args(p.id());
    if (!args)
        throw error(display_name(o.file) + ": " + qxtp_last_error());
    const std::string first = args;
    const char *ext = qxtp_profile_file_type(p.id());
    if (!ext)
        throw error(display_name(o.file) + ": " + qxtp_last_error());
    write_text("-", first + "\n" + ext + "\n");
}

void run_profile_fmt(const profile_options &o) {
    const profile p(load(o.file));
    print_warnings();
    const std::string dest = o.output.empty() ? o.file : o.output;
    write_text(dest, json_of(p, dest));
}

} // namespace cli
