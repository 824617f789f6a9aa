// The listening endpoints (the Unix socket and TCP), the accept loop and the
// removal of what the server leaves in the file system.
#pragma once

#include <vector>

constexpr const char* SOCKET_DIRECTORY = "/tmp/.font-unix";

// Path of the Unix socket once it exists, else null.
extern const char* socketPath;
// Listening descriptors: the Unix socket first, then TCP in resolver order.
extern std::vector<int> listeners;

// Makes the socket directory checks and the Unix socket; exits with status 1
// on a fatal failure.
void createUnixEndpoint();
// Listens on TCP for every address the resolver offers, unless disabled;
// failures are logged and leave the server on its Unix socket.
void createTcpEndpoints();
// Serves clients until the process is to end; does not return.
[[noreturn]] void acceptLoop();

// Removes the pid file (when this process wrote it), the socket file and the
// socket directory (when empty). Only the accepting server process owns
// them: in a serving child it does nothing, so a child that is terminated
// or fails its user switch never cuts the running server off.
void cleanUp();
