#include "server/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

void writeMessage(FILE* stream, const char* level, const char* format, va_list arguments)
{
    std::fprintf(stream, "%s: %s: ", "brassel", level);
    std::vfprintf(stream, format, arguments);
    std::fputc('\n', stream);
}

} // namespace

void logInfo(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeMessage(stdout, "info", format, arguments);
    va_end(arguments);
}

void logWarning(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeMessage(stderr, "warning", format, arguments);
    va_end(arguments);
}

void logError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeMessage(stderr, "error", format, arguments);
    va_end(arguments);
}

void* memAlloc(int size)
{
    // The int is widened with its sign: a negative size asks for an absurd
    // amount and simply fails.
    return std::malloc(static_cast<size_t>(static_cast<long>(size)));
}

void* memRealloc(void* block, int size)
{
    return std::realloc(block, static_cast<size_t>(static_cast<long>(size)));
}

void memFree(void* block, int)
{
    std::free(block);
}
