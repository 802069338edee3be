// The file formats: a sample of every readable format and random problems written in every
// writable format and read back with the same minimum by brute force, each written file a
// fixed point of reading and writing again; malformed files, the size checks and the writers'
// refusals as exact one-line messages; conversion between files.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "convert.hpp"
#include "readers.hpp"
#include "support/problem_brute.hpp"
#include "support/suite.hpp"

namespace {

using dalo_test::minimum;
using dalo_test::thrown;

using dalo_cli::FileFormat;
using dalo_cli::Problem;
using dalo_cli::ReadError;

Problem read_text(const std::string& text, const std::string& format, uint32_t instance = 1) {
    std::istringstream in(text);
    return dalo_cli::read_problem("f", in, format, instance);
}

// What a message ends with when the format was guessed.
std::string guessed(const std::string& format) {
    return " (guessed format " + format + "; use --format gset|bqp|qubo|qbsolv|bqm)";
}

std::string error_of(const std::string& text, const std::string& format) {
    return thrown<ReadError>([&] { read_text(text, format); });
}

std::string written(const Problem& p, const FileFormat& f) {
    std::ostringstream out;
    f.write(out, p, "out");
    return out.str();
}

std::string write_error(const Problem& p, const FileFormat& f) {
    return thrown<ReadError>([&] { written(p, f); });
}

// p in every writable format: read back (also by guessing) with the same minimum, and written
// again to the same text.
void check_round_trips(const Problem& p, const std::string& origin) {
    for (const FileFormat& f : dalo_cli::formats()) {
        SCOPED_TRACE(origin + " -> " + f.name);
        const std::string text = written(p, f);
        const Problem back = read_text(text, f.name);
        EXPECT_EQ(minimum(back), minimum(p)) << text;
        EXPECT_EQ(read_text(text, "").format, &f);
        EXPECT_EQ(written(back, f), text);
        if (f.name == std::string("bqm")) {
            EXPECT_EQ(back.offset, p.offset);
        }
    }
}

struct Sample {
    const char *format, *text;
    int64_t minimum;  // with the constant term
};

const Sample kSamples[] = {
    // A 4-cycle with a chord of weight -1: the best cut takes the four cycle edges.
    {"gset", "4 5 \n1 2 1\n2 3 1\n3 4 1\n4 1 1\n1 3 -1\n", -4},
    // The second instance: max 3x1 - 2x2 + 2*2*x1*x2 = 5.
    {"bqp", " 2\n 2 2\n 1 1 -1\n 2 2 -1\n 2 3\n 1 1 3\n 2 2 -2\n 1 2 2\n", -5},
    {"qubo", "# x3 + x7 - 4 x3 x7\n7 7 1\n3 3 1\n\n3 7 -4\n", -2},
    // -2 x0 + x2 + 4 x0 x1 - 6 x1 x2, least at x = 011.
    {"qbsolv", "c comment\np qubo 0 3 2 2\n0 0 -2\n2 2 1.0\n0 1 4\n2 1 -6\nc end\n", -5},
    // 3 + a - 3b + 2ab - 4bc, least at b = c = 1.
    {"bqm",
     R"({"type": "BinaryQuadraticModel", "version": {"bqm_schema": "3.0.0"}, "use_bytes": false,
     "variable_labels": ["a", "b", ["c", 1]], "variable_type": "BINARY", "offset": 3.0,
     "linear_biases": [1.0, -3, 0.0], "quadratic_biases": [2.0, -4.0],
     "quadratic_head": [0, 1], "quadratic_tail": [1, 2], "info": {}})",
     -4},
    // s0 - s1 + 2 s0 s1, least at s = (-1, 1).
    {"bqm",
     R"({"type": "BinaryQuadraticModel", "variable_labels": [0, 1], "variable_type": "SPIN",
     "offset": 0, "linear_biases": [1, -1], "quadratic_biases": [2], "quadratic_head": [1],
     "quadratic_tail": [0], "num_variables": 2, "num_interactions": 1})",
     -4},
};

