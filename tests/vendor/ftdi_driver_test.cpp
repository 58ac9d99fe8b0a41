// What FTDI's driver does over the emulated chips, called directly: how FT_Read waits, what the
// receive queue shows while a reply is on its way, how the latency timer paces replies, and
// where the EEPROM user area lies on an FT232H (the module's chip, with a 93C56 or a 93C66) and
// on an FT232R. The README's section on real hardware reports these. With KORVELAN380_DRIVER=open
// the same cases run on the open backend (driver_under_test.h), which must do the same, except
// where a test says what FTDI's driver alone does.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "chip_eeprom.h"
#include "driver_under_test.h"
#include "korvelan380_ftdi_chips.h"

namespace {

using korvelan380::test::ChecksumHolds;
using korvelan380::test::DriverMissing;
using korvelan380::test::Eeprom;
using korvelan380::test::OnOpenBackend;

using DWORD = uint32_t;
using Handle = void*;
using Clock = std::chrono::steady_clock;

constexpr DWORD kOpenBySerial = 1;
constexpr DWORD kEepromWriteFailed = 12;
constexpr uint8_t kReadWord = 0x90, kWriteWord = 0x91, kEraseAll = 0x92;  // EEPROM requests
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
  DWORD (*setUsbParameters)(Handle, DWORD, DWORD);
  DWORD (*eeUaSize)(Handle, DWORD*);
  DWORD (*eeUaRead)(Handle, uint8_t*, DWORD, DWORD*);
  DWORD (*eeUaWrite)(Handle, const uint8_t*, DWORD);
  DWORD (*readEe)(Handle, DWORD, uint16_t*);
  DWORD (*writeEe)(Handle, DWORD, uint16_t);
};

// How many EEPROM reads, writes and erases a chip has answered.
struct EepromRequests {
  uint32_t reads, writes, erases;
  explicit EepromRequests(const char* id)
      : reads(kft_vendor_requests(id, kReadWord)),
        writes(kft_vendor_requests(id, kWriteWord)),
        erases(kft_vendor_requests(id, kEraseAll)) {}
  EepromRequests Since(const EepromRequests& before) const {
    EepromRequests d = *this;
    d.reads -= before.reads;
    d.writes -= before.writes;
    d.erases -= before.erases;
    return d;
  }
};

// The word after the serial number's string descriptor, found through its pointer word 9
// (byte address with bit 7 set, and length).
size_t AfterSerial(const std::vector<uint16_t>& words, size_t configBytes) {
  const size_t serialEnd = (words[9] & 0xFF) % configBytes + (words[9] >> 8);
  return serialEnd / 2 + 1;
}

// What a chip's user area calls asked of its EEPROM.
struct UserAreaCalls {
  EepromRequests size, write, read;
};

template <typename Fn>
void Bind(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  ASSERT_NE(fn, nullptr) << name;
}

