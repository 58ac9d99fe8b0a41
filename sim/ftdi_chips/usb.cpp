#include "usb.h"

#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

namespace korvelan380::ftdi_chips {
namespace {

constexpr size_t kStatusBytes = 2;      // each bulk IN packet starts with the modem and line status
constexpr uint8_t kModemStatus = 0x01;  // the low nibble the chip always sets
constexpr uint8_t kLineStatus = 0x60;   // transmitter holding register and shift register empty
constexpr uint8_t kEndpointIn = 0x81;
constexpr uint8_t kEndpointOut = 0x02;

// FTDI's vendor requests.
enum Request : uint8_t {
  kReset = 0x00,
  kModemCtrl = 0x01,
  kSetFlowCtrl = 0x02,
  kSetBaudRate = 0x03,
  kSetData = 0x04,
  kGetModemStatus = 0x05,
  kSetEventChar = 0x06,
  kSetErrorChar = 0x07,
  kSetLatencyTimer = 0x09,
  kGetLatencyTimer = 0x0A,
  kSetBitMode = 0x0B,
  kReadPins = 0x0C,
  kReadEeprom = 0x90,
  kWriteEeprom = 0x91,
  kEraseEeprom = 0x92,
};
constexpr uint16_t kPurgeRx = 1;  // kReset's wValue: 0 resets, 1 purges the chip's receive buffer

int Fail(int error) {
  errno = error;
  return -1;
}

void Signal(Node& node) {
  const uint64_t one = 1;
  [[maybe_unused]] const long n = syscall(SYS_write, node.fd, &one, sizeof one);
}

void Complete(Node& node, usbdevfs_urb* urb, int status, int actual) {
  urb->status = status;
  urb->actual_length = actual;
  node.done.push_back(urb);
  Signal(node);
}

// Fills the first waiting URB with packets; true when it is complete (a short packet, or full).
bool FillUrb(Node& node, usbdevfs_urb* urb, uint64_t now) {
  Chip& chip = *node.chip;
  const size_t packetSize = chip.kind.bulkPacket;
  auto* buffer = static_cast<uint8_t*>(urb->buffer);
  const size_t capacity = static_cast<size_t>(urb->buffer_length);
  std::lock_guard<std::mutex> lock(chip.model->mu);
  while (node.inFill + kStatusBytes <= capacity) {
    const size_t room = std::min(packetSize, capacity - node.inFill) - kStatusBytes;
    const bool timerRanOut = now - chip.lastPacketMs >= chip.latencyMs;
    if (chip.model->Pending() < room && !timerRanOut) return false;
    uint8_t* packet = buffer + node.inFill;
    packet[0] = kModemStatus;
    packet[1] = kLineStatus;
    const size_t n = chip.model->Receive(packet + kStatusBytes, room);
    node.inFill += kStatusBytes + n;
    chip.lastPacketMs = now;
    if (kStatusBytes + n < packetSize) return true;
  }
  return true;
}

std::vector<uint8_t> StringDescriptor(const Chip& chip, uint8_t index) {
  if (index == 0) return {4, 0x03, 0x09, 0x04};  // English (US)
  if (index > 3) return {};
  const std::string s = chip.EepromString(6 + index);
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * s.size()), 0x03};
  for (char c : s) d.insert(d.end(), {static_cast<uint8_t>(c), 0});
  return d;
}

// Copies what a request answers into the data stage, as much as fits; returns the bytes given.
int Reply(uint8_t* data, size_t length, const std::vector<uint8_t>& bytes) {
  const size_t n = std::min(bytes.size(), length);
  std::memcpy(data, bytes.data(), n);
  return static_cast<int>(n);
}

// A standard request addressed to the device: its descriptors, configuration and status.
int StandardRequest(Chip& chip, uint8_t request, uint16_t value, uint8_t* data, size_t length) {
  if (request == 0x06) {  // GET_DESCRIPTOR
    const uint8_t kind = value >> 8;
    const auto all = DeviceDescriptors(chip);
    if (kind == 0x01) return Reply(data, length, {all.begin(), all.begin() + 18});
    if (kind == 0x02) return Reply(data, length, {all.begin() + 18, all.end()});
    if (kind == 0x03) {
      const auto d = StringDescriptor(chip, value & 0xFF);
      return d.empty() ? -EPIPE : Reply(data, length, d);
    }
    return -EPIPE;
  }
  if (request == 0x08) return Reply(data, length, {1});     // GET_CONFIGURATION
  if (request == 0x00) return Reply(data, length, {0, 0});  // GET_STATUS
  return 0;
}

