// VMDK sparse extents and snapshot chains: the qemu-made fixtures must read
// exactly as the raw disks they came from; crafted extents cover the grain
// arithmetic, the chain rules and damaged headers.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "disk/disk_handle.h"
#include "disk/vmdk_disk.h"
#include "disk/vmdk_extent.h"
#include "tests/disk/host_tree.h"
#include "utils/byte_order.h"
#include "utils/utf_convert.h"

namespace {

// A hosted sparse extent laid out as VMware and qemu do: header, descriptor,
// grain directory, grain tables, then the grains.
struct sparse_spec {
  ulong64 capacity = 64;  // sectors
  ulong64 grain = 8;      // sectors
  uint32 entries = 4;     // per grain table
  uint32 flags = 3;
  std::string descriptor = "# Disk DescriptorFile\nCID=aaaa0001\nparentCID=ffffffff\n";
  uint32 descriptor_sectors = 2;
  std::map<uint32, byte> stored;  // grain number -> fill byte
  std::set<uint32> zeroed;        // grain numbers recorded as zeros
};

const uint32 dir_sector = 3;  // after the header and a 2-sector descriptor

ulong64 round_up(ulong64 v, ulong64 unit) { return (v + unit - 1) / unit * unit; }

std::vector<byte> build_sparse(const sparse_spec& s) {
  const ulong64 grains = s.capacity / s.grain;
  const ulong64 tables = (grains + s.entries - 1) / s.entries;
  const ulong64 dir = 1 + s.descriptor_sectors;
  const ulong64 dir_sectors = round_up(tables * 4, 512) / 512;
  const ulong64 table_sectors = round_up(s.entries * 4ull, 512) / 512;
  const ulong64 overhead = dir + dir_sectors + tables * table_sectors;
  std::vector<byte> f(overhead * 512, 0);
  store_u32(&f[0], 0x564D444B);
  store_u32(&f[4], 1);
  store_u32(&f[8], s.flags);
  store_u64(&f[12], s.capacity);
  store_u64(&f[20], s.grain);
  store_u64(&f[28], 1);
  store_u64(&f[36], s.descriptor_sectors);
  store_u32(&f[44], s.entries);
  store_u64(&f[56], dir);
  store_u64(&f[64], overhead);
  std::memcpy(&f[512], s.descriptor.data(), std::min<size_t>(s.descriptor.size(), s.descriptor_sectors * 512));
  for (ulong64 t = 0; t < tables; ++t)
    store_u32(&f[dir * 512 + 4 * t], static_cast<uint32>(dir + dir_sectors + t * table_sectors));
  for (uint32 g : s.zeroed) store_u32(&f[(dir + dir_sectors) * 512 + 4ull * g], 1);
  for (const auto& kv : s.stored) {
    const ulong64 at = f.size();
    f.resize(at + s.grain * 512, kv.second);
    const ulong64 t = kv.first / s.entries, e = kv.first % s.entries;
    store_u32(&f[(dir + dir_sectors + t * table_sectors) * 512 + 4 * e], static_cast<uint32>(at / 512));
  }
  return f;
}

std::string make_dir(const std::string& name) {
  const std::string d = host_tree::scratch(name);
  ::mkdir(d.c_str(), 0755);
  return d + "/";
}

// Reads the whole virtual disk through a disk handle in uneven pieces that
// cross grain boundaries, and compares it with the raw image.
void expect_reads_as(const std::vector<std::string>& chain, const std::string& raw_path) {
  disk_handle disk(chain, false, false);
  ASSERT_TRUE(disk.m_is_open);
  const std::vector<byte> raw = host_tree::read_bytes(raw_path);
  ASSERT_EQ(disk.get_size(), raw.size());
  std::vector<byte> buf(100003);
  for (ulong64 off = 0; off < raw.size();) {
    uint32 len = static_cast<uint32>(buf.size());
    ASSERT_TRUE(disk.read(buf.data(), len, off)) << off;
    ASSERT_GT(len, 0u);
    ASSERT_LE(off + len, raw.size());
    ASSERT_EQ(std::memcmp(buf.data(), raw.data() + off, len), 0) << "differs in the piece at " << off;
    off += len;
  }
}

}  // namespace

TEST(VmdkChain, FixturesReadAsTheirRawDisks) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  const std::string state1 = quor_test::fixture("mbr-1p.img");
  const std::string state2 = quor_test::fixture("vmdk-state2.img");
  ASSERT_FALSE(base.empty() || child.empty() || state1.empty() || state2.empty());
  expect_reads_as({base}, state1);
  // The order of the list does not matter, only the content ids.
  expect_reads_as({base, child}, state2);
  expect_reads_as({child, base}, state2);
}

