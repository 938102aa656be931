/* playback-profile: the eight-band graphic equaliser.
 *
 * Eight second-order peaking filters at 400, 620, 960, 1500, 2400, 3700, 6200 and 9600 Hz, Q 0.8,
 * gains within -24..+24 dB, sixteen named presets, sample rate 1..384000 Hz. Blocks of 32-bit
 * float or signed 16-bit PCM (1..8 channels) are equalised in place; both formats share one
 * filter state per channel.
 *
 * Instances: qxeq_eq_new() makes an equaliser of its own (its settings, filter state and
 * last-error text), so a host can equalise any number of streams independently. The flat
 * functions without an instance argument act on one default instance that exists from load;
 * nothing an instance does changes the default instance, and the reverse. Each instance starts
 * as the default one does: bypassed under "PS_none" at 44100 Hz with every gain at 0 dB.
 *
 * Threads: different instances may be used from different threads at the same time; the
 * library takes no lock on the processing path, and what instances share (the kernel choice,
 * the constant tables, the warning log a clamped gain writes to) is safe under that use. Calls
 * on one instance (the default one included) must not overlap: a host that processes on one
 * thread and changes gains on another serialises the two itself.
 *
 * Real time: the three process calls never allocate, free, lock or make a system call, also
 * on the first block after a change, when they rebuild the coefficients. Only qxeq_eq_new
 * allocates; a gain outside -24..+24 dB takes the warning log's lock to log its clamp.
 *
 * Last error: each function says whether it empties its instance's last-error text on
 * success, sets it only on failure, or never touches it. The flat functions use the default
 * instance's text; the profile store's text is separate.
 */
#ifndef QXEQ_H
#define QXEQ_H

#include "qx_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* MARK: bands and presets */

/** @return 8, the number of bands. Last error: untouched. */
QX_API int32_t qxeq_band_count(void);

/** @param band band index 0..7.
 * @return the band's centre frequency in Hz; 0.0 with "ERR_NO_SUCH_BAND" for any other index.
 * Last error: set only on failure. */
QX_API double qxeq_band_center_hz(uint32_t band);

/** @param band band index 0..7.
 * @return 0.8, the Q of every band; 0.0 with "ERR_NO_SUCH_BAND" for any other index.
 * Last error: set only on failure. */
QX_API double qxeq_band_q(uint32_t band);

/** @return 16, the number of presets. Last error: untouched. */
QX_API int32_t qxeq_preset_count(void);

/** @param index preset index 0..15.
 * @return the preset's constant name ("PS_none", "PS_custom", "PS_acoustic", ...); null with
 *         "ERR_NO_SUCH_PRESET" for any other index. Never free it.
 * Last error: set only on failure. */
QX_API const char *qxeq_preset_name(uint32_t index);

/** @param preset preset index 0..15 (checked first); @param band band index 0..7.
 * @return the preset's gain for the band in dB (0.0 for band 7, which presets never raise);
 *         0.0 with "ERR_NO_SUCH_PRESET" or "ERR_NO_SUCH_BAND" when an index is out of range.
 * Last error: set only on failure. */
QX_API double qxeq_preset_gain(uint32_t preset, uint32_t band);

/** @param name preset name, compared exactly and case-sensitively.
 * @return the preset's index 0..15; -1 with "ERR_NO_SUCH_PRESET" when no preset has that name,
 *         or with "ERR_INVALID_ARG" when name is null.
 * Last error: set only on failure. */
QX_API int32_t qxeq_preset_index_by_name(const char *name);

/* MARK: configuration */

/** Select a preset: "PS_none" bypasses and zeroes every gain, "PS_custom" keeps the gains, any
 * other loads its gains (band 7 at 0 dB). Every successful call clears the filter histories,
 * even when the preset is already selected.
 * @param name preset name.
 * @return QX_OK, or QX_ERR_NO_SUCH_PRESET (last error "ERR_NO_SUCH_PRESET", or
 *         "ERR_INVALID_ARG" for a null name) with nothing changed.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_set_preset(const char *name);

/** Set the gain of one band, in dB; selects "PS_custom" and switches bypass off. The filter
 * histories are kept: the new gain applies from the next processed block.
 * @param band    band index 0..7.
 * @param gain_db finite gain; outside [-24, 24] it is clamped and the warning
 *                "gain clamp band<b> <gain> -> [-24,24]" is logged.
 * @return QX_OK, QX_ERR_NO_SUCH_BAND, or QX_ERR_INVALID_ARG (NaN or infinity); on failure
 *         nothing changes.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_set_gain(uint32_t band, double gain_db);

/** @param band band index 0..7.
 * @return the band's current gain in dB; 0.0 with "ERR_NO_SUCH_BAND" for any other index.
 * Last error: set only on failure. */
