// Path lookup on the fixture volume, checked against the mount's listing,
// and the link test on hand-made records.
#include "ntfs/path_lookup.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "ntfs/ntfs_structs.h"
#include "ntfs/open_resolve.h"
#include "tests/support/fixture.h"
#include "tests/support/listing.h"
#include "tests/support/record_builder.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

struct engine {
  CNtfs* ntfs = nullptr;
  ~engine() { delete ntfs; }
  bool open(const std::string& image) {
    const std::string path = quor_test::fixture(image);
    return !path.empty() && open_ntfs_image(path.c_str(), 0, ntfs, false, false);
  }
};

}  // namespace

// Every live path of the partitioned and VMDK volumes resolves as fls says
// (below); here the forms a path may take, on the default volume.
TEST(PathLookup, SeparatorsDrivesStreamsAndCase) {
  engine e;
  if (!e.open("default.img")) GTEST_SKIP() << "fixture kit absent";
  std::map<std::string, uint64_t> inode_of;
  for (const auto& l : quor_test::read_listing("default.img")) inode_of[l.path] = l.inode;
  const uint64_t leaf = inode_of.at("/deep/l01/l02/l03/l04/l05/l06/l07/l08/l09/l10/l11/l12/l13/l14/l15/l16/l17/l18/"
                                    "l19/l20/leaf.txt");
  struct row {
    std::wstring path;
    bool ok;
    uint64_t inode;
    std::wstring resolved;
  } rows[] = {
      {L"/", true, 5, L"\\"},
      {L"\\\\", true, 5, L"\\"},
      {L"C:", true, 5, L"C:"},
      {L"C:\\", true, 5, L"C:"},
      {L"C:\\sub\\", true, inode_of.at("/sub"), L"C:\\sub"},
      {L"\\sub\\\\kept-missing", false, 0, L""},
      {L"/SUB//FILE-1.TXT/", true, inode_of.at("/sub/file-1.txt"), L"\\SUB\\FILE-1.TXT"},
      {L"sub/file-1.txt", true, inode_of.at("/sub/file-1.txt"), L"sub\\file-1.txt"},
      {L"/streams.txt:alt", true, inode_of.at("/streams.txt"), L"\\streams.txt:alt"},
      {L"/names/\U0001F600smile.txt", true, inode_of.at("/names/\xF0\x9F\x98\x80smile.txt"),
       L"\\names\\\U0001F600smile.txt"},
      {L"/names/CAF\u00C9.txt", false, 0, L""},  // only A-Z fold
      {L"/names/caf\u00E9.TXT", true, inode_of.at("/names/caf\xC3\xA9.txt"), L"\\names\\caf\u00E9.TXT"},
      {L"/names/LONGNA~1.TXT", false, 0, L""},  // DOS-only names never match
      // Siblings that differ only in case: the lower entry number wins, as
      // the lookup visits children in order.
      {L"/names/readme", true, inode_of.at("/names/Readme"), L"\\names\\readme"},
      {L"/many/F02999.DAT", true, inode_of.at("/many/f02999.dat"), L"\\many\\F02999.DAT"},  // past the root node
      {L"/sub/../sub", false, 0, L""},
      {L"/:x", false, 0, L""},
      {L"/deep/l01/l02/l03/l04/l05/l06/l07/l08/l09/l10/l11/l12/l13/l14/l15/l16/l17/l18/l19/l20/leaf.txt", true, leaf,
       L"\\deep\\l01\\l02\\l03\\l04\\l05\\l06\\l07\\l08\\l09\\l10\\l11\\l12\\l13\\l14\\l15\\l16\\l17\\l18\\l19\\l20\\"
       L"leaf.txt"},
  };
  for (const row& r : rows) {
    std::wstring resolved;
    ulong64 inode = 99;
    const bool ok = e.ntfs->get_inode_from_path(r.path, resolved, inode, true);
    EXPECT_EQ(ok, r.ok) << wstring_to_utf8(r.path);
    // The free form is the same lookup with its arguments in its own order.
    std::wstring resolved_free;
    ulong64 inode_free = 99;
    EXPECT_EQ(resolve_path_on_volume(inode_free, resolved_free, e.ntfs, r.path, true), r.ok)
        << wstring_to_utf8(r.path);
    if (r.ok) {
      EXPECT_EQ(inode, r.inode) << wstring_to_utf8(r.path);
      EXPECT_EQ(resolved, r.resolved) << wstring_to_utf8(r.path);
      EXPECT_EQ(inode_free, r.inode) << wstring_to_utf8(r.path);
      EXPECT_EQ(resolved_free, r.resolved) << wstring_to_utf8(r.path);
    }
  }
  std::wstring resolved;
  ulong64 inode = 99;
  EXPECT_FALSE(resolve_path_on_volume(inode, resolved, e.ntfs, L"", true));
  EXPECT_EQ(inode, 0u);
  inode = 99;
  EXPECT_FALSE(resolve_path_on_volume(inode, resolved, nullptr, L"/sub", true));
  EXPECT_EQ(inode, 0u);
  inode = 7;
  EXPECT_FALSE(e.ntfs->get_inode_from_path(L"", resolved, inode, true));
  EXPECT_EQ(inode, 0u);

  // The narrow twin (which delivers the name only when asked), the
  // single-name lookups and the relative lookup.
  std::string narrow;
  ASSERT_TRUE(e.ntfs->get_inode_from_path(std::string("/names/\xF0\x9F\x98\x80smile.txt"), narrow, inode, true));
  EXPECT_EQ(narrow, "\\names\\\xF0\x9F\x98\x80smile.txt");
  ulong64 child = 0;
  ASSERT_TRUE(e.ntfs->find_child_by_name(5, "NAMES", child));
  EXPECT_EQ(child, inode_of.at("/names"));
  EXPECT_FALSE(e.ntfs->find_child_by_name_w(5, L"no-such-name", child));
  ASSERT_TRUE(find_child_by_utf8_name(inode_of.at("/names"), "caf\xC3\xA9.txt", child, e.ntfs));
  EXPECT_EQ(child, inode_of.at("/names/caf\xC3\xA9.txt"));

  FILE_RECORD_HEADER header;
  ASSERT_TRUE(e.ntfs->get_inode_from_relative_path(inode_of.at("/deep"), "l01\\l02", inode, header));
  EXPECT_EQ(inode, inode_of.at("/deep/l01/l02"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.signature), 4), "FILE");
  EXPECT_FALSE(e.ntfs->get_inode_from_relative_path_w(5, L"deep/l01", inode, header));
  EXPECT_EQ(inode, 0u);
}

