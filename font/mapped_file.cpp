#include "font/mapped_file.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

void MappedFile::openFile(const char* path)
{
    *this = MappedFile();
    // Non-blocking, so that a FIFO carrying a font's name cannot stall the
    // caller in open; it is refused below like every other non-regular file.
    int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat status;
    // Lengths are signed 32-bit throughout the font code, so files of 2 GiB
    // or more are refused here rather than truncated.
    bool usable = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0
        && status.st_size <= INT32_MAX;
    void* address = MAP_FAILED;
    if (usable)
        address = ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_SHARED, fd, 0);
    ::close(fd);
    if (address == MAP_FAILED)
        return;
    cursor = viewBase = mapping = static_cast<const uint8_t*>(address);
    viewLength = int32_t(status.st_size);
}

void MappedFile::makeView(const MappedFile& owner, uint32_t offset, uint32_t length)
{
    cursor = viewBase = owner.viewBase + offset;
    mapping = owner.viewBase;
    viewLength = int32_t(length);
}

void MappedFile::release()
{
    if (mapping != nullptr && mapping == viewBase && viewLength > 0)
        ::munmap(const_cast<uint8_t*>(mapping), size_t(viewLength));
    *this = MappedFile();
}
