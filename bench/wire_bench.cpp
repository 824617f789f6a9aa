// Latency of fonts on the wire, against the real server over TCP:
// OpenBitmapFont of DejaVu Sans at 16 pixels (which renders every glyph of
// the font), QueryXBitmaps16 for the codes 0x20 to 0xFF, and ListFonts "*"
// (a reply in two writes, which a client's delayed acknowledgements would
// stall without TCP_NODELAY on the server's side).
//
//   wire_bench [ROUNDS]
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    double total = 0;
    for (double t : times)
        total += t;
    std::printf("%-48s median %8.3f ms  mean %8.3f ms  min %8.3f ms  (%zu rounds)\n", what, times[times.size() / 2],
                total / times.size(), times.front(), times.size());
}

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    ServerProcess server;
    if (!server.start({"--dir", fixturePath("wire_fonts")}) || !server.waitListening()) {
        std::fprintf(stderr, "the server did not start: %s\n", server.err().c_str());
        return 1;
    }
    FsClient client;
    if (!client.connectTcp(server.port()) || !client.setup()) {
        std::fprintf(stderr, "cannot connect\n");
        return 1;
    }
    const std::string name = "-ttf-dejavu sans-medium-r-normal-book-16-0-0-0-p-0-iso8859-1";

    std::vector<double> opens;
    for (int i = 0; i < rounds; i++) {
        const auto start = Clock::now();
        const FsReply reply = client.request(openFontRequest(1, name), 60000);
        opens.push_back(millisecondsSince(start));
        if (!reply.isReply()) {
            std::fprintf(stderr, "OpenBitmapFont failed\n");
            return 1;
        }
        client.send(fontIdRequest(CLOSE_FONT, 1));
    }
    report("OpenBitmapFont DejaVu Sans 16 px", opens);

    client.request(openFontRequest(1, name));
    const auto query = bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, true, {0x20, 0xFF});
    std::vector<double> queries, converting;
    size_t bytes = 0;
    for (int i = 0; i < rounds * 10; i++) {
        const auto start = Clock::now();
        bytes = client.request(query).bytes.size();
        queries.push_back(millisecondsSince(start));
    }
    report("QueryXBitmaps16 0x20-0xFF, same layout", queries);
    // Alternating layouts: every request converts the font's bitmap data.
    for (int i = 0; i < rounds * 10; i++) {
        const uint32_t format = i % 2 ? FORMAT_LSB_PAD32 : 0x2203;
        const auto request = bitmapsRequest(QUERY_X_BITMAPS16, 1, format, true, {0x20, 0xFF});
        const auto start = Clock::now();
        client.request(request);
        converting.push_back(millisecondsSince(start));
    }
    report("QueryXBitmaps16 0x20-0xFF, layout changing", converting);
    std::printf("reply size %zu bytes\n", bytes);

    std::vector<uint8_t> body;
    append32(body, 1000);
    append16(body, 1);
    append16(body, 0);
    body.push_back('*');
    const auto listAll = makeRequest(13, 0, body);
    std::vector<double> listings;
    for (int i = 0; i < rounds * 10; i++) {
        const auto start = Clock::now();
        client.request(listAll);
        listings.push_back(millisecondsSince(start));
    }
    report("ListFonts \"*\"", listings);
    return 0;
}
