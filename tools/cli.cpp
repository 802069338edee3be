// dalo: solve QUBO files from the command line, convert them between formats, export them for
// MIP solvers and describe the machine.
#include "cli.hpp"

#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "assignment.hpp"
#include "convert.hpp"
#include "dalo.hpp"
#include "mip.hpp"
#include "readers.hpp"

namespace dalo_cli {

namespace {

// Enumeration covers 2^48 states at most.
constexpr uint64_t kSweepLimit = 48;

constexpr const char* kExitStatus =
    "exit status:\n"
    "  0  done\n"
    "  1  the model is not an integer linear program (export-lp, or convert to .lp or .mps,\n"
    "     without --linearize)\n"
    "  2  usage error, unreadable or malformed file, or a request that cannot be met\n"
    "  3  solve of a qap or tsp file: the best state found breaks a one-hot constraint\n"
    "     (\"feasible no\")";

constexpr const char* kPermutationFormats =
    "  qap     QAPLIB: n, the n x n flow matrix A, the n x n distance matrix B; minimises\n"
    "          sum A[i][j] B[p(i)][p(j)] (for .dat files whose first line holds n alone,\n"
    "          else with --format qap)\n"
    "  tsp     TSPLIB 95 tour problem, EUC_2D, ATT, GEO or EXPLICIT weights (for .tsp files\n"
    "          and files starting with a TSPLIB keyword); minimises the tour length\n"
    "  Both solve the one-hot model x[i, p] (facility i at location p, city i at step p) with\n"
    "  declared row and column constraints, and print \"cost C\", then \"permutation p1 ... pn\"\n"
    "  (the location of each facility) or \"tour c1 ... cn\" (the city at each step), 1-based,\n"
    "  and \"feasible yes\"; where the best state breaks a constraint, \"-\" marks the entries\n"
    "  whose row (column, for a tour) is not one-hot, C is the objective of that state, and\n"
    "  \"violations K\" and \"feasible no\" follow (exit status 3)\n";

constexpr const char* kPermutationExport =
    "  qap and tsp files (as solve reads them) write to lp or mps only: a tour as the arc\n"
    "  formulation (x[i, j] per arc, each city left and entered once, integer ranks u[i]\n"
    "  against subtours), an assignment as its one-hot model (needs --linearize)\n";

// A usage error; command names the help page that the message points to ("" for the top).
struct UsageError {
    std::string text, command;
};

// The formats of the table, a name column and one or more lines each.
std::string format_lines() {
    std::string u;
    for (const FileFormat& f : formats()) {
        std::string name = f.name;
        name.resize(std::max<size_t>(name.size() + 1, 8), ' ');
        std::string help = f.help;
        for (size_t nl; (nl = help.find('\n')) != std::string::npos;) {
            u += "  " + name + help.substr(0, nl) + "\n";
            help.erase(0, nl + 1);
            name.assign(name.size(), ' ');
        }
        u += "  " + name + help + "\n";
    }
    return u;
}

// The whole text as a number, or nothing: CLI11's own conversions saturate out-of-range values
// and wrap negative ones into unsigned options.
template <class T>
std::optional<T> parse_number(const std::string& text) {
    T v{};
    const char* begin = text.data();
    const char* end = begin + text.size();
    auto [p, ec] = std::from_chars(begin, end, v);
    if (ec != std::errc() || p != end || begin == end) return std::nullopt;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(v)) return std::nullopt;
    }
    return v;
}

// A numeric option at least low; the message names what the value must be.
template <class T>
void number_option(CLI::App* app, const std::string& name, std::optional<T>& dest,
                   const std::string& help, const std::string& type, T low,
                   const std::string& must) {
    app->add_option_function<std::string>(
           name, [&dest](const std::string& s) { dest = parse_number<T>(s); }, help)
        ->type_name(type)
        ->check(CLI::Validator(
            [low, must](std::string& s) -> std::string {
                const std::optional<T> v = parse_number<T>(s);
                return v && *v >= low ? "" : "'" + s + "' is not " + must;
            },
            "", ""));
}

struct Input {
    std::string file, format;
    std::optional<uint32_t> instance;
    Problem read() const { return read_problem(file, format, instance.value_or(1)); }
};