TEST(Formats, SamplesReadWithTheirMinimumAndRoundTripThroughEveryFormat) {
    for (const Sample& s : kSamples) {
        const Problem p = read_text(s.text, "", 2);
        EXPECT_EQ(p.format->name, std::string(s.format));
        EXPECT_EQ(minimum(p) + p.offset, s.minimum) << s.text;
        check_round_trips(p, s.text);
    }
}

TEST(Formats, RandomProblemsRoundTripThroughEveryFormat) {
    std::mt19937_64 rng(7);
    for (int round = 0; round < 40; ++round) {
        Problem p;
        p.n = 1 + static_cast<uint32_t>(rng() % 8);
        p.offset = static_cast<int64_t>(rng() % 21) - 10;
        for (uint64_t k = rng() % 14; k > 0; --k) {
            const auto i = static_cast<uint32_t>(rng() % p.n),
                       j = static_cast<uint32_t>(rng() % p.n);
            const int64_t v = static_cast<int64_t>(rng() % 19) - 9;
            p.entries.push_back({i, j, i == j ? v : 2 * v});
        }
        check_round_trips(p, "round " + std::to_string(round));
    }
}

struct Malformed {
    const char *name, *format, *text, *expected;
};

const Malformed kMalformed[] = {
    {"qbsolv_header", "qbsolv", "c x\n0 0 1\n",
     "f:2: expected the header \"p qubo 0 MAXNODES NNODES NCOUPLERS\", found '0 0 1'"},
    {"qbsolv_short_header", "qbsolv", "p qubo 0 3 1\n",
     "f:1: expected the header \"p qubo 0 MAXNODES NNODES NCOUPLERS\", found 'p qubo 0 3 1'"},
    {"qbsolv_none", "qbsolv", "c only\n",
     "f: no header line \"p qubo 0 MAXNODES NNODES NCOUPLERS\""},
    {"qbsolv_truncated", "qbsolv", "p qubo 0 3 1 1\n0 0 1\n",
     "f: the header announces 1 node and 1 coupler, found 1 entry line (truncated file?)"},
    {"qbsolv_extra", "qbsolv", "p qubo 0 3 1 0\n0 0 1\n1 1 1\n",
     "f:3: more lines than the 1 node and 0 couplers announced"},
    {"qbsolv_range", "qbsolv", "p qubo 0 2 1 0\n2 2 1\n", "f:2: index 2 outside 0..1"},
    {"qbsolv_twice", "qbsolv", "p qubo 0 2 0 2\n0 1 1\nc\n1 0 2\n",
     "f:4: coupler 0 1 appears twice (first on line 2)"},
    {"qbsolv_counts", "qbsolv", "p qubo 0 2 2 0\n0 0 1\n0 1 1\n",
     "f:1: the header announces 2 nodes and 0 couplers, the file has 1 node and 1 coupler"},
    {"qbsolv_fraction", "qbsolv", "p qubo 0 2 1 0\n0 0 0.5\n", "f:2: '0.5' is not an integer"},
    {"qbsolv_words", "qbsolv", "p qubo 0 2 1 0\n0 0\n",
     "f:2: expected 3 numbers (i j value), found 2"},
    {"bqm_syntax", "bqm", "{\"type\":\n tru}",
     "f:2: not JSON: syntax error while parsing value - invalid literal; last read: "
     "'\"type\":<U+000A> tru}'"},
    {"bqm_array", "bqm", "[1]", "f:1: expected a JSON object (a binary quadratic model)"},
    {"bqm_type", "bqm", "{\n\"type\": \"DQM\"}",
     "f:2: type '\"DQM\"' is not \"BinaryQuadraticModel\""},
    {"bqm_member", "bqm", R"({"type": "BinaryQuadraticModel", "variable_type": "SPIN"})",
     "f: no \"variable_labels\" member"},
    {"bqm_vartype", "bqm", R"({"type": "BinaryQuadraticModel", "variable_type": "INTEGER"})",
     "f:1: variable_type '\"INTEGER\"' is neither \"BINARY\" nor \"SPIN\""},
    {"bqm_bytes", "bqm", R"({"type": "BinaryQuadraticModel", "use_bytes": true})",
     "f:1: biases stored as bytes are not read (serialise with use_bytes off)"},
};

