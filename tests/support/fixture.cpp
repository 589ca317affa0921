#include "tests/support/fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace quor_test {
namespace {

bool exists(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0;
}

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') q += "'\\''";
    else q += c;
  }
  return q + "'";
}

struct scratch {
  std::string path;
  scratch() {
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quor-test-XXXXXX";
    std::string buf = tmpl;
    if (::mkdtemp(&buf[0])) path = buf;
  }
  ~scratch() {
    if (!path.empty()) {
      std::string cmd = "rm -rf " + quote(path);
      int rc = std::system(cmd.c_str());
      (void)rc;
    }
  }
};

// Fixtures are unpacked once per build into the build folder, not once per
// test process: ctest runs each test as its own process, and the largest disk
// image alone cost seconds each time. A copy is made under a private name and
// renamed into place, so parallel test processes never see a half-written
// image; zero runs are written sparse.
std::string decompress(const std::string& gz, const std::string& key) {
  static std::map<std::string, std::string> done;
  auto it = done.find(key);
  if (it != done.end()) return it->second;
  struct stat src;
  if (::stat(gz.c_str(), &src) != 0) return "";
  const std::string dir = std::string(QUOR_BINARY_DIR) + "/fixture-cache";
  ::mkdir(dir.c_str(), 0755);
  std::string flat = key;
  for (char& c : flat)
    if (c == '/') c = '_';
  const std::string out = dir + "/" + flat;
  struct stat have;
  if (::stat(out.c_str(), &have) != 0 || have.st_mtime < src.st_mtime) {
    const std::string tmp = out + ".part." + std::to_string(::getpid());
    std::string cmd = "gzip -dc " + quote(gz) + " | cp --sparse=always /dev/stdin " + quote(tmp);
    if (std::system(cmd.c_str()) != 0 || ::rename(tmp.c_str(), out.c_str()) != 0) {
      ::unlink(tmp.c_str());
      return "";
    }
  }
  done[key] = out;
  return out;
}

}  // namespace

const std::string& scratch_dir() {
  static scratch s;
  return s.path;
}

std::string fixture(const std::string& name) {
  return decompress(std::string(QUOR_FIXTURE_DIR) + "/" + name + ".gz", "fx_" + name);
}

std::string copy_fixture(const std::string& name, const std::string& as) {
  const std::string from = fixture(name);
  if (from.empty()) return "";
  const std::string to = scratch_dir() + "/" + as;
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return out.flush() ? to : "";
}

std::string read_file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string fixture_listing(const std::string& name) {
  std::string p = std::string(QUOR_FIXTURE_DIR) + "/" + name;
  return exists(p) ? p : "";
}

std::string shared_testdata(const std::string& name) {
  return decompress(std::string(QUOR_SHARED_TESTDATA_DIR) + "/" + name + ".gz", "sh_" + name);
}

bool make_sparse_file(const std::string& path, const std::string& head, unsigned long long size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return false;
  const bool ok = ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
                  ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  ::close(fd);
  return ok;
}

bool have_program(const std::string& name) {
  std::string cmd = "command -v " + quote(name) + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

int run_command(const std::string& cmd, std::string& out) {
  out.clear();
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = ::pclose(p);
  if (st == -1 || !WIFEXITED(st)) return -1;
  return WEXITSTATUS(st);
}

drive_letter::drive_letter(const std::string& image) {
  const std::string dir = scratch_dir() + "/drive-letter";
  char here[4096];
  ::mkdir(dir.c_str(), 0755);
  ::unlink((dir + "/Q:").c_str());
  ok = !image.empty() && ::getcwd(here, sizeof here) != nullptr &&
       ::symlink(image.c_str(), (dir + "/Q:").c_str()) == 0 && ::chdir(dir.c_str()) == 0;
  if (ok) m_here = here;
}

drive_letter::~drive_letter() {
  // A test that stays in the scratch folder would send later tests' relative
  // names there; nothing can be asserted from a destructor, so say it.
  if (ok && ::chdir(m_here.c_str()) != 0) std::fprintf(stderr, "cannot return to %s\n", m_here.c_str());
}

}  // namespace quor_test
