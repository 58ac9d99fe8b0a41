/* The control interface of the emulated FT232R chips (libkorvelan380_ftdi_chips.so), for tests.
 *
 * Preloaded (LD_PRELOAD), the library presents FT232R chips to libusb -- and so to FTDI's own
 * D2XX driver -- at /dev/bus/usb/001/002 onwards, each in front of a simulated module. The chips
 * present when the process starts are named by $KORVELAN380_FT232R_CHIPS: deviceIds separated
 * by commas (default "0"); chip "7" has the serial number KORVELAN3807. A process that links the
 * library gets the same chips without preloading it.
 *
 * Every function names a chip by its deviceId; an unknown one gives 0 (or -1). */
#ifndef KORVELAN380_FTDI_CHIPS_H
#define KORVELAN380_FTDI_CHIPS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define KFT_API __attribute__((visibility("default")))

/* The chips present, in bus order, as deviceIds separated by commas; the length of the list. */
KFT_API size_t kft_chips(char* out, size_t capacity);
/* Plugs in one more chip; 0, or -1 when that deviceId is present. Only before FTDI's driver is
 * loaded: its libusb lists the devices once, at its start, and later only hears of new ones from
 * the kernel's hotplug events, which are not emulated. */
KFT_API int kft_attach(const char* device_id);
/* Whether libusb holds the chip's node open. */
KFT_API int kft_is_open(const char* device_id);

/* The module behind the chip: its registers and the waveform samples it received. */
KFT_API uint8_t kft_register(const char* device_id, uint8_t reg);
KFT_API void kft_set_register(const char* device_id, uint8_t reg, uint8_t value);
KFT_API uint32_t kft_register_writes(const char* device_id, uint8_t reg);
KFT_API size_t kft_stream_samples(const char* device_id, uint8_t channel, uint16_t* out,
                                  size_t capacity);

/* The chip's 128-word EEPROM (words, little-endian in the chip), and its latency timer in ms. */
KFT_API size_t kft_eeprom(const char* device_id, uint16_t* out, size_t capacity);
KFT_API int kft_latency_timer(const char* device_id);
/* How many FTDI vendor requests with this bRequest the chip has answered. */
KFT_API uint32_t kft_vendor_requests(const char* device_id, uint8_t request);

#ifdef __cplusplus
}
#endif

#endif /* KORVELAN380_FTDI_CHIPS_H */
