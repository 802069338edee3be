// TSPLIB 95 travelling-salesman files: "KEYWORD : value" lines, then the data sections. The
// distances follow TSPLIB's own rules exactly, rounding included, since the published optima
// are tour lengths under them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>

#include "permutation.hpp"
#include "tokens.hpp"

namespace dalo_cli {

namespace {

// The model has n^2 variables and n^3 terms.
constexpr int64_t kTspLimit = 2000;

// The keyword of line k (before a colon, which may stand alone or touch either word) and the
// words of its value.
struct Keyword {
    std::string key;
    std::vector<std::string_view> value;
};

Keyword keyword(const Tokens& t, size_t k) {
    Keyword kw;
    const auto words = t.words(k);
    std::string_view first = words[0];
    size_t w = 1;
    const size_t colon = first.find(':');
    kw.key = std::string(first.substr(0, colon));
    if (colon != std::string_view::npos && colon + 1 < first.size()) {
        kw.value.push_back(first.substr(colon + 1));
    } else if (colon == std::string_view::npos && w < words.size() && words[w][0] == ':') {
        if (words[w].size() > 1) kw.value.push_back(words[w].substr(1));
        ++w;
    }
    for (; w < words.size(); ++w) kw.value.push_back(words[w]);
    return kw;
}

double real(const Tokens& t, size_t k, size_t w) {
    const std::string_view text = t.words(k)[w];
    double v = 0;
    const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || p != end || begin == end || !std::isfinite(v))
        t.fail(k, in_quotes(text) + " is not a number");
    return v;
}

// The distances stay doubles, whole numbers, until they are known to fit.
double nint(double x) { return std::floor(x + 0.5); }

// Latitude or longitude in radians from TSPLIB's DDD.MM form: the integer part is degrees,
// the fraction minutes.
double geo_radians(double x) {
    constexpr double kPi = 3.141592;
    const double degrees = std::trunc(x);
    return kPi * (degrees + 5.0 * (x - degrees) / 3.0) / 180.0;
}

double geo_distance(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRadius = 6378.388;
    const double q1 = std::cos(lon1 - lon2);
    const double q2 = std::cos(lat1 - lat2);
    const double q3 = std::cos(lat1 + lat2);
    const double c = std::clamp(0.5 * ((1.0 + q1) * q2 - (1.0 - q1) * q3), -1.0, 1.0);
    return std::trunc(kRadius * std::acos(c) + 1.0);
}

// Pseudo-Euclidean: rounded to nearest, and up where that lies below the exact value.
double att_distance(double dx, double dy) {
    const double r = std::sqrt((dx * dx + dy * dy) / 10.0);
    const double t = nint(r);
    return t < r ? t + 1 : t;
}

// The cells (i, j) of an explicit matrix in the order the format lists them; the COL forms
// of a symmetric matrix list the cells of the transposed ROW forms.
std::vector<std::pair<uint32_t, uint32_t>> cells(const std::string& format, uint32_t n) {
    std::string f = format;
    const std::pair<const char*, const char*> columns[] = {{"UPPER_COL", "LOWER_ROW"},
                                                           {"LOWER_COL", "UPPER_ROW"},
                                                           {"UPPER_DIAG_COL", "LOWER_DIAG_ROW"},
                                                           {"LOWER_DIAG_COL", "UPPER_DIAG_ROW"}};
    for (const auto& [col, row] : columns) {
        if (f == col) f = row;
    }
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t j = 0; j < n; ++j) {
            const bool take = f == "FULL_MATRIX" || (f == "UPPER_ROW" && j > i) ||
                              (f == "LOWER_ROW" && j < i) || (f == "UPPER_DIAG_ROW" && j >= i) ||
                              (f == "LOWER_DIAG_ROW" && j <= i);
            if (take) out.emplace_back(i, j);
        }
    }
    return out;
}

