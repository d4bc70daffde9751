#pragma once

// Std
#include <functional>

// Runs work on a thread of Qt's global thread pool and waits for it. Qt
// spreads large fills and conversions over that pool unless the caller is
// one of its own threads, and for the small pictures of a fuzz run those
// hand-offs cost more than the drawing itself (hundreds of thread switches
// for one metafile). work must not throw.
void RunOnPoolThread(const std::function<void()> &work);
