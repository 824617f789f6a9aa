#include "encoding/encoding.h"

Encoding::Encoding(const char* name) : name(name)
{
    encodingRegistry().push_back(this);
}

Encoding::~Encoding() = default;

const Encoding* findEncoding(std::string_view name)
{
    for (const Encoding* encoding : encodingRegistry())
        if (encoding->name == name)
            return encoding;
    return nullptr;
}

int parseEncodingList(std::vector<const Encoding*>& list, std::string_view text)
{
    const size_t before = list.size();
    size_t position = 0;
    for (;;) {
        const size_t separator = text.find_first_of(", ", position);
        const std::string_view token = text.substr(position, separator == std::string_view::npos
                                                                 ? std::string_view::npos
                                                                 : separator - position);
        if (const Encoding* encoding = findEncoding(token))
            list.push_back(encoding);
        if (separator == std::string_view::npos)
            break;
        position = separator + 1;
    }
    return static_cast<int>(list.size() - before);
}

const Encoding* activeEncoding(int n)
{
    const auto& active = activeEncodings();
    if (n < 0 || static_cast<size_t>(n) >= active.size())
        return nullptr;
    return active[n];
}
