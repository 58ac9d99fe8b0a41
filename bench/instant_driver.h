/* What the driver that answers at once has seen, so that a benchmark can turn its calls into
 * bus time: each register frame goes out in one FT_Write, and each "R" frame asks for one
 * reply. */
#ifndef KORVELAN380_BENCH_INSTANT_DRIVER_H
#define KORVELAN380_BENCH_INSTANT_DRIVER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

uint64_t instant_driver_frames_written(void);
uint64_t instant_driver_replies_asked(void);

#ifdef __cplusplus
}
#endif

#endif /* KORVELAN380_BENCH_INSTANT_DRIVER_H */
