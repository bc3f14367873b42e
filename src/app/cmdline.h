#pragma once

#include <cstddef>
#include <cstdint>

#include "base/sizes.h"

// What the command line asks for once parsed.
struct CommandLine {
  bool run;                             // false: the process ends now with `exit_code`
  int exit_code;                        // 0 after --version/--help/-h, 2 for an unusable argument
  int32_t port;                         // 0: try the default range
  char dev_origin[kDevOriginCapacity];  // cut to 255 characters; empty when not given
};

// Prints the banner (unless some argument is exactly --version, --help or -h), with `banner_note`
// (when not null) as one more line of it, and without the words about closing the page or Ctrl+C
// when `on_demand` (a service manager started it), then parses the
// arguments in order, printing the version or help text where they ask for it. An unknown
// argument, --port/--dev-origin without a value, a --port value that is not a whole decimal
// number from 1 to 65535, or a --dev-origin value that is no page origin is named on standard
// error with the reason, followed by the help there, and asks for exit code 2. --port=N and
// --dev-origin=URL are the same as the two-argument forms. Everything else goes to standard output.
CommandLine parse_command_line(int argc, const char* const* argv, const char* banner_note = nullptr,
                               bool on_demand = false);

// The value of --port as a port number: 1 to 65535 written in decimal digits only (no sign, no
// white space). Returns the port, or 0 when `text` is anything else.
int32_t parse_port_number(const char* text);

// The --dev-origin value as the browser sends it in Origin: "http(s)://host[:port]" with scheme and
// host in lower case, one trailing slash and the scheme's own port (80, 443) dropped. Writes it
// NUL-terminated to `out` and returns null, or returns why `text` is no origin (`out` left empty).
// An empty `text` is no origin at all: `out` stays empty and null is returned.
const char* normalize_origin(const char* text, char* out, size_t capacity);
