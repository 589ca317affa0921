// The report sections: hand-built records written by hand from the rules,
// and the sections of kit volumes' records against istat, fsstat and the
// attributes' raw bytes.
#include "examine/entry_record_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "tests/examine/examine_support.h"
#include "utils/byte_order.h"

namespace {

const ulong64 MAY_2023 = 133273728000000000ULL;  // 2023-05-01 00:00:00 UTC

entry_record file_record() {
  entry_record r;
  r.item.header.type = ENTRY_SUMMARY_TYPE;
  entry_summary s;
  s.reference_low = 42;
  s.sequence = 3;
  s.flags = 1 | 2 | 4 | (15 << 3) | 0x80;
  s.base_reference = 7;
  s.store(r.item.body);
  return r;
}

entry_record data_record(uint16 flags, ulong64 compressed) {
  entry_record r;
  r.item.header.type = 0x80;
  r.item.header.word_value = flags;
  r.item.header.flag = 1;
  store_u64(r.item.body + 8, 0x10000);
  store_u64(r.item.body + 16, 0x9000);
  store_u64(r.item.body + 24, compressed);
  store_u32(r.item.body + 32, 4);
  r.runs.push_back(data_run(0x20, 0, 4, false));
  r.runs.push_back(data_run(0, 4, 12, true));
  return r;
}

entry_record resident_record() {
  entry_record r;
  r.item.header.type = 0x80;
  r.name = "alt";
  store_u32(r.item.body, 17);
  for (byte b = 0; b < 17; ++b) r.resident.push_back(b);
  return r;
}

entry_record name_record() {
  entry_record r;
  r.item.header.type = 0x30;
  r.text = "name.txt";
  store_u64(r.item.body, 0x0005000000000005ULL);
  for (int i = 0; i < 4; ++i) store_u64(r.item.body + 8 + 8 * i, MAY_2023 + i * 600 * 10000000ULL);
  r.item.body[48] = 1;
  return r;
}

TEST(EntryRecordReport, SectionsByHand) {
  const struct {
    entry_record rec;
    const char* want;
  } cases[] = {
      {file_record(),
       "File Record: \n  MFT entry: 0x0000002a [42]\n  Seq Num:   0x0003 [3]\n  Type:      directory\n"
       "  deleted\n  references mft entry: 0x000000000007\n  Ref Count: -1\n"},
      {data_record(0x8001, 0x3000),
       "Data Attrib: (unnamed), data compressed, sparse clusters\n  alloc: 0x000000010000 [65536]\n"
       "  used:  0x000000009000 [36864]\n  compressed size: 0x000000003000\n  cluster runs\n"
       "    0000000000000020 : 0000000000000023\n    0000000000000000 : 000000000000000b [sparsed]\n"},
      {resident_record(),
       "Data Attrib: alt\n  used:  0x0011 [17]\n"
       "  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n  10 \n"},
      {name_record(),
       "Filename Attrib: name.txt, (indexed)\n  parnt mft: 0x00000005 [5]\n"
       "  modified:  05/01/2023 00:10:00.000\n  accessed:  05/01/2023 00:20:00.000\n"
       "  created:   05/01/2023 00:00:00.000\n  mft mod:   05/01/2023 00:30:00.000\n"},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    write_entry_record_report(c.rec, out, nullptr);
    EXPECT_EQ(out.str(), c.want);
    std::wostringstream wide;
    write_entry_record_report_w(c.rec, wide, nullptr);
    EXPECT_EQ(wide.str().size(), out.str().size());
  }
}

// The section of the entry's first record of `type`; "<none>" without one.
std::string section_of(CNtfs* ntfs, ulong64 entry, uint32 type) {
  std::vector<entry_record> records;
  const entry_record* rec = examine_test::find_record(ntfs, records, entry, type);
  if (!rec) return "<none>";
  std::ostringstream out;
  write_entry_record_report(*rec, out, nullptr);
  return out.str();
}

// The rest of the first line, from the line start `from` on, that starts
// with `label`; "" when there is none.
std::string field(const std::string& text, const std::string& label, size_t from = 0) {
  size_t at = from;
  while (text.compare(at, label.size(), label) != 0) {
    at = text.find('\n', at);
    if (at == std::string::npos) return "";
    ++at;
  }
  const size_t end = text.find('\n', at);
  return text.substr(at + label.size(), end == std::string::npos ? std::string::npos : end - at - label.size());
}

// istat's "2026-12-06 22:28:18.758298500 (UTC)" as the report writes it.
std::string report_time(const std::string& istat) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  long ns = 0;
  if (std::sscanf(istat.c_str(), "%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &s, &ns) != 7) return "?" + istat;
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d.%03ld", mo, d, y, h, mi, s, ns / 1000000);
  return text;
}

// istat's flag words, in its order, as the report names them.
std::string report_flags(const std::string& istat) {
  static const std::pair<const char*, const char*> names[] = {
      {"Read Only", "READ_ONLY"},   {"Hidden", "HIDDEN"},         {"System", "SYSTEM"},
      {"Archive", "ARCHIVE"},       {"Sparse", "SPARSE_FILE"},    {"Reparse Point", "REPARSE_PT"},
      {"Compressed", "COMPRESSED"}, {"Not Content Indexed", "CONTENT_NOT_INDEXED"}};
  std::string out;
  std::istringstream words(istat);
  for (std::string word; std::getline(words, word, ',');) {
    word.erase(0, word.find_first_not_of(' '));
    std::string name = "?" + word;
    for (const auto& n : names)
      if (word == n.first) name = n.second;
    out += (out.empty() ? "" : ", ") + name;
  }
  return out.empty() ? "none set" : out;
}

TEST(EntryRecordReport, StandardInformationEqualsIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  const struct {
    const char* image;
    const char* path;
  } cases[] = {{"default.img", "/small.txt"},         {"default.img", "/compressed/pattern.bin"},
               {"default.img", "/sparse.bin"},        {"default.img", "/frag"},
               {"views.img", "/owners/u00.txt"},      {"views.img", "/owners/u59.txt"},
               {"views.img", "/links/l07"},           {"links.img", "/junction"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.image) + c.path);
    examine_test::volume v(c.image);
    ASSERT_NE(v.ntfs, nullptr);
    const ulong64 entry = v.entry_of(c.path);
    std::string istat;
    ASSERT_EQ(quor_test::run_command("istat -z UTC " + v.image + " " + std::to_string(entry), istat), 0);
    const size_t si = istat.find("$STANDARD_INFORMATION Attribute Values:");
    ASSERT_NE(si, std::string::npos);
    unsigned secure_id = 0;
    ASSERT_EQ(std::sscanf(field(istat, "Security ID: ", si).c_str(), "%u", &secure_id), 1);
    char id_line[32];
    std::snprintf(id_line, sizeof id_line, "  secure id: 0x%08x\n", secure_id);
    const std::string want = "Standard Info Attrib: (" + report_flags(field(istat, "Flags: ", si)) + ")\n" +
                             "  modified:  " + report_time(field(istat, "File Modified:\t", si)) + "\n" +
                             "  accessed:  " + report_time(field(istat, "Accessed:\t", si)) + "\n" +
                             "  created:   " + report_time(field(istat, "Created:\t", si)) + "\n" +
                             "  mft mod:   " + report_time(field(istat, "MFT Modified:\t", si)) + "\n" + id_line;
    EXPECT_EQ(section_of(v.ntfs, entry, 0x10), want);
  }
}

// The parent paths of a name whose folder's record the end of the image
// cuts short (moved.img: /b/x is numbered below /b; the cut lies 0x100
// bytes into /b's record, past its name): the folder's path as the listing
// gives it, read from the bytes there alone.
TEST(EntryRecordReport, ParentWhoseRecordTheImageCutsShort) {
  examine_test::volume whole("moved.img");
  ASSERT_NE(whole.ntfs, nullptr);
  const ulong64 folder = quor_test::listed_inode("moved", "/b");
  const ulong64 entry = quor_test::listed_inode("moved", "/b/x");
  ASSERT_LT(entry, folder);
  const std::string copy = quor_test::copy_fixture("moved.img", "report-cut.img");
  ASSERT_FALSE(copy.empty());
  ASSERT_EQ(::truncate(copy.c_str(), static_cast<off_t>(whole.ntfs->get_inode_file_pos(folder) + 0x100)), 0);
  std::unique_ptr<CNtfs> cut = quor_test::open_engine_at(copy);
  ASSERT_NE(cut, nullptr);
  std::vector<entry_record> records;
  const entry_record* name = examine_test::find_record(cut.get(), records, entry, 0x30);
  ASSERT_NE(name, nullptr);
  std::ostringstream out;
  write_entry_record_report(*name, out, cut.get());
  EXPECT_EQ(field(out.str(), "  parnt mft: "), "0x00000041 [65] = b\\");
}

// Every kit volume carries its label in $Volume (entry 3): fsstat's "Volume
// Name", and its version; a volume made elsewhere without a label (fsstat
// shows no name) reads "none specified".
TEST(EntryRecordReport, VolumeNameAndVersionEqualFsstat) {
  if (!quor_test::have_program("fsstat")) GTEST_SKIP() << "fsstat not installed";
  std::vector<std::string> images;
  for (const char* name : {"default.img", "streams.img", "links.img", "views.img", "bigdir.img", "c512.img"})
    images.push_back(quor_test::fixture(name));
  const std::string unlabelled = quor_test::shared_testdata("ntfs3.raw");
  if (!unlabelled.empty()) images.push_back(unlabelled);
  for (const std::string& image : images) {
    SCOPED_TRACE(image);
    std::unique_ptr<CNtfs> ntfs = quor_test::open_engine_at(image);
    ASSERT_NE(ntfs, nullptr);
    std::string fsstat;
    ASSERT_EQ(quor_test::run_command("fsstat " + image, fsstat), 0);
    const std::string label = field(fsstat, "Volume Name: ");
    ASSERT_EQ(field(fsstat, "Version: "), "Windows XP");
    const std::string name = label.empty() ? "none specified" : label;
    EXPECT_EQ(section_of(ntfs.get(), 3, 0x60), "Volume Name Attrib: " + name + "\n");
    EXPECT_EQ(section_of(ntfs.get(), 3, 0x70), "Volume Info Attrib: major:minor ver = 3:1 (WinXP)\n");
  }
  EXPECT_EQ(images.size(), unlabelled.empty() ? 6u : 7u);
}

// $Volume's descriptor on default.img (icat default.img 3-80), decoded by
// hand: owner S-1-5-18 at 0x48, group S-1-5-32-544 at 0x54, no SACL, a DACL
// at 0x14 of two access-allowed ACEs of mask 0x0012019f, for S-1-5-18 and
// S-1-5-32-544. The section names the accounts.
TEST(EntryRecordReport, SecurityDescriptorByHand) {
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  EXPECT_EQ(section_of(v.ntfs, 3, 0x50),
            "Security Descriptor Attrib: \n"
            "  Security Identifiers\n"
            "  owner sid [S-1-5-18]\n"
            "  group sid [S-1-5-32-544]\n"
            "\n"
            "  Discretionary Access Control List\n"
            "  access allowed  Local System    READ_CONTROL | SYNCHRONIZE\n"
            "  access allowed  Admins          READ_CONTROL | SYNCHRONIZE\n");
}

// Object ids as the kit set them (make-views.sh: the entry's number, then
// fifteen 0x11 bytes), and reparse points' print names (make-links.sh,
// make-views.sh), each also found in the attribute's raw bytes.
TEST(EntryRecordReport, ObjectIdsAndReparsePointsAsSet) {
  const bool have_icat = quor_test::have_program("icat");
  const struct {
    const char* image;
    const char* path;
    uint32 type;
    std::string want;
    std::string raw;  // bytes the attribute's value holds
  } cases[] = {
      {"views.img", "/objids/o00.txt", 0x40, "Object ID Attrib: { 11111100-1111-1111-1111-111111111111 }\n",
       std::string(1, '\0') + std::string(15, '\x11')},
      {"views.img", "/objids/o13.txt", 0x40, "Object ID Attrib: { 1111110d-1111-1111-1111-111111111111 }\n",
       "\x0d" + std::string(15, '\x11')},
      {"views.img", "/objids/o39.txt", 0x40, "Object ID Attrib: { 11111127-1111-1111-1111-111111111111 }\n",
       "\x27" + std::string(15, '\x11')},
      {"views.img", "/links/l07", 0xC0, "Reparse Point Attrib: target.txt\n", "target.txt"},
      {"links.img", "/junction", 0xC0, "Reparse Point Attrib: C:\\real\n", "C:\\real"},
      {"links.img", "/links/dirlink", 0xC0, "Reparse Point Attrib: C:\\real\\inner\n", "C:\\real\\inner"},
      {"links.img", "/rellink", 0xC0, "Reparse Point Attrib: real\\inner\n", "real\\inner"},
      {"links.img", "/chain", 0xC0, "Reparse Point Attrib: C:\\links\\dirlink\n", "C:\\links\\dirlink"},
      // No print name, and the attribute has no name either.
      {"links.img", "/noprint", 0xC0, "Reparse Point Attrib: \n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.image) + c.path);
    examine_test::volume v(c.image);
    ASSERT_NE(v.ntfs, nullptr);
    const ulong64 entry = v.entry_of(c.path);
    EXPECT_EQ(section_of(v.ntfs, entry, c.type), c.want);
    if (!have_icat || c.raw.empty()) continue;
    std::string value, raw = c.raw;
    ASSERT_TRUE(examine_test::icat(v.image, std::to_string(entry) + "-" + std::to_string(c.type), value));
    if (c.type == 0xC0) {  // the names are UTF-16LE
      raw.clear();
      for (char ch : c.raw) raw += std::string(1, ch) + '\0';
    }
    EXPECT_NE(value.find(raw), std::string::npos);
  }
}

}  // namespace
