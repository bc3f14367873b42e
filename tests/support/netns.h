#pragma once

#include <string>

// Moves this process (and the children it starts later) into a fresh network namespace with the
// loopback interface up. Returns "" on success, else why it could not (e.g. not root).
std::string enter_private_netns();

// True once enter_private_netns succeeded in this process.
bool in_private_netns();
