#include "server/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <syslog.h>

namespace {

constexpr const char* PROGRAM_NAME = "brassel";

bool toSystemLog = false;

void writeMessage(FILE* stream, const char* level, int priority, const char* format, va_list arguments)
{
    // The stream may be /dev/null by now, but it gets the same line as in
    // the foreground; the system log then gets the message without the
    // prefix, whose level its priority carries.
    va_list copy;
    va_copy(copy, arguments);
    std::fprintf(stream, "%s: %s: ", PROGRAM_NAME, level);
    std::vfprintf(stream, format, arguments);
    std::fputc('\n', stream);
    if (toSystemLog)
        vsyslog(priority, format, copy);
    va_end(copy);
}

} // namespace

void logToSystemLog()
{
    if (toSystemLog)
        return;
    openlog(PROGRAM_NAME, LOG_PID, LOG_DAEMON);
    toSystemLog = true;
}

void logInfo(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeMessage(stdout, "info", LOG_INFO, format, arguments);
    va_end(arguments);
}

void logWarning(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeMessage(stderr, "warning", LOG_WARNING, format, arguments);
    va_end(arguments);
}

void logError(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    writeMessage(stderr, "error", LOG_ERR, format, arguments);
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
