// The fit command: the eight gains that bring the equaliser closest to a target curve.
#ifndef QX_TOOLS_FIT_CMD_H
#define QX_TOOLS_FIT_CMD_H

#include <string>

namespace cli {

struct fit_options {
    std::string target; // target curve file, "-" for standard input
    int rate = 44100;
    double smoothness = 0.01;
    std::string column; // the dB column of a table with a header
    std::string svg;    // empty: no plot
    bool json = false;
};
void run_fit(const fit_options &o);

// The formats fit reads, with an example line of each, for its help text.
std::string fit_formats();

} // namespace cli

#endif // QX_TOOLS_FIT_CMD_H