constexpr const char* kFormats =
    "FULL_MATRIX, UPPER_ROW, LOWER_ROW, UPPER_DIAG_ROW, LOWER_DIAG_ROW, UPPER_COL, LOWER_COL, "
    "UPPER_DIAG_COL or LOWER_DIAG_COL";

struct Header {
    std::optional<int64_t> n;
    std::string weight_type, weight_format = "FULL_MATRIX";
    size_t type_line = 0;
};

// The n lines "i x y" of a coordinate section from line k on; returns the line after them.
size_t read_coordinates(const Tokens& t, size_t k, uint32_t n, std::vector<double>& x,
                        std::vector<double>& y) {
    x.assign(n, 0);
    y.assign(n, 0);
    std::vector<bool> seen(n, false);
    for (uint32_t c = 0; c < n; ++c, ++k) {
        if (k == t.line_count() || t.words(k)[0].find_first_not_of("0123456789") == 0) {
            t.fail(k == t.line_count() ? k - 1 : k, "NODE_COORD_SECTION ends after " +
                                                        std::to_string(c) + " of " +
                                                        std::to_string(n) + " nodes");
        }
        t.expect_words(k, 3, "node x y");
        const uint32_t i = index_in(t, k, 0, n, "node");
        if (seen[i]) t.fail(k, "node " + std::to_string(i + 1) + " appears twice");
        seen[i] = true;
        x[i] = real(t, k, 1);
        y[i] = real(t, k, 2);
    }
    return k;
}

}  // namespace