// A function that FTDI's driver has and the open backend, which offers only the library's, has
// not: null there.
template <typename Fn>
void BindVendorOnly(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  if (!OnOpenBackend()) {
    ASSERT_NE(fn, nullptr) << name;
  }
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

class FtdiDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = DriverMissing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    // Before the driver loads: its libusb lists the devices once, at its start.
    kft_attach("5");
    kft_attach("12345678");
    kft_attach("15:ft232h-93c66");
    kft_attach("3:ft232r");
    void* library = dlopen(korvelan380::test::DriverPath(), RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(library, nullptr) << dlerror();
    Bind(library, "FT_OpenEx", d_.openEx);
    Bind(library, "FT_Close", d_.close);
    Bind(library, "FT_Read", d_.read);
    Bind(library, "FT_Write", d_.write);
    Bind(library, "FT_GetQueueStatus", d_.getQueueStatus);
    Bind(library, "FT_SetTimeouts", d_.setTimeouts);
    Bind(library, "FT_SetLatencyTimer", d_.setLatencyTimer);
    BindVendorOnly(library, "FT_SetUSBParameters", d_.setUsbParameters);
    Bind(library, "FT_EE_UASize", d_.eeUaSize);
    Bind(library, "FT_EE_UARead", d_.eeUaRead);
    Bind(library, "FT_EE_UAWrite", d_.eeUaWrite);
    BindVendorOnly(library, "FT_ReadEE", d_.readEe);
    BindVendorOnly(library, "FT_WriteEE", d_.writeEe);
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

  // What a read and a write of more than the user area did.
  struct Outsize {
    DWORD readStatus = 0, got = 0, writeStatus = 0;
    uint16_t tail = 0;  // the two bytes read past the user area
    bool changed = false;
  };
  UserAreaCalls CheckUserArea(const char* id, const std::vector<size_t>& expected, size_t checksum,
                              Outsize& outsize);

  Driver d_{};
  Handle h_ = nullptr;
};

TEST_F(FtdiDriver, MalformedChipItemsAreRefused) {
  for (const char* item : {"", "123456789", "6:ft232x", "6:blank:ft232r", "6:ft232r:x", "5"}) {
    EXPECT_EQ(kft_attach(item), -1) << item;
  }
  EXPECT_EQ(kft_unplug("6"), -1);
  EXPECT_EQ(kft_plug("5"), -1);  // plugged in already
}

TEST_F(FtdiDriver, ReadWaitsForEveryByteAskedForOrTheTimeout) {
  kft_set_register("5", 2, 0x42);
  uint8_t reply[32] = {};
  DWORD n = 0, queued = 1;
  // Without a timeout (the default) FT_Read returns only with all the bytes; meanwhile the
  // receive queue shows nothing of the reply, which comes in one piece when the latency timer
  // runs out (made long here, so that it cannot run out just after the write).
  ASSERT_EQ(d_.setLatencyTimer(h_, 100), 0u);
  ASSERT_EQ(d_.write(h_, kReadFrame, sizeof kReadFrame, &n), 0u);
  EXPECT_EQ(d_.getQueueStatus(h_, &queued), 0u);
  EXPECT_EQ(queued, 0u);
  ASSERT_EQ(d_.read(h_, reply, kReplySize, &n), 0u);
  EXPECT_EQ(n, kReplySize);
  EXPECT_EQ(reply[2 * 4 + 2], 0x42);
  // With one, a read of more than comes returns what came, with FT_OK, when it runs out.
  ASSERT_EQ(d_.setLatencyTimer(h_, 16), 0u);
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

// A read of registers 0 to 127 is 512 bytes back: 510 fill a high-speed packet (two status bytes,
// then data), which the chip sends at once; the last two wait for the latency timer. The
// driver sees the full packet at once only when its transfers are one packet long: a longer
// transfer ends with the short packet.
TEST_F(FtdiDriver, AnFt232hSendsAFullPacketAtOnce) {
  if (d_.setUsbParameters == nullptr) GTEST_SKIP() << "the driver has no FT_SetUSBParameters";
  const uint8_t frame[] = {0x02, 'R', '0', '0', '7', 'F', 0x03};
  std::vector<uint8_t> reply(512);
  const auto timeToRead = [&](DWORD bytes) {
    DWORD n = 0;
    const auto start = Clock::now();
    EXPECT_EQ(d_.read(h_, reply.data(), bytes, &n), 0u);
    return Ms(Clock::now() - start);
  };
  DWORD n = 0;
  // A long timer keeps "at once" and "after the timer" apart on a busy machine.
  constexpr uint8_t kTimerMs = 100;
  for (const DWORD transfer : {DWORD{512}, DWORD{4096}}) {
    SCOPED_TRACE(transfer);
    ASSERT_EQ(d_.setLatencyTimer(h_, 16), 0u);
    ASSERT_EQ(d_.setUsbParameters(h_, transfer, 0), 0u);
    for (int i = 0; i < 10; ++i) TransactionMs();  // the transfers under way keep their size
    ASSERT_EQ(d_.setLatencyTimer(h_, kTimerMs), 0u);
    ASSERT_EQ(d_.write(h_, frame, sizeof frame, &n), 0u);
    const double packet = timeToRead(510);
    const double rest = timeToRead(2);
    if (transfer == 512) {
      EXPECT_LT(packet, kTimerMs / 2);
      EXPECT_GE(rest, kTimerMs / 2);
    } else {
      EXPECT_GE(packet, kTimerMs / 2);
    }
  }
}

TEST_F(FtdiDriver, AWithheldReplyLeavesTheReadEmpty) {
  kft_withhold_replies("5", 1);
  ASSERT_EQ(d_.setTimeouts(h_, 50, 0), 0u);
  uint8_t reply[kReplySize];
  DWORD n = 0;
  ASSERT_EQ(d_.write(h_, kReadFrame, sizeof kReadFrame, &n), 0u);
  EXPECT_EQ(d_.read(h_, reply, kReplySize, &n), 0u);
  EXPECT_EQ(n, 0u);
  TransactionMs();  // the next reply comes
}

// The user area as the driver measures and fills it: FT_EE_UASize's size, a pattern written
// with FT_EE_UAWrite found in the words `expected` lists, in order, and read back; no other
// word of the configuration area changed but the checksum, which holds. Then a read and a write
// of one word more than the user area: the returns are the caller's to check.
UserAreaCalls FtdiDriver::CheckUserArea(const char* id, const std::vector<size_t>& expected,
                                        size_t checksum, Outsize& outsize) {
  Handle h = Open(("KORVELAN380" + std::string(id)).c_str());
  const EepromRequests atOpen(id);
  DWORD size = 0;
  EXPECT_EQ(d_.eeUaSize(h, &size), 0u);
  const EepromRequests afterSize(id);
  EXPECT_EQ(size, 2 * expected.size());
  std::vector<uint8_t> pattern(size);
  for (size_t i = 0; i < size; ++i) pattern[i] = static_cast<uint8_t>(0xA0 + i);
  const auto before = Eeprom(id);
  EXPECT_EQ(d_.eeUaWrite(h, pattern.data(), size), 0u);
  const EepromRequests afterWrite(id);
  const auto written = Eeprom(id);
  auto rest = written;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(written[expected[i]], pattern[2 * i] | pattern[2 * i + 1] << 8) << expected[i];
    rest[expected[i]] = before[expected[i]];
  }
  EXPECT_TRUE(ChecksumHolds(written, checksum));
  rest[checksum] = before[checksum];
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + checksum, rest.begin()));
  std::vector<uint8_t> back(size + 2);
  EXPECT_EQ(d_.eeUaRead(h, back.data(), size, &outsize.got), 0u);
  const EepromRequests afterRead(id);
  EXPECT_TRUE(std::equal(pattern.begin(), pattern.end(), back.begin()));
  outsize.readStatus = d_.eeUaRead(h, back.data(), size + 2, &outsize.got);
  outsize.tail = static_cast<uint16_t>(back[size] | back[size + 1] << 8);
  pattern.push_back(0x5A);
  outsize.writeStatus = d_.eeUaWrite(h, pattern.data(), size + 1);
  outsize.changed = Eeprom(id) != written;
  d_.close(h);
  return {afterSize.Since(atOpen), afterWrite.Since(afterSize), afterRead.Since(afterWrite)};
}

