#include "app/options.h"

namespace {

bool contains(const std::string& argument, const char* option) { return argument.find(option) != std::string::npos; }

void applyPair(const std::string& argument, const char* on, const char* off, bool& flag) {
    if (!flag && contains(argument, on)) flag = true;
    if (flag && contains(argument, off)) flag = false;
}

}  // namespace

StartOptions parseStartOptions(const std::vector<std::string>& arguments) {
    StartOptions options;
    for (const std::string& argument : arguments) {
        applyPair(argument, "--debug", "--no-debug", options.debug);
        applyPair(argument, "--trace", "--no-trace", options.trace);
        applyPair(argument, "--output", "--no-output", options.output);
        if (contains(argument, "--fullscreen")) options.fullScreen = true;
        if (contains(argument, "--quit")) options.quit = true;
    }
    return options;
}
