// Turning --preset and --gain arguments into equaliser settings, for the eq and response
// commands, and showing the warnings the library logs on the way.
#include "cli.h"
#include "text.h"

#include "qxeq.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace cli {

namespace {

// A band given as its index ("3") or its centre frequency in Hz ("1500"); false for a text
// that is not a whole non-negative number. An index out of range is left for the library to
// refuse.
bool parse_band(const std::string &text, uint32_t &band) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v > 0xFFFFFFFFull)
        return false;
    band = static_cast<uint32_t>(v);
    for (uint32_t b = 0; b < static_cast<uint32_t>(qxeq_band_count()); ++b)
        if (static_cast<double>(v) == qxeq_band_center_hz(b))
            band = b;
    return true;
}

// Any number strtod reads in full, "nan" and "inf" included: the library judges finiteness.
bool parse_db(const std::string &text, double &db) {
    if (text.empty())
        return false;
    char *end = nullptr;
    db = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && !std::isspace(static_cast<unsigned char>(text[0]));
}

} // namespace

std::string band_list() {
    std::string s = "bands are 0 to 7 or";
    for (uint32_t b = 0; b < static_cast<uint32_t>(qxeq_band_count()); ++b) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s %.0f", b == 0 ? "" : ",", qxeq_band_center_hz(b));
        s += buf;
    }
    return s + " Hz";
}

void apply_preset(const std::string &name) {
    const int32_t rc = qxeq_set_preset(name.c_str());
    if (rc != QX_OK)
        throw usage_error("unknown preset '" + escaped(name) +
                          "': 'playback-profile presets' lists the sixteen names (" +
                          status_name(rc) + ")");
}

void apply_gain(const std::string &setting) {
    const std::string shown = "--gain '" + escaped(setting) + "'";
    const size_t eq = setting.find('=');
    if (eq == std::string::npos)
        throw usage_error(shown + ": expected BAND=DB, for example 3=-6 or 1500=-6");
    const std::string band_text = setting.substr(0, eq), db_text = setting.substr(eq + 1);
    uint32_t band = 0;
    double db = 0.0;
    if (!parse_band(band_text, band))
        throw usage_error(shown + ": band '" + escaped(band_text) +
                          "' is not a number: " + band_list());
    if (!parse_db(db_text, db))
        throw usage_error(shown + ": gain '" + escaped(db_text) + "' is not a number of dB");
    const int32_t rc = qxeq_set_gain(band, db);
    if (rc == QX_ERR_NO_SUCH_BAND)
        throw usage_error(shown + ": band " + band_text + " does not exist: " + band_list() + " (" +
                          status_name(rc) + ")");
    if (rc == QX_ERR_INVALID_ARG)
        throw usage_error(shown + ": the gain must be a finite number of dB, -24 to 24 (" +
                          status_name(rc) + ")");
    if (rc != QX_OK)
        throw usage_error(shown + ": the equaliser refused it (" + status_name(rc) + ")");
    // The library logs its own note of a clamp; the tool says it in its words instead.
    qx_clear_warnings();
    const double set = qxeq_get_gain(band);
    if (set != db) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "%g dB is outside -24 to 24 dB; band %u (%.0f Hz) is set "
                      "to %g dB",
                      db, band, qxeq_band_center_hz(band), set);
        warn(shown + ": " + buf);
    }
}

double preamp_gain_db(const std::string &text) {
    if (text.empty())
        return 0.0;
    if (text == "auto") // the headroom the settings in force need
        return automatic_preamp_db(qxeq_peak_db(nullptr));
    double db = 0.0;
    if (!parse_db(text, db) || !std::isfinite(db) || std::fabs(db) > 60.0)
        throw usage_error("--preamp '" + text +
                          "': expected a gain in dB from -60 to 60, "
                          "for example -6, or auto");
    return db;
}

double automatic_preamp_db(double peak_db) { return peak_db > 0.0 ? -(peak_db + 0.01) : 0.0; }

void warn(const std::string &text) {
    std::fprintf(stderr, "playback-profile: warning: %s\n", text.c_str());
}

} // namespace cli
