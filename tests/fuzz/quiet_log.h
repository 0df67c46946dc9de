#pragma once

// Fuzz inputs make the parsers log on nearly every run; the lines go nowhere instead of next to the
// fuzzer's executable.

#include "core/log.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    morvale::SetLogFilePath("/dev/null");
    return 0;
}
