// Security ids resolved through $Secure against the descriptors the mounted
// volume shows (ntfs-3g's system.ntfs_acl) and against descriptors decoded
// by hand, the caches never serving one volume's descriptors for another nor
// opening a drive letter's volume twice, and object ids through $ObjId.
#include "examine/security_lookup.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>

#include "examine/index_listing.h"
#include "ntfs/security_names.h"
#include "tests/examine/examine_support.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/istat.h"
#include "tests/support/listing.h"
#include "utils/byte_order.h"

namespace {

using examine_test::volume;

uint32 security_id_of(volume& v, const std::string& path) {
  std::vector<entry_record> records;
  const entry_record* si = v.find(records, v.entry_of(path), 0x10, "");
  return si ? load_u32(si->item.body, 36) : 0;
}

// Unmounts when it goes, so that no failure leaves the mount behind.
struct mounted {
  std::string point = quor_test::scratch_dir() + "/acl.mnt";
  bool ok = false;
  explicit mounted(const std::string& image) {
    mkdir(point.c_str(), 0700);
    std::string out;
    ok = quor_test::run_command("cp " + image + " " + point + ".img && ntfs-3g -o ro " + point + ".img " + point,
                                out) == 0;
  }
  ~mounted() {
    std::string out;
    if (ok) quor_test::run_command("umount " + point, out);
  }
};

// A SID as "S-" text, read the way the published format lays it out: the
// revision, a 48-bit big-endian authority, then 32-bit little-endian
// sub-authorities.
std::string sid_text(const std::string& sd, size_t at) {
  if (at + 8 > sd.size()) return "";
  const byte* sid = reinterpret_cast<const byte*>(sd.data()) + at;
  ulong64 authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | sid[i];
  std::string text = "S-" + std::to_string(sid[0]) + "-" + std::to_string(authority);
  for (size_t i = 0; i < sid[1] && at + 12 + 4 * i <= sd.size(); ++i) text += "-" + std::to_string(load_u32(sid, 8 + 4 * i));
  return text;
}

// The descriptor's text decoded from its stored bytes: the SIDs as text, one
// line per SID and ACE type (the rights of repeated pairs joined), in the
// order of SID text and type.
std::string decoded(const std::string& sd) {
  const byte* b = reinterpret_cast<const byte*>(sd.data());
  std::string text = "Security Identifiers\n";
  if (load_u32(b, 4)) text += "owner sid [" + sid_text(sd, load_u32(b, 4)) + "]\n";
  if (load_u32(b, 8)) text += "group sid [" + sid_text(sd, load_u32(b, 8)) + "]\n";
  const std::pair<uint32, const char*> acls[] = {{load_u32(b, 12), "System Access Control List"},
                                                 {load_u32(b, 16), "Discretionary Access Control List"}};
  for (const auto& acl : acls) {
    if (acl.first == 0) continue;
    std::map<std::string, std::pair<std::string, std::string>> lines;  // key: SID text and type
    size_t at = acl.first + 8;
    for (uint32 n = load_u16(b, acl.first + 4); n > 0; --n, at += load_u16(b, at + 2)) {
      std::string type, rights;
      ace_type_name(b[at], type, true);
      access_mask_names(load_u32(b, at + 4), rights);
      const std::string sid = sid_text(sd, at + 8);
      auto placed = lines.emplace(sid + type, std::make_pair(type + std::string(15 - type.size(), ' ') + " " + sid +
                                                                 std::string(sid.size() < 15 ? 15 - sid.size() : 0, ' '),
                                                             rights));
      if (!placed.second) placed.first->second.second += " | " + rights;
    }
    if (lines.empty()) continue;
    text += std::string("\n") + acl.second + "\n";
    for (const auto& l : lines) text += l.second.first + " " + l.second.second + "\n";
  }
  return text;
}

TEST(SecurityLookup, DescriptorsEqualTheMountedVolume) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  const std::vector<std::string> paths = {"/owners/u00.txt", "/owners/u17.txt", "/owners/u59.txt", "/links/target.txt"};
  if (geteuid() != 0 || !quor_test::have_program("ntfs-3g") || !quor_test::have_program("getfattr"))
    GTEST_SKIP() << "needs root, ntfs-3g and getfattr";
  const mounted m(v.image);
  ASSERT_TRUE(m.ok);
  for (const std::string& p : paths) {
    std::string sd;
    quor_test::run_command("getfattr --only-values -n system.ntfs_acl " + m.point + p + " 2>/dev/null", sd);
    ASSERT_GT(sd.size(), 20u) << p;
    std::ostringstream out;
    ASSERT_TRUE(print_security_id(v.ntfs, security_id_of(v, p), out)) << p;
    EXPECT_EQ(out.str(), decoded(sd) + "\n") << p;
  }
  std::ostringstream none;
  EXPECT_FALSE(print_security_id(v.ntfs, 0xFFFFFF, none));
}

