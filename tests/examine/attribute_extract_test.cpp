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
  // The data extracted before holds binary data, which no writer replaces.
  ASSERT_EQ(::unlink(data.c_str()), 0);
  ASSERT_TRUE(extract_attribute(data.c_str(), (dir + "/raw.txt").c_str(), v.ntfs, *rec, true));
  EXPECT_EQ(read_file_text(dir + "/raw.txt").find("f00001.dat.old"), std::string::npos);
  // The null device takes the data in both forms, as any file does.
  const std::string null = examine_test::memory_device("extract-null", 3);
  if (null.empty()) GTEST_SKIP() << "cannot make a device node";
  EXPECT_TRUE(extract_attribute(null.c_str(), nullptr, v.ntfs, *rec, false));
  const std::wstring wide_null(null.begin(), null.end());
  EXPECT_TRUE(extract_attribute(wide_null.c_str(), static_cast<const wchar_t*>(nullptr), v.ntfs, *rec, false));
}

// /sparse.bin made 20 MiB of hole, 8 KiB of data and 20 MiB of hole (icat
// takes no run longer than the volume, 24 MiB): both
// forms write a file of that size taking about the disk space of its data,
// with icat's bytes; a terabyte of hole (no digest asked for) likewise, at
// once. An empty stream is an empty file named by the digest of no bytes.
TEST(AttributeExtract, HolesStayHolesAndEmptyStreamsAreFiles) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "needs icat, md5sum";
  const ulong64 hole = 5120;  // clusters of 4 KiB
  ulong64 entry = 0;
  const std::string image = examine_test::holed_copy("holed.img", hole, hole, entry);
  ASSERT_FALSE(image.empty());
  std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(image);
  std::vector<entry_record> records;
  const entry_record* rec = examine_test::find_record(ntfs.get(), records, entry, 0x80);
  ASSERT_NE(rec, nullptr);
  const std::string want_md5 = examine_test::icat_md5(image, std::to_string(entry));
  const ulong64 size = (2 * hole + 2) * 4096;
  const std::string dir = fresh_dir("holes");
  const std::string plain = dir + "/plain.bin";
  ASSERT_TRUE(extract_attribute(plain.c_str(), static_cast<const char*>(nullptr), ntfs.get(), *rec, false));
  ASSERT_TRUE(extract_attribute_hashed((dir + "/h.bin").c_str(), nullptr, ntfs.get(), *rec, false, 7));
  const std::string hashed = dir + "/0000000000000007_h.bin_" + want_md5;
  for (const std::string& file : {plain, hashed}) {
    SCOPED_TRACE(file);
    std::string sum;
    ASSERT_EQ(quor_test::run_command("md5sum < " + file, sum), 0);
    EXPECT_EQ(sum.substr(0, 32), want_md5);
    EXPECT_EQ(quor_test::read_file_text(file).size(), size);
    EXPECT_LT(examine_test::disk_use(file), 1024u * 1024) << "of " << size;
  }

  ulong64 far_entry = 0;
  const std::string far_image = examine_test::holed_copy("terabyte.img", 1ULL << 28, 0, far_entry);
  ASSERT_FALSE(far_image.empty());
  std::unique_ptr<CNtfs> far = quor_test::open_engine_at(far_image);
  rec = examine_test::find_record(far.get(), records, far_entry, 0x80);
  ASSERT_NE(rec, nullptr);
  const std::string big = dir + "/terabyte.bin";
  ASSERT_TRUE(extract_attribute(big.c_str(), static_cast<const char*>(nullptr), far.get(), *rec, false));
  struct stat st {};
  ASSERT_EQ(stat(big.c_str(), &st), 0);
  EXPECT_EQ(static_cast<ulong64>(st.st_size), ((1ULL << 28) + 2) * 4096);
  EXPECT_LT(examine_test::disk_use(big), 1024u * 1024);
  // Its last 8 KiB are the data the smaller copy holds after its first hole.
  std::string tail, mid;
  ASSERT_EQ(quor_test::run_command("tail -c 8192 " + big + " | md5sum", tail), 0);
  ASSERT_EQ(quor_test::run_command("tail -c +" + std::to_string(hole * 4096 + 1) + " " + plain +
                                       " | head -c 8192 | md5sum",
                                   mid),
            0);
  EXPECT_EQ(tail, mid);

  examine_test::volume v("bigdir.img");
  const ulong64 empty_entry = v.entry_of("/d2000/v00002-abcdefghijklmnopqrstuvwxyz.txt");
  const entry_record* empty = v.find(records, empty_entry, 0x80, "");
  ASSERT_NE(empty, nullptr);
  const std::string empty_dir = fresh_dir("empty");
  ASSERT_TRUE(extract_attribute_hashed((empty_dir + "/e.txt").c_str(), nullptr, v.ntfs, *empty, false, 0));
  EXPECT_EQ(files_in(empty_dir),
            "0000000000000000_e.txt_" + examine_test::icat_md5(v.image, std::to_string(empty_entry)) + "\n");
  ASSERT_TRUE(extract_attribute((empty_dir + "/plain").c_str(), static_cast<const char*>(nullptr), v.ntfs, *empty,
                                false));
  EXPECT_EQ(quor_test::read_file_text(empty_dir + "/plain"), "");
}

}  // namespace
