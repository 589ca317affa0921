// Security descriptors as text: hand-built descriptors with goldens written
// from the naming rules, damaged descriptors read only inside their bytes, and
// a real descriptor from the default fixture checked against ntfsinfo.
#include "ntfs/security_descriptor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <vector>

#include "ntfs/mft_record.h"
#include "ntfs/ntfs.h"
#include "ntfs/ntfs_structs.h"
#include "tests/support/fixture.h"

namespace {

typedef std::vector<byte> bytes;

bytes sid(uint8 authority, std::initializer_list<uint32> subs) {
  bytes out = {1, static_cast<byte>(subs.size()), 0, 0, 0, 0, 0, authority};
  for (uint32 v : subs) {
    out.resize(out.size() + 4);
    store_u32(&out[out.size() - 4], v);
  }
  return out;
}

bytes ace(uint8 type, uint8 flags, uint32 mask, const bytes& body) {
  bytes out(8 + body.size());
  out[0] = type;
  out[1] = flags;
  store_u16(&out[2], static_cast<uint16>(8 + body.size()));
  store_u32(&out[4], mask);
  std::copy(body.begin(), body.end(), out.begin() + 8);
  return out;
}

bytes acl(std::initializer_list<bytes> aces) {
  bytes out(8);
  out[0] = 2;
  for (const bytes& a : aces) out.insert(out.end(), a.begin(), a.end());
  store_u16(&out[2], static_cast<uint16>(out.size()));
  store_u16(&out[4], static_cast<uint16>(aces.size()));
  return out;
}

// Header, then whichever parts are given, in the order owner, group, SACL, DACL.
bytes descriptor(const bytes& owner, const bytes& group, const bytes& sacl, const bytes& dacl) {
  bytes out(20);
  out[0] = 1;
  store_u16(&out[2], 0x8000);
  const bytes* parts[] = {&owner, &group, &sacl, &dacl};
  for (int i = 0; i < 4; ++i) {
    if (parts[i]->empty()) continue;
    store_u32(&out[4 + 4 * i], static_cast<uint32>(out.size()));
    out.insert(out.end(), parts[i]->begin(), parts[i]->end());
  }
  return out;
}

// An exact-size heap copy, so the sanitizer sees any read past the end.
std::string print(const bytes& sd, const char* prefix) {
  std::unique_ptr<byte[]> copy(new byte[sd.size() ? sd.size() : 1]);
  std::copy(sd.begin(), sd.end(), copy.get());
  std::ostringstream out;
  print_security_descriptor(out, as_security_descriptor(copy.get()), static_cast<uint32>(sd.size()), prefix);
  return out.str();
}

const uint32 k_rights_and_specifics = 0x001F01FF;
const char k_standard_rights[] = "DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE";

}  // namespace

