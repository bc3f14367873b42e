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

// Prints the banner (unless some argument is exactly --version or --help), with `banner_note`
// (when not null) as one more line of it, then parses the
// arguments in order, printing the version or help text where they ask for it. An unknown
// argument, --port/--dev-origin without a value, or a --port value that is not a whole decimal
// number from 1 to 65535 is named on standard error with the reason, followed by the help there,
// and asks for exit code 2. Everything else goes to standard output.
CommandLine parse_command_line(int argc, const char* const* argv,
                               const char* banner_note = nullptr);

// The value of --port as a port number: 1 to 65535 written in decimal digits only (no sign, no
// white space). Returns the port, or 0 when `text` is anything else.
int32_t parse_port_number(const char* text);
