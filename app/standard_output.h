#pragma once
// Whether what quor wrote to standard output arrived. Standard output is
// written both through std::cout and through stdio (printf, fputs); the
// stream is kept in step with stdio, so a failed write shows in either's
// error state.

// True when a write to standard output has failed so far; asks nothing of
// the system, so it may be called as often as wanted.
bool standard_output_failed();

// Writes out what is still held for standard output; false when that, or
// any earlier write, failed.
bool standard_output_flushed();
