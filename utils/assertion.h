#pragma once
// Internal invariants that hold in every build. A broken one is a caller's
// programming error, never damaged evidence (evidence is checked and passed
// over), so the process stops at once, whatever NDEBUG says: going on would
// hand out fields that were never read or bytes from past a buffer.
//
// The message names the source file, the line, the function and the
// expression, on standard error:
//   ntfs.cpp:268: INODE_STATS CNtfs::get_inode_stats() const: Assertion `m_Validated' failed.

// Writes the message and aborts. `file` may be a path; its last component
// is printed.
[[noreturn]] void assertion_failed(const char* expression, const char* file, int line, const char* function);

// Stops the process unless `expression` holds. `function` is the text that
// names the function in the message (its full signature).
#define QUOR_ASSERT(expression, function) \
  ((expression) ? static_cast<void>(0) : assertion_failed(#expression, __FILE__, __LINE__, function))
