// Fitting the gains to a target curve, and the peak of the response. Targets made from known
// gains must come back as those gains; targets no setting reaches are checked against a
// differential-evolution search written here, on the textbook peaking biquad, which shares no
// code or method with the library's solver. The peak is checked against dense sampling.
#include "defaults.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Fit = EqualiserTest;
constexpr double k_centres[8] = {400, 620, 960, 1500, 2400, 3700, 6200, 9600};
constexpr double k_pi = 3.141592653589793;

struct curve {
    std::vector<double> hz, db;
};

// n log-spaced frequencies from 20 Hz to the lower of 20 kHz and top_fraction of half the rate.
std::vector<double> log_frequencies(int32_t rate, int n, double top_fraction = 0.95) {
    const double hi = std::min(20000.0, top_fraction * rate / 2.0), lo = std::min(20.0, hi / 10);
    std::vector<double> hz;
    for (int i = 0; i < n; ++i)
        hz.push_back(lo * std::pow(hi / lo, i / (n - 1.0)));
    return hz;
}

// The equaliser's own response for these gains, through the public calls.
curve response_of(const double (&gains)[8], int32_t rate, const std::vector<double> &hz,
                  double level = 0.0) {
    EXPECT_EQ(qxeq_set_sample_rate(rate), QX_OK);
    for (uint32_t k = 0; k < 8; ++k)
        EXPECT_EQ(qxeq_set_gain(k, gains[k]), QX_OK);
    curve c{hz, {}};
    for (double f : hz)
        c.db.push_back(qxeq_response_db(f) + level);
    return c;
}

struct fit_result {
    int32_t status;
    double gains[8], level, rms;
};

fit_result fit(const curve &c, int32_t rate, double smoothness) {
    fit_result r{};
    r.status = qxeq_fit_gains(c.hz.data(), c.db.data(), static_cast<int32_t>(c.hz.size()), rate,
                              smoothness, r.gains, &r.level, &r.rms);
    return r;
}

// MARK: an independent model and search

// The cost J for a target, on the textbook peaking biquad written out here from the filter
// formulas (not taken from the library), with the best level for each set of gains.
struct objective {
    int32_t rate;
    double smoothness;
    curve target;
    std::vector<double> c1, s1, c2, s2; // cos w, sin w, cos 2w, sin 2w at each point

    objective(const curve &t, int32_t r, double s) : rate(r), smoothness(s), target(t) {
        for (double f : t.hz) {
            const double w = 2 * k_pi * f / r;
            c1.push_back(std::cos(w));
            s1.push_back(std::sin(w));
            c2.push_back(std::cos(2 * w));
            s2.push_back(std::sin(2 * w));
        }
    }

    double operator()(const double *g) const {
        const size_t n = c1.size();
        std::vector<double> e(n);
        for (size_t i = 0; i < n; ++i)
            e[i] = -target.db[i];
        for (int k = 0; k < 8; ++k) {
            if (2 * k_centres[k] >= rate)
                continue; // no such filter at this rate
            const double A = std::pow(10.0, g[k] / 40), w0 = 2 * k_pi * k_centres[k] / rate;
            const double alpha = std::sin(w0) / (2 * 0.8), c = std::cos(w0);
            const double b[3] = {1 + alpha * A, -2 * c, 1 - alpha * A};
            const double a[3] = {1 + alpha / A, -2 * c, 1 - alpha / A};
            for (size_t i = 0; i < n; ++i) {
                const double nr = b[0] + b[1] * c1[i] + b[2] * c2[i],
                             ni = b[1] * s1[i] + b[2] * s2[i];
                const double dr = a[0] + a[1] * c1[i] + a[2] * c2[i],
                             di = a[1] * s1[i] + a[2] * s2[i];
                e[i] += 10 * std::log10((nr * nr + ni * ni) / (dr * dr + di * di));
            }
        }
        double mean = 0, j = 0, p = 0;
        for (double v : e)
            mean += v / static_cast<double>(n);
        for (double v : e)
            j += (v - mean) * (v - mean) / static_cast<double>(n);
        for (int k = 0; k < 8; ++k)
            p += g[k] * g[k];
        return j + smoothness * p / 8;
    }
};

