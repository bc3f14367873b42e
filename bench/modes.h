#pragma once

#include "options.h"

// The peer table (modes run and smoke): 0 when every peer answered every measure.
int run_peers(const Options& o);

// The idle comparison: 0 when both programs could be measured.
int run_idle(const Options& o);
