// Fuzzes the calibration record as read from the EEPROM user area, and everything that then
// uses it: the copies returned, the conversions, the range setting and the stored record.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "korvelan380.h"
#include "stub_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The user area is the fuzzer's bytes; the module reports itself initialised, with range 0.
  static const uint8_t replies[] = {0x02, 'R', 0x01, 0x03};
  stub_driver_script(replies, sizeof replies, nullptr, 0, data, size);
  if (KORVELAN380_Connect("cal") != KORVELAN380_OK) __builtin_trap();

  CalibrationOffsets offsets;
  CalibrationGains gains;
  if (KORVELAN380_Calib_Val_Get("cal", &offsets, &gains) != KORVELAN380_OK) __builtin_trap();
  // A record with the marker is taken as it is; anything else leaves the default.
  const bool record = size >= 88 && data[0] == 0x55;
  if (record && (std::memcmp(&gains, data + 4, 56) != 0 || std::memcmp(&offsets, data + 60, 28))) {
    __builtin_trap();
  }
  for (uint8_t channel = 0; channel < 2; ++channel) {
    for (uint8_t range = 0; range < 7; ++range) {
      for (uint16_t value : {0, 1, 0x1FFF, 0x2000, 0x3FFF, 0xFFFF}) {
        uint16_t code = 0, raw = 0xFFFF;
        if (KORVELANGetCalibedVal("cal", channel, range, value, &code) != KORVELAN380_OK) {
          __builtin_trap();
        }
        const StatusCode back = KORVELANGetRawValFromCalibed("cal", channel, range, code, &raw);
        if (back == KORVELAN380_OK && raw > 0x3FFF) __builtin_trap();
        if (back != KORVELAN380_OK && back != KORVELAN380_INVALID_ARGUMENT) __builtin_trap();
      }
    }
  }
  // The range setting reads the record's gain and offset; no reply is needed for writes.
  KORVELAN380_RangeSet("cal", 2, 6);
  KORVELAN380_Calib_Val_Set("cal", &offsets, &gains, 1);
  KORVELAN380_DisConnect("cal");
  return 0;
}
