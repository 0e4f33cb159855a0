// libFuzzer entry for the poll tick harness.
#include "fuzz/harnesses.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ensureFuzzApplication();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzPollTick(data, size); }
