// The response plot: curves of the equaliser's combined response in dB over a logarithmic
// frequency axis, drawn as a self-contained SVG document.
#ifndef QX_TOOLS_SVG_H
#define QX_TOOLS_SVG_H

#include <array>
#include <string>
#include <vector>

namespace cli {

struct response_curve {
    std::string name;                  // legend text, e.g. "PS_rock"
    std::vector<double> db;            // response at each of the plot's frequencies
    std::array<double, 8> gain{};      // band gain settings, drawn as markers at the centres
    std::array<double, 8> centre_db{}; // response at the band centres
    bool markers = true;               // draw the gain settings (off for a target curve)
};

struct response_plot {
    int rate = 44100;
    std::vector<double> hz;         // ascending, log-spaced, all > 0
    std::array<double, 8> centre{}; // band centre frequencies
    std::vector<response_curve> curves;
};

std::string render_svg(const response_plot &plot);

} // namespace cli

#endif // QX_TOOLS_SVG_H
