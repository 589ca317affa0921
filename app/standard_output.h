#pragma once
// Whether what quor wrote to standard output arrived. Standard output is
// written both through std::cout and through stdio (printf, fputs); the
// stream is kept in step with stdio, so a failed write shows in either's
// error state.

// True when a write to standard output has failed so far (the release of what
// was held among them); asks the system nothing, so call it as often as wanted.
bool standard_output_failed();

// Writes out what is still held for standard output; false when that, or
// any earlier write, failed.
bool standard_output_flushed();

// Gives each closed descriptor of 0, 1 and 2 a file of no consequence, so no
// file the run opens later takes its number and is read or written as a
// standard stream: the null device for input and error, and for output the
// full device, which takes nothing, so a run whose standard output was closed
// still fails for it. Called before anything is opened; a device that cannot
// be opened leaves its descriptor closed.
void hold_standard_descriptors();

// Makes a write past the file-size limit fail as a full disk does, so the run
// says it could not write its output rather than end by the signal unheard.
void fail_writes_past_size_limit();

// Until the run knows its standard output and error are no evidence (its
// source open and checked), what it writes to them (stdio's stdout and
// stderr, std::cout) is held in the process's own memory, both streams in
// one log in the order their bytes would have reached their descriptors.
// The descriptors 1 and 2 are left as they are: a FUSE store may commit a
// file on every close. Called once the start-up check has passed, before
// anything is written. False, with nothing held, when memory runs out.
bool hold_standard_streams();

// Writes what was held to the real standard output and error, in the order
// written, and gives the streams back; what was held for a stream not kept
// (`keep_out`, `keep_err`) is dropped instead: it was refused, and not a
// byte of it may reach it. A standard output that does not take what was
// held fails the run as any failed write does. Nothing happens when nothing
// is held; it allocates nothing, so memory that ran out may still let out
// what went before.
void release_standard_streams(bool keep_out = true, bool keep_err = true);