void input_options(CLI::App* app, Input& in) {
    app->add_option("--format", in.format,
                    "file format, one of those below (default: guessed from the content)")
        ->type_name("NAME");
    number_option<uint32_t>(app, "--instance", in.instance, "BQP instance, 1-based (default 1)",
                            "K", 1, "an integer >= 1");
}

std::string formats_footer(const char* title, const char* permutations) {
    return std::string(title) + "\n" + format_lines() + "\npermutation problems:\n" + permutations +
           "\n" + kExitStatus;
}

// The problem as a binary-simplified expression over variables named by file index.
struct Built {
    std::vector<dalo::Var> vars;
    dalo::Expr expr;
};

Built build(const Problem& p) {
    Built b;
    b.vars.reserve(p.n);
    const uint64_t shape = p.n;
    const dalo_var first = dalo_new_var_array("x", &shape, 1);
    for (uint32_t i = 0; i < p.n; ++i) b.vars.emplace_back(first + i);
    std::vector<int32_t> coeffs;
    std::vector<uint32_t> degrees;
    std::vector<dalo_var> words;
    coeffs.reserve(p.entries.size());
    degrees.reserve(p.entries.size());
    words.reserve(2 * p.entries.size());
    for (const Entry& e : p.entries) {
        coeffs.push_back(static_cast<int32_t>(e.value));
        words.push_back(first + e.i);
        if (e.i != e.j) words.push_back(first + e.j);
        degrees.push_back(e.i != e.j ? 2u : 1u);
    }
    dalo::Expr raw = dalo::Expr::adopt(dalo_expr_create_from_bulk(
        p.offset, coeffs.size(), coeffs.data(), degrees.data(), words.data()));
    b.expr = raw.simplify_as_binary();
    return b;
}

// The progress line on a terminal: the plug-ins print "TTS = <t>s Energy = <e>" per new best on
// standard output, which goes through a pipe while the search runs; the line is redrawn on
// each new best and on a timer, so that the elapsed time moves.
class Progress {
  public:
    Progress(bool on, bool json) : on_(on), json_(json) {
        if (!on_) return;
        std::fflush(stdout);
        int fds[2];
        if (pipe(fds) != 0) {
            on_ = false;
            return;
        }
        saved_ = dup(STDOUT_FILENO);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        start_ = std::chrono::steady_clock::now();
        reader_ = std::thread([this, fd = fds[0]] { read_lines(fd); });
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress() {
        if (!on_) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        reader_.join();
        if (drawn_) std::fputc('\n', stderr);
    }

  private:
    void read_lines(int fd) {
        std::string pending;
        char buffer[4096];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 250) > 0) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                pending.append(buffer, static_cast<size_t>(n));
                for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
                    take(pending.substr(0, nl));
                    pending.erase(0, nl + 1);
                }
            }
            draw(false);
        }
        if (!pending.empty()) take(pending);
        draw(true);
        close(fd);
    }
    void take(const std::string& line) {
        double t = 0;
        long long e = 0;
        if (std::sscanf(line.c_str(), "TTS = %lfs Energy = %lld", &t, &e) == 2) {
            best_ = e;
            at_ = t;
            return;
        }
        // Anything else the solver prints goes where it was headed, or beside the JSON.
        const std::string copy = line + "\n";
        if (write(json_ ? STDERR_FILENO : saved_, copy.data(), copy.size()) < 0) return;
    }
    // At most ten redraws a second, however often the best improves.
    void draw(bool last) {
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (!last && drawn_ && elapsed < drawn_at_ + 0.1) return;
        drawn_at_ = elapsed;
        if (best_) {
            std::fprintf(stderr, "\r  best energy %lld after %.3f s, %.1f s elapsed   ", *best_,
                         at_, elapsed);
        } else {
            std::fprintf(stderr, "\r  searching, %.1f s elapsed   ", elapsed);
        }
        std::fflush(stderr);
        drawn_ = true;
    }
    bool on_, json_;
    bool drawn_ = false;
    std::optional<long long> best_;
    double at_ = 0, drawn_at_ = 0;
    int saved_ = -1;
    std::chrono::steady_clock::time_point start_;
    std::thread reader_;
};

