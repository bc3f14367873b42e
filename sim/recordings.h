#pragma once

#include <string>

#include "fake_kernel.h"

// Replays datagrams recorded from a real kernel. A folder holds, per request NN (its nlmsg_seq),
// the request sent as NN-<name>-req.bin and the datagrams received as NN-<name>-K.bin, K from 0.

// A responder answering a request whose nlmsg_seq is NN with the datagrams NN-*-K.bin in order,
// then silence; a request without recordings meets silence. Empty (and *error set) when the
// folder cannot be read.
FakeResponder recordings_responder(const std::string& folder, std::string* error);

// The bytes of NN-*-req.bin in `folder`; empty when there is none.
Bytes recorded_request(const std::string& folder, int nn);

// The bytes of a whole file; empty when it cannot be read.
Bytes read_file_bytes(const std::string& path);
