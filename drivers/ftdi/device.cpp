#include "device.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

namespace korvelan380::ftdi {
namespace {

constexpr uint16_t kVendor = 0x0403;
// The module's own chip first: an FT232H, its configuration area the 93C56's 128 words, the
// user area words 16 to 63 and then from after the serial number's string; a read past it goes
// on. Then the FT232R, its 64 words, and the FT2232H (interface A, with a 93C56 or 93C66), whose
// user area lies after the serial number's string alone.
constexpr ChipKind kChips[] = {
    {0x6014, {128, 16, 64, true}},
    {0x6001, {64, 0, 0, false}},
    {0x6010, {128, 0, 0, false}},
};

constexpr size_t kStatusBytes = 2;  // each bulk IN packet starts with the modem and line status
// The reads' transfers, as FTDI's driver's: a transfer ends with a short packet, which the chip
// sends at the latest when its latency timer runs out. Several wait at once, so that one always
// waits while another's data is taken, however busy the machine: a chip with none waiting would
// hold its packet back, and its latency timer would start again only then.
constexpr int kTransferSize = 4096;
constexpr size_t kTransfersWaiting = 4;
// How long the event thread waits before it looks whether the handle is closing.
constexpr int kEventWakeUs = 100 * 1000;
constexpr unsigned kControlTimeoutMs = 1000;
// SIO_RESET's values for FT_PURGE_RX and FT_PURGE_TX, as FTDI's driver sends them (libftdi's
// tcoflush and tciflush send the same two, under the opposite names).
constexpr uint16_t kPurgeRx = 1;
constexpr uint16_t kPurgeTx = 2;
constexpr size_t kSerialCapacity = 128;
// A vendor request to the device, host to device: libftdi's FTDI_DEVICE_OUT_REQTYPE, whose OR of
// two enumerations C++20 deprecates.
constexpr uint8_t kVendorOut = 0x40;

// Opens, through libftdi, the chip of this product whose serial number is `serial`. A chip that
// cannot be asked its serial number (another user's, or one being unplugged) is passed over.
// libftdi detaches ftdi_sio from the chip's interface alone, claims it and resets the chip.
FT_STATUS OpenBySerial(ftdi_context* context, uint16_t product, const char* serial) {
  ftdi_device_list* list = nullptr;
  if (ftdi_usb_find_all(context, &list, kVendor, product) < 0) return FT_DEVICE_NOT_FOUND;
  FT_STATUS status = FT_DEVICE_NOT_FOUND;
  for (ftdi_device_list* d = list; d != nullptr; d = d->next) {
    char found[kSerialCapacity] = {};
    if (ftdi_usb_get_strings2(context, d->dev, nullptr, 0, nullptr, 0, found, sizeof found) < 0 ||
        std::strcmp(found, serial) != 0) {
      continue;
    }
    status = ftdi_usb_open_dev(context, d->dev) == 0 ? FT_OK : FT_DEVICE_NOT_OPENED;
    break;
  }
  ftdi_list_free(&list);
  return status;
}

// A transfer's result after which the chip is taken as gone.
bool Fatal(int result) {
  return result != 0 && result != LIBUSB_ERROR_TIMEOUT && result != LIBUSB_ERROR_INTERRUPTED;
}

}  // namespace

FT_STATUS Device::Open(const char* serial, std::shared_ptr<Device>& device) {
  ftdi_context* context = ftdi_new();
  if (context == nullptr) return FT_INSUFFICIENT_RESOURCES;
  // Interface A: the FT2232H's first, and the only one of the others.
  ftdi_set_interface(context, INTERFACE_A);
  FT_STATUS status = FT_DEVICE_NOT_FOUND;
  for (const ChipKind& kind : kChips) {
    status = OpenBySerial(context, kind.product, serial);
    if (status == FT_DEVICE_NOT_FOUND) continue;
    if (status != FT_OK) break;
    try {
      device = std::make_shared<Device>(context, kind);
      return FT_OK;
    } catch (...) {  // no memory, or no thread
      ftdi_usb_close(context);
      ftdi_free(context);
      throw;
    }
  }
  ftdi_free(context);
  return status;
}

// What may throw comes first: should it, no transfer is yet waiting with this object's address.
Device::Device(ftdi_context* context, const ChipKind& kind)
    : context_(context),
      kind_(kind),
      transfers_(kTransfersWaiting, nullptr),
      buffers_(kTransfersWaiting, std::vector<uint8_t>(kTransferSize)) {
  events_ = std::thread([this] { HandleEvents(); });
  StartReading();
}

Device::~Device() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  for (libusb_transfer* t : transfers_) {
    if (t != nullptr) libusb_cancel_transfer(t);
  }
  events_.join();
  for (libusb_transfer* t : transfers_) libusb_free_transfer(t);  // null is let be
  ftdi_usb_close(context_);
  ftdi_free(context_);
}

