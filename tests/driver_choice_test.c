/* Which driver the library binds at its first connect, as KORVELAN380_DRIVER chooses (see the
 * tests' environments in CMakeLists.txt):
 *
 *   driver_choice_test STATUS LOADED NOT_LOADED
 *
 * connects module 7, expects the status STATUS, then checks that the library named LOADED is in
 * the process and NOT_LOADED is not ("-" for none). Exit status 77 (skipped) when the open
 * backend is named and was not built. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "korvelan380.h"

static int Loaded(const char* name) {
  void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
  if (library != NULL) dlclose(library);
  return library != NULL;
}

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  const char* loaded = argv[2];
  const char* notLoaded = argv[3];
  if ((strstr(loaded, "ftdi") != NULL || strstr(notLoaded, "ftdi") != NULL) &&
      !KORVELAN380_OPEN_DRIVER_BUILT) {
    printf("SKIPPED: the open backend was not built (libftdi1 is not installed)\n");
    return 77;
  }
  int failures = 0;
  const StatusCode status = KORVELAN380_Connect("7");
  if (status != (StatusCode)strtoul(argv[1], NULL, 10)) {
    fprintf(stderr, "connect: status %u, want %s\n", (unsigned)status, argv[1]);
    ++failures;
  }
  if (strcmp(loaded, "-") != 0 && !Loaded(loaded)) {
    fprintf(stderr, "%s was not loaded\n", loaded);
    ++failures;
  }
  if (strcmp(notLoaded, "-") != 0 && Loaded(notLoaded)) {
    fprintf(stderr, "%s was loaded\n", notLoaded);
    ++failures;
  }
  KORVELAN380_DisConnect("7");
  return failures == 0 ? 0 : 1;
}