TEST(VmdkExtent, GrainArithmetic) {
  // 64 KiB grains, 512 entries: a table covers 32 MiB, so 32 MiB + 291 is in
  // table 1, entry 0.
  sparse_spec s;
  s.capacity = 131072;
  s.grain = 128;
  s.entries = 512;
  s.stored[512] = 0x5A;
  s.stored[514] = 0x5B;  // so that the file goes on past grain 512
  const std::string path = host_tree::write_bytes(host_tree::scratch("arith.vmdk"), build_sparse(s));
  vmdk_extent e;
  ASSERT_TRUE(e.open(path.c_str(), false));
  ulong64 pos = 0;
  ASSERT_TRUE(e.lookup((32u << 20) + 291, pos));
  const ulong64 grain_sector = e.m_grain_tables[1][0];
  EXPECT_EQ(pos, grain_sector * 512 + 291);
  EXPECT_FALSE(e.lookup(0, pos)) << "a grain-table entry of 0 sends the caller to the parent";
  EXPECT_EQ(e.grain_remainder((32u << 20) + 291), 65536u - 291);
  // Grain 0 is not held: the header is scanned and yields no volumes.
  EXPECT_EQ(e.m_mbr_offset, 0u);
  EXPECT_TRUE(e.m_volume_offsets.empty());

  // A read crossing into a grain this file does not hold fails whole.
  byte buf[512];
  uint32 len = sizeof buf;
  EXPECT_FALSE(e.read_at(e.m_fd, buf, (32u << 20) + 65536 - 256, len));
  len = sizeof buf;
  ASSERT_TRUE(e.read_at(e.m_fd, buf, (32u << 20) + 65536 - 512, len));
  EXPECT_EQ(len, 512u);
  EXPECT_EQ(buf[0], 0x5A);
}

TEST(VmdkExtent, DescriptorKeys) {
  sparse_spec s;
  s.descriptor =
      "# Disk DescriptorFile\r\nCID=1234abcd\r\nparentCID=ffffffff\r\n  cid=ignored\n"
      "parentFileNameHint=\"Parent.VMDK\"\n";
  const std::string path = host_tree::write_bytes(host_tree::scratch("keys.vmdk"), build_sparse(s));
  vmdk_extent e;
  ASSERT_TRUE(e.open(path.c_str(), false));
  // Values keep their carriage returns, so such a base is not recognised as one.
  EXPECT_EQ(e.m_cid, "1234abcd\r");
  EXPECT_EQ(e.m_parent_cid, "ffffffff\r");
  EXPECT_EQ(e.m_parent_hint, "\"parent.vmdk\"");
  EXPECT_EQ(e.m_descriptor_lines.size(), 5u);
}

