// The 46 character sets, constructed here in registration order: one
// translation unit, so the order of the definitions below is the order of
// encodingRegistry() and of the "valid encodings are:" listing.
//
// Every toUnicode is built from the same steps, first match wins: LOW (codes
// below 0x20 through controlCodeTable), EURO (0x80 gives U+20AC), SPECIAL
// (single codes), HIGH (the class's table), RULE (code + offset over a
// range), PASS (the code itself, which covers every code above 0xFF).
#include "encoding/encoding.h"
#include "encoding/encoding_tables.h"

using namespace encoding_tables;

namespace {

constexpr uint16_t EURO_SIGN = 0x20AC;

// Codes below 0x20 are shown as spaces, except the positions that old
// terminals used for line drawing.
constexpr uint16_t controlCodeTable[32] = {
    /* 0x00 */ 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020,
    /* 0x08 */ 0x0020, 0x0020, 0x0020, 0x2518, 0x2510, 0x250C, 0x2514, 0x253C,
    /* 0x10 */ 0x0020, 0x0020, 0x2500, 0x0020, 0x0020, 0x251C, 0x2524, 0x2534,
    /* 0x18 */ 0x252C, 0x2502, 0x0020, 0x0020, 0x2510, 0x0020, 0x0020, 0x0020,
};

bool isControl(uint16_t code)
{
    return code < 0x20;
}

bool inRange(uint16_t code, uint16_t first, uint16_t last)
{
    return first <= code && code <= last;
}

// LOW, then HIGH over a table of the codes first..0xFF, then PASS.
template <size_t N>
uint16_t lowThenTable(uint16_t code, const uint16_t (&table)[N])
{
    constexpr uint16_t first = 0x100 - N;
    if (isControl(code))
        return controlCodeTable[code];
    return inRange(code, first, 0xFF) ? table[code - first] : code;
}

// LOW, EURO, then HIGH over the H96 table for 0xA1..0xFF (entry 0 unused).
uint16_t lowEuroThenHigh96(uint16_t code, const uint16_t (&table)[96])
{
    if (isControl(code))
        return controlCodeTable[code];
    if (code == 0x80)
        return EURO_SIGN;
    return inRange(code, 0xA1, 0xFF) ? table[code - 0xA0] : code;
}

class iso8859_1 final : public Encoding {
public:
    iso8859_1() : Encoding("iso8859-1") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        return code == 0x80 ? EURO_SIGN : code;
    }
};

class iso8859_2 final : public Encoding {
public:
    iso8859_2() : Encoding("iso8859-2") {}
    uint16_t toUnicode(uint16_t code) const override { return lowEuroThenHigh96(code, ISO8859_2_HIGH); }
};

class iso8859_3 final : public Encoding {
public:
    iso8859_3() : Encoding("iso8859-3") {}
    uint16_t toUnicode(uint16_t code) const override { return lowEuroThenHigh96(code, ISO8859_3_HIGH); }
};

class iso8859_4 final : public Encoding {
public:
    iso8859_4() : Encoding("iso8859-4") {}
    uint16_t toUnicode(uint16_t code) const override { return lowEuroThenHigh96(code, ISO8859_4_HIGH); }
};

// Cyrillic sits at a fixed distance from its codes; three codes do not.
class iso8859_5 final : public Encoding {
public:
    iso8859_5() : Encoding("iso8859-5") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        switch (code) {
        case 0x80: return EURO_SIGN;
        case 0xAD: return code;
        case 0xF0: return 0x2116;
        case 0xFD: return 0x00A7;
        }
        return inRange(code, 0xA1, 0xFF) ? code + 0x360 : code;
    }
};

// Digits are answered as Arabic-Indic digits, and the whole upper range is
// shifted onto the Arabic block, undefined codes included.
class iso8859_6 final : public Encoding {
public:
    iso8859_6() : Encoding("iso8859-6") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        if (inRange(code, 0x30, 0x39))
            return code + 0x630;
        if (code == 0x80)
            return EURO_SIGN;
        return inRange(code, 0xA5, 0xFF) ? code + 0x560 : code;
    }
};

class iso8859_7 final : public Encoding {
public:
    iso8859_7() : Encoding("iso8859-7") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        if (code == 0x80)
            return EURO_SIGN;
        if (inRange(code, 0xA1, 0xBD))
            return ISO8859_7_HIGH[code - 0xA1];
        return inRange(code, 0xBE, 0xFF) ? code + 0x2D0 : code;
    }
};

