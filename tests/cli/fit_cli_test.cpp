// The fit command end to end: target files in each published format, written here from known
// gains, come back as those gains; bad lines are refused with their line number; the report,
// its JSON form and the plot agree with the library called in this process.
#include "harness.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace {

using namespace harness;
using FitCommand = CliTest;

constexpr double k_pi = 3.141592653589793;
const double k_gains[8] = {4.25, -3.5, 2.0, 6.75, -8.0, 3.0, -1.5, 5.0};

std::string fixed(const char *fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string with_comma(std::string s) {
    for (char &c : s)
        if (c == '.')
            c = ',';
    return s;
}

// The response of k_gains at 44100 Hz through the library, at n log-spaced points.
std::vector<std::pair<double, double>> known_curve(int n = 120) {
    qxeq_set_sample_rate(44100);
    for (uint32_t b = 0; b < 8; ++b)
        qxeq_set_gain(b, k_gains[b]);
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < n; ++i) {
        const double hz = 20 * std::pow(1000.0, i / (n - 1.0));
        pts.push_back({hz, qxeq_response_db(hz)});
    }
    return pts;
}

struct report {
    double gains[8] = {};
    double level = 0, rms = 0, preamp = 0;
    int points = 0;
};

// The text report: "--gain 400=4.25 ...", "level: X dB", "rms error: X dB over N points (...)",
// "preamp: X dB (...)".
report parse_report(const std::string &out) {
    report r;
    std::istringstream s(out);
    std::string line;
    std::getline(s, line);
    std::istringstream g(line);
    std::string flag, setting;
    for (int b = 0; b < 8; ++b) {
        g >> flag >> setting;
        EXPECT_EQ(flag, "--gain");
        EXPECT_EQ(setting.substr(0, setting.find('=')), fixed("%.0f", qxeq_band_center_hz(b)));
        r.gains[b] = std::stod(setting.substr(setting.find('=') + 1));
    }
    std::getline(s, line);
    EXPECT_EQ(std::sscanf(line.c_str(), "level: %lf dB", &r.level), 1) << line;
    std::getline(s, line);
    EXPECT_EQ(std::sscanf(line.c_str(), "rms error: %lf dB over %d points", &r.rms, &r.points), 2)
        << line;
    std::getline(s, line);
    EXPECT_EQ(std::sscanf(line.c_str(), "preamp: %lf dB", &r.preamp), 1) << line;
    return r;
}

