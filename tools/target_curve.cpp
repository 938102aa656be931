// Reading target curves: GraphicEQ lines, ParametricEQ filter lists, CSV tables with a header
// and bare two-column tables, all through one line splitter and one number reader.
#include "target_curve.h"

#include "cli.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cli {

namespace {

constexpr double k_pi = 3.141592653589793;

struct line {
    int number; // 1-based, as an editor shows it
    std::string text;
};

std::string trim(const std::string &s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
        ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
        --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s) {
    for (char &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool starts_with_word(const std::string &text, const char *word) {
    const size_t n = std::strlen(word);
    return text.size() >= n && lower(text.substr(0, n)) == lower(word);
}

// The lines that carry something: comments cut off, CR LF and a leading byte-order mark
// accepted, blank lines dropped.
std::vector<line> content_lines(const std::string &text) {
    std::vector<line> lines;
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (int number = 1; start <= text.size(); ++number) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string s = text.substr(start, end - start);
        const size_t hash = s.find('#');
        if (hash != std::string::npos)
            s.erase(hash);
        s = trim(s); // also drops the CR of a CR LF
        if (!s.empty())
            lines.push_back({number, s});
        start = end + 1;
    }
    return lines;
}

[[noreturn]] void fail(const std::string &name, const line &l, const std::string &why) {
    throw error(name + " line " + std::to_string(l.number) + ": " + why);
}

// A finite decimal number: sign, digits with one '.' (or ',' when decimal_comma), exponent.
// No hexadecimal, "nan" or "inf", and nothing around it.
bool read_number(const std::string &field, bool decimal_comma, double &out) {
    std::string s = trim(field);
    if (s.empty())
        return false;
    bool digits = false, point = false;
    size_t i = 0;
    if (s[i] == '+' || s[i] == '-')
        ++i;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits = true;
        } else if ((c == '.' || (decimal_comma && c == ',')) && !point) {
            point = true;
            s[i] = '.';
        } else {
            break;
        }
    }
    if (!digits)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        if (j == s.size() || !std::isdigit(static_cast<unsigned char>(s[j])))
            return false;
        while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
            ++j;
        i = j;
    }
    if (i != s.size())
        return false;
    out = std::strtod(s.c_str(), nullptr); // the C locale: the tool never calls setlocale
    return std::isfinite(out);
}

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = s.find(sep, start);
        fields.push_back(trim(s.substr(start, end == std::string::npos ? end : end - start)));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

std::vector<std::string> split_spaces(const std::string &s) {
    std::vector<std::string> fields;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
            ++i;
        size_t j = i;
        while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j])))
            ++j;
        if (j > i)
            fields.push_back(s.substr(i, j - i));
        i = j;
    }
    return fields;
}

// A table's field separator, from its header line: ';', tab, comma, else runs of spaces.
char separator_of(const std::string &s) {
    for (char c : {';', '\t', ','})
        if (s.find(c) != std::string::npos)
            return c;
    return ' ';
}

std::vector<std::string> fields_of(const std::string &s, char sep) {
    return sep == ' ' ? split_spaces(s) : split(s, sep);
}

void check_frequency(const std::string &name, const line &l, double hz) {
    if (!(hz > 0)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "frequency %g Hz is not above 0 Hz", hz);
        fail(name, l, buf);
    }
}

// MARK: GraphicEQ

double preamp_of(const std::string &name, const line &l) {
    std::string v = trim(l.text.substr(std::strlen("preamp:")));
    if (v.size() >= 2 && lower(v.substr(v.size() - 2)) == "db")
        v = trim(v.substr(0, v.size() - 2));
    double db = 0;
    if (!read_number(v, true, db))
        fail(name, l, "expected 'Preamp: <gain> dB'");
    return db;
}

