// Helpers for tests that read like conversations with the simulated module: the frames expected
// on the wire, the driver calls in order, the status the caller sees.
#ifndef KORVELAN380_TESTS_MODULE_CHAT_H
#define KORVELAN380_TESTS_MODULE_CHAT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"

namespace korvelan380::test {

using Bytes = std::vector<uint8_t>;
namespace sim = korvelan380::sim;

// The write frame of values into registers from `first` on, as the module expects it.
inline Bytes W(uint8_t first, std::initializer_list<uint8_t> values) {
  static const char* hex = "0123456789abcdef";
  Bytes frame{0x02, 'W', static_cast<uint8_t>(hex[first >> 4]),
              static_cast<uint8_t>(hex[first & 15])};
  for (uint8_t v : values) {
    frame.push_back(static_cast<uint8_t>(hex[v >> 4]));
    frame.push_back(static_cast<uint8_t>(hex[v & 15]));
  }
  frame.push_back(0x03);
  return frame;
}

// The read frame of registers first..last.
inline Bytes R(uint8_t first, uint8_t last) {
  static const char* hex = "0123456789abcdef";
  return Bytes{0x02,
               'R',
               static_cast<uint8_t>(hex[first >> 4]),
               static_cast<uint8_t>(hex[first & 15]),
               static_cast<uint8_t>(hex[last >> 4]),
               static_cast<uint8_t>(hex[last & 15]),
               0x03};
}

// The bytes of every FT_Write in calls, in order.
inline std::vector<Bytes> Writes(const std::vector<sim::Call>& calls) {
  std::vector<Bytes> writes;
  for (const sim::Call& call : calls) {
    if (call.fn == sim::Fn::Write) writes.push_back(call.data);
  }
  return writes;
}

// The functions called, in order.
inline std::vector<sim::Fn> Functions(const std::vector<sim::Call>& calls) {
  std::vector<sim::Fn> fns;
  for (const sim::Call& call : calls) fns.push_back(call.fn);
  return fns;
}

inline size_t CountOf(const std::vector<sim::Call>& calls, sim::Fn fn) {
  size_t count = 0;
  for (const sim::Call& call : calls) count += call.fn == fn;
  return count;
}

// A test with module "7" attached (and, with Connected(), connected); the simulator is reset
// around each test.
class ModuleTest : public ::testing::Test {
 protected:
  static constexpr const char* kId = "7";
  const std::string serial = sim::SerialOf(kId);

  void SetUp() override {
    sim::Reset();
    ASSERT_TRUE(sim::Attach(serial));
  }
  void TearDown() override {
    KORVELAN380_DisConnect(kId);
    sim::Reset();
  }

  // Connects module "7" and clears the trace, so that a test sees only its own calls.
  void Connect() {
    ASSERT_EQ(KORVELAN380_Connect(kId), KORVELAN380_OK);
    sim::ClearTrace();
  }

  std::vector<sim::Call> Calls() const { return sim::Trace(serial); }
  std::vector<Bytes> Wire() const { return Writes(Calls()); }
};

}  // namespace korvelan380::test

#endif  // KORVELAN380_TESTS_MODULE_CHAT_H
