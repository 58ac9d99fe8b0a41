// FT232R chips at the USB level: the descriptors read from a node, the usbfs ioctls libusb makes,
// FTDI's vendor requests, and the bulk endpoints in front of the simulated module.
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "korvelan380_ftdi_chips.h"
#include "module_model.h"
#include "usb_node.h"

namespace {

using korvelan380::sim::detail::Module;

constexpr const char* kBusRoot = "/dev/bus/usb";
constexpr const char* kBusDir = "/dev/bus/usb/001";
constexpr const char* kSysfsUsb = "/sys/bus/usb/devices";
constexpr int kFirstDevnum = 2;  // 001 is the root hub, which is not emulated

constexpr uint16_t kVendor = 0x0403;
constexpr uint16_t kProduct = 0x6001;
constexpr size_t kEepromWords = 128;
constexpr size_t kChecksumWord = 63;    // the chip's configuration is words 0..63
constexpr size_t kStringsStart = 0x18;  // bytes: the string descriptors follow the configuration
constexpr size_t kPacketSize = 64;
constexpr size_t kStatusBytes = 2;      // each bulk IN packet starts with the modem and line status
constexpr uint8_t kModemStatus = 0x01;  // the low nibble the chip always sets
constexpr uint8_t kLineStatus = 0x60;   // transmitter holding register and shift register empty
constexpr uint8_t kDefaultLatencyMs = 16;
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

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

struct Chip {
  Chip(std::string id, int number) : deviceId(std::move(id)), devnum(number), model(Serial(), 0) {
    ProgramEeprom();
  }
  std::string Serial() const { return "KORVELAN380" + deviceId; }

  const std::string deviceId;
  const int devnum;
  Module model;
  std::array<uint16_t, kEepromWords> eeprom{};
  uint8_t latencyMs = kDefaultLatencyMs;
  uint64_t lastPacketMs = 0;  // when the chip last sent a bulk IN packet
  std::array<uint32_t, 256> requests{};
  int openNodes = 0;

