// libFuzzer target: arbitrary bytes as a table file, through the reader, the splitter and the checker;
// then as a file of a content directory, or a directory, an empty file, a file that vanishes while it
// is read, or none, opened by the library and checked by the checker, which must agree.

#include "fuzz/tableinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!runTableInput(data, size) || !runTableFileInput(data, size))
        __builtin_trap();
    return 0;
}