std::string assignment(const dalo::Sol& s, const Built& b) {
    std::string bits;
    bits.reserve(b.vars.size());
    for (dalo::Var v : b.vars) bits.push_back(s.has(v) && s[v] != 0 ? '1' : '0');
    return bits;
}

std::vector<int> bit_array(const std::string& bits) {
    std::vector<int> a(bits.size());
    std::transform(bits.begin(), bits.end(), a.begin(), [](char c) { return c - '0'; });
    return a;
}

struct SolveArgs {
    Input in;
    std::string solver = "brisk", out, search;
    std::optional<double> time_limit;
    std::optional<uint64_t> seed, topk;
    std::optional<uint32_t> threads;
    std::optional<int64_t> target, best_known;
    bool quiet = false, json = false;
};

// Accepts one of the names; the message lists them as the usage errors do.
CLI::Validator one_of(std::vector<std::string> names) {
    return CLI::Validator(
        [names](std::string& s) -> std::string {
            std::string list;
            for (const std::string& n : names) {
                if (n == s) return "";
                list += (list.empty() ? "" : ", ") + n;
            }
            return "'" + s + "' is not one of " + list;
        },
        "", "");
}

void solve_options(CLI::App* app, SolveArgs& a) {
    app->add_option("FILE", a.in.file, "the problem")->required()->type_name("");
    input_options(app, a.in);
    app->add_option("--solver", a.solver,
                    "brisk (default), kelp, or sweep: exhaustive, up to " +
                        std::to_string(kSweepLimit) + " variables")
        ->type_name("NAME")
        ->check(one_of({"brisk", "sweep", "kelp"}));
    app->add_option("--search", a.search,
                    "brisk's search: portfolio (default), annealing or breakout")
        ->type_name("KIND")
        ->check(one_of({"portfolio", "annealing", "breakout"}));
    number_option<double>(app, "--time-limit", a.time_limit, "seconds (default 10; sweep: none)",
                          "S", 0.0, "a number >= 0");
    number_option<uint64_t>(app, "--seed", a.seed, "random seed", "N", 0, "an integer >= 0");
    number_option<uint32_t>(app, "--threads", a.threads, "worker threads (default: all cores)", "N",
                            1, "an integer >= 1");
    number_option<int64_t>(app, "--target", a.target, "stop once the energy reaches E", "E",
                           INT64_MIN, "an integer");
    number_option<int64_t>(
        app, "--best-known", a.best_known,
        "best known cut, value or cost (gset, bqp, qap, tsp): reported, and the search stops there",
        "V", INT64_MIN, "an integer");
    number_option<uint64_t>(app, "--topk", a.topk, "also print the K best distinct solutions", "K",
                            1, "an integer >= 1");
    app->add_option("--out", a.out, "write the assignment to FILE instead of printing it")
        ->type_name("FILE");
    app->add_flag("--quiet", a.quiet, "no progress line (shown on a terminal only)");
    app->add_flag("--json", a.json,
                  "print one JSON object: the run, the result and the solver's information");
}

void print_json(const SolveArgs& a, const Problem& p, const Built& b, dalo::Result& r,
                const std::string& bits, double run_time) {
    nlohmann::ordered_json j;
    j["instance"] = a.in.file;
    j["format"] = p.format->name;
    if (std::string(p.format->name) == "bqp") j["instance_number"] = a.in.instance.value_or(1);
    j["variables"] = p.n;
    j["terms"] = b.expr.term_count();
    j["solver"] = a.solver;
    const std::vector<std::pair<std::string, std::string>> info = r.info();
    // What the solver reports it used, else what was asked for.
    auto used = [&](const char* key, std::optional<uint64_t> asked) -> nlohmann::ordered_json {
        for (const auto& [k, v] : info) {
            if (k == key) {
                if (const std::optional<uint64_t> n = parse_number<uint64_t>(v)) return *n;
            }
        }
        if (asked) return *asked;
        return nullptr;
    };
    j["seed"] = used("seed", a.seed);
    j["threads"] = used("threads", a.threads);
    j["energy"] = r.energy();
    if (p.sign != 1) j[p.value_name] = p.sign * r.energy();
    if (a.best_known) j["best_known"] = *a.best_known;
    j["time_to_solution"] = r.tts();
    j["run_time"] = run_time;
    j["assignment"] = bit_array(bits);
    // Each variable as the file names it.
    if (p.names.empty()) {
        j["labels"] = p.labels;
    } else {
        nlohmann::ordered_json names = nlohmann::ordered_json::array();
        for (const std::string& name : p.names)
            names.push_back(nlohmann::ordered_json::parse(name));
        j["labels"] = std::move(names);
    }
    if (!a.out.empty()) j["assignment_file"] = a.out;
    if (a.topk) {
        nlohmann::ordered_json top = nlohmann::ordered_json::array();
        for (uint64_t k = 0; k < r.topk_count(); ++k) {
            top.push_back({{"energy", r.topk_energy(k)},
                           {"assignment", bit_array(assignment(r.topk_sol(k), b))}});
        }
        j["top"] = std::move(top);
    }
    nlohmann::ordered_json pairs = nlohmann::ordered_json::object();
    for (const auto& [k, v] : info) pairs[k] = v;
    j["info"] = std::move(pairs);
    std::printf("%s\n", j.dump().c_str());
}