// The EEPROM requests: a word read or written at an address, which the part wraps; all erased.
int EepromRequest(Chip& chip, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                  size_t length) {
  if (request == kReadEeprom) {
    const uint16_t word = chip.Word(index);
    return Reply(data, length, {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)});
  }
  if (request == kWriteEeprom) {
    chip.Word(index) = value;
  } else {
    std::fill(chip.eeprom.begin(), chip.eeprom.end(), 0xFFFF);
  }
  chip.SaveEeprom();
  return 0;
}

// One of the chip's vendor requests: purges, modem status, latency timer, EEPROM words.
int VendorRequest(Chip& chip, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                  size_t length) {
  ++chip.requests[request];
  switch (request) {
    case kReset:
      if (value == 0 || value == kPurgeRx) {
        std::lock_guard<std::mutex> lock(chip.model->mu);
        chip.model->PurgeReceive();
      }
      return 0;
    case kGetModemStatus:
      return Reply(data, length, {kModemStatus, kLineStatus});
    case kSetLatencyTimer:
      chip.latencyMs = static_cast<uint8_t>(std::max<uint16_t>(1, value & 0xFF));
      return 0;
    case kGetLatencyTimer:
      return Reply(data, length, {chip.latencyMs});
    case kReadPins:
      return Reply(data, length, {0xFF});
    case kReadEeprom:
    case kWriteEeprom:
    case kEraseEeprom:
      return EepromRequest(chip, request, value, index, data, length);
    case kModemCtrl:
    case kSetFlowCtrl:
    case kSetBaudRate:
    case kSetData:
    case kSetEventChar:
    case kSetErrorChar:
    case kSetBitMode:
      return 0;
    default:
      return -EPIPE;
  }
}

// One control transfer: the setup packet and its data stage. The number of bytes of the data
// stage, or a negative errno (-EPIPE: the chip stalls).
int Control(Chip& chip, const uint8_t* setup, uint8_t* data, size_t length) {
  const uint8_t type = setup[0];
  const uint8_t request = setup[1];
  const uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
  const uint16_t index = static_cast<uint16_t>(setup[4] | setup[5] << 8);
  if (type == 0x80) return StandardRequest(chip, request, value, data, length);
  if ((type & 0x60) == 0) return 0;  // other standard requests
  if ((type & 0x60) != 0x40) return -EPIPE;
  return VendorRequest(chip, request, value, index, data, length);
}

int ControlIoctl(Node& node, usbdevfs_ctrltransfer* c) {
  const uint8_t setup[8] = {c->bRequestType,
                            c->bRequest,
                            static_cast<uint8_t>(c->wValue),
                            static_cast<uint8_t>(c->wValue >> 8),
                            static_cast<uint8_t>(c->wIndex),
                            static_cast<uint8_t>(c->wIndex >> 8),
                            static_cast<uint8_t>(c->wLength),
                            static_cast<uint8_t>(c->wLength >> 8)};
  const int n = Control(*node.chip, setup, static_cast<uint8_t*>(c->data), c->wLength);
  return n < 0 ? Fail(-n) : n;
}

int SubmitUrb(Node& node, usbdevfs_urb* urb) {
  Chip& chip = *node.chip;
  auto* buffer = static_cast<uint8_t*>(urb->buffer);
  if (urb->buffer_length < 0 || (urb->buffer_length > 0 && buffer == nullptr)) return Fail(EINVAL);
  const auto length = static_cast<size_t>(urb->buffer_length);
  urb->status = -EINPROGRESS;
  urb->actual_length = 0;
  if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
    if (length < 8) return Fail(EINVAL);
    const int n = Control(chip, buffer, buffer + 8, length - 8);
    Complete(node, urb, n < 0 ? n : 0, n < 0 ? 0 : n);
    return 0;
  }
  if (urb->type != USBDEVFS_URB_TYPE_BULK) return Fail(EINVAL);
  if (urb->endpoint == kEndpointOut) {
    {
      std::lock_guard<std::mutex> lock(chip.model->mu);
      chip.model->Feed(buffer, length);
    }
    Complete(node, urb, 0, static_cast<int>(length));
    return 0;
  }
  if (urb->endpoint != kEndpointIn) return Fail(EINVAL);
  node.inUrbs.push_back(urb);
  return 0;
}

