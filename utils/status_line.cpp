#include "utils/status_line.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "utils/text_edit.h"

namespace {

const int kDefaultWidth = 60;
const int kMostWidth = 70;
const int kBufferSize = 256;

const std::string& backspaces() {
  static const std::string text(80, '\b');
  return text;
}

template <typename Stream>
bool seek_back(Stream& out, long long count) {
  if (out.bad() || out.fail()) return false;
  const auto pos = out.tellp();
  if (pos == decltype(pos)(-1)) return false;
  if (static_cast<long long>(pos) < count) {
    out.seekp(0);
  } else {
    out.seekp(pos - static_cast<decltype(pos - pos)>(count));
  }
  return true;
}

// Seeks back, and with truncate cuts the text there, which needs a stream
// that writes into a string: any other refuses, unmoved.
template <typename Stream>
bool cut_back(Stream& out, long long count, bool truncate) {
  using text_buffer = std::basic_stringbuf<typename Stream::char_type, typename Stream::traits_type>;
  text_buffer* text = dynamic_cast<text_buffer*>(out.rdbuf());
  if (truncate && !text) return false;
  if (!seek_back(out, count)) return false;
  if (!truncate) return true;
  const auto pos = out.tellp();
  text->str(text->str().substr(0, static_cast<size_t>(pos)));
  out.seekp(0, std::ios_base::end);
  return true;
}

}  // namespace

bool status_pacer::due() {
  const auto now = std::chrono::steady_clock::now();
  if (started_ && now < next_) return false;
  started_ = true;
  next_ = now + std::chrono::milliseconds(100);
  return true;
}

int format_status(bool to_stderr, int width, int /*reserved*/, const char* format, va_list args) {
  if (width < 0) width = 0;
  if (width > kBufferSize - 2) width = kBufferSize - 2;
  std::string line = backspaces();
  char buffer[kBufferSize];
  std::memset(buffer, 0, sizeof buffer);
  int count = std::vsnprintf(buffer, kBufferSize - 1, format ? format : "", args);
  if (count < 0) {
    count = kBufferSize - 1;
    buffer[kBufferSize - 1] = 0;
  }
  // The buffer holds at most 254 characters however long the text would be.
  const int held = static_cast<int>(std::strlen(buffer));
  const int k = count < width ? count : width;
  line.append(buffer, static_cast<size_t>(k < held ? k : held));
  remove_char(line, '\n');
  remove_char(line, '\r');
  if (k < width) line.append(static_cast<size_t>(width - k), ' ');
  line += backspaces();
  // A stream that failed once (a share that cannot append may take a second
  // to refuse each write) is not tried again: the run goes on at its own
  // speed without its progress.
  if (std::ferror(to_stderr ? stderr : stdout) != 0) return k;
  if (to_stderr) {
    std::fputs(line.c_str(), stderr);
  } else {
    std::printf("%s", line.c_str());
  }
  return k;
}

int print_status(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = format_status(true, kDefaultWidth, 0, format, args);
  va_end(args);
  return n;
}

int print_status_width(int width, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = format_status(true, width < kMostWidth ? width : kMostWidth, 0, format, args);
  va_end(args);
  return n;
}

int print_status_stdout(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = format_status(false, kDefaultWidth, 0, format, args);
  va_end(args);
  return n;
}

int print_color(int foreground, int background, const char* format, ...) {
  std::printf("%c[%d;%d;%dm", 27, 1, foreground + 30, background + 40);
  va_list args;
  va_start(args, format);
  if (format) std::vprintf(format, args);
  va_end(args);
  std::printf("%c[%d;%d;%dm", 27, 0, 37, 40);
  return 0;
}

bool ostream_seek_back(std::ostream& out, int count) { return seek_back(out, count); }

bool wostream_seek_back(std::wostream& out, int count) { return seek_back(out, count); }

unsigned ostream_position(std::ostream& out) {
  if (out.bad() || out.fail()) return 0;
  const auto pos = out.tellp();
  if (pos == decltype(pos)(-1)) return 0;
  return static_cast<unsigned>(static_cast<long long>(pos) & 0xFFFFFFFF);
}

bool wostringstream_cut_back(std::wostringstream& out, int count, bool truncate) {
  return cut_back(out, count, truncate);
}

bool ostream_drop_tail(std::ostream& out, uint32 count, bool cut) {
  return cut_back(out, static_cast<long long>(count), cut);
}
