// Opening outputs: a file that is a source (by any name) is left as it was;
// any other is emptied or appended to only after the check; a new file is
// never made over a name that is taken, not even by a dangling link.
#include "utils/output_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/fixture.h"

namespace {

using uni::output_open;
using uni::output_result;

std::string scratch(const std::string& name) { return quor_test::scratch_dir() + "/out-" + name; }

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

uni::file_identities identity_of(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  uni::file_identity id;
  const bool ok = uni::identity_of_descriptor(fd, id);
  ::close(fd);
  return ok ? uni::file_identities{id} : uni::file_identities{};
}

TEST(OutputFile, SourcesAreRefusedByAnyNameOthersOpenAsAsked) {
  const std::string source = scratch("source"), hard = scratch("hard"), soft = scratch("soft");
  const std::string other = scratch("other");
  write_text(source, "evidence");
  ASSERT_EQ(::link(source.c_str(), hard.c_str()), 0);
  ASSERT_EQ(::symlink(source.c_str(), soft.c_str()), 0);
  const uni::file_identities sources = identity_of(source);
  ASSERT_EQ(sources.size(), 1u);
  for (const std::string& name : {source, hard, soft})
    for (output_open how : {output_open::truncate, output_open::append}) {
      std::ofstream s;
      EXPECT_EQ(uni::open_output(s, name, sources, how), output_result::is_source) << name;
      EXPECT_FALSE(s.is_open());
      EXPECT_EQ(quor_test::read_file_text(source), "evidence");
    }
  // The names themselves: a rename onto the file or its hard link would take
  // the source's name; one onto the symbolic link would replace only the link.
  EXPECT_TRUE(uni::names_source(source, sources));
  EXPECT_TRUE(uni::names_source(std::wstring(hard.begin(), hard.end()), sources));
  EXPECT_FALSE(uni::names_source(soft, sources));
  EXPECT_FALSE(uni::names_source(other, sources));

  const struct {
    output_open how;
    output_result want;
    const char* after;  // the file after "new" was written
  } cases[] = {
      {output_open::truncate, output_result::opened, "new"},
      {output_open::append, output_result::opened, "oldnew"},
      {output_open::create_new, output_result::exists, "old"},
  };
  for (const auto& c : cases) {
    write_text(other, "old");
    std::ofstream s;
    EXPECT_EQ(uni::open_output(s, other, sources, c.how), c.want);
    s << "new";
    s.close();
    EXPECT_EQ(quor_test::read_file_text(other), c.after);
  }
  // A device is written in place: it has no length to cut.
  std::ofstream device;
  EXPECT_EQ(uni::open_output(device, "/dev/null", sources, output_open::truncate), output_result::opened);
  // A new file: made when the name is free, refused over a dangling link.
  const std::string fresh = scratch("fresh"), dangling = scratch("dangling");
  ASSERT_EQ(::symlink(scratch("nowhere").c_str(), dangling.c_str()), 0);
  std::ofstream made, refused;
  EXPECT_EQ(uni::open_output(made, std::wstring(fresh.begin(), fresh.end()), sources, output_open::create_new),
            output_result::opened);
  EXPECT_EQ(uni::open_output(refused, dangling, sources, output_open::create_new), output_result::exists);
  struct stat st;
  EXPECT_NE(::stat(scratch("nowhere").c_str(), &st), 0);
}

}  // namespace