// Whether --solver sweep cannot enumerate the model (said on standard error).
bool sweep_refused(const SolveArgs& a, const dalo::Model& model) {
    if (a.solver != "sweep" || model.var_count() <= kSweepLimit) return false;
    std::fprintf(stderr,
                 "dalo: --solver sweep enumerates at most %llu variables and this model has "
                 "%llu; use --solver brisk or --solver kelp\n",
                 static_cast<unsigned long long>(kSweepLimit),
                 static_cast<unsigned long long>(model.var_count()));
    return true;
}

// The search with the options given; a best-known value v is the energy sign * v.
dalo::Result search(const SolveArgs& a, const dalo::Model& model, int64_t sign) {
    dalo::SearchOptions so;
    so.time_limit = a.time_limit;
    if (!so.time_limit && a.solver != "sweep") so.time_limit = 10.0;
    so.seed = a.solver == "sweep" ? std::nullopt : a.seed;
    so.threads = a.threads;
    so.target_energy = a.target;
    if (a.best_known && !so.target_energy) so.target_energy = sign * *a.best_known;
    so.topk = a.topk;
    so.progress = !a.quiet && a.solver != "sweep" && isatty(STDERR_FILENO) != 0;
    if (!a.search.empty() && a.solver == "brisk") so.extra.emplace_back("search", a.search);
    Progress shown(so.progress, a.json);
    if (a.solver == "sweep") return dalo::SweepSolver(model).search(so);
    if (a.solver == "kelp") return dalo::KelpSolver(model).search(so);
    return dalo::BriskSolver(model).search(so);
}

// The order as printed: 1-based, "-" for a row that is not one-hot.
std::string order_text(const std::vector<int64_t>& order) {
    std::string text;
    for (const int64_t v : order) text += " " + (v == 0 ? std::string("-") : std::to_string(v));
    return text;
}

nlohmann::ordered_json order_json(const std::vector<int64_t>& order) {
    nlohmann::ordered_json j = nlohmann::ordered_json::array();
    for (const int64_t v : order)
        j.push_back(v == 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(v));
    return j;
}

