// A chip's node as usbfs presents it: its descriptors, the ioctls libusb makes, FTDI's vendor
// requests and the bulk endpoints in front of the module.
#ifndef KORVELAN380_FTDI_CHIPS_USB_H
#define KORVELAN380_FTDI_CHIPS_USB_H

#include <linux/usbdevice_fs.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "chip.h"

namespace korvelan380::ftdi_chips {

// An open node: libusb's descriptor, its read position and its URBs. The caller holds the bus
// lock around every function here.
struct Node {
  std::shared_ptr<Chip> chip;
  int fd = -1;
  size_t readPos = 0;
  bool unplugged = false;            // the chip was unplugged while the node was open
  std::deque<usbdevfs_urb*> inUrbs;  // bulk IN, waiting for the chip's packets
  size_t inFill = 0;                 // bytes already in the first of them
  std::deque<usbdevfs_urb*> done;    // completed, for REAPURB
};

// The device, configuration, interface and endpoint descriptors, as reading a node gives them.
std::vector<uint8_t> DeviceDescriptors(const Chip& chip);
// One usbfs ioctl on the node; -1 and errno as the kernel's.
int NodeIoctl(Node& node, unsigned long request, void* arg);
// The chip's bulk IN side at time `now` (ms): packets into the node's waiting URBs.
void PaceIn(Node& node, uint64_t now);
// The chip is gone: the node's pending URBs end, and every later call on it fails with ENODEV, as
// usbfs does. Its poll shows no POLLERR, unlike usbfs's: libusb would then drop the device for
// good, and only the kernel's hotplug event, not emulated, would bring it back when plugged in.
void Unplug(Node& node);

}  // namespace korvelan380::ftdi_chips

#endif  // KORVELAN380_FTDI_CHIPS_USB_H