TEST(SecurityDescriptor, ReportNamesOwnerGroupAndEveryAce) {
  bytes object_body = {1, 0, 0, 0};  // object type present
  object_body.resize(4 + 16, 0xAB);
  const bytes anonymous = sid(5, {7});
  object_body.insert(object_body.end(), anonymous.begin(), anonymous.end());
  const bytes admin = sid(5, {21, 1, 2, 3, 500});
  const bytes sd = descriptor(
      sid(5, {18}), sid(5, {32, 544}), acl({ace(2, 0xC0, 0x01000000, sid(1, {0}))}),
      acl({ace(0, 0x03, 0x10000000, admin), ace(1, 0, k_rights_and_specifics, sid(1, {0})),
           ace(0, 0x10, 0x00010000, admin), ace(0, 0, 0xA0000000, sid(5, {32, 545})), ace(9, 0, 0, sid(5, {11})),
           ace(5, 0, 0x00020000, object_body)}));
  const std::string expected =
      "  Security Identifiers\n"
      "  owner sid [S-1-5-18]\n"
      "  group sid [S-1-5-32-544]\n"
      "\n"
      "  System Access Control List\n"
      "  system audit    World           ACCESS_SYSTEM_SECURITY\n"
      "\n"
      "  Discretionary Access Control List\n"
      "  access denied   World           DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | SYNCHRONIZE\n"
      "  unknown         Authenticated User \n"
      "  access allowed  User Admin      GENERIC_ALL | DELETE\n"
      "  access allowed  Users           GENERIC_READ | GENERIC_EXECUTE\n"
      "  access allowed  Anonymous Logon READ_CONTROL\n";
  EXPECT_EQ(print(sd, "  "), expected);

  // The bounded form and the bare-pointer form (bounded by the ACL's own
  // size) read the same five records.
  const int dacl_offset = static_cast<int>(load_u32(sd.data(), SD_DACL_OFFSET));
  ace_record_map dacl, again;
  EXPECT_TRUE(parse_security_descriptor_acl(dacl, byte_view(sd.data(), sd.size()), dacl_offset));
  EXPECT_TRUE(parse_security_descriptor_acl(again, sd.data(), dacl_offset));
  ASSERT_EQ(dacl.size(), 5u);
  EXPECT_EQ(again.size(), 5u);
  const ace_record& merged = dacl.at("S-1-5-21-1-2-3-500access allowed");
  EXPECT_EQ(merged.sid_text + "/" + merged.type_name + "/" + merged.mask_names + "/" + merged.account_name,
            "S-1-5-21-1-2-3-500/access allowed/GENERIC_ALL | DELETE/User Admin");
}

TEST(SecurityDescriptor, AbsentPartsAndEmptyAcls) {
  const bytes none = descriptor({}, {}, {}, {});
  EXPECT_EQ(print(none, nullptr) + print(none, "> "), "Security Identifiers\n> Security Identifiers\n");
  // An ACL without ACEs prints no heading.
  EXPECT_EQ(print(descriptor(sid(1, {0}), {}, acl({}), acl({})), ""),
            "Security Identifiers\nowner sid [S-1-1-0]\n");
}

TEST(SecurityDescriptor, DamagedDescriptorsAreReadOnlyInsideTheirBytes) {
  const bytes world = sid(1, {0});
  const bytes good_dacl = acl({ace(0, 0, k_rights_and_specifics, world)});
  const bytes base = descriptor(sid(5, {18}), {}, {}, good_dacl);
  const uint32 dacl_at = load_u32(base.data(), SD_DACL_OFFSET);
  const std::string head = "Security Identifiers\nowner sid [S-1-5-18]\n";
  const std::string world_line = std::string("access allowed  World           ") + k_standard_rights + "\n";
  const std::string with_dacl = head + "\nDiscretionary Access Control List\n" + world_line;
  const std::string no_owner = "Security Identifiers\nowner sid []\n" + with_dacl.substr(head.size());
  ASSERT_EQ(print(base, ""), with_dacl);

  struct damage {
    const char* what;
    uint32 at;     // where the u8/u16/u32 goes, or the new length
    uint32 value;
    int width;     // 1, 2, 4; 0 truncates to `at` bytes
    std::string expected;
  } cases[] = {
      {"owner offset past the end", SD_OWNER_OFFSET, 0x1000, 4, no_owner},
      {"owner offset at the very end", SD_OWNER_OFFSET, static_cast<uint32>(base.size()), 4, no_owner},
      {"owner SID count past the end", 20 + 1, 200, 1, no_owner},
      {"DACL offset past the end", SD_DACL_OFFSET, 0xFFFFFFF0u, 4, head},
      {"DACL header cut by the end", SD_DACL_OFFSET, static_cast<uint32>(base.size() - 4), 4, head},
      {"ACE count above the ACL", dacl_at + ACL_ACE_COUNT, 7, 2, with_dacl},
      {"ACE size 0", dacl_at + 8 + ACE_SIZE, 0, 2, head},
      {"ACE size past the ACL", dacl_at + 8 + ACE_SIZE, 0x40, 2, head},
      {"ACL size below its header", dacl_at + ACL_SIZE, 4, 2, head},
      {"ACL size past the descriptor", dacl_at + ACL_SIZE, 0xFFFF, 2, with_dacl},
      {"ACE SID count past the ACE", dacl_at + 8 + ACE_SID + 1, 9, 1, head},
      {"descriptor cut inside its ACE", static_cast<uint32>(base.size() - 2), 0, 0, head},
      {"descriptor cut inside its header", 10, 0, 0, "Security Identifiers\n"},
      {"empty descriptor", 0, 0, 0, "Security Identifiers\n"},
  };
  for (const damage& d : cases) {
    bytes sd = base;
    if (d.width == 0) sd.resize(d.at);
    if (d.width == 1) sd[d.at] = static_cast<byte>(d.value);
    if (d.width == 2) store_u16(&sd[d.at], static_cast<uint16>(d.value));
    if (d.width == 4) store_u32(&sd[d.at], d.value);
    EXPECT_EQ(print(sd, ""), d.expected) << d.what;
  }
}

