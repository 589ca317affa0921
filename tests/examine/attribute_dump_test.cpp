// Attribute and record dumps by hand: a named resident value read at its
// stored offset and cut at the attribute's end, the walk that stops at the
// record's limit, and the summaries.
#include "examine/attribute_dump.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include "ntfs/attribute_type_name.h"
#include "ntfs/mft_record.h"
#include "tests/examine/examine_support.h"
#include "tests/support/engine.h"
#include "tests/support/istat.h"
#include "utils/byte_order.h"

namespace {

// A resident attribute of `length` bytes named "ab", its value at 0x20.
std::vector<byte> resident(uint32 type, uint32 length, uint32 value_length, const std::string& value) {
  std::vector<byte> a(length, 0);
  store_u32(&a[0], type);
  store_u32(&a[4], length);
  a[9] = 2;
  store_u16(&a[10], 0x18);
  store_u16(&a[14], 3);
  store_u32(&a[16], value_length);
  store_u16(&a[20], 0x20);
  store_u16(&a[0x18], 'a');
  store_u16(&a[0x1A], 'b');
  for (size_t i = 0; i < value.size() && 0x20 + i < length; ++i) a[0x20 + i] = static_cast<byte>(value[i]);
  return a;
}

std::string dumped(const std::vector<byte>& a) {
  std::ostringstream os;
  dump_attribute(os, a.data(), static_cast<uint32>(a.size()));
  return os.str();
}

TEST(AttributeDump, NamedResidentValueAtItsStoredOffset) {
  const std::string head =
      "(0x00) type:                0x00000080, " + attribute_type_name(0x80) +
      "\n(0x04) size:                0x00000028\n(0x08) non_resident_flag:   0x00 (resident)\n"
      "(0x09) size_name:           0x02\n(0x0a) offset_name:         0x0018\n(0x0c) flags:               0x0000\n"
      "(0x0e) attrib_id:           0x0003\n";
  const std::string text = dumped(resident(0x80, 0x28, 5, "hello"));
  EXPECT_EQ(text.substr(0, head.size()), head);
  EXPECT_NE(text.find("(0x10) size_data:           0x00000005\n(0x14) offset_data:         0x0020\n"
                      "(0x16) resident_flags:      0x00\n(0x17) pad1                 0x00\n"
                      "(0x18) name                 ab   <<-- ALTERNATE DATA STREAM\n"
                      "---- data ---- (starting at offset 0x0020)\n"),
            std::string::npos)
      << text;
  // The value runs on to the attribute's end: three bytes behind the
  // stored five.
  EXPECT_NE(text.find("0000 0000:  68 65 6c 6c 6f 00 00 00   "), std::string::npos) << text;
  // A value length past the attribute: only the attribute's bytes are shown.
  const std::string cut = dumped(resident(0x80, 0x28, 0x100, "12345678"));
  EXPECT_NE(cut.find("31 32 33 34 35 36 37 38"), std::string::npos) << cut;
  EXPECT_EQ(cut.find("38 00"), std::string::npos) << cut;
}

TEST(AttributeDump, RecordWalkStopsAtTheLimit) {
  std::vector<byte> record(0x100, 0);
  std::memcpy(record.data(), "FILE", 4);
  store_u16(&record[20], 0x38);
  const std::vector<byte> a = resident(0x80, 0x28, 5, "hello");
  std::copy(a.begin(), a.end(), record.begin() + 0x38);
  // A second attribute starts exactly at the limit 0x60, a third never comes.
  std::copy(a.begin(), a.end(), record.begin() + 0x60);
  std::ostringstream os;
  dump_record_attributes(record.data(), 0x38, 0x60, os);
  EXPECT_NE(os.str().find("    ------- attribute num 1 (relative offset 0x0038) ------ \n\n(0x00) type:"),
            std::string::npos);
  EXPECT_EQ(os.str().find("attribute num 2"), std::string::npos);
  // The end marker first: nothing at all.
  store_u32(&record[0x38], 0xFFFFFFFF);
  std::ostringstream none;
  dump_record_attributes(record.data(), 0x38, 0x100, none);
  EXPECT_EQ(none.str(), "");
  std::ostringstream marker;
  dump_attribute(marker, record.data() + 0x38, 8);
  EXPECT_EQ(marker.str(), "NTFS_ATTRIBUTE_END_MARKER\n");
}

TEST(AttributeDump, Summaries) {
  std::vector<byte> version = resident(0x70, 0x30, 12, "");
  version[0x28] = 3;
  version[0x29] = 1;
  std::vector<byte> bitmap = resident(0xB0, 0x38, 17, std::string(17, '\x01'));
  const struct {
    std::vector<byte> attr;
    std::string want;
  } cases[] = {
      {version, attribute_type_name(0x70) + ": ab\n  3:1 (WinXP)\n"},
      {bitmap, attribute_type_name(0xB0) + ": ab\n  01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 \n  01 \n"},
      {resident(0x80, 0x28, 5, "hello"), attribute_type_name(0x80) + ": ab\n  used [resident data]:  0x0005 (bytes)\n"},
      {resident(0x20, 0x28, 5, "hello"), ""},
      {resident(0x90, 0x28, 5, "hello"), ""},
  };
  for (const auto& c : cases) {
    std::ostringstream os;
    summarize_attribute(os, c.attr.data(), static_cast<uint32>(c.attr.size()));
    EXPECT_EQ(os.str(), c.want);
  }
}

// The attribute of `type` (named `name` when it is not empty) of a listed
// path of a kit volume, copied out of its record; empty when absent.
std::vector<byte> kit_attribute(const std::string& volume, const std::string& path, uint32 type,
                                const std::u16string& name = u"") {
  auto engine = quor_test::open_engine(volume + ".img");
  std::vector<byte> record;
  bool torn = false;
  const byte* attr = nullptr;
  const std::vector<uint16> units(name.begin(), name.end());
  if (!engine || !engine->read_mft_record_to_vector(record, torn, quor_test::listed_inode(volume, path)) ||
      !find_attribute_by_name(record.data(), static_cast<uint32>(record.size()), type, attr,
                              units.empty() ? nullptr : units.data(), static_cast<uint32>(units.size())))
    return {};
  return std::vector<byte>(attr, attr + load_u32(attr, 4));
}

// istat's times of an entry as a time stands in a line of text: "created"
// ... from istat's "Created:\t2023-05-02 16:00:00.000000000 (UTC)" as
// "05/02/23 16:00:00.000"; the $STANDARD_INFORMATION section's under "si",
// the first $FILE_NAME's under "fn".
std::map<std::string, std::string> istat_times(const std::string& volume, const std::string& path) {
  std::map<std::string, std::string> out;
  std::string text, section;
  const std::string cmd = "istat -z UTC " + quor_test::fixture(volume + ".img") + " " +
                          std::to_string(quor_test::listed_inode(volume, path));
  if (quor_test::run_command(cmd, text) != 0) return out;
  std::istringstream in(text);
  const std::pair<const char*, const char*> labels[] = {
      {"Created:\t", "created"}, {"File Modified:\t", "modified"}, {"MFT Modified:\t", "mft"}, {"Accessed:\t", "accessed"}};
  for (std::string line; std::getline(in, line);) {
    if (line == "$STANDARD_INFORMATION Attribute Values:") section = "si";
    else if (line == "$FILE_NAME Attribute Values:") section = out.count("fn created") ? "" : "fn";
    for (const auto& l : labels) {
      int y, mo, d, h, mi, sec;
      long ns;
      if (section.empty() || line.compare(0, std::strlen(l.first), l.first) != 0 ||
          std::sscanf(line.c_str() + std::strlen(l.first), "%d-%d-%d %d:%d:%d.%ld", &y, &mo, &d, &h, &mi, &sec, &ns) != 7)
        continue;
      char buf[32];
      std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d:%02d.%03d", mo, d, y % 100, h, mi, sec, static_cast<int>(ns / 1000000 % 1000));
      out[section + " " + l.second] = buf;
    }
  }
  return out;
}

std::string time_lines(std::map<std::string, std::string>& t, const std::string& source) {
  return "  modified:  " + t[source + " modified"] + "\n  accessed:  " + t[source + " accessed"] +
         "\n  created:   " + t[source + " created"] + "\n  mft mod:   " + t[source + " mft"] + "\n";
}

// Summaries of real attributes, each field hand-checked: times against
// istat, the object id and the sizes against ntfsinfo, the descriptor and
// the link's print name against their raw bytes.
TEST(AttributeDump, SummariesOfKitVolumeAttributes) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  // sample.img's /readme.txt: four different times, the same in both
  // sources; istat reads its flags as "Archive".
  std::map<std::string, std::string> t = istat_times("sample", "/readme.txt");
  ASSERT_EQ(t.size(), 8u);
  EXPECT_NE(t["si modified"], t["si accessed"]);
  EXPECT_NE(t["si created"], t["si mft"]);
  const struct {
    const char* volume;
    const char* path;
    uint32 type;
    std::u16string stream;
    std::string want;
  } cases[] = {
      {"sample", "/readme.txt", 0x10, u"", attribute_type_name(0x10) + ": ARCHIVE\n" + time_lines(t, "si")},
      // A name attribute is indexed: its resident flag's bit 0 is set.
      {"sample", "/readme.txt", 0x30, u"", attribute_type_name(0x30) + ": readme.txt, indexed\n" + time_lines(t, "fn")},
      // ntfsinfo: "Object ID: 11111105-1111-1111-1111-111111111111".
      {"views", "/objids/o05.txt", 0x40, u"", attribute_type_name(0x40) + ": { 11111105-1111-1111-1111-111111111111 }\n"},
      // A relative symbolic link: flags at value offset 16, its path buffer
      // at 20, the print name "target.txt" at buffer + 0x14.
      {"views", "/links/l00", 0xC0, u"", attribute_type_name(0xC0) + ": target.txt\n"},
      // links.img's mount point (path buffer at 16) and relative link.
      {"links", "/junction", 0xC0, u"", attribute_type_name(0xC0) + ": C:\\real\n"},
      {"links", "/rellink", 0xC0, u"", attribute_type_name(0xC0) + ": real\\inner\n"},
      // ntfsinfo: allocated 0x20000, data 0x19000, compression unit 4.
      {"default", "/compressed/pattern.bin", 0x80, u"",
       attribute_type_name(0x80) + ": compressed, , (compressed)\n  alloc: 0x000000020000\n  used:  0x000000019000\n"},
      // ntfsinfo: allocated 20480, data 20000.
      {"streams", "/host.bin", 0x80, u"big",
       attribute_type_name(0x80) + ": big\n  alloc: 0x000000005000\n  used:  0x000000004e20\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.volume) + " " + c.path);
    const std::vector<byte> attr = kit_attribute(c.volume, c.path, c.type, c.stream);
    ASSERT_FALSE(attr.empty());
    std::ostringstream os;
    summarize_attribute(os, attr.data(), static_cast<uint32>(attr.size()));
    EXPECT_EQ(os.str(), c.want);
  }
}

// $MFT's record 0 read straight from the image file: the boot sector's
// geometry, the record at the $MFT's first cluster, the update-sequence
// fixups undone by hand.
std::vector<byte> raw_record0(const std::string& image, uint32 record_size) {
  const std::string bytes = quor_test::read_file_text(image);
  if (bytes.size() < 512) return {};
  const byte* boot = reinterpret_cast<const byte*>(bytes.data());
  const ulong64 at = load_u64(boot, 0x30) * load_u16(boot, 11) * boot[13];
  if (at + record_size > bytes.size()) return {};
  std::vector<byte> rec(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + record_size));
  const uint32 usa = load_u16(rec.data(), 4), count = load_u16(rec.data(), 6);
  if (count < 2 || usa + 2 * count > record_size) return {};
  const uint32 stride = record_size / (count - 1);
  for (uint32 i = 1; i < count; ++i) {
    if (load_u16(rec.data(), i * stride - 2) != load_u16(rec.data(), usa)) return {};
    store_u16(&rec[i * stride - 2], load_u16(rec.data(), usa + 2 * i));
  }
  return rec;
}

