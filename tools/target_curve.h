// Target curves for the fit command: the text formats correction and target curves are
// published in, read into frequency and dB pairs. Lines may end in CR LF, '#' starts a comment,
// blank lines are skipped and numbers may use a decimal comma where commas do not separate
// fields. Anything else is refused with a cli::error naming the file and line.
#ifndef QX_TOOLS_TARGET_CURVE_H
#define QX_TOOLS_TARGET_CURVE_H

#include <string>
#include <vector>

namespace cli {

struct target_curve {
    std::string format;         // "GraphicEQ", "ParametricEQ", "CSV column NAME", "two columns"
    std::vector<double> hz, db; // in file order; every hz > 0
};

// Read a target from text, trying in turn:
// - a "GraphicEQ: F G; F G; ..." line (a "Preamp: X dB" line may add a constant);
// - a filter list of "Preamp: X dB" and "Filter N: ON PK|LSC|HSC Fc F Hz Gain G dB Q Q" lines,
//   whose combined response with the standard peaking and shelving biquads at `rate` becomes
//   the target, every 1/24 octave from 20 Hz up to 20 kHz and below half the rate (shelves
//   without a Q get 0.707; OFF filters are skipped);
// - a table whose first line names its columns, separated by ';', tabs or commas (or spaces
//   when the header has none of those): a column named "frequency", "freq..." or "Hz" gives the
//   frequencies, and `column` (any case), or the only other column, the dB values;
// - two columns of numbers without a header, separated by spaces, tabs, ';' or a comma.
// `name` is the file's name for messages; `column` must be empty unless the text is a table
// with a header.
target_curve parse_target(const std::string &text, const std::string &name,
                          const std::string &column, int rate);

} // namespace cli

#endif // QX_TOOLS_TARGET_CURVE_H