TEST(SecurityDescriptor, ListEndsAtTheFirstAceThatDoesNotFit) {
  const bytes world = sid(1, {0});
  // Second ACE's SID claims more sub-authorities than its ACE holds: that one
  // is passed over, the third is still read; the fourth's size runs past.
  bytes bad_sid = sid(5, {18});
  bad_sid[1] = 30;
  bytes list = acl({ace(0, 0, 0x10000000, world), ace(1, 0, 0x10000000, bad_sid), ace(1, 0, 0x00010000, world),
                    ace(0, 0, 0x80000000, sid(5, {32, 545}))});
  store_u16(&list[list.size() - 24 + ACE_SIZE], 200);
  ace_record_map out;
  EXPECT_FALSE(parse_security_descriptor_acl(out, byte_view(list.data(), list.size()), 0));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.at("S-1-1-0access allowed").mask_names, "GENERIC_ALL");
  EXPECT_EQ(out.at("S-1-1-0access denied").mask_names, "DELETE");
  EXPECT_FALSE(parse_security_descriptor_acl(out, byte_view(list.data(), list.size()), -8));
  EXPECT_FALSE(parse_security_descriptor_acl(out, byte_view(list.data(), list.size()), 4));
  EXPECT_EQ(out.size(), 2u);
}

TEST(SecurityDescriptor, AccountAndSubAuthorityNames) {
  struct row {
    bytes sid;
    const char* account;
    const char* line;
  } rows[] = {
      {sid(5, {32, 544}), "Admins", "sid [S-1-5-32-544] : Builtin Domain, Admins"},
      {sid(5, {21, 7, 8, 9, 1001}), "unk", "sid [S-1-5-21-7-8-9-1001] : NT Non Unique, unk, unk, unk, unk"},
      {sid(0, {0}), "null", "sid [S-1-0-0] : null"},
      {sid(2, {0}), "Local", "sid [S-1-2-0] : Local"},
      {sid(3, {3}), "Group Server", "sid [S-1-3-3] : Group Server"},
      {sid(3, {4}), "unk", "sid [S-1-3-4] : unk"},
      {sid(5, {33}), "unk", "sid [S-1-5-33] : unk"},
      {sid(5, {14}), "unk", "sid [S-1-5-14] : unk"},
      {sid(6, {2}), "unk", "sid [S-1-6-2] : unk"},
      {sid(5, {}), "unk", "sid [S-1-5] : "},
  };
  for (const row& r : rows) {
    std::ostringstream name, line;
    write_sid_name(name, r.sid.data());
    write_sid_line(line, r.sid.data(), true);
    EXPECT_EQ(name.str(), r.account) << r.line;
    EXPECT_EQ(line.str(), r.line);
  }
  // A SID cut short by its buffer has neither name nor text.
  const bytes admins = sid(5, {32, 544});
  std::ostringstream name, line;
  write_sid_name(name, byte_view(admins.data(), admins.size() - 1));
  write_sid_line(line, byte_view(admins.data(), admins.size() - 1), false);
  EXPECT_EQ(name.str() + line.str(), "unksid []");
}

