// The simulated module, driven through its D2XX functions and its control interface.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "d2xx_exports.h"
#include "korvelan380_sim.h"
#include "korvelan380_sim.hpp"

namespace sim = korvelan380::sim;
using sim::Fn;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kSerial = sim::SerialOf("7");
const std::string kOther = sim::SerialOf("8");

Bytes B(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    ASSERT_TRUE(sim::Attach(kSerial));
  }
  void TearDown() override { sim::Reset(); }

  static FT_HANDLE Open(const std::string& serial = kSerial) {
    FT_HANDLE h = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(serial.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &h), FT_OK);
    return h;
  }
  static FT_STATUS Write(FT_HANDLE h, const std::string& text) {
    DWORD written = 0;
    const FT_STATUS st = FT_Write(h, const_cast<char*>(text.data()), DWORD(text.size()), &written);
    EXPECT_TRUE(st != FT_OK || written == text.size());
    return st;
  }
  static Bytes Read(FT_HANDLE h, DWORD max = 4096) {
    Bytes buf(max);
    DWORD got = 0;
    EXPECT_EQ(FT_Read(h, buf.data(), max, &got), FT_OK);
    buf.resize(got);
    return buf;
  }
  static Bytes Reply(std::initializer_list<uint8_t> values) {
    Bytes out;
    for (uint8_t v : values) out.insert(out.end(), {0x02, 'R', v, 0x03});
    return out;
  }
};

// ---- Opening and handles ---------------------------------------------------------------------

