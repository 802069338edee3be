// Benchmark instances of the shared data set (G-set Max-Cut and OR-Library bqp) as
// minimisation Models, and the best-known table.
#pragma once

#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dalo.h"

namespace bench {

struct Instance {
    std::string name;
    uint32_t n = 0;
    std::vector<std::pair<int64_t, std::vector<uint32_t>>> terms;  // coefficient, variables
};

inline bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The data folder: $DALO_BENCH_DATA, else the first of a few usual places.
inline std::string data_dir(const char* env) {
    if (env != nullptr) return env;
    for (const char* d : {"../shared/bench", "../../shared/bench", "/work/shared/bench"}) {
        if (exists(std::string(d) + "/best_known.tsv")) return d;
    }
    return "";
}

// An instance by name: "G<k>" from gset/, "bqp<n>.<k>" from bqp/bqp<n>.txt. Max-Cut edges w
// (i, j) add -w x_i - w x_j + 2 w x_i x_j; bqp maximises x'Qx, so Q is negated.
inline bool read_instance(const std::string& dir, const std::string& name, Instance& inst) {
    inst.name = name;
    std::replace(inst.name.begin(), inst.name.end(), '.', '_');
    if (name[0] == 'G') {
        std::ifstream in(dir + "/gset/" + name);
        uint64_t n = 0, m = 0;
        if (!(in >> n >> m)) return false;
        inst.n = static_cast<uint32_t>(n);
        for (uint64_t e = 0; e < m; ++e) {
            int64_t i = 0, j = 0, w = 0;
            in >> i >> j >> w;
            const uint32_t a = static_cast<uint32_t>(i - 1), b = static_cast<uint32_t>(j - 1);
            inst.terms.push_back({-w, {a}});
            inst.terms.push_back({-w, {b}});
            inst.terms.push_back({2 * w, {a, b}});
        }
        return true;
    }
    const size_t dot = name.find('.');
    if (dot == std::string::npos) return false;
    std::ifstream in(dir + "/bqp/" + name.substr(0, dot) + ".txt");
    const int k = std::atoi(name.c_str() + dot + 1);
    int count = 0;
    if (!(in >> count)) return false;
    for (int t = 1; t <= count; ++t) {
        uint64_t n = 0, nnz = 0;
        in >> n >> nnz;
        for (uint64_t e = 0; e < nnz; ++e) {
            int64_t i = 0, j = 0, q = 0;
            in >> i >> j >> q;
            if (t != k) continue;
            const uint32_t a = static_cast<uint32_t>(i - 1), b = static_cast<uint32_t>(j - 1);
            inst.terms.push_back(a == b ? std::make_pair(-q, std::vector<uint32_t>{a})
                                        : std::make_pair(-2 * q, std::vector<uint32_t>{a, b}));
        }
        if (t == k) {
            inst.n = static_cast<uint32_t>(n);
            return true;
        }
    }
    return false;
}

inline dalo_model* build(const Instance& inst) {
    const uint64_t n = inst.n;
    const dalo_var first = dalo_new_var_array(inst.name.c_str(), &n, 1);
    dalo_expr* e = dalo_expr_create();
    std::vector<dalo_var> vs;
    for (const auto& [c, vars] : inst.terms) {
        vs.clear();
        for (uint32_t v : vars) vs.push_back(first + v);
        dalo_expr_iadd_raw_term(e, c, vs.data(), vs.size());
    }
    dalo_expr* s = dalo_expr_simplify_as_binary(e);
    dalo_model* m = dalo_model_create(s);
    dalo_expr_destroy(e);
    dalo_expr_destroy(s);
    return m;
}

inline std::map<std::string, int64_t> best_known(const std::string& dir) {
    std::map<std::string, int64_t> out;
    std::ifstream in(dir + "/best_known.tsv");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        char name[64], kind[32];
        long long n = 0, best = 0;
        if (std::sscanf(line.c_str(), "%63s %31s %lld %lld", name, kind, &n, &best) == 4)
            out[name] = best;
    }
    return out;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t k = v.size();
    return k == 0 ? 0.0 : (k % 2 ? v[k / 2] : 0.5 * (v[k / 2 - 1] + v[k / 2]));
}

}  // namespace bench
