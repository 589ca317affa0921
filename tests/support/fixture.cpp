#include "tests/support/fixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

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

std::string decompress(const std::string& gz, const std::string& key) {
  static std::map<std::string, std::string> done;
  auto it = done.find(key);
  if (it != done.end()) return it->second;
  if (!exists(gz) || scratch_dir().empty()) return "";
  std::string flat = key;
  for (char& c : flat)
    if (c == '/') c = '_';
  std::string out = scratch_dir() + "/" + flat;
  std::string cmd = "gzip -dc " + quote(gz) + " > " + quote(out);
  if (std::system(cmd.c_str()) != 0) return "";
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

std::string fixture_listing(const std::string& name) {
  std::string p = std::string(QUOR_FIXTURE_DIR) + "/" + name;
  return exists(p) ? p : "";
}

std::string shared_testdata(const std::string& name) {
  return decompress(std::string(QUOR_SHARED_TESTDATA_DIR) + "/" + name + ".gz", "sh_" + name);
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

}  // namespace quor_test
