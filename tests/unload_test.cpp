// Unloading the library with modules connected closes each of them exactly once and empties
// the table: loaded again, the library connects them afresh.
#include <dlfcn.h>

#include <cstdio>

#include "korvelan380.h"
#include "korvelan380_sim.hpp"

namespace sim = korvelan380::sim;

namespace {

int failures = 0;

void Expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    ++failures;
  }
}

using ConnectFn = StatusCode (*)(const char*);

ConnectFn Load(void*& library) {
  library = dlopen(KORVELAN380_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "dlopen: %s\n", dlerror());
    return nullptr;
  }
  return reinterpret_cast<ConnectFn>(dlsym(library, "KORVELAN380_Connect"));
}

size_t Closes(const std::string& serial) {
  size_t closes = 0;
  for (const sim::Call& call : sim::Trace(serial)) closes += call.fn == sim::Fn::Close;
  return closes;
}

}  // namespace

int main() {
  const char* ids[] = {"1", "2", "3"};
  for (const char* id : ids) sim::Attach(sim::SerialOf(id));

  void* library = nullptr;
  ConnectFn connect = Load(library);
  if (connect == nullptr) return 1;
  for (const char* id : ids) Expect(connect(id) == KORVELAN380_OK, "connect");
  Expect(connect("1") == KORVELAN380_ALREADY_CONNECTED, "second connect refused");
  dlclose(library);

  for (const char* id : ids) {
    Expect(!sim::IsOpen(sim::SerialOf(id)), "module closed by the unload");
    Expect(Closes(sim::SerialOf(id)) == 1, "closed exactly once");
  }

  connect = Load(library);
  if (connect == nullptr) return 1;
  for (const char* id : ids) Expect(connect(id) == KORVELAN380_OK, "connect after reload");
  dlclose(library);
  for (const char* id : ids) Expect(Closes(sim::SerialOf(id)) == 2, "closed again");
  return failures == 0 ? 0 : 1;
}