// Differential evolution (rand/1/bin) over the box [-24, 24]^8 from a fixed seed: a global
// search that needs no derivatives and shares nothing with the library's solver.
double search_minimum(const objective &J) {
    constexpr int pop = 32, generations = 300;
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> box(-24, 24), unit(0, 1);
    std::vector<std::array<double, 8>> x(pop);
    std::vector<double> cost(pop);
    for (int i = 0; i < pop; ++i) {
        for (double &v : x[i])
            v = box(rng);
        cost[i] = J(x[i].data());
    }
    for (int gen = 0; gen < generations; ++gen) {
        for (int i = 0; i < pop; ++i) {
            int a, b, c;
            do
                a = static_cast<int>(rng() % pop);
            while (a == i);
            do
                b = static_cast<int>(rng() % pop);
            while (b == i || b == a);
            do
                c = static_cast<int>(rng() % pop);
            while (c == i || c == a || c == b);
            const int forced = static_cast<int>(rng() % 8);
            std::array<double, 8> y = x[i];
            for (int k = 0; k < 8; ++k)
                if (k == forced || unit(rng) < 0.9)
                    y[k] = std::clamp(x[a][k] + 0.6 * (x[b][k] - x[c][k]), -24.0, 24.0);
            const double cy = J(y.data());
            if (cy <= cost[i])
                x[i] = y, cost[i] = cy;
        }
    }
    return *std::min_element(cost.begin(), cost.end());
}

// Targets no setting reaches: steps, slopes beyond the gain limits, ripples finer than the
// bands, a narrow notch, noise, and a correction shaped like a published one.
curve shaped_target(int shape, int32_t rate, int n) {
    curve t{log_frequencies(rate, n), {}};
    std::mt19937 rng(static_cast<unsigned>(shape));
    std::normal_distribution<double> noise(0, 6);
    for (double f : t.hz) {
        const double x = std::log(f);
        switch (shape) {
        case 0:
            t.db.push_back(f > 1000 ? 10 : 0);
            break;
        case 1:
            t.db.push_back(30 * std::log10(f / 20));
            break;
        case 2:
            t.db.push_back(20 * std::sin(6 * x));
            break;
        case 3:
            t.db.push_back(f > 2000 && f < 2600 ? -30 : 0);
            break;
        case 4:
            t.db.push_back(40 * std::sin(2.3 * x) + noise(rng));
            break;
        case 5:
            t.db.push_back(noise(rng));
            break;
        default: // a headphone correction: bass lift, presence dip, treble peak, roll-off
            t.db.push_back(5 / (1 + (f / 90) * (f / 90)) -
                           4.5 * std::exp(-std::pow(std::log2(f / 2900) / 0.45, 2)) +
                           6 * std::exp(-std::pow(std::log2(f / 7800) / 0.35, 2)) -
                           3 / (1 + std::pow(12000 / f, 4)));
            break;
        }
    }
    return t;
}

// MARK: fitting

TEST_F(Fit, TargetsMadeFromKnownGainsComeBackAsThoseGains) {
    // Rates where bands switch off exactly at half the rate, or sit just below it.
    const int32_t rates[] = {8000, 12400, 12401, 19200, 19201, 22050, 44100, 48000, 96000, 384000};
    const double settings[][8] = {
        {4, 2, 0, 0, 0, 2, 3, 0},
        {24, 24, 24, 24, 24, 24, 24, 24},
        {-24, -24, -24, -24, -24, -24, -24, -24},
        {24, -24, 24, -24, 24, -24, 24, -24},
        {-11.5, 12.25, -7.125, 0.5, 19.75, -23.9, 6.3, -2.2},
        {0, 0, 0, 0, 0, 0, 0, 24},
    };
    for (int32_t rate : rates) {
        for (const auto &g : settings) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, band 0 at " + std::to_string(g[0]));
            const curve t = response_of(g, rate, log_frequencies(rate, 300, 0.999), 7.5);
            const fit_result r = fit(t, rate, 0.0);
            ASSERT_EQ(r.status, QX_OK);
            for (int k = 0; k < 8; ++k) {
                if (2 * k_centres[k] >= rate)
                    EXPECT_EQ(r.gains[k], 0.0) << "band " << k << " is off at this rate";
                else
                    EXPECT_NEAR(r.gains[k], g[k], 0.01) << "band " << k;
            }
            EXPECT_NEAR(r.level, 7.5, 0.01);
            EXPECT_LT(r.rms, 0.001);
        }
    }
}

