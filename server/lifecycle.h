// Start-up order, detaching, the pid file and signals.
#pragma once

#include <csignal>
#include <sys/types.h>

// Set by the hang-up signal; the request loop re-synchronises the database
// between requests and clears it. Each process has its own copy.
extern volatile sig_atomic_t reloadRequested;
// Set once this process has written the pid file.
extern bool pidFileWritten;
// The accepting server process: the only one that removes the socket file,
// the socket directory and the pid file.
extern pid_t serverProcess;

// The whole program after main: options, start-up, endpoints, accept loop.
int runServer(int argc, char** argv);
