// An X server drawing text in a served font: the stock Xvfb, started with
// the font library built with its font-service client (tools/build_xfont.sh
// puts it in the build tree), gets the server's TCP address as a font path
// element, lists the served fonts and draws a line of text through the
// probe program; the test checks the ink and the advances against what the
// server itself reports, and keeps a picture of the window.
#include "support/fs_fonts.h"
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <map>
#include <sstream>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Where tools/build_xfont.sh put the library: this build tree's xfont/, or
// the build/xfont/ that tools/test.sh makes for every build tree.
std::string fontLibrary()
{
    for (const std::string& place : {std::string(BUILD_DIR) + "/xfont/lib", std::string(SOURCE_DIR) + "/build/xfont/lib"})
        if (exists(place + "/libXfont2.so.2"))
            return place;
    return "";
}

const std::string FONT_LIBRARY = fontLibrary();
const std::string PROBE = std::string(BUILD_DIR) + "/xtext_probe";
const std::string MALLOC_DEBUG = "/lib/x86_64-linux-gnu/libc_malloc_debug.so.0";

// The stock Xvfb on a free display number, using the rebuilt font library;
// killed when the object goes.
class VirtualDisplay {
public:
    bool start()
    {
        // Xvfb picks a free display number itself and writes it to the
        // pipe once it listens: tests running side by side then never
        // share a number, as two of them probing for a free one could.
        int ready[2];
        if (pipe(ready) != 0)
            return false;
        process = fork();
        if (process == 0) {
            close(ready[0]);
            setenv("LD_LIBRARY_PATH", FONT_LIBRARY.c_str(), 1);
            // glibc's checking allocator: a write past a heap block ends
            // the X server at the next allocation instead of going unseen.
            if (exists(MALLOC_DEBUG))
                setenv("LD_PRELOAD", MALLOC_DEBUG.c_str(), 1);
            setenv("MALLOC_CHECK_", "3", 1);
            setenv("MALLOC_PERTURB_", "165", 1);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            // Without -noreset it forgets the font path when its last
            // client leaves.
            const std::string fd = std::to_string(ready[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0",
                   "800x200x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        std::string digits;
        char c;
        // Xvfb writes the number and a newline; a dead one closes the pipe.
        while (read(ready[0], &c, 1) == 1 && c != '\n')
            digits += c;
        close(ready[0]);
        if (digits.empty() || process < 0)
            return false;
        number = std::stoi(digits);
        return true;
    }

    ~VirtualDisplay()
    {
        if (process <= 0)
            return;
        // An X server that broke its heap can hang in its own abort path.
        kill(process, SIGTERM);
        for (int i = 0; i < 50 && waitpid(process, nullptr, WNOHANG) == 0; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (kill(process, 0) == 0) {
            kill(process, SIGKILL);
            waitpid(process, nullptr, 0);
        }
    }

    // argv run with DISPLAY set to this display.
    CommandResult run(std::vector<std::string> argv) const
    {
        argv.insert(argv.begin(), {"env", "DISPLAY=:" + std::to_string(number)});
        return runCommand(argv);
    }

    std::string name() const { return ":" + std::to_string(number); }

    bool running() const { return process > 0 && waitpid(process, nullptr, WNOHANG) == 0; }

    // Puts the font server at `port` on the font path.
    bool attach(int port) const
    {
        return run({"xset", "+fp", "tcp/localhost:" + std::to_string(port)}).status == 0;
    }

private:
    int number = 0;
    pid_t process = -1;
};

std::map<std::string, std::string> keyValues(const std::string& text)
{
    std::map<std::string, std::string> values;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (const size_t equals = line.find('='); equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    return values;
}

#define SKIP_WITHOUT_X_SERVER()                                                                       \
    do {                                                                                              \
        SKIP_WITHOUT_DATABASE();                                                                      \
        if (FONT_LIBRARY.empty())                                                                     \
            GTEST_SKIP() << "no font library with the font-service client: run tools/build_xfont.sh " \
                         << BUILD_DIR << "/xfont";                                                   \
        ASSERT_TRUE(exists(PROBE)) << "xtext_probe was not built (Xlib development files missing?)";  \
    } while (0)

TEST(XServer, DrawsTextInAServedFont)
{
    SKIP_WITHOUT_X_SERVER();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--dir", fixturePath("wire_fonts")}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    VirtualDisplay display;
    ASSERT_TRUE(display.start());

    const std::string element = "tcp/localhost:" + std::to_string(server.port());
    ASSERT_TRUE(display.attach(server.port()));
    const CommandResult path = display.run({"xset", "q"});
    EXPECT_NE(path.out.find(element), std::string::npos) << path.out;

    const CommandResult listed =
        display.run({"xlsfonts", "-fn", "-*-dejavu sans-medium-r-normal-book-0-0-0-0-p-0-iso8859-1"});
    EXPECT_NE(listed.out.find("-ttf-dejavu sans-medium-r-normal-book-0-0-0-0-p-0-iso8859-1"), std::string::npos)
        << listed.out << listed.err;

    const std::string name = "-ttf-dejavu sans-medium-r-normal-book-24-0-0-0-p-0-iso8859-1";
    const std::string text = "Hello, brassel!";
    const std::string picture = std::string(BUILD_DIR) + "/xserver_text.png";
    const CommandResult probe = display.run({PROBE, name, text, picture});
    ASSERT_EQ(probe.status, 0) << probe.out << probe.err;
    auto values = keyValues(probe.out);
    EXPECT_TRUE(exists(picture));

    // The advances the X server uses are the ones the font server reports.
    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.setup());
    ASSERT_TRUE(client.request(openFontRequest(1, name)).isReply());
    const std::vector<uint16_t> codes(text.begin(), text.end());
    const std::vector<Extent> served = extentsOf(client.request(extentsRequest(QUERY_X_EXTENTS8, 1, false, codes)));
    ASSERT_EQ(served.size(), text.size());
    std::string advances;
    int width = 0, inkTop = 0;
    for (const Extent& e : served) {
        advances += (advances.empty() ? "" : ",") + std::to_string(e[2]);
        width += e[2];
        inkTop = std::max<int>(inkTop, e[3]);
    }
    EXPECT_EQ(values["advances"], advances);
    EXPECT_EQ(values["text_width"], std::to_string(width));

    // Ink where the text was drawn: from the pen to the line's width, up to
    // the tallest glyph's ascent above the baseline and down to the comma.
    ASSERT_GT(std::stoi(values["ink_pixels"]), 400) << probe.out;
    EXPECT_GE(std::stoi(values["ink_left"]), 0);
    EXPECT_LE(std::stoi(values["ink_right"]), width);
    EXPECT_GT(std::stoi(values["ink_right"]), width * 9 / 10);
    EXPECT_LE(std::stoi(values["ink_top"]), inkTop);
    EXPECT_GT(std::stoi(values["ink_top"]), 12);
    EXPECT_GT(std::stoi(values["ink_bottom"]), 0) << "the comma reaches below the baseline";
    EXPECT_LT(std::stoi(values["ink_bottom"]), 8);
}

// The font server restarted while an X server is still attached to it
// (its serving child lives on): another X server that adds the restarted
// server to its font path is answered at once and lists its fonts.
TEST(XServer, RestartWhileAttachedServesANewXServerAtOnce)
{
    SKIP_WITHOUT_DATABASE();
    if (FONT_LIBRARY.empty())
        GTEST_SKIP() << "no font library with the font-service client: run tools/build_xfont.sh "
                     << BUILD_DIR << "/xfont";
    ServerProcess first;
    ASSERT_TRUE(first.start({"--dir", fixturePath("wire_fonts")}));
    ASSERT_TRUE(first.waitListening()) << first.err();
    const std::string element = "tcp/localhost:" + std::to_string(first.port());
    VirtualDisplay attached;
    ASSERT_TRUE(attached.start());
    const CommandResult attach = attached.run({"xset", "+fp", element});
    ASSERT_EQ(attach.status, 0) << attach.err;
    ASSERT_EQ(first.stop(SIGTERM), 0);

    ServerProcess second;
    ASSERT_TRUE(second.start({"--dir", fixturePath("wire_fonts"), "--port", std::to_string(first.port()), "--cache",
                              first.cacheDirectory()}));
    // Served on its own Unix socket: its endpoints, TCP included, are made.
    FsClient local;
    for (int i = 0; i < 100 && !local.connectUnix(second.socketPath()); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(local.setup()) << second.err();

    VirtualDisplay fresh;
    ASSERT_TRUE(fresh.start());
    const auto start = std::chrono::steady_clock::now();
    const CommandResult added = fresh.run({"xset", "+fp", element});
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_LT(took, std::chrono::seconds(5));
    const CommandResult listed =
        fresh.run({"xlsfonts", "-fn", "-*-dejavu sans-medium-r-normal-book-0-0-0-0-p-0-iso8859-1"});
    EXPECT_NE(listed.out.find("-ttf-dejavu sans-medium-r-normal-book-0-0-0-0-p-0-iso8859-1"), std::string::npos)
        << listed.out << listed.err;
}

TEST(XServer, GlyphsSharedBySeveralCodesKeepTheXServerWhole)
{
    // Liberation Sans draws the hyphen and the soft hyphen with one glyph.
    // Opening a one-row font, the X server asks for every bitmap at once
    // and copies each character's bitmap after the previous one into a
    // block as large as the reply's data; the 16-bit Unicode listing of
    // the font used to overrun that block by the shared glyph.
    SKIP_WITHOUT_X_SERVER();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--dir", fixturePath("wire_fonts")}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    VirtualDisplay display;
    ASSERT_TRUE(display.start());
    ASSERT_TRUE(display.attach(server.port()));

    for (const std::string charset : {"iso10646-1", "iso8859-1"}) {
        SCOPED_TRACE(charset);
        const std::string name = "-ttf-liberation sans-medium-r-normal-regular-16-0-0-0-p-0-" + charset;
        const CommandResult listed = display.run({"xlsfonts", "-ll", "-fn", name});
        EXPECT_EQ(listed.status, 0) << listed.err;
        EXPECT_NE(listed.out.find("FONT"), std::string::npos) << listed.out;
        ASSERT_TRUE(display.running()) << "the X server died opening the font";

        // Both characters drawn: the soft hyphen exactly as the hyphen.
        const CommandResult soft = display.run({PROBE, name, "a-\xAD" "b"});
        const CommandResult hard = display.run({PROBE, name, "a--b"});
        ASSERT_EQ(soft.status, 0) << soft.out << soft.err;
        ASSERT_EQ(hard.status, 0) << hard.out << hard.err;
        auto softValues = keyValues(soft.out), hardValues = keyValues(hard.out);
        EXPECT_GT(std::stoi(hardValues["ink_pixels"]), 40) << hard.out;
        for (const char* key : {"advances", "ink_pixels", "ink_left", "ink_right", "ink_top", "ink_bottom"})
            EXPECT_EQ(softValues[key], hardValues[key]) << key;
        ASSERT_TRUE(display.running());
    }
}

TEST(XServer, LargeSizesAreDrawnFromTheirOwnBitmaps)
{
    // At 700 pixels the bitmaps of DejaVu Sans's Latin-1 range take some
    // 6 MB, more than the 4 MB reply buffer. The X server fetches them all
    // at once when it opens the font; a character whose bitmap it did not
    // get is drawn from whatever lies in its memory. What it draws must be
    // the ink of the served bitmap, bit for bit.
    SKIP_WITHOUT_X_SERVER();
    ServerProcess server;
    ASSERT_TRUE(server.start({"--dir", fixturePath("wire_fonts")}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    VirtualDisplay display;
    ASSERT_TRUE(display.start());
    ASSERT_TRUE(display.attach(server.port()));
    const std::string name = "-ttf-dejavu sans-medium-r-normal-book-700-0-0-0-p-0-iso8859-1";

    FsClient client;
    ASSERT_TRUE(client.connectTcp(server.port()));
    ASSERT_TRUE(client.setup());
    ASSERT_TRUE(client.request(openFontRequest(1, name), 60000).isReply());
    for (const uint8_t code : {0xFCu, 0xFDu, 0xFEu, 0xFFu}) {
        SCOPED_TRACE(int(code));
        const Bitmaps served = bitmapsOf(
            client.request(bitmapsRequest(QUERY_X_BITMAPS16, 1, FORMAT_LSB_PAD32, false, {code}), 60000));
        ASSERT_EQ(served.entries.size(), 1u);
        long ink = 0;
        for (uint8_t byte : served.data)
            ink += __builtin_popcount(byte);
        ASSERT_GT(ink, 1000);
        const CommandResult probe = display.run({PROBE, name, std::string(1, char(code))});
        ASSERT_EQ(probe.status, 0) << probe.out << probe.err;
        EXPECT_EQ(keyValues(probe.out)["ink_pixels"], std::to_string(ink)) << probe.out;
    }
}

// The pids of a process's children.
std::vector<pid_t> childrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    std::istringstream in(
        readFile("/proc/" + std::to_string(parent) + "/task/" + std::to_string(parent) + "/children"));
    for (pid_t child; in >> child;)
        children.push_back(child);
    return children;
}

TEST(XServer, FontPropertyNamesTheFontForReopening)
{
    // With --unstrap a font has many rows and the X server fetches glyphs
    // as text needs them. When its connection to the font server breaks,
    // it reconnects and opens such a font again under the value of its
    // FONT property before it fetches more: that value, as the X server
    // holds it, must open the same font on the restarted server.
    SKIP_WITHOUT_X_SERVER();
    const std::vector<std::string> arguments = {"--dir", fixturePath("wire_fonts"), "--unstrap"};
    ServerProcess first;
    ASSERT_TRUE(first.start(arguments));
    ASSERT_TRUE(first.waitListening()) << first.err();
    VirtualDisplay display;
    ASSERT_TRUE(display.start());
    ASSERT_TRUE(display.attach(first.port()));
    const std::string pattern = "-*-dejavu sans-*-*-*-*-20-*-*-*-*-*-iso10646-1";
    const CommandResult probe = display.run({PROBE, pattern, "Hello"});
    ASSERT_EQ(probe.status, 0) << probe.out << probe.err;
    const std::string property = keyValues(probe.out)["font_property"];
    EXPECT_EQ(property, "-ttf-dejavu sans-medium-r-normal-book-20-150-96-96-p-0-iso10646-1");

    // The server and the process serving the X server end; a new one
    // opens the font under the property's value as the X server would.
    const std::vector<pid_t> serving = childrenOf(first.pid());
    first.stop();
    for (pid_t child : serving)
        kill(child, SIGKILL);
    ServerProcess second;
    ASSERT_TRUE(second.start(arguments));
    ASSERT_TRUE(second.waitListening()) << second.err();
    FsClient client;
    ASSERT_TRUE(client.connectTcp(second.port()));
    ASSERT_TRUE(client.setup());
    ASSERT_TRUE(client.request(openFontRequest(1, pattern)).isReply());
    ASSERT_TRUE(client.request(openFontRequest(2, property)).isReply()) << property;
    const FsReply info = client.request(fontIdRequest(QUERY_X_INFO, 1));
    FsReply again = client.request(fontIdRequest(QUERY_X_INFO, 2));
    ASSERT_TRUE(info.isReply());
    ASSERT_TRUE(again.isReply());
    again.bytes[2] = info.bytes[2];
    again.bytes[3] = info.bytes[3];
    EXPECT_EQ(again.bytes, info.bytes);
    EXPECT_EQ(extentsOf(client.request(extentsRequest(QUERY_X_EXTENTS16, 2, true, {}))),
              extentsOf(client.request(extentsRequest(QUERY_X_EXTENTS16, 1, true, {}))));
    EXPECT_TRUE(display.running());
}

} // namespace
