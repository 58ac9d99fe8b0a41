/* The control interface of the emulated FTDI chips (libkorvelan380_ftdi_chips.so), for tests.
 *
 * Preloaded (LD_PRELOAD), the library presents FTDI chips to libusb -- and so to FTDI's own
 * D2XX driver -- at /dev/bus/usb/001/002 onwards, each in front of a simulated module. The chips
 * present when the process starts are named by $KORVELAN380_EMULATED_CHIPS, items separated by
 * commas (default "0"), each ID[:KIND][:blank]:
 *   ID     the deviceId: chip "7" has the serial number KORVELAN3807 (at most 8 characters);
 *   KIND   ft232h (the default: the module's chip, high speed, with a 128-word 93C56 EEPROM),
 *          ft232h-93c66 (the same with a 256-word 93C66) or ft232r (full speed, 64-byte
 *          packets, its internal EEPROM);
 *   blank  the EEPROM's user area as FTDI's tools leave it (zeros), rather than holding the ideal
 *          calibration record (which an FT232R's user area is too small for).
 * For example KORVELAN380_EMULATED_CHIPS=7,8:ft232r. A process that links the library gets the
 * same chips without preloading it. With $KORVELAN380_EMULATED_EEPROMS naming a folder, each
 * chip's EEPROM is kept there (SERIAL.eeprom) and outlives the process, as a real chip's does
 * from one program to the next.
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
/* Plugs in one more chip, named as an item of $KORVELAN380_EMULATED_CHIPS ("8:ft232r"); 0, or -1
 * when the item is malformed or that deviceId present. Only before FTDI's driver is loaded: its
 * libusb lists the devices once, at its start, and later only hears of new ones from the
 * kernel's hotplug events, which are not emulated. */
KFT_API int kft_attach(const char* item);
/* Unplugs the chip: its open node fails as a removed device's does (pending and new requests
 * end with ENODEV, completed ones can still be reaped) and opening it fails with ENODEV, as in
 * the moment before udev removes the node. Plugging it in again puts it at the same bus position
 * (the driver's libusb, which lists devices once, still knows it there), its module as at
 * power-up and its latency timer at 16 ms, its EEPROM as it was. 0, or -1 for an unknown chip or
 * one already so. */
KFT_API int kft_unplug(const char* device_id);
KFT_API int kft_plug(const char* device_id);
/* Whether libusb holds the chip's node open. */
KFT_API int kft_is_open(const char* device_id);

/* The module behind the chip: its registers and the waveform samples it received. */
KFT_API uint8_t kft_register(const char* device_id, uint8_t reg);
KFT_API void kft_set_register(const char* device_id, uint8_t reg, uint8_t value);
KFT_API uint32_t kft_register_writes(const char* device_id, uint8_t reg);
KFT_API size_t kft_stream_samples(const char* device_id, uint8_t channel, uint16_t* out,
                                  size_t capacity);
/* The module swallows the replies to its next `count` read frames. */
KFT_API void kft_withhold_replies(const char* device_id, uint32_t count);
/* The volts channel 0 or 1 puts out, and the converter's gain error (relative) and offset error
 * (in codes) of a channel and range (0 to 6), as ksim_measure and ksim_set_output_error of the
 * simulated module (sim/include/korvelan380_sim.h) have them: the same model, the same errors
 * for a serial number. They are the part's own: a replug keeps them. 0, or -1 (nothing changed
 * or written) for an unknown chip, a channel above 1, a range above 6, a value that is not
 * finite or a null pointer. */
KFT_API int kft_measure(const char* device_id, uint8_t channel, double* volts);
KFT_API int kft_set_output_error(const char* device_id, uint8_t channel, uint8_t range,
                                 double gain_error, double offset_error_codes);

/* The chip's EEPROM (words, little-endian in the part; 128 or 256 of them): copies up to
 * `capacity` words, returns how many the part holds. */
KFT_API size_t kft_eeprom(const char* device_id, uint16_t* out, size_t capacity);
/* The chip's latency timer in ms. */
KFT_API int kft_latency_timer(const char* device_id);
/* How many FTDI vendor requests with this bRequest the chip has answered. */
KFT_API uint32_t kft_vendor_requests(const char* device_id, uint8_t request);

#ifdef __cplusplus
}
#endif

#endif /* KORVELAN380_FTDI_CHIPS_H */