// libftdi's ftdi_read_data would wait for a second transfer after one that brought data, so the
// reads are transfers of our own (libftdi's out_ep is the chip's IN endpoint).
void Device::StartReading() {
  const auto done = [](libusb_transfer* t) { static_cast<Device*>(t->user_data)->Received(t); };
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < transfers_.size(); ++i) {
    libusb_transfer* t = transfers_[i] = libusb_alloc_transfer(0);
    if (t == nullptr) break;  // fewer wait, or none: reads then come back empty
    libusb_fill_bulk_transfer(t, context_->usb_dev, static_cast<unsigned char>(context_->out_ep),
                              buffers_[i].data(), kTransferSize, done, this, 0);
    if (libusb_submit_transfer(t) == 0) {
      ++reading_;
    } else {
      gone_ = true;
    }
  }
}

// Completes the transfers (and any other call's) until the handle closes and none is left.
void Device::HandleEvents() {
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (stopping_ && reading_ == 0) return;
    }
    timeval wake{0, kEventWakeUs};
    libusb_handle_events_timeout_completed(context_->usb_ctx, &wake, nullptr);
  }
}

// A transfer came back: its data goes to the receive buffer, and it waits again, unless the
// handle is closing or the chip is gone.
void Device::Received(libusb_transfer* transfer) {
  Append(transfer->buffer, transfer->actual_length);
  std::lock_guard<std::mutex> lock(mu_);
  const bool ok = transfer->status == LIBUSB_TRANSFER_COMPLETED ||
                  transfer->status == LIBUSB_TRANSFER_TIMED_OUT;
  if (!stopping_ && ok && libusb_submit_transfer(transfer) == 0) return;
  if (!stopping_) gone_ = true;
  --reading_;
  changed_.notify_all();
}

// The data of a transfer's packets, without their status bytes.
void Device::Append(const uint8_t* transfer, int length) {
  const auto end = static_cast<size_t>(std::max(length, 0));
  const size_t packet = context_->max_packet_size;
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t at = 0; at + kStatusBytes < end; at += packet) {
    received_.insert(received_.end(), transfer + at + kStatusBytes,
                     transfer + std::min(at + packet, end));
  }
  if (end > kStatusBytes) changed_.notify_all();
}

bool Device::Gone() {
  std::lock_guard<std::mutex> lock(mu_);
  return gone_;
}

FT_STATUS Device::Read(uint8_t* out, DWORD wanted, DWORD* got) {
  std::unique_lock<std::mutex> lock(mu_);
  const auto ready = [&] { return received_.size() >= wanted || gone_ || closing_; };
  if (readTimeoutMs_ == 0) {
    changed_.wait(lock, ready);
  } else {
    changed_.wait_for(lock, std::chrono::milliseconds(readTimeoutMs_), ready);
  }
  const size_t n = std::min<size_t>(wanted, received_.size());
  std::copy_n(received_.begin(), n, out);
  received_.erase(received_.begin(), received_.begin() + static_cast<ptrdiff_t>(n));
  *got = static_cast<DWORD>(n);
  if (n < wanted && gone_) return FT_IO_ERROR;
  if (n < wanted && closing_) return FT_INVALID_HANDLE;
  return FT_OK;  // with what came when the timeout ran out
}

FT_STATUS Device::Write(const uint8_t* data, DWORD length, DWORD* written) {
  *written = 0;
  if (length > INT_MAX) return FT_INVALID_PARAMETER;
  if (Gone()) return FT_IO_ERROR;
  int n = 0;
  // libusb takes a non-const buffer but only reads it (libftdi's in_ep is the chip's OUT).
  const int result =
      libusb_bulk_transfer(context_->usb_dev, context_->in_ep, const_cast<uint8_t*>(data),
                           static_cast<int>(length), &n, writeTimeoutMs_.load());
  *written = static_cast<DWORD>(n);
  // A write timeout still returns FT_OK, with fewer bytes written, as FTDI's driver does.
  return Fatal(result) ? FT_IO_ERROR : FT_OK;
}

bool Device::ResetRequest(uint16_t value) {
  return libusb_control_transfer(context_->usb_dev, kVendorOut, SIO_RESET_REQUEST, value,
                                 static_cast<uint16_t>(context_->index), nullptr, 0,
                                 kControlTimeoutMs) == 0;
}