namespace {

// A record with one resident $REPARSE_POINT whose value is `value`.
std::vector<byte> reparse_record(const std::vector<byte>& value) {
  quor_test::record_builder b;
  b.resident(ATTR_REPARSE_POINT, value);
  return b.done();
}

// With `zero_units`, the names begin that many zero units later than their
// offsets say, the substitute name's start holding the zeros.
std::vector<byte> reparse_value(uint32 tag, const std::u16string& substitute, const std::u16string& print,
                                size_t zero_units = 0) {
  const size_t buffer = tag == REPARSE_TAG_SYMLINK ? 20 : 16;
  const size_t names = buffer + 2 * zero_units;
  std::vector<byte> v(names + 2 * (substitute.size() + print.size()), 0);
  store_u32(&v[0], tag);
  store_u16(&v[8], 0);
  store_u16(&v[10], static_cast<uint16>(2 * substitute.size()));
  store_u16(&v[12], static_cast<uint16>(2 * substitute.size()));
  store_u16(&v[14], static_cast<uint16>(2 * print.size()));
  for (size_t i = 0; i < substitute.size(); ++i) store_u16(&v[names + 2 * i], substitute[i]);
  for (size_t i = 0; i < print.size(); ++i) store_u16(&v[names + 2 * (substitute.size() + i)], print[i]);
  return v;
}

}  // namespace

