// How far a transcode has come, from ffmpeg's progress reports: a bar redrawn in place on a
// terminal, or a plain line at each tenth of the way for logs and pipes.
#include "transcode.h"

#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace cli {

namespace {

std::string clock_text(double seconds) {
    const long s = std::lround(seconds);
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

} // namespace

progress_display::progress_display(double duration_seconds)
    : duration_(duration_seconds), tty_(isatty(STDERR_FILENO) != 0) {}

progress_display::~progress_display() {
    if (drawn_)
        std::fputs("\r\033[K", stderr);
}

void progress_display::update(const progress_report &r) {
    if (r.out_seconds < 0)
        return;
    const bool known = duration_ > 0;
    // The last packet may end a little before the container's duration.
    const double fraction = !known ? 0.0 : r.end ? 1.0 : std::min(1.0, r.out_seconds / duration_);
    const int percent = static_cast<int>(fraction * 100.0);
    std::string speed = "", left = "";
    if (r.speed > 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, " %.2fx", r.speed);
        speed = buf;
        if (known)
            left = " " + clock_text((duration_ - r.out_seconds) / r.speed) + " left";
    }
    if (tty_) {
        const int filled = percent * 30 / 100;
        if (known)
            std::fprintf(stderr, "\r\033[Kplayback-profile: transcode [%.*s%.*s] %3d%%%s%s", filled,
                         "##############################", 30 - filled,
                         "..............................", percent, speed.c_str(), left.c_str());
        else
            std::fprintf(stderr, "\r\033[Kplayback-profile: transcode %s%s",
                         clock_text(r.out_seconds).c_str(), speed.c_str());
        std::fflush(stderr);
        drawn_ = true;
        return;
    }
    // Without a duration there is no tenth to count: the start and the end only.
    const int step = known ? percent / 10 : (r.end ? 10 : 0);
    if (step == last_step_ || (r.end && !known && last_step_ == 10))
        return;
    last_step_ = step;
    if (known)
        std::fprintf(stderr, "playback-profile: transcode %d%% (%s of %s)%s%s\n", percent,
                     clock_text(r.out_seconds).c_str(), clock_text(duration_).c_str(),
                     speed.c_str(), left.c_str());
    else
        std::fprintf(stderr, "playback-profile: transcode %s%s\n",
                     clock_text(r.out_seconds).c_str(), speed.c_str());
}

} // namespace cli
