// The one-entry driver: data of paths and streams equal to icat from an
// image and from a VMDK chain, the report's statistics by hand, and every
// way the entry or its stream can be missing reported as a failure.
#include "examine/entry_report.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "tests/examine/examine_support.h"
#include "utils/byte_order.h"

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

entry_report_request to_stream(const std::string& image, const std::string& path, std::ostream& out) {
  entry_report_request r;
  r.image_path = wide(image);
  r.path = wide(path);
  r.data_out = &out;
  r.to_stream = true;
  return r;
}

TEST(EntryReport, PathsAndStreamsEqualIcat) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  const std::string image = quor_test::fixture("default.img");
  const std::string flat = quor_test::fixture("vmdk-state2.img");
  const std::string base = quor_test::fixture("vmdk-base.vmdk"), child = quor_test::fixture("vmdk-child.vmdk");
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const struct {
    const char* path;
    std::string icat_args;
  } cases[] = {
      {"/nonres.bin", image + " " + std::to_string(v.entry_of("/nonres.bin"))},
      {"/compressed/pattern.bin", image + " " + std::to_string(v.entry_of("/compressed/pattern.bin"))},
      {"/streams.txt:ALT", ""},  // the kit's stream text, below
      {"/snap-dir/later-big.bin", "-o 2048 " + flat + " 71"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::ostringstream out;
    entry_report_request r = to_stream(image, c.path, out);
    if (std::string(c.path).rfind("/snap", 0) == 0) {
      r.image_path.clear();
      r.vmdk_files = {wide(child), wide(base)};
    }
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
  ASSERT_NE(v.ntfs, nullptr);
  std::ostringstream out;
  const entry_report_request good = to_stream(image, "/small.txt", out);
  std::vector<entry_report_request> bad(5, good);
  bad[0].path = L"/small.txt:nope";                          // no such stream
  bad[1].path = L"/no-such-file";                            // no such path
  bad[2].entry = v.ntfs->get_inode_count() + 10;             // beyond the MFT
  bad[3].image_path = L"/no/such/image";                     // no volume
  std::ostringstream failed;
  failed.setstate(std::ios::badbit);
  bad[4].data_out = &failed;                                 // an output already failed
  for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(report_entry(bad[i])) << i;
  EXPECT_TRUE(out.str().empty());
  // The same entry by number: the path then only names the stream.
  entry_report_request by_number = good;
  by_number.entry = v.entry_of("/streams.txt");
  by_number.path = L"whatever:alt";
  ASSERT_TRUE(report_entry(by_number));
  EXPECT_EQ(out.str(), "alternate stream text");
}

TEST(EntryReport, ReportAndHashedExtract) {
  const std::string image = quor_test::fixture("default.img");
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 entry = v.entry_of("/small.txt");
  const std::string dir = quor_test::scratch_dir();
  entry_report_request r;
  r.image_path = wide(image);
  r.path = L"/small.txt";
  r.report_path = wide(dir + "/report.txt");
  r.extract_path = wide(dir + "/small.txt");
  r.hash_and_rename = true;
  ASSERT_TRUE(report_entry_by_path(r));

  // The record's place, by hand: 1 KiB records from the $MFT's first LCN.
  const ulong64 pos = v.ntfs->m_boot.mft_start_lcn * v.ntfs->m_cluster_size + entry * 1024;
  const ulong64 lcn = pos / v.ntfs->m_cluster_size, off = pos % v.ntfs->m_cluster_size;
  char want[512];
  std::snprintf(want, sizeof want,
                "/small.txt\n\nMisc stats:\n  cluster size:         0x00001000\n  sectors/cluster:      0x00000008\n"
                "  MFT entry LCN:offset: 0x%08llx:0x%04llx [%llu:%llu]\n"
                "  start of partition:   0x000000000000 bytes [0x0 sectors]\n\n",
                static_cast<unsigned long long>(lcn), static_cast<unsigned long long>(off),
                static_cast<unsigned long long>(lcn), static_cast<unsigned long long>(off));
  const std::string report = read_file(dir + "/report.txt");
  EXPECT_EQ(report.substr(0, std::strlen(want)), want);
  EXPECT_NE(report.find("File Record: \n  MFT entry: 0x"), std::string::npos);
  EXPECT_NE(report.find("Data Attrib: (unnamed)\n  used:  0x012c [300]\n"), std::string::npos);

  std::vector<entry_record> records;
  const entry_record* si = v.find(records, entry, 0x10, "");
  ASSERT_NE(si, nullptr);
  char stamp[17];
  std::snprintf(stamp, sizeof stamp, "%016llx", static_cast<unsigned long long>(load_u64(si->item.body, 8)));
  std::string listing;
  quor_test::run_command("ls " + dir + " | grep '^" + stamp + "_small.txt_' | wc -l", listing);
  EXPECT_EQ(listing, "1\n");
}

}  // namespace
