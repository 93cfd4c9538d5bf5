/* Reads a range of a part and prints it as a hex dump.
 * usage: read_part DEVICE START LENGTH [FAMILY [VARIANT [WRITE_MS [SUPPLY_FLAG]]]] */
#include <stdio.h>
#include <stdlib.h>

#include "qmx71a.h"

static long Arg(int argc, char** argv, int i, long fallback) {
  return i < argc ? strtol(argv[i], NULL, 0) : fallback;
}

int main(int argc, char** argv) {
  const int32_t device = (int32_t)Arg(argc, argv, 1, 1);
  const int32_t start = (int32_t)Arg(argc, argv, 2, 0);
  const int32_t length = (int32_t)Arg(argc, argv, 3, 128);
  const int32_t family = (int32_t)Arg(argc, argv, 4, 0);
  const int32_t variant = (int32_t)Arg(argc, argv, 5, 0);
  const int32_t writeMs = (int32_t)Arg(argc, argv, 6, 50);
  const int32_t supply = (int32_t)Arg(argc, argv, 7, 0);
  unsigned char* buffer;
  int32_t i;

  if (length <= 0) {
    fprintf(stderr, "length must be positive\n");
    return 2;
  }
  buffer = malloc((size_t)length);
  if (buffer == NULL) return 2;
  if (!QmxOpen(family, variant, writeMs, supply)) {
    fprintf(stderr, "programmer not connected or family refused\n");
    QmxClose();
    free(buffer);
    return 1;
  }
  if (!QmxRead(device, start, buffer, length, 0)) {
    fprintf(stderr, "read failed\n");
    QmxClose();
    free(buffer);
    return 1;
  }
  for (i = 0; i < length; ++i) {
    if (i % 16 == 0) printf("%08lX:", (unsigned long)(start + i));
    printf(" %02X", buffer[i]);
    if (i % 16 == 15 || i == length - 1) printf("\n");
  }
  QmxClose();
  free(buffer);
  return 0;
}
