// The ffmpeg argument fragment of a profile: a format or codec clause chosen from
// FormatCreator, then one option for each audio and video number that is set. Every option
// ends in one space. The library starts no process itself. Calls must not overlap: no locks.
#include "qxtp.h"

#include "qxtp_state.h"

#include <cstring>

using namespace qxtp;

namespace {

// A creator and the text it stands for in the fragment.
struct creator_entry {
    const char *creator;
    const char *text;
};

// Creators that name a codec rather than a container: their whole leading clause.
constexpr std::array<creator_entry, 5> k_codec_clauses = {{
    {"hevc", "-c:v libx265 "},
    {"mp4", "-c:v libx264 "},
    {"h264", "-c:v libx264 "},
    {"mp3", "-c:a libmp3lame "},
    {"aac", "-c:a aac "},
}};

// Container names people write whose ffmpeg muxer is called otherwise: "-f mkv" is refused.
// The file type keeps the creator ('.mkv'); only the "-f" clause uses the muxer name.
constexpr std::array<creator_entry, 5> k_muxer_aliases = {{
    {"mkv", "matroska"},
    {"ts", "mpegts"},
    {"m4a", "ipod"},
    {"mpg", "mpeg"},
    {"wmv", "asf"},
}};

// The text a table gives the creator (compared exactly), or null when it has none.
template <size_t N>
const char *lookup(const std::array<creator_entry, N> &table, const char *creator) {
    for (const creator_entry &e : table)
        if (std::strcmp(creator, e.creator) == 0)
            return e.text;
    return nullptr;
}

// Appends a formatted clause at used, never past the buffer's end; used then points at the end.
template <typename... Values>
void append(char (&args)[k_args_size], size_t &used, const char *fmt, Values... values) {
    const int n = qx::bounded_format(args + used, k_args_size - used, fmt, values...);
    if (n > 0)
        used += static_cast<size_t>(n);
    if (used > k_args_size - 1)
        used = k_args_size - 1;
}

} // namespace

// MARK: encoder arguments

const char *qxtp_profile_to_ffmpeg_args(int32_t id) {
    profile_slot *slot = slot_in_use(id);
    if (slot == nullptr)
        return (g_err.fail(QX_ERR_NO_SUCH_PROFILE), nullptr);
    char(&args)[k_args_size] = slot->args;
    size_t used = 0;
    args[0] = '\0';

    char creator[k_value_size];
    qx::copy_text(creator, slot->value[k_format_creator]);
    if (const char *clause = lookup(k_codec_clauses, creator)) {
        append(args, used, "%s", clause);
    } else if (is_format_token(creator)) { // anything else gives no clause at all
        const char *muxer = lookup(k_muxer_aliases, creator);
        append(args, used, "-f %s ", muxer != nullptr ? muxer : creator);
    }

    auto number = [&](const char *field) { return qxtp_profile_parsed_uint(id, field); };
    if (uint32_t v = number("AudioBitrate"))
        append(args, used, "-b:a %u ", v);
    if (uint32_t v = number("AudioChannelCount"))
        append(args, used, "-ac %u ", v);
    if (uint32_t v = number("AudioSampleRate"))
        append(args, used, "-ar %u ", v);
    if (uint32_t v = number("AudioBitsPerSample"))
        append(args, used, "-sample_fmt s%u ", v);
    if (uint32_t v = number("VideoBitrate"))
        append(args, used, "-b:v %u ", v);
    const uint32_t width = number("VideoWidth"), height = number("VideoHeight");
    if (width != 0 && height != 0)
        append(args, used, "-s %ux%u ", width, height);
    const uint32_t num = number("VideoFrameRateNumerator");
    const uint32_t den = number("VideoFrameRateDenominator");
    if (num != 0 && den != 0)
        append(args, used, "-r %u/%u ", num, den);

    g_err.clear();
    return args;
}
