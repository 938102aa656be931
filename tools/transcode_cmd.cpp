// The transcode command: run ffmpeg on a media file as a profile says, with the equaliser as
// an LV2 audio filter inside the same ffmpeg when settings are given. Everything that can be
// refused is checked before ffmpeg starts; the output is written beside its final name and
// renamed once ffmpeg has succeeded, so a failed or interrupted run leaves nothing behind.
#include "transcode.h"

#include "cli.h"

#include "qxeq.h"
#include "qxtp.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

constexpr const char *k_bundle = "playback-profile-eq.lv2";
constexpr const char *k_plugin = "urn:playback-profile:eq#";
constexpr int k_custom_preset = 1; // the plugin's band ports apply only under PS_custom
constexpr double k_preamp_limit = 24.0;

// MARK: small helpers

struct profile_handle {
    int32_t id;
    ~profile_handle() { qxtp_profile_destroy(id); }
};

bool exists(const std::string &path, struct stat *st_out = nullptr) {
    struct stat st;
    const bool ok = stat(path.c_str(), &st) == 0;
    if (ok && st_out)
        *st_out = st;
    return ok;
}

bool is_dir(const std::string &path) {
    struct stat st;
    return exists(path, &st) && S_ISDIR(st.st_mode);
}

std::string base_name(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string dir_prefix(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// ".mp4" for "clip.mp4"; "" for "clip" and for a dot file such as ".profile".
std::string extension(const std::string &path) {
    const std::string base = base_name(path);
    const size_t dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : base.substr(dot);
}

std::string lower(std::string s) {
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// A file name ffmpeg reads as a file: one starting with '-' would be an option, one with ':'
// a protocol.
std::string ffmpeg_file(const std::string &path) {
    if (!path.empty() && (path[0] == '-' || path.find(':') != std::string::npos))
        return "file:" + path;
    return path;
}

// The shortest fixed-point text that reads back as the same float, which is what the
// plugin's control ports hold ("6", "-3.5").
std::string control_number(double v) {
    char buf[64];
    for (int decimals = 0; decimals <= 9; ++decimals) {
        std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
        if (std::strtof(buf, nullptr) == static_cast<float>(v))
            return buf;
    }
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return buf;
}

// MARK: ffprobe

struct audio_stream {
    int channels = 0, rate = 0;
    std::string layout; // ffmpeg's name, e.g. "5.1(side)"; empty when unknown
    bool is_default = false;
};

struct media {
    std::vector<audio_stream> audio;
    double duration = -1; // seconds; -1 when unknown
};

media probe(const std::string &ffprobe, const std::string &in) {
    const capture_result r =
        capture({ffprobe, "-v", "error", "-show_entries",
                 "format=duration:stream=codec_type,channels,channel_layout,sample_rate:"
                 "stream_disposition=default",
                 "-of", "default", ffmpeg_file(in)});
    if (r.status != 0) {
        std::string why = r.err;
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r'))
            why.pop_back();
        const size_t nl = why.rfind('\n');
        throw error("cannot read " + display_name(in) + ": " +
                    (why.empty() ? "ffprobe failed with status " + std::to_string(r.status)
                                 : "ffprobe: " + why.substr(nl == std::string::npos ? 0 : nl + 1)));
    }
    media m;
    audio_stream s;
    bool in_stream = false, is_audio = false;
    size_t at = 0;
    while (at < r.out.size()) {
        size_t nl = r.out.find('\n', at);
        if (nl == std::string::npos)
            nl = r.out.size();
        const std::string line = r.out.substr(at, nl - at);
        at = nl + 1;
        if (line == "[STREAM]") {
            in_stream = true;
            is_audio = false;
            s = audio_stream{};
        } else if (line == "[/STREAM]") {
            if (is_audio)
                m.audio.push_back(s);
            in_stream = false;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (in_stream && key == "codec_type")
            is_audio = value == "audio";
        else if (in_stream && key == "channels")
            s.channels = std::atoi(value.c_str());
        else if (in_stream && key == "sample_rate")
            s.rate = std::atoi(value.c_str());
        else if (in_stream && key == "channel_layout")
            s.layout = value == "unknown" ? "" : value;
        else if (in_stream && key == "DISPOSITION:default")
            s.is_default = value == "1";
        else if (!in_stream && key == "duration" && value != "N/A")
            m.duration = std::atof(value.c_str());
    }
    return m;
}

// The audio stream ffmpeg picks when nothing is mapped: a default stream first, then the
// most channels, then the first.
const audio_stream &chosen_audio(const media &m) {
    const audio_stream *best = &m.audio.front();
    auto score = [](const audio_stream &a) { return a.channels + (a.is_default ? 5000000 : 0); };
    for (const auto &a : m.audio)
        if (score(a) > score(*best))
            best = &a;
    return *best;
}

bool has_lv2_filter(const std::string &ffmpeg) {
    const capture_result r = capture({ffmpeg, "-hide_banner", "-filters"});
    if (r.status != 0)
        throw error("ffmpeg " + display_name(ffmpeg) + " cannot list its filters (status " +
                    std::to_string(r.status) + "): is it ffmpeg?");
    size_t at = 0;
    while (at < r.out.size()) {
        size_t nl = r.out.find('\n', at);
        if (nl == std::string::npos)
            nl = r.out.size();
        char flags[16], name[64];
        if (std::sscanf(r.out.substr(at, nl - at).c_str(), "%15s %63s", flags, name) == 2 &&
            std::strcmp(name, "lv2") == 0)
            return true;
        at = nl + 1;
    }
    return false;
}

// ffprobe comes with ffmpeg: beside the one given, else from PATH.
std::string find_ffprobe(const std::string &ffmpeg) {
    std::string beside = find_program(dir_prefix(ffmpeg) + "ffprobe");
    if (!dir_prefix(ffmpeg).empty() && !beside.empty())
        return beside;
    return find_program("ffprobe");
}

// MARK: the bundle

std::string real_path(const std::string &path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

bool holds_bundle(const std::string &dir) {
    return !dir.empty() && exists(dir + "/" + k_bundle + "/manifest.ttl");
}

// The LV2_PATH assignment ffmpeg needs to find the bundle (empty when it finds it anyway),
// preferring the bundle that was built or installed with this program.
std::vector<std::string> bundle_env() {
    const char *lv2_path = std::getenv("LV2_PATH");
    const std::string user_path = lv2_path ? lv2_path : "";
    const std::string exe = real_path("/proc/self/exe");
    const std::string bin = dir_prefix(exe);
    for (const auto &dir : {bin + "../lib/lv2", bin + "../" QX_LIBDIR "/lv2"}) {
        if (bin.empty() || !holds_bundle(dir))
            continue;
        const std::string found = real_path(dir);
        return {"LV2_PATH=" + found + (user_path.empty() ? "" : ":" + user_path)};
    }
    std::vector<std::string> searched;
    if (!user_path.empty()) {
        size_t at = 0;
        for (;;) {
            const size_t colon = user_path.find(':', at);
            searched.push_back(
                user_path.substr(at, colon == std::string::npos ? colon : colon - at));
            if (colon == std::string::npos)
                break;
            at = colon + 1;
        }
    } else {
        const char *home = std::getenv("HOME");
        searched = {std::string(home ? home : "~") + "/.lv2", "/usr/local/lib/lv2", "/usr/lib/lv2"};
    }
    for (const auto &dir : searched)
        if (holds_bundle(dir))
            return {};
    std::string list;
    for (const auto &dir : searched)
        list += (list.empty() ? "" : ", ") + dir;
    throw error(std::string("the equaliser's LV2 bundle ") + k_bundle +
                " is neither beside this program (../lib/lv2) nor in " +
                (user_path.empty() ? "the standard LV2 folders (" : "LV2_PATH (") + list +
                "); build or install it, or set LV2_PATH to its folder");
}

// MARK: equaliser settings

struct eq_plan {
    bool on = false;
    int preset = k_custom_preset;
    double gains[8] = {};
    double preamp = 0.0;
    bool auto_preamp = false; // measured once the input's rate is known
};

// A gain outside the plugin's range is clamped, as the library clamps band gains.
double clamp_preamp(double db) {
    if (std::fabs(db) <= k_preamp_limit)
        return db;
    const double clamped = db > 0 ? k_preamp_limit : -k_preamp_limit;
    std::fprintf(stderr,
                 "playback-profile: warning: preamp %s dB is outside -24..+24 dB; using %s\n",
                 control_number(db).c_str(), control_number(clamped).c_str());
    return clamped;
}

// The cut that keeps the equaliser's largest boost at the input's rate from clipping.
double auto_preamp(int rate) {
    if (qxeq_set_sample_rate(rate) != QX_OK)
        throw error("--preamp auto: sample rate " + std::to_string(rate) + " Hz (" +
                    qxeq_last_error() + ")");
    return clamp_preamp(automatic_preamp_db(qxeq_peak_db(nullptr)));
}

// Settings go through the library's own parsing on its default equaliser, which the plugin
// then receives as control values.
eq_plan plan_eq(const transcode_options &o) {
    eq_plan p;
    p.on = !o.preset.empty() || !o.gains.empty() || !o.preamp.empty();
    if (!o.preset.empty()) {
        apply_preset(o.preset);
        p.preset = qxeq_preset_index_by_name(o.preset.c_str());
    }
    for (const auto &g : o.gains)
        apply_gain(g);
    for (uint32_t b = 0; b < 8; ++b)
        p.gains[b] = qxeq_get_gain(b);
    p.auto_preamp = o.preamp == "auto";
    if (!o.preamp.empty() && !p.auto_preamp)
        p.preamp = clamp_preamp(preamp_gain_db(o.preamp));
    return p;
}

std::string eq_filter(const eq_plan &p, const audio_stream &a) {
    std::string variant;
    switch (a.channels) {
    case 1:
        variant = "mono";
        break;
    case 2:
        variant = "stereo";
        break;
    case 6:
        variant = "surround51";
        break;
    case 8:
        variant = "surround71";
        break;
    default:
        break;
    }
    std::string controls = "preset=" + std::to_string(p.preset);
    if (p.preset == k_custom_preset)
        for (uint32_t b = 0; b < 8; ++b)
            controls += "|g" + std::to_string(std::lround(qxeq_band_center_hz(b))) + "=" +
                        control_number(p.gains[b]);
    if (p.preamp != 0.0)
        controls += "|preamp=" + control_number(p.preamp);
    // The lv2 filter hands on its channels without a layout. channelmap names the input's
    // layout again (ffmpeg's guess for the count when the file names none) without mixing,
    // which aformat would attempt and fail at.
    std::string map = "0";
    for (int c = 1; c < a.channels; ++c)
        map += "|" + std::to_string(c);
    const std::string layout = !a.layout.empty()         ? a.layout
                               : variant == "mono"       ? "mono"
                               : variant == "stereo"     ? "stereo"
                               : variant == "surround51" ? "5.1"
                                                         : "7.1";
    return "lv2=p=" + filter_value(k_plugin + variant) + ":c=" + filter_value(controls) +
           ",channelmap=map=" + filter_value(map) + ":channel_layout=" + filter_value(layout);
}

// MARK: output

// OUT itself, or IN's name with the profile's file type inside the folder OUT.
std::string output_path(const std::string &in, const std::string &out, const std::string &type) {
    if (is_dir(out)) {
        if (type.empty())
            throw error("the profile names no file type, so " + display_name(out) +
                        " must be a file name rather than a folder");
        std::string stem = base_name(in);
        const std::string ext = extension(stem);
        stem.resize(stem.size() - ext.size());
        return out + (out.back() == '/' ? "" : "/") + stem + type;
    }
    if (!out.empty() && out.back() == '/')
        throw error("cannot write into " + display_name(out) + ": no such folder");
    const std::string ext = extension(out);
    if (!type.empty() && lower(ext) != type)
        throw error(display_name(out, true) +
                    (ext.empty() ? " has no extension" : " ends in " + ext) +
                    ", but the profile writes " + type + " files: name it so, or give a folder");
    return out;
}

// A file reserved beside the output, keeping its extension (ffmpeg picks the format by it),
// removed unless committed.
class temp_output {
  public:
    explicit temp_output(const std::string &path) : path_(path) {
        const std::string ext = extension(path);
        const std::string base = base_name(path);
        tmp_ = dir_prefix(path) + "." +
               base.substr(0, std::min<size_t>(base.size() - ext.size(), 200)) + ".XXXXXX" + ext;
        const int fd = mkstemps(tmp_.data(), static_cast<int>(ext.size()));
        if (fd < 0)
            throw error("cannot write " + display_name(path, true) + ": " + std::strerror(errno));
        ::close(fd);
    }
    ~temp_output() {
        if (!committed_)
            unlink(tmp_.c_str());
    }
    temp_output(const temp_output &) = delete;
    temp_output &operator=(const temp_output &) = delete;
    const std::string &name() const { return tmp_; }
    void commit() {
        // mkstemps makes the file private; the result gets the mode a new file would have.
        const mode_t mask = umask(0);
        umask(mask);
        if (chmod(tmp_.c_str(), static_cast<mode_t>(0666 & ~mask)) != 0 ||
            std::rename(tmp_.c_str(), path_.c_str()) != 0)
            throw error("cannot write " + display_name(path_, true) + ": " + std::strerror(errno));
        committed_ = true;
    }

  private:
    std::string path_, tmp_;
    bool committed_ = false;
};

void print_ffmpeg_lines(const std::string &lines) {
    size_t at = 0;
    while (at < lines.size()) {
        const size_t nl = lines.find('\n', at);
        std::fprintf(stderr, "playback-profile: ffmpeg: %s\n", lines.substr(at, nl - at).c_str());
        at = nl == std::string::npos ? lines.size() : nl + 1;
    }
}

} // namespace

// MARK: command

CLI::App *add_transcode_command(CLI::App &app, transcode_options &o) {
    auto *c = app.add_subcommand("transcode",
                                 "Transcode a media file with ffmpeg as a profile says, through "
                                 "the equaliser (an LV2 filter inside ffmpeg) when settings are "
                                 "given.");
    c->add_option("IN", o.in, "input media file (audio, or audio and video)")->required();
    c->add_option("OUT", o.out,
                  "output file, named with the profile's file type; or a folder, to write IN's "
                  "name with that type in it")
        ->required();
    c->add_option("--profile", o.profile, "the transcode profile (JSON)")
        ->required()
        ->type_name("FILE.json");
    auto *preset = c->add_option("--preset", o.preset, "equaliser preset name, e.g. PS_rock");
    c->add_option("--gain", o.gains, "set a band's gain, BAND=DB (repeatable)")
        ->allow_extra_args(false)
        ->type_name("BAND=DB")
        ->excludes(preset);
    c->add_option("--preamp", o.preamp,
                  "gain before the equaliser, -24..+24 dB; auto: just enough cut that the "
                  "equaliser's largest boost cannot clip")
        ->type_name("DB|auto");
    c->add_option("--ffmpeg", o.ffmpeg,
                  "the ffmpeg to run (default: ffmpeg in PATH); ffprobe is taken from beside "
                  "it, else from PATH")
        ->type_name("PATH");
    c->add_flag("--dry-run", o.dry_run,
                "print the ffmpeg command, quoted for a POSIX shell, and run nothing");
    c->add_flag("--overwrite", o.overwrite, "replace OUT when it exists");
    return c;
}

void run_transcode(const transcode_options &o) {
    if (o.in == "-" || o.out == "-")
        throw error("transcode reads and writes named files, not standard input or output");
    const profile_handle profile{load_valid_profile(o.profile)};
    // Copied at once: the library's texts live only until its next call.
    const char *args_text = qxtp_profile_to_ffmpeg_args(profile.id);
    if (!args_text)
        throw error(display_name(o.profile) + ": " + qxtp_last_error());
    const std::string fragment = args_text;
    const char *type_text = qxtp_profile_file_type(profile.id);
    if (!type_text)
        throw error(display_name(o.profile) + ": " + qxtp_last_error());
    const std::string file_type = type_text;
    eq_plan eq = plan_eq(o);

    const std::string ffmpeg = find_program(o.ffmpeg.empty() ? "ffmpeg" : o.ffmpeg);
    if (ffmpeg.empty())
        throw error(o.ffmpeg.empty()
                        ? std::string("ffmpeg is not installed: no ffmpeg in PATH")
                        : "ffmpeg " + display_name(o.ffmpeg) + " is not an executable file");
    const std::string ffprobe = find_ffprobe(ffmpeg);
    if (ffprobe.empty())
        throw error("no ffprobe beside " + display_name(ffmpeg) +
                    " or in PATH: it comes with ffmpeg and reads the input's streams");
    if (eq.on && !has_lv2_filter(ffmpeg))
        throw error("ffmpeg " + display_name(ffmpeg) +
                    " was built without the lv2 filter, which runs the equaliser; drop the "
                    "equaliser settings or use an ffmpeg built with LV2 support");
    if (!is_dir(o.in) && !exists(o.in))
        throw error("cannot read " + display_name(o.in) + ": " + std::strerror(ENOENT));
    if (is_dir(o.in))
        throw error("cannot read " + display_name(o.in) + ": it is a directory");
    const media in = probe(ffprobe, o.in);

    std::vector<std::string> env;
    std::string filter;
    if (eq.on) {
        if (in.audio.empty())
            throw error(display_name(o.in) +
                        " has no audio stream, so there is nothing to equalise");
        const audio_stream &a = chosen_audio(in);
        if (a.channels != 1 && a.channels != 2 && a.channels != 6 && a.channels != 8)
            throw error(display_name(o.in) + " has " + std::to_string(a.channels) +
                        " audio channels; the equaliser takes mono, stereo, 5.1 or 7.1 (1, 2, "
                        "6 or 8 channels)");
        if (eq.auto_preamp)
            eq.preamp = auto_preamp(a.rate);
        filter = eq_filter(eq, a);
        env = bundle_env();
    }

    const std::string out = output_path(o.in, o.out, file_type);
    struct stat in_st, out_st;
    if (exists(out, &out_st)) {
        if (exists(o.in, &in_st) && in_st.st_dev == out_st.st_dev && in_st.st_ino == out_st.st_ino)
            throw error(display_name(out, true) + " is the input itself");
        if (!o.overwrite)
            throw error(display_name(out, true) + " exists; --overwrite replaces it");
    }

    // The command: its progress plumbing and the temporary name come in only for the real run.
    std::vector<std::string> head = {ffmpeg, "-hide_banner", "-nostdin"};
    std::vector<std::string> body = {"-i", ffmpeg_file(o.in)};
    for (const auto &a : split_fragment(fragment))
        body.push_back(a);
    if (!filter.empty()) {
        body.push_back("-af");
        body.push_back(filter);
    }
    if (o.dry_run) {
        std::vector<std::string> argv = head;
        argv.insert(argv.end(), body.begin(), body.end());
        argv.push_back(o.overwrite ? "-y" : "-n");
        argv.push_back(ffmpeg_file(out));
        const std::string line = shell_command(env, argv) + "\n";
        if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
            std::fflush(stdout) != 0)
            throw error(std::string("cannot write standard output: ") + std::strerror(errno));
        return;
    }

    const interrupt_guard guard;
    temp_output tmp(out);
    std::vector<std::string> argv = head;
    for (const char *a : {"-nostats", "-loglevel", "error", "-progress", "pipe:3"})
        argv.push_back(a);
    argv.insert(argv.end(), body.begin(), body.end());
    argv.push_back("-y"); // the reserved temporary file
    argv.push_back(ffmpeg_file(tmp.name()));

    ffmpeg_result r;
    if (guard.received() == 0) {
        progress_display bar(in.duration);
        r = run_ffmpeg(argv, env, [&](const progress_report &p) { bar.update(p); });
    }
    if (const int sig = guard.received()) {
        unlink(tmp.name().c_str());
        std::fprintf(stderr, "playback-profile: interrupted; %s was not written\n",
                     display_name(out, true).c_str());
        die_by_signal(sig);
    }
    print_ffmpeg_lines(r.error_tail);
    if (r.status != 0)
        throw error("ffmpeg failed with status " + std::to_string(r.status) + "; " +
                    display_name(out, true) + " was not written");
    tmp.commit();
}

} // namespace cli
