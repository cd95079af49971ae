// libFuzzer target: arbitrary bytes as a table file, through the reader, the splitter and the checker.

#include "fuzz/tableinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!runTableInput(data, size))
        __builtin_trap();
    return 0;
}
