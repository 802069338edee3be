// The command-line program: each file format on small files with known optima, the format
// guessed or forced, malformed input and misuse as one-line errors with exit status 2, usage
// errors and help pages, --json against the text of the same run, conversion, the MIP export
// with and without --linearize, and info.
#include <sys/wait.h>
#include <unistd.h>
#include "support/suite.hpp"

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

namespace {

struct Outcome {
    int status;
    std::string out;  // standard output and standard error together
};

Outcome run(const std::string& args) {
    FILE* p = popen((DALO_CLI_PATH " " + args + " 2>&1").c_str(), "r");
    if (p == nullptr) return {-1, ""};
    std::string out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    const int raw = pclose(p);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), out};
}

// text matches pattern, where each "..." in the pattern stands for any text: the pieces
// between them appear in order, the first at the start and the last at the end.
bool matches(const std::string& text, const std::string& pattern) {
    size_t at = 0, from = 0;
    for (size_t dots; (dots = pattern.find("...", from)) != std::string::npos; from = dots + 3) {
        const std::string piece = pattern.substr(from, dots - from);
        at = from == 0 ? (text.starts_with(piece) ? 0 : std::string::npos) : text.find(piece, at);
        if (at == std::string::npos) return false;
        at += piece.size();
    }
    const std::string last = pattern.substr(from);
    return from == 0 ? text == pattern : text.size() >= at + last.size() && text.ends_with(last);
}

// One invocation. @ stands for the path of a file holding text (or of none where text is
// null) in args, expected and the path of written, whose content @.out must match.
struct Case {
    const char *name, *text, *args;
    int status;
    std::string expected;
    const char* written = nullptr;
};

// A 4-cycle with a chord of weight -1: the best cut takes the four cycle edges (4).
constexpr const char* kGraph = "4 5 \n1 2 1\n2 3 1\n3 4 1\n4 1 1\n1 3 -1\n";
// Two BQP instances; the second: max 3x1 - 2x2 + 2*2*x1*x2 = 5 at x = 11.
constexpr const char* kBqp = " 2\n 2 2\n 1 1 -1\n 2 2 -1\n 2 3\n 1 1 3\n 2 2 -2\n 1 2 2\n";
// Triplets over indices 7 and 3 (numbered in ascending index order): x3 + x7 - 3 x3 x7.
constexpr const char* kTriplets = "# a comment\n7 7 1\n3 3 1\n\n3 7 -3\n";

// Facility pairs with flows 1, 2, 3 and distances 5, 1, 2: the best permutation costs 24.
constexpr const char* kQap3 = "3\n0 1 2\n1 0 3\n2 3 0\n0 5 1\n5 0 2\n1 2 0\n";

// 49 variables, one more than enumeration covers.
const std::string kWide = [] {
    std::string s;
    for (int i = 0; i < 49; ++i) s += std::to_string(i) + " " + std::to_string(i) + " 1\n";
    return s;
}();