TEST(VmdkExtent, DamagedHeadersAreRefused) {
  const std::vector<byte> good = build_sparse(sparse_spec());
  auto patched = [&](uint32 off, ulong64 v, int width) {
    std::vector<byte> f = good;
    if (width == 8)
      store_u64(&f[off], v);
    else
      store_u32(&f[off], static_cast<uint32>(v));
    return f;
  };
  // A descriptor that fills its sectors to the last byte, without a NUL.
  std::vector<byte> no_nul = good;
  std::string lines = "CID=bbbb0002\nparentCID=ffffffff\n";
  for (size_t i = 512; i < 512 + 1024; ++i) no_nul[i] = static_cast<byte>(i - 512 < lines.size() ? lines[i - 512] : 'x');
  // A directory whose slots all repeat one table: it must not be loaded
  // thousands of times over.
  sparse_spec many;
  many.entries = 1000;
  std::vector<byte> repeat = build_sparse(many);
  repeat.resize(48 * 512, 0);
  store_u64(&repeat[64], 48);
  for (uint32 i = 0; i < 37 * 128; ++i) store_u32(&repeat[dir_sector * 512 + 4 * i], 40);
  const struct { const char* what; std::vector<byte> bytes; bool valid; vmdk_load_error why; } cases[] = {
      {"sound", good, true, VMDK_LOAD_OK},
      {"no NUL in the descriptor", no_nul, true, VMDK_LOAD_OK},
      {"wrong magic", patched(0, 0x464D444B, 4), false, VMDK_LOAD_NOT_SPARSE},
      {"compressed grains", patched(8, 3 | (1u << 16), 4), false, VMDK_LOAD_COMPRESSED},
      {"markers", patched(8, 1u << 17, 4), false, VMDK_LOAD_COMPRESSED},
      {"overhead 0", patched(64, 0, 8), false, VMDK_LOAD_METADATA},
      {"overhead past the file", patched(64, 1u << 30, 8), false, VMDK_LOAD_METADATA},
      {"descriptor size past 1 MiB", patched(36, 0xFFFFFFF0u, 8), false, VMDK_LOAD_DESCRIPTOR},
      // Read as far as the file goes; the text ends at its first NUL.
      {"descriptor size past the end of the file", patched(36, 2040, 8), true, VMDK_LOAD_OK},
      {"descriptor offset past the file", patched(28, 1ull << 50, 8), false, VMDK_LOAD_DESCRIPTOR},
      {"directory outside the file", patched(56, 1ull << 40, 8), false, VMDK_LOAD_METADATA},
      {"directory past the metadata", patched(56, 1000, 8), false, VMDK_LOAD_METADATA},
      {"grain size 0", patched(20, 0, 8), false, VMDK_LOAD_GEOMETRY},
      {"huge grain size", patched(20, 1ull << 40, 8), false, VMDK_LOAD_GEOMETRY},
      {"table length 0", patched(44, 0, 4), false, VMDK_LOAD_GEOMETRY},
      {"tables past the metadata", patched(44, 0x40000000, 4), false, VMDK_LOAD_METADATA},
      {"directory repeating one table", repeat, false, VMDK_LOAD_METADATA},
      {"header cut short", std::vector<byte>(good.begin(), good.begin() + 300), false, VMDK_LOAD_NOT_SPARSE},
  };
  for (const auto& c : cases) {
    const std::string path = host_tree::write_bytes(host_tree::scratch("bad.vmdk"), c.bytes);
    vmdk_extent e;
    EXPECT_EQ(e.open(path.c_str(), false), c.valid) << c.what;
    EXPECT_EQ(e.m_load_error, c.why) << c.what;
    if (c.valid) {
      EXPECT_FALSE(e.m_cid.empty()) << c.what;
    }
  }
}

namespace {

// base (aaaa0001): grains 0-3 filled B0-B3, grain 3 the last entry of the
// first table; child (cccc0002): grain 0 filled C0, grain 2 recorded as
// zeros; grain 4 held by none.
std::vector<std::string> crafted_chain(const std::string& dir) {
  sparse_spec base;
  base.stored = {{0, 0xB0}, {1, 0xB1}, {2, 0xB2}, {3, 0xB3}};
  sparse_spec child;
  child.descriptor = "CID=cccc0002\nparentCID=aaaa0001\nparentFileNameHint=\"base.vmdk\"\n";
  child.stored = {{0, 0xC0}};
  child.zeroed = {2};
  return {host_tree::write_bytes(dir + "base.vmdk", build_sparse(base)),
          host_tree::write_bytes(dir + "child.vmdk", build_sparse(child))};
}

}  // namespace

TEST(VmdkChain, ReadsTheNewestGrain) {
  const std::vector<std::string> files = crafted_chain(make_dir("crafted"));
  vmdk_disk disk(false);
  ASSERT_TRUE(disk.add_extents(files));
  ASSERT_TRUE(disk.link_chain());
  ASSERT_EQ(disk.m_chain.size(), 2u);
  EXPECT_EQ(disk.m_chain[0]->m_cid, "aaaa0001");
  EXPECT_EQ(disk.m_head->m_cid, "cccc0002");

  // One read over grains 0-4 (4 KiB each) starting inside grain 0.
  std::vector<byte> buf(5 * 4096 - 100, 0xEE);
  uint32 len = static_cast<uint32>(buf.size());
  ASSERT_TRUE(disk.read(buf.data(), 100, len));
  ASSERT_EQ(len, buf.size());
  const byte want[5] = {0xC0, 0xB1, 0x00, 0xB3, 0x00};
  for (uint32 i = 0; i < len; ++i) {
    const uint32 grain = (i + 100) / 4096;
    ASSERT_EQ(buf[i], want[grain]) << "byte " << i + 100 << " of grain " << grain;
  }
}

