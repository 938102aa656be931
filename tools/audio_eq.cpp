// The eq command: equalise an audio file through the library, block by block. libsndfile reads
// and writes the audio; the output keeps the input's container, sample format, rate, channels
// and text tags. 16-bit input goes through the library's 16-bit path, everything else through
// its float path, unless --format picks one.
#include "atomic_output.h"
#include "cli.h"

#include "qxeq.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace cli {

namespace {

// Frames per block: memory stays flat whatever the file's length.
constexpr int32_t k_block_frames = 4096;
// Files of at least this many samples (about three minutes of 44.1 kHz stereo) get a progress
// bar when stderr is a terminal; shorter ones finish before a bar would be seen.
constexpr sf_count_t k_progress_samples = sf_count_t{1} << 24;

struct sndfile_closer {
    SNDFILE *f = nullptr;
    ~sndfile_closer() {
        if (f)
            sf_close(f);
    }
    int close() {
        const int rc = sf_close(f);
        f = nullptr;
        return rc;
    }
};

// The inverse of the library's input scaling (1/32768), rounded and saturated, so a float
// path that changes nothing returns 16-bit samples unchanged.
int16_t to_s16(float x) {
    if (std::isnan(x))
        return 0;
    const float v = x * 32768.0f;
    if (v >= 32767.0f)
        return 32767;
    if (v <= -32768.0f)
        return -32768;
    return static_cast<int16_t>(std::lrintf(v));
}

bool is_16_bit(const SF_INFO &info) {
    return (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
}

// One block of audio between the files and the library, in the processing path's sample type.
// 16-bit files are read and written as 16-bit samples; for any other file the tool converts
// between 16-bit and float itself (libsndfile would store 16-bit values in a float file
// unscaled, and scales float to 16-bit by 32767 rather than the library's 32768).
class block_io {
  public:
    block_io(SNDFILE *in, SNDFILE *out, const SF_INFO &in_info, const SF_INFO &out_info,
             std::string out_name)
        : in_(in), out_(out), channels_(static_cast<size_t>(in_info.channels)),
          in_16_(is_16_bit(in_info)), out_16_(is_16_bit(out_info)), out_name_(std::move(out_name)),
          f_(k_block_frames * channels_), s_(k_block_frames * channels_) {}

    float *f32() { return f_.data(); }
    int16_t *s16() { return s_.data(); }

    // Read up to one block; return the number of frames read, 0 at the end.
    sf_count_t read_f32() { return sf_readf_float(in_, f_.data(), k_block_frames); }
    sf_count_t read_s16() {
        if (in_16_)
            return sf_readf_short(in_, s_.data(), k_block_frames);
        const sf_count_t n = sf_readf_float(in_, f_.data(), k_block_frames);
        for (size_t i = 0; i < samples(n); ++i)
            s_[i] = to_s16(f_[i]);
        return n;
    }

    void write_f32(sf_count_t n) {
        if (!out_16_)
            return check(sf_writef_float(out_, f_.data(), n), n);
        for (size_t i = 0; i < samples(n); ++i)
            s_[i] = to_s16(f_[i]);
        check(sf_writef_short(out_, s_.data(), n), n);
    }
    void write_s16(sf_count_t n) {
        if (out_16_)
            return check(sf_writef_short(out_, s_.data(), n), n);
        for (size_t i = 0; i < samples(n); ++i)
            f_[i] = static_cast<float>(s_[i]) * (1.0f / 32768.0f);
        check(sf_writef_float(out_, f_.data(), n), n);
    }

  private:
    size_t samples(sf_count_t frames) const { return static_cast<size_t>(frames) * channels_; }
    void check(sf_count_t written, sf_count_t n) {
        if (written != n)
            throw error("cannot write " + out_name_ + ": " + sf_strerror(out_));
    }

    SNDFILE *in_, *out_;
    size_t channels_;
    bool in_16_, out_16_;
    std::string out_name_;
    std::vector<float> f_;
    std::vector<int16_t> s_;
};

class progress_bar {
  public:
    progress_bar(sf_count_t frames, int channels)
        : total_(frames),
          shown_(isatty(STDERR_FILENO) && frames > 0 && frames * channels >= k_progress_samples) {}
    ~progress_bar() {
        if (shown_ && percent_ >= 0)
            std::fputs("\r\033[K", stderr);
    }
    void update(sf_count_t done) {
        if (!shown_)
            return;
        const int p = static_cast<int>(done * 100 / total_);
        if (p == percent_)
            return;
        percent_ = p;
        const int filled = p * 40 / 100;
        std::fprintf(stderr, "\rplayback-profile: eq [%.*s%.*s] %3d%%", filled,
                     "########################################", 40 - filled,
                     "........................................", p);
        std::fflush(stderr);
    }

  private:
    sf_count_t total_;
    bool shown_;
    int percent_ = -1;
};

} // namespace

void run_eq(const eq_options &o) {
    // Settings first: a bad preset or gain is reported before any file is opened.
    if (!o.preset.empty())
        apply_preset(o.preset);
    for (const auto &g : o.gains)
        apply_gain(g);

    SF_INFO info{};
    sndfile_closer in;
    in.f = sf_open_fd(open_input(o.in), SFM_READ, &info, SF_TRUE);
    if (!in.f)
        throw error("cannot read " + display_name(o.in) + ": not an audio file libsndfile reads (" +
                    sf_strerror(nullptr) + ")");
    if (info.channels < 1 || info.channels > 8)
        throw error(display_name(o.in) + " has " + std::to_string(info.channels) +
                    " channels; the equaliser takes 1 to 8");
    if (qxeq_set_sample_rate(info.samplerate) != QX_OK)
        throw error(display_name(o.in) + ": sample rate " + std::to_string(info.samplerate) +
                    " Hz is outside 1..384000 (" + qxeq_last_error() + ")");
    const bool s16 = o.format == "s16" || (o.format.empty() && is_16_bit(info));

    atomic_output out(o.out);
    SF_INFO out_info{};
    out_info.samplerate = info.samplerate;
    out_info.channels = info.channels;
    out_info.format = info.format;
    sndfile_closer w;
    w.f = sf_open_fd(out.fd(), SFM_WRITE, &out_info, SF_FALSE);
    if (!w.f)
        throw error("cannot write " + display_name(o.out, true) + " in the input's format (" +
                    sf_strerror(nullptr) + ")");
    // Boosted float samples beyond full scale clip in an integer file instead of wrapping.
    sf_command(w.f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    for (int s = SF_STR_FIRST; s <= SF_STR_LAST; ++s)
        if (const char *text = sf_get_string(in.f, s))
            sf_set_string(w.f, s, text);

    block_io io(in.f, w.f, info, out_info, display_name(o.out, true));
    progress_bar bar(info.frames, info.channels);
    sf_count_t done = 0;
    for (sf_count_t n; (n = s16 ? io.read_s16() : io.read_f32()) > 0;) {
        const int32_t frames = static_cast<int32_t>(n);
        const int32_t rc = s16 ? qxeq_process_s16(io.s16(), frames, info.channels)
                               : qxeq_process_f32(io.f32(), frames, info.channels);
        if (rc != QX_OK)
            throw error(std::string("equaliser: ") + qxeq_last_error());
        if (s16)
            io.write_s16(n);
        else
            io.write_f32(n);
        done += n;
        bar.update(done);
    }
    if (sf_error(in.f) != SF_ERR_NO_ERROR)
        throw error("cannot read " + display_name(o.in) + ": " + sf_strerror(in.f));
    if (w.close() != 0)
        throw error("cannot write " + display_name(o.out, true) + ": " + sf_strerror(nullptr));
    out.commit();
}

} // namespace cli
