// The one-entry driver: data of paths and streams equal to icat from an
// image and from a VMDK chain, the report's statistics by hand, and every
// way the entry or its stream can be missing reported as a failure.
#include "examine/entry_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "tests/examine/examine_support.h"
#include "utils/byte_order.h"

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

entry_report_request to_stream(const std::string& image, const std::wstring& path, std::ostream& out) {
  entry_report_request r;
  r.image_path = wide(image);
  r.path = path;
  r.data_out = &out;
  r.to_stream = true;
  return r;
}

TEST(EntryReport, PathsAndStreamsEqualIcat) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  const std::string image = quor_test::fixture("default.img"), flat = quor_test::fixture("vmdk-state2.img");
  examine_test::volume v("default.img");
  const struct {
    const wchar_t* path;
    std::string icat_args;  // empty: the kit's stream text
    std::vector<std::wstring> vmdk;
  } cases[] = {
      {L"/compressed/pattern.bin", image + " " + std::to_string(v.entry_of("/compressed/pattern.bin")), {}},
      {L"/streams.txt:ALT", "", {}},
      {L"/snap-dir/later-big.bin", "-o 2048 " + flat + " 71",
       {wide(quor_test::fixture("vmdk-child.vmdk")), wide(quor_test::fixture("vmdk-base.vmdk"))}},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    entry_report_request r = to_stream(c.vmdk.empty() ? image : "", c.path, out);
    r.vmdk_files = c.vmdk;
    r.entry = 12345;  // ignored when resolving by path
    ASSERT_TRUE(report_entry_by_path(r));
    std::string want = "alternate stream text";
    if (!c.icat_args.empty()) {
      ASSERT_EQ(quor_test::run_command("icat " + c.icat_args, want), 0);
    }
    EXPECT_TRUE(out.str() == want) << out.str().size() << " bytes, want " << want.size();
  }
}

TEST(EntryReport, MissingEntriesAndStreamsFail) {
  const std::string image = quor_test::fixture("default.img");
  examine_test::volume v("default.img");
  std::ostringstream out, failed;
  failed.setstate(std::ios::badbit);
  const entry_report_request good = to_stream(image, L"/small.txt", out);
  std::vector<entry_report_request> bad(5, good);
  bad[0].path = L"/small.txt:nope";
  bad[1].path = L"/no-such-file";
  bad[2].entry = v.ntfs->get_inode_count() + 10;
  bad[3].image_path = L"/no/such/image";
  bad[4].data_out = &failed;
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(report_entry(bad[i])) << i;
  EXPECT_TRUE(out.str().empty());
  // By number, the path names only the stream.
  entry_report_request by_number = good;
  by_number.entry = v.entry_of("/streams.txt");
  by_number.path = L"whatever:alt";
  ASSERT_TRUE(report_entry(by_number));
  EXPECT_EQ(out.str(), "alternate stream text");
}

TEST(EntryReport, ReportAndHashedExtract) {
  examine_test::volume v("default.img");
  const ulong64 entry = v.entry_of("/small.txt");
  const std::string dir = quor_test::scratch_dir();
  entry_report_request r;
  r.image_path = wide(v.image);
  r.path = L"/small.txt";
  r.report_path = wide(dir + "/report.txt");
  r.extract_path = wide(dir + "/small.txt");
  r.hash_and_rename = true;
  ASSERT_TRUE(report_entry_by_path(r));
  // The record's place by hand: 1 KiB records from the $MFT's first cluster.
  const ulong64 pos = v.ntfs->m_boot.mft_start_lcn * 4096 + entry * 1024;
  char want[512];
  std::snprintf(want, sizeof want,
                "/small.txt\n\nMisc stats:\n  cluster size:         0x00001000\n  sectors/cluster:      0x00000008\n"
                "  MFT entry LCN:offset: 0x%08llx:0x%04llx [%llu:%llu]\n"
                "  start of partition:   0x000000000000 bytes [0x0 sectors]\n\n",
                pos / 4096ULL, pos % 4096ULL, pos / 4096ULL, pos % 4096ULL);
  const std::string report = quor_test::read_file_text(dir + "/report.txt");
  EXPECT_EQ(report.substr(0, std::strlen(want)), want);
  EXPECT_NE(report.find("Data Attrib: (unnamed)\n  used:  0x012c [300]\n"), std::string::npos);
  std::vector<entry_record> records;
  const entry_record* si = v.find(records, entry, 0x10, "");
  ASSERT_NE(si, nullptr);
  char stamp[17];
  std::snprintf(stamp, sizeof stamp, "%016llx", static_cast<unsigned long long>(load_u64(si->item.body, 8)));
  std::string found;
  quor_test::run_command("ls " + dir + " | grep -c '^" + stamp + "_small.txt_'", found);
  EXPECT_EQ(found, "1\n");
}

