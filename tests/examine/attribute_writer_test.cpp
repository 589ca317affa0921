// The attribute writer against icat and md5sum on kit volumes, into strings
// and onto the null and zero devices; data cut short (a run past the volume,
// a truncated image) is a failure without a digest; a damaged index record
// passes through unrepaired.
#include "examine/attribute_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <fstream>
#include <map>
#include <sstream>

#include "ntfs/mft_record.h"
#include "tests/app/mft_runs_rewrite.h"
#include "tests/examine/examine_support.h"
#include "utils/byte_order.h"

namespace {

using examine_test::volume;

TEST(AttributeWriter, EveryKindOfFileEqualsIcat) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "needs icat, md5sum";
  const struct {
    const char *image, *path, *stream;
  } cases[] = {{"default.img", "/small.txt", ""},
               {"default.img", "/nonres.bin", ""},
               {"default.img", "/frag/a.bin", ""},
               {"default.img", "/sparse.bin", ""},
               {"default.img", "/compressed/longer.bin", ""},
               {"default.img", "/streams.txt", "alt"},
               {"c64k.img", "/frag/b.bin", ""},
               {"c512.img", "/frag/a.bin", ""},
               {"s4096.img", "/nonres.bin", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.image) + c.path + ":" + c.stream);
    volume v(c.image);
    std::vector<entry_record> records;
    const ulong64 entry = v.entry_of(c.path);
    const entry_record* rec = v.find(records, entry, 0x80, c.stream);
    ASSERT_NE(rec, nullptr);
    std::ostringstream out, messages;
    std::string md5, want, want_md5;
    ASSERT_TRUE(write_attribute_data(v.ntfs, *rec, out, messages, false, true, md5));
    std::string address = std::to_string(entry);
    if (*c.stream) address += "-128-" + std::to_string(rec->item.header.small_value);
    ASSERT_TRUE(examine_test::icat(v.image, address, want));
    quor_test::run_command("icat " + v.image + " " + address + " | md5sum", want_md5);
    EXPECT_TRUE(out.str() == want);
    EXPECT_EQ(md5, want_md5.substr(0, 32));
  }
}

// Bytes this process has handed to write(2) so far; ~0 when the system
// does not count them.
ulong64 bytes_written_so_far() {
  std::ifstream io("/proc/self/io");
  std::string key;
  ulong64 value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  return ~0ULL;
}

// Writing to the null or zero device is the ordinary way to take a digest:
// every byte is written (none skipped by a seek, a hole neither), the
// digest is icat's, and the call succeeds, as into a string.
TEST(AttributeWriter, DevicesGetEveryByteAndIcatsDigest) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "needs icat, md5sum";
  const std::string null = examine_test::memory_device("null", 3), zero = examine_test::memory_device("zero", 5);
  if (null.empty() || zero.empty()) GTEST_SKIP() << "cannot make device nodes";
  volume v("default.img");
  for (const char* path : {"/nonres.bin", "/sparse.bin", "/compressed/pattern.bin"}) {
    std::vector<entry_record> records;
    const ulong64 entry = v.entry_of(path);
    const entry_record* rec = v.find(records, entry, 0x80, "");
    ASSERT_NE(rec, nullptr) << path;
    const std::string want_md5 = examine_test::icat_md5(v.image, std::to_string(entry));
    const ulong64 size = entry_data_length(v.ntfs, *rec, false);
    for (const std::string& device : {null, zero}) {
      SCOPED_TRACE(std::string(path) + " to " + device);
      std::ofstream out(device, std::ios::binary);
      std::ostringstream messages;
      std::string md5;
      const ulong64 before = bytes_written_so_far();
      EXPECT_TRUE(write_attribute_data(v.ntfs, *rec, out, messages, false, true, md5));
      const ulong64 after = bytes_written_so_far();
      EXPECT_EQ(md5, want_md5);
      if (before != ~0ULL) {
        EXPECT_GE(after - before, size);
      }
      std::ofstream viewer(device, std::ios::binary);
      EXPECT_EQ(write_entry_data(viewer, v.ntfs, *rec, false, false), 1);
    }
  }
}

// What a sink was given, by its value.
std::map<uint32, std::string>& fed() {
  static std::map<uint32, std::string> pieces;
  return pieces;
}
void collect(const byte* data, uint32 length, uint32 value) {
  fed()[value].append(reinterpret_cast<const char*>(data), length);
}

