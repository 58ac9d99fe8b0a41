/* Backs a module's calibration up to a file, and restores it from one.
 *
 *   calibration_backup [--sim] [deviceId] backup FILE
 *   calibration_backup [--sim] [deviceId] restore FILE
 *
 * The file holds the 14 entries (channel * 7 + range), one a line: entry, offset, gain. Gains
 * are written with nine significant digits, which give every finite float back exactly. A
 * restore replaces the module's working calibration, stores it in the EEPROM, and reads it
 * back to check. */
#include <stdio.h>
#include <string.h>

#include "example_support.h"
#include "korvelan380.h"

static int Backup(const char* id, const char* path) {
  CalibrationOffsets offsets;
  CalibrationGains gains;
  const StatusCode status = KORVELAN380_Calib_Val_Get(id, &offsets, &gains);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Calib_Val_Get", status);
  FILE* file = fopen(path, "w");
  if (file == NULL) {
    perror(path);
    return 1;
  }
  fprintf(file, "# entry offset gain\n");
  for (int i = 0; i < KORVELAN380_CALIBRATION_ENTRIES; ++i) {
    fprintf(file, "%d %u %.9g\n", i, (unsigned)offsets.offset[i], (double)gains.gain[i]);
  }
  if (fclose(file) != 0) {
    perror(path);
    return 1;
  }
  printf("backed up %d calibration entries to %s\n", KORVELAN380_CALIBRATION_ENTRIES, path);
  return 0;
}

/* Reads the 14 entries; returns 0, or prints what is wrong and returns 1. */
static int ReadBackup(const char* path, CalibrationOffsets* offsets, CalibrationGains* gains) {
  FILE* file = fopen(path, "r");
  if (file == NULL) {
    perror(path);
    return 1;
  }
  char line[128];
  int entries = 0;
  while (fgets(line, sizeof line, file) != NULL) {
    int entry;
    unsigned offset;
    float gain;
    if (line[0] == '#' || line[0] == '\n') continue;
    if (sscanf(line, "%d %u %g", &entry, &offset, &gain) != 3 || entry != entries ||
        entry >= KORVELAN380_CALIBRATION_ENTRIES || offset > 0xFFFF) {
      fprintf(stderr, "%s: not a calibration backup (at entry %d)\n", path, entries);
      fclose(file);
      return 1;
    }
    offsets->offset[entry] = (uint16_t)offset;
    gains->gain[entry] = gain;
    ++entries;
  }
  fclose(file);
  if (entries != KORVELAN380_CALIBRATION_ENTRIES) {
    fprintf(stderr, "%s: %d entries, not %d\n", path, entries, KORVELAN380_CALIBRATION_ENTRIES);
    return 1;
  }
  return 0;
}

static int Restore(const char* id, const char* path) {
  CalibrationOffsets offsets;
  CalibrationGains gains;
  if (ReadBackup(path, &offsets, &gains) != 0) return 1;
  /* save 1: also into the EEPROM, where the next connect finds it (a store is made only when
   * the values differ from those the EEPROM held at connect). */
  StatusCode status = KORVELAN380_Calib_Val_Set(id, &offsets, &gains, 1);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Calib_Val_Set", status);
  CalibrationOffsets offsetsNow;
  CalibrationGains gainsNow;
  status = KORVELAN380_Calib_Val_Get(id, &offsetsNow, &gainsNow);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Calib_Val_Get", status);
  if (memcmp(&offsets, &offsetsNow, sizeof offsets) != 0 ||
      memcmp(&gains, &gainsNow, sizeof gains) != 0) {
    fprintf(stderr, "the module's calibration differs from %s after the restore\n", path);
    return 1;
  }
  printf("restored %d calibration entries from %s; the EEPROM holds them\n",
         KORVELAN380_CALIBRATION_ENTRIES, path);
  return 0;
}

int main(int argc, char** argv) {
  const int sim = TakeSimOption(&argc, argv);
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: %s [--sim] [deviceId] backup|restore FILE\n", argv[0]);
    return 2;
  }
  const char* id = argc == 4 ? argv[1] : "0";
  const char* action = argv[argc - 2];
  const char* path = argv[argc - 1];
  if (strcmp(action, "backup") != 0 && strcmp(action, "restore") != 0) {
    fprintf(stderr, "%s: backup or restore, not %s\n", argv[0], action);
    return 2;
  }
  if (sim && UseSimulatedModule(id) != 0) return 1;

  const StatusCode status = KORVELAN380_Connect(id);
  if (status != KORVELAN380_OK) return ReportFailure("KORVELAN380_Connect", status);
  const int failed = strcmp(action, "backup") == 0 ? Backup(id, path) : Restore(id, path);
  KORVELAN380_DisConnect(id);
  return failed;
}
