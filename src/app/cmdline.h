#pragma once

#include <cstdint>

#include "base/sizes.h"

// What the command line asks for once parsed.
struct CommandLine {
  bool run;                             // false: the process ends now with `exit_code`
  int exit_code;                        // 0 after --version/--help/-h, 2 for an unusable argument
  int32_t port;                         // 0: try the default range
  char dev_origin[kDevOriginCapacity];  // cut to 255 characters; empty when not given
};

// Prints the banner (unless some argument is exactly --version or --help), then parses the
// arguments in order, printing the version or help text where they ask for it. An unknown
// argument, --port/--dev-origin without a value, or a port outside 1..65535 prints the help and
// asks for exit code 2. Writes only to standard output.
CommandLine parse_command_line(int argc, const char* const* argv);
