#pragma once
// Test helpers: a per-process scratch folder and the committed fixture images,
// decompressed on first use so that tests never touch the committed files.
#include <string>

namespace quor_test {

// A scratch folder for this test process, removed when the process ends.
const std::string& scratch_dir();

// Path of the decompressed fixture tests/fixtures/<name> (the committed file
// is <name>.gz); "" when the fixture is missing. The file is shared by every
// test of the build: a test that changes an image works on its own copy.
std::string fixture(const std::string& name);

// A copy of fixture `name` in the scratch folder, named `as`, for a test that
// changes an image; "" when the fixture is missing or cannot be copied.
std::string copy_fixture(const std::string& name, const std::string& as);

// The whole content of a file; "" when it cannot be read.
std::string read_file_text(const std::string& path);

// Makes `path` a sparse file of `size` bytes that begins with `head`: only
// the head takes room. False where the file system takes no file that long.
bool make_sparse_file(const std::string& path, const std::string& head, unsigned long long size);

// Path of the committed listing beside a fixture (tests/fixtures/<name>),
// not decompressed.
std::string fixture_listing(const std::string& name);

// Path of the decompressed ../shared/testdata/<name> (committed as
// <name>.gz there); "" when that folder or file is absent.
std::string shared_testdata(const std::string& name);

// True when an external program is on PATH (oracle tools such as fls).
bool have_program(const std::string& name);

// Runs a shell command; stdout into `out`. Returns the exit status, or -1.
int run_command(const std::string& cmd, std::string& out);

// This host has no drive letters: the volume of "Q:" is the file named "Q:"
// in the working folder. While one of these lives, the working folder is a
// scratch folder where "Q:" links to `image`; `ok` says it was set up.
struct drive_letter {
  explicit drive_letter(const std::string& image);
  ~drive_letter();
  drive_letter(const drive_letter&) = delete;
  drive_letter& operator=(const drive_letter&) = delete;
  bool ok = false;

 private:
  std::string m_here;
};

}  // namespace quor_test
