// A driver with only the ten functions every D2XX driver has, without FT_SetTimeouts and
// FT_SetLatencyTimer: the library still uses it, with the calls it always made, and polls for
// replies. The stub driver stands in for it (tests/support), loaded first under its soname.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "d2xx.h"
#include "korvelan380.h"
#include "stub_driver.h"

namespace {

std::vector<int> DriverCalls() {
  uint8_t numbers[256];
  const size_t count = stub_driver_calls(numbers, sizeof numbers);
  return std::vector<int>(numbers, numbers + (count < sizeof numbers ? count : sizeof numbers));
}

TEST(TenFunctionDriver, ConnectsReadsAndClosesWithTheCallsOfOld) {
  // Asked for, and nothing to set it with: the connect goes on.
  setenv("KORVELAN380_LATENCY_MS", "2", 1);
  ASSERT_EQ(KORVELAN380_Connect("7"), KORVELAN380_OK);
  uint8_t range = 0;
  EXPECT_EQ(KORVELAN380_RangeSet_R("7", 0, &range), KORVELAN380_OK);
  EXPECT_EQ(range, 1);  // the stub's value for every register
  EXPECT_EQ(KORVELAN380_LatencySet("7", 2), KORVELAN380_OPEN_FAILED);
  EXPECT_EQ(KORVELAN380_DisConnect("7"), KORVELAN380_OK);
  // Open, purge, the calibration record, the initialised flag (set: nothing to initialise), the
  // range, and the close.
  EXPECT_EQ(DriverCalls(), (std::vector<int>{D2XX_FT_OpenEx, D2XX_FT_Purge, D2XX_FT_EE_UASize,
                                             D2XX_FT_EE_UARead, D2XX_FT_Write, D2XX_FT_Read,
                                             D2XX_FT_Write, D2XX_FT_Read, D2XX_FT_Close}));
}

}  // namespace
