// Benchmark stand-in for the camera tools: does nothing but stay alive for the "-t"
// milliseconds it is given (0 or none: until killed), so the process query finds it.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  long Ms = 0;
  for (int I = 1; I + 1 < argc; ++I) {
    if (std::strcmp(argv[I], "-t") == 0) Ms = std::strtol(argv[I + 1], nullptr, 10);
  }
  if (Ms <= 0) {
    for (;;) pause();
  }
  timespec Left{Ms / 1000, (Ms % 1000) * 1000000L};
  while (nanosleep(&Left, &Left) != 0 && errno == EINTR) {
  }
  return 0;
}