// open_chain finds a missing parent beside the child and reports what it
// could not join; a chain that cannot be linked leaves the disk closed.
TEST(VmdkChain, OpenChainFindsParentsAndReportsBrokenChains) {
  const std::string base = quor_test::fixture("vmdk-base.vmdk");
  const std::string child = quor_test::fixture("vmdk-child.vmdk");
  ASSERT_FALSE(base.empty() || child.empty());
  const std::string with = make_dir("with-base"), without = make_dir("without-base"), dir = make_dir("broken");
  host_tree::write_bytes(with + "vmdk-base.vmdk", host_tree::read_bytes(base));
  host_tree::write_bytes(with + "vmdk-child.vmdk", host_tree::read_bytes(child));
  host_tree::write_bytes(without + "vmdk-child.vmdk", host_tree::read_bytes(child));
  const std::string pair = " depends on parent vmdk \"vmdk-base.vmdk\"\n";
  // A child whose hint names itself (the search must stop, not loop); two
  // extents naming each other as parent; compressed grains.
  sparse_spec self, a, b, packed;
  self.descriptor = "CID=dddd0004\nparentCID=eeee0005\nparentFileNameHint=\"self.vmdk\"\n";
  a.descriptor = "CID=0000000a\nparentCID=0000000b\n";
  b.descriptor = "CID=0000000b\nparentCID=0000000a\n";
  packed.flags = 3 | (1u << 16) | (1u << 17);
  const std::string self_path = host_tree::write_bytes(dir + "self.vmdk", build_sparse(self));
  const std::string a_path = host_tree::write_bytes(dir + "a.vmdk", build_sparse(a));
  const std::string b_path = host_tree::write_bytes(dir + "b.vmdk", build_sparse(b));
  const std::string packed_path = host_tree::write_bytes(dir + "packed.vmdk", build_sparse(packed));

  const struct {
    std::vector<std::string> files;
    bool result;
    std::string msgs;
    std::vector<std::string> chain;  // empty: not checked
  } cases[] = {
      {{with + "vmdk-child.vmdk", with + "vmdk-base.vmdk"}, true, "",
       {with + "vmdk-child.vmdk", with + "vmdk-base.vmdk"}},
      {{with + "vmdk-child.vmdk"}, false, "=> vmdk file: " + with + "vmdk-child.vmdk\n" + pair,
       {with + "vmdk-child.vmdk", with + "vmdk-base.vmdk"}},
      {{without + "vmdk-child.vmdk"}, false,
       "=> vmdk file: " + without + "vmdk-child.vmdk\n" + pair + without + "vmdk-base.vmdk is invalid\n",
       {without + "vmdk-child.vmdk", without + "vmdk-base.vmdk"}},
      {{self_path}, false,
       "=> vmdk file: " + self_path + "\n depends on parent vmdk \"self.vmdk\"\n" + self_path +
           " does not hold the parent content id eeee0005\n",
       {}},
      {{a_path, b_path}, false, "", {}},
      {{packed_path}, false,
       packed_path + " is invalid\n" + packed_path +
           " holds compressed grains (stream-optimized), which are not read as raw sectors\n",
       {}},
  };
  for (const auto& c : cases) {
    vmdk_disk disk(false);
    std::ostringstream msgs;
    std::vector<std::string> chain;
    EXPECT_EQ(disk.open_chain(c.files, msgs, chain), c.result) << c.files[0];
    EXPECT_EQ(msgs.str(), c.msgs) << c.files[0];
    if (!c.chain.empty()) {
      EXPECT_EQ(chain, c.chain) << c.files[0];
    }
    EXPECT_EQ(disk.is_open(), c.result) << c.files[0];
    disk.close();
    if (c.result) continue;
    vmdk_disk linked(false);
    if (linked.add_extents(c.files)) {
      EXPECT_FALSE(linked.link_chain()) << c.files[0];
    }
    EXPECT_FALSE(linked.is_open());
  }
}

TEST(VmdkChain, ExtentOnABlockDeviceReadsAsQemuConvertsIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "attaching a loop device needs root";
  if (!quor_test::have_program("losetup") || !quor_test::have_program("qemu-img"))
    GTEST_SKIP() << "losetup or qemu-img is not installed";
  const std::string raw = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(raw.empty());
  const std::string vmdk = host_tree::scratch("on-loop.vmdk");
  const std::string converted = host_tree::scratch("on-loop.raw");
  std::string out;
  ASSERT_EQ(quor_test::run_command("qemu-img convert -f raw -O vmdk '" + raw + "' '" + vmdk + "'", out), 0);
  ASSERT_EQ(quor_test::run_command("qemu-img convert -f vmdk -O raw '" + vmdk + "' '" + converted + "'", out), 0);
  const host_tree::loop_device loop(vmdk);
  if (loop.path.empty()) GTEST_SKIP() << "no loop device could be attached";
  struct stat st;
  ASSERT_EQ(::stat(loop.path.c_str(), &st), 0);
  ASSERT_TRUE(S_ISBLK(st.st_mode));
  // The extent's size comes from the device, not from fstat's 0.
  expect_reads_as({loop.path}, converted);
}