// Standard output (the descriptor) into a file while `write` runs.
std::string captured_stdout(const std::function<void()>& write) {
  const std::string file = quor_test::scratch_dir() + "/stdout.bin";
  std::fflush(stdout);
  std::cout.flush();
  const int saved = dup(1);
  const int fd = ::open(file.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (saved == -1 || fd == -1 || dup2(fd, 1) == -1) {
    ADD_FAILURE() << "cannot redirect standard output";
    return "";
  }
  write();
  std::fflush(stdout);
  std::cout.flush();
  dup2(saved, 1);
  close(saved);
  close(fd);
  return quor_test::read_file_text(file);
}

// The sink form and the standard-output form deliver what icat reads: each
// piece reaches the sink with the caller's value, and the pieces in order
// are the file.
TEST(AttributeWriter, SinkAndStandardOutputEqualIcat) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  const struct {
    const char *path, *stream;
  } cases[] = {{"/small.txt", ""},   {"/nonres.bin", ""}, {"/frag/b.bin", ""}, {"/sparse.bin", ""},
               {"/compressed/pattern.bin", ""}, {"/streams.txt", "alt"}};
  volume v("default.img");
  uint32 value = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + ":" + c.stream);
    std::vector<entry_record> records;
    const ulong64 entry = v.entry_of(c.path);
    const entry_record* rec = v.find(records, entry, 0x80, c.stream);
    ASSERT_NE(rec, nullptr);
    std::string address = std::to_string(entry), want;
    if (*c.stream) address += "-128-" + std::to_string(rec->item.header.small_value);
    ASSERT_TRUE(examine_test::icat(v.image, address, want));
    ++value;
    fed().clear();
    EXPECT_TRUE(feed_attribute_data(v.ntfs, *rec, collect, value, false));
    ASSERT_EQ(fed().size(), 1u) << "every piece carries the caller's value";
    EXPECT_EQ(fed().begin()->first, value);
    EXPECT_TRUE(fed()[value] == want) << fed()[value].size() << " bytes, icat " << want.size();
    // The full form: pieces to the sink with the digest of them, or to the
    // output stream when no sink is given.
    std::ostringstream unused, streamed, messages;
    std::string md5 = "stale", md5_streamed;
    fed().clear();
    EXPECT_TRUE(stream_attribute_data(v.ntfs, *rec, unused, messages, collect, value, false, true, md5));
    EXPECT_TRUE(fed()[value] == want);
    EXPECT_TRUE(unused.str().empty());
    EXPECT_EQ(md5, examine_test::icat_md5(v.image, address));
    EXPECT_TRUE(stream_attribute_data(v.ntfs, *rec, streamed, messages, nullptr, 0, false, true, md5_streamed));
    EXPECT_TRUE(streamed.str() == want);
    EXPECT_EQ(md5_streamed, md5);
    EXPECT_TRUE(messages.str().empty());
    int result = -1;
    const std::string printed = captured_stdout([&] { result = write_entry_data_to_stdout(v.ntfs, *rec, false); });
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(printed == want) << printed.size() << " bytes, icat " << want.size();
  }
  // The stored form of an index allocation: its records without fixups.
  std::vector<entry_record> records;
  const ulong64 many = v.entry_of("/many");
  const entry_record* index = v.find(records, many, 0xA0, "$I30");
  ASSERT_NE(index, nullptr);
  std::string stored;
  ASSERT_TRUE(examine_test::icat(
      v.image, std::to_string(many) + "-160-" + std::to_string(index->item.header.small_value), stored));
  fed().clear();
  EXPECT_TRUE(feed_attribute_data(v.ntfs, *index, collect, 7, true));
  EXPECT_TRUE(fed()[7] == stored);
  EXPECT_TRUE(captured_stdout([&] { write_entry_data_to_stdout(v.ntfs, *index, true); }) == stored);
  // No volume: nothing delivered.
  fed().clear();
  EXPECT_FALSE(feed_attribute_data(nullptr, *index, collect, 7, false));
  EXPECT_TRUE(fed().empty());
  std::ostringstream out, messages;
  std::string md5 = "stale";
  EXPECT_FALSE(stream_attribute_data(nullptr, *index, out, messages, collect, 7, false, true, md5));
  EXPECT_TRUE(md5.empty());
  EXPECT_TRUE(fed().empty());
  EXPECT_EQ(captured_stdout([&] { EXPECT_EQ(write_entry_data_to_stdout(nullptr, *index, false), 0); }), "");
}