// The engine's record 0 dumped: the same text as the record read from the
// image by hand, each attribute istat lists (type, id, residence, sizes)
// numbered in its order, and the $DATA's first run at fsstat's first
// cluster of the MFT. A 4 KiB-record volume too.
TEST(AttributeDump, MftRecord0AsIstatAndTheRawRecord) {
  if (!quor_test::have_program("istat") || !quor_test::have_program("fsstat"))
    GTEST_SKIP() << "istat and fsstat needed";
  std::vector<std::string> images;
  for (const char* name : {"default.img", "s4096.img", "c64k.img"}) images.push_back(quor_test::fixture(name));
  const std::string elsewhere = quor_test::shared_testdata("ntfs3.raw");
  if (!elsewhere.empty()) images.push_back(elsewhere);
  for (const std::string& image : images) {
    SCOPED_TRACE(image);
    std::unique_ptr<CNtfs> engine = quor_test::open_engine_at(image);
    ASSERT_TRUE(engine);
    std::string fsstat, istat;
    ASSERT_EQ(quor_test::run_command("fsstat " + image, fsstat), 0);
    ASSERT_EQ(quor_test::run_command("istat " + image + " 0", istat), 0);
    unsigned record_size = 0;
    unsigned long long mft_lcn = 0;
    ASSERT_EQ(std::sscanf(fsstat.c_str() + fsstat.find("Size of MFT Entries: "), "Size of MFT Entries: %u",
                          &record_size), 1);
    ASSERT_EQ(std::sscanf(fsstat.c_str() + fsstat.find("First Cluster of MFT: "), "First Cluster of MFT: %llu",
                          &mft_lcn), 1);
    std::ostringstream dumped, by_hand;
    engine->dump_mft_record0(dumped);
    const std::vector<byte> raw = raw_record0(image, record_size);
    ASSERT_EQ(raw.size(), record_size);
    dump_mft_record(raw.data(), record_size, by_hand);
    const std::string text = dumped.str();
    EXPECT_EQ(text, by_hand.str());

    std::istringstream lines(istat);
    size_t n = 0, at = 0;
    for (std::string line; std::getline(lines, line);) {
      char kind[32] = {0};
      unsigned type = 0, id = 0;
      unsigned long long size = 0;
      if (std::sscanf(line.c_str(), "Type: %*s (%u-%u) Name: %*s %31s", &type, &id, kind) != 3) continue;
      ASSERT_EQ(std::sscanf(line.c_str() + line.find("size: "), "size: %llu", &size), 1) << line;
      const bool resident = std::string(kind) == "Resident";
      char heading[64], want[512];
      std::snprintf(heading, sizeof heading, "    ------- attribute num %zx (relative offset", ++n);
      at = text.find(heading, at);
      ASSERT_NE(at, std::string::npos) << heading;
      const size_t next = text.find("    ------- attribute num", at + 1);
      const std::string section = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
      std::snprintf(want, sizeof want, "(0x00) type:                0x%08x, ", type);
      EXPECT_NE(section.find(want), std::string::npos) << line;
      std::snprintf(want, sizeof want, "(0x0e) attrib_id:           0x%04x\n", id);
      EXPECT_NE(section.find(want), std::string::npos) << line;
      if (resident) {
        std::snprintf(want, sizeof want, "(0x08) non_resident_flag:   0x00 (resident)\n(0x09)");
        EXPECT_NE(section.find(want), std::string::npos) << line;
        std::snprintf(want, sizeof want, "(0x10) size_data:           0x%08llx\n", size);
      } else {
        std::snprintf(want, sizeof want, "(0x30) size_data_real:      0x%016llx\n", size);
      }
      EXPECT_NE(section.find(want), std::string::npos) << line << "\n" << section;
      if (type == 0x80) {
        std::snprintf(want, sizeof want, "lcn (start):       %llx (%llu)\n", mft_lcn, mft_lcn);
        EXPECT_NE(section.find(want), std::string::npos) << section;
      }
    }
    // Nothing past the attributes istat lists: the end marker is not dumped.
    EXPECT_GE(n, 3u);
    char past[64];
    std::snprintf(past, sizeof past, "    ------- attribute num %zx ", n + 1);
    EXPECT_EQ(text.find(past), std::string::npos);
  }
}

