#include "font/table_name.h"

#include <algorithm>

namespace {

constexpr int RECORDS_START = 6;
constexpr int RECORD_SIZE = 12;

} // namespace

NameTable::NameTable(const MappedFile& font, uint32_t offset, uint32_t length)
{
    makeView(font, offset, length);
    count = u16At(2);
    stringOffset = u16At(4);
}

std::string NameTable::getString(int platformId, int nameId) const
{
    // Records past the table's end cannot match anything.
    int64_t records = std::min<int64_t>(count, (int64_t(length()) - RECORDS_START) / RECORD_SIZE);
    for (int64_t n = 0; n < records; n++) {
        int64_t record = RECORDS_START + n * RECORD_SIZE;
        if (u16At(record) != platformId || u16At(record + 6) != nameId)
            continue;
        int64_t start = int64_t(stringOffset) + u16At(record + 10);
        if (start <= 0 || start >= length())
            return std::string();
        int64_t size = std::min<int64_t>(u16At(record + 8), length() - start);
        return std::string(reinterpret_cast<const char*>(bytesAt(start, size)), size_t(size));
    }
    if (platformId != PLATFORM_MACINTOSH)
        return std::string();
    // UTF-16BE reduced to one byte per unit: the low byte of each.
    std::string wide = getString(PLATFORM_MICROSOFT, nameId);
    std::string narrow;
    narrow.reserve(wide.size() / 2);
    for (size_t i = 1; i < wide.size(); i += 2)
        narrow += wide[i];
    return narrow;
}
