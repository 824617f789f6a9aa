// The command line: sixteen long options into ServerSettings.
#pragma once

struct StartupFlags {
    bool synchronise = false;
    bool ghostscriptList = false;
};

// Parses the arguments after the program name into `settings`. Ends the
// process itself for --help, --version, a bad --encoding list (status 0) and
// an argument that is no option (status 255).
StartupFlags parseCommandLine(int argc, char** argv);

// The usage line; with `full` also the options text and the attach hints.
void printUsage(bool full);
