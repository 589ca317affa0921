#pragma once
// The console status line: each message is written between two runs of 80
// backspaces, so the next message covers the last. A text that is not a
// format (a path) must have every '%' removed before it is passed as one.
#include <chrono>
#include <cstdarg>
#include <ostream>
#include <sstream>

#include "utils/types.h"

// Paces progress messages: a loop that would write one per item writes one
// only when due(), at most about ten a second, and writes its last state
// itself when it ends.
class status_pacer {
 public:
  // True the first time and then once a tenth of a second has passed.
  bool due();

 private:
  std::chrono::steady_clock::time_point next_{};
  bool started_ = false;
};

// Width 60 on standard error; returns the characters of text written. A
// stream whose error indicator is set is not written to again.
int print_status(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Width min(width, 70).
int print_status_width(int width, const char* format, ...) __attribute__((format(printf, 2, 3)));
int print_status_stdout(const char* format, ...) __attribute__((format(printf, 1, 2)));
int format_status(bool to_stderr, int width, int reserved, const char* format, va_list args);

int print_color(int foreground, int background, const char* format, ...) __attribute__((format(printf, 3, 4)));

// Moves the put position back by count (to the start when fewer were
// written); false for a bad or failed stream or an unknown position.
bool ostream_seek_back(std::ostream& out, int count);
bool wostream_seek_back(std::wostream& out, int count);
// The put position's low 32 bits; 0 on failure.
unsigned ostream_position(std::ostream& out);
// As the seek back; with truncate the text after the new position is gone.
bool wostringstream_cut_back(std::wostringstream& out, int count, bool truncate);
// Moves back over the last count characters written (to the start when
// fewer were written); later output overwrites from there. With cut the
// text after the new position is gone, which needs a stream that writes
// into a string: any other stream gives false, unmoved.
bool ostream_drop_tail(std::ostream& out, uint32 count, bool cut);