// Two descriptors of views.img decoded by hand from the mount's bytes
// (getfattr -n system.ntfs_acl). u00.txt: owner and group the user's and
// group's SIDs, a DACL of four access-allowed ACEs. target.txt: owner and
// group S-1-5-32-544, five ACEs, three of them for S-1-5-32-544, whose
// rights are joined in ACE order. istat names the same owner SID.
const std::string kDomain = "S-1-5-21-3141592653-589793238-462843383-";
const std::string kAll = "DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE";
const std::string kRead = "READ_CONTROL | SYNCHRONIZE";
const std::string kU00 = "Security Identifiers\nowner sid [" + kDomain + "14000]\ngroup sid [" + kDomain +
                         "14001]\n\nDiscretionary Access Control List\n"
                         "access allowed  S-1-1-0         " + kRead + "\n"
                         "access allowed  S-1-5-18        " + kAll + "\n"
                         "access allowed  " + kDomain + "14000 " + kAll + "\n"
                         "access allowed  S-1-5-32-544    " + kAll + "\n\n";
const std::string kTarget = "Security Identifiers\nowner sid [S-1-5-32-544]\ngroup sid [S-1-5-32-544]\n\n"
                            "Discretionary Access Control List\n"
                            "access allowed  S-1-1-0         " + kRead + "\n"
                            "access allowed  S-1-5-18        " + kAll + "\n"
                            "access allowed  S-1-5-32-544    " + kAll + " | " + kRead + " | " + kAll + "\n\n";

TEST(SecurityLookup, DescriptorTextsByHand) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  quor_test::drive_letter q(v.image);
  ASSERT_TRUE(q.ok);
  for (const auto& c : {std::make_pair("/owners/u00.txt", kU00), std::make_pair("/links/target.txt", kTarget)}) {
    std::ostringstream by_volume, by_drive;
    EXPECT_TRUE(print_security_id(v.ntfs, security_id_of(v, c.first), by_volume)) << c.first;
    EXPECT_TRUE(print_security_id(std::string("Q:"), security_id_of(v, c.first), by_drive)) << c.first;
    EXPECT_EQ(by_volume.str(), c.second) << c.first;
    EXPECT_EQ(by_drive.str(), c.second) << c.first;
  }
  if (!quor_test::have_program("istat")) return;
  const std::string istat = quor_test::istat_report(v.image, v.entry_of("/owners/u00.txt"));
  EXPECT_NE(istat.find("(" + kDomain + "14000)"), std::string::npos) << istat;
}

// The opens of one file, as inotify reports them.
class open_counter {
 public:
  explicit open_counter(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK)) {
    if (fd_ >= 0 && inotify_add_watch(fd_, path.c_str(), IN_OPEN) < 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~open_counter() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // The opens since the last call: each is queued while the open is made.
  int take() {
    int opens = 0;
    char buf[4096];
    for (ssize_t got; (got = read(fd_, buf, sizeof buf)) > 0;) {
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
        inotify_event e;
        std::memcpy(&e, buf + at, sizeof e);
        opens += (e.mask & IN_OPEN) != 0;
        at += static_cast<ssize_t>(sizeof e + e.len);
      }
    }
    return opens;
  }

 private:
  int fd_;
};

