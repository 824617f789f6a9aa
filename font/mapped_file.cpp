#include "font/mapped_file.h"

#include <csignal>
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
    guardMapping(mapping, size_t(viewLength));
}

void MappedFile::makeView(const MappedFile& owner, uint32_t offset, uint32_t length)
{
    cursor = viewBase = owner.viewBase + offset;
    mapping = owner.viewBase;
    viewLength = int32_t(length);
}

void MappedFile::release()
{
    if (mapping != nullptr && mapping == viewBase && viewLength > 0) {
        unguardMapping(mapping);
        ::munmap(const_cast<uint8_t*>(mapping), size_t(viewLength));
    }
    *this = MappedFile();
}

namespace {

struct GuardedMapping {
    uintptr_t start; // 0: free entry
    uintptr_t end;   // the end of the mapping's last page
    volatile sig_atomic_t faulted;
};

// A serving process maps at most its 256 open fonts, the two database files
// and the font a synchronisation is reading.
constexpr int GUARDED_MAPPINGS = 1024;
GuardedMapping guarded[GUARDED_MAPPINGS];
volatile sig_atomic_t faultPending = 0;
uintptr_t pageSize = 4096;

GuardedMapping* findGuarded(uintptr_t address)
{
    for (GuardedMapping& entry : guarded)
        if (entry.start != 0 && address >= entry.start && address < entry.end)
            return &entry;
    return nullptr;
}

void onBusError(int, siginfo_t* info, void*)
{
    const uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
    if (GuardedMapping* entry = findGuarded(address)) {
        // From the faulting page to the end: the file shrank, so every
        // later page is gone too.
        const uintptr_t page = address & ~(pageSize - 1);
        void* zeros = ::mmap(reinterpret_cast<void*>(page), entry->end - page, PROT_READ,
                             MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (zeros != MAP_FAILED) {
            entry->faulted = 1;
            faultPending = 1;
            return;
        }
    }
    // Not a file the server reads: the faulting access repeats and ends
    // the process as it would have without this handler.
    ::signal(SIGBUS, SIG_DFL);
}

} // namespace

void installMappingGuard()
{
    pageSize = uintptr_t(::sysconf(_SC_PAGESIZE));
    struct sigaction action{};
    action.sa_sigaction = onBusError;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    ::sigaction(SIGBUS, &action, nullptr);
}

void guardMapping(const void* start, size_t length)
{
    const uintptr_t first = reinterpret_cast<uintptr_t>(start);
    const uintptr_t end = (first + length + pageSize - 1) & ~(pageSize - 1);
    // An entry left over from a mapping that went without unguardMapping
    // must not describe the new one's pages.
    for (GuardedMapping& entry : guarded)
        if (entry.start != 0 && entry.start < end && first < entry.end)
            entry.start = 0;
    for (GuardedMapping& entry : guarded)
        if (entry.start == 0) {
            entry.end = end;
            entry.faulted = 0;
            entry.start = first;
            return;
        }
}

void unguardMapping(const void* start)
{
    for (GuardedMapping& entry : guarded)
        if (entry.start == reinterpret_cast<uintptr_t>(start))
            entry.start = 0;
}

bool mappingFaultPending()
{
    return faultPending != 0;
}

bool takeMappingFault()
{
    const bool pending = faultPending != 0;
    faultPending = 0;
    return pending;
}

bool mappingFaulted(const void* start)
{
    const GuardedMapping* entry = findGuarded(reinterpret_cast<uintptr_t>(start));
    return start != nullptr && entry != nullptr && entry->faulted;
}
