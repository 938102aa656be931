// The eq command: equalise an audio file through the library, block by block, reading the next
// blocks and writing the last ones while it equalises (block_pipeline.h). libsndfile reads
// and writes the audio; the output's format follows its extension or --type (else the input's),
// and it keeps the input's rate, channels, channel layout and text tags. 16-bit input goes
// through the library's 16-bit path, everything else through its float path, unless --format
// picks one. What the file itself cannot show is said on stderr: an input that ends before its
// header says, samples that clip or are not finite, a layout the output cannot record.
#include "atomic_output.h"
#include "audio_format.h"
#include "block_pipeline.h"
#include "cli.h"
#include "text.h"

#include "qxeq.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace cli {

namespace {

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

// libsndfile writes through these callbacks rather than the descriptor itself, so that a
// failed write is explained by its errno ("No space left on device"), not a summary text.
struct fd_stream {
    int fd;
    int err = 0; // errno of the first failed call
};

sf_count_t fd_length(void *p) {
    struct stat st;
    return fstat(static_cast<fd_stream *>(p)->fd, &st) == 0 ? st.st_size : -1;
}
sf_count_t fd_seek(sf_count_t offset, int whence, void *p) {
    return lseek(static_cast<fd_stream *>(p)->fd, offset, whence);
}
sf_count_t fd_tell(void *p) { return lseek(static_cast<fd_stream *>(p)->fd, 0, SEEK_CUR); }
sf_count_t fd_read(void *data, sf_count_t n, void *p) {
    auto *s = static_cast<fd_stream *>(p);
    sf_count_t done = 0;
    while (done < n) {
        const ssize_t k = ::read(s->fd, static_cast<char *>(data) + done, n - done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            if (k < 0 && s->err == 0)
                s->err = errno;
            break;
        }
        done += k;
    }
    return done;
}
sf_count_t fd_write(const void *data, sf_count_t n, void *p) {
    auto *s = static_cast<fd_stream *>(p);
    sf_count_t done = 0;
    while (done < n) {
        const ssize_t k = ::write(s->fd, static_cast<const char *>(data) + done, n - done);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            if (s->err == 0)
                s->err = k < 0 ? errno : ENOSPC;
            break;
        }
        done += k;
    }
    return done;
}
SF_VIRTUAL_IO k_fd_io = {fd_length, fd_seek, fd_read, fd_write, fd_tell};

// What the samples did on the way, for the warnings after the last block.
struct sample_counts {
    uint64_t samples = 0;
    uint64_t nonfinite_in = 0;  // NaN or infinity read from a float file
    uint64_t nonfinite_out = 0; // results beyond the float range
    uint64_t clipped = 0;       // results beyond what the output holds
    double peak = 0.0;          // largest finite result, 1.0 = full scale
};

// One slot of the ring: a block in the processing path's sample type, and in the other where
// a file holds the other.
struct block {
    explicit block(size_t samples) : f(samples), s(samples) {}
    std::vector<float> f;
    std::vector<int16_t> s;
};

// A float's bits: positive floats order as these integers do, so that a block's peak and tests
// are integer operations that vectorise.
int32_t float_bits(float x) {
    int32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}
// The bits of |x|: infinity and NaN above every finite value.
uint32_t magnitude_bits(float x) { return static_cast<uint32_t>(float_bits(x)) & 0x7FFFFFFFu; }
constexpr uint32_t k_inf_bits = 0x7F800000u; // at or above: not finite
constexpr uint32_t k_one_bits = 0x3F800000u; // 1.0f

size_t count_nonfinite(const float *x, size_t n) {
    size_t bad = 0;
    for (size_t i = 0; i < n; ++i)
        bad += magnitude_bits(x[i]) >= k_inf_bits;
    return bad;
}