// The drive-letter form opens the letter's volume once and serves later
// calls for that letter from its cache; another letter opens its volume,
// and a letter whose volume did not open is tried again.
TEST(SecurityLookup, DriveLetterVolumeOpenedOncePerLetter) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  const uint32 id = security_id_of(v, "/owners/u00.txt");
  quor_test::drive_letter q(v.image);
  ASSERT_TRUE(q.ok);
  ASSERT_EQ(symlink(v.image.c_str(), "R:"), 0);
  open_counter opens(v.image);
  ASSERT_TRUE(opens.ok());
  const struct {
    const char* drive;
    bool opens;
  } calls[] = {{"Z:", false}, {"Q:", true},  {"Q:\\", false}, {"Q", false},
               {"R:", true},  {"R:", false}, {"Q:", true},    {"Q:", false}};
  for (const auto& c : calls) {
    std::ostringstream out;
    EXPECT_EQ(print_security_id(std::string(c.drive), id, out), c.drive[0] != 'Z') << c.drive;
    EXPECT_EQ(out.str(), c.drive[0] != 'Z' ? kU00 : "") << c.drive;
    const int n = opens.take();
    EXPECT_EQ(n > 0, c.opens) << c.drive << " opened the volume " << n << " times";
  }
  unlink("R:");
}

TEST(SecurityLookup, CacheFollowsTheVolumeNotTheEngineAddress) {
  uint32 id = 0;
  std::string views_text;
  {
    volume v("views.img");
    ASSERT_NE(v.ntfs, nullptr);
    id = security_id_of(v, "/owners/u59.txt");
    std::ostringstream out;
    ASSERT_TRUE(print_security_id(v.ntfs, id, out));
    views_text = out.str();
  }
  // A new engine, likely at the old one's address, on another volume.
  volume d("default.img");
  ASSERT_NE(d.ntfs, nullptr);
  security_id_map ids;
  security_text_map texts;
  ASSERT_TRUE(load_security_tables(d.ntfs, ids, texts));
  std::ostringstream out;
  const bool known = ids.count(id) && texts.count(ids[id].sds_offset);
  EXPECT_EQ(print_security_id(d.ntfs, id, out), known);
  EXPECT_EQ(out.str(), known ? texts[ids[id].sds_offset] + "\n" : "");
  EXPECT_NE(out.str(), views_text);
}

// By drive letter the same texts come out as by the open volume.
TEST(SecurityLookup, ByDriveLetterAsByVolume) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  quor_test::drive_letter q(v.image);
  ASSERT_TRUE(q.ok);
  size_t found = 0;
  for (const char* path : {"/owners/u59.txt", "/owners", "/"}) {
    const uint32 id = security_id_of(v, path);
    std::ostringstream by_volume, by_drive;
    const bool known = print_security_id(v.ntfs, id, by_volume);
    EXPECT_EQ(print_security_id(std::string("Q:\\"), id, by_drive), known) << path;
    EXPECT_EQ(by_drive.str(), by_volume.str()) << path;
    found += known;
  }
  EXPECT_GE(found, 2u);
  std::ostringstream out;
  EXPECT_FALSE(print_security_id(std::string("Q:"), 0xFFFFFF, out));
  EXPECT_FALSE(print_security_id(std::string(), security_id_of(v, "/owners/u59.txt"), out));
  EXPECT_FALSE(print_security_id(std::string("Z:"), security_id_of(v, "/owners/u59.txt"), out));
  EXPECT_EQ(out.str(), "");
}

TEST(SecurityLookup, ObjectIdsAndBirthIdsFindTheirEntries) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  for (const quor_test::listing_entry& e : quor_test::read_listing("views.img")) {
    int n = 0;
    if (std::sscanf(e.path.c_str(), "/objids/o%d.txt", &n) != 1 || n % 13 != 0) continue;
    for (byte filler : {byte(0x11), byte(0x33)}) {  // the object id, the birth object id
      byte id[16];
      std::memset(id, filler, sizeof id);
      id[0] = static_cast<byte>(n);
      ulong64 reference = 1;
      uint16 sequence = 1;
      ASSERT_TRUE(find_object_id(v.ntfs, id, reference, sequence)) << e.path;
      EXPECT_EQ(reference & 0xFFFFFFFFFFFFULL, e.inode);
      EXPECT_EQ(sequence, e.sequence);
    }
  }
  byte unknown[16] = {0xEE};
  ulong64 reference = 1;
  uint16 sequence = 1;
  EXPECT_FALSE(find_object_id(v.ntfs, unknown, reference, sequence));
  EXPECT_EQ(reference + sequence, 0u);
}

