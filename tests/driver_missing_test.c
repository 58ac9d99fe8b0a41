/* Connect when libftd2xx.so cannot be bound (none on the search path, or one lacking a
 * function): 4, and no entry is left behind. Written in C, which also checks that the public
 * header compiles as C. */
#include <stdio.h>

#include "korvelan380.h"

static int failures = 0;

static void Expect(StatusCode got, StatusCode want, const char* what) {
  if (got != want) {
    fprintf(stderr, "%s: got %u, want %u\n", what, (unsigned)got, (unsigned)want);
    ++failures;
  }
}

int main(void) {
  Expect(KORVELAN380_Connect("7"), KORVELAN380_OPEN_FAILED, "connect");
  Expect(KORVELAN380_Connect("7"), KORVELAN380_OPEN_FAILED, "connect again (no entry left)");
  Expect(KORVELAN380_DisConnect("7"), KORVELAN380_NOT_CONNECTED, "disconnect");
  Expect(KORVELAN380_Connect("123456789"), KORVELAN380_INVALID_ARGUMENT, "long identifier");
  return failures == 0 ? 0 : 1;
}
