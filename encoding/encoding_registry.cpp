// The encoding objects, constructed here in registration order.
#include "encoding/encoding.h"

namespace {

class iso8859_1 final : public Encoding {
public:
    iso8859_1() : Encoding("iso8859-1") {}
    uint16_t toUnicode(uint16_t code) const override { return code < 0x100 ? code : 0; }
};

const iso8859_1 iso8859_1Encoding;

} // namespace