// Each id's entry as its one line of fields, comparable across volumes.
std::map<uint32, std::string> id_lines(const security_id_map& ids) {
  std::map<uint32, std::string> out;
  for (const auto& kv : ids) {
    std::ostringstream line;
    kv.second.print(line);
    out[kv.first] = line.str();
  }
  return out;
}

// The object id (filler 0x11) or birth object id (0x33) given to
// /objids/oNN.txt.
std::vector<std::array<byte, 16>> views_object_ids() {
  std::vector<std::array<byte, 16>> ids;
  for (int n = 0; n < 40; ++n)
    for (byte filler : {byte(0x11), byte(0x33)}) {
      std::array<byte, 16> id;
      id.fill(filler);
      id[0] = static_cast<byte>(n);
      ids.push_back(id);
    }
  return ids;
}

// Copies of views.img whose boot sector claims 2^40 sectors and whose $SII
// or $O index allocation (one cluster each) claims four billion clusters
// more, past the image's end, with sizes to match: the walks keep to the
// image, and both tables and every object id come out as from the sound
// volume. The volume's size is checked first, so a lost bound fails at
// once rather than as a walk of four billion records.
TEST(SecurityLookup, IndexAllocationsAndBootSectorClaimingMoreThanTheImage) {
  volume v("views.img");
  ASSERT_NE(v.ntfs, nullptr);
  security_id_map sound_ids;
  security_text_map sound_texts;
  ASSERT_TRUE(load_security_tables(v.ntfs, sound_ids, sound_texts));
  ASSERT_GE(sound_texts.size(), 60u);
  std::vector<std::pair<ulong64, uint16>> sound_refs;
  for (const auto& id : views_object_ids()) {
    ulong64 reference = 0;
    uint16 sequence = 0;
    ASSERT_TRUE(find_object_id(v.ntfs, id.data(), reference, sequence));
    sound_refs.emplace_back(reference, sequence);
  }
  const struct {
    ulong64 entry;
    const char* index;
    uint32 nth;  // among the entry's $INDEX_ALLOCATIONs
  } cases[] = {{9, "$SII", 1}, {25, "$O", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    std::vector<entry_record> records;
    const entry_record* rec = v.find(records, c.entry, 0xA0, c.index);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(rec->runs.size(), 1u);
    const ulong64 claim = 0xFFFFFFFFull;
    const std::vector<std::pair<ulong64, ulong64>> runs = {{rec->runs[0].num_clusters, rec->runs[0].lcn},
                                                           {claim, 1ull << 33}};
    const std::string copy = quor_test::copy_fixture("views.img", std::string("claims-") + (c.index + 1) + ".img");
    ASSERT_TRUE(quor_test::rewrite_mft_runs(copy, v.ntfs->get_inode_file_pos(c.entry), runs,
                                            (rec->runs[0].num_clusters + claim) * 4096, 0xA0, c.nth));
    quor_test::rewrite_total_sectors(copy, 1ull << 40);
    const std::unique_ptr<CNtfs> damaged = quor_test::open_engine_at(copy);
    ASSERT_NE(damaged, nullptr);
    std::vector<entry_record> claimed;
    const entry_record* big = examine_test::find_record(damaged.get(), claimed, c.entry, 0xA0, c.index);
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->runs.size(), 2u);
    ASSERT_EQ(big->runs[1].num_clusters, claim);
    ASSERT_EQ(volume_bytes(*damaged), 8u << 20);

    security_id_map ids;
    security_text_map texts;
    ASSERT_TRUE(load_security_tables(damaged.get(), ids, texts));
    EXPECT_EQ(id_lines(ids), id_lines(sound_ids));
    EXPECT_EQ(texts, sound_texts);
    size_t i = 0;
    for (const auto& id : views_object_ids()) {
      ulong64 reference = 0;
      uint16 sequence = 0;
      EXPECT_TRUE(find_object_id(damaged.get(), id.data(), reference, sequence));
      EXPECT_EQ(std::make_pair(reference, sequence), sound_refs[i++]);
    }
  }
}

