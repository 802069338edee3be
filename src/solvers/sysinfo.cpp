#include "solvers/sysinfo.hpp"

#include <dlfcn.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace dalo {

namespace {

constexpr const char* kVersion = "2026.08.16";
constexpr const char* kCompilationDate = __DATE__;
constexpr const char* kInvalidKey = "Invalid string parameter";
constexpr const char* kUnknown = "(unknown)";
constexpr const char* kUnknownCpu = "(unknown CPU)";
constexpr const char* kNoGpu = "(none)";

constexpr const char* kLscpuModelName = "LC_ALL=C LANG=C lscpu 2>/dev/null | grep -i 'Model name'";
constexpr const char* kLscpuMaxMhz = "LC_ALL=C LANG=C lscpu 2>/dev/null | grep -i 'CPU max MHz'";
constexpr const char* kDevicetreeModel = "/sys/firmware/devicetree/base/model";
constexpr const char* kCpuDir = "/sys/devices/system/cpu/cpu";

struct ProcessorEntry {
    unsigned long implementer;
    unsigned long part;
    const char* name;
};

constexpr ProcessorEntry kProcessors[] = {
    {0x41, 0xd03, "ARM Cortex-A53"},    {0x41, 0xd04, "ARM Cortex-A35"},
    {0x41, 0xd05, "ARM Cortex-A55"},    {0x41, 0xd07, "ARM Cortex-A57"},
    {0x41, 0xd08, "ARM Cortex-A72"},    {0x41, 0xd09, "ARM Cortex-A73"},
    {0x41, 0xd0a, "ARM Cortex-A75"},    {0x41, 0xd0b, "ARM Cortex-A76"},
    {0x41, 0xd0c, "ARM Neoverse-N1"},   {0x41, 0xd0d, "ARM Cortex-A77"},
    {0x41, 0xd40, "ARM Neoverse-V1"},   {0x41, 0xd41, "ARM Cortex-A78"},
    {0x41, 0xd42, "ARM Cortex-A78AE"},  {0x41, 0xd44, "ARM Cortex-X1"},
    {0x41, 0xd46, "ARM Cortex-A510"},   {0x41, 0xd47, "ARM Cortex-A710"},
    {0x41, 0xd48, "ARM Cortex-X2"},     {0x41, 0xd49, "ARM Neoverse-N2"},
    {0x41, 0xd4a, "ARM Neoverse-E1"},   {0x41, 0xd4b, "ARM Cortex-A78C"},
    {0x41, 0xd4c, "ARM Cortex-X1C"},    {0x41, 0xd4d, "ARM Cortex-A715"},
    {0x41, 0xd4e, "ARM Cortex-X3"},     {0x41, 0xd4f, "ARM Neoverse-V2"},
    {0x41, 0xd80, "ARM Cortex-A520"},   {0x41, 0xd81, "ARM Cortex-A720"},
    {0x41, 0xd82, "ARM Cortex-X4"},     {0x41, 0xd84, "ARM Neoverse-V3"},
    {0x41, 0xd85, "ARM Cortex-X925"},   {0x41, 0xd87, "ARM Cortex-A725"},
    {0x51, 0x800, "Qualcomm Kryo 260"}, {0x51, 0x801, "Qualcomm Kryo 280"},
    {0x51, 0x802, "Qualcomm Kryo 385"}, {0x51, 0x803, "Qualcomm Kryo 485"},
    {0x51, 0x804, "Qualcomm Kryo 585"}, {0x51, 0x805, "Qualcomm Kryo 680"},
    {0x61, 0x22, "Apple Icestorm-M1"},  {0x61, 0x23, "Apple Firestorm-M1"},
    {0x61, 0x28, "Apple Blizzard-M2"},  {0x61, 0x29, "Apple Avalanche-M2"},
    {0x61, 0x30, "Apple Sawtooth-M3"},  {0x61, 0x31, "Apple Everest-M3"},
    {0xc0, 0xac3, "Ampere Altra"},      {0xc0, 0xac4, "Ampere Altra Max"},
};

// Calls f(line) for each line (without its newline) until f returns false.
template <class F>
void for_each_line(std::string_view text, F&& f) {
    while (!text.empty()) {
        size_t nl = text.find('\n');
        if (!f(text.substr(0, nl)) || nl == std::string_view::npos) return;
        text.remove_prefix(nl + 1);
    }
}

// The trimmed text after the first colon; none without a colon.
std::optional<std::string_view> after_colon(std::string_view line) {
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    return trim_blanks(line.substr(colon + 1));
}

// Unsigned number with its base taken from the prefix ("0x41" is 65, "017" is 15).
std::optional<unsigned long> parse_prefixed(std::string_view s) {
    std::string text(s);
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 0);
    if (end == text.c_str() || errno == ERANGE) return std::nullopt;
    return v;
}