TEST_F(FitCommand, EachFormatGivesBackTheGainsItWasWrittenFrom) {
    const auto pts = known_curve();
    std::string graphic = "GraphicEQ: ", graphic_comma =
                                             "# exported correction\r\nPreamp: -2,5 dB\r\n"
                                             "GraphicEQ: ";
    std::string table = "frequency,raw,error,smoothed,equalization,target\n";
    // The semicolon table starts with a byte-order mark, as some Windows programs write it.
    std::string semicolons = "\xEF\xBB\xBF"
                             "Frequency;Gain (dB)\r\n",
                spaces, commas, tabs;
    for (size_t i = 0; i < pts.size(); ++i) {
        const std::string f = fixed("%.4f", pts[i].first), v = fixed("%.6f", pts[i].second);
        graphic += f + " " + v + (i + 1 < pts.size() ? "; " : "");
        graphic_comma += with_comma(f) + " " + with_comma(v) + ";";
        table += f + "," + fixed("%.2f", 70 + i * 0.1) + ",1.5,-2," + v + ",0\n";
        semicolons += with_comma(f) + ";" + with_comma(v) + "\r\n";
        spaces += f + "   " + v + "\n" + (i % 10 == 0 ? "\n# a comment line\n" : "");
        commas += f + ", " + v + "\n";
        tabs += with_comma(f) + "\t" + with_comma(v) + "  # trailing comment\n";
    }
    graphic_comma += "\r\n";
    // Peaking filters at the band centres with the bands' Q are the bands themselves.
    std::string parametric = "Preamp: 1.5 dB\n";
    for (int b = 0; b < 8; ++b)
        parametric += "Filter " + std::to_string(b + 1) + ": ON PK Fc " +
                      fixed("%.0f", qxeq_band_center_hz(b)) + " Hz Gain " +
                      fixed("%.2f", k_gains[b]) + " dB Q 0.8\n";
    parametric += "Filter 9: OFF PK Fc 100 Hz Gain 12 dB Q 2\n";
    std::string parametric_crlf = with_comma(parametric);
    for (size_t i = 0; (i = parametric_crlf.find('\n', i)) != std::string::npos; i += 2)
        parametric_crlf.replace(i, 1, "\r\n");

    struct {
        const char *file;
        std::string text;
        std::vector<std::string> extra;
        double level;
        int points;
        const char *format;
    } const cases[] = {
        {"graphic.txt", graphic, {}, 0.0, 120, "GraphicEQ"},
        {"graphic_comma.txt", graphic_comma, {}, -2.5, 120, "GraphicEQ"},
        {"correction.csv",
         table,
         {"--column", "equalization"},
         0.0,
         120,
         "CSV column equalization"},
        {"semicolons.csv", semicolons, {}, 0.0, 120, "CSV column Gain (dB)"},
        {"spaces.txt", spaces, {}, 0.0, 120, "two columns"},
        {"commas.txt", commas, {}, 0.0, 120, "two columns"},
        {"tabs.txt", tabs, {}, 0.0, 120, "two columns"},
        {"ParametricEQ.txt", parametric, {}, 1.5, 240, "ParametricEQ"},
        {"parametric_crlf.txt", parametric_crlf, {}, 1.5, 240, "ParametricEQ"},
    };
    const fs::path dir = fresh_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        write_file(dir / c.file, c.text);
        std::vector<std::string> args{"fit", c.file, "--smoothness", "0"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const result r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const report rep = parse_report(r.out);
        for (int b = 0; b < 8; ++b)
            EXPECT_NEAR(rep.gains[b], k_gains[b], 0.0100001) << "band " << b;
        EXPECT_NEAR(rep.level, c.level, 0.01);
        EXPECT_LT(rep.rms, 0.01);
        EXPECT_EQ(rep.points, c.points);
        EXPECT_NE(r.out.find("(" + std::string(c.format) + ")"), std::string::npos) << r.out;
        // The same file through standard input.
        const result piped = run({"fit", "-", "--smoothness", "0"}, c.extra.empty() ? c.text : "");
        if (c.extra.empty()) {
            ASSERT_EQ(piped.status, 0) << piped.err;
            EXPECT_EQ(piped.out, r.out);
        }
    }
}

// The standard shelving biquads, written out here, on the filter list's documented grid: every
// 1/24 octave from 20 Hz to 20 kHz.
double shelf_db(bool high, double fc, double gain, double q, double rate, double hz) {
    const double A = std::pow(10.0, gain / 40), w0 = 2 * k_pi * fc / rate;
    const double cs = std::cos(w0), alpha = std::sin(w0) / (2 * q), sa = 2 * std::sqrt(A) * alpha;
    const double s = high ? -1 : 1; // the high shelf flips the sign of the cos terms
    const double b0 = A * ((A + 1) - s * (A - 1) * cs + sa),
                 b1 = s * 2 * A * ((A - 1) - s * (A + 1) * cs),
                 b2 = A * ((A + 1) - s * (A - 1) * cs - sa), a0 = (A + 1) + s * (A - 1) * cs + sa,
                 a1 = -s * 2 * ((A - 1) + s * (A + 1) * cs), a2 = (A + 1) + s * (A - 1) * cs - sa;
    const double w = 2 * k_pi * hz / rate;
    auto mag2 = [&](double x0, double x1, double x2) {
        const double re = x0 + x1 * std::cos(w) + x2 * std::cos(2 * w);
        const double im = x1 * std::sin(w) + x2 * std::sin(2 * w);
        return re * re + im * im;
    };
    return 10 * std::log10(mag2(b0, b1, b2) / mag2(a0, a1, a2));
}

