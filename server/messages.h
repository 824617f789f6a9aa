// Diagnostics and raw-buffer allocation used throughout the server.
#pragma once

#include <cstddef>

// Each writes "brassel: <level>: " + the formatted message + "\n": info on
// standard output, warning and error on standard error. None of them ends
// the program or flushes.
void logInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void logError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// From now on every message also goes to the system log (ident "brassel",
// facility daemon; info, warning and error at the priorities of the same
// names): for a process whose standard streams lead nowhere.
void logToSystemLog();

// Plain heap blocks; a null result is the caller's to handle.
void* memAlloc(int size);
void* memRealloc(void* block, int size);
void memFree(void* block, int size);