// No euro sign; the upper range is shifted onto the Hebrew block.
class iso8859_8 final : public Encoding {
public:
    iso8859_8() : Encoding("iso8859-8") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        switch (code) {
        case 0xAA: return 0x00D7;
        case 0xAF: return 0x203E;
        case 0xDF: return 0x2017;
        }
        return inRange(code, 0xAB, 0xFF) ? code + 0x4F0 : code;
    }
};

class iso8859_9 final : public Encoding {
public:
    iso8859_9() : Encoding("iso8859-9") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        switch (code) {
        case 0x80: return EURO_SIGN;
        case 0xD0: return 0x011E;
        case 0xDD: return 0x0130;
        case 0xDE: return 0x015E;
        case 0xF0: return 0x011F;
        case 0xFD: return 0x0131;
        case 0xFE: return 0x015F;
        }
        return code;
    }
};

// Thai: no control table and no euro sign; the table starts at 0xA0.
class iso8859_11 final : public Encoding {
public:
    iso8859_11() : Encoding("iso8859-11") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        return inRange(code, 0xA0, 0xFF) ? ISO8859_11_HIGH[code - 0xA0] : code;
    }
};

class iso8859_14 final : public Encoding {
public:
    iso8859_14() : Encoding("iso8859-14") {}
    uint16_t toUnicode(uint16_t code) const override { return lowEuroThenHigh96(code, ISO8859_14_HIGH); }
};

// The euro sign has its own code in this set, so 0x80 passes.
class iso8859_15 final : public Encoding {
public:
    iso8859_15() : Encoding("iso8859-15") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        if (isControl(code))
            return controlCodeTable[code];
        switch (code) {
        case 0xA4: return EURO_SIGN;
        case 0xA6: return 0x0160;
        case 0xA8: return 0x0161;
        case 0xB4: return 0x017D;
        case 0xB8: return 0x017E;
        case 0xBC: return 0x0152;
        case 0xBD: return 0x0153;
        case 0xBE: return 0x0178;
        }
        return code;
    }
};

class koi8_r final : public Encoding {
public:
    koi8_r() : Encoding("koi8-r") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, KOI8_R_HIGH); }
};

// Passes the codes below 0x20 unchanged.
class koi8_u final : public Encoding {
public:
    koi8_u() : Encoding("koi8-u") {}
    uint16_t toUnicode(uint16_t code) const override
    {
        return inRange(code, 0x80, 0xFF) ? KOI8_U_HIGH[code - 0x80] : code;
    }
};

class windows_1251 final : public Encoding {
public:
    windows_1251() : Encoding("windows-1251") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1251_HIGH); }
};

class iso8859_10 final : public Encoding {
public:
    iso8859_10() : Encoding("iso8859-10") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, ISO8859_10_HIGH); }
};

class windows_1250 final : public Encoding {
public:
    windows_1250() : Encoding("windows-1250") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1250_HIGH); }
};

class windows_1252 final : public Encoding {
public:
    windows_1252() : Encoding("windows-1252") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1252_HIGH); }
};

class windows_1253 final : public Encoding {
public:
    windows_1253() : Encoding("windows-1253") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1253_HIGH); }
};

class windows_1254 final : public Encoding {
public:
    windows_1254() : Encoding("windows-1254") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1254_HIGH); }
};

class windows_1255 final : public Encoding {
public:
    windows_1255() : Encoding("windows-1255") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1255_HIGH); }
};

class windows_1256 final : public Encoding {
public:
    windows_1256() : Encoding("windows-1256") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1256_HIGH); }
};

class cp_437 final : public Encoding {
public:
    cp_437() : Encoding("cp-437") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_437_HIGH); }
};

class cp_737 final : public Encoding {
public:
    cp_737() : Encoding("cp-737") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_737_HIGH); }
};

class cp_850 final : public Encoding {
public:
    cp_850() : Encoding("cp-850") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_850_HIGH); }
};

class cp_851 final : public Encoding {
public:
    cp_851() : Encoding("cp-851") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_851_HIGH); }
};

class cp_852 final : public Encoding {
public:
    cp_852() : Encoding("cp-852") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_852_HIGH); }
};

class cp_853 final : public Encoding {
public:
    cp_853() : Encoding("cp-853") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_853_HIGH); }
};

class cp_855 final : public Encoding {
public:
    cp_855() : Encoding("cp-855") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_855_HIGH); }
};

class cp_857 final : public Encoding {
public:
    cp_857() : Encoding("cp-857") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_857_HIGH); }
};

class cp_860 final : public Encoding {
public:
    cp_860() : Encoding("cp-860") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_860_HIGH); }
};

class cp_861 final : public Encoding {
public:
    cp_861() : Encoding("cp-861") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_861_HIGH); }
};

