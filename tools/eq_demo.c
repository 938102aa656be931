/* Equalises a generated two-tone signal with a preset and prints what happened: the combined
 * response at the band centres and the level of each tone before and after. A first look at
 * the library from C; the playback-profile tool does the same with real files. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "qxeq.h"

#define RATE 48000
#define FRAMES 4800

static double tone_level_db(const float *s, double hz) {
    /* correlate with the tone over the block: amplitude of that frequency component */
    double re = 0.0, im = 0.0;
    int i;
    for (i = 0; i < FRAMES; ++i) {
        const double ph = 2.0 * M_PI * hz * i / RATE;
        re += s[i] * cos(ph);
        im += s[i] * sin(ph);
    }
    return 20.0 * log10(2.0 * sqrt(re * re + im * im) / FRAMES);
}

int main(int argc, char **argv) {
    const char *preset = argc > 1 ? argv[1] : "PS_rock";
    static float block[FRAMES];
    static float before[FRAMES];
    uint32_t band;
    int i;

    if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf("Usage: eq-demo [PRESET]\n\nEqualises a generated two-tone signal (400 and 2400 "
               "Hz) with PRESET\n(default PS_rock) and prints the response at the band centres "
               "and the level\nof each tone before and after. 'playback-profile presets' lists "
               "the presets.\n");
        return 0;
    }
    if (argc > 2) {
        fprintf(stderr, "eq-demo: expected at most one argument, a preset name (see --help)\n");
        return 2;
    }
    if (qxeq_set_sample_rate(RATE) != QX_OK) {
        fprintf(stderr, "eq-demo: the equaliser refused %d Hz (ERR_BAD_SAMPLE_RATE)\n", RATE);
        return 1;
    }
    if (qxeq_set_preset(preset) != QX_OK) {
        fprintf(stderr,
                "eq-demo: unknown preset '%s'; 'playback-profile presets' lists them "
                "(ERR_NO_SUCH_PRESET)\n",
                preset);
        return 2;
    }
    for (i = 0; i < FRAMES; ++i)
        block[i] = (float)(0.25 * sin(2.0 * M_PI * 400.0 * i / RATE) +
                           0.25 * sin(2.0 * M_PI * 2400.0 * i / RATE));
    memcpy(before, block, sizeof block);
    if (qxeq_process_f32(block, FRAMES, 1) != QX_OK) {
        fprintf(stderr, "eq-demo: the equaliser refused the block (ERR_INVALID_ARG)\n");
        return 1;
    }

    printf("preset %s at %d Hz\n\n  band  centre Hz   gain dB   response dB\n", preset,
           qxeq_sample_rate());
    for (band = 0; band < (uint32_t)qxeq_band_count(); ++band) {
        const double hz = qxeq_band_center_hz(band);
        printf("  %4u  %9.0f  %8.2f  %12.3f\n", band, hz, qxeq_get_gain(band),
               qxeq_response_db(hz));
    }
    printf("\n  tone      before dB   after dB\n");
    printf("  400 Hz    %9.2f  %9.2f\n", tone_level_db(before, 400.0), tone_level_db(block, 400.0));
    printf("  2400 Hz   %9.2f  %9.2f\n", tone_level_db(before, 2400.0),
           tone_level_db(block, 2400.0));
    return 0;
}
