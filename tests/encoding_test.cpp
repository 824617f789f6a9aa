// The character sets: registry order, lookups, the --encoding list syntax and
// every code 0x0000-0xFFFF of every set against independent expectations.
#include "encoding/encoding.h"
#include "support/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace {

const Encoding& encoding(const std::string& name)
{
    const Encoding* found = findEncoding(name);
    if (!found)
        throw std::runtime_error("no encoding " + name);
    return *found;
}

std::vector<std::string> names(const std::vector<const Encoding*>& list)
{
    std::vector<std::string> result;
    for (const Encoding* entry : list)
        result.push_back(entry->name);
    return result;
}

// Blocks of "charset <name>" followed by rows "<first code> <16 values>";
// a value that is not hexadecimal ("----") is kept as no value.
using CodeTable = std::map<uint16_t, std::optional<uint16_t>>;

std::map<std::string, CodeTable> readCodeTables(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::map<std::string, CodeTable> tables;
    CodeTable* current = nullptr;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first == "charset") {
            std::string name;
            fields >> name;
            current = &tables[name];
            continue;
        }
        if (!current)
            throw std::runtime_error("row before any charset in " + path);
        const unsigned row = std::stoul(first, nullptr, 16);
        std::string value;
        for (unsigned column = 0; column < 16; ++column) {
            if (!(fields >> value))
                throw std::runtime_error("short row " + first + " in " + path);
            (*current)[row + column] = value == "----" ? std::nullopt
                                                       : std::optional<uint16_t>(std::stoul(value, nullptr, 16));
        }
    }
    return tables;
}

const uint16_t CONTROL_CODES[32] = {
    0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020, 0x0020,
    0x0020, 0x0020, 0x0020, 0x2518, 0x2510, 0x250C, 0x2514, 0x253C,
    0x0020, 0x0020, 0x2500, 0x0020, 0x0020, 0x251C, 0x2524, 0x2534,
    0x252C, 0x2502, 0x0020, 0x0020, 0x2510, 0x0020, 0x0020, 0x0020,
};

// The sets that pass codes below 0x20 unchanged; all others draw them from
// the control code table.
const std::set<std::string> LOW_CODES_PASS = {"iso8859-11", "koi8-u", "iso10646-1"};

} // namespace

TEST(EncodingRegistry, HoldsAllSetsInRegistrationOrder)
{
    const std::vector<std::string> expected = {
        "iso8859-1", "iso8859-2", "iso8859-3", "iso8859-4", "iso8859-5", "iso8859-6",
        "iso8859-7", "iso8859-8", "iso8859-9", "iso8859-11", "iso8859-14", "iso8859-15",
        "koi8-r", "koi8-u", "windows-1251", "iso8859-10", "windows-1250", "windows-1252",
        "windows-1253", "windows-1254", "windows-1255", "windows-1256", "cp-437", "cp-737",
        "cp-850", "cp-851", "cp-852", "cp-853", "cp-855", "cp-857", "cp-860", "cp-861",
        "cp-862", "cp-863", "cp-864", "cp-865", "cp-866", "cp-869", "cp-895", "wingreek-0",
        "symbol-0", "wingding-0", "atari-st", "iso10646-1", "windows-1257", "windows-sami2"};
    EXPECT_EQ(names(encodingRegistry()), expected);
}

TEST(EncodingRegistry, NamesAreLowerCaseWithExactlyOneHyphen)
{
    for (const Encoding* entry : encodingRegistry()) {
        EXPECT_EQ(std::count(entry->name.begin(), entry->name.end(), '-'), 1) << entry->name;
        for (char c : entry->name)
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') << entry->name;
    }
}

TEST(EncodingRegistry, FindEncodingMatchesExactNamesOnly)
{
    const struct {
        const char* name;
        bool found;
    } cases[] = {
        {"iso8859-1", true},  {"koi8-r", true},      {"windows-sami2", true},
        {"ISO8859-1", false}, {"iso8859-1 ", false}, {" iso8859-1", false},
        {"iso8859", false},   {"latin1", false},     {"", false},
    };
    for (const auto& c : cases) {
        const Encoding* found = findEncoding(c.name);
        EXPECT_EQ(found != nullptr, c.found) << '"' << c.name << '"';
        if (found) {
            EXPECT_EQ(found->name, c.name);
        }
    }
    EXPECT_EQ(findEncoding("iso8859-1"), encodingRegistry().front());
}

TEST(EncodingRegistry, ActiveListStartsWithIso8859_1Only)
{
    ASSERT_EQ(names(activeEncodings()), std::vector<std::string>{"iso8859-1"});
    EXPECT_EQ(activeEncoding(0), findEncoding("iso8859-1"));
    EXPECT_EQ(activeEncoding(1), nullptr);
    EXPECT_EQ(activeEncoding(-1), nullptr);
}

