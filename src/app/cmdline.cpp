#include "app/cmdline.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/settings.h"
#include "version.h"

namespace {

void print_banner() {
  std::printf(
      "Tamberline Tivel Helper %s\nReads this computer's WiFi information for the Tamberline WiFi "
      "Kestrune page, and nothing else.\nIt talks only to that page, saves nothing, and quits "
      "when you close the page (or press Ctrl+C).\n\n",
      kProgramVersion);
}

void print_help() {
  std::printf(
      "%s %s\nReads your computer's WiFi information for the Tamberline WiFi Kestrune\npage and "
      "nothing else. Run it, then go back to the page.\n\n  --version            print the "
      "version\n  --port N             listen on 127.0.0.1:N instead of %d-%d\n  --dev-origin "
      "URL     also allow this page origin (development only)\n",
      kProgramName, kProgramVersion, kFirstPort, kLastPort);
}

CommandLine finish(CommandLine line, int exit_code) {
  line.run = false;
  line.exit_code = exit_code;
  std::fflush(stdout);
  return line;
}

// Reads N like strtol in base 10 (leading white space, one sign, digits), clamped to the 32-bit
// range; text without a leading number gives 0.
int32_t parse_port_number(const char* text) {
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv) {
  CommandLine line{};
  line.run = true;

  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "--help") == 0) quiet = true;
  }
  if (!quiet) print_banner();

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool has_value = i + 1 < argc;
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("%s %s\n", kProgramName, kProgramVersion);
      return finish(line, 0);
    }
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      print_help();
      return finish(line, 0);
    }
    if (std::strcmp(arg, "--port") == 0 && has_value) {
      int32_t port = parse_port_number(argv[++i]);
      // A port the socket cannot take is refused rather than silently truncated to 16 bits,
      // which would make the log name a port the helper is not listening on.
      if (port != 0 && (port < 1 || port > 65535)) {
        print_help();
        return finish(line, 2);
      }
      line.port = port;
      continue;
    }
    if (std::strcmp(arg, "--dev-origin") == 0 && has_value) {
      std::snprintf(line.dev_origin, sizeof line.dev_origin, "%s", argv[++i]);
      continue;
    }
    if (std::strncmp(arg, "-psn_", 5) == 0) continue;
    print_help();
    return finish(line, 2);
  }
  return line;
}
