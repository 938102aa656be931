/* Every public header, compiled as strict C99, and every export called once from C: the
 * program exits 0 when each call gave what a C host should see. exports_called_from_c checks that
 * no export is missing here. */
#include "qx_common.h"
#include "qxeq.h"
#include "qxtp.h"

#include <stdio.h>
#include <string.h>

static int failures;

#define check(ok) check_at((ok), __LINE__)
static void check_at(int ok, int line) {
    if (!ok) {
        fprintf(stderr, "c_header_check.c:%d: unexpected result\n", line);
        ++failures;
    }
}

static void equaliser(void) {
    float block[4] = {0.25f, -0.25f, 0.5f, -0.5f};
    int16_t pcm[2] = {1000, -1000};
    double b0, b1, b2, a0, a1, a2;
    check(qxeq_band_count() == 8);
    check(qxeq_band_center_hz(0) == 400.0);
    check(qxeq_band_q(0) == 0.8);
    check(qxeq_preset_count() == 16);
    check(strcmp(qxeq_preset_name(12), "PS_rock") == 0);
    check(qxeq_preset_gain(12, 0) == 4.0);
    check(qxeq_preset_index_by_name("PS_rock") == 12);
    check(qxeq_set_preset("PS_rock") == QX_OK);
    check(qxeq_set_gain(2, 3.0) == QX_OK);
    check(qxeq_get_gain(2) == 3.0);
    check(qxeq_is_bypassed() == 0);
    check(qxeq_set_sample_rate(48000) == QX_OK);
    check(qxeq_sample_rate() == 48000);
    check(qxeq_coeffs(0, &b0, &b1, &b2, &a0, &a1, &a2) == QX_OK && b0 > a0);
    check(qxeq_response_db(400.0) > 0.0);
    check(qxeq_peak_db(NULL) > 0.0);
    {
        const double hz[3] = {500.0, 1000.0, 4000.0}, db[3] = {1.0, 2.0, 0.5};
        double gains[8], level, error;
        check(qxeq_fit_gains(hz, db, 3, 48000, 0.01, gains, &level, &error) == QX_OK);
    }
    check(qxeq_process_f32(block, 2, 2) == QX_OK);
    check(qxeq_process_s16(pcm, 1, 2) == QX_OK);
    qxeq_reset_state();
    check(strcmp(qxeq_last_error(), "OK") == 0);
}

static void instances(void) {
    float left[2] = {0.5f, 0.25f}, right[2] = {-0.5f, -0.25f};
    float *planes[2];
    float block[4] = {0.25f, -0.25f, 0.5f, -0.5f};
    int16_t pcm[2] = {1000, -1000};
    double b0, b1, b2, a0, a1, a2;
    qxeq_eq *eq = qxeq_eq_new();
    qxeq_eq *copy;
    double at = 0.0;
    planes[0] = left;
    planes[1] = right;
    check(eq != NULL);
    check(qxeq_eq_set_preset(eq, "PS_jazz") == QX_OK);
    check(qxeq_eq_preset(eq) == 8);
    check(qxeq_eq_set_gain(eq, 1, -2.0) == QX_OK);
    check(qxeq_eq_get_gain(eq, 1) == -2.0);
    check(qxeq_eq_is_bypassed(eq) == 0);
    check(qxeq_eq_set_sample_rate(eq, 16000) == QX_OK);
    check(qxeq_eq_sample_rate(eq) == 16000);
    check(qxeq_eq_coeffs(eq, 7, &b0, &b1, &b2, &a0, &a1, &a2) == QX_OK && b1 == 0.0);
    check(qxeq_eq_response_db(eq, 1000.0) != 0.0);
    check(qxeq_eq_peak_db(eq, &at) > 0.0 && at > 0.0);
    check(qxeq_eq_process_f32(eq, block, 2, 2) == QX_OK);
    check(qxeq_eq_process_s16(eq, pcm, 1, 2) == QX_OK);
    check(qxeq_eq_process_planar_f32(eq, planes, 2, 2) == QX_OK);
    qxeq_eq_reset_state(eq);
    check(strcmp(qxeq_eq_last_error(eq), "OK") == 0);
    copy = qxeq_eq_new();
    check(qxeq_eq_copy(copy, eq) == QX_OK && qxeq_eq_preset(copy) == 1);
    qxeq_eq_free(copy);
    qxeq_eq_free(eq);
}

static void profiles(void) {
    int32_t id = qxtp_profile_create("Phone");
    int32_t copy;
    check(id >= 0);
    check(qxtp_profile_field_count() == 17);
    check(strcmp(qxtp_profile_field_name(6), "AudioBitrate") == 0);
    check(strcmp(qxtp_profile_field_type(6), "uint_string") == 0);
    check(qxtp_profile_set(id, "FormatCreator", "mp4") == QX_OK);
    check(qxtp_profile_set(id, "AudioBitrate", "128000") == QX_OK);
    check(strcmp(qxtp_profile_get(id, "AudioBitrate"), "128000") == 0);
    check(qxtp_profile_field_valid(id, "AudioBitrate") == 1);
    check(strcmp(qxtp_profile_file_type(id), ".mp4") == 0);
    check(qxtp_profile_parsed_uint(id, "AudioBitrate") == 128000u);
    check(qxtp_profile_validate(id) == QX_OK);
    check(strcmp(qxtp_profile_to_ffmpeg_args(id), "-c:v libx264 -b:a 128000 ") == 0);
    copy = qxtp_profile_from_json(qxtp_profile_to_json(id));
    check(copy >= 0);
    check(qxtp_profile_destroy(copy) == QX_OK);
    check(qxtp_profile_destroy(id) == QX_OK);
    check(strcmp(qxtp_last_error(), "OK") == 0);
}

static void common(void) {
    qx_clear_warnings();
    qx_warn("from C");
    check(qx_warning_count() == 1);
    check(strcmp(qx_warning(0), "from C") == 0);
    check(strcmp(qx_status_text(QX_ERR_OOM), "ERR_OOM") == 0);
    check(strncmp(qx_version(), "0.", 2) == 0 || QX_VERSION_MAJOR > 0);
}

int main(void) {
    equaliser();
    instances();
    profiles();
    common();
    return failures;
}