// What a reader's message ends with when the format was guessed, and a usage error's hint.
std::string guessed(const std::string& format) {
    return " (guessed format " + format + "; use --format gset|bqp|qubo|qbsolv|bqm)\n";
}
const std::string kSeeSolve = "\nsee 'dalo solve --help'\n";

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
     "dalo: unknown format 'csv' (gset, bqp, qubo, qbsolv or bqm)\n"},
    {"guess", "1 2 3 4\n", "solve @", 2,
     "dalo: @:1: cannot tell the format from 4 numbers on the first line (use "
     "--format gset|bqp|qubo|qbsolv|bqm)\n"},
    {"instance", kBqp, "solve @ --instance 3", 2,
     "dalo: @:1: instance 3 requested, the file has 2" + guessed("bqp")},
    {"trunc", "3 2\n1 2 1\n2 3\n", "solve @", 2,
     "dalo: @:3: expected 3 numbers (i j weight), found 2" + guessed("gset")},
    {"range", "3 2\n1 2 1\n2 9 1\n", "solve @", 2,
     "dalo: @:3: vertex 9 outside 1..3" + guessed("gset")},
    {"nan", "3 2\n1 2 1\n2 3 x1\n", "solve @", 2,
     "dalo: @:3: 'x1' is not an integer" + guessed("gset")},
    {"short", "3 5\n1 2 1\n2 3 1\n", "solve @", 2,
     "dalo: @: expected 5 edges, found 2 (truncated file?)" + guessed("gset")},
    {"loop", "3 1\n2 2 1\n", "solve @", 2, "dalo: @:2: self loop on vertex 2" + guessed("gset")},
    {"empty", "\n  \n", "solve @ --format csv", 2, "dalo: @: empty file\n"},
    {"entries", " 1\n 3 2\n 1 1 5\n", "solve @", 2,
     "dalo: @: instance 1 announces 2 entries, found 1 (truncated file?)" + guessed("bqp")},
    {"huge", "0 1 4294967296\n", "solve @", 2,
     "dalo: @:1: value 4294967296 does not fit a 32-bit coefficient" + guessed("qubo")},
    {"neg", "0 -1 4\n", "solve @ --format qubo", 2, "dalo: @:1: negative index -1\n"},
    // Checked before the library is called, so nothing else is printed.
    {"wide", kWide.c_str(), "solve @ --solver sweep", 2,
     "dalo: --solver sweep enumerates at most 48 variables and this model has 49; use --solver "
     "brisk or --solver kelp\n"},
    {"unwritable", kGraph, "solve @ --out /nonexistent/a", 2,
     "dalo: /nonexistent/a: cannot write the assignment\n"},
    {"missing", nullptr, "solve /nonexistent/file", 2,
     "dalo: /nonexistent/file: cannot open file\n"},
    // Usage errors point to the command's help. Numbers are whole and in range: no wrapping of
    // negative values, no saturation, no trailing text.
    {"nofile", nullptr, "solve", 2, "dalo: no FILE given" + kSeeSolve},
    {"noout", nullptr, "export-lp x", 2, "dalo: no OUT given\nsee 'dalo export-lp --help'\n"},
    {"threads", nullptr, "solve x --threads 0", 2,
     "dalo: --threads: '0' is not an integer >= 1" + kSeeSolve},
    {"seed", nullptr, "solve x --seed -1", 2, "dalo: --seed: '-1' is not an integer >= 0\n..."},
    {"target", nullptr, "solve x --target 9223372036854775808", 2,
     "dalo: --target: '9223372036854775808' is not an integer\n..."},
    {"topk", nullptr, "solve x --topk 2k", 2, "dalo: --topk: '2k' is not an integer >= 1\n..."},
    {"number", nullptr, "solve x --time-limit nan", 2,
     "dalo: --time-limit: 'nan' is not a number >= 0" + kSeeSolve},
    {"value", nullptr, "solve x --seed", 2, "dalo: --seed needs a value\n..."},
    {"solver", nullptr, "solve x --solver fast", 2,
     "dalo: --solver: 'fast' is not one of brisk, sweep, kelp" + kSeeSolve},
    {"search", nullptr, "solve x --search walk", 2,
     "dalo: --search: 'walk' is not one of portfolio, annealing, breakout" + kSeeSolve},
    {"option", nullptr, "convert x y --bogus", 2,
     "dalo: unknown option --bogus\nsee 'dalo convert --help'\n"},
    {"extra", nullptr, "solve x y", 2, "dalo: unexpected argument y" + kSeeSolve},
    {"command", nullptr, "frobnicate", 2,
     "dalo: unknown command 'frobnicate'\nsee 'dalo --help'\n"},
    {"nocommand", nullptr, "", 2, "dalo: no command given\nsee 'dalo --help'\n"},
    // Every help page ends with the exit statuses.
    {"help", nullptr, "--help", 0,
     "dalo: solve...\nusage: dalo [OPTIONS] COMMAND\n...\n  solve  ...\n  convert...\n"
     "exit status:\n  0  done\n  1  the model is not an integer linear program (export-lp, or "
     "convert to .lp or .mps,\n     without --linearize)\n  2  usage error, unreadable or "
     "malformed file, or a request that cannot be met\n  3  solve of a qap or tsp file: the best "
     "state found breaks a one-hot constraint\n     (\"feasible no\")\n"},
    {"solvehelp", nullptr, "solve --help", 0,
     "minimise the QUBO in FILE\nusage: dalo solve [OPTIONS] FILE\n...\n  --solver NAME  ...sweep: "
     "exhaustive, up to 48 variables\n...\n  --best-known V...\n  --json...\nFILE formats...\n"
     "  bqp     OR-Library BQP: K, then per instance \"n nnz\" and nnz lines \"i j q\";\n"
     "          maximises x'Qx (pick...\n\npermutation problems:\n  qap     QAPLIB...\n  tsp     "
     "TSPLIB "
     "95...\n  and \"feasible yes\"...(exit status 3)\n\nexit status:\n  0  done\n...cannot be "
     "met\n  3  solve...(\"feasible no\")\n"},
    {"version", nullptr, "--version", 0, "dalo ...\n"},
    // A quadratic model is refused with status 1 and the option that takes it, which then
    // writes a row per side of the product.
    {"quad", "1 2 -2\n", "export-lp @ @.out", 1,
     "dalo: @: not an ILP: the objective has a degree-2 term; --linearize...\n"},
    {"linearize", "1 2 -2\n", "export-lp @ @.out --linearize", 0, "wrote @.out\n",
     "...obj: +0 x1 +0 x2 -2 x1_x2\nSubject To\n c0: - 1 x1 + 1 x1_x2 <= 0\n c1: - 1 x2 + 1 x1_x2 "
     "<= 0\n c2: + 1 x1 + 1 x2 - 1 x1_x2 <= 1\n...Binaries\n x1 x2 x1_x2\nEnd\n"},
    {"convertlp", kGraph, "convert @ @.out --to lp", 1, "dalo: @: not an ILP: ...--linearize...\n"},
    {"info", nullptr, "info", 0, "version ...\nsolver_type       c32e64\n"},
    // Permutation problems, by a TSPLIB keyword or by --format (by extension: permutation_test).
    {"tsp3",
     "NAME: t\nTYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: EXPLICIT\nEDGE_WEIGHT_FORMAT: "
     "LOWER_ROW\nEDGE_WEIGHT_SECTION\n1\n2 3\nEOF\n",
     "solve @ --solver sweep --best-known 6", 0,
     "solving @ (tsp, 3 cities, 9 variables, 18 terms, 6 one-hot constraints of weight 7) with "
     "sweep\nenergy 6\ncost 6 (best known 6)\ntime_to_solution ...\ntour 3 2 1\nfeasible yes\n"},
    {"qap3", kQap3, "solve @ --format qap --solver sweep --topk 2", 0,
     "solving @ (qap, 3 facilities, 9 variables, 18 terms, 6 one-hot constraints of weight 51) "
     "with sweep\nenergy 24\ncost 24\ntime_to_solution ...\npermutation 2 1 3\nfeasible yes\n"
     "top 1: energy 24 cost 24 permutation 2 1 3 feasible yes\n"
     "top 2: energy 26 cost 26 permutation 1 2 3 feasible yes\n"},
    {"keyword", "DIMENSION: 3\nTYPE: TSP\nEDGE_WEIGHT_TYPE: ATT\nNODE_COORD_SECTION\n1 0 0\n",
     "solve @", 2, "dalo: @:5: NODE_COORD_SECTION ends after 1 of 3 nodes\n"},
    {"qaptrunc", "2\n0 1\n1 0\n0 3\n", "solve @ --format qap", 2,
     "dalo: @:4: the file ends inside the distance matrix: 6 of 8 numbers (truncated file?)\n"},
};