// $Volume's resident descriptor (entry 3 of default.img), as ntfsinfo reads
// it: owner S-1-5-18, group S-1-5-32-544, no SACL, a DACL of two
// access-allowed entries of mask 0x12019f (READ_CONTROL and SYNCHRONIZE of
// the named rights) for those two SIDs.
TEST(AttributeDump, SummaryOfAResidentSecurityDescriptor) {
  auto engine = quor_test::open_engine("default.img");
  ASSERT_TRUE(engine);
  std::vector<byte> record;
  bool torn = false;
  const byte* attr = nullptr;
  ASSERT_TRUE(engine->read_mft_record_to_vector(record, torn, 3));
  ASSERT_TRUE(find_attribute(record.data(), static_cast<uint32>(record.size()), 0x50, attr));
  ASSERT_EQ(load_u32(attr, 16), 100u);
  std::ostringstream os;
  summarize_attribute(os, attr, static_cast<uint32>(record.data() + record.size() - attr));
  EXPECT_EQ(os.str(), attribute_type_name(0x50) +
                          ": Security Identifiers\n"
                          "owner sid [S-1-5-18]\n"
                          "group sid [S-1-5-32-544]\n"
                          "\n"
                          "Discretionary Access Control List\n"
                          "access allowed  Local System    READ_CONTROL | SYNCHRONIZE\n"
                          "access allowed  Admins          READ_CONTROL | SYNCHRONIZE\n");
}

