// QAPLIB and TSPLIB files: each TSPLIB distance rule against distances worked out by hand,
// every explicit matrix layout, published optima of real files, the one-hot model's energy of
// every permutation against its cost, small instances solved to the brute-force optimum by
// the program, and malformed files as exact one-line messages.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <numeric>
#include <sstream>

#include "assignment.hpp"
#include "readers.hpp"
#include "support/suite.hpp"
#include "tokens.hpp"

namespace {

using dalo_cli::Assignment;
using dalo_test::thrown;

Assignment read(const std::string& format, const std::string& text) {
    const dalo_cli::Tokens t("f", text);
    return format == "qap" ? dalo_cli::read_qap(t) : dalo_cli::read_tsp(t);
}

std::string tsplib(const std::string& type, int n, const std::string& rest) {
    return "NAME : t\nTYPE: TSP\nDIMENSION: " + std::to_string(n) + "\nEDGE_WEIGHT_TYPE:" + type +
           "\n" + rest;
}

// The upper triangle of a's distances, row by row.
std::vector<int64_t> upper(const Assignment& a) {
    std::vector<int64_t> u;
    for (uint32_t i = 0; i < a.n; ++i) {
        for (uint32_t j = i + 1; j < a.n; ++j) u.push_back(a.distance[i * a.n + j]);
    }
    return u;
}

struct Rule {
    const char *type, *coordinates;
    std::vector<int64_t> upper;
};

// EUC_2D rounds half up (node 4); ATT rounds up where rounding lost (1-2, 1-3) and not
// where the root is whole (2-3); GEO reads 10.5 as 10 degrees 50 minutes and adds 1 km.
const Rule kRules[] = {
    {"EUC_2D", "1 0 0\n2 3 4\n3 1 1\n4 0 2.5\n", {5, 1, 3, 4, 3, 2}},
    {"ATT", "1 0 0\n2 10 0\n3 0 30\n", {4, 10, 10}},
    {" GEO",
     "1 10.0 0.0\n2 10.5 0.0\n3 16.47 96.10\n4 -33.55 151.10\n",
     {93, 10346, 16073, 10318, 16140, 8112}},
};

TEST(Permutation, TsplibDistanceRulesMatchHandComputedValues) {
    for (const Rule& r : kRules) {
        const std::string c = r.coordinates;
        const int n = static_cast<int>(std::count(c.begin(), c.end(), '\n'));
        const Assignment a = read("tsp", tsplib(r.type, n, "NODE_COORD_SECTION\n" + c));
        EXPECT_EQ(upper(a), r.upper) << r.type;
        EXPECT_EQ(a.distance[0], 0);
    }
}

// The symmetric matrix with rows 0 1 2 3 / 1 0 4 5 / 2 4 0 6 / 3 5 6 0 in every layout.
TEST(Permutation, EveryExplicitLayoutGivesTheSameMatrix) {
    const std::pair<const char*, const char*> layouts[] = {
        {"FULL_MATRIX", "0 1 2 3\n1 0 4 5\n2 4 0 6\n3 5 6 0"},
        {"UPPER_ROW", "1 2 3\n4 5\n6"},
        {"LOWER_ROW", "1\n2 4\n3 5 6"},
        {"UPPER_DIAG_ROW", "0 1 2 3 0 4 5 0 6 0"},
        {"LOWER_DIAG_ROW", "0\n1 0\n2 4 0\n3 5 6 0"},
        {"UPPER_COL", "1 2 4 3 5 6"},
        {"LOWER_COL", "1 2 3\n4 5 6"},
        {"UPPER_DIAG_COL", "0 1 0 2 4 0 3 5 6 0"},
        {"LOWER_DIAG_COL", "0 1 2 3 0 4 5 0 6 0"},
    };
    for (const auto& [format, numbers] : layouts) {
        const Assignment a = read("tsp", tsplib("EXPLICIT", 4,
                                                "EDGE_WEIGHT_FORMAT: " + std::string(format) +
                                                    "\nEDGE_WEIGHT_SECTION\n" + numbers +
                                                    "\nDISPLAY_DATA_SECTION\n1 0 0\n2 1 0\n3 2 "
                                                    "0\n4 3 0\nEOF\n"));
        EXPECT_EQ(upper(a), (std::vector<int64_t>{1, 2, 3, 4, 5, 6})) << format;
        EXPECT_EQ(a.distance[3 * 4 + 2], 6) << format;
    }
}

// The shortest tour by dynamic programming over subsets (Held and Karp): best[S][j] is the
// shortest path from city 0 through the cities of S (bit j - 1 for city j), ending at j.
int64_t shortest_tour(const Assignment& a) {
    const uint32_t n = a.n, m = n - 1, full = (1u << m) - 1;
    auto d = [&](uint32_t i, uint32_t j) { return a.distance[size_t{i} * n + j]; };
    std::vector<int64_t> best((size_t{full} + 1) * m, INT64_MAX / 2);
    for (uint32_t j = 0; j < m; ++j) best[(size_t{1} << j) * m + j] = d(0, j + 1);
    for (uint32_t s = 1; s <= full; ++s) {
        for (uint32_t j = 0; j < m; ++j) {
            const int64_t here = best[size_t{s} * m + j];
            if (!(s >> j & 1) || here >= INT64_MAX / 2) continue;
            for (uint32_t k = 0; k < m; ++k) {
                if (s >> k & 1) continue;
                int64_t& to = best[size_t{s | 1u << k} * m + k];
                to = std::min(to, here + d(j + 1, k + 1));
            }
        }
    }
    int64_t tour = INT64_MAX;
    for (uint32_t j = 0; j < m; ++j)
        tour = std::min(tour, best[size_t{full} * m + j] + d(j + 1, 0));
    return tour;
}

Assignment read_file(const std::string& name) {
    const std::string path = DALO_TOOLS_DATA "/" + name;
    return dalo_cli::read_assignment(path, dalo_cli::assignment_format(path, ""));
}

// nug12's listed optimal permutation costs its listed optimum; burma14's shortest tour under
// the GEO rule is its published optimum.
TEST(Permutation, RealFilesMeetTheirPublishedOptima) {
    const Assignment nug12 = read_file("nug12.dat");
    const std::vector<uint32_t> best = {11, 6, 8, 2, 3, 7, 10, 0, 4, 5, 9, 1};
    EXPECT_EQ(dalo_cli::assignment_cost(nug12, best), 578);
    const Assignment burma14 = read_file("burma14.tsp");
    EXPECT_EQ(std::string(burma14.format), "tsp");
    EXPECT_EQ(shortest_tour(burma14), 3323);
}

std::vector<uint32_t> identity(uint32_t n) {
    std::vector<uint32_t> p(n);
    std::iota(p.begin(), p.end(), 0u);
    return p;
}

// A small QAP (asymmetric flows, a non-zero diagonal) and the 4-city matrix above as a tour.
const char* const kQap =
    "4\n0 3 0 2\n1 4 1 0\n5 0 0 2\n0 1 3 0\n\n0 2 7 3\n2 0 1 4\n7 1 0 6\n3 4 6 0\n";
const std::string kTsp =
    tsplib("EXPLICIT", 4, "EDGE_WEIGHT_FORMAT: UPPER_ROW\nEDGE_WEIGHT_SECTION\n1 2 3 4 5 6\n");

// Every permutation's state has the energy of its cost and decodes to it; a state with one
// bit cleared breaks its row and its column, each adding the weight once.
TEST(Permutation, OneHotEnergiesAreTheCostsOfThePermutations) {
    for (const auto& [format, text] :
         {std::pair<std::string, std::string>{"qap", kQap}, {"tsp", kTsp}}) {
        const Assignment a = read(format, text);
        const dalo_cli::OneHot m = dalo_cli::one_hot_model(a);
        const dalo::Model model(m.f.simplify_as_binary());
        std::vector<uint32_t> p = identity(a.n);
        do {
            dalo::Sol s(model);
            for (uint32_t i = 0; i < a.n; ++i)
                s.set(format == "qap" ? m.x({i, p[i]}) : m.x({p[i], i}), 1);
            const int64_t cost = dalo_cli::assignment_cost(a, p);
            EXPECT_EQ(s.comp_energy(), cost);
            const dalo_cli::Decoded d = dalo_cli::decode(a, m, s);
            EXPECT_TRUE(d.feasible);
            EXPECT_EQ(d.cost, cost);
            for (uint32_t i = 0; i < a.n; ++i) EXPECT_EQ(d.order[i], p[i] + 1);
            s.set(format == "qap" ? m.x({0, p[0]}) : m.x({p[0], 0}), 0);
            const dalo_cli::Decoded broken = dalo_cli::decode(a, m, s);
            EXPECT_EQ(s.comp_energy(), broken.cost + 2 * m.weight);
            EXPECT_FALSE(broken.feasible);
            EXPECT_EQ(broken.violations, 2u);
            EXPECT_EQ(broken.order[0], 0);
        } while (std::next_permutation(p.begin(), p.end()));
    }
}

int64_t brute_optimum(const Assignment& a) {
    std::vector<uint32_t> p = identity(a.n);
    int64_t best = INT64_MAX;
    do best = std::min(best, dalo_cli::assignment_cost(a, p));
    while (std::next_permutation(p.begin(), p.end()));
    return best;
}

std::string run_cli(const std::string& args) {
    FILE* p = popen((DALO_CLI_PATH " " + args + " 2>&1").c_str(), "r");
    std::string out;
    char buffer[4096];
    for (size_t n; p != nullptr && (n = fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    if (p != nullptr) pclose(p);
    return out;
}

// Random instances of 7 facilities and 8 cities, solved by the program to the optimum over
// all permutations.
TEST(Permutation, SmallInstancesAreSolvedToTheBruteForceOptimum) {
    std::mt19937_64 rng(3);
    std::string qap = "7\n", tsp =
                                 "NAME: r\nTYPE: TSP\nDIMENSION: 8\nEDGE_WEIGHT_TYPE: EUC_2D\n"
                                 "NODE_COORD_SECTION\n";
    for (int k = 0; k < 2 * 49; ++k) qap += std::to_string(rng() % 10) + (k % 7 == 6 ? "\n" : " ");
    for (int c = 1; c <= 8; ++c)
        tsp += std::to_string(c) + " " + std::to_string(rng() % 100) + " " +
               std::to_string(rng() % 100) + "\n";
    for (const auto& [ext, text] :
         {std::pair<std::string, std::string>{".dat", qap}, {".tsp", tsp}}) {
        const std::string path = testing::TempDir() + "dalo_perm_" + std::to_string(getpid()) + ext;
        std::ofstream(path) << text;
        const int64_t best =
            brute_optimum(dalo_cli::read_assignment(path, ext == ".dat" ? "qap" : "tsp"));
        const std::string out =
            run_cli("solve " + path + " --threads 1 --seed 1 --time-limit 1 --quiet");
        EXPECT_NE(out.find("\ncost " + std::to_string(best) + "\n"), std::string::npos) << out;
        EXPECT_TRUE(out.ends_with("\nfeasible yes\n")) << out;
        std::remove(path.c_str());
    }
}

// QAPLIB by extension and shape (other .dat files keep their QUBO formats), TSPLIB by
// extension or by a keyword on the first line.
TEST(Permutation, FilesAreToldApartFromTheQuboFormats) {
    const std::string kinds[][3] = {
        {".dat", "3\n0 1 2\n", "qap"}, {".dat", "1 2 3\n", ""},       {".dat", " 1\n 3 2\n", ""},
        {".DAT", "\n 1\n", "qap"},     {".txt", "NAME : x\n", "tsp"}, {".tsp", "1 2 3\n", "tsp"},
    };
    for (const auto& [ext, text, format] : kinds) {
        const std::string path = testing::TempDir() + "dalo_kind_" + std::to_string(getpid()) + ext;
        std::ofstream(path) << text;
        EXPECT_EQ(dalo_cli::assignment_format(path, ""), format) << text;
        EXPECT_EQ(dalo_cli::assignment_format(path, "qubo"), "");
        std::remove(path.c_str());
    }
}

const std::string kHead = "TYPE: TSP\nDIMENSION: 3\nEDGE_WEIGHT_TYPE: ";
const std::string kUpper = kHead + "EXPLICIT\nEDGE_WEIGHT_FORMAT: UPPER_ROW\nEDGE_WEIGHT_SECTION\n";
const std::string kCoords = kHead + "EUC_2D\nNODE_COORD_SECTION\n";
const std::string kMalformed[][2] = {
    {"TYPE : CVRP\n", "f:1: TYPE 'CVRP' is not a tour problem (TSP or ATSP)"},
    {"DIMENSION: 1\n", "f:1: DIMENSION '1' is not a city count in 2..2000"},
    {"CAPACITY: 3\n", "f:1: unknown keyword 'CAPACITY'"},
    {"EDGE_WEIGHT_TYPE: EUC_3D\n",
     "f:1: EDGE_WEIGHT_TYPE 'EUC_3D' is not read (EUC_2D, ATT, GEO or EXPLICIT)"},
    {"EDGE_WEIGHT_FORMAT: UPPER_TRI\n",
     "f:1: EDGE_WEIGHT_FORMAT 'UPPER_TRI' is not read (FULL_MATRIX, UPPER_ROW, LOWER_ROW, "
     "UPPER_DIAG_ROW, LOWER_DIAG_ROW, UPPER_COL, LOWER_COL, UPPER_DIAG_COL or LOWER_DIAG_COL)"},
    {"NODE_COORD_SECTION\n", "f:1: NODE_COORD_SECTION before DIMENSION"},
    {kHead + "EUC_2D\n", "f:3: EDGE_WEIGHT_TYPE EUC_2D without NODE_COORD_SECTION"},
    {kCoords + "1 0 0\n1 1 1\n", "f:6: node 1 appears twice"},
    {kCoords + "1 0 0\n2 1 1\nEOF\n", "f:7: NODE_COORD_SECTION ends after 2 of 3 nodes"},
    {kUpper + "1 2\n", "f:6: EDGE_WEIGHT_SECTION ends after 2 of 3 edge weights (UPPER_ROW of 3)"},
    {kUpper + "1 2\n3 4\n", "f:7: more numbers than the 3 edge weights (UPPER_ROW of 3)"},
    {kUpper + "1 2.5 3\n", "f:6: '2.5' is not an integer"},
    {"2\n0 1\n1 0\n0 3\n3\n",
     "f:5: the file ends inside the distance matrix: 7 of 8 numbers (truncated file?)"},
    {"2\n0 1 1 0 0 3 3 0\n9\n", "f:3: more numbers than the 2 matrices of 2 x 2"},
    {"0\n", "f:1: size 0: nothing to assign"},
    {"3\n1 2\n", "f:2: the file ends inside the flow matrix: 2 of 18 numbers (truncated file?)"},
};

TEST(Permutation, MalformedFilesGiveOneExactLine) {
    for (const auto& [text, expected] : kMalformed) {
        const std::string format = text[0] >= '0' && text[0] <= '9' ? "qap" : "tsp";
        EXPECT_EQ(thrown<dalo_cli::ReadError>([&] { read(format, text); }), expected) << text;
    }
}

}  // namespace
