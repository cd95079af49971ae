#pragma once

// The command-line conventions of the project's programs, on CLI11: every program answers
// --help and --version, and reports a wrong command line in one line, with exit code 2.

#include <CLI/CLI.hpp>

#include <string>

namespace avatar_support
{

/// The project's version, "MAJOR.MINOR.PATCH".
const char* version();

/// Gives @p app the --version flag, which prints the program's name and the project's version.
void addVersionFlag(CLI::App& app);

/// Parses the command line into @p app. Returns -1 when the program goes on; otherwise the
/// program's exit code: 0 after --help or --version (printed on standard output), 2 after a
/// wrong command line, reported on standard error as "PROGRAM: what is wrong" with a pointer
/// to --help.
int parseCommandLine(CLI::App& app, int argc, char** argv);

/// Accepts whole numbers from @p least to @p most; anything else is refused as "not a whole
/// number" or "out of the range". The help text names the range.
CLI::Validator wholeNumber(long least, long most);

/// Accepts numbers above 0 and at most @p most.
CLI::Validator aboveZeroUpTo(double most);

} // namespace avatar_support
