// The libFuzzer entry of one target: FUZZ_BODY names its body (targets.h).
#include "fuzz/targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FUZZ_BODY(data, size); }
