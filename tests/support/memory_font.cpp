#include "support/memory_font.h"

#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int memoryFile()
{
    static const int descriptor = memfd_create("brassel_font", 0);
    return descriptor;
}

} // namespace

bool writeMemoryFont(const uint8_t* data, size_t size)
{
    const int descriptor = memoryFile();
    return descriptor >= 0 && ftruncate(descriptor, 0) == 0 && pwrite(descriptor, data, size, 0) == ssize_t(size);
}

const char* memoryFontPath()
{
    static const std::string path = "/proc/self/fd/" + std::to_string(memoryFile());
    return path.c_str();
}
