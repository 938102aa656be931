// Drawing the response plot: a logarithmic frequency axis, a symmetric dB axis that fits the
// curves, the eight bands shaded and labelled, one stroked path per curve with its band gain
// settings as markers, and a legend. Plain SVG 1.1, no scripts or external resources.
#include "svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace cli {

namespace {

constexpr double k_width = 960, k_height = 560;
constexpr double k_left = 76, k_right = 936, k_top = 84, k_bottom = 482; // plot area
constexpr const char *k_font = "Helvetica, Arial, sans-serif";
// Distinct under the common colour-vision deficiencies for the first eight.
constexpr const char *k_colours[] = {"#2563eb", "#dc2626", "#059669", "#d97706",
                                     "#7c3aed", "#0891b2", "#db2777", "#4b5563"};
constexpr size_t k_ncolours = sizeof k_colours / sizeof k_colours[0];

std::string num(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s == "-0" ? "0" : s;
}

std::string escape(const std::string &s) {
    std::string r;
    for (char ch : s) {
        switch (ch) {
        case '&':
            r += "&amp;";
            break;
        case '<':
            r += "&lt;";
            break;
        case '>':
            r += "&gt;";
            break;
        case '"':
            r += "&quot;";
            break;
        default:
            r += ch;
        }
    }
    return r;
}

// "400", "1.5k", "20k", "0.5"
std::string hz_label(double hz) {
    char buf[32];
    if (hz >= 1000)
        std::snprintf(buf, sizeof buf, "%gk", hz / 1000);
    else
        std::snprintf(buf, sizeof buf, "%g", hz);
    return buf;
}

struct axes {
    double lo, hi;            // Hz
    double bottom, top, step; // dB
    double x(double hz) const {
        return k_left + (std::log10(hz) - std::log10(lo)) / (std::log10(hi) - std::log10(lo)) *
                            (k_right - k_left);
    }
    double y(double v) const {
        return k_bottom - (v - bottom) / (top - bottom) * (k_bottom - k_top);
    }
};

// The dB range: whole ticks around everything drawn, 0 dB always inside with at least one
// tick on either side, within -96..+96 dB.
void db_range(const response_plot &p, axes &a) {
    double lo = 0, hi = 0;
    for (const auto &c : p.curves) {
        for (double v : c.db)
            lo = std::min(lo, v), hi = std::max(hi, v);
        for (double v : c.gain)
            if (c.markers)
                lo = std::min(lo, v), hi = std::max(hi, v);
    }
    lo = std::max(lo, -96.0);
    hi = std::min(hi, 96.0);
    const double span = hi - lo;
    a.step = span <= 8 ? 2 : span <= 16 ? 3 : span <= 32 ? 6 : span <= 64 ? 12 : 24;
    a.top = std::max(a.step, std::ceil((hi + 0.25 * a.step) / a.step) * a.step);
    a.bottom = std::min(-a.step, std::floor((lo - 0.25 * a.step) / a.step) * a.step);
}

std::string text(double x, double y, const std::string &s, const char *attrs) {
    return "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" " + attrs + ">" + escape(s) +
           "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const char *attrs) {
    return "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
           num(y2) + "\" " + attrs + "/>\n";
}

} // namespace

