#pragma once
// Runs the built quor binary for the end-to-end tests, and the small text
// helpers they read its output with.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/fixture.h"

namespace quor_test {

struct run_result {
  int status = -1;
  std::string out, err;
};

// quor's -1 as the shell sees it.
const int kFailed = 255;

inline std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string read_whole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// `exe` run with `args` behind the shell text `limits` (limits set, then
// the program started), its standard output and error gathered.
inline run_result run_quor_under(const std::string& limits, const std::vector<std::string>& args,
                                 const std::string& exe = QUOR_EXE) {
  static int counter = 0;
  const std::string base = scratch_dir() + "/run-" + std::to_string(++counter);
  std::string cmd = limits + quote(exe);
  for (const std::string& a : args) cmd += " " + quote(a);
  cmd += " >" + quote(base + ".out") + " 2>" + quote(base + ".err") + " </dev/null";
  run_result r;
  std::string ignored;
  r.status = run_command(cmd, ignored);
  r.out = read_whole(base + ".out");
  r.err = read_whole(base + ".err");
  std::remove((base + ".out").c_str());
  std::remove((base + ".err").c_str());
  return r;
}

// A run that never ends or writes without end is stopped, not waited for.
inline run_result run_quor(const std::vector<std::string>& args, const std::string& exe = QUOR_EXE) {
  return run_quor_under("ulimit -f 400000; timeout 300 ", args, exe);
}

inline std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == sep) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// The lines of a text, without the empty one after its last line end.
inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines = split(text, '\n');
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

inline bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace quor_test