// Few points, many points (more than the solver keeps per-point values for) and any order.
TEST_F(Fit, PointCountAndOrderDoNotChangeTheResult) {
    const double g[8] = {-6.5, 3.25, 9.0, -2.0, 0.75, -12.0, 4.5, 1.0};
    for (int n : {12, 97, 300, 2000}) {
        SCOPED_TRACE(std::to_string(n) + " points");
        const curve sorted = response_of(g, 44100, log_frequencies(44100, n), -1.25);
        curve shuffled = sorted;
        std::mt19937 rng(static_cast<unsigned>(n));
        for (size_t i = shuffled.hz.size() - 1; i > 0; --i) {
            const size_t j = rng() % (i + 1);
            std::swap(shuffled.hz[i], shuffled.hz[j]);
            std::swap(shuffled.db[i], shuffled.db[j]);
        }
        const fit_result a = fit(sorted, 44100, 0.0), b = fit(shuffled, 44100, 0.0);
        ASSERT_EQ(a.status, QX_OK);
        ASSERT_EQ(b.status, QX_OK);
        for (int k = 0; k < 8; ++k) {
            EXPECT_NEAR(a.gains[k], g[k], 0.01) << "band " << k;
            EXPECT_NEAR(b.gains[k], a.gains[k], 1e-6) << "band " << k;
        }
        EXPECT_NEAR(a.level, -1.25, 0.01);
        EXPECT_NEAR(b.level, a.level, 1e-6);
    }
}

TEST_F(Fit, UnreachableTargetsMeetTheGlobalMinimumOfAnIndependentSearch) {
    struct {
        int shape;
        int32_t rate;
        double smoothness;
    } const cases[] = {
        {0, 44100, 0.0},  {0, 44100, 0.01}, {1, 44100, 0.01},  {2, 44100, 0.0},  {2, 19201, 0.01},
        {3, 48000, 0.01}, {3, 8000, 0.1},   {4, 44100, 0.001}, {4, 12401, 0.01}, {5, 96000, 0.01},
        {5, 22050, 0.0},  {1, 384000, 0.1}, {6, 48000, 0.0},   {6, 48000, 0.01}, {6, 19201, 0.01},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("shape " + std::to_string(c.shape) + " at " + std::to_string(c.rate) +
                     " Hz, smoothness " + std::to_string(c.smoothness));
        const curve t = shaped_target(c.shape, c.rate, 80);
        const fit_result r = fit(t, c.rate, c.smoothness);
        ASSERT_EQ(r.status, QX_OK);
        const objective J(t, c.rate, c.smoothness);
        const double found = J(r.gains), searched = search_minimum(J);
        EXPECT_LE(found, searched * 1.01 + 1e-9) << "search reached " << searched;
        for (double g : r.gains) {
            EXPECT_GE(g, -24.0);
            EXPECT_LE(g, 24.0);
        }
        // The reported error is the first term of J, level and all.
        double penalty = 0;
        for (double g : r.gains)
            penalty += g * g;
        EXPECT_NEAR(r.rms * r.rms + c.smoothness * penalty / 8, found, 1e-9 * (1 + found));
    }
}