target_curve graphic_eq(const std::vector<line> &lines, const std::string &name) {
    target_curve t;
    t.format = "GraphicEQ";
    double preamp = 0;
    bool seen = false;
    for (const line &l : lines) {
        if (starts_with_word(l.text, "preamp:")) {
            preamp += preamp_of(name, l);
            continue;
        }
        if (!starts_with_word(l.text, "graphiceq:"))
            fail(name, l, "expected a 'GraphicEQ:' or 'Preamp:' line");
        if (seen)
            fail(name, l, "a second GraphicEQ line; one file holds one curve");
        seen = true;
        for (const std::string &pair : split(l.text.substr(std::strlen("graphiceq:")), ';')) {
            if (pair.empty())
                continue; // a trailing ';'
            const std::vector<std::string> f = split_spaces(pair);
            double hz = 0, db = 0;
            if (f.size() != 2 || !read_number(f[0], true, hz) || !read_number(f[1], true, db))
                fail(name, l, "'" + pair + "' is not a frequency and a gain in dB");
            check_frequency(name, l, hz);
            t.hz.push_back(hz);
            t.db.push_back(db);
        }
    }
    for (double &v : t.db)
        v += preamp;
    return t;
}

// MARK: ParametricEQ

struct filter {
    enum kind { peak, low_shelf, high_shelf } type;
    double fc, gain, q;
};

// |H(e^jw)|^2 in dB of a biquad: |e^jw N|^2 = ((b0 + b2) cos w + b1)^2 + ((b0 - b2) sin w)^2.
double biquad_db(const double (&b)[3], const double (&a)[3], double w) {
    const double c = std::cos(w), s = std::sin(w);
    const double nr = (b[0] + b[2]) * c + b[1], ni = (b[0] - b[2]) * s;
    const double dr = (a[0] + a[2]) * c + a[1], di = (a[0] - a[2]) * s;
    return 10 * std::log10((nr * nr + ni * ni) / (dr * dr + di * di));
}

// The standard peaking and shelving biquads (gain A^2, alpha = sin w0 / 2Q).
double filter_db(const filter &f, int rate, double hz) {
    const double A = std::pow(10.0, f.gain / 40), w0 = 2 * k_pi * f.fc / rate;
    const double c = std::cos(w0), alpha = std::sin(w0) / (2 * f.q), r = 2 * std::sqrt(A) * alpha;
    const double w = 2 * k_pi * hz / rate;
    switch (f.type) {
    case filter::peak: {
        const double b[3] = {1 + alpha * A, -2 * c, 1 - alpha * A};
        const double a[3] = {1 + alpha / A, -2 * c, 1 - alpha / A};
        return biquad_db(b, a, w);
    }
    case filter::low_shelf: {
        const double b[3] = {A * ((A + 1) - (A - 1) * c + r), 2 * A * ((A - 1) - (A + 1) * c),
                             A * ((A + 1) - (A - 1) * c - r)};
        const double a[3] = {(A + 1) + (A - 1) * c + r, -2 * ((A - 1) + (A + 1) * c),
                             (A + 1) + (A - 1) * c - r};
        return biquad_db(b, a, w);
    }
    case filter::high_shelf:
    default: {
        const double b[3] = {A * ((A + 1) + (A - 1) * c + r), -2 * A * ((A - 1) + (A + 1) * c),
                             A * ((A + 1) + (A - 1) * c - r)};
        const double a[3] = {(A + 1) - (A - 1) * c + r, 2 * ((A - 1) - (A + 1) * c),
                             (A + 1) - (A - 1) * c - r};
        return biquad_db(b, a, w);
    }
    }
}

