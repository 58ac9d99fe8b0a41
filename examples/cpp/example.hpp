// What the C++ examples share, over example_support.h: failures as exceptions, and a connection
// that disconnects when it goes out of scope.
#ifndef KORVELAN380_EXAMPLE_HPP
#define KORVELAN380_EXAMPLE_HPP

#include <exception>
#include <iostream>
#include <stdexcept>
#include <string>

#include "example_support.h"
#include "korvelan380.h"

namespace example {

// Throws when an export did not return 0, naming it and the status.
inline void Check(const char* call, StatusCode status) {
  if (status != KORVELAN380_OK) {
    throw std::runtime_error(std::string(call) + " failed: status " + std::to_string(status) +
                             " (" + StatusText(status) + ")");
  }
}

// A connected module, disconnected at the end of its scope.
class Connection {
 public:
  explicit Connection(std::string deviceId) : id_(std::move(deviceId)) {
    Check("KORVELAN380_Connect", KORVELAN380_Connect(id_.c_str()));
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() { KORVELAN380_DisConnect(id_.c_str()); }

  const char* id() const { return id_.c_str(); }

 private:
  std::string id_;
};

// Runs an example's body: its exit status, 0 or 1 after printing what failed.
template <typename Body>
int Run(Body&& body) {
  try {
    body();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}

}  // namespace example

#endif  // KORVELAN380_EXAMPLE_HPP
