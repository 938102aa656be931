// Output formats by extension, as libsndfile's own format table names them, with the usual
// other spellings (".mp3", ".ogg", ".opus", ".aif"); the encoding that fits the chosen
// container and the input; and the data length a WAV or AIFF header promises.
#include "audio_format.h"

#include "cli.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <unistd.h>
#include <vector>

namespace cli {

namespace {

struct extension_row {
    std::string ext;
    int major;
    int subtype; // 0: chosen from the input
};

// Spellings libsndfile's table lacks, or where one major format holds several encodings that
// the extension tells apart.
const extension_row k_aliases[] = {
    {"mp3", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
    {"mp2", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_II},
    {"mp1", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_I},
    {"m1a", SF_FORMAT_MPEG, SF_FORMAT_MPEG_LAYER_III},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {"aif", SF_FORMAT_AIFF, 0},
    {"aifc", SF_FORMAT_AIFF, 0},
    {"snd", SF_FORMAT_AU, 0},
    {"sph", SF_FORMAT_NIST, 0},
    {"nist", SF_FORMAT_NIST, 0},
    {"ircam", SF_FORMAT_IRCAM, 0},
    {"svx", SF_FORMAT_SVX, 0},
};

// Audio extensions of formats libsndfile cannot write: refused, where any other unknown
// extension (".tmp", ".part") leaves the output in the input's format.
const char *const k_unwritable[] = {"aac", "ac3", "alac", "amr", "ape", "dts",  "eac3", "m4a",
                                    "m4b", "mka", "mp4",  "ra",  "tta", "webm", "wma",  "wv"};

// The aliases, then each major format of libsndfile's table under its extension (the first
// entry wins where two share one, as "wav" and "mat" do).
std::vector<extension_row> extension_table() {
    std::vector<extension_row> rows(std::begin(k_aliases), std::end(k_aliases));
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_MAJOR_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_MAJOR, &info, sizeof info) != 0 || !info.extension)
            continue;
        const std::string ext = info.extension;
        if (std::none_of(rows.begin(), rows.end(), [&](const auto &r) { return r.ext == ext; }))
            rows.push_back({ext, info.format & SF_FORMAT_TYPEMASK, 0});
    }
    return rows;
}

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "flac" for "out.FLAC", "" for "-", "out", ".hidden" or "dir.d/out".
std::string extension_of(const std::string &path) {
    if (path == "-")
        return "";
    const size_t slash = path.rfind('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? "" : lower(base.substr(dot + 1));
}

std::string extension_list(const std::vector<extension_row> &rows) {
    std::vector<std::string> names;
    for (const auto &r : rows)
        names.push_back(r.ext);
    std::sort(names.begin(), names.end());
    std::string s;
    for (const auto &n : names)
        s += (s.empty() ? "" : " ") + n;
    return s;
}

bool writable(int format, const SF_INFO &in) {
    SF_INFO probe{};
    probe.format = format;
    probe.channels = in.channels;
    probe.samplerate = in.samplerate;
    return sf_format_check(&probe) != 0;
}

// Encodings that store samples as they are, which any container may take over from the
// input; an input's lossy or container-specific encoding is kept only in its own container.
bool is_plain(int subtype) {
    switch (subtype) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        return true;
    default:
        return false;
    }
}

// The encoding for major: the input's where it fits, else the nearest bit depth, else the
// first the container takes.
int pick_subtype(int major, const SF_INFO &in) {
    const int in_major = in.format & SF_FORMAT_TYPEMASK, in_sub = in.format & SF_FORMAT_SUBMASK;
    if ((major == in_major || is_plain(in_sub)) && writable(major | in_sub, in))
        return in_sub;
    std::vector<int> order;
    switch (in_sub) {
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
        order = {SF_FORMAT_FLOAT, SF_FORMAT_DOUBLE, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16};
        break;
    case SF_FORMAT_PCM_32:
        order = {SF_FORMAT_PCM_32, SF_FORMAT_PCM_24, SF_FORMAT_PCM_16};
        break;
    case SF_FORMAT_PCM_24:
        order = {SF_FORMAT_PCM_24, SF_FORMAT_PCM_32, SF_FORMAT_PCM_16};
        break;
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        order = {SF_FORMAT_PCM_S8, SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16};
        break;
    default:
        order = {SF_FORMAT_PCM_16, SF_FORMAT_PCM_24};
    }
    order.insert(order.end(), {SF_FORMAT_VORBIS, SF_FORMAT_MPEG_LAYER_III});
    for (int sub : order)
        if (writable(major | sub, in))
            return sub;
    int count = 0;
    sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE_COUNT, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        if (sf_command(nullptr, SFC_GET_FORMAT_SUBTYPE, &info, sizeof info) == 0 &&
            writable(major | info.format, in))
            return info.format;
    }
    return 0;
}

