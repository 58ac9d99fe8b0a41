// Capture and replay in the tool: --capture puts the recording shim in front of the driver,
// --replay has the simulated module answer from a capture.
#ifndef KORVELAN380_TOOL_CAPTURE_SESSION_H
#define KORVELAN380_TOOL_CAPTURE_SESSION_H

#include <string>
#include <vector>

#include "app/simulator.h"
#include "app/tool.h"

namespace korvelan380::tool {

// Where the recording shim is looked for: $KORVELAN380_CAPTURE_LIBRARY (only it); in an
// installation <libdir>/korvelan380/capture/libftd2xx.so relative to the tool's folder; beside
// the tool in the build tree (../../capture/libftd2xx.so); the build tree it was built in. On
// Windows ..\capture\FTD2XX.dll from the tool's folder, in the ZIP as in the build tree.
std::vector<std::string> CaptureLibraryCandidates();

// With --capture: loads the shim before anything else offers libftd2xx.so (FTD2XX.dll), so that
// the library binds it; with --sim it forwards to the simulated module. Does nothing without
// --capture.
void StartCapture(const Options& options);
// The shim StartCapture loaded, or null.
void* CaptureShim();
// With --replay: the simulated module answers from the capture from now on.
void StartReplay(const Options& options, Simulator& sim);
// Throws the replay's first departure from the capture, if there is one; `atEnd` counts recorded
// calls never made as one.
void CheckReplay(bool atEnd);

}  // namespace korvelan380::tool

#endif  // KORVELAN380_TOOL_CAPTURE_SESSION_H
