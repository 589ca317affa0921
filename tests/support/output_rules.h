#pragma once
// The rules the general file writers of the system keep for the file they
// are given, checked on one writer at a time: a FIFO nobody reads is
// refused at once, one with a reader gets the bytes; a new file takes the
// writer's permission (0666 for most) less the process's mask (or none is
// made, by a writer that writes over a file that is there); a file reached
// by a hard link or a symbolic link is written in place, the link left as
// it is; a file that is there is written whatever it holds (they write
// what they are handed); a source is refused by any of its names.
#include <sys/types.h>

#include <functional>
#include <string>

namespace quor_test {

// The process's file-creation mask, read without leaving it changed.
mode_t process_mask();
// What a reader of a FIFO, open without waiting, has been given so far.
std::string drain(int reader);

struct output_writer {
  // How the failures name the writer; also part of its scratch files' names.
  std::string what;
  // Writes `bytes` to the file named, true when it says it did.
  std::function<bool(const std::string& target)> write;
  std::string bytes;
  // What becomes of a file that is there: emptied first, written at its
  // end, or written over from its start (a writer that needs it there).
  enum over_existing { truncates, appends, overwrites } existing = truncates;
  // What a file the writer makes is created with, before the mask.
  mode_t permission = 0666;
};

// Checks every rule on `w`, the slow ones (a FIFO, a mask) in a child that
// is killed when it waits.
void expect_output_rules(const output_writer& w);

// Checks that `w` refuses `source` by its own name, a hard link and a
// symbolic link to it, and that its digest stays as it was.
void expect_source_refused(const output_writer& w, const std::string& source);

}  // namespace quor_test