TEST(EncodingRegistry, ParseEncodingListAppendsEveryKnownName)
{
    const struct {
        const char* text;
        std::vector<std::string> appended;
    } cases[] = {
        {"koi8-r,windows-1251", {"koi8-r", "windows-1251"}},
        {"koi8-r windows-1251", {"koi8-r", "windows-1251"}},
        {"koi8-r, windows-1251", {"koi8-r", "windows-1251"}},
        {",,koi8-r,", {"koi8-r"}},
        {"koi8-r,nonsense", {"koi8-r"}},
        {"iso8859-1", {"iso8859-1"}},
        {"koi8-r koi8-r", {"koi8-r", "koi8-r"}},
        {"KOI8-R", {}},
        {"latin1", {}},
        {"koi8-r\twindows-1251", {}},
        {"", {}},
        {" ", {}},
    };
    for (const auto& c : cases) {
        std::vector<const Encoding*> list{findEncoding("iso8859-1")};
        const int added = parseEncodingList(list, c.text);
        std::vector<std::string> expected{"iso8859-1"};
        expected.insert(expected.end(), c.appended.begin(), c.appended.end());
        EXPECT_EQ(added, static_cast<int>(c.appended.size())) << '"' << c.text << '"';
        EXPECT_EQ(names(list), expected) << '"' << c.text << '"';
    }
}

TEST(EncodingRegistry, ParseEncodingListAppendsToTheActiveList)
{
    std::vector<const Encoding*>& active = activeEncodings();
    const std::vector<const Encoding*> saved = active;
    EXPECT_EQ(parseEncodingList(active, "koi8-r"), 1);
    EXPECT_EQ(parseEncodingList(active, "cp-437 nonsense"), 1);
    EXPECT_EQ(names(active), (std::vector<std::string>{"iso8859-1", "koi8-r", "cp-437"}));
    EXPECT_EQ(activeEncoding(2), findEncoding("cp-437"));
    EXPECT_EQ(activeEncoding(3), nullptr);
    active = saved;
}

TEST(EncodingSteps, EveryCodeAboveFFPassesUnchanged)
{
    for (const Encoding* entry : encodingRegistry()) {
        unsigned mismatches = 0;
        for (unsigned code = 0x100; code <= 0xFFFF; ++code)
            mismatches += entry->toUnicode(code) != code;
        EXPECT_EQ(mismatches, 0u) << entry->name;
        EXPECT_EQ(entry->toUnicode(0x0263), 0x0263) << entry->name;
    }
}

TEST(EncodingSteps, CodesBelow20UseTheControlTableOrPass)
{
    for (const Encoding* entry : encodingRegistry()) {
        const bool passes = LOW_CODES_PASS.count(entry->name) != 0;
        for (uint16_t code = 0; code < 0x20; ++code)
            EXPECT_EQ(entry->toUnicode(code), passes ? code : CONTROL_CODES[code])
                << entry->name << " code " << code;
    }
}

// Sets whose codes 0x20-0xFF follow a published mapping, with every code
// where brassel answers differently (undefined codes included) listed.
struct PublishedSet {
    const char* name;
    const char* published; // charset name in charset_mappings.txt
    bool euroAt80;
    std::map<uint16_t, uint16_t> changes;
};

std::map<uint16_t, uint16_t> zeros(std::initializer_list<std::pair<uint16_t, uint16_t>> ranges)
{
    std::map<uint16_t, uint16_t> result;
    for (auto [first, last] : ranges)
        for (unsigned code = first; code <= last; ++code)
            result[code] = 0;
    return result;
}

std::map<uint16_t, uint16_t> merged(std::map<uint16_t, uint16_t> a, const std::map<uint16_t, uint16_t>& b)
{
    a.insert(b.begin(), b.end());
    return a;
}

const std::map<uint16_t, uint16_t> PC_MATH = {{0xE4, 0x2211}, {0xEA, 0x2126}, {0xED, 0x2205}, {0xEE, 0x2208}};