// "Filter N: ON PK Fc 105 Hz Gain 5.5 dB Q 0.7"; false for an OFF filter.
bool read_filter(const std::string &name, const line &l, int rate, filter &f) {
    const size_t colon = l.text.find(':');
    const std::string label = trim(l.text.substr(0, colon));
    if (colon == std::string::npos ||
        !(lower(label) == "filter" ||
          (lower(label.substr(0, 7)) == "filter " &&
           trim(label.substr(7)).find_first_not_of("0123456789") == std::string::npos)))
        fail(name, l, "expected 'Filter N: ON PK|LSC|HSC Fc <Hz> Hz Gain <dB> dB Q <Q>'");
    const std::vector<std::string> w = split_spaces(l.text.substr(colon + 1));
    if (w.empty() || (lower(w[0]) != "on" && lower(w[0]) != "off"))
        fail(name, l, "expected ON or OFF after '" + label + ":'");
    if (lower(w[0]) == "off")
        return false;
    if (w.size() < 2)
        fail(name, l, "expected a filter type (PK, LSC or HSC) after ON");
    const std::string type = lower(w[1]);
    if (type == "pk")
        f.type = filter::peak;
    else if (type == "lsc")
        f.type = filter::low_shelf;
    else if (type == "hsc")
        f.type = filter::high_shelf;
    else
        fail(name, l, "filter type '" + w[1] + "' is not supported (PK, LSC or HSC)");
    bool have_fc = false, have_gain = false, have_q = false;
    f.q = 1 / std::sqrt(2.0);
    for (size_t i = 2; i < w.size(); ++i) {
        const std::string key = lower(w[i]);
        double *slot = key == "fc" ? &f.fc : key == "gain" ? &f.gain : key == "q" ? &f.q : nullptr;
        if (!slot || i + 1 >= w.size() || !read_number(w[i + 1], true, *slot))
            fail(name, l, "'" + w[i] + "' is not one of 'Fc <Hz> Hz', 'Gain <dB> dB', 'Q <Q>'");
        (key == "fc" ? have_fc : key == "gain" ? have_gain : have_q) = true;
        ++i;
        const char *unit = key == "fc" ? "hz" : key == "gain" ? "db" : nullptr;
        if (unit && i + 1 < w.size() && lower(w[i + 1]) == unit)
            ++i;
    }
    if (!have_fc || !have_gain || (f.type == filter::peak && !have_q))
        fail(name, l,
             std::string("missing ") +
                 (!have_fc     ? "Fc"
                  : !have_gain ? "Gain"
                               : "Q") +
                 " (a PK filter needs Fc, Gain and Q)");
    if (!(f.fc > 0 && 2 * f.fc < rate))
        fail(name, l,
             "Fc must lie between 0 Hz and half the rate (" + std::to_string(rate / 2) +
                 " Hz at --rate " + std::to_string(rate) + ")");
    if (!(f.q > 0))
        fail(name, l, "Q must be above 0");
    return true;
}

target_curve parametric_eq(const std::vector<line> &lines, const std::string &name, int rate) {
    double preamp = 0;
    std::vector<filter> filters;
    bool any = false;
    for (const line &l : lines) {
        if (starts_with_word(l.text, "preamp:")) {
            preamp += preamp_of(name, l);
            continue;
        }
        filter f{};
        any = true;
        if (read_filter(name, l, rate, f))
            filters.push_back(f);
    }
    if (!any)
        throw error(name + " holds a Preamp line but no filters");
    target_curve t;
    t.format = "ParametricEQ";
    const double top = std::min(20000.0 * (1 + 1e-12), rate / 2.0);
    for (int k = 0;; ++k) {
        const double hz = 20 * std::pow(2.0, k / 24.0);
        if (!(hz < top))
            break;
        double db = preamp;
        for (const filter &f : filters)
            db += filter_db(f, rate, hz);
        t.hz.push_back(hz);
        t.db.push_back(db);
    }
    if (t.hz.empty())
        throw error(name + ": at --rate " + std::to_string(rate) +
                    " no frequency from 20 Hz lies below half the rate");
    return t;
}

// MARK: tables

bool is_frequency_name(const std::string &n) {
    const std::string s = lower(n);
    return s.rfind("freq", 0) == 0 || s == "hz" || s == "f";
}

std::string unquoted(const std::string &s) {
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
        return trim(s.substr(1, s.size() - 2));
    return s;
}