// Leading decimal integer, independent of the locale.
std::optional<long long> parse_integer(std::string_view s) {
    long long v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc()) return std::nullopt;
    return v;
}

// Leading decimal number, independent of the locale.
std::optional<double> parse_decimal(std::string_view s) {
    double v = 0;
    auto res = std::from_chars(s.data(), s.data() + s.size(), v);
    if (res.ec != std::errc()) return std::nullopt;
    return v;
}

// Fixed notation, independent of the locale.
std::string fixed(double v, int decimals) {
    char buf[400];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (res.ec != std::errc()) return kUnknown;
    return std::string(buf, res.ptr);
}

std::optional<std::string> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<std::string> read_first_line(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
}

std::optional<long long> read_integer_file(const std::string& path) {
    auto line = read_first_line(path);
    if (!line) return std::nullopt;
    return parse_integer(trim_blanks(*line));
}

// First output line of a shell command, at most 255 characters.
std::optional<std::string> command_line(const char* command) {
    FILE* pipe = popen(command, "r");
    if (pipe == nullptr) return std::nullopt;
    char buf[256];
    bool got = std::fgets(buf, sizeof buf, pipe) != nullptr;
    pclose(pipe);
    if (!got) return std::nullopt;
    return std::string(buf);
}

std::string probe_cpu_name(const std::optional<std::string>& cpuinfo) {
    if (cpuinfo) {
        std::string name = cpuinfo_name(*cpuinfo);
        if (!name.empty()) return name;
    }
    if (auto line = command_line(kLscpuModelName)) {
        auto text = after_colon(*line);
        if (text && !text->empty()) return std::string(*text);
    }
    if (auto line = read_first_line(kDevicetreeModel)) {
        if (!line->empty() && line->back() == '\0') line->pop_back();
        if (!line->empty()) return *line;
    }
    return kUnknownCpu;
}

std::optional<double> max_clock_ghz(const std::optional<std::string>& cpuinfo) {
    for (const char* file : {"/cpufreq/cpuinfo_max_freq", "/cpufreq/scaling_max_freq"}) {
        if (auto khz = read_integer_file(std::string(kCpuDir) + "0" + file)) {
            return static_cast<double>(*khz) / 1e6;
        }
    }
    if (auto line = command_line(kLscpuMaxMhz)) {
        if (auto text = after_colon(*line)) {
            auto mhz = parse_decimal(*text);
            if (mhz && *mhz > 0) return *mhz / 1000;
        }
    }
    if (cpuinfo) return cpuinfo_max_ghz(*cpuinfo);
    return std::nullopt;
}

std::optional<long> physical_cores(long processors, const std::optional<std::string>& cpuinfo) {
    std::set<std::pair<long long, long long>> pairs;
    for (long i = 0; i < processors; ++i) {
        std::string topology = kCpuDir + std::to_string(i) + "/topology/";
        auto package = read_integer_file(topology + "physical_package_id");
        auto core = read_integer_file(topology + "core_id");
        if (package && core) pairs.emplace(*package, *core);
    }
    if (!pairs.empty()) return static_cast<long>(pairs.size());
    if (cpuinfo) return cpuinfo_core_count(*cpuinfo);
    return std::nullopt;
}

// The management library's entry points, as its vendor documents them: status 0 is success
// and a device is an opaque handle.
struct NvmlDeviceRecord;
using NvmlDevice = NvmlDeviceRecord*;
using NvmlInitFn = int (*)();
using NvmlShutdownFn = int (*)();
using NvmlCountFn = int (*)(unsigned int*);
using NvmlHandleFn = int (*)(unsigned int, NvmlDevice*);
using NvmlNameFn = int (*)(NvmlDevice, char*, unsigned int);

