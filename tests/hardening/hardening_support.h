#pragma once

// Shared by the soak and the hostile-page tests: what a healthy helper answers, and what the
// kernel says about the helper process.

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "support/helper_process.h"
#include "support/replies.h"
#include "support/ws_client.h"

// Number of open descriptors of process `pid` (entries of /proc/PID/fd), or -1.
int open_descriptors(pid_t pid);

// Resident set size of process `pid` in bytes (from /proc/PID/statm), or -1.
long resident_bytes(pid_t pid);

// Reads whatever log output the helper has written so far, so its pipe never fills.
void read_log(HelperProcess& helper);

// How many times `message` was logged: the lines equal to it (time stamps left out), and for a
// summary "<message> ... repeated N times" its N.
size_t count_lines(const HelperProcess& helper, const std::string& message);

// How many log lines begin with `prefix` (a page's lines end with its origin and slot), a
// summary of held-back repeats counting for the lines it stands for.
size_t count_lines_starting(const HelperProcess& helper, const std::string& prefix);

// A new page connects, gets the hello reply, closes with a close frame and sees 88 00 and the end
// of the connection. Empty on success, else what went wrong.
std::string fresh_page_problem(int port);