TEST_F(FitCommand, ShelvingFiltersFollowTheStandardFormulas) {
    const fs::path dir = fresh_dir();
    write_file(dir / "shelves.txt", "Preamp: -4 dB\n"
                                    "Filter 1: ON LSC Fc 105 Hz Gain 6.5 dB Q 0.71\n"
                                    "Filter 2: ON HSC Fc 8000 Hz Gain -5 dB Q 0.9\n"
                                    "Filter: ON LSC Fc 3000 Hz Gain 2 dB\n"); // Q 0.707 by default
    std::string points;
    for (int k = 0; k < 240; ++k) {
        const double hz = 20 * std::pow(2.0, k / 24.0);
        const double db = -4 + shelf_db(false, 105, 6.5, 0.71, 48000, hz) +
                          shelf_db(true, 8000, -5, 0.9, 48000, hz) +
                          shelf_db(false, 3000, 2, 1 / std::sqrt(2.0), 48000, hz);
        points += fixed("%.17g", hz) + " " + fixed("%.17g", db) + "\n";
    }
    write_file(dir / "points.txt", points);
    const result a = run({"fit", "shelves.txt", "--rate", "48000"});
    const result b = run({"fit", "points.txt", "--rate", "48000"});
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    const report ra = parse_report(a.out), rb = parse_report(b.out);
    for (int k = 0; k < 8; ++k)
        EXPECT_NEAR(ra.gains[k], rb.gains[k], 0.0100001) << "band " << k;
    EXPECT_NEAR(ra.level, rb.level, 0.01);
    EXPECT_NEAR(ra.rms, rb.rms, 0.001);
    EXPECT_EQ(ra.points, 240);
}

