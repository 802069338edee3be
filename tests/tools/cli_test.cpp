// The command-line program: each file format on small files with known optima, the format
// guessed or forced, malformed input and misuse as one-line errors with exit status 2, usage
// errors, LP export and info.
#include <sys/wait.h>
#include <unistd.h>
#include "support/suite.hpp"

#include <fstream>
#include <regex>
#include <sstream>

namespace {

struct Outcome {
    int status;
    std::string out;  // standard output and standard error together
};

Outcome run(const std::string& args) {
    const std::string command = std::string(DALO_CLI_PATH) + " " + args + " 2>&1";
    FILE* p = popen(command.c_str(), "r");
    Outcome r{-1, ""};
    if (p == nullptr) return r;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) r.out.append(buffer, n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r;
}

// text matches pattern, where each "..." in the pattern stands for any text.
bool matches(const std::string& text, const std::string& pattern) {
    const size_t first = pattern.find("...");
    if (first == std::string::npos) return text == pattern;
    if (!text.starts_with(pattern.substr(0, first))) return false;
    size_t at = first, from = first + 3;
    for (size_t dots; (dots = pattern.find("...", from)) != std::string::npos; from = dots + 3) {
        at = text.find(pattern.substr(from, dots - from), at);
        if (at == std::string::npos) return false;
        at += dots - from;
    }
    const std::string last = pattern.substr(from);
    return text.size() >= at + last.size() && text.ends_with(last);
}

// One invocation. @ stands for the path of a file holding text (or of none where text is
// null) in args, expected and the path of written, whose content @.out must match.
struct Case {
    const char *name, *text, *args;
    int status;
    const char *expected, *written = nullptr;
};

// A 4-cycle with a chord of weight -1: the best cut takes the four cycle edges (4).
constexpr const char* kGraph = "4 5 \n1 2 1\n2 3 1\n3 4 1\n4 1 1\n1 3 -1\n";
// Two BQP instances; the second: max 3x1 - 2x2 + 2*2*x1*x2 = 5 at x = 11.
constexpr const char* kBqp = " 2\n 2 2\n 1 1 -1\n 2 2 -1\n 2 3\n 1 1 3\n 2 2 -2\n 1 2 2\n";
// Triplets over indices 7 and 3 (numbered in ascending index order): x3 + x7 - 3 x3 x7.
constexpr const char* kTriplets = "# a comment\n7 7 1\n3 3 1\n\n3 7 -3\n";

// 49 variables, one more than enumeration covers.
const std::string kWide = [] {
    std::string s;
    for (int i = 0; i < 49; ++i) s += std::to_string(i) + " " + std::to_string(i) + " 1\n";
    return s;
}();

const Case kCases[] = {
    {"gset", kGraph, "solve @ --solver sweep", 0,
     "solving @ (gset, 4 variables, 9 terms) with sweep\nenergy -4\ncut 4\n"
     "time_to_solution ...\nassignment 1010\n"},
    {"bqp2", kBqp, "solve @ --solver sweep --instance 2", 0,
     "solving @ (bqp, 2 variables, 3 terms) with sweep\nenergy -5\nvalue 5\n"
     "time_to_solution ...\nassignment 11\n"},
    {"bqp1", kBqp, "solve @ --solver sweep", 0, "...2 terms)...\nvalue 0\n..."},
    {"qubo", kTriplets, "solve @ --solver sweep --out @.out", 0,
     "solving @ (qubo, 2 variables, 3 terms) with sweep\nenergy -1\ntime_to_solution ...\n"
     "assignment written to @.out\n",
     "11\n"},
    // The heuristic finds the same optimum, and the top-k list is listed.
    {"brisk", kGraph, "solve @ --time-limit 0.2 --seed 1 --threads 1 --topk 2 --quiet", 0,
     "...with brisk\nenergy -4\ncut 4\n...\ntop 1: energy -4 ...\ntop 2: energy -4 ..."},
    {"known", kGraph, "solve @ --time-limit 5 --best-known 4 --quiet", 0,
     "...\ncut 4 (best known 4)\n..."},
    // --format overrides the guess from the first line.
    {"forced", kGraph, "solve @ --format qubo", 2,
     "dalo: @:1: expected 3 numbers (i j value), found 2\n"},
    {"unknown", kGraph, "solve @ --format csv", 2,
     "dalo: unknown format 'csv' (gset, bqp or qubo)\n"},
    {"guess", "1 2 3 4\n", "solve @", 2,
     "dalo: @:1: cannot tell the format from 4 numbers on the first line (use "
     "--format gset|bqp|qubo)\n"},
    {"instance", kBqp, "solve @ --instance 3", 2,
     "dalo: @:1: instance 3 requested, the file has 2\n"},
    {"trunc", "3 2\n1 2 1\n2 3\n", "solve @", 2,
     "dalo: @:3: expected 3 numbers (i j weight), found 2\n"},
    {"range", "3 2\n1 2 1\n2 9 1\n", "solve @", 2, "dalo: @:3: vertex 9 outside 1..3\n"},
    {"nan", "3 2\n1 2 1\n2 3 x1\n", "solve @", 2, "dalo: @:3: 'x1' is not an integer\n"},
    {"short", "3 5\n1 2 1\n2 3 1\n", "solve @", 2,
     "dalo: @: expected 5 edges, found 2 (truncated file?)\n"},
    {"loop", "3 1\n2 2 1\n", "solve @", 2, "dalo: @:2: self loop on vertex 2\n"},
    {"empty", "\n  \n", "solve @ --format csv", 2, "dalo: @: empty file\n"},
    {"entries", " 1\n 3 2\n 1 1 5\n", "solve @", 2,
     "dalo: @: instance 1 announces 2 entries, found 1 (truncated file?)\n"},
    {"huge", "0 1 4294967296\n", "solve @", 2,
     "dalo: @:1: value 4294967296 does not fit a 32-bit coefficient\n"},
    {"neg", "0 -1 4\n", "solve @ --format qubo", 2, "dalo: @:1: negative index -1\n"},
    {"wide", kWide.c_str(), "solve @ --solver sweep", 2,
     "solving @ (qubo, 49 variables, 49 terms) with sweep\ndalo: --solver sweep enumerates at "
     "most 48 variables and this model has 49; use --solver brisk or --solver kelp\n"},
    {"missing", nullptr, "solve /nonexistent/file", 2,
     "dalo: /nonexistent/file: cannot open file\n"},
    // Usage errors print the usage text after the message.
    {"nofile", nullptr, "solve", 2, "dalo: no FILE given\nusage:..."},
    {"threads", nullptr, "solve x --threads 0", 2, "dalo: --threads must be >= 1\nusage:..."},
    {"number", nullptr, "solve x --time-limit soon", 2,
     "dalo: --time-limit: 'soon' is not a valid number\nusage:..."},
    {"solver", nullptr, "solve x --solver fast", 2,
     "dalo: --solver: 'fast' is not one of brisk, sweep, kelp\nusage:..."},
    {"command", nullptr, "frobnicate", 2, "dalo: unknown command 'frobnicate'\nusage:..."},
    {"help", nullptr, "--help", 0,
     "usage: dalo solve FILE...\n  bqp    OR-Library BQP: K, then per instance \"n nnz\" and nnz "
     "lines \"i j q\";\n         maximises x'Qx (pick...\n  qubo   lines...\n\noptions:\n"
     "  --format gset|bqp|qubo   file format\n  --instance K...\n"},
    // A linear model exports; a quadratic one is refused with the reason.
    {"lin", "1 1 -2\n2 2 3\n", "export-lp @ @.out", 0, "wrote @.out\n",
     "\\ Integer linear program written by dalo\n..."},
    {"quad", "1 2 -2\n", "export-lp @ @.out", 1,
     "dalo: @: not an ILP: the objective has a degree-2 term (only free-form...\n"},
    {"info", nullptr, "info", 0, "version ...\nsolver_type       c32e64\n"},
};

class CliCase : public testing::TestWithParam<Case> {};

TEST_P(CliCase, PrintsTheExpectedOutputAndStatus) {
    const Case& c = GetParam();
    const std::string path =
        testing::TempDir() + "dalo_cli_" + std::to_string(getpid()) + "_" + c.name;
    if (c.text != nullptr) std::ofstream(path) << c.text;
    auto at = [&](const char* s) { return std::regex_replace(s, std::regex("@"), path); };
    const Outcome r = run(at(c.args));
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_TRUE(matches(r.out, at(c.expected))) << r.out;
    if (c.written != nullptr) {
        std::stringstream written;
        written << std::ifstream(path + ".out").rdbuf();
        EXPECT_TRUE(matches(written.str(), c.written)) << written.str();
    }
    for (const std::string& p : {path, path + ".out"}) std::remove(p.c_str());
}

INSTANTIATE_TEST_SUITE_P(Cli, CliCase, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

}  // namespace