// At true minima a heavier penalty can only buy smaller gains with a larger error; a solver
// that stops in a local minimum breaks that order sooner or later.
TEST_F(Fit, MoreSmoothnessNeverGivesLargerGainsOrASmallerError) {
    for (int shape = 0; shape < 7; ++shape) {
        SCOPED_TRACE(shape);
        const curve t = shaped_target(shape, 44100, 200);
        double last_penalty = HUGE_VAL, last_rms = 0;
        for (double s : {0.0, 0.0001, 0.001, 0.01, 0.03, 0.1, 0.3, 1.0, 10.0}) {
            const fit_result r = fit(t, 44100, s);
            ASSERT_EQ(r.status, QX_OK);
            double penalty = 0;
            for (double g : r.gains)
                penalty += g * g;
            EXPECT_LE(penalty, last_penalty * (1 + 1e-6) + 1e-9) << "smoothness " << s;
            EXPECT_GE(r.rms, last_rms * (1 - 1e-6) - 1e-9) << "smoothness " << s;
            last_penalty = penalty;
            last_rms = r.rms;
        }
    }
}

TEST_F(Fit, LevelAndErrorAreThoseOfTheResponseTheEqualiserReports) {
    const curve t = shaped_target(4, 48000, 257);
    const fit_result r = fit(t, 48000, 0.01);
    ASSERT_EQ(r.status, QX_OK);
    const curve fitted = response_of(r.gains, 48000, t.hz);
    double mean = 0, sq = 0;
    for (size_t i = 0; i < t.hz.size(); ++i)
        mean += (t.db[i] - fitted.db[i]) / t.hz.size();
    for (size_t i = 0; i < t.hz.size(); ++i) {
        const double e = fitted.db[i] + mean - t.db[i];
        sq += e * e / t.hz.size();
    }
    EXPECT_NEAR(r.level, mean, 1e-9);
    EXPECT_NEAR(r.rms, std::sqrt(sq), 1e-9);
}

