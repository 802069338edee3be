// dalo: solve QUBO files from the command line, export them as LP files, describe the machine.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "dalo.hpp"
#include "readers.hpp"

namespace {

constexpr const char* kUsageCommands =
    "usage: dalo solve FILE [options]     minimise the QUBO in FILE\n"
    "       dalo export-lp FILE OUT.lp    write FILE's model as a CPLEX-LP file (linear models)\n"
    "       dalo info                     describe this machine and build\n"
    "\n"
    "FILE formats (guessed from the first line unless --format is given):\n";
constexpr const char* kUsageOptions =
    "  --instance K             BQP instance (1-based)\n"
    "  --solver brisk|sweep|kelp  solver (default brisk)\n"
    "  --time-limit S           seconds (default 10; sweep: none)\n"
    "  --seed N                 random seed\n"
    "  --threads N              worker threads (default: all cores)\n"
    "  --target E               stop once the energy reaches E\n"
    "  --best-known V           the best known cut or value (gset, bqp): reported beside\n"
    "                           the result, and the search stops once it is reached\n"
    "  --topk K                 also print the K best distinct solutions\n"
    "  --out FILE               write the assignment to FILE instead of printing it\n"
    "  --quiet                  no progress line\n";

// The usage text; the formats and the --format line come from the format table.
const std::string& usage() {
    static const std::string text = [] {
        std::string u = kUsageCommands;
        for (const dalo_cli::FileFormat& f : dalo_cli::formats()) {
            std::string name = f.name;
            name.resize(std::max<size_t>(name.size() + 1, 7), ' ');
            std::string help = f.help;
            for (size_t nl; (nl = help.find('\n')) != std::string::npos;) {
                u += "  " + name + help.substr(0, nl) + "\n";
                help.erase(0, nl + 1);
                name.assign(name.size(), ' ');
            }
            u += "  " + name + help + "\n";
        }
        std::string format = "  --format " + dalo_cli::format_names("|", "|");
        format.resize(std::max<size_t>(format.size() + 1, 27), ' ');
        return u + "\noptions:\n" + format + "file format\n" + kUsageOptions;
    }();
    return text;
}

struct Options {
    std::string file, out_lp, format, solver = "brisk", out;
    uint32_t instance = 1;
    std::optional<double> time_limit;
    std::optional<uint64_t> seed, topk;
    std::optional<uint32_t> threads;
    std::optional<int64_t> target, best_known;
    bool quiet = false;
};

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "dalo: %s\n%s", message.c_str(), usage().c_str());
    std::exit(2);
}

template <class T>
T number(const std::string& flag, const std::string& text) {
    try {
        size_t used = 0;
        T v{};
        if constexpr (std::is_same_v<T, double>) {
            v = std::stod(text, &used);
        } else if constexpr (std::is_signed_v<T>) {
            v = static_cast<T>(std::stoll(text, &used));
        } else {
            if (!text.empty() && text[0] == '-') throw std::invalid_argument(text);
            v = static_cast<T>(std::stoull(text, &used));
        }
        if (used != text.size()) throw std::invalid_argument(text);
        return v;
    } catch (const std::exception&) {
        usage_error(flag + ": '" + text + "' is not a valid number");
    }
}

