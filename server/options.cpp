#include "server/options.h"

#include "encoding/encoding.h"
#include "server/messages.h"
#include "server/settings.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pwd.h>

namespace {

constexpr const char* PROGRAM_NAME = "brassel";
constexpr const char* VERSION = "1.11";
constexpr int EXIT_STRAY_ARGUMENT = 255;

enum class Option {
    gslist, sync, port, notcp, res, dir, user, pidfile, cache, encoding,
    help, version, inetd, once, unstrap, daemon,
};

struct OptionName {
    const char* name;
    Option option;
    bool takesValue;
};

// Compared in this order; the first equal name decides.
constexpr OptionName OPTIONS[] = {
    {"--gslist", Option::gslist, false},
    {"--sync", Option::sync, false},
    {"--port", Option::port, true},
    {"--notcp", Option::notcp, false},
    {"--res", Option::res, true},
    {"--dir", Option::dir, true},
    {"--user", Option::user, true},
    {"--pidfile", Option::pidfile, true},
    {"--cache", Option::cache, true},
    {"--encoding", Option::encoding, true},
    {"--help", Option::help, false},
    {"--version", Option::version, false},
    {"--inetd", Option::inetd, false},
    {"--once", Option::once, false},
    {"--unstrap", Option::unstrap, false},
    {"--daemon", Option::daemon, false},
};

const OptionName* findOption(const char* argument)
{
    for (const OptionName& option : OPTIONS)
        if (std::strcmp(option.name, argument) == 0)
            return &option;
    return nullptr;
}

// The run of decimal digits at the start of `text`; -1 when it does not start
// with one. Reading stops at the first other character. A run too long for
// an int is held at the largest int rather than wrapping.
int leadingNumber(const char* text)
{
    if (*text < '0' || *text > '9')
        return -1;
    long value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > INT_MAX)
            value = INT_MAX;
    }
    return static_cast<int>(value);
}

// The last entry of the user database with this exact name wins.
void lookUpUser(const char* name)
{
    setpwent();
    while (const passwd* entry = getpwent()) {
        if (std::strcmp(entry->pw_name, name) == 0) {
            settings.runUid = entry->pw_uid;
            settings.runGid = entry->pw_gid;
        }
    }
    endpwent();
}

[[noreturn]] void rejectEncodingList()
{
    logError("illegal encoding!");
    logInfo("valid encodings are:");
    for (const Encoding* encoding : encodingRegistry())
        logInfo("\t%s", encoding->name.c_str());
    std::exit(0);
}

} // namespace

void printUsage(bool full)
{
    std::printf("Usage: %s [<options>]\n\n", PROGRAM_NAME);
    if (!full)
        return;
    std::printf("Options: \n"
                "  --sync               sync database with font directory content\n"
                "  --gslist             print ghostscript style ttf fontlist\n"
                "  --port <value>       change port number (default %i)\n"
                "  --notcp              don't open TCP socket, use unix domain only\n"
                "  --dir <directory>    change font directory (default %s)\n"
                "  --cache <directory>  change font cache directory (default %s)\n"
                "  --pidfile <file>     change pid file location (default %s)\n"
                "  --res <value>        force default resolution to this value\n"
                "  --encoding <list>    change encoding (default %s)\n"
                "  --unstrap            !DANGER! serve all unicodes !DANGER!\n"
                "  --user <username>    username that children should run as\n"
                "  --once               exit after the font client disconnects\n"
                "  --daemon             run in the background\n"
                "  --inetd              run as inetd service\n"
                "  --help               show this help message\n"
                "  --version            show the version\n"
                "\n",
                DEFAULT_PORT, DEFAULT_FONT_DIRECTORY, DEFAULT_FONT_DIRECTORY, DEFAULT_PID_FILE,
                activeEncodings()[0]->name.c_str());
    std::printf("Attach to X Server by \"xset fp+ unix/:%i\"\n  or \"xset fp+ inet/127.0.0.1:%i\"\n",
                DEFAULT_PORT, DEFAULT_PORT);
    std::printf("Detach from X Server by \"xset -fp unix/:%u\"\n  or \"xset -fp inet/127.0.0.1:%i\"\n",
                static_cast<unsigned>(DEFAULT_PORT), DEFAULT_PORT);
}

StartupFlags parseCommandLine(int argc, char** argv)
{
    StartupFlags flags;
    for (int i = 1; i < argc; i++) {
        const OptionName* option = findOption(argv[i]);
        // A value option with nothing after it has no value to take: it is
        // refused like any argument that is no option.
        if (option == nullptr || (option->takesValue && i + 1 >= argc)) {
            printUsage(false);
            std::exit(EXIT_STRAY_ARGUMENT);
        }
        const char* value = option->takesValue ? argv[++i] : nullptr;
        switch (option->option) {
        case Option::gslist:
            flags.synchronise = true;
            flags.ghostscriptList = true;
            break;
        case Option::sync:
            flags.synchronise = true;
            break;
        case Option::port: {
            const int port = leadingNumber(value);
            if (port <= 0) {
                logError("illegal port number!");
                settings.port = DEFAULT_PORT;
            } else {
                settings.port = port;
            }
            break;
        }
        case Option::notcp:
            settings.tcpEnabled = false;
            break;
        case Option::res: {
            const int resolution = leadingNumber(value);
            if (resolution <= 0)
                logError("illegal default resolution!");
            else
                settings.forcedResolution = resolution;
            break;
        }
        case Option::dir:
            settings.fontDirectory = value;
            break;
        case Option::user:
            lookUpUser(value);
            break;
        case Option::pidfile:
            settings.pidFile = value;
            break;
        case Option::cache:
            settings.cacheDirectory = value;
            break;
        case Option::encoding:
            if (parseEncodingList(activeEncodings(), value) < 1)
                rejectEncodingList();
            break;
        case Option::help:
            printUsage(true);
            std::exit(0);
        case Option::version:
            std::printf("%s %s\n", PROGRAM_NAME, VERSION);
            std::exit(0);
        case Option::inetd:
            settings.inetdMode = true;
            settings.forkPerClient = false;
            break;
        case Option::once:
            settings.forkPerClient = false;
            break;
        case Option::unstrap:
            settings.unstrapped = true;
            logWarning("[unstrapped] you must start X11 with \"-deferglyphs 16\" option!");
            break;
        case Option::daemon:
            settings.daemonMode = true;
            break;
        }
    }
    return flags;
}
