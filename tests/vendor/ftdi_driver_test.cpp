// What FTDI's driver does over an emulated FT232R, called directly: how FT_Read waits, what the
// receive queue shows while a reply is on its way, how the latency timer paces replies, and
// where the EEPROM user area lies. The README's section on real hardware reports these.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "korvelan380_ftdi_chips.h"

namespace {

using DWORD = uint32_t;
using Handle = void*;
using Clock = std::chrono::steady_clock;

constexpr DWORD kOpenBySerial = 1;
constexpr DWORD kEepromWriteFailed = 12;
// A read of registers 0 to 3: four 4-byte records come back.
constexpr uint8_t kReadFrame[] = {0x02, 'R', '0', '0', '0', '3', 0x03};
constexpr DWORD kReplySize = 16;

struct Driver {
  DWORD (*openEx)(void*, DWORD, Handle*);
  DWORD (*close)(Handle);
  DWORD (*read)(Handle, void*, DWORD, DWORD*);
  DWORD (*write)(Handle, const void*, DWORD, DWORD*);
  DWORD (*getQueueStatus)(Handle, DWORD*);
  DWORD (*setTimeouts)(Handle, DWORD, DWORD);
  DWORD (*setLatencyTimer)(Handle, uint8_t);
  DWORD (*eeUaSize)(Handle, DWORD*);
  DWORD (*eeUaRead)(Handle, uint8_t*, DWORD, DWORD*);
  DWORD (*eeUaWrite)(Handle, const uint8_t*, DWORD);
};

template <typename Fn>
void Bind(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  ASSERT_NE(fn, nullptr) << name;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class FtdiDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(KORVELAN380_VENDOR_DRIVER, F_OK) != 0) {
      GTEST_SKIP() << "FTDI's driver was not fetched: npm could not reach its registry";
    }
    // Before the driver loads: its libusb lists the devices once, at its start.
    kft_attach("5");
    kft_attach("12345678");
    void* library = dlopen(KORVELAN380_VENDOR_DRIVER, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(library, nullptr) << dlerror();
    Bind(library, "FT_OpenEx", d_.openEx);
    Bind(library, "FT_Close", d_.close);
    Bind(library, "FT_Read", d_.read);
    Bind(library, "FT_Write", d_.write);
    Bind(library, "FT_GetQueueStatus", d_.getQueueStatus);
    Bind(library, "FT_SetTimeouts", d_.setTimeouts);
    Bind(library, "FT_SetLatencyTimer", d_.setLatencyTimer);
    Bind(library, "FT_EE_UASize", d_.eeUaSize);
    Bind(library, "FT_EE_UARead", d_.eeUaRead);
    Bind(library, "FT_EE_UAWrite", d_.eeUaWrite);
    h_ = Open("KORVELAN3805");
  }
  void TearDown() override {
    if (h_ != nullptr) d_.close(h_);
  }
  Handle Open(const char* serial) {
    Handle h = nullptr;
    EXPECT_EQ(d_.openEx(const_cast<char*>(serial), kOpenBySerial, &h), 0u);
    return h;
  }
  // One register read: the frame out, the whole reply in.
  double TransactionMs() {
    uint8_t reply[kReplySize];
    DWORD n = 0;
    const auto start = Clock::now();
    EXPECT_EQ(d_.write(h_, kReadFrame, sizeof kReadFrame, &n), 0u);
    EXPECT_EQ(d_.read(h_, reply, kReplySize, &n), 0u);
    EXPECT_EQ(n, kReplySize);
    return Ms(Clock::now() - start);
  }

  Driver d_{};
  Handle h_ = nullptr;
};

TEST_F(FtdiDriver, ReadWaitsForEveryByteAskedForOrTheTimeout) {
  kft_set_register("5", 2, 0x42);
  uint8_t reply[32] = {};
  DWORD n = 0, queued = 1;
  // Without a timeout (the default) FT_Read returns only with all the bytes; meanwhile the
  // receive queue shows nothing of the reply, which comes in one piece.
  ASSERT_EQ(d_.write(h_, kReadFrame, sizeof kReadFrame, &n), 0u);
  EXPECT_EQ(d_.getQueueStatus(h_, &queued), 0u);
  EXPECT_EQ(queued, 0u);
  ASSERT_EQ(d_.read(h_, reply, kReplySize, &n), 0u);
  EXPECT_EQ(n, kReplySize);
  EXPECT_EQ(reply[2 * 4 + 2], 0x42);
  // With one, a read of more than comes returns what came, with FT_OK, when it runs out.
  ASSERT_EQ(d_.setTimeouts(h_, 100, 0), 0u);
  ASSERT_EQ(d_.write(h_, kReadFrame, sizeof kReadFrame, &n), 0u);
  const auto start = Clock::now();
  EXPECT_EQ(d_.read(h_, reply, sizeof reply, &n), 0u);
  EXPECT_EQ(n, kReplySize);
  EXPECT_GE(Ms(Clock::now() - start), 90.0);
}

TEST_F(FtdiDriver, TheLatencyTimerPacesReplies) {
  // A reply shorter than a packet waits for the timer; back to back, each waits a whole period.
  double slow = 0, fast = 0;
  for (int i = 0; i < 10; ++i) slow += TransactionMs() / 10;
  ASSERT_EQ(d_.setLatencyTimer(h_, 2), 0u);
  EXPECT_EQ(kft_latency_timer("5"), 2);
  for (int i = 0; i < 10; ++i) fast += TransactionMs() / 10;
  EXPECT_GE(slow, 12.0);
  EXPECT_LT(fast, slow / 2);
}

TEST_F(FtdiDriver, TheUserAreaLiesBetweenTheSerialNumberAndTheChecksum) {
  for (const char* id : {"5", "12345678"}) {
    SCOPED_TRACE(id);
    Handle h = std::string(id) == "5" ? h_ : Open("KORVELAN38012345678");
    DWORD size = 0;
    ASSERT_EQ(d_.eeUaSize(h, &size), 0u);
    std::array<uint16_t, 128> words{};
    kft_eeprom(id, words.data(), words.size());
    // The serial number's string descriptor: byte offset (bit 7 set) and length in word 9.
    const size_t serialEnd = (words[9] & 0x7F) + (words[9] >> 8);
    const size_t first = serialEnd / 2 + 1, checksum = 63;
    EXPECT_EQ(size, 2 * (checksum - first));

    std::vector<uint8_t> pattern(size);
    for (size_t i = 0; i < size; ++i) pattern[i] = static_cast<uint8_t>(0xA0 + i);
    ASSERT_EQ(d_.eeUaWrite(h, pattern.data(), size), 0u);
    kft_eeprom(id, words.data(), words.size());
    for (size_t i = 0; i < size / 2; ++i) {
      EXPECT_EQ(words[first + i], pattern[2 * i] | pattern[2 * i + 1] << 8) << "word " << first + i;
    }
    uint16_t sum = 0xAAAA;
    for (size_t i = 0; i < checksum; ++i) {
      sum ^= words[i];
      sum = static_cast<uint16_t>(sum << 1 | sum >> 15);
    }
    EXPECT_EQ(words[checksum], sum);

    std::vector<uint8_t> back(size + 10);
    DWORD got = 0;
    ASSERT_EQ(d_.eeUaRead(h, back.data(), size + 10, &got), 0u);
    EXPECT_EQ(got, size);
    EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), back.begin()));
    pattern.push_back(0);
    EXPECT_EQ(d_.eeUaWrite(h, pattern.data(), size + 1), kEepromWriteFailed);
    if (h != h_) d_.close(h);
  }
}

}  // namespace
