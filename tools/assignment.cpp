#include "assignment.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

#include "readers.hpp"
#include "tokens.hpp"

namespace dalo_cli {

namespace {

bool tsplib_keyword(std::string_view word) {
    word = word.substr(0, word.find(':'));
    for (const char* k : {"NAME", "TYPE", "COMMENT", "DIMENSION", "EDGE_WEIGHT_TYPE"}) {
        if (word == k) return true;
    }
    return false;
}

int64_t largest(const std::vector<int64_t>& v) {
    int64_t m = 0;
    for (const int64_t x : v) m = std::max(m, x < 0 ? -x : x);
    return m;
}

}  // namespace

std::string assignment_format(const std::string& path, const std::string& format) {
    if (format == "qap" || format == "tsp") return format;
    if (!format.empty()) return "";
    const size_t dot = path.find_last_of("./");
    std::string ext = dot != std::string::npos && path[dot] == '.' ? path.substr(dot) : "";
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".tsp") return "tsp";
    // The first two lines with words: a TSPLIB file under another name starts with one of its
    // keywords; a QAPLIB .dat file with n alone, then a matrix row (where a BQP file has
    // "n nnz"), and other .dat files go to the QUBO formats as before.
    std::ifstream in(path, std::ios::binary);
    std::vector<std::vector<std::string>> lines;
    for (std::string line; lines.size() < 2 && std::getline(in, line);) {
        if (line.size() > 65536) break;
        std::istringstream words(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
        if (!w.empty()) lines.push_back(std::move(w));
    }
    if (lines.empty()) return ext == ".dat" ? "qap" : "";
    if (tsplib_keyword(lines[0][0])) return "tsp";
    const bool qaplib = lines[0].size() == 1 && (lines.size() == 1 || lines[1].size() != 2);
    return ext == ".dat" && qaplib ? "qap" : "";
}

Assignment read_assignment(const std::string& path, const std::string& format) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw ReadError{path + ": cannot open file"};
    if (S_ISDIR(st.st_mode)) throw ReadError{path + ": is a directory"};
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ReadError{path + ": cannot open file"};
    const Tokens t(path, in);
    if (in.bad()) throw ReadError{path + ": read error"};
    if (t.empty()) throw ReadError{path + ": empty file"};
    Assignment a = format == "qap" ? read_qap(t) : read_tsp(t);
    // The largest coefficient is a flow times a distance twice over, the largest weight a
    // row's flows times a distance.
    const int64_t flow = a.flow.empty() ? 1 : largest(a.flow);
    int64_t row = 0;
    for (uint32_t i = 0; i < a.n; ++i) {
        int64_t s = 0;
        for (uint32_t j = 0; j < a.n; ++j)
            s += a.flow.empty() ? 0 : std::abs(a.flow[size_t{i} * a.n + j]);
        row = std::max(row, s);
    }
    const auto limit = static_cast<double>(kCoeffLimit);
    const double most =
        2.0 * static_cast<double>(std::max(flow, row)) * static_cast<double>(largest(a.distance));
    if (most + 1 >= limit) {
        throw ReadError{path + ": flows up to " + std::to_string(flow) + " and distances up to " +
                        std::to_string(largest(a.distance)) + " give coefficients past 32 bits"};
    }
    return a;
}

int64_t assignment_cost(const Assignment& a, const std::vector<uint32_t>& order) {
    const size_t n = a.n;
    int64_t c = 0;
    for (size_t i = 0; i < n; ++i) {
        if (a.flow.empty()) {
            c += a.distance[order[i] * n + order[(i + 1) % n]];
            continue;
        }
        for (size_t j = 0; j < n; ++j) c += a.flow[i * n + j] * a.distance[order[i] * n + order[j]];
    }
    return c;
}