Options parse(int argc, char** argv, int first) {
    Options o;
    std::vector<std::string> positional;
    for (int k = first; k < argc; ++k) {
        const std::string a = argv[k];
        auto value = [&]() -> std::string {
            if (k + 1 >= argc) usage_error(a + " needs a value");
            return argv[++k];
        };
        if (a == "--format") {
            o.format = value();
        } else if (a == "--instance") {
            o.instance = number<uint32_t>(a, value());
        } else if (a == "--solver") {
            o.solver = value();
            if (o.solver != "brisk" && o.solver != "sweep" && o.solver != "kelp") {
                usage_error("--solver: '" + o.solver + "' is not one of brisk, sweep, kelp");
            }
        } else if (a == "--time-limit") {
            o.time_limit = number<double>(a, value());
            if (!(*o.time_limit >= 0)) usage_error("--time-limit must be >= 0");
        } else if (a == "--seed") {
            o.seed = number<uint64_t>(a, value());
        } else if (a == "--threads") {
            o.threads = number<uint32_t>(a, value());
            if (*o.threads == 0) usage_error("--threads must be >= 1");
        } else if (a == "--target") {
            o.target = number<int64_t>(a, value());
        } else if (a == "--best-known") {
            o.best_known = number<int64_t>(a, value());
        } else if (a == "--topk") {
            o.topk = number<uint64_t>(a, value());
            if (*o.topk == 0) usage_error("--topk must be >= 1");
        } else if (a == "--out") {
            o.out = value();
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a.rfind("--", 0) == 0) {
            usage_error("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) usage_error("no FILE given");
    o.file = positional[0];
    if (positional.size() > 1) o.out_lp = positional[1];
    if (positional.size() > 2) usage_error("unexpected argument " + positional[2]);
    return o;
}

dalo_cli::Problem read_or_exit(const Options& o) {
    try {
        return dalo_cli::read_problem(o.file, o.format, o.instance);
    } catch (const dalo_cli::ReadError& e) {
        std::fprintf(stderr, "dalo: %s\n", e.text.c_str());
        std::exit(2);
    }
}

// The problem as a binary-simplified expression over variables named by file index.
struct Built {
    std::vector<dalo::Var> vars;
    dalo::Expr expr;
};

Built build(const dalo_cli::Problem& p) {
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
    for (const dalo_cli::Entry& e : p.entries) {
        coeffs.push_back(static_cast<int32_t>(e.value));
        words.push_back(first + e.i);
        if (e.i != e.j) words.push_back(first + e.j);
        degrees.push_back(e.i != e.j ? 2u : 1u);
    }
    dalo::Expr raw = dalo::Expr::adopt(
        dalo_expr_create_from_bulk(0, coeffs.size(), coeffs.data(), degrees.data(), words.data()));
    b.expr = raw.simplify_as_binary();
    return b;
}

// Shows the solver's progress lines: the plug-ins print "TTS = <t>s Energy = <e>" per new
// best on standard output, which is routed through a pipe while the search runs.
class Progress {
  public:
    explicit Progress(bool on) : on_(on) {
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
        tty_ = isatty(STDERR_FILENO) != 0;
        reader_ = std::thread([this, fd = fds[0]] { read_lines(fd); });
    }
    ~Progress() { finish(); }
    void finish() {
        if (!on_) return;
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        reader_.join();
        if (tty_ && shown_) std::fputc('\n', stderr);
        on_ = false;
    }

  private:
    void read_lines(int fd) {
        std::string pending;
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) {
            pending.append(buffer, static_cast<size_t>(n));
            size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                show(pending.substr(0, nl));
                pending.erase(0, nl + 1);
            }
        }
        if (!pending.empty()) show(pending);
        close(fd);
    }
    void show(const std::string& line) {
        double t = 0;
        long long e = 0;
        if (std::sscanf(line.c_str(), "TTS = %lfs Energy = %lld", &t, &e) != 2) {
            // Anything else the solver prints goes where it was headed.
            std::string copy = line + "\n";
            if (write(saved_, copy.data(), copy.size()) < 0) return;
            return;
        }
        shown_ = true;
        if (tty_) {
            std::fprintf(stderr, "\r  best energy %lld after %.3f s   ", e, t);
        } else {
            std::fprintf(stderr, "progress: energy %lld at %.3f s\n", e, t);
        }
        std::fflush(stderr);
    }
    bool on_;
    bool tty_ = false;
    bool shown_ = false;
    int saved_ = -1;
    std::thread reader_;
};

std::string assignment(const dalo::Sol& s, const Built& b) {
    std::string bits;
    bits.reserve(b.vars.size());
    for (dalo::Var v : b.vars) bits.push_back(s.has(v) && s[v] != 0 ? '1' : '0');
    return bits;
}

int solve(const Options& o) {
    const dalo_cli::Problem p = read_or_exit(o);
    const Built b = build(p);
    dalo::Model model(b.expr);
    std::printf("solving %s (%s, %u variables, %llu terms) with %s\n", o.file.c_str(),
                p.format->name, p.n, static_cast<unsigned long long>(b.expr.term_count()),
                o.solver.c_str());
    std::fflush(stdout);

    dalo::SearchOptions so;
    so.time_limit = o.time_limit;
    if (!so.time_limit && o.solver != "sweep") so.time_limit = 10.0;
    so.seed = o.seed;
    so.threads = o.threads;
    so.target_energy = o.target;
    if (o.best_known && !so.target_energy) so.target_energy = p.sign * *o.best_known;
    so.topk = o.topk;
    const bool progress = !o.quiet && o.solver != "sweep";
    so.progress = progress;
    if (o.solver == "sweep") so.seed.reset();

    // Enumeration covers 2^48 states at most; say which solver to take instead.
    if (o.solver == "sweep" && model.var_count() > 48) {
        std::fprintf(stderr,
                     "dalo: --solver sweep enumerates at most 48 variables and this model has "
                     "%llu; use --solver brisk or --solver kelp\n",
                     static_cast<unsigned long long>(model.var_count()));
        return 2;
    }
    auto run = [&]() -> dalo::Result {
        Progress shown(progress);
        if (o.solver == "sweep") return dalo::SweepSolver(model).search(so);
        if (o.solver == "kelp") return dalo::KelpSolver(model).search(so);
        return dalo::BriskSolver(model).search(so);
    };
    dalo::Result r = run();
    const dalo::Sol& best = r.sol();
    std::printf("energy %lld\n", static_cast<long long>(r.energy()));
    if (p.sign != 1) {
        std::printf("%s %lld", p.value_name, static_cast<long long>(p.sign * r.energy()));
        if (o.best_known) std::printf(" (best known %lld)", static_cast<long long>(*o.best_known));
        std::printf("\n");
    }
    std::printf("time_to_solution %.3f s\n", r.tts());
    const std::string bits = assignment(best, b);
    if (!o.out.empty()) {
        std::ofstream f(o.out);
        f << bits << "\n";
        if (!f) {
            std::fprintf(stderr, "dalo: %s: cannot write the assignment\n", o.out.c_str());
            return 2;
        }
        std::printf("assignment written to %s\n", o.out.c_str());
    } else {
        std::printf("assignment %s\n", bits.c_str());
    }
    for (uint64_t k = 0; k < r.topk_count(); ++k) {
        std::printf("top %llu: energy %lld %s\n", static_cast<unsigned long long>(k + 1),
                    static_cast<long long>(r.topk_energy(k)), assignment(r.topk_sol(k), b).c_str());
    }
    return 0;
}

int export_lp(const Options& o) {
    if (o.out_lp.empty()) usage_error("export-lp needs FILE and OUT.lp");
    const dalo_cli::Problem p = read_or_exit(o);
    const Built b = build(p);
    dalo::Model model(b.expr);
    dalo_ilp* ilp = dalo_model_ilp_build(model.get());
    if (ilp == nullptr) {
        std::fprintf(stderr, "dalo: %s: %s\n", o.file.c_str(), dalo_ilp_last_error());
        return 1;
    }
    const int rc = dalo_ilp_write_lp(ilp, o.out_lp.c_str());
    dalo_ilp_destroy(ilp);
    if (rc != 0) {
        std::fprintf(stderr, "dalo: %s\n", dalo_ilp_last_error());
        return 2;
    }
    std::printf("wrote %s\n", o.out_lp.c_str());
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

}  // namespace

int main(int argc, char** argv) {
    // Line-buffered, so that solver progress lines arrive as they are printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 2) usage_error("no command given");
    const std::string command = argv[1];
    // A misuse the library reports is one line and exit 2, like a usage error.
    try {
        if (command == "solve") return solve(parse(argc, argv, 2));
        if (command == "export-lp") return export_lp(parse(argc, argv, 2));
    } catch (const dalo::error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    if (command == "info") return info();
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(usage().c_str(), stdout);
        return 0;
    }
    usage_error("unknown command '" + command + "'");
}