QX_API double qxeq_get_gain(uint32_t band);

/** @return 1 while bypassed (exactly while "PS_none" is selected), else 0. Last error: untouched. */
QX_API int32_t qxeq_is_bypassed(void);

/** @return the sample rate in Hz. Last error: untouched. */
QX_API int32_t qxeq_sample_rate(void);

/** Set the sample rate. A new rate clears the filter histories; the current rate again
 * changes nothing. A band is active only below half the rate (2 * centre < hz): at lower rates
 * the bands at or above half the rate are switched off and pass audio through (all eight are
 * active from 19201 Hz; at 8000 Hz the six from 400 to 3700 Hz; none at 800 Hz or less).
 * @param hz rate in Hz, 1..384000.
 * @return QX_OK or QX_ERR_BAD_SAMPLE_RATE (nothing changed).
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_set_sample_rate(int32_t hz);

/** Clear the filter histories of every band and channel; coefficients, gains and flags stay.
 * Last error: untouched. */
QX_API void qxeq_reset_state(void);

/** @return the equaliser's last-error text, or "OK" when it is empty. Library storage: never
 *         free it; later calls overwrite it. */
QX_API const char *qxeq_last_error(void);

/* MARK: coefficients and response */

/** Raw (not normalised) biquad coefficients of one band for the current gain and rate,
 * computed afresh whether or not the equaliser is bypassed. A band switched off at this rate
 * (2 * centre >= rate) reports exactly b0 = 1, b1 = 0, b2 = 0, a0 = 1, a1 = 0, a2 = 0: the
 * coefficients processing uses.
 * @param band band index 0..7.
 * @param b0,b1,b2,a0,a1,a2 non-null pointers receiving the coefficients.
 * @return QX_OK, QX_ERR_NO_SUCH_BAND, or QX_ERR_INVALID_ARG (a null pointer; nothing written).
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_coeffs(uint32_t band, double *b0, double *b1, double *b2, double *a0,
                           double *a1, double *a2);

/** Combined magnitude response of the eight bands: what processing does, so a band switched
 * off at this rate (2 * centre >= rate) contributes exactly nothing.
 * @param hz frequency in Hz (above half the rate is evaluated like any other).
 * @return the response in dB; 0.0 while bypassed or for a negative, NaN or infinite hz;
 *         -200.0 where the magnitude vanishes.
 * Last error: untouched. */
QX_API double qxeq_response_db(double hz);

/* MARK: fitting and headroom */

/** The largest number of points qxeq_fit_gains takes. */
#define QXEQ_FIT_MAX_POINTS 65536

/** Find the gains whose combined response comes closest to a target curve, such as a published
 * headphone correction. The gains g (each within -24..+24 dB) and a level c (any real number)
 * minimise
 *     J = (1/N) * sum over the N points of (R_g(f_i) + c - T_i)^2
 *         + smoothness * (1/8) * sum over the bands of g_k^2,
 * where R_g(f) is the combined response at sample_rate with gains g, exactly as
 * qxeq_response_db computes it, and T the target. The level is free because peaking bands
 * cannot change a curve's overall level; the smoothness term keeps neighbouring bands, which
 * overlap strongly, from fighting each other with large opposite gains for a tiny gain in
 * accuracy (0.01 is a good default; 0 gives the pure least squares). The result is the global
 * minimum of J within 1%, and for a target that some gains reach exactly, with smoothness 0,
 * those gains within 0.01 dB and level 0. A band switched off at this rate
 * (2 * centre >= sample_rate) has no effect on the response, so any gain would do for it even
 * with smoothness 0: it always comes back 0 dB. Every point weighs the same, so the stretch
 * of the curve where the points lie densest counts most. Deterministic: the same arguments
 * give the same bits. Reads and changes no equaliser state and allocates nothing (it uses
 * about 20 KB of stack), so it may run on any thread, alongside any other call; the outputs
 * are written last and may overlap the inputs.
 * @param freq_hz      count frequencies in Hz, each strictly between 0 and sample_rate / 2, in
 *                     any order (repeats allowed).
 * @param target_db    count finite target values in dB, in the order of freq_hz.
 * @param count        number of points, 1..QXEQ_FIT_MAX_POINTS.
 * @param sample_rate  rate the gains are fitted for, 1..384000 Hz.
 * @param smoothness   finite weight >= 0 of the penalty on the gains.
 * @param gains_db     receives the eight gains in dB, band 0 first.
 * @param level_db     receives the level c in dB.
 * @param rms_error_db receives the RMS of the fitted shape error, the square root of J's first
 *                     term, in dB.
 * @return QX_OK; QX_ERR_INVALID_ARG for a null pointer, a count out of range, a smoothness that
 *         is negative, NaN or infinite, a frequency outside (0, sample_rate / 2) or a
 *         non-finite target value; QX_ERR_BAD_SAMPLE_RATE for a rate outside 1..384000
 *         (checked after the pointers and count). On failure nothing is written.
 * Last error: untouched. */
