#include "server/lifecycle.h"

#include "database/database.h"
#include "server/endpoints.h"
#include "server/messages.h"
#include "server/options.h"
#include "server/settings.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

volatile sig_atomic_t reloadRequested = 0;
bool pidFileWritten = false;
pid_t serverProcess = 0;

namespace {

// The signal can arrive while the process holds a C library lock (inside
// malloc, or fork taking the allocator's locks): exit() would run
// destructors and flush streams that need those locks and hang for good.
// _exit ends the process at once; stdout is flushed at the points after
// which the server only waits, so no message is lost.
void onTerminate(int)
{
    cleanUp();
    _exit(0);
}

void onHangUp(int)
{
    reloadRequested = 1;
}

void installHandler(int signal, void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

// The standard descriptors are pointed at /dev/null rather than left
// closed: a file or socket opened later would otherwise get descriptor 1 or
// 2 and receive every message written after detaching.
void detachStandardStreams()
{
    const int null = open("/dev/null", O_RDWR);
    for (int standard = 0; standard <= 2; standard++) {
        if (null >= 0)
            dup2(null, standard);
        else
            close(standard);
    }
    if (null > 2)
        close(null);
}

// inetd usually hands the client's socket over as all three standard
// descriptors: messages written to it would land in the protocol stream, so
// under inetd they go to /dev/null instead, as with --daemon, and to the
// system log.
void silenceSocketStreams()
{
    for (int standard = 1; standard <= 2; standard++) {
        struct stat status;
        if (fstat(standard, &status) != 0 || !S_ISSOCK(status.st_mode))
            continue;
        logToSystemLog();
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0)
            continue;
        dup2(null, standard);
        close(null);
    }
}

void daemonize()
{
    std::fflush(nullptr);
    if (fork() != 0)
        _exit(0);
    detachStandardStreams();
    setsid();
    if (fork() != 0)
        _exit(0);
}

void writePidFile()
{
    FILE* file = std::fopen(settings.pidFile, "w");
    if (file == nullptr)
        return;
    std::fprintf(file, "%d\n", static_cast<int>(getpid()));
    std::fclose(file);
    pidFileWritten = true;
}

[[noreturn]] void failStartup(const char* message)
{
    logError("%s", message);
    if (pidFileWritten)
        unlink(settings.pidFile);
    std::exit(1);
}

void openOrRegenerateDatabase()
{
    if (openDatabase() > 0)
        return;
    releaseDatabase();
    logWarning("opening font database failed, while reading \"%s\" to build it; trying to regenerate it",
               settings.fontDirectory);
    if (syncDatabase(false) < 1)
        failStartup("cannot regenerate font database");
    if (openDatabase() <= 0)
        failStartup("cannot reopen regenerated font database");
}

} // namespace

int runServer(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    const StartupFlags flags = parseCommandLine(argc, argv);
    if (flags.synchronise) {
        if (syncDatabase(flags.ghostscriptList) < 1)
            logError("sync failed");
        return 0;
    }
    if (settings.inetdMode)
        silenceSocketStreams();
    if (settings.daemonMode) {
        // Detached, the standard streams lead to /dev/null: the system log
        // is where a daemon's messages can be read.
        logToSystemLog();
        daemonize();
    }
    serverProcess = getpid();
    if (settings.runUid == UNSET_ID) {
        settings.runUid = getuid();
        settings.runGid = getgid();
    }
    if (settings.daemonMode)
        writePidFile();
    installHandler(SIGINT, onTerminate);
    installHandler(SIGTERM, onTerminate);
    openOrRegenerateDatabase();

    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ignore.sa_flags = SA_RESTART;
    sigaction(SIGCHLD, &ignore, nullptr);
    installHandler(SIGHUP, onHangUp);

    createUnixEndpoint();
    createTcpEndpoints();
    std::fflush(stdout);
    acceptLoop();
}
