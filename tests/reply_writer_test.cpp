// The reply writer and request-field helpers every handler relies on: what
// they put on the wire, and that they never reach outside their buffers.
#include "protocol/connection.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A connection whose replies can be read back from the other end of a
// socket pair.
class WireTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        connection.descriptor = ends[0];
        connection.sequence = 0x12345;
    }
    void TearDown() override
    {
        close(ends[0]);
        close(ends[1]);
    }
    std::vector<uint8_t> sent()
    {
        std::vector<uint8_t> bytes(8192);
        const ssize_t n = recv(ends[1], bytes.data(), bytes.size(), MSG_DONTWAIT);
        bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
        return bytes;
    }
    void setRequest(std::initializer_list<uint8_t> bytes)
    {
        std::copy(bytes.begin(), bytes.end(), connection.requestBuffer);
    }

    int ends[2] = {-1, -1};
    Connection connection;
};

TEST_F(WireTest, FinishPadsAndStoresTheLength)
{
    uint8_t buffer[64];
    ReplyWriter reply(buffer, sizeof buffer);
    reply.header(connection, 7);
    reply.put16(0xBEEF);
    reply.put8(1);
    reply.finish(connection, 3);
    std::vector<uint8_t> expected{0, 7, 0x45, 0x23};
    const uint32_t units = 3 + 3; // 12 bytes here, 3 units announced to follow
    const auto* raw = reinterpret_cast<const uint8_t*>(&units);
    expected.insert(expected.end(), raw, raw + 4);
    const uint16_t field = 0xBEEF;
    const auto* rawField = reinterpret_cast<const uint8_t*>(&field);
    expected.insert(expected.end(), rawField, rawField + 2);
    expected.insert(expected.end(), {1, 0});
    EXPECT_EQ(sent(), expected);
}

TEST_F(WireTest, OverflowNeverWritesPastTheBufferAndSendsNothing)
{
    uint8_t memory[24];
    std::memset(memory, 0xAA, sizeof memory);
    ReplyWriter reply(memory, 16);
    reply.header(connection);
    EXPECT_TRUE(reply.fits(8));
    EXPECT_FALSE(reply.fits(9));
    reply.put32(1);
    reply.put32(2);
    EXPECT_FALSE(reply.isOverflowed());
    reply.put8(3);
    EXPECT_TRUE(reply.isOverflowed());
    reply.putBytes(memory, 4);
    EXPECT_EQ(reply.size(), 16u);
    for (int i = 16; i < 24; i++)
        EXPECT_EQ(memory[i], 0xAA) << i;
    reply.finish(connection);
    EXPECT_TRUE(sent().empty());
}

TEST_F(WireTest, ErrorsCarryCodeSequenceAndOpcode)
{
    setRequest({19, 0, 2, 0});
    sendError(connection, BAD_FONT);
    EXPECT_EQ(sent(), (std::vector<uint8_t>{1, 2, 0x45, 0x23, 4, 0, 0, 0, 0, 0, 0, 0, 19, 0, 0, 0}));
}

TEST_F(WireTest, LengthCheckComparesTheDeclaredLength)
{
    struct Case {
        uint8_t units;
        int needed;
        bool accepted;
    } cases[] = {{0, 1, false}, {1, 4, true}, {1, 5, false}, {4, 16, true}, {3, 16, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.needed);
        setRequest({11, 2, c.units, 0});
        EXPECT_EQ(checkRequestLength(connection, c.needed), c.accepted);
        const std::vector<uint8_t> error = sent();
        EXPECT_EQ(error.size(), c.accepted ? 0u : 16u);
        if (!c.accepted) {
            EXPECT_EQ(error[1], BAD_LENGTH);
            EXPECT_EQ(error[12], 11);
        }
    }
}

TEST_F(WireTest, FieldsPastTheRequestBufferReadAsZero)
{
    std::memset(connection.requestBuffer, 0xFF, sizeof connection.requestBuffer);
    EXPECT_EQ(connection.get32(REQUEST_BUFFER_SIZE - 4), 0xFFFFFFFFu);
    EXPECT_EQ(connection.get32(REQUEST_BUFFER_SIZE - 3), 0u);
    EXPECT_EQ(connection.get16(REQUEST_BUFFER_SIZE - 1), 0u);
    EXPECT_EQ(connection.get8(REQUEST_BUFFER_SIZE), 0u);
    EXPECT_EQ(connection.get16(-2), 0u);
}

} // namespace