QX_API int32_t qxeq_fit_gains(const double *freq_hz, const double *target_db, int32_t count,
                              int32_t sample_rate, double smoothness, double *gains_db,
                              double *level_db, double *rms_error_db);

/** The peak of the equaliser's combined response: its largest value over every frequency from
 * 0 Hz to half the sample rate, within 0.01 dB, as qxeq_response_db reports it there. Its
 * negation, when positive, is the preamp that keeps the equaliser's boosts from clipping a
 * full-scale signal.
 * @param at_hz null, or receives the frequency in Hz where the peak lies.
 * @return the peak in dB, equal to qxeq_response_db(*at_hz); exactly 0.0 with *at_hz = 0
 *         while bypassed, or when no frequency rises above 0 dB (every band passes 0 Hz
 *         unchanged, which qxeq_response_db(0.0) computes to within rounding).
 * Last error: untouched. */
QX_API double qxeq_peak_db(double *at_hz);

/* MARK: processing */

/** Equalise a block of interleaved 32-bit float samples in place (nominally -1..+1). A NaN or
 * infinite sample comes out as 0.0 and clears its channel's filter state; a result beyond the
 * float range comes out as +-infinity.
 * @param samples  frames * channels floats; null gives QX_ERR_INVALID_ARG.
 * @param frames   number of frames, >= 0.
 * @param channels 1..8; channel c always uses filter state c.
 * @return QX_OK, or QX_ERR_INVALID_ARG with nothing changed. While bypassed, or for 0 frames,
 *         the samples are left untouched.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_process_f32(float *samples, int32_t frames, int32_t channels);

/** Equalise a block of interleaved signed 16-bit samples in place. Input is scaled by 1/32768
 * and output by 32767, so results stay within -32767..32767. Arguments, results and last error
 * as for qxeq_process_f32. */
QX_API int32_t qxeq_process_s16(int16_t *samples, int32_t frames, int32_t channels);

/* MARK: instances */

/** An equaliser of its own: settings, filter state and last-error text. Opaque. */
typedef struct qxeq_eq qxeq_eq;

/** Make a new equaliser in the load-time defaults: bypassed under "PS_none" at 44100 Hz, every
 * gain 0 dB, filter state cleared, last error empty. The only call that allocates.
 * @return the instance, to be released with qxeq_eq_free; null when memory runs out. */
QX_API qxeq_eq *qxeq_eq_new(void);

/** Release an instance made by qxeq_eq_new. Null is ignored. Never pass the same instance
 * twice, nor use it afterwards. */
QX_API void qxeq_eq_free(qxeq_eq *eq);

/** Make dst an exact copy of src: settings, filter state and last-error text, so both continue
 * the same stream with the same bits (a host cross-fading between two settings forks one
 * stream this way). Never allocates, locks or makes a system call. Copying an instance onto
 * itself changes nothing.
 * @param dst,src instances made by qxeq_eq_new (or the same one); null gives QX_ERR_INVALID_ARG.
 * @return QX_OK, or QX_ERR_INVALID_ARG with nothing changed.
 * Last error: dst's becomes src's; untouched on failure. */
QX_API int32_t qxeq_eq_copy(qxeq_eq *dst, const qxeq_eq *src);

/* Every function below takes the instance first and behaves exactly like its flat twin (same
 * results, bits and texts), on that instance's settings, state and last error only. A null
 * instance fails with QX_ERR_INVALID_ARG, or returns the neutral value given, and touches no
 * instance's state or last error. */

/** As qxeq_set_preset, on eq.
 * @return QX_OK; QX_ERR_NO_SUCH_PRESET (last error "ERR_NO_SUCH_PRESET", or "ERR_INVALID_ARG"
 *         for a null name) with nothing changed; QX_ERR_INVALID_ARG for a null eq.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_eq_set_preset(qxeq_eq *eq, const char *name);

/** @return the index 0..15 of the preset in force on eq ("PS_custom", 1, after any successful
 *         gain change); -1 for a null eq. Last error: untouched. */
