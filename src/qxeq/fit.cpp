// Fitting the eight band gains to a target curve: the gains and free level whose combined
// response is closest, in the least-squares sense with a penalty on large gains, to a target
// given at any frequencies. A Levenberg-Marquardt search with the exact first and second
// derivatives of the peaking filters does the work, the level eliminated in closed form and the
// gain limits kept as active constraints. J has more than one minimum once gains press against
// their limits, so besides the flat start six more are tried on a few of the points, and the
// best of those is finished on all of them. Reads and changes no equaliser state and keeps
// everything on the stack, so calls may overlap and run on any thread.
#include "qxeq.h"

#include "equaliser.h"

#include <cmath>

namespace qxeq {

namespace {

constexpr double k_two_pi = 6.283185307179586; // 2 * pi, as the response computes it
constexpr double k_ln10_over_20 = 0.11512925464970229;
// 10 / ln(10): the search's dB come from the natural logarithm, which costs less; the results
// it reports come from the equaliser's own response.
constexpr double k_db_per_neper = 4.3429448190325175;
// Per-point geometry is kept for this many points; beyond them it is recomputed on each pass,
// which keeps the stack small for large targets.
constexpr int32_t k_cached_points = 512;
constexpr int32_t k_max_iterations = 200;
constexpr int32_t k_coarse_points = 32;
// Gains settle to well below 1e-9 dB: a step this small ends the search.
constexpr double k_step_tolerance_db = 1e-10;

struct point_geometry {
    double cos_w;  // cos of the point's angular frequency
    double sin2_w; // its sine squared
};

// What one pass over the points yields at a set of gains: the cost J, half its gradient and
// half its Hessian, with the level already eliminated. The Hessian is the Gauss-Newton matrix
// plus the residuals times the response's second derivatives, which lie on the diagonal: a
// band's response depends on its own gain only.
struct normal_equations {
    double cost;
    double mean_residual; // minus the best level, less the target's mean
    double gradient[k_bands];
    double matrix[k_bands][k_bands]; // Gauss-Newton: positive semi-definite
    double curvature[k_bands];       // the residuals' own curvature, on the diagonal only
};

struct problem {
    const double *freq_hz;
    const double *target_db;
    int32_t count;
    int32_t fs;
    double smoothness;
    double target_mean; // subtracted from the target so that sums stay small
    bool active[k_bands];
    point_geometry cache[k_cached_points];
};

point_geometry geometry_at(const problem &p, int32_t i) {
    if (i < k_cached_points)
        return p.cache[i];
    const double w = (p.freq_hz[i] * k_two_pi) / static_cast<double>(p.fs);
    const double s = std::sin(w);
    return point_geometry{std::cos(w), s * s};
}

// A band whose design ignores its gain (switched off at this rate) contributes nothing.
bool band_has_effect(int32_t band, int32_t fs) {
    const raw_coeffs lo = design_band(band, -k_max_gain_db, fs);
    const raw_coeffs hi = design_band(band, k_max_gain_db, fs);
    return lo.b0 != hi.b0 || lo.a0 != hi.a0;
}

// One pass over the points. A biquad's squared magnitude at angle w is
// ((b0 + b2) cos w + b1)^2 + ((b0 - b2) sin w)^2, and likewise for the denominator. The peaking
// design keeps b0 + b2, a0 + a2, b1 and a1 fixed while b0 - b2 = 2 alpha A and a0 - a2 =
// 2 alpha / A follow A = 10^(g / 40), so a band's response in dB changes with its gain at the
// rate 0.5 * (n / |N|^2 + d / |D|^2) dB per dB, where n = (b0 - b2)^2 sin^2 w and
// d = (a0 - a2)^2 sin^2 w, whose own rates are +-n and d times ln(10) / 20 per dB.
// Residuals are summed less shift, a guess at their mean, so that the centred sums keep their
// precision down to an exact fit.
void evaluate(const problem &p, const double *gain_db, double shift, normal_equations &ne) {
    // A band switched off gets terms that give |N|^2 = |D|^2 = 1 and no slope, so that the loop
    // below has no branch.
    double bs[k_bands], bd2[k_bands], b1[k_bands], as[k_bands], ad2[k_bands], a1[k_bands];
    for (int32_t k = 0; k < k_bands; ++k) {
        const raw_coeffs r = design_band(k, gain_db[k], p.fs);
        const bool on = p.active[k];
        bs[k] = on ? r.b0 + r.b2 : 0.0;
        bd2[k] = on ? (r.b0 - r.b2) * (r.b0 - r.b2) : 0.0;
        b1[k] = on ? r.b1 : 1.0;
        as[k] = on ? r.a0 + r.a2 : 0.0;
        ad2[k] = on ? (r.a0 - r.a2) * (r.a0 - r.a2) : 0.0;
        a1[k] = on ? r.a1 : 1.0;
    }
    double sum_r = 0, sum_r2 = 0;
    double sum_j[k_bands] = {}, sum_jr[k_bands] = {}, sum_jj[k_bands][k_bands] = {};
    double sum_c[k_bands] = {}, sum_cr[k_bands] = {};
    for (int32_t i = 0; i < p.count; ++i) {
        const point_geometry g = geometry_at(p, i);
        double band_ratio[k_bands], jac[k_bands], curv[k_bands];
        for (int32_t k = 0; k < k_bands; ++k) {
            const double nc = bs[k] * g.cos_w + b1[k];
            const double dc = as[k] * g.cos_w + a1[k];
            const double ns = bd2[k] * g.sin2_w;
            const double ds = ad2[k] * g.sin2_w;
            const double num = nc * nc + ns;
            const double den = dc * dc + ds;
            const double inv_both = 1.0 / (num * den); // one division serves both
            const double inv_n = den * inv_both;
            const double inv_d = num * inv_both;
            band_ratio[k] = num * inv_d;
            jac[k] = 0.5 * (ns * inv_n + ds * inv_d);
            curv[k] = (0.5 * k_ln10_over_20) *
                      ((ns * (nc * nc)) * (inv_n * inv_n) - (ds * (dc * dc)) * (inv_d * inv_d));
        }
        double ratio = 1.0;
        for (int32_t k = 0; k < k_bands; ++k)
            ratio *= band_ratio[k];
        const double r =
            (k_db_per_neper * std::log(ratio) - (p.target_db[i] - p.target_mean)) - shift;
        sum_r += r;
        sum_r2 += r * r;
        for (int32_t k = 0; k < k_bands; ++k) {
            sum_j[k] += jac[k];
            sum_jr[k] += jac[k] * r;
            sum_c[k] += curv[k];
            sum_cr[k] += curv[k] * r;
            for (int32_t l = 0; l <= k; ++l)
                sum_jj[k][l] += jac[k] * jac[l];
        }
    }
    // The best level for these gains is minus the mean residual; what remains is the residual
    // and the Jacobian with their means removed.
    const double n = static_cast<double>(p.count);
    const double weight = p.smoothness / k_bands;
    double penalty = 0;
    for (int32_t k = 0; k < k_bands; ++k)
        penalty += gain_db[k] * gain_db[k];
    const double shape = sum_r2 - (sum_r * sum_r) / n;
    ne.cost = (shape > 0 ? shape : 0.0) / n + weight * penalty;
    ne.mean_residual = shift + sum_r / n;
    for (int32_t k = 0; k < k_bands; ++k) {
        ne.gradient[k] = (sum_jr[k] - (sum_j[k] * sum_r) / n) / n + weight * gain_db[k];
        ne.curvature[k] = (sum_cr[k] - (sum_c[k] * sum_r) / n) / n;
        for (int32_t l = 0; l <= k; ++l) {
            const double m = (sum_jj[k][l] - (sum_j[k] * sum_j[l]) / n) / n + (k == l ? weight : 0);
            ne.matrix[k][l] = m;
            ne.matrix[l][k] = m;
        }
    }
}

// Solve the m x m symmetric positive definite system a x = b (row stride k_bands) by Cholesky;
// false when it is not positive definite at working precision.
bool cholesky_solve(double a[k_bands][k_bands], int32_t m, double *b) {
    for (int32_t j = 0; j < m; ++j) {
        double d = a[j][j];
        for (int32_t k = 0; k < j; ++k)
            d -= a[j][k] * a[j][k];
        if (!(d > 0))
            return false;
        a[j][j] = std::sqrt(d);
        for (int32_t i = j + 1; i < m; ++i) {
            double s = a[i][j];
            for (int32_t k = 0; k < j; ++k)
                s -= a[i][k] * a[j][k];
            a[i][j] = s / a[j][j];
        }
    }
    for (int32_t i = 0; i < m; ++i) {
        double s = b[i];
        for (int32_t k = 0; k < i; ++k)
            s -= a[i][k] * b[k];
        b[i] = s / a[i][i];
    }
    for (int32_t i = m - 1; i >= 0; --i) {
        double s = b[i];
        for (int32_t k = i + 1; k < m; ++k)
            s -= a[k][i] * b[k];
        b[i] = s / a[i][i];
    }
    return true;
}

double clamp_gain(double g) {
    return g < -k_max_gain_db ? -k_max_gain_db : (g > k_max_gain_db ? k_max_gain_db : g);
}

// Minimise 0.5 d'Hd + c'd over lo <= d <= hi for the bands in use (the others stay 0), H
// symmetric positive definite, lo <= 0 <= hi: the primal active-set method from d = 0. Each
// pass solves for the free bands with the held ones at their limits, then either stops at the
// first limit in the way and holds that band, or releases the held band whose limit the model
// pulls away from most. False when a solve fails.
bool solve_box_step(const double h[k_bands][k_bands], const double *c, const double *lo,
                    const double *hi, const bool *use, double *d) {
    int32_t held[k_bands]; // 0 free, -1 at lo, +1 at hi
    for (int32_t k = 0; k < k_bands; ++k) {
        d[k] = 0;
        held[k] = 0;
        if (use[k] && lo[k] == 0 && c[k] > 0)
            held[k] = -1;
        if (use[k] && hi[k] == 0 && c[k] < 0)
            held[k] = 1;
    }
    for (int32_t pass = 0; pass < 4 * k_bands; ++pass) {
        int32_t free_band[k_bands];
        int32_t m = 0;
        for (int32_t k = 0; k < k_bands; ++k)
            if (use[k] && held[k] == 0)
                free_band[m++] = k;
        double a[k_bands][k_bands], x[k_bands];
        for (int32_t i = 0; i < m; ++i) {
            const int32_t k = free_band[i];
            x[i] = -c[k];
            for (int32_t j = 0; j < k_bands; ++j)
                if (held[j] != 0)
                    x[i] -= h[k][j] * d[j];
            for (int32_t j = 0; j < m; ++j)
                a[i][j] = h[k][free_band[j]];
        }
        if (m > 0 && !cholesky_solve(a, m, x))
            return false;
        double fraction = 1;
        int32_t blocking = -1, side = 0;
        for (int32_t i = 0; i < m; ++i) {
            const int32_t k = free_band[i];
            const int32_t beyond = x[i] < lo[k] ? -1 : (x[i] > hi[k] ? 1 : 0);
            if (beyond == 0)
                continue;
            const double t = ((beyond < 0 ? lo[k] : hi[k]) - d[k]) / (x[i] - d[k]);
            if (t < fraction) {
                fraction = t;
                blocking = k;
                side = beyond;
            }
        }
        for (int32_t i = 0; i < m; ++i) {
            const int32_t k = free_band[i];
            d[k] += fraction * (x[i] - d[k]);
        }
        if (blocking >= 0) {
            held[blocking] = side;
            d[blocking] = side < 0 ? lo[blocking] : hi[blocking];
            continue;
        }
        int32_t release = -1;
        double worst = 0;
        for (int32_t k = 0; k < k_bands; ++k) {
            if (held[k] == 0)
                continue;
            double slope = c[k];
            for (int32_t j = 0; j < k_bands; ++j)
                slope += h[k][j] * d[j];
            const double pull = held[k] < 0 ? -slope : slope; // > 0: the model wants it inside
            if (pull > worst) {
                worst = pull;
                release = k;
            }
        }
        if (release < 0)
            break;
        held[release] = 0;
    }
    return true;
}

// Levenberg-Marquardt from the gains in g, which it improves in place; returns the cost there.
// Each step minimises the damped Gauss-Newton model within the gain limits, so a gain the
// model drives into a limit stays on it (an active constraint) until the model pulls it back.
// The search ends when the model promises no decrease the cost's precision could show.
double descend(const problem &p, double *g) {
    normal_equations ne;
    evaluate(p, g, 0.0, ne); // later passes sum less the mean residual found here
    double damping = 1e-4;
    for (int32_t iteration = 0; iteration < k_max_iterations; ++iteration) {
        bool improved = false;
        while (damping < 1e12) {
            // The full Newton model converges fast even where the residuals stay large; where
            // it is not positive definite the Gauss-Newton model, which always is, takes over.
            double h[k_bands][k_bands], lo[k_bands], hi[k_bands], step[k_bands];
            bool solved = false;
            int32_t model = 0;
            for (; model < 2; ++model) {
                for (int32_t k = 0; k < k_bands; ++k) {
                    for (int32_t l = 0; l < k_bands; ++l)
                        h[k][l] = ne.matrix[k][l];
                    if (model == 0)
                        h[k][k] += ne.curvature[k];
                    h[k][k] += damping * (ne.matrix[k][k] + 1e-12);
                    lo[k] = -k_max_gain_db - g[k];
                    hi[k] = k_max_gain_db - g[k];
                }
                solved = solve_box_step(h, ne.gradient, lo, hi, p.active, step);
                if (solved)
                    break;
            }
            if (!solved) {
                damping *= 8;
                continue;
            }
            double trial[k_bands], moved[k_bands];
            double largest_step = 0;
            for (int32_t k = 0; k < k_bands; ++k) {
                trial[k] = p.active[k] ? clamp_gain(g[k] + step[k]) : 0.0;
                moved[k] = trial[k] - g[k];
                if (std::fabs(moved[k]) > largest_step)
                    largest_step = std::fabs(moved[k]);
            }
            // The decrease the undamped model predicts for the step.
            double predicted = 0;
            for (int32_t k = 0; k < k_bands; ++k) {
                double curvature = model == 0 ? ne.curvature[k] * moved[k] : 0.0;
                for (int32_t l = 0; l < k_bands; ++l)
                    curvature += ne.matrix[k][l] * moved[l];
                predicted -= moved[k] * (ne.gradient[k] + 0.5 * curvature);
            }
            if (largest_step < k_step_tolerance_db || !(predicted > 1e-15 * ne.cost + 1e-30))
                break;
            normal_equations next;
            evaluate(p, trial, ne.mean_residual, next);
            if (next.cost < ne.cost) {
                for (int32_t k = 0; k < k_bands; ++k)
                    g[k] = trial[k];
                ne = next;
                damping = damping / 4 < 1e-9 ? 1e-9 : damping / 4;
                improved = true;
                break;
            }
            damping *= 8;
        }
        if (!improved)
            break;
    }
    return ne.cost;
}

// Starting points. J is close to quadratic in the gains, and the Gauss-Newton step from flat
// is the linearised least-squares solution, so flat is the main start; the others are there
// for targets that drive gains into their limits, where the constrained problem can hold more
// than one local minimum.
constexpr int32_t k_starts = 7;
constexpr double k_start_gain_db[k_starts][k_bands] = {
    {0, 0, 0, 0, 0, 0, 0, 0},
    {12, 12, 12, 12, 12, 12, 12, 12},
    {-12, -12, -12, -12, -12, -12, -12, -12},
    {12, -12, 12, -12, 12, -12, 12, -12},
    {-12, 12, -12, 12, -12, 12, -12, 12},
    {18, 12, 6, 0, 0, -6, -12, -18},
    {-18, -12, -6, 0, 0, 6, 12, 18},
};

// A problem on k_coarse_points of the points, spread evenly through the arrays, for trying
// starting points cheaply.
struct coarse_problem {
    double freq_hz[k_coarse_points];
    double target_db[k_coarse_points];
    problem p;
};

void select_coarse(const problem &full, coarse_problem &c) {
    c.p = full;
    c.p.count = k_coarse_points;
    c.p.freq_hz = c.freq_hz;
    c.p.target_db = c.target_db;
    double sum = 0;
    for (int32_t j = 0; j < k_coarse_points; ++j) {
        const auto i =
            static_cast<int32_t>((static_cast<int64_t>(j) * full.count) / k_coarse_points);
        c.freq_hz[j] = full.freq_hz[i];
        c.target_db[j] = full.target_db[i];
        c.p.cache[j] = geometry_at(full, i);
        sum += full.target_db[i];
    }
    c.p.target_mean = sum / k_coarse_points;
}

} // namespace

} // namespace qxeq

