// The command-line program: each file format on small files with known optima, malformed
// input as one-line errors with exit status 2, usage errors, LP export and info.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

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
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) r.out.append(buffer, n);
    const int raw = pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return r;
}

std::string file(const std::string& name, const std::string& text) {
    const std::string path =
        testing::TempDir() + "dalo_cli_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path) << text;
    return path;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(Cli, EachFormatReachesTheKnownOptimum) {
    // A 4-cycle with a chord of weight -1: the best cut takes the four cycle edges (4).
    const std::string g = file("g", "4 5 \n1 2 1\n2 3 1\n3 4 1\n4 1 1\n1 3 -1\n");
    Outcome r = run("solve " + g + " --solver sweep");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "energy -4\ncut 4\n")) << r.out;
    EXPECT_TRUE(has(r.out, "assignment 1010\n") || has(r.out, "assignment 0101\n")) << r.out;

    // Two BQP instances; the second: max 3x1 - 2x2 + 2*2*x1*x2 = 5 at x = 11.
    const std::string b = file("b", " 2\n 2 2\n 1 1 -1\n 2 2 -1\n 2 3\n 1 1 3\n 2 2 -2\n 1 2 2\n");
    r = run("solve " + b + " --solver sweep --instance 2");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "energy -5\nvalue 5\n")) << r.out;
    EXPECT_TRUE(has(r.out, "assignment 11\n")) << r.out;
    r = run("solve " + b + " --solver sweep");
    EXPECT_TRUE(has(r.out, "value 0\n")) << r.out;

    // Triplets over indices 7 and 3 (numbered in ascending index order): x3 + x7 - 3 x3 x7.
    const std::string q = file("q", "# a comment\n7 7 1\n3 3 1\n\n3 7 -3\n");
    r = run("solve " + q + " --solver sweep --out " + q + ".out");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "energy -1\n")) << r.out;
    std::ifstream written(q + ".out");
    std::string line;
    std::getline(written, line);
    EXPECT_EQ(line, "11");
    std::remove((q + ".out").c_str());

    // The heuristic finds the same optimum, and the top-k list is listed.
    r = run("solve " + g + " --time-limit 0.2 --seed 1 --threads 1 --topk 2 --quiet");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "cut 4\n")) << r.out;
    EXPECT_TRUE(has(r.out, "top 1: energy -4 ")) << r.out;
    r = run("solve " + g + " --time-limit 5 --best-known 4 --quiet");
    EXPECT_TRUE(has(r.out, "cut 4 (best known 4)\n")) << r.out;
    for (const std::string& f : {g, b, q}) std::remove(f.c_str());
}

TEST(Cli, MalformedFilesGiveOneLineAndStatusTwo) {
    struct Case {
        std::string name, text, format, message;
    };
    const Case cases[] = {
        {"trunc", "3 2\n1 2 1\n2 3\n", "", ":3: expected 3 numbers (i j weight), found 2"},
        {"range", "3 2\n1 2 1\n2 9 1\n", "", ":3: vertex 9 outside 1..3"},
        {"nan", "3 2\n1 2 1\n2 3 x1\n", "", ":3: 'x1' is not an integer"},
        {"short", "3 5\n1 2 1\n2 3 1\n", "", ": expected 5 edges, found 2 (truncated file?)"},
        {"loop", "3 1\n2 2 1\n", "", ":2: self loop on vertex 2"},
        {"empty", "\n  \n", "", ": empty file"},
        {"bqp", " 1\n 3 2\n 1 1 5\n", "",
         ": instance 1 announces 2 entries, found 1 (truncated file?)"},
        {"huge", "0 1 4294967296\n", "", ":1: value 4294967296 does not fit a 32-bit coefficient"},
        {"neg", "0 -1 4\n", "--format qubo", ":1: negative index -1"},
        {"guess", "1 2 3 4\n", "",
         ":1: cannot tell the format from 4 numbers on the first line (use "
         "--format gset|bqp|qubo)"},
    };
    for (const Case& c : cases) {
        const std::string path = file(c.name, c.text);
        Outcome r = run("solve " + path + " " + c.format);
        EXPECT_EQ(r.status, 2) << c.name << ": " << r.out;
        EXPECT_EQ(r.out, "dalo: " + path + c.message + "\n") << c.name;
        std::remove(path.c_str());
    }
    Outcome r = run("solve /nonexistent/file");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "dalo: /nonexistent/file: cannot open file\n");
}

TEST(Cli, UsageErrorsExportAndInfo) {
    Outcome r = run("solve");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r.out, "dalo: no FILE given\nusage: dalo solve FILE")) << r.out;
    r = run("solve x --threads 0");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r.out, "dalo: --threads must be >= 1\n")) << r.out;
    r = run("solve x --time-limit soon");
    EXPECT_TRUE(has(r.out, "dalo: --time-limit: 'soon' is not a valid number\n")) << r.out;
    r = run("solve x --solver fast");
    EXPECT_TRUE(has(r.out, "dalo: --solver: 'fast' is not one of brisk, sweep, kelp\n")) << r.out;
    r = run("frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(has(r.out, "dalo: unknown command 'frobnicate'\n")) << r.out;

    // A linear model exports; a quadratic one is refused with the reason.
    const std::string lin = file("lin", "1 1 -2\n2 2 3\n");
    const std::string lp = lin + ".lp";
    r = run("export-lp " + lin + " " + lp);
    EXPECT_EQ(r.status, 0) << r.out;
    std::ifstream in(lp);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "\\ Integer linear program written by dalo");
    const std::string quad = file("quad", "1 2 -2\n");
    r = run("export-lp " + quad + " " + lp);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.out, ": not an ILP: the objective has a degree-2 term")) << r.out;
    for (const std::string& f : {lin, lp, quad}) std::remove(f.c_str());

    r = run("info");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(has(r.out, "solver_type       c32e64\n")) << r.out;
}

}  // namespace
