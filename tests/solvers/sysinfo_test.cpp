// Library and machine strings: keys, per-thread buffers and cross-checks with the system.
#include <sys/sysinfo.h>
#include <unistd.h>
#include "support/suite.hpp"

#include <regex>

namespace {

// "Mmm dd yyyy" with a blank in place of a leading zero of the day.
bool is_compiler_date(const std::string& s) {
    return std::regex_match(
        s, std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4}"));
}

std::string threads_text() { return std::to_string(sysconf(_SC_NPROCESSORS_ONLN)); }

TEST(ConstStr, UnknownKeysAreInvalid) {
    for (const char* key : {static_cast<const char*>(nullptr), "", "Version", "version ",
                            "hostname\n", "os", "cpu", "gpu", "ram", "cpu_nam"}) {
        EXPECT_STREQ(dalo_const_str(key), "Invalid string parameter") << (key ? key : "null");
    }
}

TEST(ConstStr, MachineStringsMatchTheSystem) {
    EXPECT_EQ(std::string(dalo_const_str("cpu_threads")), threads_text());

    char host[256] = {};
    ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
    EXPECT_STREQ(dalo_const_str("hostname"), host);

    struct sysinfo si {};
    ASSERT_EQ(sysinfo(&si), 0);
    char ram[64];
    std::snprintf(ram, sizeof ram, "%.3f GiB",
                  static_cast<double>(si.totalram) * si.mem_unit / (1024.0 * 1024.0 * 1024.0));
    EXPECT_STREQ(dalo_const_str("total_ram"), ram);
    EXPECT_FALSE(std::string(dalo_const_str("cpu_name")).empty());
}

TEST(ConstStr, LibraryStringsAndTheBufferTheNextCallOverwrites) {
    std::string date = dalo_const_str("compilation_date");
    EXPECT_TRUE(is_compiler_date(date)) << date;
    const char* first = dalo_const_str("version");
    EXPECT_STREQ(first, "2026.08.16");
    const char* second = dalo_const_str("cpu_threads");
    EXPECT_EQ(second, first);
    EXPECT_EQ(std::string(first), threads_text());
    dalo_const_str(nullptr);
    EXPECT_STREQ(first, "Invalid string parameter");
}

TEST(ConstStr, ThreadsHaveTheirOwnBuffers) {
    constexpr int kThreads = 4;
    const char* keys[] = {"version", "cpu_threads", "total_ram", "nonsense"};
    std::vector<std::string> want;
    for (const char* key : keys) want.emplace_back(dalo_const_str(key));
    std::atomic<int> bad{0};
    dalo_test::on_threads(kThreads, [&](int k) {
        const char* mine = dalo_const_str(keys[k]);
        for (int rep = 0; rep < 2000; ++rep) {
            if (want[k] != mine || dalo_const_str(keys[k]) != mine) bad++;
        }
    });
    EXPECT_EQ(bad.load(), 0);
}

TEST(SysInfoSolverType, PerThreadStringForTheThreadsLife) {
    const char* type = dalo_expr_solver_type();
    EXPECT_STREQ(type, "c32e64");
    dalo_const_str("version");
    EXPECT_EQ(dalo_expr_solver_type(), type);
    EXPECT_STREQ(type, "c32e64");
    const char* other = nullptr;
    std::string other_text;
    std::thread t([&] {
        other = dalo_expr_solver_type();
        other_text = other;
    });
    t.join();
    EXPECT_NE(other, type);
    EXPECT_EQ(other_text, "c32e64");
}

}  // namespace