// A call that asks for the report alone succeeds once the report is
// written, whether or not the path names a stream the entry has; asked for
// data, a missing stream still fails, after the report.
TEST(EntryReport, ReportOnlyCallsSucceedWhenTheReportIsWritten) {
  examine_test::volume v("default.img");
  const std::string dir = quor_test::scratch_dir() + "/report-only";
  ASSERT_TRUE(::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST);
  std::ostringstream data;
  const struct {
    const wchar_t* path;
    ulong64 entry;
    bool to_stream;
    const char* report;
    bool ok;
    const char* section;  // a line the report holds
  } cases[] = {
      {L"/small.txt", ENTRY_FROM_PATH, false, "a.txt", true, "Data Attrib: (unnamed)\n"},
      {L"/small.txt:nope", ENTRY_FROM_PATH, false, "b.txt", true, "Data Attrib: (unnamed)\n"},
      {L"/$Volume", 3, false, "c.txt", true, "Volume Name Attrib: default\n"},
      {L"/small.txt:nope", ENTRY_FROM_PATH, true, "d.txt", false, "Data Attrib: (unnamed)\n"},
      {L"/small.txt", ENTRY_FROM_PATH, false, "no-such-folder/e.txt", false, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.report);
    entry_report_request r;
    r.image_path = wide(v.image);
    r.path = c.path;
    r.entry = c.entry;
    r.report_path = wide(dir + "/" + c.report);
    r.to_stream = c.to_stream;
    r.data_out = c.to_stream ? &data : nullptr;
    EXPECT_EQ(report_entry(r), c.ok);
    const std::string report = quor_test::read_file_text(dir + "/" + c.report);
    if (!c.section) {
      EXPECT_EQ(report, "");
      continue;
    }
    const std::wstring path = c.path;
    EXPECT_EQ(report.compare(0, path.size() + 14, std::string(path.begin(), path.end()) + "\n\nMisc stats:\n"), 0)
        << report;
    EXPECT_NE(report.find(c.section), std::string::npos) << report;
  }
  EXPECT_EQ(data.str(), "");
}

// File content as icat gives it: zeros past the initialized size (lowered
// on a copy), and an empty file delivered, to a stream and to a file.
TEST(EntryReport, ContentPastTheInitializedSizeAndEmptyFiles) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  examine_test::volume v("default.img");
  const ulong64 entry = v.entry_of("/frag/a.bin");
  const std::string copy = quor_test::copy_fixture("default.img", "report-init.img");
  ASSERT_TRUE(quor_test::rewrite_data_sizes(copy, examine_test::record_position(v.ntfs, entry), 65536, 65536, 5000));
  const std::string empty_image = quor_test::fixture("bigdir.img");
  const struct {
    std::string image;
    const wchar_t* path;
  } cases[] = {{copy, L"/frag/a.bin"}, {empty_image, L"/d2000/v00002-abcdefghijklmnopqrstuvwxyz.txt"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.image);
    std::ostringstream out;
    ASSERT_TRUE(report_entry_by_path(to_stream(c.image, c.path, out)));
    examine_test::volume opened(c.image == copy ? "default.img" : "bigdir.img");
    const std::wstring& p = c.path;
    std::string want;
    ASSERT_TRUE(examine_test::icat(c.image, std::to_string(opened.entry_of(std::string(p.begin(), p.end()))), want));
    EXPECT_TRUE(out.str() == want) << out.str().size() << " bytes, want " << want.size();
    entry_report_request to_file = to_stream(c.image, c.path, out);
    to_file.to_stream = false;
    to_file.data_out = nullptr;
    const std::string file = quor_test::scratch_dir() + "/report-data.bin";
    to_file.extract_path = wide(file);
    ::unlink(file.c_str());
    ASSERT_TRUE(report_entry_by_path(to_file));
    EXPECT_TRUE(quor_test::read_file_text(file) == want);
  }
}

// The null device as the extract's file or the data stream: the data goes
// there and the call succeeds.
TEST(EntryReport, DataToTheNullDevice) {
  const std::string null = examine_test::memory_device("report-null", 3);
  if (null.empty()) GTEST_SKIP() << "cannot make a device node";
  const std::string image = quor_test::fixture("default.img");
  for (const char* path : {"/nonres.bin", "/compressed/pattern.bin"}) {
    SCOPED_TRACE(path);
    std::ofstream device(null, std::ios::binary);
    entry_report_request r = to_stream(image, wide(path), device);
    EXPECT_TRUE(report_entry_by_path(r));
    r.to_stream = false;
    r.data_out = nullptr;
    r.extract_path = wide(null);
    EXPECT_TRUE(report_entry_by_path(r));
  }
}

}  // namespace