template <class F>
F resolve(void* lib, const char* name) {
    return reinterpret_cast<F>(dlsym(lib, name));
}

std::vector<std::string> gpu_device_names() {
    std::vector<std::string> names;
    void* lib = dlopen("libnvidia-ml.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (lib == nullptr) lib = dlopen("libnvidia-ml.so", RTLD_LAZY | RTLD_LOCAL);
    if (lib == nullptr) return names;
    auto init = resolve<NvmlInitFn>(lib, "nvmlInit_v2");
    auto shutdown = resolve<NvmlShutdownFn>(lib, "nvmlShutdown");
    auto count_devices = resolve<NvmlCountFn>(lib, "nvmlDeviceGetCount_v2");
    auto handle_of = resolve<NvmlHandleFn>(lib, "nvmlDeviceGetHandleByIndex_v2");
    auto name_of = resolve<NvmlNameFn>(lib, "nvmlDeviceGetName");
    if (init && shutdown && count_devices && handle_of && name_of && init() == 0) {
        unsigned int count = 0;
        if (count_devices(&count) == 0) {
            for (unsigned int i = 0; i < count; ++i) {
                NvmlDevice device = nullptr;
                char name[256] = {};
                if (handle_of(i, &device) != 0) continue;
                if (name_of(device, name, sizeof name) != 0) continue;
                name[sizeof name - 1] = '\0';
                names.emplace_back(name);
            }
        }
        shutdown();
    }
    dlclose(lib);
    return names;
}

std::string probe_ram() {
    struct sysinfo si {};
    if (::sysinfo(&si) != 0) return kUnknown;
    return format_ram(static_cast<unsigned long long>(si.totalram) * si.mem_unit);
}

}  // namespace

std::string_view trim_blanks(std::string_view s) {
    constexpr std::string_view kBlanks = " \t\r\n";
    size_t first = s.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

const char* processor_table_name(unsigned long implementer, unsigned long part) {
    for (const ProcessorEntry& e : kProcessors) {
        if (e.implementer == implementer && e.part == part) return e.name;
    }
    return nullptr;
}

std::string cpuinfo_name(std::string_view text) {
    std::string name;
    std::optional<unsigned long> implementer, part;
    for_each_line(text, [&](std::string_view line) {
        if (line.starts_with("model name") || line.starts_with("Hardware") ||
            line.starts_with("Processor")) {
            auto value = after_colon(line);
            if (!value) return true;
            // A clock figure after " @ " is not part of the name.
            name = std::string(value->substr(0, value->find(" @ ")));
            return false;
        }
        if (line.starts_with("CPU implementer")) {
            if (auto value = after_colon(line)) {
                if (auto n = parse_prefixed(*value)) implementer = n;
            }
        } else if (line.starts_with("CPU part")) {
            if (auto value = after_colon(line)) {
                if (auto n = parse_prefixed(*value)) part = n;
            }
        }
        return true;
    });
    if (!name.empty()) return name;
    if (implementer && part) {
        if (const char* listed = processor_table_name(*implementer, *part)) return listed;
    }
    return {};
}

std::optional<double> cpuinfo_max_ghz(std::string_view text) {
    std::optional<double> best;
    for_each_line(text, [&](std::string_view line) {
        if (!line.starts_with("cpu MHz")) return true;
        if (auto value = after_colon(line)) {
            auto mhz = parse_decimal(*value);
            if (mhz && (!best || *mhz > *best)) best = mhz;
        }
        return true;
    });
    if (best && *best > 0) return *best / 1000;
    return std::nullopt;
}

std::optional<long> cpuinfo_core_count(std::string_view text) {
    std::set<std::pair<long long, long long>> pairs;
    std::optional<long long> package, core;
    // A blank line closes a processor's block, so ids never pair across processors.
    for_each_line(text, [&](std::string_view line) {
        if (trim_blanks(line).empty()) {
            package.reset();
            core.reset();
        } else if (line.starts_with("physical id")) {
            if (auto value = after_colon(line)) package = parse_integer(*value);
        } else if (line.starts_with("core id")) {
            if (auto value = after_colon(line)) core = parse_integer(*value);
        }
        if (package && core) {
            pairs.emplace(*package, *core);
            package.reset();
            core.reset();
        }
        return true;
    });
    if (pairs.empty()) return std::nullopt;
    return static_cast<long>(pairs.size());
}

std::string os_release_string(std::string_view text) {
    std::map<std::string_view, std::string_view> values;
    for_each_line(text, [&](std::string_view line) {
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) return true;
        std::string_view value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            value = value.substr(1, value.size() - 2);
        }
        values[line.substr(0, eq)] = value;
        return true;
    });
    auto pretty = values.find("PRETTY_NAME");
    if (pretty != values.end() && !pretty->second.empty()) return std::string(pretty->second);
    auto name = values.find("NAME");
    std::string out = name != values.end() ? std::string(name->second) : "Linux";
    auto version = values.find("VERSION");
    if (version != values.end() && !version->second.empty()) {
        out += ' ';
        out += version->second;
    }
    return out;
}

