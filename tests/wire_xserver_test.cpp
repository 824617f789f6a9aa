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

// The stock Xvfb on a free display number, using the rebuilt font library;
// killed when the object goes.
class VirtualDisplay {
public:
    bool start()
    {
        for (number = 70; number < 100; number++)
            if (!exists("/tmp/.X" + std::to_string(number) + "-lock") &&
                !exists("/tmp/.X11-unix/X" + std::to_string(number)))
                break;
        process = fork();
        if (process == 0) {
            setenv("LD_LIBRARY_PATH", FONT_LIBRARY.c_str(), 1);
            const int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            // Without -noreset it forgets the font path when its last
            // client leaves.
            const std::string display = ":" + std::to_string(number);
            execlp("Xvfb", "Xvfb", display.c_str(), "-noreset", "-nolisten", "tcp", "-screen", "0", "800x200x24",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        for (int i = 0; i < 100; i++) {
            if (exists(socket))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

    ~VirtualDisplay()
    {
        if (process > 0) {
            kill(process, SIGTERM);
            waitpid(process, nullptr, 0);
        }
    }

    // argv run with DISPLAY set to this display.
    CommandResult run(std::vector<std::string> argv) const
    {
        argv.insert(argv.begin(), {"env", "DISPLAY=:" + std::to_string(number)});
        return runCommand(argv);
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

TEST(XServer, DrawsTextInAServedFont)
{
    SKIP_WITHOUT_DATABASE();
    if (FONT_LIBRARY.empty())
        GTEST_SKIP() << "no font library with the font-service client: run tools/build_xfont.sh "
                     << BUILD_DIR << "/xfont";
    ASSERT_TRUE(exists(PROBE)) << "xtext_probe was not built (Xlib development files missing?)";
    ServerProcess server;
    ASSERT_TRUE(server.start({"--dir", fixturePath("wire_fonts")}));
    ASSERT_TRUE(server.waitListening()) << server.err();
    VirtualDisplay display;
    ASSERT_TRUE(display.start());

    const std::string element = "tcp/localhost:" + std::to_string(server.port());
    const CommandResult attach = display.run({"xset", "+fp", element});
    ASSERT_EQ(attach.status, 0) << attach.err;
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

} // namespace
