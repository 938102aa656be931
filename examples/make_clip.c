/* Writes demo-clip.wav: two seconds of a generated groove (kick, bass, a chord change and
 * hi-hats) as 16-bit stereo at 44100 Hz, peaking at -6 dBFS so that a boosting preset has
 * headroom. Everything is computed from formulas and a fixed pseudo-random seed, so the file is
 * the same on every machine. Built as make-example-clip:
 *     build/bin/make-example-clip examples/demo-clip.wav
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sndfile.h>

#define RATE 44100
#define SECONDS 2
#define FRAMES (RATE * SECONDS)
#define BEAT (RATE / 2) /* 120 beats per minute */

static double left[FRAMES], right[FRAMES];
static unsigned long seed = 12345;

static double noise(void) { /* uniform in -1..1, a fixed linear congruential sequence */
    seed = (seed * 1103515245UL + 12345UL) & 0x7fffffffUL;
    return (double)seed / 1073741823.5 - 1.0;
}

static void add(int at, double l, double r) {
    if (at >= 0 && at < FRAMES) {
        left[at] += l;
        right[at] += r;
    }
}

/* A tone with harmonics falling as 1/n, a short attack and an exponential decay. */
static void note(double hz, int start, int length, double amp, double pan, int harmonics,
                 double decay) {
    int i, h;
    for (i = 0; i < length; ++i) {
        const double t = (double)i / RATE;
        const double env = fmin(1.0, t / 0.01) * exp(-t / decay);
        double v = 0.0;
        for (h = 1; h <= harmonics; ++h)
            v += sin(2.0 * M_PI * hz * h * t) / h;
        add(start + i, amp * env * v * (1.0 - pan), amp * env * v * (1.0 + pan));
    }
}

static void kick(int start) {
    double phase = 0.0;
    int i;
    for (i = 0; i < RATE / 4; ++i) {
        const double t = (double)i / RATE;
        phase += 2.0 * M_PI * (50.0 + 90.0 * exp(-t / 0.03)) / RATE;
        add(start + i, 0.9 * exp(-t / 0.09) * sin(phase), 0.9 * exp(-t / 0.09) * sin(phase));
    }
}

static void hat(int start, double amp) {
    double prev = 0.0;
    int i;
    for (i = 0; i < RATE / 20; ++i) {
        const double n = noise(), v = (n - prev) * 0.5; /* first difference: a bright hiss */
        prev = n;
        add(start + i, 0.4 * amp * v * exp(-i / (0.012 * RATE)),
            amp * v * exp(-i / (0.012 * RATE)));
    }
}

int main(int argc, char **argv) {
    static const double chords[2][3] = {{220.00, 261.63, 329.63}, {174.61, 220.00, 261.63}};
    static const double bass[4] = {110.00, 110.00, 87.31, 98.00};
    static short pcm[FRAMES * 2];
    SF_INFO info = {0};
    SNDFILE *f;
    double peak = 0.0;
    int b, i, k;

    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        printf("Usage: make-example-clip OUT.wav\n\nWrites the example clip: two seconds of a "
               "generated groove, 16-bit stereo at 44100 Hz.\n");
        return 0;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
        return 2;
    }
    for (b = 0; b < 4; ++b) {
        if (b % 2 == 0)
            kick(b * BEAT);
        note(bass[b], b * BEAT, BEAT, 0.35, 0.0, 4, 0.25);
        for (k = 0; k < 8 && b < 2; ++k) /* eight hats over the first two beats, then four */
            hat(b * BEAT + k * BEAT / 4, k % 2 ? 0.5 : 0.9);
        for (k = 0; k < 2 && b >= 2; ++k)
            hat(b * BEAT + k * BEAT / 2, 0.9);
    }
    for (k = 0; k < 2; ++k)
        for (i = 0; i < 3; ++i)
            note(chords[k][i], k * 2 * BEAT, 2 * BEAT, 0.12, (i - 1) * 0.5, 6, 0.6);

    for (i = 0; i < FRAMES; ++i)
        peak = fmax(peak, fmax(fabs(left[i]), fabs(right[i])));
    for (i = 0; i < FRAMES; ++i) {
        /* 10 ms fades, then scale to a 0.5 (-6 dBFS) peak */
        const double fade = fmin(1.0, fmin(i, FRAMES - 1 - i) / (0.01 * RATE));
        pcm[2 * i] = (short)lrint(32767.0 * 0.5 * fade * left[i] / peak);
        pcm[2 * i + 1] = (short)lrint(32767.0 * 0.5 * fade * right[i] / peak);
    }

    info.samplerate = RATE;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    f = sf_open(argv[1], SFM_WRITE, &info);
    if (!f) {
        fprintf(stderr, "make-example-clip: %s: %s\n", argv[1], sf_strerror(NULL));
        return 1;
    }
    if (sf_writef_short(f, pcm, FRAMES) != FRAMES || sf_close(f) != 0) {
        fprintf(stderr, "make-example-clip: %s: %s\n", argv[1], sf_strerror(NULL));
        return 1;
    }
    return 0;
}