TEST_F(SimTest, OpenIsExclusiveAndChecksItsArguments) {
  char unknown[] = "KORVELAN380zz";
  FT_HANDLE h = nullptr;
  EXPECT_EQ(FT_OpenEx(unknown, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FT_OpenEx(const_cast<char*>(kSerial.c_str()), 2, &h), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_OpenEx(nullptr, FT_OPEN_BY_SERIAL_NUMBER, &h), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_OpenEx(const_cast<char*>(kSerial.c_str()), 1, nullptr), FT_INVALID_PARAMETER);
  EXPECT_FALSE(sim::IsOpen(kSerial));
  h = Open();
  EXPECT_TRUE(sim::IsOpen(kSerial));
  FT_HANDLE second = nullptr;
  EXPECT_EQ(FT_OpenEx(const_cast<char*>(kSerial.c_str()), 1, &second), FT_DEVICE_NOT_OPENED);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(FT_Close(h), FT_OK);
  EXPECT_FALSE(sim::IsOpen(kSerial));
  FT_HANDLE again = Open();
  EXPECT_NE(again, h);
  EXPECT_EQ(FT_Close(again), FT_OK);
}

TEST_F(SimTest, ClosedUnknownAndNullHandlesAreInvalidForEveryCall) {
  FT_HANDLE stale = Open();
  ASSERT_EQ(FT_Close(stale), FT_OK);
  FT_HANDLE reopened = Open();  // a new handle must not bring the stale one back
  int notAHandle = 0;
  for (FT_HANDLE h : {stale, FT_HANDLE(nullptr), FT_HANDLE(&notAHandle),
                      FT_HANDLE(static_cast<char*>(reopened) + 1)}) {
    uint8_t buf[8];
    DWORD n = 0, a = 0, b = 0;
    EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Read(h, buf, 8, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Write(h, buf, 8, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Purge(h, FT_PURGE_RX), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_GetStatus(h, &n, &a, &b), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_UASize(h, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_UARead(h, buf, 8, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_EE_UAWrite(h, buf, 8), FT_INVALID_HANDLE);
  }
  EXPECT_TRUE(sim::IsOpen(kSerial));
}

TEST_F(SimTest, DetachWhileOpenFailsCallsButCloseReleases) {
  FT_HANDLE h = Open();
  ASSERT_TRUE(sim::Detach(kSerial));
  DWORD n = 0;
  EXPECT_EQ(Write(h, "\x02W0001\x03"), FT_IO_ERROR);
  EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_IO_ERROR);
  ASSERT_TRUE(sim::Attach(kSerial));  // a new module under the same serial is not the old one
  EXPECT_EQ(FT_EE_UASize(h, &n), FT_IO_ERROR);
  EXPECT_EQ(FT_Close(h), FT_OK);
  EXPECT_EQ(FT_Close(h), FT_INVALID_HANDLE);
  EXPECT_EQ(sim::Register(kSerial, 0), 0);
  const auto trace = sim::Trace();
  ASSERT_EQ(trace.size(), 6u);
  EXPECT_EQ(trace[1].serial, kSerial);
  EXPECT_EQ(trace[1].status, FT_IO_ERROR);
}

// ---- Frames ----------------------------------------------------------------------------------

TEST_F(SimTest, WriteFrameSplitAcrossWritesSetsConsecutiveRegisters) {
  FT_HANDLE h = Open();
  EXPECT_EQ(Write(h, "\x02W1"), FT_OK);
  EXPECT_EQ(Write(h, "00aB"), FT_OK);
  EXPECT_EQ(Write(h, "c"), FT_OK);
  EXPECT_EQ(sim::Register(kSerial, 0x10), 0);  // nothing applied before the ETX
  EXPECT_EQ(Write(h, "Ff\x03"), FT_OK);
  EXPECT_EQ(sim::Register(kSerial, 0x10), 0x0A);
  EXPECT_EQ(sim::Register(kSerial, 0x11), 0xBC);
  EXPECT_EQ(sim::Register(kSerial, 0x12), 0xFF);
  EXPECT_EQ(sim::RegisterWrites(kSerial, 0x11), 1u);
  EXPECT_EQ(Write(h, "\x02WFE0102\x03"), FT_OK);  // a run may end on register 255
  EXPECT_EQ(sim::Register(kSerial, 0xFF), 0x02);
  sim::ClearTrace();
  EXPECT_EQ(sim::RegisterWrites(kSerial, 0x11), 0u);
}

TEST_F(SimTest, WriteFrameLeavesInputRegistersAlone) {
  FT_HANDLE h = Open();
  sim::SetRegister(kSerial, 9, 0x5A);
  sim::SetRegister(kSerial, 10, 0xA5);
  ASSERT_EQ(Write(h, "\x02W0811223344\x03"), FT_OK);
  EXPECT_EQ(sim::Register(kSerial, 8), 0x11);
  EXPECT_EQ(sim::Register(kSerial, 9), 0x5A);
  EXPECT_EQ(sim::Register(kSerial, 10), 0xA5);
  EXPECT_EQ(sim::Register(kSerial, 11), 0x44);
  EXPECT_EQ(sim::RegisterWrites(kSerial, 9), 1u);
  ASSERT_EQ(Write(h, "\x02R090A\x03"), FT_OK);
  EXPECT_EQ(Read(h), Reply({0x5A, 0xA5}));
}

TEST_F(SimTest, ReadFrameRepliesWithValuesAtParseTime) {
  FT_HANDLE h = Open();
  for (uint8_t r = 3; r <= 5; ++r) sim::SetRegister(kSerial, r, uint8_t(0x30 + r));
  ASSERT_EQ(Write(h, "\x02R0305\x03"), FT_OK);
  sim::SetRegister(kSerial, 4, 0xEE);
  EXPECT_EQ(sim::PendingReceive(kSerial), 12u);
  EXPECT_EQ(Read(h), Reply({0x33, 0x34, 0x35}));
  ASSERT_EQ(Write(h, "\x02R0000\x02RffFF\x03"), FT_OK);  // the STX restarted the frame
  EXPECT_EQ(Read(h), Reply({0}));
}

TEST_F(SimTest, MalformedFramesAreDroppedUntilTheNextStx) {
  FT_HANDLE h = Open();
  const char* bad[] = {
      "stray bytes\x03", "\x02W\x03",           "\x02W10\x03",   "\x02W10A\x03",
      "\x02WFF0102\x03", "\x02W1G22\x03",       "\x02w1022\x03", "\x02R0504\x03",
      "\x02R01\x03",     "\x02R01020\x03",      "\x02Q\x03",     "\x02X02AAAA\x03",
      "\x02W10 22\x03",  "\x02W1Z33 W2077\x03",
  };
  for (const char* frame : bad) {
    SCOPED_TRACE(frame);
    ASSERT_EQ(Write(h, frame), FT_OK);
    EXPECT_EQ(sim::Registers(kSerial), (std::array<uint8_t, 256>{}));
    EXPECT_EQ(sim::PendingReceive(kSerial), 0u);
  }
  EXPECT_EQ(sim::StreamCount(kSerial, 0) + sim::StreamCount(kSerial, 1), 0u);
  // After garbage, a good frame parses; an STX inside a frame abandons it.
  ASSERT_EQ(Write(h, "\x02W1Z\x02W10\x02W2055\x03"), FT_OK);
  EXPECT_EQ(sim::Register(kSerial, 0x20), 0x55);
  EXPECT_EQ(sim::Register(kSerial, 0x10), 0);
}

TEST_F(SimTest, StreamFrameDecodesSamplesPerChannel) {
  FT_HANDLE h = Open();
  for (const char* part : {"\x02X0", "100", "00FF", "FF1", "2ab", "\x03"}) Write(h, part);
  EXPECT_EQ(sim::StreamSamples(kSerial, 1), (std::vector<uint16_t>{0x0000, 0xFFFF, 0x12AB}));
  EXPECT_EQ(sim::StreamCount(kSerial, 1), 1u);
  EXPECT_EQ(sim::StreamCount(kSerial, 0), 0u);
  // A stream cut short of a whole sample is dropped and the last one stays.
  Write(h, "\x02X01123\x03\x02X01AB\x02");
  EXPECT_EQ(sim::StreamSamples(kSerial, 1).size(), 3u);
  EXPECT_EQ(sim::StreamCount(kSerial, 1), 1u);
}

TEST_F(SimTest, LargeStreamInOneWrite) {
  FT_HANDLE h = Open();
  constexpr size_t kSamples = 524288;
  std::string text = "\x02X00";
  std::vector<uint16_t> expected(kSamples);
  static const char kDigits[] = "0123456789ABCDEF";
  for (size_t i = 0; i < kSamples; ++i) {
    expected[i] = uint16_t(i * 40503u);
    for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(expected[i] >> shift) & 0xF];
  }
  text += '\x03';
  ASSERT_EQ(Write(h, text), FT_OK);
  EXPECT_EQ(sim::StreamCount(kSerial, 0), 1u);
  EXPECT_TRUE(sim::StreamSamples(kSerial, 0) == expected);
}

// ---- Receive queue and status ----------------------------------------------------------------

TEST_F(SimTest, ReadDeliversWhatIsPendingWithinLimits) {
  sim::QueueReceive(kSerial, B("old"));
  FT_HANDLE h = Open();
  EXPECT_EQ(sim::PendingReceive(kSerial), 0u);  // the queue starts empty on open
  sim::QueueReceive(kSerial, B("abcdefgh"));
  DWORD n = 0;
  uint8_t buf[16];
  EXPECT_EQ(FT_Read(h, nullptr, 4, &n), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_Read(h, buf, 4, nullptr), FT_INVALID_PARAMETER);
  EXPECT_EQ(Read(h, 3), B("abc"));
  sim::SetReadChunk(kSerial, 2);
  EXPECT_EQ(Read(h), B("de"));
  EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_OK);
  EXPECT_EQ(n, 3u);
  sim::SetReadChunk(kSerial, 0);
  EXPECT_EQ(Read(h), B("fgh"));
  EXPECT_EQ(Read(h), Bytes{});  // nothing pending: FT_OK with 0 bytes
  sim::QueueReceive(kSerial, B("xy"));
  EXPECT_EQ(FT_Purge(h, FT_PURGE_TX), FT_OK);
  EXPECT_EQ(sim::PendingReceive(kSerial), 2u);
  EXPECT_EQ(FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
  EXPECT_EQ(sim::PendingReceive(kSerial), 0u);
  Write(h, "\x02R0101\x03");  // stale bytes queue behind a pending reply
  sim::QueueReceive(kSerial, B("zz"));
  Bytes expected = Reply({0});
  expected.insert(expected.end(), {'z', 'z'});
  EXPECT_EQ(Read(h), expected);
}

TEST_F(SimTest, TransmitBusyCountsGetStatusCalls) {
  FT_HANDLE h = Open();
  sim::QueueReceive(kSerial, B("12345"));
  DWORD rx = 0, tx = 0, ev = 7;
  EXPECT_EQ(FT_GetStatus(h, &rx, nullptr, &ev), FT_INVALID_PARAMETER);
  sim::SetTransmitBusy(kSerial, 2);
  std::vector<bool> busy;
  for (int i = 0; i < 3; ++i) busy.push_back(FT_GetStatus(h, &rx, &tx, &ev) == FT_OK && tx != 0);
  EXPECT_EQ(busy, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(rx, 5u);
  EXPECT_EQ(ev, 0u);
  sim::SetTransmitBusy(kSerial, std::numeric_limits<uint32_t>::max());
  for (int i = 0; i < 100; ++i) FT_GetStatus(h, &rx, &tx, &ev);
  EXPECT_NE(tx, 0u);
}

// ---- Faults ----------------------------------------------------------------------------------

TEST_F(SimTest, FailCallHitsTheNthCallOfItsFunctionOnce) {
  FT_HANDLE h = Open();
  sim::FailCall(kSerial, Fn::Write, 2, FT_IO_ERROR);
  DWORD n = 0;
  EXPECT_EQ(FT_GetQueueStatus(h, &n), FT_OK);  // other functions do not count
  EXPECT_EQ(Write(h, "\x02W0001\x03"), FT_OK);
  DWORD written = 99;
  char frame[] = "\x02W0102\x03";
  EXPECT_EQ(FT_Write(h, frame, 7, &written), FT_IO_ERROR);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(sim::Register(kSerial, 1), 0);  // consumed nothing
  EXPECT_EQ(Write(h, frame), FT_OK);
  EXPECT_EQ(sim::Register(kSerial, 1), 2);
  const auto trace = sim::Trace(kSerial);
  EXPECT_EQ(trace[trace.size() - 2].status, FT_IO_ERROR);
}

TEST_F(SimTest, FailCallAnyCountsEveryFunctionAndANewFaultReplaces) {
  FT_HANDLE h = Open();
  sim::QueueReceive(kSerial, B("abcd"));
  sim::FailCall(kSerial, Fn::Write, 1, FT_IO_ERROR);
  sim::FailCall(kSerial, Fn::Any, 3, FT_OTHER_ERROR);
  DWORD n = 99;
  uint8_t buf[4];
  EXPECT_EQ(FT_Purge(h, FT_PURGE_TX), FT_OK);
  EXPECT_EQ(Write(h, ""), FT_OK);
  EXPECT_EQ(FT_Read(h, buf, 4, &n), FT_OTHER_ERROR);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(sim::PendingReceive(kSerial), 4u);
  EXPECT_EQ(Read(h), B("abcd"));
}

TEST_F(SimTest, FailedOpenAndCloseDoNothing) {
  sim::FailCall(kSerial, Fn::OpenEx, 1, FT_IO_ERROR);
  FT_HANDLE h = nullptr;
  EXPECT_EQ(FT_OpenEx(const_cast<char*>(kSerial.c_str()), 1, &h), FT_IO_ERROR);
  EXPECT_FALSE(sim::IsOpen(kSerial));
  h = Open();
  sim::FailCall(kSerial, Fn::Close, 1, FT_IO_ERROR);
  EXPECT_EQ(FT_Close(h), FT_IO_ERROR);
  EXPECT_TRUE(sim::IsOpen(kSerial));
  EXPECT_EQ(FT_Close(h), FT_OK);
}

TEST_F(SimTest, ReplyFaultsApplyToTheNextReplyOnly) {
  FT_HANDLE h = Open();
  sim::WithholdReplies(kSerial, 2);
  sim::CorruptNextReply(kSerial, 1);
  sim::AddSurplusToNextReply(kSerial, {0xAA, 0xBB});
  Write(h, "\x02R0000\x03\x02R0000\x03");
  EXPECT_EQ(sim::PendingReceive(kSerial), 0u);
  Write(h, "\x02R0002\x03");
  Bytes expected = Reply({0, 0, 0});
  expected[5] = 0x21;
  expected.insert(expected.end(), {0xAA, 0xBB});
  EXPECT_EQ(Read(h), expected);
  Write(h, "\x02R0002\x03");
  EXPECT_EQ(Read(h), Reply({0, 0, 0}));
  sim::CorruptNextReply(kSerial, 1);  // past a one-record reply: used up, no effect
  Write(h, "\x02R0000\x03\x02R0001\x03");
  EXPECT_EQ(Read(h), (Reply({0, 0, 0})));
}

// ---- EEPROM ----------------------------------------------------------------------------------

TEST_F(SimTest, EepromUserAreaLimits) {
  FT_HANDLE h = Open();
  DWORD size = 0, n = 0;
  ASSERT_EQ(FT_EE_UASize(h, &size), FT_OK);
  EXPECT_EQ(size, 128u);
  Bytes buf(200, 0);
  ASSERT_EQ(FT_EE_UARead(h, buf.data(), 200, &n), FT_OK);
  EXPECT_EQ(n, 128u);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 128), Bytes(128, 0xFF));
  Bytes data(129, 0x11);
  EXPECT_EQ(FT_EE_UAWrite(h, data.data(), 129), FT_EEPROM_WRITE_FAILED);
  EXPECT_EQ(sim::Eeprom(kSerial), Bytes(128, 0xFF));
  EXPECT_EQ(FT_EE_UAWrite(h, data.data(), 3), FT_OK);
  Bytes expected(128, 0xFF);
  std::fill_n(expected.begin(), 3, 0x11);
  EXPECT_EQ(sim::Eeprom(kSerial), expected);
  sim::SetEeprom(kSerial, {1, 2});
  ASSERT_EQ(FT_EE_UASize(h, &size), FT_OK);
  EXPECT_EQ(size, 2u);
}

TEST_F(SimTest, IdealCalibrationRecordLayout) {
  sim::SetEeprom(kSerial, Bytes(10, 0));
  sim::SetIdealCalibration(kSerial);
  const Bytes e = sim::Eeprom(kSerial);
  ASSERT_EQ(e.size(), 88u);
  EXPECT_EQ(Bytes(e.begin(), e.begin() + 4), (Bytes{0x55, 0, 0, 0}));
  auto gain = [&](size_t entry) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) bits = bits << 8 | e[4 + 4 * entry + i];
    return std::bit_cast<float>(bits);
  };
  auto offset = [&](size_t entry) { return e[60 + 2 * entry] | e[61 + 2 * entry] << 8; };
  EXPECT_EQ(gain(0), float(20.0 / 16384.0));
  EXPECT_EQ(gain(7 + 3), float(2.5 / 16384.0));
  EXPECT_EQ(offset(3), 0x2000);
  EXPECT_EQ(offset(4), 0);
  EXPECT_EQ(offset(7), 0x2000);
  EXPECT_EQ(offset(13), 0);
}

