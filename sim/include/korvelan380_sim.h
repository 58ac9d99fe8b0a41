/* C layer over the simulated module's control interface (korvelan380_sim.hpp), for C programs
 * and for Python through ctypes. Serial numbers are full USB serials ("KORVELAN3807").
 * Functions returning int return 1 for success/true and 0 for failure/false, except those of the
 * outputs (ksim_measure, ksim_set_output_error, ksim_output_error), which return 0 for success
 * and -1 for failure, as the emulated chips' kft_ functions do. */
#ifndef KORVELAN380_SIM_H
#define KORVELAN380_SIM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KSIM_API __declspec(dllexport)
#else
#define KSIM_API __attribute__((visibility("default")))
#endif

/* Function numbers, as in the C++ enum Fn; KSIM_FN_ANY counts every function. */
enum {
  KSIM_FN_OPEN_EX = 0,
  KSIM_FN_CLOSE,
  KSIM_FN_READ,
  KSIM_FN_WRITE,
  KSIM_FN_PURGE,
  KSIM_FN_GET_QUEUE_STATUS,
  KSIM_FN_GET_STATUS,
  KSIM_FN_EE_UA_SIZE,
  KSIM_FN_EE_UA_READ,
  KSIM_FN_EE_UA_WRITE,
  KSIM_FN_SET_TIMEOUTS,
  KSIM_FN_SET_LATENCY_TIMER,
  KSIM_FN_ANY
};

KSIM_API void ksim_reset(void);
KSIM_API int ksim_attach(const char* serial, size_t eeprom_size);
KSIM_API int ksim_detach(const char* serial);
KSIM_API int ksim_is_attached(const char* serial);
KSIM_API int ksim_is_open(const char* serial);

KSIM_API void ksim_set_register(const char* serial, uint8_t reg, uint8_t value);
KSIM_API uint8_t ksim_register(const char* serial, uint8_t reg);
/* Copies all 256 registers into out. */
KSIM_API void ksim_registers(const char* serial, uint8_t out[256]);

KSIM_API void ksim_set_eeprom(const char* serial, const uint8_t* data, size_t length);
/* Copies up to capacity bytes of the user area into out; returns the user area's size. */
KSIM_API size_t ksim_eeprom(const char* serial, uint8_t* out, size_t capacity);
KSIM_API void ksim_set_ideal_calibration(const char* serial);

/* Copies up to capacity samples of the channel's last stream; returns the number of samples. */
KSIM_API size_t ksim_stream_samples(const char* serial, uint8_t channel, uint16_t* out,
                                    size_t capacity);
KSIM_API uint32_t ksim_stream_count(const char* serial, uint8_t channel);

/* A module's saved state (the bytes of EncodeState in korvelan380_sim.hpp): copies them into
 * out when capacity is enough (nothing otherwise) and returns their length. */
KSIM_API size_t ksim_export_state(const char* serial, uint8_t* out, size_t capacity);
/* Restores a module from such bytes; returns 0 and changes nothing when they are malformed. */
KSIM_API int ksim_import_state(const char* serial, const uint8_t* data, size_t length);

/* The outputs, as Measure, SetOutputError and OutputError in korvelan380_sim.hpp: the volts channel
 * 0 or 1 puts out now, and the converter's gain error (relative) and offset error (in codes) of
 * a channel and range (0 to 6). -1, with nothing changed or written, for an unknown module, a
 * channel above 1, a range above 6, a value that is not finite or a null pointer. */
KSIM_API int ksim_measure(const char* serial, uint8_t channel, double* volts);
KSIM_API int ksim_set_output_error(const char* serial, uint8_t channel, uint8_t range,
                                   double gain_error, double offset_error_codes);
KSIM_API int ksim_output_error(const char* serial, uint8_t channel, uint8_t range,
                               double* gain_error, double* offset_error_codes);

KSIM_API size_t ksim_pending_receive(const char* serial);
KSIM_API void ksim_queue_receive(const char* serial, const uint8_t* data, size_t length);

KSIM_API void ksim_fail_call(const char* serial, int fn, uint32_t nth, uint32_t status);
KSIM_API void ksim_set_read_chunk(const char* serial, uint32_t max_bytes_per_read);
KSIM_API void ksim_withhold_replies(const char* serial, uint32_t count);
KSIM_API void ksim_cut_next_reply(const char* serial, uint32_t keep_bytes);
KSIM_API void ksim_corrupt_next_reply(const char* serial, uint32_t record);
KSIM_API void ksim_add_surplus_to_next_reply(const char* serial, const uint8_t* data,
                                             size_t length);
KSIM_API void ksim_set_transmit_busy(const char* serial, uint32_t calls);
/* Reply latency and read timeout, as SetReplyLatency and SetReadTimeout in korvelan380_sim.hpp. */
KSIM_API void ksim_set_reply_latency_us(const char* serial, uint32_t microseconds);
KSIM_API void ksim_set_read_timeout_ms(const char* serial, uint32_t milliseconds);

/* The trace: a snapshot is taken by ksim_trace_count (serial NULL for all modules); the
 * other trace functions read entry `index` of that snapshot. */
KSIM_API size_t ksim_trace_count(const char* serial);
KSIM_API int ksim_trace_fn(size_t index);
KSIM_API uint32_t ksim_trace_arg(size_t index);
KSIM_API uint32_t ksim_trace_status(size_t index);
/* Copies the serial (NUL-terminated, truncated to capacity) and returns its length. */
KSIM_API size_t ksim_trace_serial(size_t index, char* out, size_t capacity);
/* Copies up to capacity data bytes and returns the entry's data length. */
KSIM_API size_t ksim_trace_data(size_t index, uint8_t* out, size_t capacity);
KSIM_API void ksim_clear_trace(void);
KSIM_API void ksim_set_tracing(int on);
KSIM_API const char* ksim_fn_name(int fn);

#ifdef __cplusplus
}
#endif

#endif /* KORVELAN380_SIM_H */
