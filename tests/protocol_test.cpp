// The wire as a client meets it: connection setup, request framing,
// sequence numbers, errors and the server-state requests, against the real
// server over TCP and the Unix socket.
#include "support/fs_client.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <random>
#include <thread>

namespace {

enum class Transport { tcp, unixSocket };

// One server for the whole suite: every test makes its own connections.
class ProtocolTest : public testing::TestWithParam<Transport> {
protected:
    static void SetUpTestSuite()
    {
        if (!databaseAvailable())
            return;
        server = new ServerProcess;
        ASSERT_TRUE(server->start());
        ASSERT_TRUE(server->waitListening()) << server->err();
    }

    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        SKIP_WITHOUT_DATABASE();
        ASSERT_NE(server, nullptr);
        ASSERT_TRUE(server->running()) << server->err();
    }

    bool connect(FsClient& client)
    {
        return GetParam() == Transport::tcp ? client.connectTcp(server->port())
                                            : client.connectUnix(server->socketPath());
    }

    // A connected client past the setup.
    void open(FsClient& client)
    {
        ASSERT_TRUE(connect(client));
        ASSERT_TRUE(client.setup());
    }

    static ServerProcess* server;
};

ServerProcess* ProtocolTest::server = nullptr;

// The expected header of a reply: 0, detail, sequence, length in units.
std::vector<uint8_t> replyHeader(uint8_t detail, uint16_t sequence, uint32_t units)
{
    std::vector<uint8_t> bytes{0, detail};
    append16(bytes, sequence);
    append32(bytes, units);
    return bytes;
}

std::vector<uint8_t> errorBytes(uint8_t code, uint16_t sequence, uint8_t opcode)
{
    std::vector<uint8_t> bytes{1, code};
    append16(bytes, sequence);
    append32(bytes, 4);
    append32(bytes, 0);
    bytes.insert(bytes.end(), {opcode, 0, 0, 0});
    return bytes;
}

std::vector<uint8_t> resolutionEntries(std::initializer_list<std::array<uint16_t, 3>> entries)
{
    std::vector<uint8_t> body;
    for (const auto& entry : entries)
        for (uint16_t field : entry)
            append16(body, field);
    return body;
}

TEST_P(ProtocolTest, SetupReplyIsTheFixedTwentyEightBytes)
{
    FsClient client;
    open(client);
    std::vector<uint8_t> expected;
    append16(expected, 0); // success
    append16(expected, 2); // major version
    append16(expected, 0);
    expected.insert(expected.end(), {0, 0});
    append16(expected, 0);
    append16(expected, 0);
    append32(expected, 4);    // block length
    append16(expected, 1024); // maximum request length
    append16(expected, 2);    // vendor length
    append32(expected, 1);    // release
    expected.insert(expected.end(), {'Q', 'X', 0, 0});
    EXPECT_EQ(client.setupReply, expected);
}

struct FixedReply {
    const char* name;
    uint8_t opcode;
    uint8_t detail;
    uint32_t units;
};

// Requests answered with a header and zeros only; each is sent as the third
// request, after two NoOps, so its reply must carry sequence 3.
TEST_P(ProtocolTest, FixedRepliesAreExactAndCountNoOps)
{
    const FixedReply cases[] = {
        {"ListExtensions", 1, 0, 2}, {"QueryExtension", 2, 0, 5}, {"ListCatalogues", 3, 0, 4},
        {"GetCatalogues", 5, 0, 2},  {"GetEventMask", 7, 0, 3},   {"CreateAC", 8, 0, 3},
        {"FreeAC", 9, 0, 2},
    };
    for (const FixedReply& c : cases) {
        SCOPED_TRACE(c.name);
        FsClient client;
        open(client);
        ASSERT_TRUE(client.send(makeRequest(0)));
        ASSERT_TRUE(client.send(makeRequest(0)));
        const FsReply reply = client.request(makeRequest(c.opcode));
        ASSERT_TRUE(reply.received);
        std::vector<uint8_t> expected = replyHeader(c.detail, 3, c.units);
        expected.resize(c.units * 4, 0);
        EXPECT_EQ(reply.bytes, expected);
    }
}

TEST_P(ProtocolTest, RequestsWithoutReplySendNothingButAreCounted)
{
    FsClient client;
    open(client);
    std::vector<uint8_t> mask;
    append32(mask, 0x12345678);
    const std::vector<std::vector<uint8_t>> silent = {
        makeRequest(0),                                              // NoOp
        makeRequest(10, 0, std::vector<uint8_t>(8, 0xAA)),           // SetAuthorization
        makeRequest(6, 0, mask),                                     // SetEventMask
        makeRequest(11, 1, resolutionEntries({{100, 100, 120}})),    // SetResolution
        makeRequest(11, 0),                                          // SetResolution, no entries
    };
    for (const auto& request : silent)
        ASSERT_TRUE(client.send(request));
    EXPECT_TRUE(client.silentFor(200));
    const FsReply reply = client.request(makeRequest(7)); // GetEventMask
    ASSERT_TRUE(reply.received);
    std::vector<uint8_t> expected = replyHeader(0, 6, 3);
    append32(expected, 0x12345678);
    EXPECT_EQ(reply.bytes, expected);
}