// The members of a model over two variables, with the part that varies last.
std::string model(const std::string& vartype, const std::string& rest) {
    return R"({"type": "BinaryQuadraticModel", "variable_type": ")" + vartype +
           R"(", "variable_labels": [0, 1], "offset": 0,
)" + rest + "}";
}

TEST(Formats, MalformedFilesGiveOneExactLine) {
    for (const Malformed& m : kMalformed)
        EXPECT_EQ(error_of(m.text, m.format), m.expected) << m.name;
    const std::string q = R"("quadratic_head": [0], "quadratic_tail": [1], )";
    const std::pair<std::string, std::string> bqm[] = {
        {model("BINARY", q + R"("linear_biases": [0.5, 1], "quadratic_biases": [1])"),
         "f:2: linear_biases[0] is '0.5', not an integer (coefficients must be integers)"},
        {model("SPIN", q + R"("linear_biases": [0, 1073741824], "quadratic_biases": [1])"),
         "f:2: linear_biases[1]: value 1073741824 does not fit a 32-bit coefficient"},
        {model("BINARY", q + R"("linear_biases": [0, "1"], "quadratic_biases": [1])"),
         "f:2: linear_biases[1] is '\"1\"', not a number"},
        {model("BINARY", q + R"("linear_biases": [0], "quadratic_biases": [1])"),
         "f:2: linear_biases has 1 entries for 2 variables"},
        {model("BINARY", q + R"("linear_biases": [0, 0], "quadratic_biases": [1, 2])"),
         "f:2: quadratic_head has 1 entries, quadratic_biases 2"},
        {model("BINARY", R"("quadratic_head": [0], "quadratic_tail": [2], "linear_biases": [0, 0],
             "quadratic_biases": [1])"),
         "f:2: quadratic_tail[0]: index 2 outside 0..1"},
        {model("BINARY", R"("quadratic_head": [1], "quadratic_tail": [1], "linear_biases": [0, 0],
             "quadratic_biases": [1])"),
         "f:2: interaction 0 joins variable 1 to itself"},
        {model("BINARY", R"("quadratic_head": [0, 1], "quadratic_tail": [1, 0],
             "linear_biases": [0, 0], "quadratic_biases": [1, 1])"),
         "f:2: interaction 1 0 appears twice (entries 0 and 1)"},
        {model("BINARY",
               q + R"("linear_biases": [0, 0], "quadratic_biases": [1], "num_variables": 3)"),
         "f:2: num_variables is 3, but the lists hold 2"},
    };
    for (const auto& [text, expected] : bqm)
        EXPECT_EQ(error_of(text, ""), expected + guessed("bqm"));
    std::string labels = model("BINARY", q + R"("linear_biases": [0, 0], "quadratic_biases": [1])");
    labels.replace(labels.find("[0, 1]"), 6, "[\"a\", \"a\"]");
    EXPECT_EQ(error_of(labels, "bqm"),
              "f:1: variable_labels[1]: the label '\"a\"' appears twice (also at [0])");
}