std::string render_svg(const response_plot &p) {
    axes a{p.hz.front(), p.hz.back(), -6, 6, 2};
    db_range(p, a);
    const double mid = (k_left + k_right) / 2;

    std::string s;
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(k_width) + "\" height=\"" +
         num(k_height) + "\" viewBox=\"0 0 " + num(k_width) + " " + num(k_height) +
         "\" font-family=\"" + k_font + "\">\n";
    std::string title = "Equaliser response";
    if (p.curves.size() == 1)
        title += ": " + p.curves[0].name;
    s += "<title>" + escape(title) + "</title>\n";
    s += "<defs><clipPath id=\"plot\"><rect x=\"" + num(k_left) + "\" y=\"" + num(k_top) +
         "\" width=\"" + num(k_right - k_left) + "\" height=\"" + num(k_bottom - k_top) +
         "\"/></clipPath></defs>\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    s += text(k_left, 34, title, "font-size=\"20\" font-weight=\"bold\" fill=\"#111827\"");
    s += text(k_left, 54,
              "combined gain of the eight peaking bands (Q 0.8) at " + std::to_string(p.rate) +
                  " Hz",
              "font-size=\"13\" fill=\"#6b7280\"");
    s += "<rect x=\"" + num(k_left) + "\" y=\"" + num(k_top) + "\" width=\"" +
         num(k_right - k_left) + "\" height=\"" + num(k_bottom - k_top) + "\" fill=\"#f9fafb\"/>\n";

    // The bands: alternate shading out to the geometric midpoints between centres, a dashed
    // line at each centre, and its frequency above the plot.
    s += "<g class=\"bands\" clip-path=\"url(#plot)\">\n";
    for (size_t b = 0; b < 8; ++b) {
        const double c = p.centre[b];
        const double below =
            b > 0 ? std::sqrt(p.centre[b - 1] * c) : c * c / std::sqrt(c * p.centre[1]);
        const double above =
            b < 7 ? std::sqrt(c * p.centre[b + 1]) : c * c / std::sqrt(p.centre[6] * c);
        if (above <= a.lo || below >= a.hi)
            continue;
        const double x1 = a.x(std::max(below, a.lo)), x2 = a.x(std::min(above, a.hi));
        s += "<rect x=\"" + num(x1) + "\" y=\"" + num(k_top) + "\" width=\"" + num(x2 - x1) +
             "\" height=\"" + num(k_bottom - k_top) + "\" fill=\"" +
             (b % 2 == 0 ? "#eef2ff" : "#f5f7ff") + "\"/>\n";
    }
    s += "</g>\n";

    // Grid: 1-2-5 frequencies labelled, the other whole multiples faint; dB ticks every step.
    s += "<g class=\"grid\" stroke-width=\"1\">\n";
    for (int d = static_cast<int>(std::floor(std::log10(a.lo))); d <= std::ceil(std::log10(a.hi));
         ++d) {
        for (int m = 1; m <= 9; ++m) {
            const double f = m * std::pow(10.0, d);
            if (f < a.lo * 0.9999 || f > a.hi * 1.0001)
                continue;
            const bool major = m == 1 || m == 2 || m == 5;
            s += line(a.x(f), k_top, a.x(f), k_bottom,
                      major ? "stroke=\"#d1d5db\"" : "stroke=\"#e5e7eb\"");
            if (major)
                s += text(a.x(f), k_bottom + 20, hz_label(f),
                          "font-size=\"12\" fill=\"#374151\" text-anchor=\"middle\"");
        }
    }
    for (double v = a.bottom; v <= a.top + 1e-9; v += a.step) {
        s += line(k_left, a.y(v), k_right, a.y(v),
                  v == 0 ? "stroke=\"#6b7280\" stroke-width=\"1.5\"" : "stroke=\"#e5e7eb\"");
        s += text(k_left - 8, a.y(v) + 4, (v > 0 ? "+" : "") + num(v),
                  "font-size=\"12\" fill=\"#374151\" text-anchor=\"end\"");
    }
    s += "</g>\n";

    s += "<g class=\"band-centres\">\n";
    for (size_t b = 0; b < 8; ++b) {
        const double c = p.centre[b];
        if (c < a.lo || c > a.hi)
            continue;
        s += line(a.x(c), k_top, a.x(c), k_bottom,
                  "stroke=\"#6366f1\" stroke-opacity=\"0.55\" stroke-dasharray=\"4 4\"");
        s += text(a.x(c), k_top - 8, hz_label(c),
                  "font-size=\"12\" font-weight=\"bold\" fill=\"#4f46e5\" text-anchor=\"middle\"");
    }
    s += text(k_right, k_top - 26, "band centres (Hz)",
              "font-size=\"11\" fill=\"#6366f1\" text-anchor=\"end\"");
    s += "</g>\n";

    // Curves: a light fill under a lone curve, then every curve stroked over all fills.
    s += "<g class=\"curves\" clip-path=\"url(#plot)\" fill=\"none\" stroke-width=\"2.5\" "
         "stroke-linejoin=\"round\" stroke-linecap=\"round\">\n";
    if (p.curves.size() == 1) {
        std::string pts = num(a.x(p.hz.front())) + "," + num(a.y(0));
        for (size_t i = 0; i < p.hz.size(); ++i)
            pts += " " + num(a.x(p.hz[i])) + "," + num(a.y(p.curves[0].db[i]));
        pts += " " + num(a.x(p.hz.back())) + "," + num(a.y(0));
        s += "<polygon points=\"" + pts + "\" fill=\"" + k_colours[0] +
             "\" fill-opacity=\"0.12\" stroke=\"none\"/>\n";
    }
    for (size_t k = 0; k < p.curves.size(); ++k) {
        const auto &c = p.curves[k];
        std::string d;
        for (size_t i = 0; i < p.hz.size(); ++i)
            d += (i == 0 ? "M" : " L") + num(a.x(p.hz[i])) + "," +
                 num(a.y(std::max(a.bottom - 1, std::min(a.top + 1, c.db[i]))));
        s += "<path class=\"curve\" data-name=\"" + escape(c.name) + "\" stroke=\"" +
             k_colours[k % k_ncolours] + "\"" +
             (k >= k_ncolours ? " stroke-dasharray=\"8 4\"" : "") + " d=\"" + d + "\"><title>" +
             escape(c.name) + "</title></path>\n";
    }
    s += "</g>\n";

    // Band gain settings: hollow markers, so where the curve differs from a setting (the
    // bands overlap) it shows.
    s += "<g class=\"gain-settings\" fill=\"#ffffff\" stroke-width=\"2\">\n";
    for (size_t k = 0; k < p.curves.size(); ++k)
        for (size_t b = 0; b < 8; ++b)
            if (p.curves[k].markers && p.centre[b] >= a.lo && p.centre[b] <= a.hi)
                s += "<circle cx=\"" + num(a.x(p.centre[b])) + "\" cy=\"" +
                     num(a.y(p.curves[k].gain[b])) + "\" r=\"4\" stroke=\"" +
                     k_colours[k % k_ncolours] + "\"/>\n";
    s += "</g>\n";

    s += "<rect x=\"" + num(k_left) + "\" y=\"" + num(k_top) + "\" width=\"" +
         num(k_right - k_left) + "\" height=\"" + num(k_bottom - k_top) +
         "\" fill=\"none\" stroke=\"#9ca3af\"/>\n";
    s += text(mid, k_bottom + 46, "Frequency (Hz)",
              "font-size=\"14\" fill=\"#111827\" text-anchor=\"middle\"");
    s += "<text transform=\"translate(24 " + num((k_top + k_bottom) / 2) +
         ") rotate(-90)\" font-size=\"14\" fill=\"#111827\" text-anchor=\"middle\">Gain (dB)"
         "</text>\n";

    // Legend, top left of the plot where the curves are near 0 dB at low frequencies.
    size_t longest = 0;
    for (const auto &c : p.curves)
        longest = std::max(longest, c.name.size());
    const double lw = 56 + 7.5 * static_cast<double>(std::max<size_t>(longest, 18));
    const double lh = 16 + 20 * static_cast<double>(p.curves.size() + 1);
    const double lx = k_left + 12, ly = k_top + 12;
    s += "<g class=\"legend\" font-size=\"13\" fill=\"#111827\">\n";
    s += "<rect x=\"" + num(lx) + "\" y=\"" + num(ly) + "\" width=\"" + num(lw) + "\" height=\"" +
         num(lh) + "\" rx=\"6\" fill=\"#ffffff\" fill-opacity=\"0.9\" stroke=\"#d1d5db\"/>\n";
    for (size_t k = 0; k < p.curves.size(); ++k) {
        const double y = ly + 18 + 20 * static_cast<double>(k);
        std::string attrs = std::string("stroke=\"") + k_colours[k % k_ncolours] +
                            "\" stroke-width=\"3\" stroke-linecap=\"round\"" +
                            (k >= k_ncolours ? " stroke-dasharray=\"8 4\"" : "");
        s += line(lx + 12, y, lx + 40, y, attrs.c_str());
        s += text(lx + 50, y + 4.5, p.curves[k].name, "");
    }
    const double y = ly + 18 + 20 * static_cast<double>(p.curves.size());
    s += "<circle cx=\"" + num(lx + 26) + "\" cy=\"" + num(y) +
         "\" r=\"4\" fill=\"#ffffff\" stroke=\"#6b7280\" stroke-width=\"2\"/>\n";
    s += text(lx + 50, y + 4.5, "band gain setting", "fill=\"#6b7280\"");
    s += "</g>\n";
    s += "</svg>\n";
    return s;
}

} // namespace cli