// ---- Trace -----------------------------------------------------------------------------------

TEST_F(SimTest, TraceRecordsEveryCallInOrder) {
  ASSERT_TRUE(sim::Attach(kOther));
  FT_HANDLE a = Open();
  FT_HANDLE b = Open(kOther);
  Write(a, "\x02R0000\x03");
  Read(b, 8);
  Read(a, 8);
  FT_Close(a);
  FT_Close(a);
  const auto all = sim::Trace();
  ASSERT_EQ(all.size(), 7u);
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1].sequence, all[i].sequence);
  EXPECT_EQ(all[0].fn, Fn::OpenEx);
  EXPECT_EQ(all[0].arg, 1u);
  EXPECT_EQ(all[0].data, B(kSerial));
  EXPECT_EQ(all[2].fn, Fn::Write);
  EXPECT_EQ(all[2].data, B("\x02R0000\x03"));
  EXPECT_EQ(all[3].serial, kOther);
  EXPECT_TRUE(all[3].data.empty());
  EXPECT_EQ(all[4].arg, 8u);
  EXPECT_EQ(all[4].data, Reply({0}));
  EXPECT_EQ(all[6].serial, "");
  EXPECT_EQ(all[6].status, FT_INVALID_HANDLE);
  EXPECT_EQ(sim::Trace(kOther).size(), 2u);
  EXPECT_LE(all[0].timeNs, all[5].timeNs);

  sim::ClearTrace();
  EXPECT_TRUE(sim::Trace().empty());
  sim::SetTracing(false);
  Read(b, 8);
  EXPECT_TRUE(sim::Trace().empty());
}