// A QAPLIB or TSPLIB file: the one-hot model solved, the best state read back as a
// permutation or a tour; status 3 where it breaks a constraint.
int solve_assignment(const SolveArgs& a, const Assignment& problem) {
    const OneHot m = one_hot_model(problem);
    const dalo::Expr simplified = m.f.simplify_as_binary();
    dalo::Model model(simplified);
    if (sweep_refused(a, model)) return 2;
    std::ofstream out;
    if (!a.out.empty()) out.open(a.out);
    auto unwritable = [&] {
        std::fprintf(stderr, "dalo: %s: cannot write the assignment\n", a.out.c_str());
        return 2;
    };
    if (!a.out.empty() && !out) return unwritable();
    const bool tour = std::string(problem.format) == "tsp";
    const uint64_t terms = simplified.term_count();
    if (!a.json) {
        std::printf(
            "solving %s (%s, %u %s, %u variables, %llu terms, %u one-hot constraints of "
            "weight %lld) with %s\n",
            a.in.file.c_str(), problem.format, problem.n, tour ? "cities" : "facilities",
            model.var_count(), static_cast<unsigned long long>(terms), 2 * problem.n,
            static_cast<long long>(m.weight), a.solver.c_str());
        std::fflush(stdout);
    }
    const auto start = std::chrono::steady_clock::now();
    dalo::Result r = search(a, model, 1);
    const double run_time =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const dalo::Sol& sol = r.sol();
    const Decoded d = decode(problem, m, sol);
    std::string bits;
    for (uint64_t k = 0; k < m.x.size(); ++k) bits.push_back(sol[m.x.at(k)] != 0 ? '1' : '0');
    if (!a.out.empty() && !(out << bits << "\n" << std::flush)) return unwritable();
    const char* order_name = tour ? "tour" : "permutation";
    const int status = d.feasible ? 0 : 3;
    if (a.json) {
        nlohmann::ordered_json j;
        j["instance"] = a.in.file;
        j["format"] = problem.format;
        j["n"] = problem.n;
        j["variables"] = model.var_count();
        j["terms"] = terms;
        j["weight"] = m.weight;
        j["solver"] = a.solver;
        j["energy"] = r.energy();
        j["cost"] = d.cost;
        if (a.best_known) j["best_known"] = *a.best_known;
        j[order_name] = order_json(d.order);
        j["feasible"] = d.feasible;
        j["violations"] = d.violations;
        j["time_to_solution"] = r.tts();
        j["run_time"] = run_time;
        j["assignment"] = bit_array(bits);
        if (!a.out.empty()) j["assignment_file"] = a.out;
        nlohmann::ordered_json top = nlohmann::ordered_json::array();
        for (uint64_t k = 0; k < r.topk_count(); ++k) {
            const Decoded t = decode(problem, m, r.topk_sol(k));
            top.push_back({{"energy", r.topk_energy(k)},
                           {"cost", t.cost},
                           {order_name, order_json(t.order)},
                           {"feasible", t.feasible}});
        }
        if (a.topk) j["top"] = std::move(top);
        nlohmann::ordered_json pairs = nlohmann::ordered_json::object();
        for (const auto& [k, v] : r.info()) pairs[k] = v;
        j["info"] = std::move(pairs);
        std::printf("%s\n", j.dump().c_str());
        return status;
    }
    std::printf("energy %lld\ncost %lld", static_cast<long long>(r.energy()),
                static_cast<long long>(d.cost));
    if (a.best_known) std::printf(" (best known %lld)", static_cast<long long>(*a.best_known));
    std::printf("\ntime_to_solution %.3f s\n%s%s\n", r.tts(), order_name,
                order_text(d.order).c_str());
    if (!d.feasible)
        std::printf("violations %llu\n", static_cast<unsigned long long>(d.violations));
    std::printf("feasible %s\n", d.feasible ? "yes" : "no");
    if (!a.out.empty()) std::printf("assignment written to %s\n", a.out.c_str());
    for (uint64_t k = 0; k < r.topk_count(); ++k) {
        const Decoded t = decode(problem, m, r.topk_sol(k));
        std::printf("top %llu: energy %lld cost %lld %s%s feasible %s\n",
                    static_cast<unsigned long long>(k + 1),
                    static_cast<long long>(r.topk_energy(k)), static_cast<long long>(t.cost),
                    order_name, order_text(t.order).c_str(), t.feasible ? "yes" : "no");
    }
    return status;
}

