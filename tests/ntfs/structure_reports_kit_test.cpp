// Structure reports of kit volumes against the oracles: FILE record headers
// and attribute values against istat, boot sectors against fsstat, $I30
// INDX records against the listing, and the view indexes of $Secure,
// $ObjId and $Reparse against ntfsinfo. Records are read raw from the image
// so that the dumps apply the fixup themselves; 1 KiB records with 512-byte
// and 4 KiB clusters, and 4 KiB records on 4 KiB sectors.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "ntfs/attribute_value_reports.h"
#include "ntfs/data_runs.h"
#include "ntfs/dir_children.h"
#include "ntfs/index_record.h"
#include "ntfs/index_reports.h"
#include "ntfs/indx_record_dump.h"
#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/record_header_reports.h"
#include "tests/support/engine.h"

namespace {

typedef std::vector<byte> bytes;

struct kit_volume {
  const char* image;
  const char* folder;  // a folder whose index spans INDX records
};
const kit_volume k_volumes[] = {{"default.img", "/many"}, {"c512.img", "/dir500"}, {"s4096.img", "/dir500"}};

bytes read_raw(const std::string& path, uint64 offset, uint64 size) {
  bytes out(size);
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
  if (static_cast<uint64>(in.gcount()) != size) out.clear();
  return out;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The text after `key` on the first line that holds it, up to the line end.
std::string after(const std::string& text, const std::string& key) {
  const size_t at = text.find(key);
  if (at == std::string::npos) return "";
  const size_t end = text.find('\n', at);
  return text.substr(at + key.size(), end - at - key.size());
}

uint64 hex_after(const std::string& text, const std::string& key) {
  return std::stoull(after(text, key), nullptr, 16);
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// istat's "2026-12-06 22:28:18.758029000 (UTC)" as the reports write it.
// A zero FILETIME (the system files of a kit volume) is what the reports
// show as not valid; istat in UTC shows it as 2076-11-29 08:54:34.
std::string report_time(const std::string& istat_time) {
  if (istat_time.compare(0, 4, "0000") == 0 || istat_time.compare(0, 29, "2076-11-29 08:54:34.000000000") == 0)
    return "00/00/00 00:00:00";
  return istat_time.substr(5, 2) + "/" + istat_time.substr(8, 2) + "/" + istat_time.substr(2, 2) + " " +
         istat_time.substr(11, 12);
}

struct opened {
  std::unique_ptr<CNtfs> ntfs;
  std::string path;
  bool open(const char* image) {
    path = quor_test::fixture(image);
    ntfs = quor_test::open_engine_at(path);
    return ntfs != nullptr;
  }
};

using quor_test::listed_inode;

}  // namespace

TEST(StructureReportsKit, BootSectorAgainstFsstat) {
  if (!quor_test::have_program("fsstat")) GTEST_SKIP() << "fsstat not installed";
  for (const kit_volume& v : k_volumes) {
    const std::string path = quor_test::fixture(v.image);
    if (path.empty()) GTEST_SKIP() << "fixture kit absent";
    std::string fsstat;
    ASSERT_EQ(quor_test::run_command("fsstat '" + path + "'", fsstat), 0);
    const bytes raw = read_raw(path, 0, NTFS_BOOT_SIZE);
    ASSERT_EQ(raw.size(), NTFS_BOOT_SIZE);
    NTFS_BOOT boot;
    boot.load(raw.data());
    std::ostringstream os;
    dump_ntfs_boot_sector(os, boot);
    const std::string text = os.str();
    EXPECT_EQ(hex_after(text, "mft_start_lcn:          "), std::stoull(after(fsstat, "First Cluster of MFT: ")))
        << v.image;
    EXPECT_EQ(hex_after(text, "mftmirr_start_lcn:      "),
              std::stoull(after(fsstat, "First Cluster of MFT Mirror: ")))
        << v.image;
    EXPECT_EQ(hex_after(text, "volume_serial_number:   "),
              std::stoull(after(fsstat, "Volume Serial Number: "), nullptr, 16))
        << v.image;
    EXPECT_EQ(hex_after(text, "bytes_per_sector:           0x"), std::stoull(after(fsstat, "Sector Size: ")))
        << v.image;
  }
}

TEST(StructureReportsKit, FileRecordsAgainstIstat) {
  if (!quor_test::have_program("istat")) GTEST_SKIP() << "istat not installed";
  for (const kit_volume& v : k_volumes) {
    opened vol;
    if (!vol.open(v.image)) GTEST_SKIP() << "fixture kit absent";
    const uint64 folder = listed_inode(v.image, v.folder);
    const uint64 small = listed_inode(v.image, "/small.txt");
    ASSERT_NE(folder, 0u);
    ASSERT_NE(small, 0u);
    for (uint64 entry : {uint64(0), uint64(5), folder, small}) {
      SCOPED_TRACE(std::string(v.image) + " entry " + std::to_string(entry));
      bytes record;
      bool flag = false;
      ASSERT_TRUE(vol.ntfs->read_mft_record_to_vector(record, flag, entry));
      std::string istat;
      ASSERT_EQ(quor_test::run_command("TZ=UTC istat '" + vol.path + "' " + std::to_string(entry), istat), 0);

      std::ostringstream header;
      dump_mft_record_header(header, record.data(), static_cast<uint32>(record.size()));
      const std::string h = header.str();
      EXPECT_EQ(after(h, "(0x00) keyword:             "), "FILE");
      EXPECT_EQ(hex_after(h, "(0x10) seq num:             0x"), std::stoull(after(istat, "Sequence: ")));
      EXPECT_EQ(hex_after(h, "(0x12) ref count:           0x"), std::stoull(after(istat, "Links: ")));
      const bool dir = istat.find("Allocated Directory") != std::string::npos;
      EXPECT_EQ(after(h, "(0x16) flags:               0x"), dir ? "0003 ( in use ) ( dir )" : "0001 ( in use )");
      // One array entry per 512 bytes of the record, after the check value.
      const uint64 count = hex_after(h, "(0x06) size update seq:     0x");
      EXPECT_EQ(count, record.size() / 512 + 1);
      size_t tabs = 0;
      for (const std::string& line : lines_of(h)) tabs += !line.empty() && line[0] == '\t';
      EXPECT_EQ(tabs, count);

      // $STANDARD_INFORMATION and $FILE_NAME values.
      const byte* attr = nullptr;
      byte_view value;
      ASSERT_TRUE(find_attribute(record.data(), static_cast<uint32>(record.size()), ATTR_STANDARD_INFORMATION, attr));
      ASSERT_TRUE(resident_value(attr, load_u32(attr, AH_LENGTH), value));
      std::ostringstream si;
      dump_standard_information(si, value.data, 0, static_cast<uint32>(value.size));
      const std::string si_section = istat.substr(istat.find("$STANDARD_INFORMATION Attribute Values:"));
      const std::string fn_section = istat.substr(istat.find("$FILE_NAME Attribute Values:"));
      const struct {
        const char* ours;
        const char* theirs;
      } times[] = {{"time file creation:  0x", "Created:\t"},
                   {"time file altered:   0x", "File Modified:\t"},
                   {"time mft changed:    0x", "MFT Modified:\t"},
                   {"time file accessed:  0x", "Accessed:\t"}};
      for (const auto& t : times) {
        const std::string line = after(si.str(), t.ours);
        EXPECT_EQ(line.substr(line.find("( ") + 2, line.find(" )") - line.find("( ") - 2),
                  report_time(after(si_section, t.theirs)))
            << t.ours;
      }
      ASSERT_TRUE(find_attribute(record.data(), static_cast<uint32>(record.size()), ATTR_FILE_NAME, attr));
      ASSERT_TRUE(resident_value(attr, load_u32(attr, AH_LENGTH), value));
      std::ostringstream fn;
      dump_file_name_attribute(fn, value, 0);
      EXPECT_EQ(after(fn.str(), "(0x42) filename:            "), after(fn_section, "Name: "));
      EXPECT_EQ(after(fn.str(), "parent_inode:        0x").substr(13),
                "(" + after(fn_section, "Parent MFT Entry: ").substr(0, after(fn_section, "Parent MFT Entry: ").find(' ')) + ")");
      const std::string created = after(fn.str(), "time_file_creation:  0x");
      EXPECT_EQ(created.substr(created.find("( ") + 2, created.find(" )") - created.find("( ") - 2),
                report_time(after(fn_section, "Created:\t")));
    }
  }
}

TEST(StructureReportsKit, DirectoryIndexRecordsAgainstListing) {
  for (const kit_volume& v : k_volumes) {
    SCOPED_TRACE(v.image);
    opened vol;
    if (!vol.open(v.image)) GTEST_SKIP() << "fixture kit absent";
    const std::string prefix = std::string(v.folder) + "/";
    std::set<std::tuple<uint64, uint64, std::string>> expected, found;
    for (const auto& e : quor_test::read_listing(v.image))
      if (e.path.compare(0, prefix.size(), prefix) == 0 && e.path.find('/', prefix.size()) == std::string::npos)
        expected.emplace(e.inode, e.sequence, e.path.substr(prefix.size()));
    ASSERT_GT(expected.size(), 100u);

    directory_index index;
    ASSERT_TRUE(read_directory_index(*vol.ntfs, listed_inode(v.image, v.folder), index));
    ASSERT_EQ(index.record_size, 4096u);
    const uint32 cluster = vol.ntfs->m_cluster_size;
    auto add_rows = [&found](const std::string& rows) {
      for (const std::string& line : lines_of(rows)) {
        unsigned long long entry = 0;
        unsigned sequence = 0, flags = 0;
        if (std::sscanf(line.c_str(), "0x%llx, 0x%x, 0x%x,", &entry, &sequence, &flags) != 3) continue;
        size_t at = 0;
        for (int commas = 0; commas < 7 && at != std::string::npos; ++commas) at = line.find(", ", at + 1);
        ASSERT_NE(at, std::string::npos) << line;
        found.emplace(entry, sequence, line.substr(at + 2));
      }
    };

    // The root node's entries, row by row, then every record in use.
    const byte_view node(index.root_node.data(), index.root_node.size());
    std::ostringstream root_rows;
    for (uint64 at = load_u32(node.data, 0); node.has(at, 16);) {
      if (load_u16(node.data, at + 12) & 2) break;
      print_index_entry_line("$I30", root_rows, node.sub(at, load_u16(node.data, at + 8)), false);
      at += load_u16(node.data, at + 8);
    }
    add_rows(root_rows.str());

    int records = 0;
    for (const data_run& run : index.runs) {
      const uint64 run_bytes = static_cast<uint64>(run.num_clusters) * cluster;
      for (uint64 off = 0; off + 4096 <= run_bytes; off += 4096) {
        const uint64 record_index = (run.vcn * cluster + off) / 4096;
        if (!index_record_in_use(index, record_index)) continue;
        const bytes raw = read_raw(vol.path, run.lcn * cluster + off, 4096);
        ASSERT_EQ(raw.size(), 4096u);
        std::ostringstream full, rows;
        ASSERT_TRUE(dump_indx_record("$I30", raw.data(), 4096, 512, full, 0));
        ASSERT_TRUE(dump_indx_record_short("$I30", raw.data(), 4096, 512, rows, records == 0));
        EXPECT_EQ(hex_after(full.str(), "vcn_this_blk:             0x"), record_index * 4096 / cluster);
        EXPECT_EQ(count_of(full.str(), "---- (dir entry) data ----"),
                  lines_of(rows.str()).size() - (records == 0 ? 2 : 0));
        add_rows(rows.str());
        ++records;
      }
    }
    EXPECT_GT(records, 1);
    EXPECT_EQ(found, expected);
  }
}

namespace {

typedef std::map<std::string, std::string> labelled;

// One index block as ntfsinfo -v shows it: its header fields and its entries,
// each a map from the labels to their values.
struct ntfsinfo_block {
  labelled header;
  std::vector<labelled> entries;
};

std::vector<ntfsinfo_block> ntfsinfo_blocks(const std::string& text) {
  std::vector<ntfsinfo_block> out;
  bool in_block = false;
  for (const std::string& raw : lines_of(text)) {
    if (raw.find("Dumping index block:") != std::string::npos) {
      in_block = true;
      out.emplace_back();
    }
    if (raw.find("Dumping attribute") != std::string::npos) in_block = false;
    const size_t colon = raw.find(':');
    if (!in_block || colon == std::string::npos) continue;
    std::string key = raw.substr(0, colon);
    key.erase(0, key.find_first_not_of('\t'));
    std::string value = raw.substr(colon + 1);
    value.erase(0, value.find_first_not_of("\t "));
    if (key == "Entry length") out.back().entries.emplace_back();
    (out.back().entries.empty() ? out.back().header : out.back().entries.back())[key] = value;
  }
  return out;
}

// "257 (0x101)" or "0x00b32451" as a number.
uint64 number(const std::string& v) {
  const size_t paren = v.find("(0x");
  if (paren != std::string::npos) return std::stoull(v.substr(paren + 3), nullptr, 16);
  return std::stoull(v, nullptr, 0);
}

}  // namespace

TEST(StructureReportsKit, ViewIndexRecordsAgainstNtfsinfo) {
  if (!quor_test::have_program("ntfsinfo")) GTEST_SKIP() << "ntfsinfo not installed";
  opened vol;
  if (!vol.open("views.img")) GTEST_SKIP() << "fixture kit absent";
  const struct {
    uint64 entry;
    const char* path;
    std::u16string name;
    const char* key;  // a label ntfsinfo shows for this index only
  } indexes[] = {{9, "$Secure", u"$SII", "Key security id"},
                 {9, "$Secure", u"$SDH", "Key hash"},
                 {25, "$Extend/$ObjId", u"$O", "Key GUID"},
                 {26, "$Extend/$Reparse", u"$R", "Key reparse tag"}};
  for (const auto& ix : indexes) {
    const std::string name(ix.name.begin(), ix.name.end());
    SCOPED_TRACE(name);
    bytes record;
    bool flag = false;
    ASSERT_TRUE(vol.ntfs->read_mft_record_to_vector(record, flag, ix.entry));
    std::vector<uint16> units(ix.name.begin(), ix.name.end());
    const byte* attr = nullptr;
    ASSERT_TRUE(find_attribute_by_name(record.data(), static_cast<uint32>(record.size()), ATTR_INDEX_ALLOCATION, attr,
                                       units.data(), static_cast<uint32>(units.size())));
    std::vector<run_record> runs;
    ASSERT_TRUE(decode_attribute_runs(attr, static_cast<uint64>(record.data() + record.size() - attr), runs));
    ASSERT_FALSE(runs.empty());
    const bytes raw = read_raw(vol.path, runs[0].lcn * vol.ntfs->m_cluster_size, 4096);
    ASSERT_EQ(raw.size(), 4096u);

    std::string info;
    ASSERT_EQ(quor_test::run_command("ntfsinfo -v -F '" + std::string(ix.path) + "' '" + vol.path + "' 2>/dev/null",
                                     info),
              0);
    // The block whose entries carry this index's own label ($SDH's entries
    // also carry "Key security id"), and those entries.
    const ntfsinfo_block* block = nullptr;
    std::vector<labelled> theirs;
    const std::vector<ntfsinfo_block> blocks = ntfsinfo_blocks(info);
    for (const ntfsinfo_block& b : blocks) {
      if (b.entries.empty() || !b.entries[0].count(ix.key) || (name == "$SII" && b.entries[0].count("Key hash")))
        continue;
      block = &b;
      for (const labelled& e : b.entries)
        if (e.count(ix.key)) theirs.push_back(e);
    }
    ASSERT_GT(theirs.size(), 30u);

    std::ostringstream rows, full;
    ASSERT_TRUE(dump_indx_record_short(name.c_str(), raw.data(), 4096, 512, rows, true));
    ASSERT_TRUE(dump_indx_record(name.c_str(), raw.data(), 4096, 512, full, 0));
    // The record header, written from ntfsinfo's values by the report's rules.
    ASSERT_NE(block, nullptr);
    auto field = [&](const char* label, int digits) {
      char text[24];
      std::snprintf(text, sizeof text, "%0*" PRIx64, digits, number(block->header.at(label)));
      return std::string(text);
    };
    EXPECT_EQ(full.str().substr(0, full.str().find("---- (index entry)")),
              "(0x000000) keyword:                  INDX\n(0x000004) offset_sequence_array:    0x" +
                  field("Upd. Seq. Array Off.", 4) + "\n(0x000006) size_sequence_array:      0x" +
                  field("Upd. Seq. Array Count", 4) + "\n(0x000008) log_sequence_number:      0x" +
                  field("LogFile Seq. Number", 16) + "\n(0x000010) vcn_this_blk:             0x" +
                  field("Node VCN", 16) + "\n---- (dir index) data ----\n(0x018) offset_entry:       0x" +
                  field("Entries Offset", 8) + "\n(0x01c) size_entries:       0x" + field("Index Size", 8) +
                  "\n(0x020) num entries alloc:  0x" + field("Allocated Size", 8) +
                  "\n(0x024) flags:              0x" + field("Index header flags", 2) + " (small dir)\n");
    std::vector<std::string> ours = lines_of(rows.str());
    ASSERT_GE(ours.size(), 2u);
    ours.erase(ours.begin(), ours.begin() + 2);  // the column header and its blank line
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_EQ(count_of(full.str(), "---- (index entry) data ----"), theirs.size());

    for (size_t i = 0; i < ours.size(); ++i) {
      const auto& t = theirs[i];
      // The row's fields, then ntfsinfo's values in the row's order.
      std::vector<std::string> fields;
      for (size_t at = 0, comma; (comma = ours[i].find(", ", at)) != std::string::npos; at = comma + 2)
        fields.push_back(ours[i].substr(at, comma - at));
      fields.push_back(ours[i].substr(ours[i].rfind(", ") + 2));
      std::vector<std::string> want;
      auto hex = [](uint64 v, int digits) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%0*" PRIx64, digits, v);
        return std::string(text);
      };
      if (name == "$O") {
        want = {t.at("Key GUID"), hex(number(t.at("MFT Number")), 12), hex(number(t.at("MFT Sequence Number")), 4),
                t.at("Birth volume id GUID"), t.at("Birth object id GUID"), t.at("Domain id GUID"), ""};
      } else if (name == "$R") {
        const uint64 file_id = number(t.at("Key file id"));
        want = {hex(std::stoull(t.at("Key reparse tag"), nullptr, 16), 8), hex(file_id & 0xFFFFFFFFFFFFULL, 12),
                hex(file_id >> 48, 4), ""};
      } else {
        if (name == "$SDH") want = {hex(number(t.at("Key hash")), 8)};
        want.push_back(hex(number(t.at("Key security id")), 8));
        if (name == "$SII") want.push_back(hex(number(t.at("Hash")), 8));
        if (name == "$SDH") want.push_back(hex(number(t.at("Hash")), 8));
        want.push_back(hex(number(t.at("Security id")), 8));
        want.push_back(hex(number(t.at("Offset in $SDS")), 16));
        want.push_back(hex(number(t.at("Length in $SDS")), 8));
        want.push_back(name == "$SII" ? "" : number(t.at("Unknown (padding)")) == 0x00490049 ? "yes" : "no");
      }
      for (std::string& f : fields) f.erase(0, f.find_first_not_of(' '));
      EXPECT_EQ(fields, want) << ours[i];
    }
  }
}
