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

// Gives each of the descriptors 0, 1 and 2 that is closed a file of no
// consequence, so that no file the run opens later takes its number and is
// read as standard input or written as standard output or error: the null
// device for standard input and error, and for standard output the full
// device, which takes nothing, so that a run whose standard output was
// closed still fails for it. Called first, before anything is opened; a
// device that cannot be opened leaves its descriptor closed.
void hold_standard_descriptors();

// Makes a write past the process's file-size limit fail, as a full disk
// does, so that the run says it could not write its output, instead of
// being ended by the signal without a word.
void fail_writes_past_size_limit();
