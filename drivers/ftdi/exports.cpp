// The D2XX functions, each on the handle's open chip: argument checks, then the chip's step.
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "d2xx.h"
#include "device.h"

extern "C" {
#define D2XX_FUNCTION(name, ordinal, params, args) \
  __attribute__((visibility("default"))) FT_STATUS name params;
#include "d2xx_functions.inc"
#undef D2XX_FUNCTION
}

namespace {

using korvelan380::ftdi::Device;

// The open handles. A call holds its chip while it runs, so that a close from another thread
// (which wakes a waiting read) frees the chip only when the last call on it has returned.
struct Handles {
  std::mutex mu;
  std::map<FT_HANDLE, std::shared_ptr<Device>> open;
};

// Never destroyed: a program may close its handles from its own static destructors.
Handles& TheHandles() {
  static auto* handles = new Handles;
  return *handles;
}

std::shared_ptr<Device> Find(FT_HANDLE handle) {
  Handles& handles = TheHandles();
  std::lock_guard<std::mutex> lock(handles.mu);
  const auto it = handles.open.find(handle);
  return it != handles.open.end() ? it->second : nullptr;
}

// Runs `step` on the handle's chip; no exception crosses the C boundary.
template <typename Step>
FT_STATUS OnDevice(FT_HANDLE handle, Step&& step) {
  try {
    const std::shared_ptr<Device> device = Find(handle);
    if (device == nullptr) return FT_INVALID_HANDLE;
    return step(*device);
  } catch (const std::bad_alloc&) {
    return FT_INSUFFICIENT_RESOURCES;
  }
}

}  // namespace

extern "C" {

FT_STATUS FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  if (arg == nullptr || handle == nullptr) return FT_INVALID_PARAMETER;
  if (flags != FT_OPEN_BY_SERIAL_NUMBER) return FT_NOT_SUPPORTED;
  try {
    std::shared_ptr<Device> device;
    const FT_STATUS status = Device::Open(static_cast<const char*>(arg), device);
    if (status != FT_OK) return status;
    Handles& handles = TheHandles();
    std::lock_guard<std::mutex> lock(handles.mu);
    handles.open[device.get()] = device;
    *handle = device.get();
    return FT_OK;
  } catch (const std::exception&) {  // no memory, or no thread for the reader
    return FT_INSUFFICIENT_RESOURCES;
  }
}

FT_STATUS FT_Close(FT_HANDLE handle) {
  std::shared_ptr<Device> device;
  {
    Handles& handles = TheHandles();
    std::lock_guard<std::mutex> lock(handles.mu);
    const auto it = handles.open.find(handle);
    if (it == handles.open.end()) return FT_INVALID_HANDLE;
    device = std::move(it->second);
    handles.open.erase(it);
  }
  device->Closing();
  return FT_OK;  // the reader stops and the chip closes as `device` goes, unless a call holds it
}

FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, DWORD toRead, DWORD* bytesRead) {
  if (bytesRead == nullptr || (buffer == nullptr && toRead > 0)) return FT_INVALID_PARAMETER;
  return OnDevice(
      handle, [&](Device& d) { return d.Read(static_cast<uint8_t*>(buffer), toRead, bytesRead); });
}

FT_STATUS FT_Write(FT_HANDLE handle, void* buffer, DWORD toWrite, DWORD* written) {
  if (written == nullptr || (buffer == nullptr && toWrite > 0)) return FT_INVALID_PARAMETER;
  return OnDevice(handle, [&](Device& d) {
    return d.Write(static_cast<const uint8_t*>(buffer), toWrite, written);
  });
}

FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) {
  return OnDevice(handle, [&](Device& d) { return d.Purge(mask); });
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, DWORD* rxBytes) {
  if (rxBytes == nullptr) return FT_INVALID_PARAMETER;
  return OnDevice(handle, [&](Device& d) { return d.QueueStatus(rxBytes); });
}

// Writes complete before FT_Write returns, so nothing waits to be sent; no events are kept.
FT_STATUS FT_GetStatus(FT_HANDLE handle, DWORD* rxBytes, DWORD* txBytes, DWORD* eventWord) {
  if (rxBytes == nullptr || txBytes == nullptr || eventWord == nullptr) {
    return FT_INVALID_PARAMETER;
  }
  return OnDevice(handle, [&](Device& d) {
    const FT_STATUS status = d.QueueStatus(rxBytes);
    if (status == FT_OK) *txBytes = *eventWord = 0;
    return status;
  });
}

FT_STATUS FT_EE_UASize(FT_HANDLE handle, DWORD* size) {
  if (size == nullptr) return FT_INVALID_PARAMETER;
  return OnDevice(handle, [&](Device& d) { return d.UserAreaSize(size); });
}

FT_STATUS FT_EE_UARead(FT_HANDLE handle, unsigned char* data, DWORD length, DWORD* bytesRead) {
  if (bytesRead == nullptr || (data == nullptr && length > 0)) return FT_INVALID_PARAMETER;
  return OnDevice(handle, [&](Device& d) { return d.ReadUserArea(data, length, bytesRead); });
}

FT_STATUS FT_EE_UAWrite(FT_HANDLE handle, unsigned char* data, DWORD length) {
  if (data == nullptr && length > 0) return FT_INVALID_PARAMETER;
  return OnDevice(handle, [&](Device& d) { return d.WriteUserArea(data, length); });
}

FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readTimeoutMs, DWORD writeTimeoutMs) {
  return OnDevice(handle, [&](Device& d) { return d.SetTimeouts(readTimeoutMs, writeTimeoutMs); });
}

FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, UCHAR milliseconds) {
  return OnDevice(handle, [&](Device& d) { return d.SetLatencyTimer(milliseconds); });
}

}  // extern "C"