int ReapUrb(Node& node, void* arg) {
  // Completed URBs are reaped even from an unplugged chip; then it is gone.
  if (node.done.empty()) return Fail(node.unplugged ? ENODEV : EAGAIN);
  *static_cast<usbdevfs_urb**>(arg) = node.done.front();
  node.done.pop_front();
  if (node.done.empty()) {
    // Straight to the kernel: read() is ours, and the bus lock is held.
    uint64_t count = 0;
    [[maybe_unused]] const long n = syscall(SYS_read, node.fd, &count, sizeof count);
  }
  return 0;
}

int DiscardUrb(Node& node, usbdevfs_urb* urb) {
  const auto at = std::find(node.inUrbs.begin(), node.inUrbs.end(), urb);
  if (at == node.inUrbs.end()) return Fail(EINVAL);
  const bool first = at == node.inUrbs.begin();
  node.inUrbs.erase(at);
  Complete(node, urb, -ENOENT, first ? static_cast<int>(node.inFill) : 0);
  if (first) node.inFill = 0;
  return 0;
}

}  // namespace

std::vector<uint8_t> DeviceDescriptors(const Chip& chip) {
  const ChipKind& k = chip.kind;
  const auto lo = [](uint16_t v) { return static_cast<uint8_t>(v); };
  const auto hi = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
  // The configuration's attributes and power come from the EEPROM, as the chip takes them.
  const uint16_t power = chip.eeprom[4];
  return {// device: USB 2.0, vendor specific
          18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, k.controlPacket, lo(kVendor), hi(kVendor),
          lo(k.product), hi(k.product), lo(k.release), hi(k.release), 1, 2, 3, 1,
          // configuration 1: one interface
          9, 0x02, 32, 0, 1, 1, 0, lo(power), hi(power),
          // interface 0: vendor specific, two bulk endpoints
          9, 0x04, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,
          // endpoints 0x81 (IN) and 0x02 (OUT)
          7, 0x05, kEndpointIn, 0x02, lo(k.bulkPacket), hi(k.bulkPacket), 0, 7, 0x05, kEndpointOut,
          0x02, lo(k.bulkPacket), hi(k.bulkPacket), 0};
}

int NodeIoctl(Node& node, unsigned long request, void* arg) {
  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) return ReapUrb(node, arg);
  if (node.unplugged) return Fail(ENODEV);
  switch (request) {
    case USBDEVFS_CONTROL:
      return ControlIoctl(node, static_cast<usbdevfs_ctrltransfer*>(arg));
    case USBDEVFS_SUBMITURB:
      return SubmitUrb(node, static_cast<usbdevfs_urb*>(arg));
    case USBDEVFS_DISCARDURB:
      return DiscardUrb(node, static_cast<usbdevfs_urb*>(arg));
    case USBDEVFS_GET_CAPABILITIES:
      *static_cast<uint32_t*>(arg) = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                     USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
      return 0;
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESET:
      return 0;
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
      return Fail(ENODATA);  // no kernel driver holds the interface
    default:
      return Fail(ENOTTY);
  }
}

void PaceIn(Node& node, uint64_t now) {
  while (!node.inUrbs.empty() && FillUrb(node, node.inUrbs.front(), now)) {
    usbdevfs_urb* urb = node.inUrbs.front();
    node.inUrbs.pop_front();
    Complete(node, urb, 0, static_cast<int>(node.inFill));
    node.inFill = 0;
  }
}

void Unplug(Node& node) {
  node.unplugged = true;
  for (usbdevfs_urb* urb : node.inUrbs) Complete(node, urb, -ENODEV, 0);
  node.inUrbs.clear();
  node.inFill = 0;
}

}  // namespace korvelan380::ftdi_chips
