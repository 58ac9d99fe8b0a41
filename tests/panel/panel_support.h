// A `korvelan380 --sim panel` of the test's own, in its own process with its own state file,
// and HTTP requests to it on 127.0.0.1. KORVELAN380_PANEL_TOOL, when set, is the command that
// starts the tool instead, its words separated by ';': the Windows tool under Wine
// ("wine-run.sh;korvelan380.exe").
#ifndef KORVELAN380_TESTS_PANEL_SUPPORT_H
#define KORVELAN380_TESTS_PANEL_SUPPORT_H

#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/program.h"
#include "support/temp_folder.h"

extern char** environ;

namespace korvelan380::test {

using nlohmann::json;

// The words that start the tool.
inline std::vector<std::string> ToolCommand() {
  const char* command = std::getenv("KORVELAN380_PANEL_TOOL");
  if (command == nullptr || *command == '\0') return {KORVELAN380_TOOL_PATH};
  std::vector<std::string> words;
  std::istringstream in(command);
  for (std::string word; std::getline(in, word, ';');) words.push_back(word);
  return words;
}

inline bool WindowsTool() {
  return ToolCommand().back().ends_with(".exe");
}

// A file's path as the tool takes it: under Wine, on its drive Z:, which is the root folder.
inline std::string ToolPath(const std::string& path) {
  if (!WindowsTool()) return path;
  std::string windows = "Z:" + path;
  for (char& c : windows) c = c == '/' ? '\\' : c;
  return windows;
}

// The tool's command for the shell, with `args` after it.
inline std::string ToolShellCommand(const std::string& args) {
  std::string line;
  for (const std::string& word : ToolCommand()) line += "'" + word + "' ";
  return line + args;
}

// The signals that stop the panel cleanly: a Windows program knows only Ctrl-C, which is what
// Wine makes of SIGINT.
inline std::vector<int> StopSignals() {
  if (WindowsTool()) return {SIGINT};
  return {SIGINT, SIGTERM};
}

struct Reply {
  int status = 0;
  json body;
};

class Panel {
 public:
  // Starts the panel on a free port and waits for the address it prints.
  Panel(const std::string& state, const std::string& device,
        const std::vector<std::string>& extra = {}) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> args = ToolCommand();
    for (const char* arg : {"--sim", "--sim-state"}) args.push_back(arg);
    args.push_back(ToolPath(state));
    for (const char* arg : {"-d", device.c_str(), "panel", "--port", "0"}) args.push_back(arg);
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    if (error != 0) throw std::runtime_error("cannot start " + args[0]);
    // "http://127.0.0.1:PORT/?token=TOKEN", on a line of its own (ended by "\r\n" on Windows).
    const std::string prefix = "http://127.0.0.1:";
    size_t at = 0;
    while ((at = output_.find(prefix)) == std::string::npos ||
           output_.find('\n', at) == std::string::npos) {
      if (!ReadSome(20000)) throw std::runtime_error("the panel printed no address: " + output_);
    }
    std::string url = output_.substr(at, output_.find('\n', at) - at);
    if (url.ends_with('\r')) url.pop_back();
    port = std::stoi(url.substr(prefix.size()));
    token = url.substr(url.find("token=") + 6);
  }
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;
  ~Panel() {
    if (pid_ > 0) Stop(SIGKILL);
    if (out_ >= 0) close(out_);
  }

  // Sends `signal` without waiting.
  void Signal(int signal) const { kill(pid_, signal); }
  // Sends `signal` and waits: the exit status, or -1 for a death by signal.
  int Stop(int signal) {
    kill(pid_, signal);
    while (ReadSome(30000)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Output() const { return output_; }

  // A client that sends the token with every request.
  httplib::Client Client() const {
    httplib::Client client("127.0.0.1", port);
    client.set_default_headers({{"X-Korvelan380-Token", token}});
    client.set_read_timeout(60, 0);
    client.set_tcp_nodelay(true);  // as browsers do: a POST's body goes out with its headers
    return client;
  }
  Reply Get(const std::string& endpoint) const { return Take(Client().Get("/api/" + endpoint)); }
  Reply PostText(const std::string& endpoint, const std::string& body) const {
    return Take(Client().Post("/api/" + endpoint, body, "application/json"));
  }
  Reply Post(const std::string& endpoint, const json& body) const {
    return PostText(endpoint, body.dump());
  }
  // The wire log's lines.
  json Wire() const { return Get("wire").body["lines"]; }

  static Reply Take(const httplib::Result& result) {
    if (!result) return {-1, json()};
    Reply reply{result->status, json::parse(result->body, nullptr, false)};
    return reply;
  }

  int port = 0;
  std::string token;

 private:
  bool ReadSome(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
};

// A folder of the test's own, removed afterwards.
inline std::filesystem::path TestDir(const std::string& name) {
  return FreshTempFolder("korvelan380_panel_" + name);
}

// The tool's command for the shell with `args` after it, run to its end.
inline ProgramOutput RunTool(const std::string& args, bool mergeErr = false) {
  return RunProgram(ToolShellCommand(args), {{}, {}, mergeErr});
}

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_PANEL_SUPPORT_H
