#pragma once

#include <string>
#include <vector>

/// The command-line flags of the program, all off unless given.
struct StartOptions {
    bool debug = false;       // "--debug" / "--no-debug": log level TRACE3, debug mode of the main window
    bool trace = false;       // "--trace" / "--no-trace": log level TRACE3
    bool output = false;      // "--output" / "--no-output": only reported in the log
    bool fullScreen = false;  // "--fullscreen": full screen, on top, not closable by the operator
    bool quit = false;        // "--quit": ask the running copy to stop, then end
};

/// Reads the arguments after the program's name, in order. An argument
/// counts as an option when it contains the option's text anywhere (case
/// matters), so "x--debugx" is "--debug". Within each on/off pair the later
/// one wins: an argument first turns an off flag on, then turns an on flag
/// off, so one argument holding both forms leaves the flag off.
StartOptions parseStartOptions(const std::vector<std::string>& arguments);
