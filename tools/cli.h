// The playback-profile command-line host: what each command takes, and the one error type the
// commands throw. main.cpp parses the command line with CLI11 into these structs; each command
// lives in a file of its own and talks to the library only through its public headers.
#ifndef QX_TOOLS_CLI_H
#define QX_TOOLS_CLI_H

#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// A failure the user can act on. main() prints it as one line on stderr, prefixed with the
// program name, and exits with status 1.
struct error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command line the tool cannot act on (an unknown preset, a band that does not exist, a
// value out of range): printed the same way, exit status 2 like every other usage error.
struct usage_error : error {
    using error::error;
};

// A path quoted for messages; "-" is named "standard input", or "standard output" for output.
std::string display_name(const std::string &path, bool output = false);

// MARK: equaliser settings (eq_settings.cpp)

// Select a preset by name; an unknown name is a usage error.
void apply_preset(const std::string &name);

// Apply one "BAND=DB" setting. BAND is a band index 0..7 or a band's centre frequency in Hz
// ("1500=-3"); DB a finite number of dB. A gain outside +-24 dB is clamped by the library;
// the tool warns with the value the band got.
void apply_gain(const std::string &setting);

// Print one warning of the tool's own: "playback-profile: warning: TEXT".
void warn(const std::string &text);

// --preamp's value in dB: 0 for "", automatic_preamp_db of the settings in force for "auto",
// else a finite number within +-60; anything else is a usage
// error.
double preamp_gain_db(const std::string &text);
// The preamp that keeps a full-scale signal from clipping under settings whose response peaks
// at peak_db (qxeq_peak_db): 0 when the peak is not above 0 dB, else the negated peak less the
// 0.01 dB by which the peak may fall short of the true maximum.
double automatic_preamp_db(double peak_db);

// MARK: commands

struct eq_options {
    std::string in, out;
    std::string preset;
    std::vector<std::string> gains;
    std::string format;       // "", "f32" or "s16"
    std::string type;         // --type: an extension naming the output format, or "" for none
    int quality = -1;         // --quality 0..10 for lossy outputs, -1 for the default
    std::string bitrate_mode; // --bitrate-mode: "", "constant", "average" or "variable"
    std::string preamp;       // --preamp: a gain in dB before the equaliser, "" for none
};
void run_eq(const eq_options &o);

struct response_options {
    std::vector<std::string> presets;
    std::vector<std::string> gains;
    int rate = 44100;
    std::string svg; // empty: print a table
    int points = 0;  // 0: the default for the table or the plot
};
void run_response(const response_options &o);

void run_presets();

struct profile_options {
    std::string file;              // input profile, "-" for standard input
    std::string output;            // new, fmt: where to write, "-" for standard output
    std::vector<std::string> sets; // new: "Field=Value"
    bool force = false;            // fmt: write even when the library's form loses something
    bool args_only = false;        // args: the argument line only
    bool type_only = false;        // args: the file extension only
};
void run_profile_new(const profile_options &o);
void run_profile_show(const profile_options &o);
int run_profile_validate(const profile_options &o); // exit status: 0 valid, 1 invalid
int run_profile_args(const profile_options &o);     // 1 for an invalid profile
int run_profile_fmt(const profile_options &o);      // 1 when it would lose something
// The fields whose values never reach the ffmpeg arguments, comma-separated.
std::string fields_outside_args();

} // namespace cli

#endif // QX_TOOLS_CLI_H