std::string os_string_from_file(const char* path) {
    auto text = read_file(path);
    if (!text) return "Linux";
    return os_release_string(*text);
}

std::string format_cpu_summary(std::string_view name, std::optional<double> max_ghz,
                               std::optional<long> cores, long threads) {
    std::string out(name);
    out += "  (max ";
    out += max_ghz ? fixed(*max_ghz, 2) : kUnknown;
    out += " GHz, ";
    out += cores ? std::to_string(*cores) : kUnknown;
    out += " cores";
    if (threads > 0) out += ", " + std::to_string(threads) + " threads";
    out += ')';
    return out;
}

std::string format_gpu_summary(std::vector<std::string> device_names) {
    if (device_names.empty()) return kNoGpu;
    std::map<std::string, long> counts;
    for (std::string& name : device_names) ++counts[std::move(name)];
    std::string out;
    for (const auto& [name, count] : counts) {
        if (!out.empty()) out += ", ";
        out += name + " x" + std::to_string(count);
    }
    return out;
}

std::string format_ram(unsigned long long bytes) {
    if (bytes == 0) return kUnknown;
    return fixed(static_cast<double>(bytes) / 1073741824.0, 3) + " GiB";
}

// The machine strings describe fixed facts, so each is probed once per process.

std::string os_string() {
    static const std::string os = os_string_from_file("/etc/os-release");
    return os;
}

std::string cpu_name() {
    static const std::string name = probe_cpu_name(read_file("/proc/cpuinfo"));
    return name;
}

std::string cpu_summary() {
    static const std::string summary = [] {
        auto cpuinfo = read_file("/proc/cpuinfo");
        long threads = online_processors();
        return format_cpu_summary(cpu_name(), max_clock_ghz(cpuinfo),
                                  physical_cores(threads, cpuinfo), threads);
    }();
    return summary;
}

std::string gpu_summary() {
    static const std::string summary = format_gpu_summary(gpu_device_names());
    return summary;
}

std::string ram_string() {
    static const std::string ram = probe_ram();
    return ram;
}

std::string host_name() {
    long max = sysconf(_SC_HOST_NAME_MAX);
    size_t size = max > 0 ? static_cast<size_t>(max) + 1 : 256;
    std::string buf(size, '\0');
    if (gethostname(buf.data(), size) != 0) return kUnknown;
    buf[size - 1] = '\0';
    return std::string(buf.c_str());
}

long online_processors() { return sysconf(_SC_NPROCESSORS_ONLN); }

std::string const_string(const char* key) {
    if (key == nullptr) return kInvalidKey;
    std::string_view k(key);
    if (k == "compilation_date") return kCompilationDate;
    if (k == "version") return kVersion;
    if (k == "cpu_name") return cpu_name();
    if (k == "cpu_threads") {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%ld", online_processors());
        return buf;
    }
    if (k == "total_ram") return ram_string();
    if (k == "hostname") return host_name();
    return kInvalidKey;
}

void append_system_info(std::vector<std::pair<std::string, std::string>>& info) {
    info.emplace_back("os", os_string());
    info.emplace_back("cpu", cpu_summary());
    info.emplace_back("gpu", gpu_summary());
    info.emplace_back("ram", ram_string());
}

}  // namespace dalo
