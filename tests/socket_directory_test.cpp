// The checks on /tmp/.font-unix before the Unix socket is made. Each case
// runs in a /tmp of its own, so breaking the directory never disturbs the
// servers of other tests; the cases marked asUser run the server as an
// ordinary user.
#include "support/paths.h"
#include "support/process.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct DirectoryCase {
    const char* name;
    // Shell commands run as root in the fresh /tmp before the server starts.
    std::string setup;
    bool asUser;
    // What the script prints: the directory's mode and owner and the
    // socket's mode while the server runs, its exit status, what is left
    // in /tmp afterwards.
    std::string report;
    std::string err;
};

const std::string DIR = "/tmp/.font-unix";

TEST(SocketDirectory, ChecksMessagesAndStatuses)
{
    SKIP_WITHOUT_DATABASE();
    TestUser user;
    if (!testUser(user))
        GTEST_SKIP() << "a private /tmp and an ordinary user need root";

    // Every case replaces /tmp, even making it unreadable to the ordinary
    // user, so the server and its fonts must live elsewhere: a build tree
    // below /tmp is copied out first.
    std::unique_ptr<TempDir> staging;
    std::string binary = brasselBinary(), fonts = fixturePath("one_font");
    if (buildBelowTmp()) {
        staging = std::make_unique<TempDir>("/var/tmp/brassel-tests");
        ASSERT_EQ(runCommand({"cp", "-r", binary, fonts, staging->path()}).status, 0);
        binary = staging->file("brassel");
        fonts = staging->file("one_font");
    }
    TempDir scratch(staging ? staging->path() : std::string(BUILD_DIR) + "/test-tmp");

    // A database built beforehand keeps its messages out of the way.
    runBrassel({"--sync", "--dir", fonts, "--cache", scratch.path()});
    const std::string port = std::to_string(freePort());
    const std::string socket = DIR + "/fs" + port;
    const std::string prefix = "brassel: error: pre-existing socket directory " + DIR;

    const DirectoryCase cases[] = {
        {"absent, made by root", "", false,
         "dir 1777 root\nsocket 777\nstatus 0\nleft \n", ""},
        {"absent, ordinary user", "", true, "status 1\nleft \n",
         "brassel: error: cannot create socket directory " + DIR + " owned by root\n"},
        {"cannot be made", "mount -o remount,ro /tmp", false, "status 1\nleft \n",
         "brassel: error: cannot create socket directory " + DIR + "\n"},
        {"cannot be examined", "chmod 0700 /tmp", true, "status 1\nleft \n",
         "brassel: error: cannot get metadata for socket directory " + DIR + "\n"},
        {"neither writable nor sticky", "mkdir -m 0755 " + DIR, false, "dir 755 root\nstatus 1\nleft .font-unix\n",
         "brassel: warning: pre-existing socket directory " + DIR + " is not world-writable 0755\n" + prefix +
             " is missing the sticky bit 0755\n"},
        {"sticky but not writable by others", "mkdir -m 01775 " + DIR, false,
         "dir 1775 root\nsocket 777\nstatus 0\nleft \n",
         "brassel: warning: pre-existing socket directory " + DIR + " is not world-writable 01775\n"},
        {"writable but not sticky", "mkdir -m 0777 " + DIR, false, "dir 777 root\nstatus 1\nleft .font-unix\n",
         prefix + " is missing the sticky bit 0777\n"},
        {"symbolic link to a good directory", "mkdir -m 01777 /tmp/real && ln -s /tmp/real " + DIR, false,
         "dir 1777 root\nstatus 1\nleft .font-unix real\n", prefix + " is not a directory\n"},
        {"plain file", "touch " + DIR, false, "dir 644 root\nstatus 1\nleft .font-unix\n",
         prefix + " is not a directory\n"},
        {"owned by another user", "mkdir -m 01777 " + DIR + " && chown brasseltest " + DIR, false,
         "dir 1777 brasseltest\nstatus 1\nleft .font-unix\n", prefix + " not owned by root\n"},
        {"stale socket file is replaced", "mkdir -m 01777 " + DIR + " && touch " + socket, false,
         "dir 1777 root\nsocket 777\nstatus 0\nleft \n", ""},
        {"socket path taken by root's file", "mkdir -m 01777 " + DIR + " && touch " + socket, true,
         "dir 1777 root\nstatus 1\nleft .font-unix\n",
         "brassel: error: could not write to " + socket + ", please check permissions\n"},
        {"ordinary user in a good directory", "mkdir -m 01777 " + DIR, true,
         "dir 1777 root\nsocket 777\nstatus 0\nleft .font-unix\n", ""},
    };
    for (const DirectoryCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string run;
        if (c.asUser)
            for (const std::string& word : asTestUser(user))
                run += word + " ";
        run += "'" + binary + "' --notcp --port " + port + " --dir '" + fonts +
               "' --cache '" + scratch.path() + "'";
        // -L: report on what the link points to, as a user would look.
        const std::string script =
            c.setup + "\n" + run + " >/dev/null 2>'" + scratch.file("err") +
            "' & pid=$!; i=0; "
            "while [ $i -lt 200 ] && [ ! -S " + socket + " ] && kill -0 $pid 2>/dev/null; do sleep 0.05; i=$((i+1)); done; "
            "[ -e " + DIR + " ] && stat -L -c 'dir %a %U' " + DIR + "; "
            "[ -S " + socket + " ] && stat -c 'socket %a' " + socket + "; "
            "kill -TERM $pid 2>/dev/null; wait $pid; echo \"status $?\"; "
            "chmod 0755 /tmp; echo \"left $(ls -A /tmp | tr '\\n' ' ' | sed 's/ $//')\"";
        const CommandResult result = runInPrivateTmp(script, 60, false);
        EXPECT_EQ(result.out, c.report) << result.err;
        EXPECT_EQ(readFile(scratch.file("err")), c.err);
    }
}

} // namespace