// ---- Threads ---------------------------------------------------------------------------------

TEST_F(SimTest, ModulesRunIndependentlyFromManyThreads) {
  const std::vector<std::string> serials = {kSerial, kOther, sim::SerialOf("9")};
  for (size_t i = 1; i < serials.size(); ++i) ASSERT_TRUE(sim::Attach(serials[i]));
  std::vector<std::thread> threads;
  std::vector<int> failures(serials.size(), 0);
  for (size_t t = 0; t < serials.size(); ++t) {
    threads.emplace_back([&, t] {
      FT_HANDLE h = Open(serials[t]);
      for (int i = 0; i < 2000; ++i) {
        char frame[16];
        std::snprintf(frame, sizeof frame, "\x02W20%02X\x03\x02R2020\x03", i & 0xFF);
        Write(h, frame);
        if (Read(h) != Reply({uint8_t(i)})) ++failures[t];
      }
      FT_Close(h);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, std::vector<int>(serials.size(), 0));
  EXPECT_EQ(sim::Trace().size(), serials.size() * (2 + 2 * 2000));
}

TEST_F(SimTest, CloseAndDetachRaceSafelyWithCallsOnTheHandle) {
  for (int round = 0; round < 40; ++round) {
    FT_HANDLE h = Open();
    std::atomic<bool> started{false};
    std::thread user([&] {
      for (;;) {
        uint8_t buf[16];
        DWORD n = 0;
        char frame[] = "\x02R0000\x03";
        FT_STATUS st = FT_Write(h, frame, 7, &n);
        if (st == FT_OK) st = FT_Read(h, buf, sizeof buf, &n);
        started = true;
        if (st != FT_OK) {
          EXPECT_TRUE(st == FT_IO_ERROR || st == FT_INVALID_HANDLE) << st;
          return;
        }
      }
    });
    while (!started) std::this_thread::yield();
    std::atomic<int> closed{0};
    if (round % 2 == 0) {
      // Two threads close at once: exactly one succeeds.
      auto close = [&] { closed += FT_Close(h) == FT_OK; };
      std::thread other(close);
      close();
      other.join();
    } else {
      EXPECT_TRUE(sim::Detach(kSerial));
      closed += FT_Close(h) == FT_OK;
      EXPECT_TRUE(sim::Attach(kSerial));
    }
    user.join();
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(sim::IsOpen(kSerial));
  }
}

// ---- Reply latency and read timeout -------------------------------------------------------

TEST_F(SimTest, ReplyUnderLatencyIsHeldBackWithItsFollowers) {
  FT_HANDLE h = Open();
  sim::SetReplyLatency(kSerial, 60'000'000);  // never within the test
  sim::SetRegister(kSerial, 1, 0x5A);
  Write(h, "\x02R0101\x03");
  sim::QueueReceive(kSerial, B("zz"));  // behind the reply: held back with it
  DWORD rx = 7;
  EXPECT_EQ(FT_GetQueueStatus(h, &rx), FT_OK);
  EXPECT_EQ(rx, 0u);
  EXPECT_EQ(Read(h), Bytes{});  // no timeout: returns at once with nothing
  EXPECT_EQ(FT_Purge(h, FT_PURGE_RX), FT_OK);
  sim::SetReplyLatency(kSerial, 0);
  Write(h, "\x02R0101\x03");
  EXPECT_EQ(Read(h), Reply({0x5A}));  // the purge dropped the held reply and the stale bytes
}

TEST_F(SimTest, TimedReadWaitsForTheWholeReplyOrItsTimeout) {
  FT_HANDLE h = Open();
  sim::SetRegister(kSerial, 2, 0x11);
  sim::SetRegister(kSerial, 3, 0x22);
  sim::SetReplyLatency(kSerial, 2000);
  sim::SetReadTimeout(kSerial, 60'000);
  Write(h, "\x02R0203\x03");
  EXPECT_EQ(Read(h, 8), Reply({0x11, 0x22}));  // blocks past the latency, not the timeout

  // Withheld: nothing comes, and the read gives up after its timeout with what it has.
  sim::SetReadTimeout(kSerial, 20);
  sim::QueueReceive(kSerial, B("ab"));
  sim::WithholdReplies(kSerial, 1);
  Write(h, "\x02R0202\x03");
  EXPECT_EQ(Read(h, 4), B("ab"));

  // Reset restores the defaults: a fresh module answers at once and reads do not wait.
  sim::Reset();
  ASSERT_TRUE(sim::Attach(kSerial));
  h = Open();
  Write(h, "\x02R0202\x03");
  EXPECT_EQ(sim::PendingReceive(kSerial), 4u);
  EXPECT_EQ(Read(h, 8), Reply({0}));
}

TEST_F(SimTest, WaitingReadEndsWhenItsModuleGoesAway) {
  for (bool detach : {false, true}) {
    sim::Reset();
    ASSERT_TRUE(sim::Attach(kSerial));
    FT_HANDLE h = Open();
    sim::SetReadTimeout(kSerial, 60'000);
    std::atomic<FT_STATUS> status{FT_OK};
    std::thread reader([&] {
      uint8_t buf[4];
      DWORD n = 0;
      status = FT_Read(h, buf, 4, &n);
    });
    // The reader waits in FT_Read or has not reached it yet; either way it must come back.
    if (detach) {
      EXPECT_TRUE(sim::Detach(kSerial));
    } else {
      EXPECT_EQ(FT_Close(h), FT_OK);
    }
    reader.join();
    EXPECT_NE(status.load(), FT_OK);
  }
}

// A read waiting on one module holds up neither another module on another thread nor a write on
// its own handle. Counted, not timed: module A's read can only end after the other thread's
// round trips on module B are done and a frame is written on A's handle from here.
TEST_F(SimTest, WaitingReadHoldsUpNoOtherCall) {
  ASSERT_TRUE(sim::Attach(kOther));
  for (const std::string& serial : {kSerial, kOther}) {
    sim::SetReplyLatency(serial, 1000);
    sim::SetReadTimeout(serial, 60'000);
  }
  sim::SetRegister(kSerial, 4, 0x44);
  FT_HANDLE a = Open(kSerial);
  FT_HANDLE b = Open(kOther);
  std::atomic<bool> aDone{false};
  Bytes aReply;
  std::thread waiter([&] {
    aReply = Read(a, 4);
    aDone = true;
  });
  constexpr int kRoundTrips = 20;
  std::atomic<int> bReplies{0};
  std::thread other([&] {
    for (int i = 0; i < kRoundTrips; ++i) {
      Write(b, "\x02R0000\x03");
      if (Read(b, 4) == Reply({0})) ++bReplies;
    }
  });
  other.join();
  EXPECT_EQ(bReplies, kRoundTrips);
  EXPECT_FALSE(aDone);  // still waiting: nothing has been asked of module A yet
  Write(a, "\x02R0404\x03");
  waiter.join();
  EXPECT_EQ(aReply, Reply({0x44}));
}

// The driver's own settings reach the same timing: FT_SetTimeouts the read timeout,
// FT_SetLatencyTimer the reply latency, as the chip's timer paces a short reply.
TEST_F(SimTest, DriverTimeoutsAndLatencyTimerSetTheModulesTiming) {
  using Clock = std::chrono::steady_clock;
  FT_HANDLE h = Open();
  EXPECT_EQ(FT_SetLatencyTimer(h, 0), FT_INVALID_PARAMETER);
  EXPECT_EQ(FT_SetLatencyTimer(h, 255), FT_OK);
  EXPECT_EQ(FT_SetLatencyTimer(h, 1), FT_OK);
  EXPECT_EQ(FT_SetTimeouts(h, 1000, 5000), FT_OK);
  sim::SetRegister(kSerial, 2, 0x22);
  auto start = Clock::now();
  Write(h, "\x02R0202\x03");
  EXPECT_EQ(Read(h, 4), Reply({0x22}));  // waited for the 1 ms timer, not the read timeout
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1));
  EXPECT_LT(took, std::chrono::milliseconds(900));

  EXPECT_EQ(FT_SetLatencyTimer(h, 40), FT_OK);
  EXPECT_EQ(FT_SetTimeouts(h, 10, 5000), FT_OK);
  Write(h, "\x02R0202\x03");
  EXPECT_EQ(Read(h, 4), Bytes{});  // the read timeout ran out before the 40 ms timer
  EXPECT_EQ(FT_SetTimeouts(h, 1000, 5000), FT_OK);
  EXPECT_EQ(Read(h, 4), Reply({0x22}));

  const std::vector<sim::Call> trace = sim::Trace(kSerial);
  std::vector<uint32_t> latencies;
  for (const sim::Call& call : trace) {
    if (call.fn == Fn::SetLatencyTimer) latencies.push_back(call.arg);
  }
  EXPECT_EQ(latencies, (std::vector<uint32_t>{0, 255, 1, 40}));
  EXPECT_EQ(trace.back().fn, Fn::Read);
  EXPECT_STREQ(sim::FnName(Fn::SetTimeouts), "FT_SetTimeouts");
}

// ---- Outputs ---------------------------------------------------------------------------------

TEST_F(SimTest, DerivedOutputErrorsRepeatForASerialAndDifferBetweenSerials) {
  ASSERT_TRUE(sim::Attach(kOther));
  std::vector<sim::ConverterError> first;
  bool positive = false;
  bool negative = false;
  for (const std::string& serial : {kSerial, kOther}) {
    for (uint8_t entry = 0; entry < 14; ++entry) {
      const sim::ConverterError e = *sim::OutputError(serial, entry / 7, entry % 7);
      EXPECT_LE(std::abs(e.gain), 0.004);
      EXPECT_GE(std::abs(e.offsetCodes), 2.0);
      EXPECT_LE(std::abs(e.offsetCodes), 6.0);
      positive |= e.offsetCodes > 0;
      negative |= e.offsetCodes < 0;
      // A unipolar range's 0 V must be a code the record's unsigned offset can name.
      if (entry % 7 >= 4) {
        EXPECT_GT(e.offsetCodes, 0.0) << "entry " << int{entry};
      }
      if (serial == kSerial) {
        first.push_back(e);
      } else {
        EXPECT_NE(e.gain, first[entry].gain) << "entry " << int{entry};
      }
    }
  }
  EXPECT_TRUE(positive && negative);

  // Attached again, the module has the same converter.
  ASSERT_TRUE(sim::SetOutputError(kSerial, 0, 3, {0.0, 0.0}));
  sim::Detach(kSerial);
  ASSERT_TRUE(sim::Attach(kSerial));
  for (uint8_t entry = 0; entry < 14; ++entry) {
    EXPECT_EQ(sim::OutputError(kSerial, entry / 7, entry % 7)->offsetCodes,
              first[entry].offsetCodes);
  }
}

TEST_F(SimTest, OutputErrorsAreReplacedOrRefusedUnchanged) {
  const char* serial = kSerial.c_str();
  EXPECT_EQ(ksim_set_output_error(serial, 1, 6, -0.002, -4.25), 0);
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ksim_set_output_error(serial, 1, 6, inf, 0.0), -1);
  EXPECT_EQ(ksim_set_output_error(serial, 2, 0, 0.0, 0.0), -1);
  EXPECT_EQ(ksim_set_output_error(serial, 0, 7, 0.0, 0.0), -1);
  EXPECT_EQ(ksim_set_output_error(kOther.c_str(), 0, 0, 0.0, 0.0), -1);
  double gain = 7.0;
  double offset = 7.0;
  EXPECT_EQ(ksim_output_error(serial, 0, 7, &gain, &offset), -1);
  EXPECT_EQ(ksim_output_error(serial, 0, 0, nullptr, &offset), -1);
  EXPECT_EQ(offset, 7.0);
  EXPECT_EQ(ksim_output_error(serial, 1, 6, &gain, &offset), 0);
  EXPECT_EQ(gain, -0.002);
  EXPECT_EQ(offset, -4.25);

  double volts = 7.0;
  EXPECT_EQ(ksim_measure(serial, 2, &volts), -1);
  EXPECT_EQ(ksim_measure(kOther.c_str(), 0, &volts), -1);
  EXPECT_EQ(volts, 7.0);
}

// ---- C layer ---------------------------------------------------------------------------------

TEST_F(SimTest, CLayerSmoke) {
  ksim_reset();
  ASSERT_EQ(ksim_attach("KORVELAN380c", 16), 1);
  EXPECT_EQ(ksim_attach("KORVELAN380c", 16), 0);
  ksim_set_register("KORVELAN380c", 2, 0x42);
  FT_HANDLE h = Open("KORVELAN380c");
  Write(h, "\x02R0202\x03");
  EXPECT_EQ(ksim_pending_receive("KORVELAN380c"), 4u);
  uint8_t ee[32];
  EXPECT_EQ(ksim_eeprom("KORVELAN380c", ee, sizeof ee), 16u);

  ASSERT_EQ(ksim_trace_count(nullptr), 2u);
  EXPECT_EQ(ksim_trace_fn(1), KSIM_FN_WRITE);
  EXPECT_EQ(ksim_trace_arg(1), 7u);
  EXPECT_EQ(ksim_trace_status(1), 0u);
  char serial[6];
  EXPECT_EQ(ksim_trace_serial(0, serial, sizeof serial), 12u);
  EXPECT_STREQ(serial, "KORVE");
  uint8_t data[3];
  EXPECT_EQ(ksim_trace_data(1, data, sizeof data), 7u);
  EXPECT_EQ(data[1], 'R');
  EXPECT_EQ(ksim_trace_fn(2), 0);
  EXPECT_EQ(ksim_trace_data(2, data, sizeof data), 0u);
  EXPECT_STREQ(ksim_fn_name(KSIM_FN_EE_UA_WRITE), "FT_EE_UAWrite");
  EXPECT_STREQ(ksim_fn_name(KSIM_FN_ANY), "any");
  EXPECT_EQ(ksim_trace_count("nobody"), 0u);

  ksim_set_reply_latency_us("KORVELAN380c", 60'000'000);
  ksim_set_read_timeout_ms("KORVELAN380c", 1);
  Write(h, "\x02R0202\x03");
  EXPECT_EQ(Read(h, 8), Reply({0x42}));  // the first reply was there before the latency was set
  ksim_set_reply_latency_us(nullptr, 0);
  ksim_set_read_timeout_ms(nullptr, 0);
}

}  // namespace