TEST_F(Fit, EdgeCases) {
    struct {
        const char *what;
        std::vector<double> hz, db;
        int32_t rate;
        double smoothness, level, rms;
    } const cases[] = {
        // One point: the level alone matches it.
        {"one point", {1000}, {-4.5}, 44100, 0.0, -4.5, 0.0},
        // No band exists at 800 Hz or less: only the level is left to fit.
        {"no bands", {10, 100, 300}, {1, 2, 6}, 800, 0.0, 3.0, std::sqrt(14.0 / 3)},
        // A flat target needs no band at all, however small the rate.
        {"flat", {20, 200, 2000, 3999}, {2, 2, 2, 2}, 8000, 0.0, 2.0, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const fit_result r = fit(curve{c.hz, c.db}, c.rate, c.smoothness);
        ASSERT_EQ(r.status, QX_OK);
        for (double g : r.gains)
            EXPECT_NEAR(g, 0.0, 1e-9);
        EXPECT_NEAR(r.level, c.level, 1e-9);
        EXPECT_NEAR(r.rms, c.rms, 1e-9);
    }
}

TEST_F(Fit, BadArgumentsWriteNothingAndLeaveTheLastErrorAlone) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> hz = log_frequencies(44100, 50), db(50, 1.0);
    std::vector<double> big(QXEQ_FIT_MAX_POINTS + 1, 1000.0);
    double gains[8], level, rms;
    struct {
        const char *what;
        const double *hz, *db;
        int32_t count, rate;
        double smoothness;
        double *gains, *level, *rms;
        int32_t status;
        int bad_point; // index given a bad value, or -1
        double bad_hz, bad_db;
    } const cases[] = {
        {"null frequencies", nullptr, db.data(), 50, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"null target", hz.data(), nullptr, 50, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"null gains", hz.data(), db.data(), 50, 44100, 0.01, nullptr, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"null level", hz.data(), db.data(), 50, 44100, 0.01, gains, nullptr, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"null error", hz.data(), db.data(), 50, 44100, 0.01, gains, &level, nullptr,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"no points", hz.data(), db.data(), 0, 44100, 0.01, gains, &level, &rms, QX_ERR_INVALID_ARG,
         -1, 0, 0},
        {"negative count", hz.data(), db.data(), -1, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"too many points", big.data(), big.data(), QXEQ_FIT_MAX_POINTS + 1, 44100, 0.01, gains,
         &level, &rms, QX_ERR_INVALID_ARG, -1, 0, 0},
        {"rate 0", hz.data(), db.data(), 50, 0, 0.01, gains, &level, &rms, QX_ERR_BAD_SAMPLE_RATE,
         -1, 0, 0},
        {"rate too high", hz.data(), db.data(), 50, 384001, 0.01, gains, &level, &rms,
         QX_ERR_BAD_SAMPLE_RATE, -1, 0, 0},
        {"negative smoothness", hz.data(), db.data(), 50, 44100, -1e-9, gains, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"NaN smoothness", hz.data(), db.data(), 50, 44100, nan, gains, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"infinite smoothness", hz.data(), db.data(), 50, 44100, inf, gains, &level, &rms,
         QX_ERR_INVALID_ARG, -1, 0, 0},
        {"0 Hz", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms, QX_ERR_INVALID_ARG, 0, 0.0,
         1},
        {"negative Hz", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms, QX_ERR_INVALID_ARG,
         7, -20, 1},
        {"half the rate", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, 49, 22050, 1},
        {"above half the rate", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, 49, 30000, 1},
        {"NaN Hz", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms, QX_ERR_INVALID_ARG, 3,
         nan, 1},
        {"NaN target", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms, QX_ERR_INVALID_ARG,
         3, 1000, nan},
        {"infinite target", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, 49, 1000, -inf},
        {"targets too large to sum", nullptr, nullptr, 50, 44100, 0.01, gains, &level, &rms,
         QX_ERR_INVALID_ARG, 1, 1000, 1.7e308},
    };
    ASSERT_EQ(qxeq_set_gain(9, 0.0), QX_ERR_NO_SUCH_BAND); // a last error to keep
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> f = hz, t = db;
        if (c.bad_point >= 0) {
            f[static_cast<size_t>(c.bad_point)] = c.bad_hz;
            t[static_cast<size_t>(c.bad_point)] = c.bad_db;
            if (std::strcmp(c.what, "targets too large to sum") == 0)
                t[0] = 1.7e308;
        }
        for (double &g : gains)
            g = 123.0;
        level = rms = 123.0;
        EXPECT_EQ(qxeq_fit_gains(c.bad_point >= 0 ? f.data() : c.hz,
                                 c.bad_point >= 0 ? t.data() : c.db, c.count, c.rate, c.smoothness,
                                 c.gains, c.level, c.rms),
                  c.status);
        for (double g : gains)
            EXPECT_EQ(g, 123.0);
        EXPECT_EQ(level, 123.0);
        EXPECT_EQ(rms, 123.0);
        EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
    }
}

// The fit reads no equaliser state and changes none, so it gives the same bits whatever the
// equaliser is set to, and on several threads at once.
TEST_F(Fit, ReadsAndChangesNoStateAndRunsOnAnyThread) {
    std::vector<curve> targets;
    for (int shape = 0; shape < 4; ++shape)
        targets.push_back(shaped_target(shape, 48000, 300));
    std::vector<fit_result> alone;
    for (const curve &t : targets)
        alone.push_back(fit(t, 48000, 0.01));

    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    ASSERT_EQ(qxeq_set_sample_rate(22050), QX_OK);
    ASSERT_EQ(qxeq_set_gain(9, 0.0), QX_ERR_NO_SUCH_BAND);
    std::vector<std::thread> threads;
    std::vector<int> mismatches(targets.size(), 0);
    for (size_t i = 0; i < targets.size(); ++i)
        threads.emplace_back([&, i] {
            for (int rep = 0; rep < 20; ++rep) {
                const fit_result r = fit(targets[i], 48000, 0.01);
                if (std::memcmp(&r, &alone[i], sizeof r) != 0)
                    ++mismatches[i];
            }
        });
    for (auto &th : threads)
        th.join();
    for (size_t i = 0; i < targets.size(); ++i)
        EXPECT_EQ(mismatches[i], 0) << "target " << i;
    EXPECT_EQ(qxeq_sample_rate(), 22050);
    EXPECT_EQ(qxeq_is_bypassed(), 0);
    EXPECT_EQ(qxeq_get_gain(0), 4.0);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
}