// The words after the serial number's string up to the checksum's.
void AddWordsAfterSerial(std::vector<size_t>& words, const char* id, size_t configBytes) {
  for (size_t w = AfterSerial(Eeprom(id), configBytes); w < configBytes / 2 - 1; ++w) {
    words.push_back(w);
  }
}

// An FT232H's configuration area is the 93C56's 128 words, the checksum in word 127. The user
// area is words 16 to 63, then from the word after the serial number's string to word 126: 128
// bytes for a one-character deviceId. FTDI's driver reads all 128 words for the size and for a
// read; a write reads them twice, erases the part and writes all 128 back (the open backend
// writes the words that change, never erasing the part). Past the user area a read goes on (the
// checksum first) and a write ignores the excess, both with FT_OK.
TEST_F(FtdiDriver, UserAreaOfAnFt232hWith93c56) {
  std::vector<size_t> words;
  for (size_t w = 16; w < 64; ++w) words.push_back(w);
  AddWordsAfterSerial(words, "5", 256);
  Outsize outsize;
  const UserAreaCalls calls = CheckUserArea("5", words, 127, outsize);
  EXPECT_EQ(words.size(), 64u);
  EXPECT_EQ(words[48], 111u);
  EXPECT_EQ(calls.size.reads, 128u);
  EXPECT_EQ(calls.read.reads, 128u);
  if (OnOpenBackend()) {
    EXPECT_EQ(calls.write.erases, 0u);
  } else {
    EXPECT_EQ(calls.write.reads, 256u);
    EXPECT_EQ(calls.write.erases, 1u);
    EXPECT_EQ(calls.write.writes, 128u);
  }
  EXPECT_EQ(outsize.readStatus, 0u);
  EXPECT_EQ(outsize.got, 130u);
  EXPECT_EQ(outsize.tail, Eeprom("5")[127]);
  EXPECT_EQ(outsize.writeStatus, 0u);
  EXPECT_FALSE(outsize.changed);
}

// A 93C66 changes nothing: the driver uses its first 128 words alone, and the erase of a write
// by FTDI's driver loses the other 128. Addresses wrap at the part's size.
TEST_F(FtdiDriver, UserAreaOfAnFt232hWith93c66) {
  ASSERT_EQ(kft_eeprom("15", nullptr, 0), 256u);
  if (!OnOpenBackend()) {
    Handle h = Open("KORVELAN38015");
    uint16_t word = 0;
    ASSERT_EQ(d_.writeEe(h, 200, 0x1234), 0u);
    ASSERT_EQ(d_.readEe(h, 256 + 200, &word), 0u);
    EXPECT_EQ(word, 0x1234);
    d_.close(h);
  }
  std::vector<size_t> words;
  for (size_t w = 16; w < 64; ++w) words.push_back(w);
  AddWordsAfterSerial(words, "15", 256);
  Outsize outsize;
  const std::vector<uint16_t> before = Eeprom("15");
  const UserAreaCalls calls = CheckUserArea("15", words, 127, outsize);
  if (OnOpenBackend()) {
    EXPECT_TRUE(std::equal(before.begin() + 128, before.end(), Eeprom("15").begin() + 128));
  } else {
    EXPECT_EQ(calls.write.writes, 128u);
    EXPECT_EQ(Eeprom("15")[200], 0xFFFF);
  }
}

