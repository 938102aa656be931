// The fit command: read a target curve, let the library find the eight gains closest to it,
// and print them as eq arguments with the level, the RMS shape error and the automatic preamp,
// as text or JSON, optionally plotting target and fit together. Every number printed describes
// the gains as printed, rounded to 0.01 dB, so that what eq is given is what was reported.
#include "fit_cmd.h"

#include "atomic_output.h"
#include "cli.h"
#include "svg.h"
#include "target_curve.h"

#include "qxeq.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

namespace cli {

namespace {

constexpr int k_plot_points = 400;

std::string format(const char *fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// A gain as printed, two decimals, never "-0.00".
std::string gain_text(double g) {
    const std::string s = format("%.2f", g);
    return s == "-0.00" ? "0.00" : s;
}

struct fit_summary {
    double gains[8]; // as printed
    double level, rms, peak, peak_hz, preamp;
};

// The level, error and peak of the printed gains, from the library's own response.
fit_summary summarise(const target_curve &t, const double (&fitted)[8]) {
    fit_summary s{};
    for (uint32_t b = 0; b < 8; ++b) {
        s.gains[b] = std::strtod(gain_text(fitted[b]).c_str(), nullptr);
        if (qxeq_set_gain(b, s.gains[b]) != QX_OK)
            throw error(std::string("cannot set the fitted gains: ") + qxeq_last_error());
    }
    const double n = static_cast<double>(t.hz.size());
    for (size_t i = 0; i < t.hz.size(); ++i)
        s.level += (t.db[i] - qxeq_response_db(t.hz[i])) / n;
    for (size_t i = 0; i < t.hz.size(); ++i) {
        const double e = qxeq_response_db(t.hz[i]) + s.level - t.db[i];
        s.rms += e * e / n;
    }
    s.rms = std::sqrt(s.rms);
    s.peak = qxeq_peak_db(&s.peak_hz);
    s.preamp = s.peak > 0 ? -s.peak : 0.0;
    return s;
}

std::string eq_args(const fit_summary &s) {
    std::string a;
    for (uint32_t b = 0; b < 8; ++b)
        a += std::string(b ? " " : "") + "--gain " + format("%.0f", qxeq_band_center_hz(b)) + "=" +
             gain_text(s.gains[b]);
    return a;
}

std::string text_report(const target_curve &t, const fit_summary &s) {
    return eq_args(s) + "\n" + "level: " + format("%.2f", s.level) + " dB\n" +
           "rms error: " + format("%.3f", s.rms) + " dB over " + std::to_string(t.hz.size()) +
           " points (" + t.format + ")\n" + "preamp: " + format("%.2f", s.preamp) + " dB (peak " +
           format("%+.2f", s.peak) + " dB at " + format("%.0f", s.peak_hz) + " Hz)\n";
}

// A JSON string; bytes that are not UTF-8 become U+FFFD.
std::string json_string(const std::string &s) {
    std::string r = "\"";
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        for (size_t k = 1; len && k < len; ++k)
            if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) >> 6) != 2)
                len = 0;
        if (len == 0) {
            r += "\xEF\xBF\xBD";
            ++i;
        } else if (c == '"' || c == '\\') {
            r += std::string("\\") + static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            r += buf;
            ++i;
        } else {
            r += s.substr(i, len);
            i += len;
        }
    }
    return r + "\"";
}

std::string json_report(const target_curve &t, const fit_summary &s, const fit_options &o) {
    std::string j = "{\"format\":" + json_string(t.format) +
                    ",\"points\":" + std::to_string(t.hz.size()) +
                    ",\"rate\":" + std::to_string(o.rate) +
                    ",\"smoothness\":" + format("%.17g", o.smoothness) + ",\"gains\":[";
    for (uint32_t b = 0; b < 8; ++b)
        j += std::string(b ? "," : "") + "{\"band\":" + std::to_string(b) +
             ",\"hz\":" + format("%.0f", qxeq_band_center_hz(b)) +
             ",\"db\":" + gain_text(s.gains[b]) + "}";
    j += "],\"eq_args\":" + json_string(eq_args(s)) + ",\"level_db\":" + format("%.4f", s.level) +
         ",\"rms_error_db\":" + format("%.4f", s.rms) + ",\"peak_db\":" + format("%.4f", s.peak) +
         ",\"peak_hz\":" + format("%.1f", s.peak_hz) +
         ",\"preamp_db\":" + format("%.4f", s.preamp == 0 ? 0.0 : s.preamp) + "}\n";
    return j;
}