TEST_P(ProtocolTest, EventMaskStartsAtZero)
{
    FsClient client;
    open(client);
    const FsReply reply = client.request(makeRequest(7));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.get32(8), 0u);
}

struct ResolutionCase {
    const char* name;
    uint8_t count;
    std::vector<uint8_t> entries;
    uint16_t x, y, pointSizeTenths;
};

TEST_P(ProtocolTest, SetResolutionKeepsTheLastEntry)
{
    const ResolutionCase cases[] = {
        {"untouched", 0, {}, 96, 96, 0},
        {"one entry", 1, resolutionEntries({{100, 100, 120}}), 100, 100, 120},
        {"last of two wins", 2, resolutionEntries({{75, 75, 100}, {100, 100, 140}}), 100, 100, 140},
        {"tenths are dropped", 1, resolutionEntries({{72, 80, 125}}), 72, 80, 120},
    };
    for (const ResolutionCase& c : cases) {
        SCOPED_TRACE(c.name);
        FsClient client;
        open(client);
        if (c.count > 0) {
            ASSERT_TRUE(client.send(makeRequest(11, c.count, c.entries)));
        }
        const FsReply reply = client.request(makeRequest(12));
        ASSERT_TRUE(reply.received);
        std::vector<uint8_t> expected = replyHeader(1, c.count > 0 ? 2 : 1, 4);
        append16(expected, c.x);
        append16(expected, c.y);
        append16(expected, c.pointSizeTenths);
        append16(expected, 0);
        EXPECT_EQ(reply.bytes, expected);
    }
}

TEST_P(ProtocolTest, SetResolutionShorterThanItsEntriesIsBadLength)
{
    FsClient client;
    open(client);
    // Two entries need 16 bytes; a length of 3 units declares 12.
    std::vector<uint8_t> request = makeRequest(11, 2, resolutionEntries({{75, 75, 100}, {100, 100, 140}}), 3);
    request.resize(12);
    const FsReply error = client.request(request);
    ASSERT_TRUE(error.received);
    EXPECT_EQ(error.bytes, errorBytes(10, 1, 11));
    // The state did not change and the connection stays usable.
    const FsReply reply = client.request(makeRequest(12));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.sequence(), 2);
    EXPECT_EQ(reply.get16(8), 96);
    EXPECT_EQ(reply.get16(12), 0);
}

TEST_P(ProtocolTest, UnknownOpcodesAreBadRequestAndTheConnectionStays)
{
    FsClient client;
    open(client);
    uint16_t sequence = 0;
    for (uint8_t opcode : {22, 100, 255}) {
        SCOPED_TRACE(opcode);
        const FsReply error = client.request(makeRequest(opcode, 0, {1, 2, 3, 4}));
        ASSERT_TRUE(error.received);
        EXPECT_EQ(error.bytes, errorBytes(0, ++sequence, opcode));
    }
    EXPECT_TRUE(client.request(makeRequest(1)).isReply());
}

TEST_P(ProtocolTest, OverlongRequestIsBadLengthAndEndsTheConnection)
{
    FsClient client;
    open(client);
    ASSERT_TRUE(client.send(makeRequest(0)));
    std::vector<uint8_t> header{1, 0};
    append16(header, 1025);
    const FsReply error = client.request(header);
    ASSERT_TRUE(error.received);
    EXPECT_EQ(error.bytes, errorBytes(10, 2, 1));
    EXPECT_TRUE(client.closedByServer());
}

TEST_P(ProtocolTest, MaximumLengthRequestIsRead)
{
    FsClient client;
    open(client);
    // 1024 units: a NoOp carrying 4092 bytes of junk, then a real request.
    ASSERT_TRUE(client.send(makeRequest(0, 0, std::vector<uint8_t>(4092, 0xFF))));
    const FsReply reply = client.request(makeRequest(9));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.sequence(), 2);
}

TEST_P(ProtocolTest, LengthZeroAndOneReadOnlyTheHeader)
{
    for (int units : {0, 1}) {
        SCOPED_TRACE(units);
        FsClient client;
        open(client);
        ASSERT_TRUE(client.send(makeRequest(0, 0, {}, units)));
        const FsReply reply = client.request(makeRequest(1, 0, {}, units));
        ASSERT_TRUE(reply.received);
        EXPECT_EQ(reply.bytes, (std::vector<uint8_t>{0, 0, 2, 0, 2, 0, 0, 0}));
    }
}