TEST(SecurityDescriptor, FlagAndTypeNames) {
  std::string out = "left over";
  access_mask_names(0xF300FFFF, out);
  EXPECT_EQ(out,
            "GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | ACCESS_SYSTEM_SECURITY | "
            "MAXIMUM_ALLOWED");
  access_mask_names(0x0C00FFFF, out);
  EXPECT_EQ(out, "");
  ace_flag_names(0xDF, out);
  EXPECT_EQ(out,
            "OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | NO_PROPAGATE_INHERIT_ACE | FAILED_ACCESS_ACE_FLAG | "
            "INHERIT_ONLY_ACE | INHERITED_ACE | SUCCESSFUL_ACCESS_ACE_FLAG");
  sd_control_names(0x80D4, out);
  EXPECT_EQ(out, "SE_DACL_PRESENT | SE_SACL_PRESENT | SE_SELF_RELATIVE");
  const char* const names[][2] = {{"ACCESS_ALLOWED_OBJECT_ACE_TYPE", "access allowed"},
                                  {"ACCESS_DENIED_OBJECT_ACE_TYPE", "access denied"},
                                  {"SYSTEM_AUDIT_OBJECT_ACE_TYPE", "system audit"},
                                  {"SYSTEM_ALARM_OBJECT_ACE_TYPE", "system alarm"},
                                  {"unknown", "unknown"}};
  for (uint8 type = 5; type <= 9; ++type) {
    ace_type_name(type, out, false);
    EXPECT_EQ(out, names[type - 5][0]);
    ace_type_name(type, out, true);
    EXPECT_EQ(out, names[type - 5][1]);
  }
  EXPECT_FALSE(rid_name(521, out));
  EXPECT_EQ(out, "");
  EXPECT_STREQ(identifier_authority_name(4), "Non Unique Authority");
}

TEST(SecurityDescriptor, FieldDumps) {
  const bytes admins = sid(5, {32, 544});
  const bytes sd = descriptor(admins, {}, {}, acl({ace(0, 0x03, k_rights_and_specifics, admins)}));
  std::ostringstream header;
  dump_security_descriptor_header(header, sd.data());
  EXPECT_EQ(header.str(),
            "- Security Descriptor -\n"
            "(0x00000000) rev:                0x01\n"
            "(0x00000001) pad:                0x00\n"
            "(0x00000002) control:            0x8000 [ SE_SELF_RELATIVE ] \n"
            "(0x00000004) owner:              0x00000014\n"
            "(0x00000008) group:              0x00000000\n"
            "(0x0000000c) sacl:               0x00000000\n"
            "(0x00000010) dacl:               0x00000024\n");

  std::ostringstream acl_header;
  dump_acl_header(acl_header, sd.data() + 0x24, 0x24);
  EXPECT_EQ(acl_header.str(),
            "(0x00000024) rev:                0x02\n"
            "(0x00000025) pad:                0x00\n"
            "(0x00000026) size:               0x0020\n"
            "(0x00000028) count:              0x0001\n"
            "(0x0000002a) unk:                0x0000\n");

  std::ostringstream one_ace;
  dump_ace(one_ace, sd.data() + 0x2c, 0x2c);
  EXPECT_EQ(one_ace.str(),
            "- ACE -\n"
            "(0x0000002c) type:               0x00 (access allowed)\n"
            "(0x0000002d) flags:              0x03 ( OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE )\n"
            "(0x0000002e) size:               0x0018\n"
            "(0x00000030) access_mask:        0x001f01ff ( DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER | "
            "SYNCHRONIZE) \n"
            "sid [S-1-5-32-544]\n"
            "(0x00000034) SID rev:            0x01\n"
            "(0x00000035) subauthority count: 0x02\n"
            "(0x00000036) ident authority:    0x000000000005: NT Authority\n"
            "(0x0000003c) sub_authority[0]:   0x00000020: Builtin Domain\n"
            "(0x00000040) sub_authority[1]:   0x00000220: Admins\n"
            "\n");

  // A type without a SID dump shows its bytes after the first four.
  const bytes label = ace(0x11, 0, 1, sid(16, {12288}));
  std::ostringstream hex;
  dump_ace(hex, label.data());
  EXPECT_EQ(hex.str(),
            "- ACE -\n"
            "(0x00000000) type:               0x11 (unknown)\n"
            "(0x00000001) flags:              0x00 (  )\n"
            "(0x00000002) size:               0x0014\n"
            "0000 0004:  01 00 00 00 01 01 00 00  00 00 00 10 00 30 00 00  .............0..\n"
            "\n");

  // Cut records show the fields that fit and no more.
  std::ostringstream cut_sid;
  dump_sid(cut_sid, byte_view(admins.data(), 14), 0x100);
  EXPECT_EQ(cut_sid.str(),
            "sid []\n"
            "(0x00000100) SID rev:            0x01\n"
            "(0x00000101) subauthority count: 0x02\n"
            "(0x00000102) ident authority:    0x000000000005: NT Authority\n"
            "(0x00000108) sub_authority[0]:   0x00000020: Builtin Domain\n");
}

