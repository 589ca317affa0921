// Extraction to files: digest-bearing names, a temporary file never opened
// over an existing one, a failed rename or read leaving nothing, the report.
#include "examine/attribute_extract.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "examine/attribute_writer.h"
#include "tests/examine/examine_support.h"
#include "utils/random_text.h"

namespace {

using quor_test::read_file_text;

std::string files_in(const std::string& dir) {
  std::string out;
  quor_test::run_command("LC_ALL=C ls -A " + dir, out);
  return out;
}

std::string fresh_dir(const std::string& name) {
  const std::string dir = quor_test::scratch_dir() + "/" + name;
  mkdir(dir.c_str(), 0700);
  return dir;
}

TEST(AttributeExtract, HashedCopiesNeverOverwriteAndLeaveNothingOnFailure) {
  examine_test::volume v("default.img");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/nonres.bin"), 0x80, "");
  ASSERT_NE(rec, nullptr);
  std::ostringstream data, messages;
  std::string md5;
  ASSERT_TRUE(write_attribute_data(v.ntfs, *rec, data, messages, false, true, md5));

  // The generator's first pick is taken by a file of another run.
  const std::string dir = fresh_dir("hashed");
  random_hex_string(5);  // the generator seeds itself on first use
  std::srand(4242);
  const std::string taken = "_" + random_hex_string(5);
  std::srand(4242);
  { std::ofstream(dir + "/" + taken) << "evidence of another run"; }
  const std::wstring wide_path = L"" + std::wstring(dir.begin(), dir.end()) + L"/out.bin";
  ASSERT_TRUE(extract_attribute_hashed(wide_path.c_str(), nullptr, v.ntfs, *rec, false, 0x1234));
  const std::string name = "0000000000001234_out.bin_" + md5;
  EXPECT_EQ(files_in(dir), name + "\n" + taken + "\n");
  EXPECT_EQ(read_file_text(dir + "/" + taken), "evidence of another run");
  EXPECT_TRUE(read_file_text(dir + "/" + name) == data.str());

  // A folder in the way of the final name; nothing to read; no folder part.
  const std::string blocked = fresh_dir("blocked");
  const std::string blocker = blocked + "/0000000000000000_out.bin_" + md5;
  mkdir(blocker.c_str(), 0700);
  { std::ofstream(blocker + "/inside") << "x"; }
  EXPECT_FALSE(extract_attribute_hashed((blocked + "/out.bin").c_str(), nullptr, v.ntfs, *rec, false, 0));
  EXPECT_FALSE(extract_attribute_hashed((blocked + "/e").c_str(), nullptr, v.ntfs, entry_record(), false, 0));
  EXPECT_EQ(files_in(blocked), "0000000000000000_out.bin_" + md5 + "\n");
  EXPECT_FALSE(extract_attribute_hashed("out.bin", nullptr, v.ntfs, *rec, false, 1));
}

TEST(AttributeExtract, PlainFormAndItsReport) {
  examine_test::volume v("default.img");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/many"), 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  const std::string dir = fresh_dir("plain");
  const std::string data = dir + "/i30.bin", report = dir + "/report.txt";
  ASSERT_TRUE(extract_attribute(data.c_str(), report.c_str(), v.ntfs, *rec, false));
  std::ostringstream want, messages;
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, want, messages, false));
  EXPECT_TRUE(read_file_text(data) == want.str());
  const std::string text = read_file_text(report);
  EXPECT_EQ(text.rfind("Parsed output from the following attribute: \n\nIndex Allocation Attrib: $I30\n", 0), 0u);
  EXPECT_NE(text.find("f00001.dat.old"), std::string::npos);  // a line per entry of the records
  ASSERT_TRUE(extract_attribute(data.c_str(), (dir + "/raw.txt").c_str(), v.ntfs, *rec, true));
  EXPECT_EQ(read_file_text(dir + "/raw.txt").find("f00001.dat.old"), std::string::npos);
}

}  // namespace