Assignment read_tsp(const Tokens& t) {
    Assignment a;
    a.format = "tsp";
    Header h;
    std::vector<double> x, y;
    bool coords = false, weights = false;
    size_t last = t.line_count() - 1;
    for (size_t k = 0; k < t.line_count();) {
        const Keyword kw = keyword(t, k);
        const std::string& key = kw.key;
        if (key == "EOF") {
            last = k;
            break;
        }
        const bool section = key.ends_with("_SECTION");
        if (!section && kw.value.empty()) t.fail(k, key + " has no value");
        const std::string value = kw.value.empty() ? "" : std::string(kw.value[0]);
        if (section && !h.n) t.fail(k, key + " before DIMENSION");
        const auto n = static_cast<uint32_t>(h.n.value_or(0));
        if (key == "NAME" || key == "COMMENT" || key == "DISPLAY_DATA_TYPE" ||
            key == "NODE_COORD_TYPE") {
            ++k;
        } else if (key == "TYPE") {
            if (value != "TSP" && value != "ATSP")
                t.fail(k, "TYPE " + in_quotes(value) + " is not a tour problem (TSP or ATSP)");
            ++k;
        } else if (key == "DIMENSION") {
            int64_t d = 0;
            auto [p, ec] = std::from_chars(value.data(), value.data() + value.size(), d);
            if (ec != std::errc() || p != value.data() + value.size() || d < 2 || d > kTspLimit) {
                t.fail(k, "DIMENSION " + in_quotes(value) + " is not a city count in 2.." +
                              std::to_string(kTspLimit));
            }
            h.n = d;
            const auto un = static_cast<uint64_t>(*h.n);
            check_announced(t, k, un * un, "variables", un * un * un, "term");
            ++k;
        } else if (key == "EDGE_WEIGHT_TYPE") {
            if (value != "EUC_2D" && value != "ATT" && value != "GEO" && value != "EXPLICIT") {
                t.fail(k, "EDGE_WEIGHT_TYPE " + in_quotes(value) +
                              " is not read (EUC_2D, ATT, GEO or EXPLICIT)");
            }
            h.weight_type = value;
            h.type_line = k++;
        } else if (key == "EDGE_WEIGHT_FORMAT") {
            if (value != "FUNCTION" && cells(value, 2).empty())
                t.fail(k, "EDGE_WEIGHT_FORMAT " + in_quotes(value) + " is not read (" + kFormats +
                              ")");
            h.weight_format = value;
            ++k;
        } else if (key == "NODE_COORD_SECTION") {
            k = read_coordinates(t, k + 1, n, x, y);
            coords = true;
        } else if (key == "DISPLAY_DATA_SECTION") {
            std::vector<double> dx, dy;
            k = read_coordinates(t, k + 1, n, dx, dy);
        } else if (key == "EDGE_WEIGHT_SECTION") {
            if (h.weight_type != "EXPLICIT")
                t.fail(k, "EDGE_WEIGHT_SECTION without EDGE_WEIGHT_TYPE EXPLICIT");
            if (h.weight_format == "FUNCTION")
                t.fail(k, std::string("EDGE_WEIGHT_SECTION needs an EDGE_WEIGHT_FORMAT (") +
                              kFormats + ")");
            const auto order = cells(h.weight_format, n);
            a.distance.assign(size_t{n} * n, 0);
            size_t got = 0;
            for (++k; got < order.size(); ++k) {
                const std::string what = std::to_string(order.size()) + " edge weights (" +
                                         h.weight_format + " of " + std::to_string(n) + ")";
                if (k == t.line_count() || t.words(k)[0].find_first_not_of("+-0123456789") == 0) {
                    t.fail(k == t.line_count() ? k - 1 : k,
                           "EDGE_WEIGHT_SECTION ends after " + std::to_string(got) + " of " + what);
                }
                const size_t words = t.words(k).size();
                if (got + words > order.size()) t.fail(k, "more numbers than the " + what);
                for (size_t w = 0; w < words; ++w, ++got) {
                    const int64_t v = t.integral(k, w);
                    check_coefficient(t, k, v, 1);
                    const auto [i, j] = order[got];
                    a.distance[size_t{i} * n + j] = v;
                    if (h.weight_format != "FULL_MATRIX") a.distance[size_t{j} * n + i] = v;
                }
            }
            weights = true;
        } else if (section) {
            t.fail(k, key + " is not read");
        } else {
            t.fail(k, "unknown keyword " + in_quotes(key));
        }
    }
    if (!h.n) t.fail(last, "no DIMENSION");
    if (h.weight_type.empty()) t.fail(last, "no EDGE_WEIGHT_TYPE");
    const bool explicit_weights = h.weight_type == "EXPLICIT";
    if (explicit_weights && !weights) t.fail(last, "EXPLICIT weights without EDGE_WEIGHT_SECTION");
    if (!explicit_weights && !coords)
        t.fail(last, "EDGE_WEIGHT_TYPE " + h.weight_type + " without NODE_COORD_SECTION");
    a.n = static_cast<uint32_t>(*h.n);
    const uint32_t n = a.n;
    if (!explicit_weights) {
        a.distance.assign(size_t{n} * n, 0);
        std::vector<double> lat(n), lon(n);
        for (uint32_t i = 0; i < n; ++i) {
            lat[i] = geo_radians(x[i]);
            lon[i] = geo_radians(y[i]);
        }
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t j = 0; j < n; ++j) {
                const double dx = x[i] - x[j], dy = y[i] - y[j];
                double d = 0;
                if (h.weight_type == "EUC_2D") {
                    d = nint(std::sqrt(dx * dx + dy * dy));
                } else if (h.weight_type == "ATT") {
                    d = att_distance(dx, dy);
                } else {
                    d = geo_distance(lat[i], lon[i], lat[j], lon[j]);
                }
                if (!(d < static_cast<double>(kCoeffLimit))) {
                    t.fail(h.type_line, "nodes " + std::to_string(i + 1) + " and " +
                                            std::to_string(j + 1) +
                                            " lie too far apart for a 32-bit coefficient");
                }
                a.distance[size_t{i} * n + j] = static_cast<int64_t>(d);
            }
        }
    }
    for (uint32_t i = 0; i < n; ++i) a.distance[size_t{i} * n + i] = 0;
    return a;
}

}  // namespace dalo_cli
