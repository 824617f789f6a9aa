// Damaged database files: the input is split into a ttinfo.dir and a
// ttname.dir (the first two bytes choose where), each copied into a block of
// exactly its size, and both the record walk and the listing run over them.
// Any read outside either block is a failure.
#include <cstdint>
#include <cstring>
#include <vector>

#include "database/database.h"
#include "protocol/protocol_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t split = (data[0] | data[1] << 8) % (size - 1);
    std::vector<uint8_t> info(data + 2, data + 2 + split);
    std::vector<uint8_t> names(data + 2 + split, data + size);
    fontDatabase = FontDatabase{info.data(), static_cast<uint32_t>(info.size()), names.data(),
                                static_cast<uint32_t>(names.size())};

    DatabaseWalk walk;
    DatabaseEntry entry;
    size_t total = 0;
    while (walk.next(entry))
        total += entry.names.name.size() + entry.names.path.size() + entry.names.stem.size();

    static std::vector<uint8_t> reply(4194304);
    for (const char* pattern : {"*", "-*", "-*-*-*-*-*-*-*-*-*-*-*-*-*-*", "-*-a*-*-*-*--12-*-*-*-*-*-iso8859-1"})
        listFontNames(pattern, 1000, reply.data());

    fontDatabase = FontDatabase{};
    return total == SIZE_MAX;
}