target_curve table_with_header(const std::vector<line> &lines, const std::string &name,
                               const std::string &column) {
    const line &head = lines.front();
    const char sep = separator_of(head.text);
    std::vector<std::string> names = fields_of(head.text, sep);
    for (std::string &n : names)
        n = unquoted(n);
    std::string listed;
    for (const std::string &n : names)
        listed += (listed.empty() ? "" : ", ") + n;
    size_t fcol = names.size(), dcol = names.size();
    for (size_t i = 0; i < names.size() && fcol == names.size(); ++i)
        if (is_frequency_name(names[i]))
            fcol = i;
    if (fcol == names.size())
        fail(name, head,
             "no frequency column among " + listed + " (name one 'frequency', 'freq' or 'Hz')");
    if (!column.empty()) {
        for (size_t i = 0; i < names.size(); ++i)
            if (lower(names[i]) == lower(column))
                dcol = i;
        if (dcol == names.size())
            fail(name, head, "no column named '" + column + "' among " + listed);
        if (dcol == fcol)
            fail(name, head, "--column names the frequency column");
    } else if (names.size() == 2) {
        dcol = 1 - fcol;
    } else {
        fail(name, head, "pick the dB column with --column, one of " + listed);
    }
    target_curve t;
    t.format = "CSV column " + names[dcol];
    for (size_t i = 1; i < lines.size(); ++i) {
        const line &l = lines[i];
        std::vector<std::string> f = fields_of(l.text, sep);
        while (f.size() > names.size() && f.back().empty())
            f.pop_back(); // a trailing separator
        double hz = 0, db = 0;
        if (f.size() != names.size())
            fail(name, l,
                 std::to_string(f.size()) + " fields where the header names " +
                     std::to_string(names.size()) +
                     (sep == ',' ? " (a decimal comma needs ';' or tabs between fields)" : ""));
        if (!read_number(f[fcol], sep != ',', hz))
            fail(name, l, names[fcol] + " '" + f[fcol] + "' is not a number");
        if (!read_number(f[dcol], sep != ',', db))
            fail(name, l, names[dcol] + " '" + f[dcol] + "' is not a number");
        check_frequency(name, l, hz);
        t.hz.push_back(hz);
        t.db.push_back(db);
    }
    return t;
}

// Two numbers on a line: "20,-3.5", "20, -3.5", "20;-3,5", "20\t-3,5" or "20 -3,5". A line
// that reads both ways ("20,5,-3,2") is refused.
bool two_numbers(const std::string &s, double &hz, double &db) {
    for (char sep : {';', '\t'})
        if (s.find(sep) != std::string::npos) {
            const std::vector<std::string> f = split(s, sep);
            return f.size() == 2 && read_number(f[0], true, hz) && read_number(f[1], true, db);
        }
    const std::vector<std::string> by_comma = split(s, ',');
    if (by_comma.size() == 2 && read_number(by_comma[0], false, hz) &&
        read_number(by_comma[1], false, db))
        return true;
    const std::vector<std::string> by_space = split_spaces(s);
    return by_space.size() == 2 && read_number(by_space[0], true, hz) &&
           read_number(by_space[1], true, db);
}

target_curve two_columns(const std::vector<line> &lines, const std::string &name) {
    target_curve t;
    t.format = "two columns";
    for (const line &l : lines) {
        double hz = 0, db = 0;
        if (!two_numbers(l.text, hz, db))
            fail(name, l, "expected a frequency in Hz and a gain in dB");
        check_frequency(name, l, hz);
        t.hz.push_back(hz);
        t.db.push_back(db);
    }
    return t;
}

} // namespace

target_curve parse_target(const std::string &text, const std::string &name,
                          const std::string &column, int rate) {
    if (text.find('\0') != std::string::npos)
        throw error(name + " is not a text file: it holds a NUL byte");
    const std::vector<line> lines = content_lines(text);
    if (lines.empty())
        throw error(name + " holds no target curve: it is empty or only comments");
    bool graphic = false, parametric = false;
    for (const line &l : lines) {
        graphic = graphic || starts_with_word(l.text, "graphiceq:");
        parametric = parametric || starts_with_word(l.text, "filter");
    }
    const bool preamp_first = starts_with_word(lines.front().text, "preamp:");
    const bool table = !graphic && !parametric && !preamp_first;
    if (!column.empty() && table) {
        double first = 0;
        const char sep = separator_of(lines.front().text);
        if (read_number(fields_of(lines.front().text, sep).front(), sep != ',', first))
            throw error("--column " + column + ": " + name + " has no header line naming columns");
    } else if (!column.empty()) {
        throw error("--column " + column + ": " + name + " is a " +
                    (graphic ? "GraphicEQ" : "ParametricEQ") + " file, not a table");
    }
    if (graphic)
        return graphic_eq(lines, name);
    if (parametric || preamp_first)
        return parametric_eq(lines, name, rate);
    double first = 0;
    const char sep = separator_of(lines.front().text);
    if (!read_number(fields_of(lines.front().text, sep).front(), sep != ',', first))
        return table_with_header(lines, name, column);
    return two_columns(lines, name);
}

} // namespace cli
