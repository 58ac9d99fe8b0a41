// A channel's range, output and configuration, as the command line and the panel both read and
// write them.
#ifndef KORVELAN380_TOOL_ACTIONS_CHANNEL_H
#define KORVELAN380_TOOL_ACTIONS_CHANNEL_H

#include <cstdint>

#include "app/session.h"
#include "core/values.h"

namespace korvelan380::tool {

// Channel 0's or 1's range register.
uint8_t ReadRange(Session& s, uint8_t channel);
// The channel's range, for volts; a register that reads no range is an error that says to
// select one. `indexOut`, when given, receives the register's value.
const Range& ChannelRange(Session& s, uint8_t channel, uint8_t* indexOut = nullptr);

// {"index", "name"}; the name is null for a value that is no range.
ordered_json RangeJson(unsigned index);

// Sets the output: volts as the nearest raw value of the channel's range (outside it, a usage
// error before anything is written), a raw value, or a code as given. Returns what was asked:
// {"volts", "raw"}, {"raw"} or {"code"}.
ordered_json SetOutput(Session& s, uint8_t channel, const OutputValue& value);
// The output as the module reports it: its code, and the raw value and volts the code stands for
// in the channel's range (null when it stands for none).
ordered_json ReadOutput(Session& s, uint8_t channel);

// Writes the configuration. A combination the library refuses for the mode (it sends nothing)
// is its status error, with what each mode takes as the hint.
void ConfigureChannel(Session& s, uint8_t channel, const DacChannelSettings& settings);
// The configuration as the module reports it, the preset in raw value and volts (null when the
// preset code stands for no raw value).
ordered_json ReadChannelSettings(Session& s, uint8_t channel);
// The fields as written, for a report.
ordered_json SettingsJson(const DacChannelSettings& settings);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_ACTIONS_CHANNEL_H
