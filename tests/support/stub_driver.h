/* A libftd2xx.so that stands in for the driver where the simulated module would be in the way:
 * benchmarks that must measure the library alone, fuzzers that script every byte, and tests of
 * a driver that is not the simulated module. Built from stub_driver.c as several targets (see
 * this folder's CMakeLists.txt). By default it answers at once: every write is taken, each "R"
 * frame is answered with records of value 1 (a valid range, an initialised module), and the
 * EEPROM user area holds a calibration record with every gain 1/1024 and offset 0x2000. */
#ifndef KORVELAN380_TESTS_STUB_DRIVER_H
#define KORVELAN380_TESTS_STUB_DRIVER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* From now on FT_Read hands out `reply` in pieces of the sizes in `pieces` (then as much as is
 * asked for), and fails at once when it runs out, so that no call waits out a reply poll; the
 * user area is `eeprom`. Writes are taken and dropped. The bytes must outlive their use. */
void stub_driver_script(const uint8_t* reply, size_t replySize, const uint8_t* pieces,
                        size_t pieceCount, const uint8_t* eeprom, size_t eepromSize);

/* What the driver has seen since it was loaded, so that a benchmark can turn its calls into bus
 * time: each register frame goes out in one FT_Write, and each "R" frame asks for one reply.
 * Counted without locks: only single-threaded benchmarks read them. */
uint64_t stub_driver_frames_written(void);
uint64_t stub_driver_replies_asked(void);

/* The driver functions called since the driver was loaded, by their number in the list
 * (D2XX_FT_OpenEx is 0): copies up to `capacity` of the first 256 into `out` and returns how
 * many calls there were in all. */
size_t stub_driver_calls(uint8_t* out, size_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* KORVELAN380_TESTS_STUB_DRIVER_H */