uint32_t le32(const unsigned char *p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t be32(const unsigned char *p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

} // namespace

int choose_output_format(const std::string &out_path, const std::string &type, const SF_INFO &in) {
    const std::vector<extension_row> rows = extension_table();
    const std::string ext = type.empty() ? extension_of(out_path) : lower(type);
    if (ext.empty())
        return in.format;
    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](const auto &r) { return r.ext == ext; });
    const bool unwritable =
        std::find(std::begin(k_unwritable), std::end(k_unwritable), ext) != std::end(k_unwritable);
    if (row == rows.end() && type.empty() && !unwritable)
        return in.format;
    if (row == rows.end()) {
        const std::string what = type.empty()
                                     ? display_name(out_path, true) + ": extension '." + ext + "'"
                                     : "--type '" + type + "'";
        throw usage_error(what + " is not a format libsndfile writes; it writes " +
                          extension_list(rows) + " (--type picks one for any file name)");
    }
    // The input's own variant of a shared extension: WAVEX stays WAVEX under ".wav".
    const int in_major = in.format & SF_FORMAT_TYPEMASK;
    int major = row->major;
    for (const auto &r : rows)
        if (r.ext == ext && r.major == in_major)
            major = in_major;
    SF_FORMAT_INFO info{};
    info.format = in_major;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 && info.extension &&
        ext == info.extension)
        major = in_major;
    const int subtype = row->subtype != 0 ? row->subtype : pick_subtype(major, in);
    if (subtype == 0 || !writable(major | subtype, in))
        throw error("cannot write " + display_name(out_path, true) + " as " +
                    format_name(major | (subtype ? subtype : row->subtype)) + " with " +
                    std::to_string(in.channels) + " channels at " + std::to_string(in.samplerate) +
                    " Hz: libsndfile has no such encoding");
    return major | subtype;
}

std::string format_name(int format) {
    SF_FORMAT_INFO major{}, sub{};
    major.format = format & SF_FORMAT_TYPEMASK;
    sub.format = format & SF_FORMAT_SUBMASK;
    std::string s = sf_command(nullptr, SFC_GET_FORMAT_INFO, &major, sizeof major) == 0
                        ? major.name
                        : "format " + std::to_string(major.format);
    s = s.substr(0, s.find(" (")); // "OGG (OGG Container format)": the short name

    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &sub, sizeof sub) == 0)
        s += std::string(" (") + sub.name + ")";
    return s;
}

bool is_lossy(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_VORBIS:
    case SF_FORMAT_OPUS:
    case SF_FORMAT_MPEG_LAYER_I:
    case SF_FORMAT_MPEG_LAYER_II:
    case SF_FORMAT_MPEG_LAYER_III:
        return true;
    default:
        return false;
    }
}

bool is_float(int format) {
    const int sub = format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE;
}

sf_count_t promised_frames(int fd) {
    unsigned char h[65536];
    const ssize_t n = pread(fd, h, sizeof h, 0);
    if (n < 12)
        return -1;
    const size_t len = static_cast<size_t>(n);
    if (std::equal(h, h + 4, "RIFF") && std::equal(h + 8, h + 12, "WAVE")) {
        uint32_t block_align = 0;
        for (size_t at = 12; at + 8 <= len;) {
            const uint32_t size = le32(h + at + 4);
            if (std::equal(h + at, h + at + 4, "fmt ") && at + 22 <= len)
                block_align = h[at + 20] | (h[at + 21] << 8);
            if (std::equal(h + at, h + at + 4, "data")) {
                // Streamed headers leave the length at 0 or all ones.
                if (block_align == 0 || size == 0 || size >= 0x7FFFFFFFu)
                    return -1;
                return size / block_align;
            }
            at += 8 + size + (size & 1);
        }
        return -1;
    }
    if (std::equal(h, h + 4, "FORM") &&
        (std::equal(h + 8, h + 12, "AIFF") || std::equal(h + 8, h + 12, "AIFC"))) {
        for (size_t at = 12; at + 8 <= len;) {
            const uint32_t size = be32(h + at + 4);
            if (std::equal(h + at, h + at + 4, "COMM") && at + 14 <= len)
                return be32(h + at + 10);
            at += 8 + size + (size & 1);
        }
    }
    return -1;
}

} // namespace cli