// Writes go into the grains the file already holds, in place: the same
// bytes put into a raw copy must equal what qemu-img converts the written
// VMDK back to. Both files are made here from the committed disk.
TEST(VmdkChain, WritesInPlaceAsQemuReadsThemBack) {
  if (!quor_test::have_program("qemu-img")) GTEST_SKIP() << "qemu-img is not installed";
  const std::string fixture = quor_test::fixture("mbr-1p.img");
  ASSERT_FALSE(fixture.empty());
  const std::string dir = make_dir("vmdk-write");
  const std::string raw = dir + "expected.raw", vmdk = dir + "written.vmdk", back = dir + "back.raw";
  std::vector<byte> expected = host_tree::read_bytes(fixture);
  host_tree::write_bytes(raw, expected);
  std::string out;
  ASSERT_EQ(quor_test::run_command("qemu-img convert -f raw -O vmdk '" + raw + "' '" + vmdk + "'", out), 0) << out;
  const std::wstring wvmdk = utf8_to_wstring(vmdk);

  vmdk_extent e;
  ASSERT_TRUE(e.open_w(wvmdk.c_str(), true));
  EXPECT_TRUE(e.m_path == vmdk && e.m_wpath == wvmdk);
  ASSERT_EQ(e.m_volume_offsets, std::vector<ulong64>{0x100000});  // sfdisk: start 2048
  const ulong64 g = e.m_grain_bytes;
  ASSERT_EQ(g, 65536u);
  // Grains that qemu stored (not all zero in the raw disk) and one it left out.
  std::vector<ulong64> held;
  ulong64 absent = 0, pos = 0, pair = 0;
  for (ulong64 o = 0; o + g <= expected.size(); o += g) {
    if (e.lookup(o, pos)) held.push_back(o);
    else if (!absent && o) absent = o;
    if (held.size() >= 2 && held[held.size() - 2] + g == o && !pair && o > 0x100000) pair = o;
  }
  ASSERT_TRUE(absent && pair && held.size() > 2);
  ulong64 in_volume = 0;
  EXPECT_TRUE(e.lookup_in_volume(0, 0x200, pos) && e.lookup(0x100200, in_volume) && pos == in_volume);
  EXPECT_FALSE(e.lookup_in_volume(1, 0x200, pos));
  EXPECT_EQ(e.grain_remainder(0, 10), g - 10);  // the volume starts on a grain boundary
  EXPECT_EQ(e.grain_remainder(0, g + 300), g - 300);
  EXPECT_EQ(e.grain_remainder(1, 10), 0u);

  auto put = [&expected](ulong64 at, const std::string& text) {
    std::copy(text.begin(), text.end(), expected.begin() + static_cast<long>(at));
  };
  // The extent writes within and across held grains; a write into a grain
  // it does not hold, or through a read-only extent, is refused.
  const std::string a = "extent write";
  uint32 len = static_cast<uint32>(a.size());
  ASSERT_TRUE(e.write_at(e.m_fd, reinterpret_cast<const byte*>(a.data()), 0x100000 + 0x1F0, len));
  EXPECT_EQ(len, a.size());
  put(0x100000 + 0x1F0, a);
  len = 4;
  EXPECT_FALSE(e.write_at(e.m_fd, reinterpret_cast<const byte*>("none"), absent + 8, len));
  vmdk_extent reader;
  const int fd = ::open(vmdk.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(reader.load(fd));
  EXPECT_EQ(reader.m_cid, e.m_cid);
  len = 4;
  EXPECT_FALSE(reader.write_at(fd, reinterpret_cast<const byte*>("none"), 0x100000, len));
  EXPECT_FALSE(reader.load(-1));
  ::close(fd);

  vmdk_disk disk(true);
  {
    std::ostringstream msgs;
    std::vector<std::wstring> chain;
    EXPECT_FALSE(disk.dump_grain_tables(0, msgs));
    EXPECT_EQ(disk.find_extent(0x100000), nullptr);  // not open yet
    ASSERT_TRUE(disk.open_chain(std::vector<std::wstring>{wvmdk}, msgs, chain));
    EXPECT_EQ(chain, std::vector<std::wstring>{wvmdk});
    EXPECT_EQ(msgs.str(), "");
    EXPECT_FALSE(disk.open_chain(std::vector<std::wstring>{wvmdk + L".none"}, msgs, chain));
    EXPECT_EQ(msgs.str(), vmdk + ".none is invalid\n");
    disk.close();
  }
  ASSERT_TRUE(disk.add_extents(std::vector<std::wstring>{}));
  ASSERT_TRUE(disk.add_extents(std::vector<std::wstring>{wvmdk}));
  EXPECT_TRUE(disk.add_extent(vmdk.c_str()));  // the same content id again: kept once
  EXPECT_TRUE(disk.add_extent(wvmdk.c_str()));
  EXPECT_FALSE(disk.add_extent((wvmdk + L".none").c_str()));
  EXPECT_FALSE(disk.add_extent(raw.c_str()));
  EXPECT_FALSE(disk.add_extents(std::vector<std::wstring>{utf8_to_wstring(raw), wvmdk}));
  EXPECT_EQ(disk.m_extents.size(), 1u);
  ASSERT_TRUE(disk.link_chain());
  EXPECT_EQ(disk.find_extent(pair), disk.m_head);
  EXPECT_EQ(disk.find_extent(absent), nullptr);

  // Across two held grains in one call; into a grain no file holds, nothing.
  const std::string b = "across a grain boundary";
  len = static_cast<uint32>(b.size());
  ASSERT_TRUE(disk.write(b.data(), pair - 5, len));
  EXPECT_EQ(len, b.size());
  put(pair - 5, b);
  len = 4;
  EXPECT_TRUE(disk.write("none", absent + 100, len));
  EXPECT_EQ(len, 0u);
  const std::string c = "volume write";
  len = static_cast<uint32>(c.size());
  ASSERT_TRUE(disk.write_volume(0, c.data(), 0x3, len));
  EXPECT_EQ(len, c.size());
  put(0x100003, c);
  len = 4;
  EXPECT_FALSE(disk.write_volume(1, "none", 0, len));
  EXPECT_FALSE(disk.write(nullptr, 0, len));

  std::vector<byte> sector(512);
  len = 512;
  ASSERT_TRUE(disk.read_volume(0, sector.data(), 0, len));
  EXPECT_TRUE(len == 512 && std::equal(sector.begin(), sector.end(), expected.begin() + 0x100000));
  len = 512;
  EXPECT_FALSE(disk.read_volume(1, sector.data(), 0, len));
  len = 0;
  EXPECT_FALSE(disk.read_volume(0, sector.data(), 0, len));

  // A disk whose extents its caller has already taken over is emptied
  // without touching them.
  vmdk_extent* const stray = disk.m_head;
  disk.reset();
  EXPECT_TRUE(disk.m_extents.empty() && disk.m_chain.empty() && !disk.m_head && !disk.m_base && !disk.m_writable &&
              !disk.is_open());
  delete stray;
  // An extent already open elsewhere, entered by its descriptor.
  const int rw = ::open(vmdk.c_str(), O_RDONLY);
  ASSERT_GE(rw, 0);
  ASSERT_EQ(::lseek(rw, 100, SEEK_SET), 100);
  EXPECT_TRUE(disk.add_extent(rw));
  EXPECT_EQ(::lseek(rw, 0, SEEK_CUR), 100) << "the caller's position is where the caller left it";
  EXPECT_FALSE(disk.add_extent(-1));
  ASSERT_EQ(disk.m_extents.size(), 1u);
  EXPECT_EQ(disk.m_extents.begin()->first, e.m_cid);
  // Its grains read as the file holds them, not as zeros.
  ASSERT_TRUE(disk.link_chain());
  len = 512;
  ASSERT_TRUE(disk.read(sector.data(), 0x100000, len));
  EXPECT_TRUE(len == 512 && std::equal(sector.begin(), sector.end(), expected.begin() + 0x100000));
  disk.close();
  EXPECT_NE(::fcntl(rw, F_GETFD), -1) << "the caller's descriptor stays the caller's";
  ::close(rw);

  ASSERT_EQ(quor_test::run_command("qemu-img convert -f vmdk -O raw '" + vmdk + "' '" + back + "'", out), 0) << out;
  const std::vector<byte> converted = host_tree::read_bytes(back);
  ASSERT_EQ(converted.size(), expected.size());
  EXPECT_TRUE(converted == expected);
}
