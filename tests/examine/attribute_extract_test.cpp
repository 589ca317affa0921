// Extraction to files: digest-bearing names, a temporary file never opened
// over an existing one, a failed rename or read leaving nothing, the report.
#include "examine/attribute_extract.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "examine/attribute_writer.h"
#include "tests/examine/examine_support.h"
#include "tests/support/child_process.h"
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

// A copy of default.img whose /compressed/pattern.bin (`entry`) begins with
// a compression unit of stored clusters and holes, its first cluster all
// 0xFF: a chunk said to be compressed whose first token copies from before
// the start, which no decoder takes. Nothing in the runs shows it; only a
// read finds it. "" when it cannot be made.
std::string undecodable_copy(const std::string& as, ulong64& entry) {
  examine_test::volume v("default.img");
  entry = v.entry_of("/compressed/pattern.bin");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, entry, 0x80, "");
  if (!rec || rec->runs.size() < 2 || rec->runs[0].sparse || rec->runs[0].num_clusters >= 16 || !rec->runs[1].sparse)
    return "";
  const std::string copy = quor_test::copy_fixture("default.img", as);
  if (!copy.empty())
    quor_test::write_at(copy, rec->runs[0].lcn * v.ntfs->m_cluster_size,
                        std::vector<byte>(v.ntfs->m_cluster_size, 0xFF));
  return copy;
}

// A plain extract that fails onto something already there leaves it there,
// the same file of the same kind: a regular file, a FIFO with a reader and
// one nobody reads, a node of the null device. Data that fails before
// anything is opened (a run past the volume) leaves the file its bytes;
// data that fails only once read (a unit that does not decode) may have
// had it emptied by the open, and nothing more: no byte is written there
// and nothing is removed. The FIFO's reader gets nothing.
TEST(AttributeExtract, AFailedExtractLeavesWhatWasThere) {
  ulong64 entry = 0;
  const std::string image = undecodable_copy("undecodable.img", entry);
  ASSERT_FALSE(image.empty());
  std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(image);
  std::vector<entry_record> records;
  const entry_record* found = examine_test::find_record(ntfs.get(), records, entry, 0x80);
  ASSERT_NE(found, nullptr);
  const entry_record undecodable = *found;
  {
    std::ostringstream data, messages;
    std::string md5;
    ASSERT_FALSE(entry_data_damaged(ntfs.get(), undecodable, false));
    ASSERT_FALSE(write_attribute_data(ntfs.get(), undecodable, data, messages, false, false, md5));
  }
  // The same runs and one more, four billion clusters on.
  entry_record past = undecodable;
  const ulong64 end = past.runs.back().vcn + past.runs.back().num_clusters;
  past.runs.push_back(data_run(1ULL << 31, end, 4, false));
  ASSERT_TRUE(entry_data_damaged(ntfs.get(), past, false));

  enum class kind { file, fifo_read, fifo_unread, device };
  const struct {
    const char* what;
    kind is;
  } targets[] = {{"a regular file", kind::file},
                 {"a FIFO with a reader", kind::fifo_read},
                 {"a FIFO nobody reads", kind::fifo_unread},
                 {"the null device's node", kind::device}};
  const struct {
    const char* what;
    const entry_record* rec;
    bool read;  // fails only once read
  } failures[] = {{"a run past the volume", &past, false}, {"a unit that does not decode", &undecodable, true}};
  const std::string kept = "notes kept from before\n";
  const bool nodes = !examine_test::memory_device("left-null-probe", 3).empty();
  int made = 0;
  for (const auto& f : failures)
    for (const auto& t : targets) {
      SCOPED_TRACE(std::string(t.what) + ", " + f.what);
      if (t.is == kind::device && !nodes) continue;
      const std::string dir = fresh_dir("left-" + std::to_string(made++));
      std::string path = dir + "/out";
      int reader = -1;
      if (t.is == kind::file) {
        std::ofstream(path) << kept;
      } else if (t.is == kind::device) {
        path = examine_test::memory_device("left-null-" + std::to_string(made), 3);
        ASSERT_FALSE(path.empty());
      } else {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        if (t.is == kind::fifo_read) reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_EQ(reader < 0, t.is == kind::fifo_unread);
      }
      struct stat before {};
      ASSERT_EQ(::lstat(path.c_str(), &before), 0);
      // In a child, stopped after five seconds: a FIFO the data filled
      // would hold the call for ever.
      EXPECT_EQ(quor_test::exit_status_in_child(
                    [&] {
                      return extract_attribute(path.c_str(), static_cast<const char*>(nullptr), ntfs.get(), *f.rec,
                                               false)
                                 ? 1
                                 : 0;
                    },
                    dir + "/err"),
                0);
      struct stat after {};
      if (::lstat(path.c_str(), &after) != 0) {
        ADD_FAILURE() << "removed";
        if (reader >= 0) ::close(reader);
        continue;
      }
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_mode & S_IFMT, before.st_mode & S_IFMT);
      EXPECT_EQ(after.st_rdev, before.st_rdev);
      if (t.is == kind::file) {
        const std::string text = read_file_text(path);
        EXPECT_TRUE(text == kept || (f.read && text.empty())) << "holds \"" << text << "\"";
      }
      if (reader >= 0) {
        char byte_read = 0;
        EXPECT_LE(::read(reader, &byte_read, 1), 0) << "the reader got data";
        ::close(reader);
      }
    }
  if (!nodes) GTEST_SKIP() << "no device node could be made: the node's rows were not tried";
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
