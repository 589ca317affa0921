#include "app/standard_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <exception>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Where a held stream's writes go: the log, its descriptor (its last buffered
// bytes let out), or nowhere (refused, or it stopped taking what was let out).
enum class road { log, descriptor, dropped };

struct held_stream {
  int fd;
  FILE** variable;  // stdio's stdout or stderr
  FILE* real;
  FILE* held;  // the FILE the run writes to while held; null when nothing is
  road to;
};
held_stream held_out = {STDOUT_FILENO, &stdout, nullptr, nullptr, road::log};
held_stream held_err = {STDERR_FILENO, &stderr, nullptr, nullptr, road::log};

// The log, and where each stretch of one stream's bytes ends; room is made as
// the hold begins, so a run short of memory still holds banner and messages.
const size_t HELD_ROOM = 16384;
struct held_piece {
  int fd;
  size_t end;
};
std::string held_bytes;
std::vector<held_piece> held_pieces;

// Bytes for standard output that never reached it: not held for want of memory,
// or not taken when let out.
bool output_lost = false;

// Standard output reaches its file in blocks of one size wherever that is
// stored, whole lines at a time on a terminal, so that messages between the
// blocks fall where they fall in a run onto a local disk.
const size_t OUTPUT_BLOCK = 4096;
char real_out_buffer[OUTPUT_BLOCK];
char held_out_buffer[OUTPUT_BLOCK];

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t put = ::write(fd, data, size);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// A held FILE's writes. Memory that runs out fails the write, as stdio expects,
// rather than throwing through stdio; standard output then takes nothing more,
// so that what it lets out ends where the log does.
ssize_t write_held(void* cookie, const char* data, size_t size) {
  held_stream& s = *static_cast<held_stream*>(cookie);
  bool taken = s.to == road::dropped;
  if (s.to == road::descriptor) taken = write_all(s.fd, data, size);
  if (s.to == road::log && !(s.fd == STDOUT_FILENO && output_lost)) {
    try {
      if (held_pieces.empty() || held_pieces.back().fd != s.fd)
        held_pieces.push_back(held_piece{s.fd, held_bytes.size()});
      held_bytes.append(data, size);
      held_pieces.back().end = held_bytes.size();
      taken = true;
    } catch (const std::exception&) {  // not taken: memory ran out
    }
  }
  if (!taken && s.fd == STDOUT_FILENO) output_lost = true;
  return taken ? static_cast<ssize_t>(size) : 0;
}

// std::cout, unbuffered, into whatever stdio's stdout is, as the stream kept in
// step with stdio writes.
class into_stdout : public std::streambuf {
 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return std::fputc(traits_type::to_char_type(c), stdout) == EOF ? traits_type::eof() : c;
  }
  std::streamsize xsputn(const char* text, std::streamsize n) override {
    return static_cast<std::streamsize>(std::fwrite(text, 1, static_cast<size_t>(n), stdout));
  }
  int sync() override { return std::fflush(stdout) == 0 ? 0 : -1; }
};
into_stdout cout_into_stdout;
std::streambuf* real_cout_buffer = nullptr;

// Gives stdio its FILE back, the held one's last bytes let out as `to` says.
void let_go(held_stream& s, road to) {
  s.to = to;
  *s.variable = s.real;
  if (std::fclose(s.held) != 0 && s.fd == STDOUT_FILENO) output_lost = true;
  s.held = nullptr;
}

}  // namespace

bool standard_output_failed() { return output_lost || std::cout.fail() || std::ferror(stdout) != 0; }

bool standard_output_flushed() {
  std::cout.flush();
  return std::fflush(stdout) == 0 && !standard_output_failed();
}

void hold_standard_descriptors() {
  static const char* const kHolders[] = {"/dev/null", "/dev/full", "/dev/null"};
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int held = ::open(kHolders[fd], O_RDWR);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

// Ignored, the signal leaves the write to fail with EFBIG. A reader that leaves
// a pipe early still ends the run quietly by SIGPIPE, as usual.
void fail_writes_past_size_limit() { std::signal(SIGXFSZ, SIG_IGN); }

bool hold_standard_streams() {
  if (held_out.held != nullptr) return true;
  std::cout.flush();
  std::fflush(stdout);
  std::fflush(stderr);
  try {
    held_bytes.reserve(HELD_ROOM);
    held_pieces.reserve(HELD_ROOM / 256);
  } catch (const std::exception&) {
    return false;
  }
  static const cookie_io_functions_t kHeld = {nullptr, write_held, nullptr, nullptr};
  held_out.held = ::fopencookie(&held_out, "w", kHeld);
  held_err.held = ::fopencookie(&held_err, "w", kHeld);
  if (held_out.held == nullptr || held_err.held == nullptr) {
    for (held_stream* s : {&held_out, &held_err}) {
      if (s->held != nullptr) std::fclose(s->held);
      s->held = nullptr;
    }
    return false;
  }
  const int mode = ::isatty(STDOUT_FILENO) == 1 ? _IOLBF : _IOFBF;
  std::setvbuf(stdout, real_out_buffer, mode, OUTPUT_BLOCK);
  std::setvbuf(held_out.held, held_out_buffer, mode, OUTPUT_BLOCK);
  std::setvbuf(held_err.held, nullptr, _IONBF, 0);
  for (held_stream* s : {&held_out, &held_err}) {
    s->to = road::log;
    s->real = *s->variable;
    *s->variable = s->held;
  }
  real_cout_buffer = std::cout.rdbuf(&cout_into_stdout);
  return true;
}

void release_standard_streams(bool keep_out, bool keep_err) {
  if (held_out.held == nullptr) return;
  bool dropped[] = {true, !keep_out, !keep_err};
  size_t start = 0;
  for (const held_piece& p : held_pieces) {
    if (!dropped[p.fd] && !write_all(p.fd, held_bytes.data() + start, p.end - start)) {
      dropped[p.fd] = true;
      if (p.fd == STDOUT_FILENO) output_lost = true;
    }
    start = p.end;
  }
  std::string().swap(held_bytes);
  std::vector<held_piece>().swap(held_pieces);
  let_go(held_out, dropped[STDOUT_FILENO] ? road::dropped : road::descriptor);
  let_go(held_err, dropped[STDERR_FILENO] ? road::dropped : road::descriptor);
  // Giving std::cout its buffer back clears its state; a failed write to the
  // held output is a failed write of the run, unless it was dropped.
  const std::ios::iostate state = std::cout.rdstate();
  std::cout.rdbuf(real_cout_buffer);
  if (keep_out) {
    std::cout.setstate(state);
  } else {
    output_lost = false;
  }
}