TEST(PathLookup, LinkTargets) {
  struct row {
    const char* what;
    std::vector<byte> value;
    bool link;
    std::wstring target;
  } rows[] = {
      {"junction", reparse_value(REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\Target", u"C:\\Target"), true, L"C:\\Target"},
      {"symbolic link (flags word before the names)",
       reparse_value(REPARSE_TAG_SYMLINK, u"\\??\\C:\\Other", u"C:\\Other"), true, L"C:\\Other"},
      {"junction without a print name", reparse_value(REPARSE_TAG_MOUNT_POINT, u"\\??\\D:\\x", u""), true, L"D:\\x"},
      {"other reparse tag", reparse_value(0x80000017, u"\\??\\C:\\Target", u"C:\\Target"), false, L""},
      {"no substitute name", reparse_value(REPARSE_TAG_MOUNT_POINT, u"", u"C:\\Target"), false, L""},
      // A substitute name that begins with zero units moves the print name
      // on by as many bytes.
      {"junction, two zero units first",
       reparse_value(REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\Target", u"C:\\Target", 2), true, L"C:\\Target"},
      {"symbolic link, one zero unit first", reparse_value(REPARSE_TAG_SYMLINK, u"\\??\\C:\\Other", u"C:\\Other", 1),
       true, L"C:\\Other"},
      {"junction without a print name, zero units first",
       reparse_value(REPARSE_TAG_MOUNT_POINT, u"\\??\\D:\\x", u"", 3), true, L"D:\\x"},
  };
  for (const row& r : rows) {
    std::vector<byte> record = reparse_record(r.value);
    std::wstring target;
    EXPECT_EQ(record_link_target(record.data(), static_cast<uint32>(record.size()), target), r.link) << r.what;
    EXPECT_EQ(target, r.target) << r.what;
  }
  // Name offsets that reach past the value are not read.
  std::vector<byte> v = reparse_value(REPARSE_TAG_MOUNT_POINT, u"\\??\\C:\\T", u"C:\\T");
  store_u16(&v[12], 0x7000);
  store_u16(&v[8], 0x7000);
  std::vector<byte> record = reparse_record(v);
  std::wstring target;
  EXPECT_FALSE(record_link_target(record.data(), static_cast<uint32>(record.size()), target));
}

// links.img: junctions and symbolic links to folders (its README section),
// met in the middle and at the end of a path. A link's print name takes the
// place of the path walked so far, from the root, and the lookup goes on
// with the rest; without link following a link is the empty folder it is.
TEST(PathLookup, LinksInTheMiddleOfAPath) {
  engine e;
  ASSERT_TRUE(e.open("links.img"));
  std::map<std::string, uint64_t> inode_of;
  for (const auto& l : quor_test::read_listing("links.img")) inode_of[l.path] = l.inode;
  ASSERT_EQ(inode_of.size(), 11u);
  const uint64_t deep = inode_of.at("/real/inner/deep.txt"), inner = inode_of.at("/real/inner");
  struct row {
    std::wstring path;
    bool follow, ok;
    uint64_t inode;
    std::wstring resolved;
  } rows[] = {
      {L"/junction/inner/deep.txt", true, true, deep, L"\\C:\\real\\inner\\deep.txt"},
      {L"C:\\junction\\top.txt", true, true, inode_of.at("/real/top.txt"), L"C:\\real\\top.txt"},
      {L"/links/dirlink/deep.txt", true, true, deep, L"\\C:\\real\\inner\\deep.txt"},
      {L"/rellink/deep.txt", true, true, deep, L"\\real\\inner\\deep.txt"},
      // A junction to a symbolic link: two substitutions.
      {L"/chain/deep.txt", true, true, deep, L"\\C:\\real\\inner\\deep.txt"},
      // No print name: the substitute name without its \??\ prefix.
      {L"/noprint/deep.txt", true, true, deep, L"\\C:\\real\\inner\\deep.txt"},
      // A link as the last component is followed too.
      {L"/junction", true, true, inode_of.at("/real"), L"\\C:\\real"},
      {L"/links/dirlink", true, true, inner, L"\\C:\\real\\inner"},
      // Not followed: the link's own folder, which is empty.
      {L"/junction", false, true, inode_of.at("/junction"), L"\\junction"},
      {L"/links/dirlink", false, true, inode_of.at("/links/dirlink"), L"\\links\\dirlink"},
      {L"/junction/inner/deep.txt", false, false, 0, L""},
      // What the target lacks, and a link to itself: no answer, and an end.
      {L"/junction/missing.txt", true, false, 0, L""},
      {L"/loop/deep.txt", true, false, 0, L""},
  };
  for (const row& r : rows) {
    const std::string what = wstring_to_utf8(r.path) + (r.follow ? " followed" : "");
    std::wstring resolved;
    ulong64 inode = 99;
    EXPECT_EQ(e.ntfs->get_inode_from_path(r.path, resolved, inode, r.follow), r.ok) << what;
    if (r.ok) {
      EXPECT_EQ(inode, r.inode) << what;
      EXPECT_EQ(resolved, r.resolved) << what;
    }
    // The same through the opening of the image with a lookup.
    CNtfs* opened = nullptr;
    ulong64 found = 0;
    std::wstring again;
    const bool ok = open_ntfs_image_resolve_path(utf8_to_wstring(quor_test::fixture("links.img")), 0, r.path, again,
                                                 found, opened, r.follow, false, false);
    EXPECT_EQ(ok, r.ok) << what;
    if (ok) {
      EXPECT_EQ(found, r.inode) << what;
      EXPECT_EQ(again, r.resolved) << what;
    }
    delete opened;
  }
}

// A file with about a hundred names keeps most of them in extension records
// that its $ATTRIBUTE_LIST names; every one of them resolves.
TEST(PathLookup, NamesInExtensionRecords) {
  const std::string image = quor_test::shared_testdata("ntfs3_attrlist.raw");
  if (image.empty()) GTEST_SKIP() << "shared test data absent";
  engine e;
  ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, e.ntfs, false, false));
  for (int i = 1; i <= 100; i += 9) {
    const std::wstring path = L"\\" + std::to_wstring(i) + L".txt";
    std::wstring resolved;
    ulong64 inode = 0;
    ASSERT_TRUE(e.ntfs->get_inode_from_path(path, resolved, inode, false)) << wstring_to_utf8(path);
    EXPECT_EQ(inode, 27u) << wstring_to_utf8(path);
  }
}

// The committed `fls -r -p` listings of the partitioned disks and of the
// VMDK chain's second state: every live user path resolves to the entry fls
// gives, through the partition offset or the chain, and a removed name that no
// live file took over resolves to nothing.
TEST(PathLookup, PartitionedAndVmdkVolumesAgreeWithFls) {
  struct volume {
    const char* listing;
    std::vector<const char*> files;  // one image, or the chain newest first
    ulong64 offset;
  };
  const volume volumes[] = {
      {"mbr-1p.img.fls.txt", {"mbr-1p.img"}, 2048ULL * 512},
      {"mbr-far.img.fls.txt", {"mbr-far.img"}, 526336ULL * 512},
      {"mbr-ext.img.fls.txt", {"mbr-ext.img"}, 12288ULL * 512},
      {"gpt-slot3.img.fls.txt", {"gpt-slot3.img"}, 4096ULL * 512},
      {"vmdk-state2.img.fls.txt", {"vmdk-child.vmdk", "vmdk-base.vmdk"}, 2048ULL * 512},
  };
  for (const volume& v : volumes) {
    SCOPED_TRACE(v.listing);
    std::vector<std::string> files;
    for (const char* f : v.files) files.push_back(quor_test::fixture(f));
    engine e;
    if (files.size() == 1)
      ASSERT_TRUE(open_ntfs_image(files[0].c_str(), v.offset, e.ntfs, false, false));
    else
      ASSERT_TRUE(open_ntfs_vmdk_chain(files, v.offset, e.ntfs, false, false));

    std::map<std::string, ulong64> live;
    std::vector<std::string> removed;
    for (const quor_test::fls_line& f : quor_test::read_fls(v.listing)) {
      const std::string path = "/" + f.path;
      if (f.inode < 16 || path.find("/$") != std::string::npos) continue;  // system files
      if (f.deleted) removed.push_back(path);
      else live[path] = f.inode;
    }
    ASSERT_GE(live.size(), 3u);
    ASSERT_FALSE(removed.empty());
    for (const auto& l : live) {
      std::wstring name;
      ulong64 entry = 0;
      EXPECT_TRUE(e.ntfs->get_inode_from_path(utf8_to_wstring(l.first), name, entry, false)) << l.first;
      EXPECT_EQ(entry, l.second) << l.first;
    }
    for (const std::string& path : removed) {
      if (live.count(path)) continue;
      std::wstring name;
      ulong64 entry = 0;
      EXPECT_FALSE(e.ntfs->get_inode_from_path(utf8_to_wstring(path), name, entry, false)) << path;
    }
  }
}

// The collectors take the names of every space but DOS, in the order of
// (attribute instance, name space), and the parent of each.
TEST(PathLookup, RecordNamesAndParents) {
  quor_test::record_builder b(1024);
  b.add_file_name(2, 11, u"LONGNA~1.TXT", 2, 1);
  const uint32 first_at = b.next;
  b.add_file_name(1, 7, u"zeta", 0, 1);
  b.add_file_name(3, 0x0003000000000005ULL, u"Long Name.txt", 1, 1);
  b.add_file_name(4, 9, u"zeta", 0, 1);
  const std::vector<byte> rec = b.done();
  std::wstring first = L"stale";
  ulong64_set parents = {99};
  const byte* attribute = nullptr;
  ASSERT_TRUE(get_record_names_and_parents(rec.data(), first, parents, attribute));
  EXPECT_EQ(first, L"zeta");
  EXPECT_EQ(parents, (ulong64_set{5, 7, 9}));
  EXPECT_EQ(attribute, rec.data() + first_at);
  first.clear();
  parents.clear();
  ASSERT_TRUE(get_record_names_and_parents(rec.data(), first, parents));
  EXPECT_EQ(first, L"zeta");
  EXPECT_EQ(parents.size(), 3u);
  uint32 offset = 0;
  first.clear();
  ASSERT_TRUE(get_record_names_and_parents(rec.data(), first, parents, offset));
  EXPECT_EQ(first, L"zeta");
  EXPECT_EQ(offset, first_at);  // where the first name's attribute lies
  std::set<std::wstring> names = {L"stale"};
  attribute = nullptr;
  ASSERT_TRUE(get_record_name_set_and_parents(rec.data(), names, parents, attribute));
  EXPECT_EQ(names, (std::set<std::wstring>{L"Long Name.txt", L"zeta"}));
  EXPECT_EQ(attribute, rec.data() + first_at);
  names.clear();
  ASSERT_TRUE(get_record_name_set_and_parents(rec.data(), names, parents));
  EXPECT_EQ(names.size(), 2u);

  // A record with only a DOS name has none to give; the outputs are emptied.
  quor_test::record_builder dos(1024);
  dos.add_file_name(2, 11, u"LONGNA~1.TXT", 2, 1);
  const std::vector<byte> only_dos = dos.done();
  EXPECT_FALSE(get_record_names_and_parents(only_dos.data(), first, parents, attribute));
  EXPECT_TRUE(first.empty() && parents.empty() && attribute == nullptr);
  EXPECT_FALSE(get_record_names_and_parents(only_dos.data(), first, parents));
  EXPECT_FALSE(get_record_names_and_parents(only_dos.data(), first, parents, offset));
  EXPECT_EQ(offset, 0u);
  EXPECT_FALSE(get_record_name_set_and_parents(only_dos.data(), names, parents));
  EXPECT_TRUE(names.empty() && parents.empty());
  attribute = rec.data();
  EXPECT_FALSE(get_record_name_set_and_parents(only_dos.data(), names, parents, attribute));
  EXPECT_EQ(attribute, nullptr);
}