// MARK: peak

// The largest response over a dense grid: log-spaced from 0.1 Hz and even in Hz, both up to
// half the rate, plus the points next to half the rate where a band near it peaks.
double dense_peak(int32_t rate) {
    const double top = rate / 2.0;
    double best = qxeq_response_db(0.0);
    for (int i = 0; i <= 10000; ++i) {
        best = std::max(best, qxeq_response_db(0.1 * std::pow(top / 0.1, i / 10000.0)));
        best = std::max(best, qxeq_response_db(top * i / 10000.0));
        best = std::max(best, qxeq_response_db(top * (1 - std::pow(10.0, -1 - 8 * i / 10000.0))));
    }
    return best;
}

TEST_F(Fit, PeakIsTheLargestResponseUpToHalfTheRate) {
    const int32_t rates[] = {8000, 12401, 19201, 44100, 384000};
    const double settings[][8] = {
        {4, 2, 0, 0, 0, 2, 3, 0}, // PS_rock
        {24, 0, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0, 24},
        {0, 0, 0, 0, 0, 0, 24, 0},
        {24, -24, 24, -24, 24, -24, 24, -24},
        {-24, 24, -24, 24, -24, 24, -24, 24},
        {-3, -3, -3, 0.25, -3, -3, -3, -3},
        {6, 6, 6, 6, 6, 6, 6, 6},
        {1e-6, 0, 0, 0, 0, 0, 0, 0},
    };
    for (int32_t rate : rates) {
        for (const auto &g : settings) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, gains from " + std::to_string(g[0]));
            response_of(g, rate, {});
            double at = -1;
            const double peak = qxeq_peak_db(&at);
            const double dense = dense_peak(rate);
            EXPECT_GE(peak, dense - 1e-9);
            EXPECT_LE(peak, dense + 0.01);
            EXPECT_GE(at, 0.0);
            EXPECT_LE(at, rate / 2.0);
            if (at > 0) {
                EXPECT_EQ(qxeq_response_db(at), peak);
            } else { // 0 dB exactly; the response computes it to within rounding
                EXPECT_EQ(peak, 0.0);
                EXPECT_NEAR(qxeq_response_db(0.0), 0.0, 1e-9);
            }
            EXPECT_EQ(qxeq_peak_db(nullptr), peak);
        }
    }
}

TEST_F(Fit, PeakIsZeroAtZeroHertzWhenNothingRisesAboveZero) {
    ASSERT_EQ(qxeq_set_gain(9, 0.0), QX_ERR_NO_SUCH_BAND); // a last error to keep
    double at = -1;
    EXPECT_EQ(qxeq_peak_db(&at), 0.0) << "bypassed";
    EXPECT_EQ(at, 0.0);
    ASSERT_EQ(qxeq_set_preset("PS_rock"), QX_OK);
    ASSERT_EQ(qxeq_set_preset("PS_none"), QX_OK); // bypassed again, whatever the gains were
    EXPECT_EQ(qxeq_peak_db(&at), 0.0);
    for (uint32_t k = 0; k < 8; ++k)
        ASSERT_EQ(qxeq_set_gain(k, -6.0 - k), QX_OK);
    at = -1;
    EXPECT_EQ(qxeq_peak_db(&at), 0.0) << "only cuts";
    EXPECT_EQ(at, 0.0);
    ASSERT_EQ(qxeq_set_sample_rate(800), QX_OK); // no band at all
    for (uint32_t k = 0; k < 8; ++k)
        ASSERT_EQ(qxeq_set_gain(k, 12.0), QX_OK);
    EXPECT_EQ(qxeq_peak_db(&at), 0.0) << "no band";
    EXPECT_EQ(at, 0.0);
    ASSERT_EQ(qxeq_set_gain(9, 0.0), QX_ERR_NO_SUCH_BAND);
    EXPECT_EQ(qxeq_peak_db(nullptr), 0.0);
    EXPECT_STREQ(qxeq_last_error(), "ERR_NO_SUCH_BAND");
}

} // namespace