int solve(const SolveArgs& a) {
    if (const std::string kind = assignment_format(a.in.file, a.in.format); !kind.empty())
        return solve_assignment(a, read_assignment(a.in.file, kind));
    const Problem p = a.in.read();
    const Built b = build(p);
    dalo::Model model(b.expr);
    if (sweep_refused(a, model)) return 2;
    // Opened before the search, which a path that cannot be written would waste.
    std::ofstream out;
    if (!a.out.empty()) out.open(a.out);
    auto unwritable = [&] {
        std::fprintf(stderr, "dalo: %s: cannot write the assignment\n", a.out.c_str());
        return 2;
    };
    if (!a.out.empty() && !out) return unwritable();
    if (!a.json) {
        std::printf("solving %s (%s, %u variables, %llu terms) with %s\n", a.in.file.c_str(),
                    p.format->name, p.n, static_cast<unsigned long long>(b.expr.term_count()),
                    a.solver.c_str());
        std::fflush(stdout);
    }

    const auto start = std::chrono::steady_clock::now();
    dalo::Result r = search(a, model, p.sign);
    const double run_time =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string bits = assignment(r.sol(), b);
    if (!a.out.empty() && !(out << bits << "\n" << std::flush)) return unwritable();
    if (a.json) {
        print_json(a, p, b, r, bits, run_time);
        return 0;
    }
    std::printf("energy %lld\n", static_cast<long long>(r.energy()));
    if (p.sign != 1) {
        std::printf("%s %lld", p.value_name, static_cast<long long>(p.sign * r.energy()));
        if (a.best_known) std::printf(" (best known %lld)", static_cast<long long>(*a.best_known));
        std::printf("\n");
    }
    std::printf("time_to_solution %.3f s\n", r.tts());
    if (!a.out.empty()) {
        std::printf("assignment written to %s\n", a.out.c_str());
    } else {
        std::printf("assignment %s\n", bits.c_str());
    }
    for (uint64_t k = 0; k < r.topk_count(); ++k) {
        std::printf("top %llu: energy %lld %s\n", static_cast<unsigned long long>(k + 1),
                    static_cast<long long>(r.topk_energy(k)), assignment(r.topk_sol(k), b).c_str());
    }
    return 0;
}

struct ExportArgs {
    Input in;
    std::string out, to;
    bool linearize = false;
};

// The problem file (named `in`), the file to write and the reading options.
void in_out_options(CLI::App* app, const char* in, ExportArgs& a) {
    app->add_option(in, a.in.file, "the problem")->required()->type_name("");
    app->add_option("OUT", a.out, "the file to write")->required()->type_name("");
    input_options(app, a.in);
}

constexpr const char* kLinearize =
    "write each product of variables as a new binary one with linear rows (any QUBO exports)";

int export_lp(const ExportArgs& a) {
    const bool mps = a.out.size() >= 4 && a.out.compare(a.out.size() - 4, 4, ".mps") == 0;
    if (const std::string kind = assignment_format(a.in.file, a.in.format); !kind.empty()) {
        write_mip(mip_model(read_assignment(a.in.file, kind)).simplify_as_binary(), a.out,
                  mps ? "mps" : "lp", a.linearize, a.in.file);
    } else {
        write_mip(a.in.read(), a.out, mps ? "mps" : "lp", a.linearize, a.in.file);
    }
    std::printf("wrote %s\n", a.out.c_str());
    return 0;
}

int convert_files(const ExportArgs& a) {
    convert(a.in.file, a.in.format, a.in.instance.value_or(1), a.out, a.to, a.linearize);
    std::printf("wrote %s\n", a.out.c_str());
    return 0;
}

int info() {
    for (const char* key :
         {"version", "compilation_date", "cpu_name", "cpu_threads", "total_ram", "hostname"}) {
        std::printf("%-17s %s\n", key, dalo_const_str(key));
    }
    std::printf("%-17s %s\n", "solver_type", dalo_expr_solver_type());
    return 0;
}

// "X is required" from CLI11 reads "no X given"; a missing value names the option.
std::string usage_message(const CLI::ParseError& e) {
    const std::string what = e.what();
    const std::string required = " is required";
    if (what.ends_with(required))
        return "no " + what.substr(0, what.size() - required.size()) + " given";
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr &&
        what.find(':') != std::string::npos) {
        return what.substr(0, what.find(':')) + " needs a value";
    }
    return what;
}

