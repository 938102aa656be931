// The response and presets commands: the equaliser's combined response for one or more
// settings, as a table or an SVG plot, and the preset table itself.
#include "atomic_output.h"
#include "cli.h"
#include "svg.h"
#include "text.h"

#include "qxeq.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace cli {

namespace {

constexpr int k_table_points = 31; // ten per decade over 20 Hz..20 kHz
constexpr int k_plot_points = 400;

std::string format(const char *fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// Log-spaced frequencies over the audible range, stopping at half the sample rate.
std::vector<double> frequencies(int rate, int n) {
    double hi = std::min(20000.0, rate / 2.0);
    double lo = hi > 200.0 ? 20.0 : hi / 1000.0;
    std::vector<double> hz(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        hz[static_cast<size_t>(i)] = lo * std::pow(hi / lo, static_cast<double>(i) / (n - 1));
    hz.back() = hi;
    return hz;
}

// The equaliser's current setting as a curve over the plot's frequencies.
response_curve sample(const std::string &name, const response_plot &p) {
    response_curve c;
    c.name = name;
    for (double f : p.hz)
        c.db.push_back(qxeq_response_db(f));
    for (uint32_t b = 0; b < 8; ++b) {
        c.gain[b] = qxeq_get_gain(b);
        c.centre_db[b] = qxeq_response_db(p.centre[b]);
    }
    return c;
}

std::string pad_left(const std::string &s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string table(const response_plot &p) {
    std::vector<size_t> width;
    for (const auto &c : p.curves)
        width.push_back(std::max<size_t>(10, c.name.size() + 2));
    std::string t = "Response in dB at " + std::to_string(p.rate) + " Hz\n" + pad_left("Hz", 11);
    for (size_t k = 0; k < p.curves.size(); ++k)
        t += pad_left(p.curves[k].name, width[k]);
    t += "\n";
    for (size_t i = 0; i < p.hz.size(); ++i) {
        t += pad_left(format("%.2f", p.hz[i]), 11);
        for (size_t k = 0; k < p.curves.size(); ++k)
            t += pad_left(format("%.3f", p.curves[k].db[i]), width[k]);
        t += "\n";
    }
    t += "\nAt the band centres\n" + pad_left("band", 5) + pad_left("Hz", 11);
    for (size_t k = 0; k < p.curves.size(); ++k)
        t += pad_left(p.curves[k].name, width[k]);
    t += "\n";
    for (size_t b = 0; b < 8; ++b) {
        t += pad_left(std::to_string(b), 5) + pad_left(format("%.2f", p.centre[b]), 11);
        for (size_t k = 0; k < p.curves.size(); ++k)
            t += pad_left(format("%.3f", p.curves[k].centre_db[b]), width[k]);
        t += "\n";
    }
    return t;
}

} // namespace

void run_response(const response_options &o) {
    const int32_t rc = qxeq_set_sample_rate(o.rate);
    if (rc != QX_OK)
        throw usage_error("--rate " + std::to_string(o.rate) +
                          ": the sample rate must be 1 to 384000 Hz (" + status_name(rc) + ")");
    response_plot p;
    p.rate = o.rate;
    p.hz = frequencies(o.rate,
                       o.points > 0 ? o.points : (o.svg.empty() ? k_table_points : k_plot_points));
    for (uint32_t b = 0; b < 8; ++b)
        p.centre[b] = qxeq_band_center_hz(b);

    auto add = [&](const std::string &name) { p.curves.push_back(sample(name, p)); };
    for (const auto &name : o.presets) {
        apply_preset(name);
        add(name);
    }
    if (!o.gains.empty()) {
        for (const auto &g : o.gains)
            apply_gain(g);
        add(qxeq_preset_name(1));
    }
    if (p.curves.empty())
        add(qxeq_preset_name(0));

    if (o.svg.empty())
        write_text("-", table(p));
    else
        write_text(o.svg, render_svg(p));
}

void run_presets() {
    std::string t = "preset           ";
    for (uint32_t b = 0; b < static_cast<uint32_t>(qxeq_band_count()); ++b)
        t += pad_left(format("%.0f", qxeq_band_center_hz(b)), 7);
    t += "  Hz\n";
    for (uint32_t i = 0; i < static_cast<uint32_t>(qxeq_preset_count()); ++i) {
        std::string name = qxeq_preset_name(i);
        t += name + std::string(name.size() < 17 ? 17 - name.size() : 1, ' ');
        for (uint32_t b = 0; b < static_cast<uint32_t>(qxeq_band_count()); ++b)
            t += pad_left(format("%.1f", qxeq_preset_gain(i, b)), 7);
        t += "  dB\n";
    }
    write_text("-", t);
}

} // namespace cli
