#include "utils/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "utils/file_streams.h"

namespace uni {

namespace {

file_identity identity_from(const struct stat& st) {
  file_identity id;
  id.device = static_cast<uint64>(st.st_dev);
  id.inode = static_cast<uint64>(st.st_ino);
  id.block_device = S_ISBLK(st.st_mode) ? static_cast<uint64>(st.st_rdev) : 0;
  return id;
}

bool same_file(const file_identity& a, const file_identity& b) {
  return (a.device == b.device && a.inode == b.inode) || (a.block_device != 0 && a.block_device == b.block_device);
}

void say_refused(const std::string& name) {
  std::fprintf(stderr, "refused to write to the evidence: %s\n", name.c_str());
}

output_result refuse(std::ofstream& stream, output_result why) {
  if (stream.is_open()) stream.close();
  stream.setstate(std::ios_base::failbit);
  return why;
}

}  // namespace

bool identity_of_descriptor(int fd, file_identity& out) {
  out = file_identity();
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0) return false;
  out = identity_from(st);
  return true;
}

bool is_one_of(const file_identity& id, const file_identities& sources) {
  for (const file_identity& s : sources)
    if (same_file(id, s)) return true;
  return false;
}

output_result open_output(std::ofstream& stream, const std::string& path, const file_identities& sources,
                          output_open how) {
  if (stream.is_open()) stream.close();
  stream.clear();
  std::string name;
  if (!path_to_utf8(name, path)) return refuse(stream, output_result::failed);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (how == output_open::create_new ? O_EXCL : 0);
  const int fd = ::open(name.c_str(), flags, 0666);
  if (fd < 0) {
    const bool taken = errno == EEXIST && how == output_open::create_new;
    return refuse(stream, taken ? output_result::exists : output_result::failed);
  }
  file_identity id;
  if (!identity_of_descriptor(fd, id)) {
    ::close(fd);
    return refuse(stream, output_result::failed);
  }
  if (is_one_of(id, sources)) {
    ::close(fd);
    say_refused(name);
    return refuse(stream, output_result::is_source);
  }
  // The stream opens, without truncation, the file the descriptor holds
  // (through its link under /proc), so a name switched to the evidence and
  // back meanwhile changes nothing. Where /proc is missing it opens the name
  // again, which must still lead to the file just checked.
  const std::ios_base::openmode mode = std::ios_base::out | std::ios_base::in | std::ios_base::binary;
  struct stat now;
  stream.open("/proc/self/fd/" + std::to_string(fd), mode);
  bool ok = stream.is_open() && ::fstat(fd, &now) == 0;
  if (!stream.is_open()) {
    stream.clear();
    stream.open(name, mode);
    ok = stream.is_open() && ::stat(name.c_str(), &now) == 0 && same_file(identity_from(now), id);
  }
  if (ok && how == output_open::append) ok = static_cast<bool>(stream.seekp(0, std::ios_base::end));
  // Only a regular file has a length to cut; a device is written in place.
  if (ok && how == output_open::truncate && S_ISREG(now.st_mode)) ok = ::ftruncate(fd, 0) == 0;
  ::close(fd);
  if (ok) return output_result::opened;
  // A file made here and not handed out is not left behind under its name.
  if (how == output_open::create_new && ::lstat(name.c_str(), &now) == 0 && same_file(identity_from(now), id))
    ::unlink(name.c_str());
  return refuse(stream, output_result::failed);
}

output_result open_output(std::ofstream& stream, const std::wstring& path, const file_identities& sources,
                          output_open how) {
  std::string name;
  if (!path_to_utf8(name, path)) return refuse(stream, output_result::failed);
  return open_output(stream, name, sources, how);
}

bool names_source(const std::string& path, const file_identities& sources) {
  struct stat st;
  std::string name;
  if (!path_to_utf8(name, path) || ::lstat(name.c_str(), &st) != 0 || !is_one_of(identity_from(st), sources))
    return false;
  say_refused(name);
  return true;
}

bool names_source(const std::wstring& path, const file_identities& sources) {
  std::string name;
  return path_to_utf8(name, path) && names_source(name, sources);
}

}  // namespace uni