// An FT232R's configuration area is words 0 to 63, the checksum in word 63; the user area lies
// between the serial number's string and the checksum, 40 bytes for a one-character deviceId.
// Past it a read stops with FT_OK and a write fails with FT_EEPROM_WRITE_FAILED.
TEST_F(FtdiDriver, UserAreaOfAnFt232r) {
  std::vector<size_t> words;
  AddWordsAfterSerial(words, "3", 128);
  Outsize outsize;
  const UserAreaCalls calls = CheckUserArea("3", words, 63, outsize);
  EXPECT_EQ(words.size(), 20u);
  EXPECT_EQ(calls.size.reads, 64u);
  if (!OnOpenBackend()) {
    EXPECT_EQ(calls.write.writes, 64u);
  }
  EXPECT_EQ(outsize.readStatus, 0u);
  EXPECT_EQ(outsize.got, 40u);
  EXPECT_EQ(outsize.writeStatus, kEepromWriteFailed);
  EXPECT_FALSE(outsize.changed);
}

// ---- One calibration, two drivers --------------------------------------------------------------

// The user-area functions of one driver, loaded on its own (RTLD_LOCAL: FTDI's driver carries a
// libusb of its own, which must not serve libftdi).
struct UserAreaDriver {
  DWORD (*openEx)(void*, DWORD, Handle*) = nullptr;
  DWORD (*close)(Handle) = nullptr;
  DWORD (*eeUaRead)(Handle, uint8_t*, DWORD, DWORD*) = nullptr;
  DWORD (*eeUaWrite)(Handle, const uint8_t*, DWORD) = nullptr;

  void Load(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    Bind(library, "FT_OpenEx", openEx);
    Bind(library, "FT_Close", close);
    Bind(library, "FT_EE_UARead", eeUaRead);
    Bind(library, "FT_EE_UAWrite", eeUaWrite);
  }
  void Store(const std::vector<uint8_t>& record) {
    Handle h = nullptr;
    ASSERT_EQ(openEx(const_cast<char*>("KORVELAN38021"), kOpenBySerial, &h), 0u);
    EXPECT_EQ(eeUaWrite(h, record.data(), static_cast<DWORD>(record.size())), 0u);
    close(h);
  }
  std::vector<uint8_t> Load(size_t size) {
    Handle h = nullptr;
    std::vector<uint8_t> record(size);
    DWORD got = 0;
    EXPECT_EQ(openEx(const_cast<char*>("KORVELAN38021"), kOpenBySerial, &h), 0u);
    EXPECT_EQ(eeUaRead(h, record.data(), static_cast<DWORD>(size), &got), 0u);
    EXPECT_EQ(got, size);
    close(h);
    return record;
  }
};

// A calibration record (the user area's first 88 bytes) stored through one driver is loaded bit
// for bit through the other, both ways, and the checksum each leaves holds. Run with the open
// backend's tests, whose libusb reaches the emulated chips.
TEST(TwoDrivers, OneCalibrationTwoDrivers) {
  if (!OnOpenBackend()) GTEST_SKIP() << "run with the open backend's tests";
  for (const std::string& missing :
       {korvelan380::test::VendorMissing(), korvelan380::test::OpenBackendMissing()}) {
    if (!missing.empty()) GTEST_SKIP() << missing;
  }
  kft_attach("21");  // before FTDI's driver loads
  UserAreaDriver vendor, open;
  ASSERT_NO_FATAL_FAILURE(vendor.Load(KORVELAN380_VENDOR_DRIVER));
  ASSERT_NO_FATAL_FAILURE(open.Load(KORVELAN380_OPEN_DRIVER));
  std::vector<uint8_t> record(88);
  for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i * 37 + 11);
  vendor.Store(record);
  EXPECT_EQ(open.Load(record.size()), record);
  EXPECT_TRUE(ChecksumHolds(Eeprom("21"), 127));
  std::reverse(record.begin(), record.end());
  open.Store(record);
  EXPECT_EQ(vendor.Load(record.size()), record);
  EXPECT_TRUE(ChecksumHolds(Eeprom("21"), 127));
}

}  // namespace