TEST(AttributeWriter, IndexAllocationFixedUnlessRaw) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  volume v("default.img");
  const ulong64 entry = v.entry_of("/many");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, entry, 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  std::string stored;
  ASSERT_TRUE(examine_test::icat(
      v.image, std::to_string(entry) + "-160-" + std::to_string(rec->item.header.small_value), stored));
  std::ostringstream raw, fixed, messages;
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, raw, messages, true));
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, fixed, messages, false));
  EXPECT_TRUE(raw.str() == stored);
  ASSERT_EQ(fixed.str().size(), stored.size());
  for (size_t at = 0; at + 4096 <= stored.size(); at += 4096) {
    std::string want = stored.substr(at, 4096);
    ASSERT_EQ(apply_update_sequence(reinterpret_cast<byte*>(&want[0]), 4096), RECORD_FIXUP_APPLIED);
    EXPECT_TRUE(fixed.str().compare(at, 4096, want) == 0) << "record at " << at;
  }
}

// A copy of the kit volume, changed by `damage` before it is opened.
std::unique_ptr<CNtfs> damaged_copy(const std::string& name, const std::function<void(const std::string&)>& damage) {
  const std::string copy = quor_test::copy_fixture("default.img", name);
  damage(copy);
  return quor_test::open_engine_at(copy);
}

TEST(AttributeWriter, DataCutShortIsAFailureWithoutDigest) {
  volume v("default.img");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/nonres.bin"), 0x80, "");
  ASSERT_NE(rec, nullptr);
  // A run past the end of the volume, the sizes raised to cover it.
  entry_record beyond = *rec;
  const data_run& last = beyond.runs.back();
  beyond.runs.push_back(data_run(v.ntfs->m_total_clusters + 100, last.vcn + last.num_clusters, 4, false));
  store_u64(beyond.item.body + 16, entry_used_size(*rec) + 4 * v.ntfs->m_cluster_size);
  store_u64(beyond.item.body + 8, entry_used_size(beyond));
  beyond.initialized_size = entry_used_size(beyond);  // written there too: the clusters must be read
  // The image cut in the middle of the file's first run.
  const ulong64 cut = rec->runs[0].lcn * v.ntfs->m_cluster_size + 8192;
  std::unique_ptr<CNtfs> truncated =
      damaged_copy("truncated.img", [cut](const std::string& p) { truncate(p.c_str(), static_cast<off_t>(cut)); });
  ASSERT_NE(truncated, nullptr);
  std::ostream nowhere(nullptr);
  std::ostringstream out, messages;
  const struct {
    CNtfs* ntfs;
    const entry_record* rec;
    std::ostream* out;
  } cases[] = {{v.ntfs, &beyond, &out}, {truncated.get(), rec, &out}, {v.ntfs, rec, &nowhere}, {nullptr, rec, &out}};
  for (const auto& c : cases) {
    std::string md5 = "stale";
    EXPECT_FALSE(write_attribute_data(c.ntfs, *c.rec, *c.out, messages, false, true, md5));
    EXPECT_TRUE(md5.empty());
    EXPECT_EQ(write_entry_data(*c.out, c.ntfs, *c.rec, false, false), 0);
  }
}

TEST(AttributeWriter, DamagedIndexRecordPassesThroughUnrepaired) {
  volume v("default.img");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/many"), 0xA0, "$I30");
  ASSERT_NE(rec, nullptr);
  const ulong64 at = rec->runs[0].lcn * v.ntfs->m_cluster_size;
  // The update-sequence array said to lie at the record's end, far too long.
  std::unique_ptr<CNtfs> ntfs = damaged_copy("usa.img", [at](const std::string& p) {
    quor_test::write_at(p, at + 4, {0xF0, 0x0F, 0xFF, 0xFF});
  });
  ASSERT_NE(ntfs, nullptr);
  std::ostringstream raw, fixed, messages;
  ASSERT_TRUE(copy_attribute_data(ntfs.get(), *rec, raw, messages, true));
  ASSERT_TRUE(copy_attribute_data(ntfs.get(), *rec, fixed, messages, false));
  EXPECT_TRUE(fixed.str().substr(0, 4096) == raw.str().substr(0, 4096));
}

