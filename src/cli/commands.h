// The lumivo-cli subcommands. Each area of the program adds its commands in its own
// cmd_*.cpp file and lists them in main.cpp.
#pragma once

#include "cli/cli_args.h"

namespace lumivo::cli {

struct Command {
    const char* name;
    const char* usage;    // the arguments, shown by "lumivo-cli help"
    const char* summary;  // one sentence: what the command does
    int (*run)(Args&);    // returns the exit status; throws UsageError on bad arguments
};

}  // namespace lumivo::cli