OneHot one_hot_model(const Assignment& a) {
    const uint64_t n = a.n;
    auto ints = [n](const std::vector<int64_t>& v) {
        return dalo::ints(std::vector<int32_t>(v.begin(), v.end()), {n, n});
    };
    OneHot m{dalo::var("x", {n, n}), dalo::Expr(), dalo::Expr(), 0};
    const dalo::IntArray distance = ints(a.distance);
    // Emptying row i saves at most its flows both ways times the largest distance (a city's
    // two tour edges, for a tour).
    int64_t row = 0;
    if (a.flow.empty()) {
        // The step after step t is step t + 1, the first after the last.
        const dalo::VarArray next = m.x.slice({0, 1}, {n, n}).concat(m.x.slice({0, 0}, {n, 1}), 1);
        m.cost = dalo::einsum<0>("cd,ct,dt->", distance, m.x, next).at(0);
        row = 2;
    } else {
        m.cost = dalo::einsum<0>("ij,kl,ik,jl->", ints(a.flow), distance, m.x, m.x).at(0);
        for (uint64_t i = 0; i < n; ++i) {
            int64_t s = 0;
            for (uint64_t j = 0; j < n; ++j)
                s += std::abs(a.flow[i * n + j]) + std::abs(a.flow[j * n + i]);
            row = std::max(row, s);
        }
    }
    int64_t far = 0;
    for (const int64_t d : a.distance) far = std::max(far, d < 0 ? -d : d);
    m.weight = row * far + 1;
    m.f = m.cost;
    const dalo::ExprArray rows = m.x.sum(1), cols = m.x.sum(0);
    for (uint64_t i = 0; i < n; ++i) {
        m.f += m.weight * dalo::cons(rows.at(i), 1, 1);
        m.f += m.weight * dalo::cons(cols.at(i), 1, 1);
    }
    return m;
}

dalo::Expr mip_model(const Assignment& a) {
    if (!a.flow.empty()) return one_hot_model(a).f;
    // Arc x[i, j] from city i to city j, each city left once and entered once, and a rank u of
    // the cities after city 0 that every arc between two of them raises by at least one, so
    // no subtour avoids city 0 (Miller, Tucker and Zemlin).
    const uint64_t n = a.n;
    const auto rank = static_cast<int64_t>(n) - 1;
    const dalo::VarArray x = dalo::var("x", {n, n});
    const dalo::VarArray u = dalo::int_var("u", {n}, 1, std::max<int64_t>(rank, 1));
    dalo::Expr f;
    for (uint64_t i = 0; i < n; ++i) {
        dalo::Expr out, in;
        for (uint64_t j = 0; j < n; ++j) {
            if (j == i) continue;
            f += dalo::Term(a.distance[i * n + j], x.at(i * n + j));
            out += x.at(i * n + j);
            in += x.at(j * n + i);
            if (i > 0 && j > 0) {
                f += dalo::cons(u.at(i) - u.at(j) + rank * dalo::Expr(x.at(i * n + j)), 1 - rank,
                                rank - 1);
            }
        }
        f += dalo::cons(out, 1, 1) + dalo::cons(in, 1, 1);
    }
    return f;
}

Decoded decode(const Assignment& a, const OneHot& m, const dalo::Sol& s) {
    const uint64_t n = a.n;
    const dalo::IntArray placed = s.values(m.x);
    // A permutation lists the location of each facility (row), a tour the city at each step
    // (column).
    const bool by_row = a.flow.size() == n * n;
    std::vector<int64_t> rows(n, 0), cols(n, 0), row_at(n, 0), col_at(n, 0);
    for (uint64_t i = 0; i < n; ++i) {
        for (uint64_t p = 0; p < n; ++p) {
            if (placed.at(i * n + p) == 0) continue;
            ++rows[i];
            ++cols[p];
            row_at[i] = static_cast<int64_t>(p);
            col_at[p] = static_cast<int64_t>(i);
        }
    }
    Decoded d;
    d.feasible = true;
    std::vector<uint32_t> order(n);
    for (uint64_t i = 0; i < n; ++i) {
        d.feasible &= rows[i] == 1 && cols[i] == 1;
        const bool one = (by_row ? rows[i] : cols[i]) == 1;
        order[i] = static_cast<uint32_t>(by_row ? row_at[i] : col_at[i]);
        d.order.push_back(one ? order[i] + 1 : 0);
    }
    d.violations = m.f.violations(s);
    d.cost = d.feasible ? assignment_cost(a, order) : s.eval(m.cost);
    return d;
}

}  // namespace dalo_cli