// The bytes of the hex rows that follow `heading` in a dump.
std::vector<byte> hex_rows_after(const std::string& text, const std::string& heading) {
  std::vector<byte> out;
  size_t at = text.find(heading);
  if (at == std::string::npos) return out;
  std::istringstream rows(text.substr(at + heading.size()));
  for (std::string row; std::getline(rows, row) && row.compare(0, 5, "0000 ") == 0;) {
    std::istringstream hex(row.substr(11, 49));
    for (std::string pair; hex >> pair;) out.push_back(static_cast<byte>(std::stoul(pair, nullptr, 16)));
  }
  return out;
}

// default.img's /streams.txt keeps 50 bytes of data in an attribute of 0x50
// bytes with the value at 0x18: the full dump shows the 0x38 bytes up to
// the attribute's end, icat's 50 and then the record's own padding.
TEST(AttributeDump, ResidentValueRunsToTheAttributesEnd) {
  if (!quor_test::have_program("icat")) GTEST_SKIP() << "icat not installed";
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 entry = v.entry_of("/streams.txt");
  std::vector<byte> rec;
  bool torn = false;
  const byte* attr = nullptr;
  ASSERT_TRUE(v.ntfs->read_mft_record_to_vector(rec, torn, entry));
  ASSERT_TRUE(find_attribute_by_name(rec.data(), static_cast<uint32>(rec.size()), 0x80, attr, nullptr, 0));
  ASSERT_EQ(load_u32(attr, 4), 0x50u);
  ASSERT_EQ(load_u16(attr, 20), 0x18u);
  std::string data;
  ASSERT_TRUE(examine_test::icat(v.image, std::to_string(entry), data));
  ASSERT_EQ(data.size(), 50u);
  std::vector<byte> want(data.begin(), data.end());
  want.insert(want.end(), attr + 0x18 + 50, attr + 0x50);

  std::ostringstream os;
  dump_attribute(os, attr, 0x50);
  EXPECT_NE(os.str().find("(0x10) size_data:           0x00000032\n"), std::string::npos) << os.str();
  EXPECT_EQ(hex_rows_after(os.str(), "---- data ---- (starting at offset 0x0018)\n"), want) << os.str();
}

