// The bench is all in its header; this unit makes the support library and
// checks that the header compiles on its own.
#include "FakeBench.h"