int run_command(int argc, char** argv) {
    const std::vector<std::string> commands = {"solve", "export-lp", "convert", "info"};
    if (argc < 2) throw UsageError{"no command given", ""};
    const std::string first = argv[1];
    if (first.starts_with("-") && first != "-h" && first != "--help" && first != "--version") {
        throw UsageError{"unknown option " + first, ""};
    }
    if (!first.starts_with("-") && first != "help" &&
        std::find(commands.begin(), commands.end(), first) == commands.end()) {
        throw UsageError{"unknown command '" + first + "'", ""};
    }

    CLI::App app("dalo: solve QUBO files, convert them, export them for MIP solvers", "dalo");
    app.get_formatter()->column_width(26);
    app.get_formatter()->label("Usage", "usage");
    app.get_formatter()->label("Positionals", "arguments");
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->label("REQUIRED", "");
    app.option_defaults()->group("options");
    app.set_help_flag("-h,--help", "show this help")->group("options");
    app.set_version_flag("--version", std::string("dalo ") + dalo_const_str("version"),
                         "show the version");
    app.require_subcommand(1);
    app.footer(std::string("run 'dalo COMMAND --help' for a command's arguments and options\n\n") +
               kExitStatus);

    SolveArgs sa;
    CLI::App* solve_app = app.add_subcommand("solve", "minimise the QUBO in FILE");
    solve_options(solve_app, sa);
    solve_app->footer("FILE formats (guessed from the content unless --format is given):\n" +
                      format_lines() + "\npermutation problems:\n" + kPermutationFormats + "\n" +
                      kExitStatus);

    ExportArgs ea;
    CLI::App* export_app = app.add_subcommand(
        "export-lp", "write FILE for MIP solvers: CPLEX-LP, or MPS where OUT ends in .mps");
    in_out_options(export_app, "FILE", ea);
    export_app->add_flag("--linearize", ea.linearize, kLinearize);
    export_app->footer(formats_footer("FILE formats:", kPermutationExport));

    ExportArgs ca;
    CLI::App* convert_app = app.add_subcommand(
        "convert", "read IN and write the same problem to OUT in another format");
    in_out_options(convert_app, "IN", ca);
    convert_app
        ->add_option("--to", ca.to,
                     "the format of OUT: one below, lp or mps (default: from OUT's extension)")
        ->type_name("NAME");
    convert_app->add_flag("--linearize", ca.linearize, std::string("lp, mps: ") + kLinearize);
    convert_app->footer(formats_footer("formats:", kPermutationExport));

    CLI::App* info_app = app.add_subcommand("info", "describe this machine and build");
    info_app->footer(kExitStatus);
    for (CLI::App* sub : {solve_app, export_app, convert_app, info_app}) {
        sub->allow_extras();
        sub->group("commands");
        sub->get_help_ptr()->group("options");
    }

    if (first == "help") {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& e) {
        std::printf("%s\n", e.what());
        return 0;
    } catch (const CLI::ParseError& e) {
        throw UsageError{usage_message(e), first};
    }
    CLI::App* chosen = app.get_subcommands().front();
    if (!chosen->remaining().empty()) {
        const std::string extra = chosen->remaining().front();
        throw UsageError{
            (extra.size() > 1 && extra[0] == '-' ? "unknown option " : "unexpected argument ") +
                extra,
            first};
    }
    if (chosen == solve_app) return solve(sa);
    if (chosen == export_app) return export_lp(ea);
    if (chosen == convert_app) return convert_files(ca);
    return info();
}

int fail(const std::string& line, int status) {
    std::fflush(stdout);
    std::fprintf(stderr, "dalo: %s\n", line.c_str());
    return status;
}

}  // namespace

int run(int argc, char** argv) {
    try {
        return run_command(argc, argv);
    } catch (const UsageError& e) {
        const std::string help =
            e.command.empty() ? "dalo --help" : "dalo " + e.command + " --help";
        return fail(e.text + "\nsee '" + help + "'", 2);
    } catch (const ReadError& e) {
        return fail(e.text, 2);
    } catch (const MipError& e) {
        // A model that is not an ILP is a valid file the export does not apply to.
        return fail(e.text, e.text.find("not an ILP") != std::string::npos ? 1 : 2);
    } catch (const std::bad_alloc&) {
        return fail("out of memory", 2);
    } catch (const std::exception& e) {
        // dalo::error (and the fuzzing builds' thrown misuse) carry the prefix already.
        const std::string what = e.what();
        return fail(what.starts_with("dalo: ") ? what.substr(6) : what, 2);
    } catch (...) {
        return fail("unexpected error", 2);
    }
}

}  // namespace dalo_cli