// The forms that take no length trust the attribute's length field: on a
// real record each writes what the three-argument form writes with that
// exact length, and the resident value sizes agree with istat's.
TEST(AttributeDump, FormsWithoutALengthTrustTheLengthField) {
  examine_test::volume v("default.img");
  ASSERT_NE(v.ntfs, nullptr);
  const ulong64 entry = v.entry_of("/streams.txt");
  ASSERT_EQ(entry, 73u);
  std::vector<byte> rec;
  bool torn = false;
  ASSERT_TRUE(v.ntfs->read_mft_record_to_vector(rec, torn, entry));
  const std::string istat = quor_test::istat_report(v.image, 73);
  const bool have_istat = !istat.empty();
  uint32 at = load_u16(rec.data(), 0x14);
  int seen = 0;
  while (at + 8 <= rec.size() && load_u32(rec.data(), at) != 0xFFFFFFFF) {
    const uint32 type = load_u32(rec.data(), at);
    const uint32 length = load_u32(rec.data(), at + 4);
    ASSERT_GT(length, 0u);
    const byte* attr = rec.data() + at;
    std::ostringstream exact, trusted, at_offset, summary_exact, summary_trusted;
    dump_attribute(exact, attr, length);
    dump_attribute(trusted, attr);
    dump_attribute_at(rec.data(), at, at_offset);
    summarize_attribute(summary_exact, attr, length);
    summarize_attribute(summary_trusted, attr);
    char head[64];
    std::snprintf(head, sizeof head, "(0x00) type:                0x%08x, ", type);
    EXPECT_EQ(trusted.str().rfind(head, 0), 0u) << trusted.str();
    EXPECT_EQ(trusted.str(), exact.str()) << at;
    EXPECT_EQ(at_offset.str(), exact.str()) << at;
    EXPECT_EQ(summary_trusted.str(), summary_exact.str()) << at;
    if (type == 0x80) {
      EXPECT_NE(summary_trusted.str(), "");
    }
    if (have_istat) {
      char line[96];
      std::snprintf(line, sizeof line, "(%u-%u)", type, load_u16(attr, 14));
      const size_t row = istat.find(line);
      ASSERT_NE(row, std::string::npos) << line;
      const size_t size_at = istat.find("size: ", row);
      const unsigned size = static_cast<unsigned>(std::stoul(istat.substr(size_at + 6)));
      std::snprintf(line, sizeof line, "(0x10) size_data:           0x%08x\n", size);
      EXPECT_NE(trusted.str().find(line), std::string::npos) << trusted.str();
    }
    at += length;
    ++seen;
  }
  EXPECT_EQ(seen, 5);  // two data streams, a name, a descriptor, standard information
}

