// Processor, operating-system, GPU and memory strings from fixed inputs.
#include "support/suite.hpp"

#include <optional>

#include "solvers/sysinfo.hpp"

namespace {

using namespace dalo;

TEST(SysInfoCpuName, NameLineEndsTheScanAndDropsTheClock) {
    EXPECT_EQ(cpuinfo_name("processor\t: 0\n"
                           "model name\t: Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz\n"
                           "model name\t: Later Name\n"),
              "Intel(R) Xeon(R) CPU E5-2680 v4");
    // Only " @ " with its blanks cuts the name.
    EXPECT_EQ(cpuinfo_name("model name : Chip@3GHz\n"), "Chip@3GHz");
    EXPECT_EQ(cpuinfo_name("model name:\t AMD EPYC 7B13 \r\n"), "AMD EPYC 7B13");
    EXPECT_EQ(cpuinfo_name("Hardware\t: BCM2835\n"), "BCM2835");
    EXPECT_EQ(cpuinfo_name("Processor\t: ARMv7 Processor rev 4 (v7l)\nHardware : Other\n"),
              "ARMv7 Processor rev 4 (v7l)");
    // Lower-case "processor" lines and name lines without a colon are not name lines.
    EXPECT_EQ(cpuinfo_name("processor\t: 0\nmodel name without colon\nHardware : Board"), "Board");
    EXPECT_EQ(cpuinfo_name(""), "");
    EXPECT_EQ(cpuinfo_name("processor : 0\nvendor_id : X\n"), "");
}

TEST(SysInfoCpuName, ImplementerAndPartGoThroughTheTable) {
    EXPECT_EQ(cpuinfo_name("processor\t: 0\nCPU implementer\t: 0x41\nCPU architecture: 8\n"
                           "CPU part\t: 0xd0c\n"),
              "ARM Neoverse-N1");
    EXPECT_EQ(cpuinfo_name("CPU part : 0xac4\nCPU implementer : 0xc0\n"), "Ampere Altra Max");
    // The base follows the prefix: 65 and octal 0101 are 0x41, 3340 is 0xd0c.
    EXPECT_EQ(cpuinfo_name("CPU implementer : 65\nCPU part : 3340\n"), "ARM Neoverse-N1");
    EXPECT_EQ(cpuinfo_name("CPU implementer : 0101\nCPU part : 0xd03\n"), "ARM Cortex-A53");
    // The last readable value of each line kind counts; unreadable ones are ignored.
    EXPECT_EQ(cpuinfo_name("CPU implementer : 0x41\nCPU part : 0xd03\n"
                           "CPU implementer : 0x51\nCPU part : 0x805\nCPU part : junk\n"),
              "Qualcomm Kryo 680");
    EXPECT_EQ(cpuinfo_name("CPU implementer : 0x41\n"), "");
    EXPECT_EQ(cpuinfo_name("CPU implementer : 0x41\nCPU part : 0xfff\n"), "");
    // A name line wins over the table.
    EXPECT_EQ(cpuinfo_name("CPU implementer : 0x41\nCPU part : 0xd0c\nHardware : Board\n"),
              "Board");
}

TEST(SysInfoCpuFacts, ClockIsTheLargestPositiveMhzLine) {
    auto ghz = cpuinfo_max_ghz(
        "cpu MHz\t\t: 2596.148\nmodel name : X\ncpu MHz : 3400.5\n"
        "cpu MHz : junk\ncpu MHz : 1200\n");
    ASSERT_TRUE(ghz.has_value());
    EXPECT_DOUBLE_EQ(*ghz, 3.4005);
    EXPECT_FALSE(cpuinfo_max_ghz("cpu MHz : 0\ncpu MHz : -5\n").has_value());
    EXPECT_FALSE(cpuinfo_max_ghz("cpu MHz : junk\nBogoMIPS : 50.00\n").has_value());
    EXPECT_FALSE(cpuinfo_max_ghz("").has_value());
}

TEST(SysInfoCpuFacts, CoresAreDistinctPackageCorePairs) {
    // Two packages of two cores with two threads each: eight processors, four cores.
    std::string text;
    for (int package = 0; package < 2; ++package)
        for (int thread = 0; thread < 4; ++thread)
            text += "processor\t: x\nphysical id\t: " + std::to_string(package) +
                    "\nsiblings\t: 4\ncore id\t\t: " + std::to_string(thread % 2) + "\n\n";
    EXPECT_EQ(cpuinfo_core_count(text), std::optional<long>(4));
    // The order of the two fields inside a block does not matter.
    EXPECT_EQ(cpuinfo_core_count("core id : 3\nphysical id : 0\n\ncore id : 3\nphysical id : 1\n"),
              std::optional<long>(2));
    // A block with only one of the fields pairs with nothing in the next block.
    EXPECT_EQ(cpuinfo_core_count("physical id : 0\n\ncore id : 1\n"), std::nullopt);
    EXPECT_EQ(cpuinfo_core_count("processor : 0\nCPU part : 0xd0c\n"), std::nullopt);
}

TEST(SysInfoSummary, CpuSummaryFormat) {
    EXPECT_EQ(format_cpu_summary("AMD EPYC", 2.596148, 2L, 4),
              "AMD EPYC  (max 2.60 GHz, 2 cores, 4 threads)");
    EXPECT_EQ(format_cpu_summary("Chip", std::nullopt, std::nullopt, 8),
              "Chip  (max (unknown) GHz, (unknown) cores, 8 threads)");
    EXPECT_EQ(format_cpu_summary("Chip", 3.0, 16L, 0), "Chip  (max 3.00 GHz, 16 cores)");
    EXPECT_EQ(format_cpu_summary("Chip", 0.004, 1L, -1), "Chip  (max 0.00 GHz, 1 cores)");
}

TEST(SysInfoSummary, GpuSummaryCountsNamesInAscendingOrder) {
    EXPECT_EQ(format_gpu_summary({}), "(none)");
    EXPECT_EQ(format_gpu_summary({"B", "A", "A"}), "A x2, B x1");
    // Byte order: upper case sorts before lower case.
    EXPECT_EQ(format_gpu_summary({"b", "Tesla T4", "a"}), "Tesla T4 x1, a x1, b x1");
}

TEST(SysInfoSummary, RamFormat) {
    EXPECT_EQ(dalo::format_ram(0), "(unknown)");
    EXPECT_EQ(dalo::format_ram(1ULL << 30), "1.000 GiB");
    EXPECT_EQ(dalo::format_ram((3ULL << 29) + 1), "1.500 GiB");
    EXPECT_EQ(dalo::format_ram(1ULL << 20), "0.001 GiB");
}

TEST(SysInfoOsRelease, PrettyNameThenNameAndVersion) {
    EXPECT_EQ(os_release_string("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                                "(bookworm)\"\nVERSION=\"12 (bookworm)\"\n"),
              "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(os_release_string("NAME=\"Fedora Linux\"\nVERSION=\"40 (Server Edition)\"\n"),
              "Fedora Linux 40 (Server Edition)");
    EXPECT_EQ(os_release_string("PRETTY_NAME=\"\"\nNAME=Alpine\nVERSION=3.20\n"), "Alpine 3.20");
    EXPECT_EQ(os_release_string("NAME=Alpine\nVERSION=\"\"\n"), "Alpine");
    EXPECT_EQ(os_release_string("VERSION=7\n"), "Linux 7");
    EXPECT_EQ(os_release_string("# comment\nID=arch\n"), "Linux");
    // Only a matching pair of double quotes around the whole value is removed.
    EXPECT_EQ(os_release_string("PRETTY_NAME=\"A \"B\" C\"\n"), "A \"B\" C");
    EXPECT_EQ(os_release_string("PRETTY_NAME='Single'\n"), "'Single'");
    EXPECT_EQ(os_release_string("PRETTY_NAME=\"Open\n"), "\"Open");
    EXPECT_EQ(os_release_string("PRETTY_NAME=a=b\n"), "a=b");
}

TEST(SysInfoOsRelease, UnreadableFileGivesLinux) {
    EXPECT_EQ(dalo::os_string_from_file("/nonexistent/dalo/os-release"), "Linux");
    EXPECT_EQ(dalo::os_string_from_file("/etc/os-release"), dalo::os_string());
}

}  // namespace