// The resident descriptor of /small.txt on the default fixture, read through
// the engine, against what ntfsinfo reports for the same record.
TEST(SecurityDescriptor, RealDescriptorAgreesWithNtfsinfo) {
  const std::string image = quor_test::fixture("default.img");
  if (image.empty()) GTEST_SKIP() << "fixture kit absent";
  if (!quor_test::have_program("ntfsinfo")) GTEST_SKIP() << "ntfsinfo absent";
  const ulong64 entry = 64;
  std::string report;
  const std::string command = "ntfsinfo -i " + std::to_string(entry) + " -v '" + image + "' 2>/dev/null";
  ASSERT_EQ(quor_test::run_command(command, report), 0);
  auto after = [&report](const std::string& label) {
    size_t at = report.find(label);
    if (at == std::string::npos) return std::string();
    at += label.size();
    while (at < report.size() && (report[at] == '\t' || report[at] == ' ')) ++at;
    return report.substr(at, report.find('\n', at) - at);
  };
  const std::string owner = after("Owner SID:");
  const std::string group = after("Group SID:");
  const std::string ace_sid = after("SID: S-");
  ASSERT_FALSE(owner.empty()) << report;

  CNtfs* ntfs = nullptr;
  ASSERT_TRUE(open_ntfs_image(image.c_str(), 0, ntfs, false, false));
  std::unique_ptr<CNtfs> owned(ntfs);
  std::vector<byte> record;
  bool flag = false;
  ASSERT_TRUE(ntfs->read_mft_record_to_vector(record, flag, entry));
  const byte* attr = nullptr;
  ASSERT_TRUE(find_attribute(record.data(), static_cast<uint32>(record.size()), ATTR_SECURITY_DESCRIPTOR, attr));
  byte_view value;
  ASSERT_TRUE(resident_value(attr, load_u32(attr + AH_LENGTH), value));

  std::ostringstream text;
  print_security_descriptor(text, value.data, static_cast<uint32>(value.size), "");
  EXPECT_NE(text.str().find("\nowner sid [" + owner + "]\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("\ngroup sid [" + group + "]\n"), std::string::npos) << text.str();
  ace_record_map dacl;
  ASSERT_TRUE(parse_security_descriptor_acl(dacl, value, static_cast<int>(load_u32(value.data, SD_DACL_OFFSET))));
  ASSERT_FALSE(dacl.empty());
  EXPECT_EQ(dacl.begin()->second.sid_text, "S-" + ace_sid);
}

// The view, offset and two-argument forms of the field dumps: the same
// fields at positions from the offset, and only the fields inside the view.
TEST(SecurityDescriptor, EveryFormOfTheFieldDumps) {
  const bytes admins = sid(5, {32, 544});
  const bytes sd = descriptor(admins, {}, {}, acl({ace(1, 0, 0x10000, admins)}));
  const byte* acl_at = sd.data() + 0x24;
  const byte* ace_at = sd.data() + 0x2c;
  typedef void (*view_form)(std::ostream&, const byte_view&, uint32);
  typedef void (*pointer_form)(std::ostream&, const byte*, uint32);
  auto text = [](view_form dump, const byte* p, uint64 n, uint32 off) {
    std::ostringstream out;
    dump(out, byte_view(p, n), off);
    return out.str();
  };
  auto text_p = [](pointer_form dump, const byte* p, uint32 off) {
    std::ostringstream out;
    dump(out, p, off);
    return out.str();
  };
  std::ostringstream acl_0, sid_0;
  dump_acl_header(acl_0, acl_at);
  dump_sid(sid_0, admins.data());
  // The SID of S-1-5-32-544 dumped at `base`; `subs` of its two sub-authorities.
  auto sid_lines = [](uint32 base, int subs) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "sid [S-1-5-32-544]\n(0x%08x) SID rev:            0x01\n(0x%08x) subauthority count: 0x02\n"
                  "(0x%08x) ident authority:    0x000000000005: NT Authority\n",
                  base, base + 1, base + 2);
    std::string t = line;
    if (subs > 0) {
      std::snprintf(line, sizeof line, "(0x%08x) sub_authority[0]:   0x00000020: Builtin Domain\n", base + 8);
      t += line;
    }
    if (subs > 1) {
      std::snprintf(line, sizeof line, "(0x%08x) sub_authority[1]:   0x00000220: Admins\n", base + 12);
      t += line;
    }
    return t;
  };
  const std::string header_100 = "- Security Descriptor -\n"
                                 "(0x00000100) rev:                0x01\n"
                                 "(0x00000101) pad:                0x00\n"
                                 "(0x00000102) control:            0x8000 [ SE_SELF_RELATIVE ] \n"
                                 "(0x00000104) owner:              0x00000014\n"
                                 "(0x00000108) group:              0x00000000\n"
                                 "(0x0000010c) sacl:               0x00000000\n"
                                 "(0x00000110) dacl:               0x00000024\n";
  const std::string ace_head = "- ACE -\n"
                               "(0x0000002c) type:               0x01 (access denied)\n"
                               "(0x0000002d) flags:              0x00 (  )\n"
                               "(0x0000002e) size:               0x0018\n"
                               "(0x00000030) access_mask:        0x00010000 ( DELETE) \n";
  struct {
    const char* form;
    std::string got, expected;
  } cases[] = {
      {"header view", text(dump_security_descriptor_header, sd.data(), 20, 0x100), header_100},
      {"header pointer", text_p(dump_security_descriptor_header, sd.data(), 0x100), header_100},
      {"header view cut", text(dump_security_descriptor_header, sd.data(), 3, 0x100),
       header_100.substr(0, header_100.find("(0x00000102)"))},
      {"ACL two arguments", acl_0.str(),
       "(0x00000000) rev:                0x02\n(0x00000001) pad:                0x00\n"
       "(0x00000002) size:               0x0020\n(0x00000004) count:              0x0001\n"
       "(0x00000006) unk:                0x0000\n"},
      {"ACL view cut", text(dump_acl_header, acl_at, 5, 0x24),
       "(0x00000024) rev:                0x02\n(0x00000025) pad:                0x00\n"
       "(0x00000026) size:               0x0020\n"},
      {"SID two arguments", sid_0.str(), sid_lines(0, 2)},
      {"SID pointer", text_p(dump_sid, admins.data(), 0x100), sid_lines(0x100, 2)},
      {"ACE view", text(dump_ace, ace_at, 0x18, 0x2c), ace_head + sid_lines(0x34, 2) + "\n"},
      {"ACE view cut in its SID", text(dump_ace, ace_at, 0x14, 0x2c),
       ace_head + sid_lines(0x34, 1).replace(5, 12, "") + "\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.form;
}
