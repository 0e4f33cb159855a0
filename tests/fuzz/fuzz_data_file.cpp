// libFuzzer entry for the data file harness.
#include "fuzz/harnesses.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ensureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzDataFile(data, size); }