QX_API int32_t qxeq_eq_preset(const qxeq_eq *eq);

/** As qxeq_set_gain, on eq: selects "PS_custom", switches bypass off, keeps the filter state;
 * a gain outside [-24, 24] is clamped and its warning goes to the shared warning log.
 * @return QX_OK, QX_ERR_NO_SUCH_BAND, or QX_ERR_INVALID_ARG (NaN or infinity, or a null eq);
 *         on failure nothing changes.
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_eq_set_gain(qxeq_eq *eq, uint32_t band, double gain_db);

/** @param band band index 0..7.
 * @return eq's gain of the band in dB; 0.0 with "ERR_NO_SUCH_BAND" for any other index; 0.0
 *         for a null eq.
 * Last error: set only on failure. */
QX_API double qxeq_eq_get_gain(qxeq_eq *eq, uint32_t band);

/** @return 1 while eq is bypassed (exactly while "PS_none" is selected), else 0; 0 for a null
 *         eq. Last error: untouched. */
QX_API int32_t qxeq_eq_is_bypassed(const qxeq_eq *eq);

/** @return eq's sample rate in Hz; 0 for a null eq. Last error: untouched. */
QX_API int32_t qxeq_eq_sample_rate(const qxeq_eq *eq);

/** As qxeq_set_sample_rate, on eq: a new rate clears eq's filter state.
 * @param hz rate in Hz, 1..384000; bands at or above half the rate are switched off.
 * @return QX_OK, QX_ERR_BAD_SAMPLE_RATE (nothing changed), or QX_ERR_INVALID_ARG (null eq).
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_eq_set_sample_rate(qxeq_eq *eq, int32_t hz);

/** Clear eq's filter state (every band and channel); settings stay. Null is ignored.
 * Last error: untouched. */
QX_API void qxeq_eq_reset_state(qxeq_eq *eq);

/** @return eq's last-error text, or "OK" when it is empty; "ERR_INVALID_ARG" for a null eq.
 *         Storage of the instance: valid until qxeq_eq_free; later calls on eq overwrite it. */
QX_API const char *qxeq_eq_last_error(const qxeq_eq *eq);

/** As qxeq_coeffs, for eq's gain and rate (a band switched off reports the identity).
 * @return QX_OK, QX_ERR_NO_SUCH_BAND, or QX_ERR_INVALID_ARG (a null pointer or a null eq;
 *         nothing written).
 * Last error: emptied on success, set on failure. */
QX_API int32_t qxeq_eq_coeffs(qxeq_eq *eq, uint32_t band, double *b0, double *b1, double *b2,
                              double *a0, double *a1, double *a2);

/** As qxeq_response_db, for eq's settings.
 * @return the response in dB; 0.0 while bypassed, for a negative, NaN or infinite hz, or for a
 *         null eq; -200.0 where the magnitude vanishes.
 * Last error: untouched. */
QX_API double qxeq_eq_response_db(const qxeq_eq *eq, double hz);

/** As qxeq_process_f32, with eq's settings and filter state.
 * @return QX_OK, or QX_ERR_INVALID_ARG (null eq, null samples, channels outside 1..8 or
 *         frames < 0) with nothing changed.
 * Last error: emptied on success, set on failure (a null eq has none). */
QX_API int32_t qxeq_eq_process_f32(qxeq_eq *eq, float *samples, int32_t frames, int32_t channels);

/** As qxeq_process_s16, with eq's settings and filter state. Arguments, results and last
 * error as for qxeq_eq_process_f32. */
QX_API int32_t qxeq_eq_process_s16(qxeq_eq *eq, int16_t *samples, int32_t frames,
                                   int32_t channels);

/** Equalise one float buffer per channel in place: bit for bit what qxeq_eq_process_f32 gives
 * for the same samples interleaved, on the same filter state (channel c uses state c).
 * @param channels      channel_count non-null pointers, each to frames floats.
 * @param frames        number of frames, >= 0.
 * @param channel_count 1..8.
 * @return QX_OK, or QX_ERR_INVALID_ARG (null eq, null channels or a null buffer in it,
 *         channel_count outside 1..8, frames < 0) with nothing changed.
 * Last error: emptied on success, set on failure (a null eq has none). */
QX_API int32_t qxeq_eq_process_planar_f32(qxeq_eq *eq, float *const *channels, int32_t frames,
                                          int32_t channel_count);

#ifdef __cplusplus
}
#endif

#endif /* QXEQ_H */
