// Running a program as a test's user would, through the shell (cmd.exe on Windows), and
// collecting what it gave: the one way the C++ tests run the tool and other programs.
#ifndef KORVELAN380_TESTS_SUPPORT_PROGRAM_H
#define KORVELAN380_TESTS_SUPPORT_PROGRAM_H

#include <filesystem>
#include <string>
#include <vector>

namespace korvelan380::test {

struct ProgramOutput {
  int exit = -1;  // -1 when the program did not exit by itself (a signal, or no shell)
  std::string out;
  std::string err;  // empty when merged into `out`
};

struct ProgramOptions {
  std::vector<std::string> env = {};  // "NAME=VALUE", for this run only
  std::filesystem::path cwd = {};     // where it runs; this process's folder when empty
  bool mergeErr = false;              // standard error into `out`, in the order it was written
};

// Runs `command` (the program and its arguments, quoted for the shell) and waits for it.
ProgramOutput RunProgram(const std::string& command, const ProgramOptions& options = {});

// A path quoted for the shell that RunProgram uses.
std::string ShellQuote(const std::string& word);

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_SUPPORT_PROGRAM_H