class cp_862 final : public Encoding {
public:
    cp_862() : Encoding("cp-862") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_862_HIGH); }
};

class cp_863 final : public Encoding {
public:
    cp_863() : Encoding("cp-863") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_863_HIGH); }
};

// The ASCII half passes unchanged, so 0x25 stays the percent sign.
class cp_864 final : public Encoding {
public:
    cp_864() : Encoding("cp-864") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_864_HIGH); }
};

class cp_865 final : public Encoding {
public:
    cp_865() : Encoding("cp-865") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_865_HIGH); }
};

class cp_866 final : public Encoding {
public:
    cp_866() : Encoding("cp-866") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_866_HIGH); }
};

class cp_869 final : public Encoding {
public:
    cp_869() : Encoding("cp-869") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_869_HIGH); }
};

class cp_895 final : public Encoding {
public:
    cp_895() : Encoding("cp-895") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, CP_895_HIGH); }
};

// The symbol sets redefine the printable ASCII range too: H224 tables.
class wingreek final : public Encoding {
public:
    wingreek() : Encoding("wingreek-0") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINGREEK_HIGH); }
};

class symbol final : public Encoding {
public:
    symbol() : Encoding("symbol-0") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, SYMBOL_HIGH); }
};

class wingding final : public Encoding {
public:
    wingding() : Encoding("wingding-0") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINGDING_HIGH); }
};

class atari_st final : public Encoding {
public:
    atari_st() : Encoding("atari-st") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, ATARI_ST_HIGH); }
};

// The client's codes are Unicode code points already.
class iso10646_1 final : public Encoding {
public:
    iso10646_1() : Encoding("iso10646-1") {}
    uint16_t toUnicode(uint16_t code) const override { return code; }
};

class windows_1257 final : public Encoding {
public:
    windows_1257() : Encoding("windows-1257") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_1257_HIGH); }
};

class windows_sami2 final : public Encoding {
public:
    windows_sami2() : Encoding("windows-sami2") {}
    uint16_t toUnicode(uint16_t code) const override { return lowThenTable(code, WINDOWS_SAMI2_HIGH); }
};

} // namespace

// The registry must exist before the first object below registers and must
// outlive all of them: a function-local static is created on first use and
// destroyed after the objects whose constructors created it. Defining it in
// this file also means that any program that looks up an encoding links this
// object file, and with it the 46 objects, out of the static library.
std::vector<const Encoding*>& encodingRegistry()
{
    static std::vector<const Encoding*> encodings;
    return encodings;
}

const iso8859_1 iso8859_1Encoding;
const iso8859_2 iso8859_2Encoding;
const iso8859_3 iso8859_3Encoding;
const iso8859_4 iso8859_4Encoding;
const iso8859_5 iso8859_5Encoding;
const iso8859_6 iso8859_6Encoding;
const iso8859_7 iso8859_7Encoding;
const iso8859_8 iso8859_8Encoding;
const iso8859_9 iso8859_9Encoding;
const iso8859_11 iso8859_11Encoding;
const iso8859_14 iso8859_14Encoding;
const iso8859_15 iso8859_15Encoding;
const koi8_r koi8_rEncoding;
const koi8_u koi8_uEncoding;
const windows_1251 windows_1251Encoding;
const iso8859_10 iso8859_10Encoding;
const windows_1250 windows_1250Encoding;
const windows_1252 windows_1252Encoding;
const windows_1253 windows_1253Encoding;
const windows_1254 windows_1254Encoding;
const windows_1255 windows_1255Encoding;
const windows_1256 windows_1256Encoding;
const cp_437 cp_437Encoding;
const cp_737 cp_737Encoding;
const cp_850 cp_850Encoding;
const cp_851 cp_851Encoding;
const cp_852 cp_852Encoding;
const cp_853 cp_853Encoding;
const cp_855 cp_855Encoding;
const cp_857 cp_857Encoding;
const cp_860 cp_860Encoding;
const cp_861 cp_861Encoding;
const cp_862 cp_862Encoding;
const cp_863 cp_863Encoding;
const cp_864 cp_864Encoding;
const cp_865 cp_865Encoding;
const cp_866 cp_866Encoding;
const cp_869 cp_869Encoding;
const cp_895 cp_895Encoding;
const wingreek wingreekEncoding;
const symbol symbolEncoding;
const wingding wingdingEncoding;
const atari_st atari_stEncoding;
const iso10646_1 iso10646_1Encoding;
const windows_1257 windows_1257Encoding;
const windows_sami2 windows_sami2Encoding;


std::vector<const Encoding*>& activeEncodings()
{
    static std::vector<const Encoding*> active{&iso8859_1Encoding};
    return active;
}
