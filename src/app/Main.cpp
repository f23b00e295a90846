// Harrowlight: a terminal camera controller for the Raspberry Pi.
#include "app/MainLoop.h"

int main(int argc, char** argv) {
  return RunHarrowlight(argc, argv);
}
