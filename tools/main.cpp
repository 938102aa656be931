// playback-profile: equalise audio files, plot the equaliser's response and manage transcode
// profiles from the command line, through the library's public interface only. This file sets
// up the commands with CLI11 and turns failures into one line on stderr and an exit status:
// 0 success, 1 a failure the message explains, 2 a command line that does not parse.
#include "cli.h"
#include "fit_cmd.h"
#include "transcode.h"

#include "qxeq.h"
#include "qxtp.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

namespace {

std::string preset_list() {
    std::string s = "Presets:";
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxeq_preset_count()); ++i)
        s += std::string(i % 4 == 0 ? "\n  " : " ") + qxeq_preset_name(i);
    return s + "\nBands: 0..7, or their centre frequencies 400 620 960 1500 2400 3700 6200 9600.";
}

std::string field_list() {
    std::string s = "Fields (type):";
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxtp_profile_field_count()); ++i)
        s += std::string(i % 3 == 0 ? "\n  " : "  ") + qxtp_profile_field_name(i) + " (" +
             qxtp_profile_field_type(i) + ")";
    return s;
}

// An option that may be repeated, one value per occurrence, so that it never swallows the
// positional arguments after it.
template <class T>
CLI::Option *repeated(CLI::App *app, const std::string &name, T &values, const std::string &help) {
    return app->add_option(name, values, help)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
}

} // namespace

