#include <cstdio>
#include <cstdlib>

#include "FuzzInput.h"

void FuzzFail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::fflush(stderr);
  std::abort();
}
