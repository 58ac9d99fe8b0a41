// One open chip: the libftdi context that opened it, reads always waiting on the chip that take
// what it sends into a receive buffer (as FTDI's driver's do, so that the queue status is true),
// with a thread of the handle's own that completes them, and the chip's EEPROM user area.
#ifndef KORVELAN380_DRIVERS_FTDI_DEVICE_H
#define KORVELAN380_DRIVERS_FTDI_DEVICE_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "d2xx.h"
#include "user_area.h"

struct ftdi_context;
struct libusb_transfer;

namespace korvelan380::ftdi {

// A kind of chip the module may carry, in the order they are looked for.
struct ChipKind {
  uint16_t product;
  EepromLayout eeprom;
};

class Device {
 public:
  // Opens the chip whose serial number is `serial`; FT_DEVICE_NOT_FOUND when none has it,
  // FT_DEVICE_NOT_OPENED when it cannot be claimed.
  static FT_STATUS Open(const char* serial, std::shared_ptr<Device>& device);
  Device(ftdi_context* context, const ChipKind& kind);
  ~Device();  // stops the reader and closes the chip
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  FT_STATUS Read(uint8_t* out, DWORD wanted, DWORD* got);
  FT_STATUS Write(const uint8_t* data, DWORD length, DWORD* written);
  FT_STATUS Purge(DWORD mask);
  FT_STATUS QueueStatus(DWORD* received);
  FT_STATUS SetTimeouts(DWORD readMs, DWORD writeMs);
  FT_STATUS SetLatencyTimer(UCHAR ms);
  // Wakes every waiting read: the handle is being closed.
  void Closing();

  FT_STATUS UserAreaSize(DWORD* size);
  FT_STATUS ReadUserArea(uint8_t* out, DWORD length, DWORD* got);
  FT_STATUS WriteUserArea(const uint8_t* data, DWORD length);

 private:
  void StartReading();
  void HandleEvents();
  void Received(libusb_transfer* transfer);
  void Append(const uint8_t* transfer, int length);
  bool Gone();
  bool ReadConfig(std::vector<uint16_t>& words);
  bool WriteWord(size_t address, uint16_t value);
  bool WriteWords(const std::vector<uint16_t>& before, const std::vector<uint16_t>& after);
  bool ResetRequest(uint16_t value);

  ftdi_context* const context_;
  const ChipKind& kind_;
  std::atomic<DWORD> writeTimeoutMs_{0};
  std::mutex eepromMu_;  // one user-area call at a time

  std::mutex mu_;  // guards what follows
  std::condition_variable changed_;
  std::vector<uint8_t> received_;
  DWORD readTimeoutMs_ = 0;  // 0: a read waits for every byte, as FTDI's driver's does
  bool gone_ = false;        // the chip was unplugged or failed: calls fail with FT_IO_ERROR
  bool closing_ = false;
  bool stopping_ = false;
  int reading_ = 0;  // transfers submitted and not yet finished

  // The reads that wait on the chip, made once, and the thread that completes them.
  std::vector<libusb_transfer*> transfers_;
  std::vector<std::vector<uint8_t>> buffers_;
  std::thread events_;
};

}  // namespace korvelan380::ftdi

#endif  // KORVELAN380_DRIVERS_FTDI_DEVICE_H
