// Process-wide settings from the command line; read-only once parsed.
#pragma once

#include <cstdint>

constexpr uint32_t UNSET_ID = 0xFFFFFFFEu;
constexpr int DEFAULT_PORT = 7101;
constexpr const char* DEFAULT_FONT_DIRECTORY = "/usr/local/share/fonts/TrueType";
constexpr const char* DEFAULT_PID_FILE = "/var/run/brassel.pid";

struct ServerSettings {
    const char* fontDirectory = DEFAULT_FONT_DIRECTORY;
    const char* cacheDirectory = DEFAULT_FONT_DIRECTORY;
    const char* pidFile = DEFAULT_PID_FILE;
    int port = DEFAULT_PORT;
    bool tcpEnabled = true;
    int forcedResolution = 0;
    bool unstrapped = false;
    uint32_t runUid = UNSET_ID;
    uint32_t runGid = UNSET_ID;
    bool forkPerClient = true;
    bool inetdMode = false;
    bool daemonMode = false;
};

extern ServerSettings settings;
