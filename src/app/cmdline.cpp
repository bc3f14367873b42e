#include "app/cmdline.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/decimal.h"
#include "base/settings.h"
#include "version.h"

namespace {

void print_banner(const char* note, bool on_demand) {
  std::printf(
      "Tamberline Tivel Helper %s\nReads this computer's WiFi information for the Tamberline WiFi "
      "Kestrune page, and nothing else.\nIt talks only to that page, saves nothing, and quits "
      "%s\n",
      kProgramVersion,
      on_demand ? "by itself once the page has gone."
                : "when you close the page (or press Ctrl+C).");
  if (note != nullptr) std::printf("%s\n", note);
  std::printf("\n");
}

void print_help(FILE* out) {
  std::fprintf(
      out,
      "%s %s\nReads this computer's WiFi information for the Tamberline WiFi Kestrune\npage and "
      "nothing else. Run it, then go back to the page.\n\n  --version            print the "
      "version\n  --help, -h           print this help\n  --port N             listen on "
      "127.0.0.1:N instead of %d-%d\n  --dev-origin URL     also allow this page origin "
      "(development only)\n\nMore in the manual: man %s\n",
      kProgramName, kProgramVersion, kFirstPort, kLastPort, kProgramName);
}

// The value of `arg` when it is `prefix` (an option name and "=") followed by the value, else null.
const char* option_value(const char* arg, const char* prefix) {
  size_t length = std::strlen(prefix);
  return std::strncmp(arg, prefix, length) == 0 ? arg + length : nullptr;
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

CommandLine parse_command_line(int argc, const char* const* argv, const char* banner_note,
                               bool on_demand) {
  CommandLine line{};
  line.run = true;

  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    // -h is --help's short form and prints the same, without the banner.
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "--help") == 0 ||
        std::strcmp(argv[i], "-h") == 0) {
      quiet = true;
    }
  }
  if (!quiet) print_banner(banner_note, on_demand);

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
    // The GNU forms --port=N and --dev-origin=URL carry their value in the same argument.
    const char* joined = option_value(arg, "--port=");
    if ((std::strcmp(arg, "--port") == 0 && has_value) || joined != nullptr) {
      const char* value = joined != nullptr ? joined : argv[++i];
      if (joined != nullptr) arg = "--port";
      // A value that is not plainly a port is refused: read loosely, "4780O" would listen on
      // 4780 and "abc" on the default range, neither of them where the person asked.
      line.port = parse_port_number(value);
      if (line.port == 0) {
        return refuse(line, arg, value, "not a port number (give a whole number from 1 to 65535)");
      }
      continue;
    }
    joined = option_value(arg, "--dev-origin=");
    if ((std::strcmp(arg, "--dev-origin") == 0 && has_value) || joined != nullptr) {
      const char* value = joined != nullptr ? joined : argv[++i];
      const char* why = normalize_origin(value, line.dev_origin, sizeof line.dev_origin);
      if (why != nullptr) return refuse(line, "--dev-origin", value, why);
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

const char* normalize_origin(const char* text, char* out, size_t capacity) {
  out[0] = '\0';
  if (text[0] == '\0') return nullptr;  // nothing given: no extra origin
  constexpr const char* kShape =
      "not a page origin (give http://host or http://host:port, such as "
      "http://localhost:8080)";
  size_t scheme = 0;
  while (std::isalpha(static_cast<unsigned char>(text[scheme]))) ++scheme;
  if (std::strncmp(text + scheme, "://", 3) != 0) return kShape;
  bool http = scheme == 4 && strncasecmp(text, "http", 4) == 0;
  bool https = scheme == 5 && strncasecmp(text, "https", 5) == 0;
  if (!http && !https) return "a page origin starts with http:// or https://";
  const char* host = text + scheme + 3;
  size_t host_length = 0;  // a name, an IPv4 address, or an IPv6 address in brackets
  if (host[0] == '[') {
    while (host[host_length] != '\0' && host[host_length] != ']') ++host_length;
    if (host[host_length] != ']') return kShape;
    ++host_length;
  } else {
    while (std::isalnum(static_cast<unsigned char>(host[host_length])) ||
           host[host_length] == '-' || host[host_length] == '.') {
      ++host_length;
    }
  }
  if (host_length == 0) return kShape;
  const char* rest = host + host_length;
  char port[8] = {};  // as the browser writes it: no leading zeros, no port the scheme implies
  size_t port_length = 0;
  if (rest[0] == ':') {
    ++rest;
    while (std::isdigit(static_cast<unsigned char>(rest[port_length]))) ++port_length;
    if (port_length == 0 || port_length >= sizeof port) return "not a port number after the host";
    std::memcpy(port, rest, port_length);
    rest += port_length;
    int32_t number = parse_port_number(port);
    if (number == 0) return "not a port number after the host";
    bool implied = (http && number == 80) || (https && number == 443);
    port_length = implied ? 0 : static_cast<size_t>(std::snprintf(port, sizeof port, "%d", number));
  }
  // One trailing slash, as an address bar shows it, is not a path.
  if (rest[0] == '/' && rest[1] == '\0') ++rest;
  if (rest[0] != '\0') {
    return "an origin is only scheme, host and port (no path, query or user), such as "
           "http://localhost:8080";
  }
  size_t length = scheme + 3 + host_length + (port_length != 0 ? 1 + port_length : 0);
  if (length >= capacity) return "too long for a page origin";
  size_t at = 0;
  for (size_t i = 0; i < scheme + 3 + host_length; ++i) {
    out[at++] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
  }
  if (port_length != 0) {
    out[at++] = ':';
    std::memcpy(out + at, port, port_length);
    at += port_length;
  }
  out[at] = '\0';
  return nullptr;
}