const std::vector<PublishedSet>& publishedSets()
{
    static const std::vector<PublishedSet> sets = {
        {"iso8859-1", "ISO-8859-1", true, {}},
        {"iso8859-2", "ISO-8859-2", true, {}},
        {"iso8859-3", "ISO-8859-3", true,
         {{0xA5, 0xA5}, {0xAE, 0xAE}, {0xBE, 0xBE}, {0xC3, 0xC3}, {0xD0, 0xD0}, {0xE3, 0xE3}, {0xF0, 0xF0}}},
        {"iso8859-4", "ISO-8859-4", true, {}},
        {"iso8859-5", "ISO-8859-5", true, {}},
        {"iso8859-7", "ISO-8859-7", true,
         {{0xA1, 0x02BD}, {0xA2, 0x02BC}, {0xA4, 0x00A4}, {0xA5, 0x00A5}, {0xAA, 0x00AA},
          {0xAE, 0x00AE}, {0xD2, 0x03A2}, {0xFF, 0x03CF}}},
        {"iso8859-9", "ISO-8859-9", true, {}},
        {"iso8859-11", "ISO-8859-11", false, merged({{0xA0, 0x0020}}, zeros({{0xDB, 0xDE}, {0xFC, 0xFF}}))},
        {"iso8859-14", "ISO-8859-14", true, {{0xD5, 0x0150}}},
        {"iso8859-15", "ISO-8859-15", false, {}},
        {"koi8-r", "KOI8-R", false, {}},
        {"koi8-u", "KOI8-U", false, {}},
        {"windows-1251", "CP1251", false, {{0x98, 0}}},
        {"iso8859-10", "ISO-8859-10", true,
         {{0xA7, 0x013B}, {0xA8, 0x0143}, {0xA9, 0x0156}, {0xAE, 0x0138}, {0xB0, 0x0111},
          {0xB7, 0x013C}, {0xB8, 0x0144}, {0xB9, 0x0157}, {0xBD, 0x00A7}, {0xBE, 0x00DF},
          {0xD0, 0x0110}, {0xDF, 0x016A}, {0xFF, 0x016B}}},
        {"windows-1250", "CP1250", false,
         merged({{0x85, 0x22EF}, {0x95, 0x2219}, {0xBC, 0x0178}, {0xBE, 0x013D}},
                zeros({{0x81, 0x81}, {0x83, 0x83}, {0x88, 0x88}, {0x90, 0x90}, {0x98, 0x98}}))},
        {"windows-1252", "CP1252", false,
         merged({{0x85, 0x22EF}, {0x88, 0x0302}, {0x8E, 0}, {0x95, 0x2219}, {0x98, 0x0303}, {0x9E, 0}},
                zeros({{0x81, 0x81}, {0x8D, 0x8D}, {0x8F, 0x90}, {0x9D, 0x9D}}))},
        {"windows-1253", "CP1253", false,
         merged({{0x85, 0x22EF}, {0x95, 0x2219}, {0xB7, 0x0387}},
                zeros({{0x81, 0x81}, {0x88, 0x88}, {0x8A, 0x8A}, {0x8C, 0x90}, {0x98, 0x98}, {0x9A, 0x9A},
                       {0x9C, 0x9F}, {0xAA, 0xAA}, {0xD2, 0xD2}, {0xFF, 0xFF}}))},
        {"windows-1254", "CP1254", false,
         merged({{0x85, 0x22EF}, {0x88, 0x0302}, {0x95, 0x2219}, {0x98, 0x0303}},
                zeros({{0x81, 0x81}, {0x8D, 0x90}, {0x9D, 0x9E}}))},
        {"cp-437", "CP437", false, PC_MATH},
        {"cp-737", "CP737", false, {{0xF4, 0x2320}, {0xF5, 0x2321}, {0xF9, 0x00A3}, {0xFA, 0x0387}}},
        {"cp-850", "CP850", false, {}},
        {"cp-852", "CP852", false, {{0xAA, 0}}},
        {"cp-855", "CP855", false, {{0xFD, 0}}},
        {"cp-857", "CP857", false, {{0xD5, 0}, {0xE7, 0x00FE}, {0xF2, 0x2017}}},
        {"cp-860", "CP860", false, PC_MATH},
        {"cp-861", "CP861", false, merged({{0x97, 0x00F9}, {0x98, 0x00FF}}, PC_MATH)},
        {"cp-862", "CP862", false, PC_MATH},
        {"cp-863", "CP863", false, PC_MATH},
        {"cp-865", "CP865", false, PC_MATH},
        {"cp-866", "CP866", false, {}},
        {"cp-869", "CP869", false, merged({{0x88, 0x0387}}, zeros({{0x80, 0x85}, {0x87, 0x87}, {0x93, 0x94}}))},
        {"windows-1257", "CP1257", false,
         merged({{0x80, 0}, {0xA1, 0xF8FC}, {0xA5, 0xF8FD}},
                zeros({{0x81, 0x81}, {0x83, 0x83}, {0x88, 0x88}, {0x8A, 0x8A}, {0x8C, 0x8C}, {0x90, 0x90},
                       {0x98, 0x98}, {0x9A, 0x9A}, {0x9C, 0x9C}, {0x9F, 0x9F}}))},
    };
    return sets;
}

