#include "program.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "temp_folder.h"

namespace korvelan380::test {
namespace {

namespace fs = std::filesystem;

// A file for the program's standard error that no other run, in this process or another,
// uses at the same time.
fs::path ErrorFile() {
  static std::atomic<unsigned> runs{0};
#ifdef _WIN32
  const int process = _getpid();
#else
  const int process = getpid();
#endif
  return fs::path(::testing::TempDir()) /
         ("korvelan380_stderr_" + std::to_string(process) + "_" + std::to_string(runs++));
}

std::string CommandLine(const std::string& command, const ProgramOptions& options,
                        const fs::path& errFile) {
  std::string line;
#ifdef _WIN32
  if (!options.cwd.empty()) line += "cd /d " + ShellQuote(options.cwd.string()) + " && ";
  for (const std::string& assignment : options.env) line += "set \"" + assignment + "\" && ";
#else
  if (!options.cwd.empty()) line += "cd " + ShellQuote(options.cwd.string()) + " && ";
  if (!options.env.empty()) {
    line += "env";
    for (const std::string& assignment : options.env) line += " " + ShellQuote(assignment);
    line += " ";
  }
#endif
  line += command;
  line += options.mergeErr ? " 2>&1" : " 2>" + ShellQuote(errFile.string());
#ifdef _WIN32
  // cmd.exe /c takes the first and the last quote of a line away when the line starts with one.
  line = "\"" + line + "\"";
#endif
  return line;
}

// Runs the line and reads its standard output to the end: the exit status.
int Pipe(const std::string& line, std::string& out) {
#ifdef _WIN32
  FILE* pipe = _popen(line.c_str(), "r");
#else
  FILE* pipe = popen(line.c_str(), "r");
#endif
  if (pipe == nullptr) return -1;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
#ifdef _WIN32
  return _pclose(pipe);  // the program's exit status
#else
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace

std::string ShellQuote(const std::string& word) {
#ifdef _WIN32
  return "\"" + word + "\"";
#else
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
#endif
}

ProgramOutput RunProgram(const std::string& command, const ProgramOptions& options) {
  const fs::path errFile = ErrorFile();
  ProgramOutput o;
  o.exit = Pipe(CommandLine(command, options, errFile), o.out);
  if (!options.mergeErr) {
    o.err = ReadText(errFile);
    std::error_code ignored;
    fs::remove(errFile, ignored);
  }
  return o;
}

}  // namespace korvelan380::test