int main(int argc, char **argv) {
    CLI::App app{"Equalise audio files, plot the equaliser's response and manage transcode "
                 "profiles.",
                 "playback-profile"};
    app.set_version_flag("--version", std::string("playback-profile ") + QX_VERSION);
    app.failure_message([](const CLI::App *, const CLI::Error &e) {
        return std::string("playback-profile: ") + e.what() + " (see --help)\n";
    });

    cli::eq_options eq;
    auto *eq_cmd = app.add_subcommand("eq", "Equalise an audio file (WAV, FLAC, AIFF and the "
                                            "other formats libsndfile reads; 1 to 8 channels).");
    eq_cmd->add_option("IN", eq.in, "input audio file, - for standard input")->required();
    eq_cmd
        ->add_option("OUT", eq.out,
                     "output file, - for standard output; its extension picks the format "
                     "(.wav, .flac, .mp3, .ogg, .opus, ...), else it keeps the input's; rate "
                     "and channels are the input's")
        ->required();
    eq_cmd->add_option("--type", eq.type,
                       "output format as an extension (flac, wav, mp3, ...), whatever OUT's name");
    eq_cmd
        ->add_option("--quality", eq.quality,
                     "lossy outputs (MP3, Vorbis, Opus): 0 smallest .. 10 best (default 10)")
        ->check(CLI::Range(0, 10));
    eq_cmd
        ->add_option("--bitrate-mode", eq.bitrate_mode,
                     "lossy outputs: constant, average or variable (default variable where "
                     "the encoder has it)")
        ->check(CLI::IsMember({"constant", "average", "variable"}));
    eq_cmd
        ->add_option("--preamp", eq.preamp,
                     "gain in dB applied before the equaliser, e.g. -6 for headroom, or "
                     "auto: the negated peak of the response of the settings in force, with "
                     "0.01 dB to spare (0 when it does not rise above 0 dB) (default 0)")
        ->type_name("DB|auto");
    auto *eq_preset = eq_cmd->add_option("--preset", eq.preset, "preset name, e.g. PS_rock");
    repeated(eq_cmd, "--gain", eq.gains, "set a band's gain, BAND=DB (repeatable)")
        ->type_name("BAND=DB")
        ->excludes(eq_preset);
    eq_cmd
        ->add_option("--format", eq.format,
                     "processing path: s16 (the 16-bit path) or f32 (the float path); by "
                     "default s16 for 16-bit input and f32 for everything else")
        ->check(CLI::IsMember({"f32", "s16"}));
    eq_cmd->footer(preset_list);

    cli::response_options resp;
    auto *resp_cmd =
        app.add_subcommand("response", "Print the equaliser's response in dB, or plot it as SVG.");
    auto *resp_preset = repeated(resp_cmd, "--preset", resp.presets,
                                 "preset to show; repeat to compare presets in one plot");
    repeated(resp_cmd, "--gain", resp.gains, "set a band's gain, BAND=DB (repeatable)")
        ->type_name("BAND=DB")
        ->excludes(resp_preset);
    resp_cmd->add_option("--rate", resp.rate, "sample rate in Hz, 1..384000")
        ->capture_default_str();
    resp_cmd
        ->add_option("--svg", resp.svg,
                     "write an SVG plot to FILE (- for standard output) "
                     "instead of printing a table")
        ->type_name("FILE");
    resp_cmd
        ->add_option("--points", resp.points,
                     "number of log-spaced frequencies (default 31 in a table, 400 in a plot)")
        ->check(CLI::Range(2, 100000));
    resp_cmd->footer(preset_list);

    app.add_subcommand("presets", "List the sixteen presets with their band gains.");

    cli::fit_options fit;
    auto *fit_cmd = app.add_subcommand(
        "fit", "Fit the eight gains to a target or correction curve and print them as eq "
               "arguments, with the level, the RMS shape error and the automatic preamp.");
    fit_cmd
        ->add_option("TARGET", fit.target,
                     "target curve, - for standard input: a GraphicEQ line, a ParametricEQ "
                     "filter list, a CSV table with a header, or two columns of Hz and dB")
        ->required();
    fit_cmd->add_option("--rate", fit.rate, "sample rate in Hz, 1..384000")->capture_default_str();
    fit_cmd
        ->add_option("--smoothness", fit.smoothness,
                     "weight of the penalty on large gains; 0 gives the pure least squares")
        ->capture_default_str();
    fit_cmd->add_option("--column", fit.column,
                        "the dB column of a CSV table with a header, e.g. equalization");
    fit_cmd
        ->add_option("--svg", fit.svg,
                     "also plot target and fit as SVG to FILE (- for standard output, which "
                     "moves the report to standard error)")
        ->type_name("FILE");
    fit_cmd->add_flag("--json", fit.json, "print the result as JSON");
    fit_cmd->footer(cli::fit_formats);

    cli::profile_options prof;
    auto *prof_cmd = app.add_subcommand("profile", "Create, inspect and convert transcode "
                                                   "profiles (the library's JSON text).");
    prof_cmd->require_subcommand(1);
    auto *new_cmd = prof_cmd->add_subcommand("new", "Write a new profile as JSON.");
    repeated(new_cmd, "--set", prof.sets, "set a field, Field=Value (repeatable)")
        ->type_name("Field=Value");
    new_cmd->add_option("-o,--output", prof.output, "output file (default: standard output)")
        ->type_name("FILE");
    new_cmd->footer(field_list);
    auto *show_cmd = prof_cmd->add_subcommand("show", "Show a profile's fields and validity.");
    auto *validate_cmd = prof_cmd->add_subcommand(
        "validate", "Check every field; list the invalid ones and exit with status 1.");
    auto *args_cmd = prof_cmd->add_subcommand(
        "args", "Print the ffmpeg argument fragment, then the output file extension.");
    auto *fmt_cmd =
        prof_cmd->add_subcommand("fmt", "Rewrite a profile file in the library's own JSON form.");
    for (auto *c : {show_cmd, validate_cmd, args_cmd, fmt_cmd})
        c->add_option("FILE", prof.file, "profile JSON file, - for standard input")->required();
    args_cmd->add_flag("--args-only", prof.args_only,
                       "print the argument line only, e.g. for $(...) on an ffmpeg command line");
    args_cmd->add_flag("--type-only", prof.type_only, "print the output file extension only")
        ->excludes("--args-only");
    fmt_cmd->add_flag("--force", prof.force,
                      "write even when the library's form loses or changes members (listed)");
    prof_cmd->footer([] {
        return "These fields never reach the ffmpeg arguments: " + cli::fields_outside_args() + ".";
    });
    fmt_cmd
        ->add_option("-o,--output", prof.output,
                     "write here instead of rewriting FILE (- for standard output; the "
                     "default when FILE is -)")
        ->type_name("FILE");

    cli::transcode_options tc;
    auto *tc_cmd = cli::add_transcode_command(app, tc);
    tc_cmd->footer(preset_list);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // A word where a subcommand belongs: CLI11 calls it an unexpected argument or a missing
        // subcommand; name it for what it is.
        for (const CLI::App *parent :
             {static_cast<const CLI::App *>(&app), static_cast<const CLI::App *>(prof_cmd)}) {
            if (parent != &app && !parent->parsed())
                continue;
            bool chosen = false;
            for (const CLI::App *sub : parent->get_subcommands({}))
                chosen = chosen || sub->parsed();
            const auto extra = parent->remaining();
            if (chosen || extra.empty() || extra.front().rfind('-', 0) == 0)
                continue;
            std::string names;
            for (const CLI::App *sub : parent->get_subcommands({}))
                names += (names.empty() ? "" : ", ") + sub->get_name();
            std::fprintf(stderr, "playback-profile: unknown subcommand '%s'%s: %s (see --help)\n",
                         extra.front().c_str(),
                         parent == &app ? "" : (" of '" + parent->get_name() + "'").c_str(),
                         names.c_str());
            return 2;
        }
        const int rc = app.exit(e);
        return rc == 0 ? 0 : 2;
    }

    if (app.get_subcommands().empty()) {
        std::fputs("playback-profile: a subcommand is required: eq, response, presets, fit, "
                   "profile or transcode (see --help)\n",
                   stderr);
        return 2;
    }
    try {
        if (*eq_cmd) {
            cli::run_eq(eq);
        } else if (*resp_cmd) {
            cli::run_response(resp);
        } else if (*fit_cmd) {
            cli::run_fit(fit);
        } else if (app.got_subcommand("presets")) {
            cli::run_presets();
        } else if (*new_cmd) {
            cli::run_profile_new(prof);
        } else if (*show_cmd) {
            cli::run_profile_show(prof);
        } else if (*validate_cmd) {
            return cli::run_profile_validate(prof);
        } else if (*args_cmd) {
            return cli::run_profile_args(prof);
        } else if (*fmt_cmd) {
            return cli::run_profile_fmt(prof);
        } else if (*tc_cmd) {
            cli::run_transcode(tc);
        }
    } catch (const cli::usage_error &e) {
        std::fprintf(stderr, "playback-profile: %s\n", e.what());
        return 2;
    } catch (const cli::error &e) {
        std::fprintf(stderr, "playback-profile: %s\n", e.what());
        return 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "playback-profile: %s\n", e.what());
        return 1;
    }
    return 0;
}