// A file holding text (none where text is null) for one test, removed with what the test
// writes beside it.
struct Scratch {
    std::string path;
    Scratch(const std::string& name, const char* text)
        : path(testing::TempDir() + "dalo_cli_" + std::to_string(getpid()) + "_" + name) {
        if (text != nullptr) std::ofstream(path) << text;
    }
    ~Scratch() {
        for (const char* suffix : {"", ".out", ".json"}) std::remove((path + suffix).c_str());
    }
    std::string at(const std::string& s) const {
        return std::regex_replace(s, std::regex("@"), path);
    }
};

class CliCase : public testing::TestWithParam<Case> {};

TEST_P(CliCase, PrintsTheExpectedOutputAndStatus) {
    const Case& c = GetParam();
    const Scratch f(c.name, c.text);
    const Outcome r = run(f.at(c.args));
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_TRUE(matches(r.out, f.at(c.expected))) << r.out;
    const std::string written =
        c.written ? std::string(
                        std::istreambuf_iterator<char>(std::ifstream(f.path + ".out").rdbuf()), {})
                  : "";
    EXPECT_TRUE(c.written == nullptr || matches(written, c.written)) << written;
}

INSTANTIATE_TEST_SUITE_P(Cli, CliCase, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return i.param.name; });

nlohmann::json solve_json(const std::string& args) {
    const Outcome r = run(args + " --json");
    EXPECT_EQ(r.status, 0) << r.out;
    return r.status == 0 ? nlohmann::json::parse(r.out) : nlohmann::json::object();
}

