// Character sets: each turns a client character code into a Unicode value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class Encoding {
public:
    // Registers the new object at the end of encodingRegistry().
    explicit Encoding(const char* name);
    virtual ~Encoding();
    Encoding(const Encoding&) = delete;
    Encoding& operator=(const Encoding&) = delete;

    // 0 means the character set defines nothing at this code.
    virtual uint16_t toUnicode(uint16_t code) const = 0;

    const std::string name;
};

// Every encoding in registration order; exists before the first registers.
std::vector<const Encoding*>& encodingRegistry();

// The encodings offered to clients; entry 0 is always "iso8859-1".
std::vector<const Encoding*>& activeEncodings();

const Encoding* findEncoding(std::string_view name);

// Appends every known name of a comma- or blank-separated list; returns how
// many were appended.
int parseEncodingList(std::vector<const Encoding*>& list, std::string_view text);

// Entry n of activeEncodings(), or null past either end.
const Encoding* activeEncoding(int n);
