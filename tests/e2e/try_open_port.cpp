// Tries to take a port with the serial channel: exit 0 when it was opened,
// 3 when it was refused, 2 on bad usage.
#include "core/link/scommx.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  qmx::SCommX channel;
  channel.portName = argv[1];
  return channel.Open() ? 0 : 3;
}
