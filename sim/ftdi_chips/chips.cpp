// The emulated chips on their bus: the folders and nodes libusb finds, the interposer's entry
// points and the control interface for tests.

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chip.h"
#include "korvelan380_ftdi_chips.h"
#include "usb.h"
#include "usb_node.h"

namespace {

using korvelan380::ftdi_chips::Chip;
using korvelan380::ftdi_chips::Node;
using korvelan380::ftdi_chips::ParseSpec;

constexpr const char* kBusRoot = "/dev/bus/usb";
constexpr const char* kBusDir = "/dev/bus/usb/001";
constexpr const char* kSysfsUsb = "/sys/bus/usb/devices";
constexpr int kFirstDevnum = 2;  // 001 is the root hub, which is not emulated

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

struct Bus {
  std::mutex mu;
  std::vector<std::shared_ptr<Chip>> chips;
  std::map<int, Node> nodes;
  bool pacing = false;
};

std::shared_ptr<Chip> FindChip(Bus& bus, const std::string& id) {
  for (const auto& chip : bus.chips) {
    if (chip->deviceId == id) return chip;
  }
  return nullptr;
}

// Plugs in the chip an item names ("ID[:KIND][:blank]") at the next bus position; false when
// the item is malformed or its deviceId present.
bool Attach(Bus& bus, const std::string& item) {
  const auto spec = ParseSpec(item);
  if (!spec || FindChip(bus, spec->id) != nullptr) return false;
  const int devnum = bus.chips.empty() ? kFirstDevnum : bus.chips.back()->devnum + 1;
  bus.chips.push_back(std::make_shared<Chip>(*spec, devnum));
  return true;
}

// Never destroyed: the driver's threads may still call in while the process exits.
Bus& TheBus() {
  static Bus* bus = [] {
    auto* b = new Bus;
    const char* env = std::getenv("KORVELAN380_EMULATED_CHIPS");
    const std::string list = env != nullptr ? env : "0";
    size_t start = 0;
    while (start <= list.size()) {
      const size_t comma = std::min(list.find(',', start), list.size());
      const std::string item = list.substr(start, comma - start);
      if (!item.empty() && !Attach(*b, item)) {
        std::fprintf(stderr, "KORVELAN380_EMULATED_CHIPS: '%s' is not ID[:KIND][:blank]\n",
                     item.c_str());
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

// The chip at a node's path.
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

// Runs `body` on the chip of `device_id` under the bus lock, or returns `otherwise`.
template <typename T, typename Body>
T WithChip(const char* device_id, T otherwise, Body&& body) {
  if (device_id == nullptr) return otherwise;
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto chip = FindChip(bus, device_id);
  return chip != nullptr ? body(*chip) : otherwise;
}

// The same, with the module's lock held too.
template <typename T, typename Body>
T WithModule(const char* device_id, T otherwise, Body&& body) {
  return WithChip(device_id, otherwise, [&](Chip& c) {
    std::lock_guard<std::mutex> lock(c.model->mu);
    return body(*c.model);
  });
}

int Fail(int error) {
  errno = error;
  return -1;
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
  // An unplugged chip's node is still there, as it is until udev removes it: opening it fails
  // with ENODEV. ENOENT would make libusb drop the device for good.
  auto chip = ChipAtPath(bus, path);
  if (chip == nullptr || !chip->plugged) return Fail(ENODEV);
  Node& node = bus.nodes[fd];
  node = Node{};
  node.chip = chip;
  node.fd = fd;
  ++chip->openNodes;
  nodeFds[static_cast<size_t>(fd)].store(true, std::memory_order_release);
  StartPacing(bus);
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
  if (it->second.unplugged) return Fail(ENODEV);
  const auto descriptors = DeviceDescriptors(*it->second.chip);
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
  return NodeIoctl(it->second, request, arg);
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

int kft_attach(const char* item) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  return item != nullptr && Attach(bus, item) ? 0 : -1;
}

int kft_unplug(const char* device_id) {
  Bus& bus = TheBus();
  std::lock_guard<std::mutex> lock(bus.mu);
  auto chip = device_id != nullptr ? FindChip(bus, device_id) : nullptr;
  if (chip == nullptr || !chip->plugged) return -1;
  chip->plugged = false;
  for (auto& [fd, node] : bus.nodes) {
    if (node.chip == chip) Unplug(node);
  }
  return 0;
}

int kft_plug(const char* device_id) {
  return WithChip(device_id, -1, [](Chip& c) {
    if (c.plugged) return -1;
    c.PowerUp();
    c.plugged = true;
    return 0;
  });
}

int kft_is_open(const char* device_id) {
  return WithChip(device_id, 0, [](Chip& c) { return c.openNodes > 0 ? 1 : 0; });
}

uint8_t kft_register(const char* device_id, uint8_t reg) {
  return WithModule(device_id, uint8_t{0}, [reg](auto& m) { return m.regs[reg]; });
}

void kft_set_register(const char* device_id, uint8_t reg, uint8_t value) {
  WithModule(device_id, 0, [reg, value](auto& m) {
    m.regs[reg] = value;
    return 0;
  });
}

uint32_t kft_register_writes(const char* device_id, uint8_t reg) {
  return WithModule(device_id, uint32_t{0}, [reg](auto& m) { return m.regWrites[reg]; });
}

size_t kft_stream_samples(const char* device_id, uint8_t channel, uint16_t* out, size_t capacity) {
  return WithModule(device_id, size_t{0}, [&](auto& m) {
    if (channel >= m.streams.size()) return size_t{0};
    const auto& samples = m.streams[channel];
    if (out != nullptr) std::copy_n(samples.begin(), std::min(capacity, samples.size()), out);
    return samples.size();
  });
}

void kft_withhold_replies(const char* device_id, uint32_t count) {
  WithModule(device_id, 0, [count](auto& m) {
    m.withheldReplies = count;
    return 0;
  });
}

int kft_measure(const char* device_id, uint8_t channel, double* volts) {
  if (volts == nullptr) return -1;
  return WithModule(device_id, -1, [&](auto& m) {
    const auto measured = m.OutputVolts(channel);
    if (!measured) return -1;
    *volts = *measured;
    return 0;
  });
}

int kft_set_output_error(const char* device_id, uint8_t channel, uint8_t range, double gain_error,
                         double offset_error_codes) {
  return WithModule(device_id, -1, [&](auto& m) {
    return m.SetOutputError(channel, range, {gain_error, offset_error_codes}) ? 0 : -1;
  });
}

size_t kft_eeprom(const char* device_id, uint16_t* out, size_t capacity) {
  return WithChip(device_id, size_t{0}, [&](Chip& c) {
    if (out != nullptr) std::copy_n(c.eeprom.begin(), std::min(capacity, c.eeprom.size()), out);
    return c.eeprom.size();
  });
}

int kft_latency_timer(const char* device_id) {
  return WithChip(device_id, -1, [](Chip& c) { return static_cast<int>(c.latencyMs); });
}

uint32_t kft_vendor_requests(const char* device_id, uint8_t request) {
  return WithChip(device_id, uint32_t{0}, [request](Chip& c) { return c.requests[request]; });
}

}  // extern "C"
