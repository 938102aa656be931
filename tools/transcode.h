// The transcode command and the pieces it is built from: finding and running ffmpeg and
// ffprobe as child processes (never through a shell), the text rules of ffmpeg's filter graphs
// and of a POSIX shell, and the progress display.
#ifndef QX_TOOLS_TRANSCODE_H
#define QX_TOOLS_TRANSCODE_H

#include <csignal>
#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace cli {

struct transcode_options {
    std::string in, out, profile;
    std::string preset;
    std::vector<std::string> gains;
    std::string preamp; // "", a number of dB or "auto"
    std::string ffmpeg; // "", a name looked up in PATH, or a path
    bool dry_run = false;
    bool overwrite = false;
};

// Adds the transcode subcommand and its options to app, filling o when it parses.
CLI::App *add_transcode_command(CLI::App &app, transcode_options &o);
void run_transcode(const transcode_options &o);

// MARK: profile loading (profile_cmd.cpp)

// Load a profile file into the library's store and check every field. An invalid profile is
// listed on stderr as 'profile validate' lists it, and cli::error is thrown; so is a file
// that is not a profile. The caller destroys the returned id.
int32_t load_valid_profile(const std::string &path);

// MARK: text rules (ffmpeg_text.cpp)

// A word a POSIX shell reads back as the exact text: left bare when it holds only characters
// no shell treats specially, else in single quotes.
std::string shell_quote(const std::string &word);
// A command line for sh: env assignments (NAME=value, the value quoted), then the words.
std::string shell_command(const std::vector<std::string> &env,
                          const std::vector<std::string> &argv);

// A value inside a filter's option list, escaped for both levels an ffmpeg filter graph
// parses: the option list (':' separates options) and then the graph ('[]' ',' ';').
std::string filter_value(const std::string &value);

// The library's argument fragment ("-c:a aac -b:a 128000 ") as separate arguments.
std::vector<std::string> split_fragment(const std::string &fragment);

// MARK: child processes (ffmpeg_run.cpp)

// The program a name or path stands for, as execve needs it: a name without '/' is looked up
// in PATH. Empty when there is no such executable file.
std::string find_program(const std::string &name);

struct capture_result {
    int status = -1; // exit status, or 128 + signal
    std::string out, err;
};
// Run a program to its end and collect its output (for ffprobe and ffmpeg's listings).
capture_result capture(const std::vector<std::string> &argv);

struct progress_report {
    double out_seconds = -1; // media time written so far; -1 while unknown
    double speed = -1;       // media seconds per wall second; -1 while unknown
    bool end = false;
};

// While one lives, SIGINT, SIGTERM and SIGHUP no longer end the program: they are noted and
// passed on to the ffmpeg run_ffmpeg is running, which then stops. The owner cleans up and
// ends itself with die_by_signal(received()).
class interrupt_guard {
  public:
    interrupt_guard();
    ~interrupt_guard();
    interrupt_guard(const interrupt_guard &) = delete;
    interrupt_guard &operator=(const interrupt_guard &) = delete;
    int received() const; // the last such signal, or 0

  private:
    struct sigaction old_[3];
};

struct ffmpeg_result {
    int status = -1;        // ffmpeg's exit status, or 128 + the signal that ended it
    std::string error_tail; // ffmpeg's last lines on stderr
};

// Run ffmpeg with env added to this program's environment, its machine-readable progress on
// descriptor 3 (argv must carry "-progress pipe:3") handed to on_progress, which is no longer
// called once an interrupting signal came. ffmpeg dies with this program.
ffmpeg_result run_ffmpeg(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                         const std::function<void(const progress_report &)> &on_progress);

// Ends the program by the signal run_ffmpeg reported, as if it had not been caught.
[[noreturn]] void die_by_signal(int sig);

// MARK: progress display (transcode_progress.cpp)

// A bar on a terminal (percent of the duration, speed, time left), redrawn in place; plain
// lines at each tenth of the way when stderr is something else.
class progress_display {
  public:
    explicit progress_display(double duration_seconds);
    ~progress_display(); // clears the bar's line
    progress_display(const progress_display &) = delete;
    progress_display &operator=(const progress_display &) = delete;
    void update(const progress_report &r);

  private:
    double duration_;
    bool tty_;
    bool drawn_ = false;
    int last_step_ = -1;
};

} // namespace cli

#endif // QX_TOOLS_TRANSCODE_H