// Audio between the files and the library, block by block, in three parts that run on three
// threads: reading (read_*), the work around the equaliser (gain_*, finish_*), and writing. Each
// part keeps counts of its own. 16-bit files are read and written as 16-bit samples; for any
// other file the tool converts between 16-bit and float itself (libsndfile would store 16-bit
// values in a float file unscaled, and scales float to 16-bit by 32767 rather than the
// library's 32768). No NaN or infinity ever reaches an integer or lossy encoder.
class block_io {
  public:
    block_io(SNDFILE *in, SNDFILE *out, const SF_INFO &in_info, const SF_INFO &out_info,
             std::string out_name, const fd_stream &out_stream)
        : in_(in), out_(out), channels_(static_cast<size_t>(in_info.channels)),
          in_16_(is_16_bit(in_info)), out_16_(is_16_bit(out_info)),
          out_float_(is_float(out_info.format)), out_lossy_(is_lossy(out_info.format)),
          out_name_(std::move(out_name)), out_stream_(out_stream) {}

    // The counts of all three parts, once the last block is written.
    sample_counts counts() const {
        sample_counts c = out_counts_;
        c.nonfinite_in = nonfinite_in_;
        return c;
    }

    // MARK: reading (reader thread)

    // Read up to one block; return the number of frames read, 0 at the end.
    sf_count_t read_f32(block &b) {
        const sf_count_t n = sf_readf_float(in_, b.f.data(), k_block_frames);
        nonfinite_in_ += count_nonfinite(b.f.data(), samples(n));
        return n;
    }
    sf_count_t read_s16(block &b) {
        if (in_16_)
            return sf_readf_short(in_, b.s.data(), k_block_frames);
        const sf_count_t n = read_f32(b);
        for (size_t i = 0; i < samples(n); ++i)
            b.s[i] = to_s16(b.f[i]);
        return n;
    }

    // MARK: around the equaliser (calling thread)

    // The preamp: a plain gain before the equaliser; 1.0 leaves every bit as it is.
    void gain_f32(block &b, sf_count_t n, float gain) {
        if (gain != 1.0f)
            for (size_t i = 0; i < samples(n); ++i)
                b.f[i] *= gain;
    }
    void gain_s16(block &b, sf_count_t n, double gain) {
        if (gain != 1.0)
            for (size_t i = 0; i < samples(n); ++i)
                b.s[i] = static_cast<int16_t>(
                    std::clamp(std::lrint(b.s[i] * gain), long{-32768}, long{32767}));
    }

    // Count what the equaliser gave and make the block what the output takes.
    // count_clips: false when the equaliser and preamp leave the samples as they were read.
    void finish_f32(block &b, sf_count_t n, bool count_clips) {
        float *f = b.f.data();
        const size_t len = samples(n);
        // One pass of integer tests over a block of finite samples, the usual case.
        uint32_t peak = 0;
        size_t bad = 0, over = 0, over_16 = 0;
        for (size_t i = 0; i < len; ++i) {
            const int32_t bits = float_bits(f[i]);
            const uint32_t m = static_cast<uint32_t>(bits) & 0x7FFFFFFFu;
            peak = std::max(peak, m);
            bad += m >= k_inf_bits;
            over += m > k_one_bits;
            // x * 32768 > 32767: the scaling is exact, so x > 32767 / 32768, and positive
            // floats order as their bits do.
            over_16 += bits > s16_top_bits_ || m > k_one_bits;
        }
        if (bad > 0) {
            finish_f32_nonfinite(b, n, count_clips);
        } else {
            float top;
            std::memcpy(&top, &peak, sizeof top);
            out_counts_.peak = std::max(out_counts_.peak, static_cast<double>(top));
            // 16-bit output saturates where to_s16 does; anything else holds up to full scale.
            out_counts_.clipped += count_clips ? (out_16_ ? over_16 : over) : 0;
            // Lossy encoders model the signal's energy: values far beyond full scale overflow
            // inside them (LAME aborts), so they get the clip a decoder would apply anyway.
            if (out_lossy_ && over > 0)
                for (size_t i = 0; i < len; ++i)
                    if (std::fabs(f[i]) > 1.0f)
                        f[i] = std::copysign(1.0f, f[i]);
        }
        out_counts_.samples += len;
        if (out_16_) {
            for (size_t i = 0; i < len; ++i)
                b.s[i] = to_s16(f[i]);
        }
    }
    void finish_s16(block &b, sf_count_t n, bool count_clips) {
        const size_t len = samples(n);
        // The library's 16-bit results saturate at +-32767.
        int peak = 0;
        size_t clipped = 0;
        for (size_t i = 0; i < len; ++i) {
            const int v = std::abs(static_cast<int>(b.s[i]));
            peak = std::max(peak, v);
            clipped += v >= 32767;
        }
        out_counts_.peak = std::max(out_counts_.peak, peak / 32768.0);
        out_counts_.clipped += count_clips ? clipped : 0;
        out_counts_.samples += len;
        if (!out_16_) {
            for (size_t i = 0; i < len; ++i)
                b.f[i] = static_cast<float>(b.s[i]) * (1.0f / 32768.0f);
        }
    }