// Copies of secure.img whose $SDS (837 KiB in 46 runs: descriptors
// in its first block and in its second, from 512 KiB) claims more or lies
// elsewhere, or that are cut short inside it. A hole after its data up to
// 12 MiB, read under a limit of 1 MiB an allocation, gives the sound
// volume's tables: the descriptors are read where $SII says they are. A
// claim larger than the volume is refused whole (also where the boot sector
// claims 2^40 sectors and the 16 MiB image bounds the volume). Every
// descriptor whose bytes the image holds keeps its text, wherever the runs
// it does not hold lie: with the second run (in the first block's mirror)
// moved past the image's end, all of them, and so with a run split in two
// that touch on disk where a descriptor crosses; with the first run moved there,
// those of the second block; and with the image cut inside the second
// block's run exactly at a descriptor's end, that descriptor and all before
// it, in the second block and the first.
TEST(SecurityLookup, DescriptorsAreReadWhereSiiSaysWhateverSdsClaims) {
  volume v("secure.img");
  ASSERT_NE(v.ntfs, nullptr);
  security_id_map sound_ids;
  security_text_map sound_texts;
  ASSERT_TRUE(load_security_tables(v.ntfs, sound_ids, sound_texts));
  ASSERT_EQ(sound_texts.size(), 1504u);
  ASSERT_GT(sound_texts.rbegin()->first, 512u << 10);
  std::vector<entry_record> records;
  const entry_record* rec = v.find(records, 9, 0x80, "$SDS");
  ASSERT_NE(rec, nullptr);
  std::vector<std::pair<ulong64, ulong64>> real;
  ulong64 clusters = 0;
  for (const data_run& r : rec->runs) {
    ASSERT_FALSE(r.sparse);
    real.emplace_back(r.num_clusters, r.lcn);
    clusters += r.num_clusters;
  }
  ASSERT_EQ(clusters, (836972u + 4095) / 4096);
  // The first run holds the first block whole, the second run lies in its
  // mirror.
  ASSERT_GE(real[0].first, 64u);
  ASSERT_LT(real[0].first + real[1].first, 128u);
  security_text_map first_run;
  for (const auto& kv : sound_ids)
    if (kv.second.sds_offset + kv.second.sds_size <= real[0].first * 4096)
      first_run[kv.second.sds_offset] = sound_texts.at(kv.second.sds_offset);
  ASSERT_GT(first_run.size(), 1000u);
  ASSERT_LT(first_run.size(), sound_texts.size());

  auto with_hole = [&](ulong64 total_clusters) {
    std::vector<std::pair<ulong64, ulong64>> runs = real;
    runs.emplace_back(total_clusters - clusters, quor_test::SPARSE_RUN);
    return runs;
  };
  security_text_map after_first_run = sound_texts;
  for (const auto& kv : first_run) after_first_run.erase(kv.first);

  // Where the image ends when cut just after the last byte of the
  // descriptor: its stream offset mapped through the runs.
  auto image_end_after = [&](const security_id_entry& d) {
    const ulong64 last = d.sds_offset + d.sds_size - 1;
    for (const data_run& r : rec->runs)
      if (last / 4096 >= r.vcn && last / 4096 - r.vcn < r.num_clusters) return r.lcn * 4096 + (last - r.vcn * 4096) + 1;
    return ulong64(0);
  };
  std::map<ulong64, security_id_entry> by_offset;
  for (const auto& kv : sound_ids) by_offset[kv.second.sds_offset] = kv.second;
  // A descriptor in the second block, with more after it there.
  auto cut_at = by_offset.lower_bound((512u << 10) + (16u << 10));
  ASSERT_NE(cut_at, by_offset.end());
  ASSERT_NE(std::next(cut_at), by_offset.end());
  const ulong64 cut = image_end_after(cut_at->second);
  ASSERT_GT(cut, image_end_after(by_offset.begin()->second));
  security_text_map before_cut;
  for (const auto& kv : by_offset)
    if (image_end_after(kv.second) <= cut) before_cut[kv.first] = sound_texts.at(kv.first);
  ASSERT_EQ(before_cut.count(cut_at->first), 1u);
  ASSERT_EQ(before_cut.count(std::next(cut_at)->first), 0u);
  ASSERT_GT(before_cut.size(), first_run.size());
  ASSERT_LT(before_cut.size(), sound_texts.size());

  std::vector<std::pair<ulong64, ulong64>> second_moved = real;
  second_moved[1].second = 4100;  // the image holds 4,096 clusters
  std::vector<std::pair<ulong64, ulong64>> first_moved = real;
  first_moved[0].second = 4100;
  std::vector<std::pair<ulong64, ulong64>> first_grown = real;
  first_grown[0].first = 5000;
  // A run of several clusters split in two runs that touch on disk, at the
  // boundary a descriptor crosses: one stretch of the stream, read whole.
  std::vector<std::pair<ulong64, ulong64>> split = real;
  for (size_t i = 0, vcn = 0; i < real.size() && split.size() == real.size(); vcn += real[i++].first) {
    for (const auto& kv : by_offset) {
      const ulong64 first = kv.first / 4096, last = (kv.first + kv.second.sds_size - 1) / 4096;
      if (first < vcn || last >= vcn + real[i].first || first == last) continue;
      split[i].first = last - vcn;
      split.insert(split.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                   std::make_pair(vcn + real[i].first - last, real[i].second + (last - vcn)));
      break;
    }
  }
  ASSERT_EQ(split.size(), real.size() + 1) << "no descriptor crosses a cluster boundary inside a run";
  const struct {
    const char* what;
    std::vector<std::pair<ulong64, ulong64>> runs;
    ulong64 size;  // the sizes the record states, or 0: as they were
    bool boot_claims_2_40;
    ulong64 image;  // the bytes the copy keeps, or 0: all of them
    const security_text_map* texts;  // null: nothing loaded
  } cases[] = {
      {"12 MiB", with_hole(12 * 256), 12u << 20, false, 0, &sound_texts},
      {"32 MiB", with_hole(32 * 256), 32u << 20, false, 0, nullptr},
      {"64 MiB, boot sector claiming 2^40 sectors", with_hole(64 * 256), 64u << 20, true, 0, nullptr},
      {"second run past the image's end", second_moved, 0, false, 0, &sound_texts},
      {"first run past the image's end", first_moved, 0, false, 0, &after_first_run},
      {"image cut at a descriptor's end in the last run", real, 0, false, cut, &before_cut},
      {"first run of more clusters than the volume", first_grown, 0, false, 0, nullptr},
      {"a run split in two that touch, a descriptor across the split", split, 0, false, 0, &sound_texts},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string copy = quor_test::copy_fixture("secure.img", "sds-" + std::to_string(n++) + ".img");
    ASSERT_TRUE(quor_test::rewrite_mft_runs(copy, v.ntfs->get_inode_file_pos(9), c.runs, c.size));
    if (c.boot_claims_2_40) quor_test::rewrite_total_sectors(copy, 1ull << 40);
    if (c.image != 0) {
      ASSERT_EQ(::truncate(copy.c_str(), static_cast<off_t>(c.image)), 0);
    }
    const std::unique_ptr<CNtfs> damaged = quor_test::open_engine_at(copy);
    ASSERT_NE(damaged, nullptr);
    security_id_map ids;
    security_text_map texts;
    bool loaded = c.texts == nullptr;
    {
      const quor_test::allocation_size_limit most(1u << 20);
      EXPECT_NO_THROW(loaded = load_security_tables(damaged.get(), ids, texts));
    }
    EXPECT_EQ(loaded, c.texts != nullptr);
    if (c.texts) {
      EXPECT_EQ(id_lines(ids), id_lines(sound_ids));
      EXPECT_TRUE(texts == *c.texts);
    } else {
      EXPECT_TRUE(ids.empty());
      EXPECT_TRUE(texts.empty());
    }
  }
}

}  // namespace