TEST_P(ProtocolTest, RequestSplitIntoPiecesIsAssembled)
{
    FsClient client;
    open(client);
    const std::vector<uint8_t> request = makeRequest(11, 1, resolutionEntries({{110, 120, 130}}));
    for (uint8_t byte : request) {
        ASSERT_TRUE(client.send({byte}));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::vector<uint8_t> get = makeRequest(12);
    ASSERT_TRUE(client.send({get[0], get[1], get[2]}));
    EXPECT_TRUE(client.silentFor(100));
    const FsReply reply = client.request({get[3]});
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.get16(8), 110);
    EXPECT_EQ(reply.get16(10), 120);
    EXPECT_EQ(reply.get16(12), 130);
}

TEST_P(ProtocolTest, ForeignOrInvalidByteOrderIsRefused)
{
    const uint16_t probe = 1;
    const bool little = *reinterpret_cast<const uint8_t*>(&probe) == 1;
    struct Case {
        uint8_t order;
        const char* message;
    } cases[] = {
        {static_cast<uint8_t>(little ? 0x42 : 0x6C), "brassel: error: byteorder mismatch, giving up\n"},
        {0x00, "brassel: error: invalid byteorder, giving up\n"},
        {'x', "brassel: error: invalid byteorder, giving up\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const size_t before = server->err().size();
        FsClient client;
        ASSERT_TRUE(connect(client));
        ASSERT_TRUE(client.send({c.order, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(client.readBytes(1, 2000).size(), 0u);
        EXPECT_TRUE(client.closedByServer());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(server->err().substr(before), c.message);
    }
}

TEST_P(ProtocolTest, ShortPrefixIsDroppedSilently)
{
    const size_t before = server->err().size();
    FsClient client;
    ASSERT_TRUE(connect(client));
    ASSERT_TRUE(client.send({0x6C, 0, 2, 0, 0, 0, 0}));
    EXPECT_TRUE(client.closedByServer());
    EXPECT_EQ(server->err().size(), before);
}

TEST_P(ProtocolTest, SilentClientDoesNotHoldUpOthers)
{
    FsClient silent;
    ASSERT_TRUE(connect(silent));
    FsClient other;
    open(other);
    EXPECT_TRUE(other.request(makeRequest(1)).isReply());
}

TEST_P(ProtocolTest, HostileBytesNeverEndTheServer)
{
    std::mt19937 random(7101);
    for (int round = 0; round < 20; round++) {
        FsClient client;
        open(client);
        std::vector<uint8_t> junk(1 + random() % 6000);
        for (uint8_t& byte : junk)
            byte = static_cast<uint8_t>(random());
        client.send(junk);
        client.readBytes(1 << 20, 50);
    }
    // A client that vanishes in the middle of a request.
    {
        FsClient client;
        open(client);
        std::vector<uint8_t> partial{11, 200};
        append16(partial, 400);
        partial.resize(100, 0);
        client.send(partial);
    }
    ASSERT_TRUE(server->running()) << server->err();
    FsClient after;
    open(after);
    EXPECT_TRUE(after.request(makeRequest(12)).isReply());
}

INSTANTIATE_TEST_SUITE_P(Transports, ProtocolTest, testing::Values(Transport::tcp, Transport::unixSocket),
                         [](const auto& info) { return info.param == Transport::tcp ? "Tcp" : "Unix"; });

// The stock X font-service client reads the setup reply.
TEST(FontServiceClient, XfsinfoPrintsVendorReleaseAndRequestLength)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.waitListening()) << server.err();
    const std::string port = std::to_string(server.port());
    for (const std::string& name : {"tcp/localhost:" + port, "unix/:" + port}) {
        SCOPED_TRACE(name);
        const CommandResult result = runCommand({"xfsinfo", "-server", name});
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find("version number:\t2\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("vendor string:\tQX\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("vendor release number:\t1\n"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("maximum request size:\t1024 longwords"), std::string::npos) << result.out;
    }
}

// With --res every connection starts at the forced resolution, and
// SetResolution takes only the point size.
TEST(ForcedResolution, ResolutionStaysWhilePointSizeIsTaken)
{
    SKIP_WITHOUT_DATABASE();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--res", "120"}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.setup());
    FsReply reply = client.request(makeRequest(12));
    EXPECT_EQ(reply.get16(8), 120);
    EXPECT_EQ(reply.get16(10), 120);
    ASSERT_TRUE(client.send(makeRequest(11, 1, resolutionEntries({{75, 75, 100}}))));
    reply = client.request(makeRequest(12));
    ASSERT_TRUE(reply.received);
    EXPECT_EQ(reply.get16(8), 120);
    EXPECT_EQ(reply.get16(10), 120);
    EXPECT_EQ(reply.get16(12), 100);
}

} // namespace
