// The command-line program as a function, so that tests and fuzz targets run it in process.
#pragma once

namespace dalo_cli {

// Parses the arguments, runs the command and returns the exit status. Never throws: every
// failure is one "dalo: ..." line on standard error and a status documented in --help.
int run(int argc, char** argv);

}  // namespace dalo_cli
