// One libFuzzer program per target: ZAMBLOK_FUZZ_TARGET names the target.
#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Run(ZAMBLOK_FUZZ_TARGET, data, size);
    return 0;
}