// Target (less the level, so that it lies over the fit) and fitted response over the
// target's range: its own points and an even log grid, the target joined by straight lines
// on the log axis between its points.
std::string plot(const target_curve &t, const fit_summary &s, int rate) {
    std::vector<size_t> order(t.hz.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return t.hz[a] < t.hz[b]; });
    std::vector<double> hz, db; // sorted, repeats averaged
    for (size_t k = 0; k < order.size();) {
        size_t m = k;
        double sum = 0;
        while (m < order.size() && t.hz[order[m]] == t.hz[order[k]])
            sum += t.db[order[m++]];
        hz.push_back(t.hz[order[k]]);
        db.push_back(sum / static_cast<double>(m - k));
        k = m;
    }
    double lo = hz.front(), hi = hz.back();
    if (lo == hi)
        lo /= 2, hi = std::min(hi * 2, rate / 2.0);
    response_plot p;
    p.rate = rate;
    for (int i = 0; i < k_plot_points; ++i)
        p.hz.push_back(lo * std::pow(hi / lo, static_cast<double>(i) / (k_plot_points - 1)));
    p.hz.insert(p.hz.end(), hz.begin(), hz.end());
    std::sort(p.hz.begin(), p.hz.end());
    p.hz.erase(std::unique(p.hz.begin(), p.hz.end()), p.hz.end());
    for (uint32_t b = 0; b < 8; ++b)
        p.centre[b] = qxeq_band_center_hz(b);

    response_curve target, fit;
    target.name = "target, level " + format("%.2f", s.level) + " dB removed";
    target.markers = false;
    fit.name = "fitted response, rms error " + format("%.2f", s.rms) + " dB";
    for (double f : p.hz) {
        const size_t j =
            static_cast<size_t>(std::lower_bound(hz.begin(), hz.end(), f) - hz.begin());
        double v;
        if (j == 0)
            v = db.front();
        else if (j == hz.size())
            v = db.back();
        else {
            const double u = std::log(f / hz[j - 1]) / std::log(hz[j] / hz[j - 1]);
            v = db[j - 1] + u * (db[j] - db[j - 1]);
        }
        target.db.push_back(v - s.level);
        fit.db.push_back(qxeq_response_db(f));
    }
    for (uint32_t b = 0; b < 8; ++b) {
        fit.gain[b] = s.gains[b];
        fit.centre_db[b] = qxeq_response_db(p.centre[b]);
    }
    p.curves = {target, fit};
    return render_svg(p);
}

} // namespace

std::string fit_formats() {
    return "Target formats ('#' comments, blank lines, CR LF and decimal commas accepted):\n"
           "  GraphicEQ: 20 -1.5; 25 -1.2; 31.5 -0.8; ...\n"
           "  Preamp: -6 dB / Filter 1: ON PK Fc 105 Hz Gain 5.5 dB Q 0.7 (also LSC, HSC),\n"
           "    evaluated every 1/24 octave from 20 Hz to 20 kHz\n"
           "  a header such as frequency,raw,equalization, then rows (--column picks one)\n"
           "  two columns of Hz and dB, separated by spaces, tabs, ';' or ','\n"
           "Points at or above half the rate are left out.";
}

void run_fit(const fit_options &o) {
    if (qxeq_set_sample_rate(o.rate) != QX_OK)
        throw error("--rate " + std::to_string(o.rate) + ": outside 1..384000 Hz (" +
                    qxeq_last_error() + ")");
    if (!std::isfinite(o.smoothness) || o.smoothness < 0)
        throw error("--smoothness " + format("%g", o.smoothness) + ": must be a number >= 0");
    target_curve t = parse_target(read_text(o.target), display_name(o.target), o.column, o.rate);

    // The equaliser cannot touch what lies at or above half the rate: such points are left out.
    target_curve kept{t.format, {}, {}};
    for (size_t i = 0; i < t.hz.size(); ++i)
        if (2 * t.hz[i] < o.rate) {
            kept.hz.push_back(t.hz[i]);
            kept.db.push_back(t.db[i]);
        }
    if (kept.hz.empty())
        throw error(display_name(o.target) + ": no point lies below half the rate (--rate " +
                    std::to_string(o.rate) + ")");
    if (kept.hz.size() < t.hz.size())
        std::fprintf(stderr,
                     "playback-profile: warning: %zu of %zu points lie at or above half the "
                     "rate (%g Hz) and are left out\n",
                     t.hz.size() - kept.hz.size(), t.hz.size(), o.rate / 2.0);
    if (kept.hz.size() > QXEQ_FIT_MAX_POINTS)
        throw error(display_name(o.target) + " has " + std::to_string(kept.hz.size()) +
                    " points; the fit takes at most " + std::to_string(QXEQ_FIT_MAX_POINTS));

    double gains[8], level = 0, rms = 0;
    const int32_t rc =
        qxeq_fit_gains(kept.hz.data(), kept.db.data(), static_cast<int32_t>(kept.hz.size()), o.rate,
                       o.smoothness, gains, &level, &rms);
    if (rc != QX_OK)
        throw error("the fit refused the target (status " + std::to_string(rc) + ")");
    const fit_summary s = summarise(kept, gains);

    const std::string report = o.json ? json_report(kept, s, o) : text_report(kept, s);
    if (!o.svg.empty())
        write_text(o.svg, plot(kept, s, o.rate));
    if (o.svg == "-")
        std::fputs(report.c_str(), stderr); // standard output carries the plot
    else
        write_text("-", report);
}

} // namespace cli
