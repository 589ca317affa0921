#include "utils/file_rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <new>
#include <stdexcept>
#include <vector>

#include "utils/memory_limits.h"
#include "utils/output_file.h"
#include "utils/random_text.h"
#include "utils/unique_output.h"

namespace {

// The file a chain of symbolic links ends at (the path itself when it is no
// link), so that a rewrite changes that file and leaves the links as they
// are. A relative link target is taken from the link's own directory. False
// for a loop or a chain too long to follow.
bool resolve_links(const std::string& path, std::string& target) {
  target = path;
  std::vector<char> buffer(4096);
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    ssize_t n;
    for (;;) {
      n = ::readlink(target.c_str(), buffer.data(), buffer.size());
      if (n < 0) return false;
      if (static_cast<size_t>(n) < buffer.size()) break;
      buffer.resize(buffer.size() * 2);
    }
    std::string next(buffer.data(), static_cast<size_t>(n));
    if (next.empty()) return false;
    if (next[0] != '/') {
      const size_t slash = target.rfind('/');
      if (slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    }
    target.swap(next);
  }
  return false;
}

// Whether the file system takes `data` beside `target` (room for it, no size
// limit in the way), tried with a file written and removed again before
// the target's own text is given up; the room the trial took is free again
// for the write in place, which also has the room the old text leaves.
// True, untried, where no trial file can be made (a folder the process may
// not write): the file is then written in place without one.
bool file_system_takes(const std::string& target, const std::string& data) {
  std::ofstream trial;
  std::string name;
  const std::function<std::string()> next_name = [&target] { return target + ".tmp-" + random_hex_string(6); };
  if (!uni::create_unique_output(trial, next_name, uni::file_identities(), 16, name)) return true;
  trial.write(data.data(), static_cast<std::streamsize>(data.size()));
  trial.close();
  const bool taken = !trial.fail();
  ::unlink(name.c_str());
  return taken;
}

// Reads the file open at `fd` whole into `out`, at most `most` bytes of
// it; false for a longer one, a folder or a failed read.
bool read_whole(int fd, std::string& out, uint64 most) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return false;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    if (static_cast<uint64>(st.st_size) > most) return false;
    out.reserve(static_cast<size_t>(st.st_size));
  }
  std::vector<char> chunk(1 << 20);
  // A regular file may grow while it is read, and a FIFO or a device has
  // no length to ask for: the bound holds for what comes, too.
  const auto take = [&](ssize_t r) {
    if (static_cast<uint64>(r) > most - out.size()) return false;
    out.append(chunk.data(), static_cast<size_t>(r));
    return true;
  };
  bool ok = true;
  // The open of a FIFO does not tell whether anyone writes to it; a first
  // read does: with no writer it ends at once with nothing, and the FIFO is
  // not waited on, as an output nobody reads is not. With a writer it
  // brings bytes or finds none there yet.
  if (S_ISFIFO(st.st_mode)) {
    ssize_t r;
    do {
      r = ::read(fd, chunk.data(), chunk.size());
    } while (r < 0 && errno == EINTR);
    ok = r > 0 ? take(r) : r < 0 && errno == EAGAIN;
  }
  const int flags = ok ? ::fcntl(fd, F_GETFL) : -1;
  ok = flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
  while (ok) {
    const ssize_t r = ::read(fd, chunk.data(), chunk.size());
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r == 0;
    ok = take(r);
  }
  return false;
}

// The whole-file read; `no_memory` tells a failure for want of memory to
// hold the file from every other.
bool read_file(const char* path, std::string& out, uint64 most, uni::file_identities& identities, bool& no_memory) {
  out.clear();
  no_memory = false;
  if (!path || !*path) return false;
  // Without O_NONBLOCK a FIFO nobody writes would hold the open for ever.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = false;
  try {
    ok = read_whole(fd, out, most < out.max_size() ? most : out.max_size()) &&
         uni::identities_of_descriptor(fd, identities);
  } catch (const std::bad_alloc&) {
    no_memory = true;
  } catch (const std::length_error&) {
    no_memory = true;
  }
  ::close(fd);
  // What was read of a file too long to hold is given back at once.
  if (!ok) std::string().swap(out);
  return ok;
}

}  // namespace

bool read_file_bytes(const char* path, std::string& out, uint64 most, uni::file_identities& identities) {
  bool no_memory;
  return read_file(path, out, most, identities, no_memory);
}

bool read_file_bytes(const char* path, std::string& out, uint64 most) {
  uni::file_identities ignored;
  bool no_memory;
  return read_file(path, out, most, ignored, no_memory);
}

bool read_file_bytes(const char* path, std::string& out, uint64 most, bool& no_memory) {
  uni::file_identities ignored;
  return read_file(path, out, most, ignored, no_memory);
}

namespace {

bool replace_contents(const char* path, const std::string& data) {
  // The trial goes beside the file itself, on its file system, not beside
  // a link to it.
  std::string target;
  if (!resolve_links(path, target)) return false;
  struct stat st;
  const bool existed = ::stat(target.c_str(), &st) == 0;
  if (existed && S_ISREG(st.st_mode) && !file_system_takes(target, data)) return false;
  std::ofstream out;
  if (uni::open_output(out, target, uni::file_identities(), uni::output_open::rewrite) != uni::output_result::opened)
    return false;
  out.write(data.data(), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out.fail()) return true;
  if (!existed && ::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(target.c_str());
  return false;
}

}  // namespace

bool replace_file_contents(const char* path, const std::string& data) {
  if (!path || !*path) return false;
  // Memory that runs out before the file is opened leaves it as it was.
  return or_without_memory(false, [&] { return replace_contents(path, data); });
}
