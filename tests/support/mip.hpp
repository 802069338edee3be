// Runs the MIP solvers of the distribution on written files and reads their answers back.
#pragma once

#include <unistd.h>
#include "support/suite.hpp"

#include <fstream>
#include <sstream>

namespace dalo_test {

struct MipAnswer {
    bool optimal = false;
    double objective = 0;
    std::map<std::string, double> values;  // by column name (CBC) or "#j" (GLPK, 1-based)
};

// A file name for this process in the test folder.
inline std::string scratch(const std::string& name) {
    return testing::TempDir() + "dalo_mip_" + std::to_string(getpid()) + "_" + name;
}

inline bool run_quiet(const std::string& command) {
    return std::system((command + " > /dev/null 2>&1").c_str()) == 0;
}

// CBC: the status line, then rows and columns as "index name value cost".
inline MipAnswer solve_with_cbc(const std::string& model, const std::string& out) {
    MipAnswer a;
    std::remove(out.c_str());
    run_quiet("cbc " + model + " solve printingOptions all solution " + out);
    std::ifstream in(out);
    std::string line;
    if (!std::getline(in, line)) return a;
    a.optimal = line.rfind("Optimal", 0) == 0;
    const size_t at = line.find("objective value");
    if (at != std::string::npos) a.objective = std::stod(line.substr(at + 15));
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string first, name;
        double value = 0;
        s >> first;
        if (first == "**") s >> first;
        if (s >> name >> value) a.values[name] = value;
    }
    return a;
}

// GLPK's plain solution file: "s mip ROWS COLS STATUS OBJ" ("s bas ROWS COLS PRIMAL DUAL OBJ"
// when no column is integer) and "j COL VALUE".
inline MipAnswer solve_with_glpk(const std::string& model, const std::string& format,
                                 const std::string& out) {
    MipAnswer a;
    std::remove(out.c_str());
    run_quiet("glpsol --" + format + " " + model + " -w " + out);
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string tag;
        s >> tag;
        if (tag == "s") {
            std::string kind, rows, cols, status, dual;
            s >> kind >> rows >> cols >> status;
            if (kind == "bas") s >> dual;
            s >> a.objective;
            a.optimal = kind == "bas" ? status == "f" && dual == "f" : status == "o";
        } else if (tag == "j") {
            long j = 0;
            double value = 0;
            s >> j >> value;
            a.values["#" + std::to_string(j)] = value;
        }
    }
    return a;
}

inline bool have_mip_solvers() {
    return run_quiet("command -v cbc") && run_quiet("command -v glpsol");
}

}  // namespace dalo_test