    // MARK: writing (writer thread)

    void write(const block &b, sf_count_t n) {
        // libsndfile's Vorbis encoder gives other bits for other lengths of write, so lossy
        // outputs are written in the pieces the tool has always written.
        const sf_count_t step = out_lossy_ ? k_lossy_write_frames : n;
        for (sf_count_t at = 0; at < n; at += step) {
            const sf_count_t len = std::min(step, n - at);
            const size_t first = samples(at);
            const sf_count_t written = out_16_ ? sf_writef_short(out_, b.s.data() + first, len)
                                               : sf_writef_float(out_, b.f.data() + first, len);
            if (written != len)
                throw error("cannot write " + out_name_ + ": " +
                            (out_stream_.err ? std::strerror(out_stream_.err) : sf_strerror(out_)));
        }
    }

  private:
    static constexpr sf_count_t k_lossy_write_frames = 4096;
    static_assert(k_block_frames % k_lossy_write_frames == 0, "blocks split into whole pieces");

    size_t samples(sf_count_t frames) const { return static_cast<size_t>(frames) * channels_; }

    // A block holding NaN or infinity, sample by sample.
    void finish_f32_nonfinite(block &b, sf_count_t n, bool count_clips) {
        for (size_t i = 0; i < samples(n); ++i) {
            const float x = b.f[i];
            if (!std::isfinite(x)) {
                ++out_counts_.nonfinite_out;
                if (!out_float_ && !out_16_)
                    b.f[i] = std::isnan(x) ? 0.0f : std::copysign(1.0f, x);
                continue;
            }
            const double a = std::fabs(static_cast<double>(x));
            out_counts_.peak = std::max(out_counts_.peak, a);
            out_counts_.clipped +=
                count_clips && (out_16_ ? x * 32768.0f > 32767.0f || a > 1.0 : a > 1.0);
            if (out_lossy_ && a > 1.0)
                b.f[i] = std::copysign(1.0f, x);
        }
    }

    SNDFILE *in_, *out_;
    size_t channels_;
    bool in_16_, out_16_, out_float_, out_lossy_;
    std::string out_name_;
    const fd_stream &out_stream_;
    const int32_t s16_top_bits_ = float_bits(32767.0f / 32768.0f);
    uint64_t nonfinite_in_ = 0; // reader's
    sample_counts out_counts_;  // the calling thread's
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

namespace {

std::string count_text(uint64_t n) { return std::to_string(n); }

std::string db_text(double db) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%+.1f", db);
    return buf;
}

void report(const eq_options &o, const sample_counts &c, bool s16_path, bool float_out) {
    const std::string out = display_name(o.out, true);
    if (c.nonfinite_in > 0)
        warn(display_name(o.in) + ": " + count_text(c.nonfinite_in) +
             " samples are not finite numbers (NaN or infinity); the equaliser writes them as "
             "silence");
    if (c.nonfinite_out > 0)
        warn(out + ": " + count_text(c.nonfinite_out) +
             " samples went beyond the float range after equalising; " +
             (float_out ? "they are stored as infinity" : "they are stored at full scale"));
    if (c.clipped == 0)
        return;
    const double peak_db = 20.0 * std::log10(c.peak);
    // Round the suggestion up to half a decibel, so that following it leaves no clip.
    // the 16-bit path saturates inside the library: there the response's own peak is the need
    const double need = s16_path ? qxeq_peak_db(nullptr) : peak_db;
    const double hint = std::min(std::ceil(std::max(need, 0.5) * 2.0) / 2.0, 60.0);
    std::string what = count_text(c.clipped) + " of " + count_text(c.samples) + " samples " +
                       (float_out && !s16_path ? "exceed full scale" : "clipped");
    what += s16_path ? " (peak at full scale: the 16-bit path saturates there)"
                     : " (peak " + db_text(peak_db) + " dBFS)";
    warn(out + ": " + what + "; lower the level with --preamp " + db_text(-hint) +
         " (or --preamp auto)");
}

} // namespace

