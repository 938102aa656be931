// The peak of a combined response, for the flat call and any equaliser that has gains and a
// rate of its own. Internal.
#ifndef QXEQ_PEAK_H
#define QXEQ_PEAK_H

#include <cstdint>

namespace qxeq {

// The largest value of combined_response_db(gain_db, fs, hz) over 0 <= hz <= fs / 2, within
// 0.01 dB, and where it lies (at_hz may be null): exactly 0.0 at 0 Hz while bypassed (bypass
// non-zero) or when nothing rises above 0 dB. Reads no equaliser state.
double peak_response_db(const double *gain_db, int32_t fs, int32_t bypass, double *at_hz);

} // namespace qxeq

#endif // QXEQ_PEAK_H