TEST(Formats, GuessesAreNamedAndTokensEscaped) {
    EXPECT_EQ(error_of("12\n\n0 1 2 3 4 5 6 7 8 9 10 11\n", ""),
              "f:3: expected 2 numbers (n and nonzero count), found 12" + guessed("bqp"));
    EXPECT_EQ(error_of("\x7f"
                       "ELF\x01\\'\n",
                       ""),
              "f:1: cannot tell the format from the first line, which starts with "
              "'\\x7fELF\\x01\\\\\\'' (use --format gset|bqp|qubo|qbsolv|bqm)");
    EXPECT_EQ(error_of("0 1 " + std::string(30, '9') + "\n", "qubo"),
              "f:1: '999999999999999999999999...' is out of range");
    EXPECT_EQ(thrown<ReadError>([] { dalo_cli::read_problem(testing::TempDir(), "", 1); }),
              testing::TempDir() + ": is a directory");
}

// Counts that the content or the memory cannot back are refused before anything is sized.
TEST(Formats, AnnouncedSizesAreCheckedBeforeAllocating) {
    EXPECT_EQ(error_of("1073741822 1\n1 2 1\n", ""),
              "f:1: 1073741822 vertices and 1 edge: more than 1048576 vertices would appear in "
              "no edge" +
                  guessed("gset"));
    EXPECT_EQ(error_of("100000000 1\n1 2 1\n", "gset"),
              "f:1: 100000000 vertices and 1 edge: more than 1048576 vertices would appear in "
              "no edge");
    EXPECT_EQ(error_of("1\n3000000 2\n1 1 1\n2 2 1\n", "bqp"),
              "f:2: 3000000 variables and 2 entries: more than 1048576 variables would appear in "
              "no entry");
    dalo_cli::set_memory_limit(2000000);
    EXPECT_EQ(error_of("p qubo 0 100000 0 1\n0 1 1\n", ""),
              "f:1: 100000 variables and 1 entry need about 6 MB, more than the 2 MB of memory "
              "at hand" +
                  guessed("qbsolv"));
    EXPECT_EQ(read_text("1000 1\n1 2 1\n", "").n, 1000u);
    dalo_cli::set_memory_limit(0);
}

TEST(Formats, WritersRefuseWhatTheFormatCannotHold) {
    const Problem odd = read_text("7 7 1\n3 7 -3\n", "qubo");
    const Problem big = read_text("0 1 2147483647\n1 0 2147483647\n", "qubo");
    for (const FileFormat& f : dalo_cli::formats()) {
        const std::string name = f.name;
        const bool halves = name == "gset" || name == "bqp";
        if (halves) {
            EXPECT_EQ(write_error(odd, f),
                      "out: x3*x7 has the odd coefficient -3, and " +
                          std::string(name == "gset" ? "a Max-Cut graph" : "a BQP file") +
                          " holds even ones only");
        }
        EXPECT_EQ(write_error(big, f),
                  halves ? "out: x0*x1: value 2147483647 does not fit a 32-bit coefficient once "
                           "doubled"
                         : "out: x0*x1: value 4294967294 does not fit a 32-bit coefficient");
    }
}

TEST(Formats, ConvertWritesTheFormatOfTheExtension) {
    const std::string dir = testing::TempDir() + "dalo_convert_" + std::to_string(getpid());
    std::ofstream(dir + ".gset") << kSamples[0].text;
    dalo_cli::convert(dir + ".gset", "", 1, dir + ".json", "", false);
    dalo_cli::convert(dir + ".json", "bqm", 1, dir + ".out", "qbsolv", false);
    const Problem p = dalo_cli::read_problem(dir + ".out", "", 1);
    EXPECT_EQ(p.format->name, std::string("qbsolv"));
    EXPECT_EQ(minimum(p), -4);
    const auto xyz = [&] { dalo_cli::convert(dir + ".gset", "", 1, dir + ".xyz", "", false); };
    EXPECT_EQ(thrown<ReadError>(xyz), dir +
                                          ".xyz: cannot tell the format from the name (use --to "
                                          "gset|bqp|qubo|qbsolv|bqm|lp|mps)");
    for (const char* ext : {".gset", ".json", ".out"}) std::remove((dir + ext).c_str());
}

}  // namespace
