#pragma once

// Std
#include <functional>

// Runs band(0) .. band(count - 1) at once: band 0 on the calling thread,
// every other one on a thread of its own; bands no thread can be had for
// run on the calling thread after band 0. Returns once all have ended, then
// throws again the exception of the first band (in band order) that threw.
// Anything else it throws (no memory for its bookkeeping) comes before any
// band has run.
void RunBands(int count, const std::function<void(int)> &band);
