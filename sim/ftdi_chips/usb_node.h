// What the C interposer asks of the emulated chips: is this path or descriptor ours, and what does
// the node answer. Paths are the kernel's: /dev/bus/usb, /dev/bus/usb/001, /dev/bus/usb/001/DDD.
#ifndef KORVELAN380_FTDI_CHIPS_USB_NODE_H
#define KORVELAN380_FTDI_CHIPS_USB_NODE_H

#include <stddef.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

enum kft_path_kind { KFT_PATH_NONE, KFT_PATH_DIR, KFT_PATH_NODE, KFT_PATH_HIDDEN };

// What `path` is: one of our folders, a chip's node, a path hidden from the process (the real
// USB sysfs folder, so that libusb enumerates through the nodes), or none of ours.
enum kft_path_kind kft_classify(const char* path);
// The name of entry `index` of our folder `path`, or NULL past the last.
const char* kft_dir_entry(const char* path, size_t index, char* name, size_t capacity);
// Opens a chip's node as descriptor `fd` (a descriptor the interposer made); -1 and errno if the
// chip is gone.
int kft_node_open(const char* path, int fd);
// True for descriptors of open nodes.
int kft_is_node(int fd);
// Reading a node gives its descriptors, as usbfs does.
ssize_t kft_node_read(int fd, void* buffer, size_t length);
// The usbfs ioctls; -1 and errno as the kernel's.
int kft_node_ioctl(int fd, unsigned long request, void* arg);
// Forgets the node; the interposer then closes the descriptor itself.
void kft_node_close(int fd);

#ifdef __cplusplus
}
#endif

#endif  // KORVELAN380_FTDI_CHIPS_USB_NODE_H