  void ProgramEeprom();
  std::string EepromString(size_t pointerWord) const;
};

// The chip as FTDI programs it, with our serial number and product name.
void Chip::ProgramEeprom() {
  eeprom.fill(0xFFFF);
  const uint16_t config[] = {0x4000, kVendor, kProduct, 0x0600, 0x2DA0, 0x0008, 0x0200};
  std::copy(std::begin(config), std::end(config), eeprom.begin());
  eeprom[10] = 0x1023;  // CBUS pins
  eeprom[11] = 0x0005;
  auto* bytes = reinterpret_cast<uint8_t*>(eeprom.data());
  size_t at = kStringsStart;
  const std::string strings[] = {"FTDI", "KORVELAN380", Serial()};
  for (size_t i = 0; i < 3; ++i) {
    const size_t length = 2 + 2 * strings[i].size();
    eeprom[7 + i] = static_cast<uint16_t>((length << 8) | 0x80 | at);
    bytes[at] = static_cast<uint8_t>(length);
    bytes[at + 1] = 0x03;
    for (size_t c = 0; c < strings[i].size(); ++c) {
      bytes[at + 2 + 2 * c] = static_cast<uint8_t>(strings[i][c]);
      bytes[at + 3 + 2 * c] = 0;
    }
    at += length;
  }
  std::fill(bytes + at, bytes + 2 * kChecksumWord, 0);
  uint16_t checksum = 0xAAAA;
  for (size_t i = 0; i < kChecksumWord; ++i) {
    checksum ^= eeprom[i];
    checksum = static_cast<uint16_t>((checksum << 1) | (checksum >> 15));
  }
  eeprom[kChecksumWord] = checksum;
}

// The string descriptor a pointer word (7, 8 or 9) leads to, as ASCII.
std::string Chip::EepromString(size_t pointerWord) const {
  const auto* bytes = reinterpret_cast<const uint8_t*>(eeprom.data());
  const size_t at = eeprom[pointerWord] & 0x7F;
  const size_t length = std::min<size_t>(eeprom[pointerWord] >> 8, 2 * kEepromWords - at);
  std::string s;
  for (size_t i = 2; i + 1 < length; i += 2) s += static_cast<char>(bytes[at + i]);
  return s;
}

// An open node: libusb's descriptor, its read position and its URBs.
struct Node {
  std::shared_ptr<Chip> chip;
  int fd = -1;
  size_t readPos = 0;
  std::deque<usbdevfs_urb*> inUrbs;  // bulk IN, waiting for the chip's packets
  size_t inFill = 0;                 // bytes already in the first of them
  std::deque<usbdevfs_urb*> done;    // completed, for REAPURB
};

struct Bus {
  std::mutex mu;
  std::vector<std::shared_ptr<Chip>> chips;
  std::map<int, Node> nodes;
  bool pacing = false;
};

// Never destroyed: the driver's threads may still call in while the process exits.
Bus& TheBus() {
  static Bus* bus = [] {
    auto* b = new Bus;
    const char* env = std::getenv("KORVELAN380_FT232R_CHIPS");
    std::string list = env != nullptr ? env : "0";
    size_t start = 0;
    while (start <= list.size()) {
      const size_t comma = std::min(list.find(',', start), list.size());
      const std::string id = list.substr(start, comma - start);
      if (!id.empty() && id.size() <= 8) {
        b->chips.push_back(
            std::make_shared<Chip>(id, kFirstDevnum + static_cast<int>(b->chips.size())));
      }
      start = comma + 1;
    }
    return b;
  }();
  return *bus;
}

// Open node descriptors, for a check on every read() and poll() of the process without a lock.
constexpr int kMaxFd = 4096;
std::array<std::atomic<bool>, kMaxFd> nodeFds{};

std::shared_ptr<Chip> FindChip(Bus& bus, const std::string& id) {
  for (const auto& chip : bus.chips) {
    if (chip->deviceId == id) return chip;
  }
  return nullptr;
}

std::shared_ptr<Chip> ChipAtPath(Bus& bus, const char* path) {
  const size_t dirLength = std::strlen(kBusDir);
  if (std::strncmp(path, kBusDir, dirLength) != 0 || path[dirLength] != '/') return nullptr;
  const char* name = path + dirLength + 1;
  if (std::strlen(name) != 3) return nullptr;
  const int devnum = std::atoi(name);
  for (const auto& chip : bus.chips) {
    if (chip->devnum == devnum) return chip;
  }
  return nullptr;
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

// The chip's bulk IN side: full packets as soon as the module has 62 bytes for one; otherwise a
// short packet, with whatever there is (perhaps only the two status bytes), when the latency
// timer runs out. A short packet, or a full URB, completes the URB.
void PaceIn(Node& node, uint64_t now) {
  Chip& chip = *node.chip;
  while (!node.inUrbs.empty()) {
    usbdevfs_urb* urb = node.inUrbs.front();
    auto* buffer = static_cast<uint8_t*>(urb->buffer);
    const size_t capacity = static_cast<size_t>(urb->buffer_length);
    bool shortPacket = false;
    std::lock_guard<std::mutex> lock(chip.model.mu);
    while (node.inFill + kStatusBytes <= capacity) {
      const size_t room = std::min(kPacketSize, capacity - node.inFill) - kStatusBytes;
      const size_t pending = chip.model.Pending();
      const bool timerRanOut = now - chip.lastPacketMs >= chip.latencyMs;
      if (pending < room && !timerRanOut) break;
      uint8_t* packet = buffer + node.inFill;
      packet[0] = kModemStatus;
      packet[1] = kLineStatus;
      const size_t n = chip.model.Receive(packet + kStatusBytes, room);
      node.inFill += kStatusBytes + n;
      chip.lastPacketMs = now;
      if (kStatusBytes + n < kPacketSize) {
        shortPacket = true;
        break;
      }
    }
    if (!shortPacket && node.inFill + kStatusBytes <= capacity) return;
    node.inUrbs.pop_front();
    Complete(node, urb, 0, static_cast<int>(node.inFill));
    node.inFill = 0;
  }
}

void StartPacing(Bus& bus) {
  if (bus.pacing) return;
  bus.pacing = true;
  std::thread([&bus] {
    for (;;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::lock_guard<std::mutex> lock(bus.mu);
      const uint64_t now = NowMs();
      for (auto& [fd, node] : bus.nodes) PaceIn(node, now);
    }
  }).detach();
}

std::vector<uint8_t> DeviceDescriptors() {
  return {// device
          18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 8, kVendor & 0xFF, kVendor >> 8, kProduct & 0xFF,
          kProduct >> 8, 0x00, 0x06, 1, 2, 3, 1,
          // configuration 1: one interface, bus powered, 90 mA
          9, 0x02, 32, 0, 1, 1, 0, 0xA0, 45,
          // interface 0: vendor specific, two bulk endpoints
          9, 0x04, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2,
          // endpoints 0x81 (IN) and 0x02 (OUT), 64-byte packets
          7, 0x05, kEndpointIn, 0x02, 64, 0, 0, 7, 0x05, kEndpointOut, 0x02, 64, 0, 0};
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
    const auto all = DeviceDescriptors();
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

// One of the chip's vendor requests: purges, modem status, latency timer, EEPROM words.
int VendorRequest(Chip& chip, uint8_t request, uint16_t value, uint16_t index, uint8_t* data,
                  size_t length) {
  ++chip.requests[request];
  switch (request) {
    case kReset:
      if (value == 0 || value == kPurgeRx) {
        std::lock_guard<std::mutex> lock(chip.model.mu);
        chip.model.PurgeReceive();
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
      if (index >= kEepromWords) return -EPIPE;
      return Reply(data, length,
                   {static_cast<uint8_t>(chip.eeprom[index]),
                    static_cast<uint8_t>(chip.eeprom[index] >> 8)});
    case kWriteEeprom:
      if (index >= kEepromWords) return -EPIPE;
      chip.eeprom[index] = value;
      return 0;
    case kEraseEeprom:
      chip.eeprom.fill(0xFFFF);
      return 0;
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

int Fail(int error) {
  errno = error;
  return -1;
}

int SubmitUrb(Bus& bus, Node& node, usbdevfs_urb* urb) {
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
      std::lock_guard<std::mutex> lock(chip.model.mu);
      chip.model.Feed(buffer, length);
    }
    Complete(node, urb, 0, static_cast<int>(length));
    return 0;
  }
  if (urb->endpoint != kEndpointIn) return Fail(EINVAL);
  node.inUrbs.push_back(urb);
  StartPacing(bus);
  return 0;
}

int ReapUrb(Node& node, void* arg) {
  if (node.done.empty()) return Fail(EAGAIN);
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

// Runs `body` on the chip of `device_id` under the bus lock, or returns `otherwise`.
template <typename T, typename Body>
T WithChip(const char* device_id, T otherwise, Body&& body) {
  if (device_id == nullptr) return otherwise;
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto chip = FindChip(bus, device_id);
  return chip != nullptr ? body(*chip) : otherwise;
}

}  // namespace

extern "C" {

kft_path_kind kft_classify(const char* path) {
  // Every open() and stat() of the process comes here: paths outside the USB folders are told
  // apart without the lock (which also keeps a child forked while the lock was held working).
  if (path == nullptr) return KFT_PATH_NONE;
  if (std::strncmp(path, kSysfsUsb, std::strlen(kSysfsUsb)) == 0) return KFT_PATH_HIDDEN;
  if (std::strncmp(path, kBusRoot, std::strlen(kBusRoot)) != 0) return KFT_PATH_NONE;
  if (std::strcmp(path, kBusRoot) == 0 || std::strcmp(path, "/dev/bus/usb/") == 0 ||
      std::strcmp(path, kBusDir) == 0) {
    return KFT_PATH_DIR;
  }
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  return ChipAtPath(bus, path) != nullptr ? KFT_PATH_NODE : KFT_PATH_HIDDEN;
}

const char* kft_dir_entry(const char* path, size_t index, char* name, size_t capacity) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  if (std::strcmp(path, kBusDir) != 0) {
    if (index > 0) return nullptr;
    std::snprintf(name, capacity, "001");
    return name;
  }
  if (index >= bus.chips.size()) return nullptr;
  std::snprintf(name, capacity, "%03d", bus.chips[index]->devnum);
  return name;
}

int kft_node_open(const char* path, int fd) {
  if (fd < 0 || fd >= kMaxFd) return Fail(EMFILE);
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto chip = ChipAtPath(bus, path);
  if (chip == nullptr) return Fail(ENODEV);
  Node& node = bus.nodes[fd];
  node = Node{};
  node.chip = chip;
  node.fd = fd;
  ++chip->openNodes;
  nodeFds[static_cast<size_t>(fd)].store(true, std::memory_order_release);
  return 0;
}

int kft_is_node(int fd) {
  return fd >= 0 && fd < kMaxFd && nodeFds[static_cast<size_t>(fd)].load(std::memory_order_acquire);
}

ssize_t kft_node_read(int fd, void* buffer, size_t length) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto it = bus.nodes.find(fd);
  if (it == bus.nodes.end()) return Fail(EBADF);
  const auto descriptors = DeviceDescriptors();
  const size_t pos = std::min(it->second.readPos, descriptors.size());
  const size_t n = std::min(length, descriptors.size() - pos);
  std::memcpy(buffer, descriptors.data() + pos, n);
  it->second.readPos = pos + n;
  return static_cast<ssize_t>(n);
}

int kft_node_ioctl(int fd, unsigned long request, void* arg) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto it = bus.nodes.find(fd);
  if (it == bus.nodes.end()) return Fail(EBADF);
  Node& node = it->second;
  switch (request) {
    case USBDEVFS_CONTROL: {
      auto* c = static_cast<usbdevfs_ctrltransfer*>(arg);
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
    case USBDEVFS_SUBMITURB:
      return SubmitUrb(bus, node, static_cast<usbdevfs_urb*>(arg));
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      return ReapUrb(node, arg);
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

void kft_node_close(int fd) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto it = bus.nodes.find(fd);
  if (it == bus.nodes.end()) return;
  --it->second.chip->openNodes;
  nodeFds[static_cast<size_t>(fd)].store(false, std::memory_order_release);
  bus.nodes.erase(it);
}

size_t kft_chips(char* out, size_t capacity) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  std::string list;
  for (const auto& chip : bus.chips) list += (list.empty() ? "" : ",") + chip->deviceId;
  if (out != nullptr && capacity > 0) std::snprintf(out, capacity, "%s", list.c_str());
  return list.size();
}

int kft_attach(const char* device_id) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  const std::string id = device_id != nullptr ? device_id : "";
  if (id.empty() || id.size() > 8 || FindChip(bus, id) != nullptr) return -1;
  const int devnum = bus.chips.empty() ? kFirstDevnum : bus.chips.back()->devnum + 1;
  bus.chips.push_back(std::make_shared<Chip>(id, devnum));
  return 0;
}

int kft_is_open(const char* device_id) {
  return WithChip(device_id, 0, [](Chip& c) { return c.openNodes > 0 ? 1 : 0; });
}

uint8_t kft_register(const char* device_id, uint8_t reg) {
  return WithChip(device_id, uint8_t{0}, [reg](Chip& c) {
    std::lock_guard<std::mutex> lock(c.model.mu);
    return c.model.regs[reg];
  });
}

void kft_set_register(const char* device_id, uint8_t reg, uint8_t value) {
  WithChip(device_id, 0, [reg, value](Chip& c) {
    std::lock_guard<std::mutex> lock(c.model.mu);
    c.model.regs[reg] = value;
    return 0;
  });
}

uint32_t kft_register_writes(const char* device_id, uint8_t reg) {
  return WithChip(device_id, uint32_t{0}, [reg](Chip& c) {
    std::lock_guard<std::mutex> lock(c.model.mu);
    return c.model.regWrites[reg];
  });
}

size_t kft_stream_samples(const char* device_id, uint8_t channel, uint16_t* out, size_t capacity) {
  return WithChip(device_id, size_t{0}, [&](Chip& c) {
    if (channel >= c.model.streams.size()) return size_t{0};
    std::lock_guard<std::mutex> lock(c.model.mu);
    const auto& samples = c.model.streams[channel];
    if (out != nullptr) std::copy_n(samples.begin(), std::min(capacity, samples.size()), out);
    return samples.size();
  });
}

size_t kft_eeprom(const char* device_id, uint16_t* out, size_t capacity) {
  return WithChip(device_id, size_t{0}, [&](Chip& c) {
    if (out != nullptr) std::copy_n(c.eeprom.begin(), std::min(capacity, kEepromWords), out);
    return kEepromWords;
  });
}

int kft_latency_timer(const char* device_id) {
  return WithChip(device_id, -1, [](Chip& c) { return static_cast<int>(c.latencyMs); });
}

uint32_t kft_vendor_requests(const char* device_id, uint8_t request) {
  return WithChip(device_id, uint32_t{0}, [request](Chip& c) { return c.requests[request]; });
}

}  // extern "C"