TEST(EncodingTables, PublishedSetsMatchTheirMappingExceptListedCodes)
{
    const auto mappings = readCodeTables(fixturePath("charset_mappings.txt"));
    for (const PublishedSet& set : publishedSets()) {
        SCOPED_TRACE(set.name);
        const Encoding& subject = encoding(set.name);
        ASSERT_TRUE(mappings.count(set.published)) << set.published;
        const CodeTable& mapping = mappings.at(set.published);
        ASSERT_EQ(mapping.size(), 256u);
        for (uint16_t code = 0x20; code <= 0xFF; ++code) {
            uint16_t expected;
            if (auto change = set.changes.find(code); change != set.changes.end()) {
                expected = change->second;
            } else if (code == 0x80 && set.euroAt80) {
                expected = 0x20AC;
            } else {
                ASSERT_TRUE(mapping.at(code).has_value()) << "undefined code " << code << " not listed";
                expected = *mapping.at(code);
            }
            EXPECT_EQ(subject.toUnicode(code), expected) << "code 0x" << std::hex << code;
        }
    }
}

TEST(EncodingTables, ListedSetsMatchEveryValue)
{
    const auto tables = readCodeTables(sourcePath("tests/data/encoding_tables.txt"));
    const std::map<std::string, uint16_t> firstCodes = {
        {"windows-1255", 0x80}, {"windows-1256", 0x80}, {"cp-851", 0x80}, {"cp-853", 0x80},
        {"cp-864", 0x80},       {"cp-895", 0x80},       {"atari-st", 0x80}, {"windows-sami2", 0x80},
        {"wingreek-0", 0x20},   {"symbol-0", 0x20},     {"wingding-0", 0x20}};
    ASSERT_EQ(tables.size(), firstCodes.size());
    for (const auto& [name, first] : firstCodes) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(tables.count(name));
        const CodeTable& table = tables.at(name);
        ASSERT_EQ(table.size(), 0x100u - first);
        const Encoding& subject = encoding(name);
        for (uint16_t code = 0x20; code <= 0xFF; ++code) {
            const uint16_t expected = code < first ? code : *table.at(code);
            EXPECT_EQ(subject.toUnicode(code), expected) << "code 0x" << std::hex << code;
        }
    }
}

