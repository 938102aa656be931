// The response and presets commands end to end: the SVG plot is well-formed XML with one curve
// per setting, and the printed numbers are the library's own.
#include "harness.h"

#include <cmath>
#include <sstream>

namespace {

using namespace harness;
using ResponseCommand = CliTest;

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> v;
    std::istringstream s(text);
    for (std::string l; std::getline(s, l);)
        v.push_back(l);
    return v;
}

std::vector<std::string> words(const std::string &line) {
    std::vector<std::string> v;
    std::istringstream s(line);
    for (std::string w; s >> w;)
        v.push_back(w);
    return v;
}

std::string fixed(const char *fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

TEST_F(ResponseCommand, SvgIsWellFormedXmlWithOneLabelledCurvePerSetting) {
    struct {
        std::vector<std::string> args, names;
    } const cases[] = {
        {{"--preset", "PS_rock"}, {"PS_rock"}},
        {{"--preset", "PS_rock", "--preset", "PS_pop", "--preset", "PS_jazz"},
         {"PS_rock", "PS_pop", "PS_jazz"}},
        {{"--gain", "0=-12", "--gain", "9600=30", "--rate", "22050"}, {"PS_custom"}},
        {{}, {"PS_none"}},
        {{"--preset", "PS_none",
          "--preset", "PS_acoustic",
          "--preset", "PS_bass_boost",
          "--preset", "PS_classical",
          "--preset", "PS_dance",
          "--preset", "PS_electronic",
          "--preset", "PS_hip_hop",
          "--preset", "PS_jazz",
          "--preset", "PS_loudness",
          "--preset", "PS_pop",
          "--preset", "PS_r_b",
          "--preset", "PS_rock",
          "--points", "50"},
         {"PS_none", "PS_acoustic", "PS_bass_boost", "PS_classical", "PS_dance", "PS_electronic",
          "PS_hip_hop", "PS_jazz", "PS_loudness", "PS_pop", "PS_r_b", "PS_rock"}},
    };
    const fs::path dir = fresh_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.names.front() + " and " + std::to_string(c.names.size() - 1) + " more");
        std::vector<std::string> args{"response", "--svg", "plot.svg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        const std::string svg = read_file(dir / "plot.svg");

        const result lint = run_exe(QX_XMLLINT, {"--noout", (dir / "plot.svg").string()});
        EXPECT_EQ(lint.status, 0) << lint.err;
        EXPECT_EQ(count(svg, "<path class=\"curve\""), c.names.size());
        for (const auto &n : c.names) {
            EXPECT_EQ(count(svg, "data-name=\"" + n + "\""), 1u) << n;
            EXPECT_EQ(count(svg, ">" + n + "</text>"), 1u) << n; // in the legend
        }
        for (const char *band : {">400<", ">620<", ">960<", ">1.5k<", ">2.4k<", ">3.7k<"})
            EXPECT_GE(count(svg, band), 1u) << band;
        for (const char *label : {"Frequency (Hz)", "Gain (dB)"})
            EXPECT_EQ(count(svg, label), 1u) << label;

        args[2] = "-"; // the same picture on standard output
        const result piped = run(args);
        ASSERT_EQ(piped.status, 0) << piped.err;
        EXPECT_EQ(piped.out, svg);
    }
}

TEST_F(ResponseCommand, TablePrintsTheLibrarysResponseAtLogSpacedFrequenciesAndBandCentres) {
    fresh_dir();
    const char *presets[] = {"PS_rock", "PS_vocal_boost"};
    const result r = run({"response", "--preset", presets[0], "--preset", presets[1], "--rate",
                          "48000", "--points", "7"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 2 + 7 + 2 + 1 + 8u) << r.out;
    EXPECT_EQ(l[0], "Response in dB at 48000 Hz");
    EXPECT_EQ(words(l[1]), (std::vector<std::string>{"Hz", presets[0], presets[1]}));
    EXPECT_EQ(l[10], "At the band centres");

    ASSERT_EQ(qxeq_set_sample_rate(48000), QX_OK);
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(presets[k]);
        ASSERT_EQ(qxeq_set_preset(presets[k]), QX_OK);
        for (int i = 0; i < 7; ++i) {
            const double hz = i == 6 ? 20000.0 : 20.0 * std::pow(1000.0, i / 6.0);
            const auto w = words(l[2 + static_cast<size_t>(i)]);
            ASSERT_EQ(w.size(), 3u);
            EXPECT_EQ(w[0], fixed("%.2f", hz));
            EXPECT_EQ(w[1 + static_cast<size_t>(k)], fixed("%.3f", qxeq_response_db(hz)));
        }
        for (uint32_t b = 0; b < 8; ++b) {
            const auto w = words(l[12 + b]);
            ASSERT_EQ(w.size(), 4u);
            EXPECT_EQ(w[0], std::to_string(b));
            EXPECT_EQ(w[1], fixed("%.2f", qxeq_band_center_hz(b)));
            EXPECT_EQ(w[2 + static_cast<size_t>(k)],
                      fixed("%.3f", qxeq_response_db(qxeq_band_center_hz(b))));
        }
    }
}

TEST_F(ResponseCommand, PresetsListsAllSixteenWithTheLibrarysGains) {
    fresh_dir();
    const result r = run({"presets"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 17u) << r.out;
    for (uint32_t p = 0; p < 16; ++p) {
        const auto w = words(l[1 + p]);
        ASSERT_EQ(w.size(), 10u) << l[1 + p];
        EXPECT_EQ(w[0], qxeq_preset_name(p));
        for (uint32_t b = 0; b < 8; ++b)
            EXPECT_EQ(w[1 + b], fixed("%.1f", qxeq_preset_gain(p, b))) << w[0] << " band " << b;
    }
}

} // namespace