// A length field that cannot be an attribute's is not trusted: nothing is
// dumped, and nothing is read past the bytes that are there.
TEST(AttributeDump, ImplausibleLengthFieldsAreNotTrusted) {
  const std::vector<byte> good = resident(0x80, 0x28, 5, "hello");
  std::vector<byte> too_long = resident(0x80, 0x28, 5, "hello");
  std::vector<byte> too_short = resident(0x80, 0x28, 5, "hello");
  std::vector<byte> short_non_resident = resident(0x80, 0x28, 5, "hello");
  store_u32(too_long.data() + 4, MAX_MFT_RECORD_SIZE + 8);
  store_u32(too_short.data() + 4, 0x10);
  short_non_resident[8] = 1;
  for (const auto* a : {&too_long, &too_short, &short_non_resident}) {
    std::ostringstream dump, summary;
    dump_attribute(dump, a->data());
    summarize_attribute(summary, a->data());
    EXPECT_EQ(dump.str(), "");
    EXPECT_EQ(summary.str(), "");
  }
  std::ostringstream marker;
  const byte end[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
  dump_attribute(marker, end);
  EXPECT_EQ(marker.str(), "NTFS_ATTRIBUTE_END_MARKER\n");

  // In a FILE record the attribute must also end inside the record's
  // allocation: one that runs past it is not dumped.
  std::vector<byte> record(0x100, 0);
  std::memcpy(record.data(), "FILE", 4);
  store_u32(&record[0x1C], 0x100);
  std::copy(good.begin(), good.end(), record.begin() + 0x38);
  std::copy(good.begin(), good.begin() + 0x20, record.begin() + 0xE0);
  std::ostringstream inside, across;
  dump_attribute_at(record.data(), 0x38, inside);
  dump_attribute_at(record.data(), 0xE0, across);
  EXPECT_EQ(inside.str(), dumped(good));
  EXPECT_EQ(across.str(), "");

  // A 1 KiB record whose header claims 4 KiB that the rest of it does not
  // bear out (the update-sequence count of a 1 KiB record), or one whose
  // header promises 1 KiB, bounds its attributes by the 1 KiB: one that
  // claims 2 KiB is not dumped. So does a record torn in writing, which
  // chkdsk marks "BAAD" over its signature and leaves its header as it was.
  const struct {
    const char* signature;
    uint32 allocated;
  } kibs[] = {{"FILE", 0x1000}, {"FILE", 0x400}, {"BAAD", 0x400}, {"BAAD", 0x1000}};
  for (const auto& k : kibs) {
    SCOPED_TRACE(std::string(k.signature) + " " + std::to_string(k.allocated));
    std::vector<byte> kib(1024, 0);
    std::memcpy(kib.data(), k.signature, 4);
    store_u16(&kib[6], 3);
    store_u32(&kib[0x18], 0x100);
    store_u32(&kib[0x1C], k.allocated);
    std::copy(good.begin(), good.end(), kib.begin() + 0x38);
    std::ostringstream within, claimed;
    dump_attribute_at(kib.data(), 0x38, within);
    EXPECT_EQ(within.str(), dumped(good));
    store_u32(&kib[0x38 + 4], 0x800);
    dump_attribute_at(kib.data(), 0x38, claimed);
    EXPECT_EQ(claimed.str(), "");
  }
}

}  // namespace