// Sets whose upper half is an arithmetic rule, and the cases every family
// must get right at its boundaries.
TEST(EncodingSteps, RulesAndSpecialCodes)
{
    const struct {
        const char* name;
        uint16_t code;
        uint16_t expected;
    } cases[] = {
        {"iso8859-1", 0x80, 0x20AC}, {"iso8859-1", 0x0C, 0x2510}, {"iso8859-1", 0x1C, 0x2510},
        {"iso8859-1", 0x00, 0x0020}, {"iso8859-1", 0xE9, 0x00E9}, {"iso8859-1", 0x81, 0x0081},
        {"iso8859-2", 0xA1, 0x0104}, {"iso8859-2", 0xA3, 0x0141}, {"iso8859-2", 0xFF, 0x02D9},
        {"iso8859-2", 0x41, 0x0041}, {"iso8859-2", 0x85, 0x0085}, {"iso8859-2", 0xA0, 0x00A0},
        {"iso8859-5", 0xA0, 0x00A0}, {"iso8859-5", 0xA1, 0x0401}, {"iso8859-5", 0xAD, 0x00AD},
        {"iso8859-5", 0xF0, 0x2116}, {"iso8859-5", 0xFD, 0x00A7}, {"iso8859-5", 0xFF, 0x045F},
        {"iso8859-5", 0x9F, 0x009F},
        {"iso8859-6", 0x2F, 0x002F}, {"iso8859-6", 0x30, 0x0660}, {"iso8859-6", 0x35, 0x0665},
        {"iso8859-6", 0x39, 0x0669}, {"iso8859-6", 0x3A, 0x003A}, {"iso8859-6", 0x80, 0x20AC},
        {"iso8859-6", 0xA0, 0x00A0}, {"iso8859-6", 0xA4, 0x00A4}, {"iso8859-6", 0xA5, 0x0605},
        {"iso8859-6", 0xAD, 0x060D}, {"iso8859-6", 0xC7, 0x0627}, {"iso8859-6", 0xFF, 0x065F},
        {"iso8859-6", 0x05, 0x0020},
        {"iso8859-7", 0xBD, 0x00BD}, {"iso8859-7", 0xBE, 0x038E}, {"iso8859-7", 0xA0, 0x00A0},
        {"iso8859-8", 0x80, 0x0080}, {"iso8859-8", 0x0B, 0x2518}, {"iso8859-8", 0xA0, 0x00A0},
        {"iso8859-8", 0xA9, 0x00A9}, {"iso8859-8", 0xAA, 0x00D7}, {"iso8859-8", 0xAB, 0x059B},
        {"iso8859-8", 0xAF, 0x203E}, {"iso8859-8", 0xBA, 0x05AA}, {"iso8859-8", 0xDE, 0x05CE},
        {"iso8859-8", 0xDF, 0x2017}, {"iso8859-8", 0xE0, 0x05D0}, {"iso8859-8", 0xFA, 0x05EA},
        {"iso8859-8", 0xFB, 0x05EB}, {"iso8859-8", 0xFF, 0x05EF},
        {"iso8859-9", 0x80, 0x20AC}, {"iso8859-9", 0xD0, 0x011E}, {"iso8859-9", 0xFE, 0x015F},
        {"iso8859-11", 0x05, 0x0005}, {"iso8859-11", 0x80, 0x0080}, {"iso8859-11", 0xA0, 0x0020},
        {"iso8859-11", 0xA1, 0x0E01}, {"iso8859-11", 0xFF, 0x0000},
        {"iso8859-15", 0x80, 0x0080}, {"iso8859-15", 0xA4, 0x20AC}, {"iso8859-15", 0xBE, 0x0178},
        {"koi8-r", 0x80, 0x2500},    {"koi8-u", 0x05, 0x0005},    {"koi8-r", 0x05, 0x0020},
        {"windows-1257", 0x80, 0x0000}, {"windows-1252", 0x8E, 0x0000}, {"windows-1252", 0x80, 0x20AC},
        {"cp-864", 0x25, 0x0025},
        {"atari-st", 0x80, 0x00C7}, {"atari-st", 0x81, 0x00FC}, {"atari-st", 0xC2, 0x05D0},
        {"atari-st", 0xFF, 0x00AF},
        {"wingreek-0", 0x20, 0x0020}, {"wingreek-0", 0x30, 0x0030}, {"wingreek-0", 0x41, 0x0391},
        {"wingreek-0", 0x61, 0x03B1}, {"wingreek-0", 0x21, 0x0000}, {"wingreek-0", 0xFF, 0x0000},
        {"symbol-0", 0x22, 0x2200},  {"symbol-0", 0x61, 0x03B1},  {"symbol-0", 0x7E, 0x223C},
        {"symbol-0", 0xA0, 0x0000},  {"symbol-0", 0x1C, 0x2510},
        {"wingding-0", 0x21, 0x270F}, {"wingding-0", 0x24, 0x0000}, {"wingding-0", 0xFC, 0x2714},
        {"iso10646-1", 0x00, 0x0000}, {"iso10646-1", 0x80, 0x0080}, {"iso10646-1", 0xFF, 0x00FF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(encoding(c.name).toUnicode(c.code), c.expected)
            << c.name << " code 0x" << std::hex << c.code;
}

TEST(EncodingTables, GeneratedHeaderIsUpToDate)
{
    const std::string command = "/usr/bin/python3 " + sourcePath("tools/gen_encodings.py") + " --stdout";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string generated;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        generated.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0);
    std::ifstream in(sourcePath("encoding/encoding_tables.h"));
    std::stringstream stored;
    stored << in.rdbuf();
    EXPECT_EQ(generated, stored.str()) << "rerun tools/gen_encodings.py";
}

namespace {

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

RunResult runServer(const std::string& arguments)
{
    const std::string out = std::string(BUILD_DIR) + "/encoding_test.out";
    const std::string err = std::string(BUILD_DIR) + "/encoding_test.err";
    const int status = std::system((std::string(BRASSEL_BINARY) + " " + arguments + " >" + out + " 2>" + err).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out), readFile(err)};
}

} // namespace

TEST(EncodingOption, BadListsPrintEveryRegisteredName)
{
    std::string listing = "brassel: info: valid encodings are:\n";
    for (const Encoding* entry : encodingRegistry())
        listing += "brassel: info: \t" + entry->name + "\n";
    for (const char* list : {"nonsense", "KOI8-R", "''", "',,'"}) {
        const RunResult result = runServer(std::string("--encoding ") + list);
        EXPECT_EQ(result.status, 0) << list;
        EXPECT_EQ(result.err, "brassel: error: illegal encoding!\n") << list;
        EXPECT_EQ(result.out, listing) << list;
    }
    EXPECT_EQ(encodingRegistry().size(), 46u);
}