TEST_F(FitCommand, BadLinesAreRefusedWithTheirNumber) {
    std::string many_points;
    for (int i = 0; i < 65537; ++i)
        many_points += std::to_string(20 + i % 20000) + " 1\n";
    struct {
        const char *what;
        std::string text;
        std::vector<std::string> extra, message;
    } const cases[] = {
        // clang-format off
        {"GraphicEQ pair", "GraphicEQ: 20 1; 30; 40 2", {}, {"line 1", "'30'"}},
        {"GraphicEQ word", "\n\nGraphicEQ: 20 1; 30 loud", {}, {"line 3", "'30 loud'"}},
        {"second GraphicEQ", "GraphicEQ: 20 1\nGraphicEQ: 30 1\n", {}, {"line 2", "second"}},
        {"stray line in GraphicEQ", "GraphicEQ: 20 1\nhello\n", {}, {"line 2", "GraphicEQ"}},
        {"GraphicEQ 0 Hz", "GraphicEQ: 0 1; 20 2", {}, {"line 1", "above 0"}},
        {"bad preamp", "Preamp: loud\nGraphicEQ: 20 1", {}, {"line 1", "Preamp"}},
        {"filter type", "Filter 1: ON LP Fc 100 Hz Gain 1 dB Q 1", {}, {"line 1", "'LP'"}},
        {"filter without Q", "Preamp: 1 dB\nFilter 1: ON PK Fc 100 Hz Gain 1 dB", {}, {"line 2", "Q"}},
        {"filter without ON", "Filter 1: PK Fc 100 Hz Gain 1 dB Q 1", {}, {"line 1", "ON or OFF"}},
        {"filter above half the rate", "Filter 1: ON PK Fc 30000 Hz Gain 1 dB Q 1", {}, {"line 1", "half the rate"}},
        {"filter key", "Filter 1: ON PK Fc 100 Hz Gain 1 dB Width 1", {}, {"line 1", "'Width'"}},
        {"filter zero Q", "Filter 1: ON PK Fc 100 Hz Gain 1 dB Q 0", {}, {"line 1", "Q"}},
        {"stray line in filters", "Filter 1: ON PK Fc 100 Hz Gain 1 dB Q 1\nFilters are nice\n", {}, {"line 2"}},
        {"preamp only", "Preamp: -3 dB\n", {}, {"no filters"}},
        {"no frequency column", "gain,target\n1,2\n", {}, {"line 1", "frequency"}},
        {"ambiguous columns", "frequency,raw,target\n20,1,2\n", {}, {"line 1", "--column", "raw, target"}},
        {"unknown column", "frequency,raw\n20,1\n", {"--column", "target"}, {"line 1", "'target'"}},
        {"column value", "frequency,raw\n20,1\n30,n/a\n", {}, {"line 3", "'n/a'"}},
        {"field count", "frequency,raw\n20,1\n30,1,5\n", {}, {"line 3", "3 fields"}},
        {"NaN", "20 1\n30 nan\n", {}, {"line 2"}},
        {"infinity", "20 1\n30 inf\n", {}, {"line 2"}},
        {"hexadecimal", "20 1\n0x20 1\n", {}, {"line 2"}},
        {"too large", "20 1\n30 1e999\n", {}, {"line 2"}},
        {"three columns", "20 1 2\n", {}, {"line 1"}},
        {"one column", "20 1\r\n30\r\n", {}, {"line 2"}},
        {"ambiguous commas", "20,5,-3,2\n", {}, {"line 1"}},
        {"negative frequency", "20 1\n-30 1\n", {}, {"line 2", "above 0"}},
        {"column without header", "20 1\n30 2\n", {"--column", "db"}, {"--column", "no header"}},
        {"column on GraphicEQ", "GraphicEQ: 20 1", {"--column", "db"}, {"--column", "GraphicEQ"}},
        {"empty", "", {}, {"no target"}},
        {"comments only", "# nothing\n\n  # here\n", {}, {"no target"}},
        {"NUL byte", std::string("20 1\n\0", 6), {}, {"NUL"}},
        {"all above half the rate", "30000 1\n40000 2\n", {}, {"below half the rate"}},
        {"bad smoothness", "20 1\n", {"--smoothness", "-1"}, {"--smoothness"}},
        {"bad rate", "20 1\n", {"--rate", "0"}, {"--rate", "ERR_BAD_SAMPLE_RATE"}},
        {"too many points", many_points, {}, {"65537 points", "at most 65536"}},
        // clang-format on
    };
    const fs::path dir = fresh_dir();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(dir / "target.txt", c.text);
        const auto before = listing(dir);
        std::vector<std::string> args{"fit", "target.txt", "--svg", "plot.svg"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const result r = run(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(count(r.err, "\n"), 1u) << r.err;
        for (const auto &m : c.message)
            EXPECT_NE(r.err.find(m), std::string::npos) << "'" << m << "' not in: " << r.err;
        EXPECT_EQ(listing(dir), before) << "a failed fit wrote a file";
    }
    const result missing = run({"fit", "missing.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("'missing.txt'"), std::string::npos) << missing.err;
}

TEST_F(FitCommand, PointsAtOrAboveHalfTheRateAreLeftOutWithAWarning) {
    const fs::path dir = fresh_dir();
    write_file(dir / "wide.txt", "100 1\n1000 -2\n3000 3\n4000 1\n12000 5\n");
    const result r = run({"fit", "wide.txt", "--rate", "8000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("2 of 5 points"), std::string::npos) << r.err;
    EXPECT_EQ(parse_report(r.out).points, 3);
    // Bands at or above half of 8000 Hz cannot be used: they come back 0 dB.
    EXPECT_EQ(parse_report(r.out).gains[6], 0.0);
    EXPECT_EQ(parse_report(r.out).gains[7], 0.0);
}

// The report describes the printed gains: their level, error and peak as the library computes
// them here, and the JSON form says the same; the plot holds target and fit.
TEST_F(FitCommand, ReportJsonAndPlotAgreeWithTheLibrary) {
    const fs::path dir = fresh_dir();
    std::string text = "GraphicEQ: ";
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i < 127; ++i) {
        const double hz = 20 * std::pow(1000.0, i / 126.0);
        const double db = 6 * std::sin(i / 9.0) + (hz > 5000 ? 4 : 0) - 3;
        pts.push_back({hz, db});
        text += fixed("%.1f", hz) + " " + fixed("%.1f", db) + "; ";
    }
    write_file(dir / "curve.txt", text);
    const result r = run({"fit", "curve.txt", "--rate", "48000", "--svg", "plot.svg"});
    ASSERT_EQ(r.status, 0) << r.err;
    const report rep = parse_report(r.out);

    ASSERT_EQ(qxeq_set_sample_rate(48000), QX_OK);
    for (uint32_t b = 0; b < 8; ++b)
        ASSERT_EQ(qxeq_set_gain(b, rep.gains[b]), QX_OK);
    double level = 0, sq = 0;
    for (const auto &p : pts)
        level += (std::stod(fixed("%.1f", p.second)) -
                  qxeq_response_db(std::stod(fixed("%.1f", p.first)))) /
                 127;
    for (const auto &p : pts) {
        const double e = qxeq_response_db(std::stod(fixed("%.1f", p.first))) + level -
                         std::stod(fixed("%.1f", p.second));
        sq += e * e / 127;
    }
    EXPECT_NEAR(rep.level, level, 0.005);
    EXPECT_NEAR(rep.rms, std::sqrt(sq), 0.0005);
    const double peak = qxeq_peak_db(nullptr);
    EXPECT_GT(peak, 0.0);
    EXPECT_NEAR(rep.preamp, -peak, 0.005);

    const result j = run({"fit", "curve.txt", "--rate", "48000", "--json"});
    ASSERT_EQ(j.status, 0) << j.err;
    for (const std::string &s :
         {std::string("\"format\":\"GraphicEQ\""), std::string("\"points\":127"),
          std::string("\"rate\":48000"), std::string("\"smoothness\":0.01"),
          "\"eq_args\":\"" + r.out.substr(0, r.out.find('\n')) + "\""})
        EXPECT_NE(j.out.find(s), std::string::npos) << s << " not in " << j.out;
    auto number = [&](const std::string &key) {
        const size_t at = j.out.find("\"" + key + "\":");
        EXPECT_NE(at, std::string::npos) << key;
        return at == std::string::npos ? NAN : std::stod(j.out.substr(at + key.size() + 3));
    };
    EXPECT_NEAR(number("level_db"), rep.level, 0.005);
    EXPECT_NEAR(number("rms_error_db"), rep.rms, 0.0005);
    EXPECT_NEAR(number("preamp_db"), rep.preamp, 0.005);
    EXPECT_NEAR(number("peak_db"), peak, 1e-4);
    for (int b = 0; b < 8; ++b)
        EXPECT_NE(j.out.find("{\"band\":" + std::to_string(b) +
                             ",\"hz\":" + fixed("%.0f", qxeq_band_center_hz(b)) +
                             ",\"db\":" + fixed("%.2f", rep.gains[b]) + "}"),
                  std::string::npos)
            << b;

    const result lint = run_exe(QX_XMLLINT, {"--noout", (dir / "plot.svg").string()});
    EXPECT_EQ(lint.status, 0) << lint.err;
    const std::string svg = read_file(dir / "plot.svg");
    EXPECT_EQ(count(svg, "<path class=\"curve\""), 2u);
    EXPECT_EQ(count(svg, "data-name=\"target, level"), 1u);
    EXPECT_EQ(count(svg, "data-name=\"fitted response"), 1u);
    EXPECT_EQ(count(svg, "<circle"), 8u + 1u); // the fit's gain settings and the legend's

    // With the plot on standard output the report moves to standard error.
    const result piped = run({"fit", "curve.txt", "--rate", "48000", "--svg", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, svg);
    EXPECT_EQ(piped.err, r.out);
}

} // namespace