void run_eq(const eq_options &o) {
    // Settings first: a bad preset or gain is reported before any file is opened.
    if (!o.preset.empty())
        apply_preset(o.preset);
    for (const auto &g : o.gains)
        apply_gain(g);

    SF_INFO info{};
    sndfile_closer in;
    const int in_fd = open_input(o.in);
    const sf_count_t promised = promised_frames(in_fd);
    in.f = sf_open_fd(in_fd, SFM_READ, &info, SF_TRUE);
    if (!in.f)
        throw error("cannot read " + display_name(o.in) + ": not an audio file libsndfile reads (" +
                    sf_strerror(nullptr) + ")");
    if (info.channels < 1 || info.channels > 8)
        throw error(display_name(o.in) + " has " + std::to_string(info.channels) +
                    " channels; the equaliser takes 1 to 8");
    const int32_t rate_rc = qxeq_set_sample_rate(info.samplerate);
    if (rate_rc != QX_OK)
        throw error(display_name(o.in) + ": its sample rate " + std::to_string(info.samplerate) +
                    " Hz is outside the equaliser's 1 to 384000 Hz (" + status_name(rate_rc) + ")");
    const bool s16 = o.format == "s16" || (o.format.empty() && is_16_bit(info));
    // Read once the equaliser has its rate and gains: a level taken from the response (the
    // headroom the settings need) belongs here, before anything is written.
    const double preamp_db = preamp_gain_db(o.preamp);

    SF_INFO out_info{};
    out_info.samplerate = info.samplerate;
    out_info.channels = info.channels;
    out_info.format = choose_output_format(o.out, o.type, info);
    const bool lossy = is_lossy(out_info.format);
    if (!lossy && (o.quality >= 0 || !o.bitrate_mode.empty()))
        warn("--quality and --bitrate-mode set lossy encoders (MP3, Vorbis, Opus) only; " +
             display_name(o.out, true) + " is " + format_name(out_info.format));

    atomic_output out(o.out);
    fd_stream stream{out.fd()};
    sndfile_closer w;
    w.f = sf_open_virtual(&k_fd_io, SFM_WRITE, &out_info, &stream);
    if (!w.f)
        throw error(
            "cannot write " + display_name(o.out, true) + " as " + format_name(out_info.format) +
            " at " + std::to_string(info.samplerate) + " Hz with " + std::to_string(info.channels) +
            " channels: " + (stream.err ? std::strerror(stream.err) : sf_strerror(nullptr)));
    // Boosted float samples beyond full scale clip in an integer file instead of wrapping.
    sf_command(w.f, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (lossy) {
        // libsndfile's level runs from 0 (best) to 1 (smallest).
        double level = (10 - (o.quality >= 0 ? o.quality : 10)) / 10.0;
        sf_command(w.f, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level);
        const std::string mode_name = o.bitrate_mode.empty() ? "variable" : o.bitrate_mode;
        int mode = mode_name == "constant"  ? SF_BITRATE_MODE_CONSTANT
                   : mode_name == "average" ? SF_BITRATE_MODE_AVERAGE
                                            : SF_BITRATE_MODE_VARIABLE;
        if (sf_command(w.f, SFC_SET_BITRATE_MODE, &mode, sizeof mode) != SF_TRUE &&
            !o.bitrate_mode.empty())
            throw usage_error("--bitrate-mode " + o.bitrate_mode + ": the " +
                              format_name(out_info.format) + " encoder has no such mode");
    }
    std::vector<int> layout(static_cast<size_t>(info.channels));
    const int layout_bytes = static_cast<int>(layout.size() * sizeof(int));
    if (sf_command(in.f, SFC_GET_CHANNEL_MAP_INFO, layout.data(), layout_bytes) == SF_TRUE &&
        sf_command(w.f, SFC_SET_CHANNEL_MAP_INFO, layout.data(), layout_bytes) != SF_TRUE)
        warn(display_name(o.out, true) + ": " + format_name(out_info.format) +
             " cannot record the input's channel layout; the channels keep their order");
    for (int s = SF_STR_FIRST; s <= SF_STR_LAST; ++s)
        if (const char *text = sf_get_string(in.f, s))
            sf_set_string(w.f, s, text);

    const bool changes = !qxeq_is_bypassed() || preamp_db != 0.0;
    const double gain = std::pow(10.0, preamp_db / 20.0);
    block_io io(in.f, w.f, info, out_info, display_name(o.out, true), stream);
    progress_bar bar(info.frames, info.channels);
    std::vector<block> ring(k_ring_blocks,
                            block(k_block_frames * static_cast<size_t>(info.channels)));
    sf_count_t done = 0;
    pipeline_stages stages;
    stages.read = [&](size_t slot) {
        return static_cast<size_t>(s16 ? io.read_s16(ring[slot]) : io.read_f32(ring[slot]));
    };
    stages.process = [&](size_t slot, size_t frames) {
        block &b = ring[slot];
        const auto n = static_cast<sf_count_t>(frames);
        if (s16)
            io.gain_s16(b, n, gain);
        else
            io.gain_f32(b, n, static_cast<float>(gain));
        const int32_t rc =
            s16 ? qxeq_process_s16(b.s.data(), static_cast<int32_t>(n), info.channels)
                : qxeq_process_f32(b.f.data(), static_cast<int32_t>(n), info.channels);
        if (rc != QX_OK)
            throw error("the equaliser refused a block of " + std::to_string(n) + " frames (" +
                        status_name(rc) + ")");
        if (s16)
            io.finish_s16(b, n, changes);
        else
            io.finish_f32(b, n, changes || !is_float(out_info.format));
        done += n;
        bar.update(done);
    };
    stages.write = [&](size_t slot, size_t frames) {
        io.write(ring[slot], static_cast<sf_count_t>(frames));
    };
    run_pipeline(ring.size(), stages);
    // A damaged or cut file: what could be read is kept, and said so.
    const sf_count_t expected =
        std::max(promised, info.frames == SF_COUNT_MAX ? sf_count_t{-1} : info.frames);
    if (sf_error(in.f) != SF_ERR_NO_ERROR) {
        if (done == 0)
            throw error("cannot read " + display_name(o.in) + ": " + sf_strerror(in.f));
        warn(display_name(o.in) + " is damaged or cut short: reading stopped after frame " +
             std::to_string(done) + (expected > 0 ? " of " + std::to_string(expected) : "") + " (" +
             sf_strerror(in.f) + "); the frames before it were equalised");
    } else if (expected > done) {
        warn(display_name(o.in) + " ends early: its header promises " + std::to_string(expected) +
             " frames, the file holds " + std::to_string(done) + "; those were equalised");
    }
    if (w.close() != 0)
        throw error("cannot write " + display_name(o.out, true) + ": " +
                    (stream.err ? std::strerror(stream.err) : sf_strerror(nullptr)));
    out.commit();
    report(o, io.counts(), s16, is_float(out_info.format));
}

} // namespace cli
