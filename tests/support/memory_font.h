// Arbitrary bytes as a font file, for the fuzz targets: one memory file per
// process, rewritten for each input and opened through its /proc/self/fd
// path, so that the fonts go through the real open path (open, fstat, mmap).
#pragma once

#include <cstddef>
#include <cstdint>

// Replaces the memory file's contents with the bytes; false when that failed.
bool writeMemoryFont(const uint8_t* data, size_t size);

// The path under which the memory file opens.
const char* memoryFontPath();