// [1,0,1] as 101.
std::string bits(const nlohmann::json& assignment) {
    return std::regex_replace(assignment.dump(), std::regex("\\D"), "");
}

// --json and the text describe the same run: the text rebuilt from the object matches it.
struct JsonCase {
    const char *name, *text, *args, *labels;
    int64_t seed;  // -1: none reported
};
const JsonCase kJsonCases[] = {
    {"gset", kGraph, "solve @ --solver sweep --threads 1 --topk 3", "[1,2,3,4]", -1},
    {"bqp", kBqp, "solve @ --solver sweep --threads 1 --instance 2 --best-known 5", "[1,2]", -1},
    {"brisk", kTriplets, "solve @ --seed 5 --threads 1 --time-limit 0.2 --quiet --topk 2", "[3,7]",
     5},
};

class CliJson : public testing::TestWithParam<JsonCase> {};

TEST_P(CliJson, RendersTheTextOfTheSameRun) {
    const JsonCase& c = GetParam();
    const Scratch f(c.name, c.text);
    const Outcome text = run(f.at(c.args));
    ASSERT_EQ(text.status, 0) << text.out;
    const nlohmann::json j = solve_json(f.at(c.args));
    ASSERT_FALSE(j.empty());
    auto str = [&](const char* key) {
        return j[key].is_string() ? j[key].get<std::string>() : j[key].dump();
    };
    std::string expected = "solving " + str("instance") + " (" + str("format") + ", " +
                           str("variables") + " variables, " + str("terms") + " terms) with " +
                           str("solver") + "\nenergy " + str("energy") + "\n";
    for (const char* value : {"cut", "value"}) {
        if (!j.contains(value)) continue;
        const std::string known =
            j.contains("best_known") ? " (best known " + str("best_known") + ")" : "";
        expected += std::string(value) + " " + str(value) + known + "\n";
    }
    expected += "time_to_solution ...\nassignment " + bits(j["assignment"]) + "\n";
    uint64_t k = 0;
    for (const nlohmann::json& t : j.value("top", nlohmann::json::array()))
        expected += "top " + std::to_string(++k) + ": energy " + t["energy"].dump() + " " +
                    bits(t["assignment"]) + "\n";
    EXPECT_TRUE(matches(text.out, expected)) << text.out << "\n" << j.dump();
    EXPECT_EQ(j["labels"], nlohmann::json::parse(c.labels));
    EXPECT_EQ(j["threads"], 1);
    EXPECT_EQ(j["seed"], c.seed < 0 ? nlohmann::json() : nlohmann::json(c.seed));
    EXPECT_LE(j["time_to_solution"].get<double>(), j["run_time"].get<double>());
    EXPECT_EQ(j["info"]["threads"], "1");
}

INSTANTIATE_TEST_SUITE_P(Cli, CliJson, testing::ValuesIn(kJsonCases),
                         [](const testing::TestParamInfo<JsonCase>& i) { return i.param.name; });

// A converted file has the energies of the original: all 16 states of the 4-cycle, in order.
class CliConvert : public testing::TestWithParam<std::string> {};

TEST_P(CliConvert, KeepsEveryEnergy) {
    const std::string& to = GetParam();
    const Scratch f("convert_" + to, kGraph);
    const std::string out = f.path + (to == "json" ? ".json" : ".out");
    const Outcome r = run("convert " + f.path + " " + out + (to == "json" ? "" : " --to " + to));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "wrote " + out + "\n");
    auto energies = [](const std::string& path) {
        std::vector<int64_t> e;
        const nlohmann::json j = solve_json("solve " + path + " --solver sweep --topk 16");
        for (const nlohmann::json& t : j["top"]) e.push_back(t["energy"]);
        return e;
    };
    const std::vector<int64_t> original = energies(f.path);
    EXPECT_EQ(energies(out), original);
    EXPECT_EQ(original.size(), 16u);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliConvert, testing::Values("gset", "bqp", "qubo", "qbsolv", "json"));

}  // namespace