FT_STATUS Device::Purge(DWORD mask) {
  if (Gone()) return FT_IO_ERROR;
  if ((mask & FT_PURGE_RX) != 0 && !ResetRequest(kPurgeRx)) return FT_IO_ERROR;
  if ((mask & FT_PURGE_TX) != 0 && !ResetRequest(kPurgeTx)) return FT_IO_ERROR;
  if ((mask & FT_PURGE_RX) != 0) {
    std::lock_guard<std::mutex> lock(mu_);
    received_.clear();
  }
  return FT_OK;
}

FT_STATUS Device::QueueStatus(DWORD* received) {
  std::lock_guard<std::mutex> lock(mu_);
  if (gone_) return FT_IO_ERROR;
  *received = static_cast<DWORD>(received_.size());
  return FT_OK;
}

FT_STATUS Device::SetTimeouts(DWORD readMs, DWORD writeMs) {
  std::lock_guard<std::mutex> lock(mu_);
  readTimeoutMs_ = readMs;
  writeTimeoutMs_ = writeMs;
  return FT_OK;
}

FT_STATUS Device::SetLatencyTimer(UCHAR ms) {
  if (Gone()) return FT_IO_ERROR;
  switch (ftdi_set_latency_timer(context_, ms)) {
    case 0:
      return FT_OK;
    case -1:
      return FT_INVALID_PARAMETER;  // 0: the chip takes 1 to 255 ms
    default:
      return FT_IO_ERROR;
  }
}

void Device::Closing() {
  std::lock_guard<std::mutex> lock(mu_);
  closing_ = true;
  changed_.notify_all();
}

// ---- The EEPROM user area ----------------------------------------------------------------------

// The configuration area, word by word (libftdi's whole-image helpers refuse blank or unusual
// EEPROMs).
bool Device::ReadConfig(std::vector<uint16_t>& words) {
  words.assign(kind_.eeprom.configWords, 0);
  for (size_t i = 0; i < words.size(); ++i) {
    if (ftdi_read_eeprom_location(context_, static_cast<int>(i), &words[i]) != 0) return false;
  }
  return true;
}

// One word written, then read back. A raw request: libftdi's ftdi_write_eeprom_location refuses
// the configuration area's addresses.
bool Device::WriteWord(size_t address, uint16_t value) {
  uint16_t back = 0;
  return libusb_control_transfer(context_->usb_dev, kVendorOut, SIO_WRITE_EEPROM_REQUEST, value,
                                 static_cast<uint16_t>(address), nullptr, 0,
                                 kControlTimeoutMs) == 0 &&
         ftdi_read_eeprom_location(context_, static_cast<int>(address), &back) == 0 &&
         back == value;
}

// The words that changed, then the checksum.
bool Device::WriteWords(const std::vector<uint16_t>& before, const std::vector<uint16_t>& after) {
  const size_t checksumWord = after.size() - 1;
  for (size_t i = 0; i < checksumWord; ++i) {
    if (before[i] != after[i] && !WriteWord(i, after[i])) return false;
  }
  return WriteWord(checksumWord, after[checksumWord]);
}

FT_STATUS Device::UserAreaSize(DWORD* size) {
  std::lock_guard<std::mutex> lock(eepromMu_);
  std::vector<uint16_t> config;
  if (!ReadConfig(config)) return FT_EEPROM_READ_FAILED;
  *size = static_cast<DWORD>(2 * UserAreaWords(kind_.eeprom, config).size());
  return FT_OK;
}

FT_STATUS Device::ReadUserArea(uint8_t* out, DWORD length, DWORD* got) {
  std::lock_guard<std::mutex> lock(eepromMu_);
  std::vector<uint16_t> config;
  if (!ReadConfig(config)) return FT_EEPROM_READ_FAILED;
  const std::vector<uint8_t> bytes = korvelan380::ftdi::ReadUserArea(kind_.eeprom, config, length);
  std::copy(bytes.begin(), bytes.end(), out);
  *got = static_cast<DWORD>(bytes.size());
  return FT_OK;
}

// Past the user area an FT232H ignores the excess and another chip refuses the write, as FTDI's
// driver does.
FT_STATUS Device::WriteUserArea(const uint8_t* data, DWORD length) {
  std::lock_guard<std::mutex> lock(eepromMu_);
  std::vector<uint16_t> config;
  if (!ReadConfig(config)) return FT_EEPROM_WRITE_FAILED;
  const size_t size = 2 * UserAreaWords(kind_.eeprom, config).size();
  if (length > size && !kind_.eeprom.readsPastTheEnd) return FT_EEPROM_WRITE_FAILED;
  const auto after = WithUserArea(kind_.eeprom, config, data, std::min<size_t>(length, size));
  return WriteWords(config, after) ? FT_OK : FT_EEPROM_WRITE_FAILED;
}

}  // namespace korvelan380::ftdi