// /nonres.bin of a copy said to be written only to byte 100000: as file
// content the rest is zeros, as icat gives it; the raw form keeps the
// stored clusters.
TEST(AttributeWriter, PastTheInitializedSizeAsIcatGivesIt) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "needs icat, md5sum";
  volume v("default.img");
  const ulong64 entry = v.entry_of("/nonres.bin");
  const std::string copy = quor_test::copy_fixture("default.img", "initialized.img");
  ASSERT_TRUE(quor_test::rewrite_data_sizes(copy, examine_test::record_position(v.ntfs, entry), 204800, 204800,
                                            100000));
  std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(copy);
  std::vector<entry_record> records;
  const entry_record* rec = examine_test::find_record(ntfs.get(), records, entry, 0x80);
  ASSERT_NE(rec, nullptr);
  std::string want, stored;
  ASSERT_TRUE(examine_test::icat(copy, std::to_string(entry), want));
  ASSERT_TRUE(examine_test::icat(v.image, std::to_string(entry), stored));
  ASSERT_EQ(want.size(), 204800u);
  std::ostringstream out, viewer, raw, messages;
  std::string md5;
  ASSERT_TRUE(write_attribute_data(ntfs.get(), *rec, out, messages, false, true, md5));
  EXPECT_TRUE(out.str() == want);
  EXPECT_EQ(md5, examine_test::icat_md5(copy, std::to_string(entry)));
  EXPECT_EQ(write_entry_data(viewer, ntfs.get(), *rec, false, false), 1);
  EXPECT_TRUE(viewer.str() == want);
  ASSERT_TRUE(copy_attribute_data(ntfs.get(), *rec, raw, messages, true));
  EXPECT_TRUE(raw.str() == stored);
  // A cached window across the initialized size shows the same bytes.
  entry_record windowed = *rec;
  ASSERT_TRUE(load_attribute_window(windowed, ntfs.get(), 99990, 20));
  EXPECT_TRUE(std::string(windowed.window.begin(), windowed.window.end()) == want.substr(99990, 20));
}

// Empty streams, resident (a kit file of 0 bytes) and non-resident (sizes
// set to 0 on a copy): empty output, the digest of no bytes, success.
TEST(AttributeWriter, EmptyStreamsAreWholeAndEmpty) {
  if (!quor_test::have_program("icat") || !quor_test::have_program("md5sum")) GTEST_SKIP() << "needs icat, md5sum";
  volume v("default.img");
  const ulong64 nonres = v.entry_of("/nonres.bin");
  const std::string copy = quor_test::copy_fixture("default.img", "emptied.img");
  // As Windows leaves an emptied file: no runs, every size 0.
  const ulong64 pos = examine_test::record_position(v.ntfs, nonres);
  ASSERT_TRUE(quor_test::rewrite_mft_runs(copy, pos, {}, 0) && quor_test::rewrite_data_sizes(copy, pos, 0, 0, 0));
  volume big("bigdir.img");
  const struct {
    CNtfs* ntfs;
    std::string image;
    ulong64 entry;
  } cases[] = {{big.ntfs, big.image, big.entry_of("/d2000/v00002-abcdefghijklmnopqrstuvwxyz.txt")},
               {quor_test::open_engine_at(copy).release(), copy, nonres}};
  std::unique_ptr<CNtfs> owned(cases[1].ntfs);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    std::vector<entry_record> records;
    const entry_record* rec = examine_test::find_record(c.ntfs, records, c.entry, 0x80);
    ASSERT_NE(rec, nullptr);
    std::string want = "stale";
    ASSERT_TRUE(examine_test::icat(c.image, std::to_string(c.entry), want));
    std::ostringstream out, viewer, messages;
    std::string md5;
    EXPECT_TRUE(write_attribute_data(c.ntfs, *rec, out, messages, false, true, md5));
    EXPECT_TRUE(out.str() == want && want.empty());
    EXPECT_EQ(md5, examine_test::icat_md5(c.image, std::to_string(c.entry)));
    EXPECT_EQ(write_entry_data(viewer, c.ntfs, *rec, false, false), 1);
    EXPECT_TRUE(viewer.str().empty());
  }
}

// Forty clusters of 4 KiB are three pieces of sixteen clusters, read in
// one go or not.
TEST(AttributeWriter, ProgressCountsPiecesOfSixteenClusters) {
  volume v("default.img");
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, v.entry_of("/nonres.bin"), 0x80, "");
  ASSERT_NE(rec, nullptr);
  ASSERT_EQ(v.ntfs->m_cluster_size, 4096u);
  entry_record forty = *rec;
  store_u64(forty.item.body + 16, 40 * 4096);
  std::ostringstream out, whole, messages;
  testing::internal::CaptureStderr();
  const int result = write_entry_data(out, v.ntfs, forty, false, true);
  const std::string status = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, 1);
  ASSERT_TRUE(copy_attribute_data(v.ntfs, *rec, whole, messages, false));
  EXPECT_TRUE(out.str() == whole.str().substr(0, 40 * 4096));
  for (const char* shown : {"chunk:    1 [0 : 28000]", "chunk:    2 [10000 : 28000]", "chunk:    3 [20000 : 28000]"})
    EXPECT_NE(status.find(shown), std::string::npos) << shown << " in " << status;
  EXPECT_EQ(status.find("chunk:    4"), std::string::npos);
  EXPECT_LT(status.find("chunk:    1"), status.find("chunk:    2"));
  EXPECT_LT(status.find("chunk:    2"), status.find("chunk:    3"));
}

}  // namespace
