#include "app/cmdline.h"

#include <cstdio>
#include <cstring>

#include "base/decimal.h"
#include "base/settings.h"
#include "version.h"

namespace {

void print_banner(const char* note) {
  std::printf(
      "Tamberline Tivel Helper %s\nReads this computer's WiFi information for the Tamberline WiFi "
      "Kestrune page, and nothing else.\nIt talks only to that page, saves nothing, and quits "
      "when you close the page (or press Ctrl+C).\n",
      kProgramVersion);
  if (note != nullptr) std::printf("%s\n", note);
  std::printf("\n");
}

void print_help(FILE* out) {
  std::fprintf(
      out,
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

// A refused argument: the argument (and its value, when it has one), what is wrong with it, then
// the usage, all on standard error so the person sees them together even when standard output
// goes elsewhere. The banner already printed leaves first.
CommandLine refuse(CommandLine line, const char* argument, const char* value, const char* why) {
  std::fflush(stdout);
  if (value != nullptr) {
    std::fprintf(stderr, "%s: %s \"%s\": %s\n\n", kProgramName, argument, value, why);
  } else {
    std::fprintf(stderr, "%s: %s: %s\n\n", kProgramName, argument, why);
  }
  print_help(stderr);
  std::fflush(stderr);
  return finish(line, 2);
}

}  // namespace

CommandLine parse_command_line(int argc, const char* const* argv, const char* banner_note) {
  CommandLine line{};
  line.run = true;

  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "--help") == 0) quiet = true;
  }
  if (!quiet) print_banner(banner_note);

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    bool has_value = i + 1 < argc;
    if (std::strcmp(arg, "--version") == 0) {
      std::printf("%s %s\n", kProgramName, kProgramVersion);
      return finish(line, 0);
    }
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      print_help(stdout);
      return finish(line, 0);
    }
    if (std::strcmp(arg, "--port") == 0 && has_value) {
      const char* value = argv[++i];
      // A value that is not plainly a port is refused: read loosely, "4780O" would listen on
      // 4780 and "abc" on the default range, neither of them where the person asked.
      line.port = parse_port_number(value);
      if (line.port == 0) {
        return refuse(line, arg, value, "not a port number (give a whole number from 1 to 65535)");
      }
      continue;
    }
    if (std::strcmp(arg, "--dev-origin") == 0 && has_value) {
      std::snprintf(line.dev_origin, sizeof line.dev_origin, "%s", argv[++i]);
      continue;
    }
    if (std::strncmp(arg, "-psn_", 5) == 0) continue;
    if (std::strcmp(arg, "--port") == 0) {
      return refuse(line, arg, nullptr, "needs a port number after it");
    }
    if (std::strcmp(arg, "--dev-origin") == 0) {
      return refuse(line, arg, nullptr,
                    "needs a page origin after it (such as http://localhost:8080)");
    }
    return refuse(line, arg, nullptr, "unknown argument");
  }
  return line;
}

int32_t parse_port_number(const char* text) {
  uint64_t port = 0;
  return parse_decimal(text, 65535, &port) ? static_cast<int32_t>(port) : 0;
}