using namespace qxeq;

// MARK: fitting

int32_t qxeq_fit_gains(const double *freq_hz, const double *target_db, int32_t count,
                       int32_t sample_rate, double smoothness, double *gains_db, double *level_db,
                       double *rms_error_db) {
    if (!freq_hz || !target_db || !gains_db || !level_db || !rms_error_db)
        return QX_ERR_INVALID_ARG;
    if (count < 1 || count > QXEQ_FIT_MAX_POINTS)
        return QX_ERR_INVALID_ARG;
    if (sample_rate < 1 || sample_rate > k_max_rate)
        return QX_ERR_BAD_SAMPLE_RATE;
    if (!std::isfinite(smoothness) || smoothness < 0)
        return QX_ERR_INVALID_ARG;
    const double nyquist = static_cast<double>(sample_rate) / 2;
    double target_sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        if (!(freq_hz[i] > 0 && freq_hz[i] < nyquist))
            return QX_ERR_INVALID_ARG;
        if (!std::isfinite(target_db[i]))
            return QX_ERR_INVALID_ARG;
        target_sum += target_db[i];
    }

    problem p;
    p.freq_hz = freq_hz;
    p.target_db = target_db;
    p.count = count;
    p.fs = sample_rate;
    p.smoothness = smoothness;
    p.target_mean = target_sum / static_cast<double>(count);
    if (!std::isfinite(p.target_mean))
        return QX_ERR_INVALID_ARG; // finite values, huge sum
    for (int32_t k = 0; k < k_bands; ++k)
        p.active[k] = band_has_effect(k, sample_rate);
    for (int32_t i = 0; i < count && i < k_cached_points; ++i) {
        const double w = (freq_hz[i] * k_two_pi) / static_cast<double>(sample_rate);
        const double s = std::sin(w);
        p.cache[i] = point_geometry{std::cos(w), s * s};
    }

    // The flat start on every point; the others on an even selection of the points, where a
    // search costs a fraction. When one of them ends in a better place there than the flat
    // start's result, it is finished on every point.
    double best[k_bands];
    for (int32_t k = 0; k < k_bands; ++k)
        best[k] = 0.0;
    double best_cost = descend(p, best);
    const bool coarse = 2 * count > 3 * k_coarse_points;
    coarse_problem c;
    double best_coarse_cost = 0;
    double candidate[k_bands];
    if (coarse) {
        select_coarse(p, c);
        normal_equations ne;
        evaluate(c.p, best, 0.0, ne);
        best_coarse_cost = ne.cost;
    }
    bool found = false;
    for (int32_t start = 1; start < k_starts; ++start) {
        double g[k_bands];
        for (int32_t k = 0; k < k_bands; ++k)
            g[k] = p.active[k] ? k_start_gain_db[start][k] : 0.0;
        const double cost = descend(coarse ? c.p : p, g);
        double &bar = coarse ? best_coarse_cost : best_cost;
        if (!(cost < bar * (1 - 1e-9)))
            continue;
        bar = cost;
        for (int32_t k = 0; k < k_bands; ++k)
            (coarse ? candidate : best)[k] = g[k];
        found = true;
    }
    if (coarse && found) {
        const double cost = descend(p, candidate);
        if (cost < best_cost) {
            best_cost = cost;
            for (int32_t k = 0; k < k_bands; ++k)
                best[k] = candidate[k];
        }
    }

    // Level and error from the response exactly as qxeq_response_db computes it, in one pass:
    // the errors are summed less the first one, so that the RMS keeps its precision down to an
    // exact fit, where all of them are equal.
    double guess = 0, sum = 0, sum2 = 0;
    for (int32_t i = 0; i < count; ++i) {
        const double error = combined_response_db(best, sample_rate, freq_hz[i]) - target_db[i];
        if (i == 0)
            guess = error;
        const double e = error - guess;
        sum += e;
        sum2 += e * e;
    }
    const double n = static_cast<double>(count);
    const double level = -(guess + sum / n);
    const double shape = sum2 / n - (sum / n) * (sum / n);
    for (int32_t k = 0; k < k_bands; ++k)
        gains_db[k] = best[k];
    *level_db = level;
    *rms_error_db = std::sqrt(shape > 0 ? shape : 0.0);
    return QX_OK;
}
