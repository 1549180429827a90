// One libFuzzer target: FUZZ_TARGET names the entry of FuzzTargets it runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzEntries.h"
#include "ProgramFolder.h"

namespace {
const TFuzzTarget *Target = nullptr;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    for (size_t i = 0; i < FuzzTargetCount; ++i)
        if (std::strcmp(FuzzTargets[i].Name, FUZZ_TARGET) == 0) Target = &FuzzTargets[i];
    if (!Target || !FuzzLoadLibraries(DefaultLibraryFolder())) {
        std::fprintf(stderr, "fuzz target %s cannot start\n", FUZZ_TARGET);
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Target->Run(data, size);
    return 0;
}
