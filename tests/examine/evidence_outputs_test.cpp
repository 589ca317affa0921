// No writer of the examination library may write over the evidence it reads:
// an output, log or report that is the image, a hard link to it or a
// symbolic link to it is refused with false, and the image is unchanged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "examine/attribute_extract.h"
#include "examine/cluster_copy.h"
#include "examine/entry_report.h"
#include "examine/entry_records.h"
#include "examine/walk_engine.h"
#include "tests/examine/examine_support.h"
#include "tests/examine/walk_run.h"

namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string md5sum(const std::string& path) {
  std::string out;
  return quor_test::run_command("md5sum < '" + path + "'", out) == 0 ? out.substr(0, 32) : "";
}

// A copy of a kit image with a hard link and a symbolic link to it.
struct evidence {
  std::string image, hard, soft;
  explicit evidence(const std::string& tag)
      : image(quor_test::copy_fixture("default.img", tag + ".img")),
        hard(quor_test::scratch_dir() + "/" + tag + ".hard"),
        soft(quor_test::scratch_dir() + "/" + tag + ".soft") {
    ::unlink(hard.c_str());
    ::unlink(soft.c_str());
    EXPECT_EQ(::link(image.c_str(), hard.c_str()), 0);
    EXPECT_EQ(::symlink(image.c_str(), soft.c_str()), 0);
  }
  std::vector<std::string> names() const { return {image, hard, soft}; }
};

// The image's unnamed $DATA record of /small.txt, read through `engine`.
bool small_data(CNtfs* engine, std::vector<entry_record>& records, const entry_record*& rec) {
  std::string resolved;
  ulong64 entry = 0;
  rec = nullptr;
  if (!engine || !engine->get_inode_from_path("/small.txt", resolved, entry, false)) return false;
  rec = examine_test::find_record(engine, records, entry, 0x80);
  return rec != nullptr;
}

TEST(EvidenceOutputs, EveryWriterRefusesTheImageAndItsLinks) {
  const evidence ev("guarded");
  ASSERT_FALSE(ev.image.empty());
  const std::string before = md5sum(ev.image);
  ASSERT_EQ(before.size(), 32u);
  const auto engine = quor_test::open_engine_at(ev.image);
  std::vector<entry_record> records;
  const entry_record* rec = nullptr;
  ASSERT_TRUE(small_data(engine.get(), records, rec));
  const std::string out = quor_test::scratch_dir() + "/guarded.out";
  const std::string report = quor_test::scratch_dir() + "/guarded.report";
  const std::string& img = ev.image;

  const struct {
    const char* writer;
    std::function<bool(const std::string& target)> write;
  } cases[] = {
      {"cluster copy output", [&](const std::string& t) { return copy_image_clusters({}, img, 0, 0, 4, t, ""); }},
      {"cluster copy log", [&](const std::string& t) { return copy_image_clusters({}, img, 0, 0, 4, out, t); }},
      {"cluster copy output (wide)",
       [&](const std::string& t) { return copy_image_clusters_w({}, wide(img), 0, 0, 4, wide(t), L""); }},
      {"cluster copy log (wide)",
       [&](const std::string& t) { return copy_image_clusters_w({}, wide(img), 0, 0, 4, wide(out), wide(t)); }},
      {"extract output",
       [&](const std::string& t) { return extract_attribute(t.c_str(), nullptr, engine.get(), *rec, false); }},
      {"extract report",
       [&](const std::string& t) { return extract_attribute(out.c_str(), t.c_str(), engine.get(), *rec, false); }},
      {"extract output (wide)",
       [&](const std::string& t) {
         return extract_attribute(wide(t).c_str(), static_cast<const wchar_t*>(nullptr), engine.get(), *rec, false);
       }},
      {"extract report (wide)",
       [&](const std::string& t) {
         return extract_attribute(wide(out).c_str(), wide(t).c_str(), engine.get(), *rec, false);
       }},
      {"hashed extract report",
       [&](const std::string& t) {
         return extract_attribute_hashed(out.c_str(), t.c_str(), engine.get(), *rec, false, 1);
       }},
      {"hashed extract report (wide)",
       [&](const std::string& t) {
         return extract_attribute_hashed(wide(out).c_str(), wide(t).c_str(), engine.get(), *rec, false, 2);
       }},
      {"entry report",
       [&](const std::string& t) {
         entry_report_request r;
         r.image_path = wide(img);
         r.path = L"/small.txt";
         r.report_path = wide(t);
         r.extract_path = wide(out);
         return report_entry_by_path(r);
       }},
      {"entry report extract",
       [&](const std::string& t) {
         entry_report_request r;
         r.image_path = wide(img);
         r.path = L"/small.txt";
         r.extract_path = wide(t);
         return report_entry_by_path(r);
       }},
  };
  for (const auto& c : cases) {
    // Each writer works when its file is elsewhere, so a refusal is the guard's.
    EXPECT_TRUE(c.write(report)) << c.writer;
    for (const std::string& target : ev.names()) {
      EXPECT_FALSE(c.write(target)) << c.writer << " to " << target;
      ASSERT_EQ(md5sum(img), before) << c.writer << " to " << target;
    }
  }
}

// Every file of a VMDK chain is the evidence: a cluster copy onto the base
// or onto the child is refused, and both files are unchanged.
TEST(EvidenceOutputs, ClusterCopyRefusesEveryFileOfAVmdkChain) {
  const std::string base = quor_test::copy_fixture("vmdk-base.vmdk", "vmdk-base.vmdk");
  const std::string child = quor_test::copy_fixture("vmdk-child.vmdk", "vmdk-child.vmdk");
  ASSERT_FALSE(base.empty() || child.empty());
  const std::string base_sum = md5sum(base), child_sum = md5sum(child);
  const std::vector<std::string> chain = {child, base};
  const std::string out = quor_test::scratch_dir() + "/chain.out";
  ASSERT_TRUE(copy_image_clusters(chain, "", 0, 0, 2, out, ""));
  for (const std::string& target : chain) {
    EXPECT_FALSE(copy_image_clusters(chain, "", 0, 0, 2, target, "")) << target;
    EXPECT_FALSE(copy_image_clusters(chain, "", 0, 0, 2, out, target)) << target;
  }
  EXPECT_EQ(md5sum(base), base_sum);
  EXPECT_EQ(md5sum(child), child_sum);
}

// Both files of a cluster copy are checked before either is emptied: a copy
// refused for its log leaves an earlier copy as it was, one refused for its
// output an earlier log.
TEST(EvidenceOutputs, RefusedClusterCopyEmptiesNeitherFile) {
  const evidence ev("refused");
  ASSERT_FALSE(ev.image.empty());
  const std::string before = md5sum(ev.image);
  const std::string out = quor_test::scratch_dir() + "/refused.out", log = quor_test::scratch_dir() + "/refused.log";
  const std::string& img = ev.image;
  const struct {
    const char* form;
    std::function<bool(const std::string& out, const std::string& log)> copy;
  } forms[] = {
      {"narrow", [&](const std::string& o, const std::string& l) { return copy_image_clusters({}, img, 0, 0, 4, o, l); }},
      {"wide",
       [&](const std::string& o, const std::string& l) {
         return copy_image_clusters_w({}, wide(img), 0, 0, 4, wide(o), wide(l));
       }},
  };
  for (const auto& f : forms) {
    std::ofstream(out) << "earlier copy";
    std::ofstream(log) << "earlier log";
    EXPECT_FALSE(f.copy(out, ev.soft)) << f.form;
    EXPECT_EQ(quor_test::read_file_text(out), "earlier copy") << f.form;
    EXPECT_FALSE(f.copy(ev.hard, log)) << f.form;
    EXPECT_EQ(quor_test::read_file_text(log), "earlier log") << f.form;
    EXPECT_TRUE(f.copy(out, log)) << f.form;
    EXPECT_EQ(quor_test::read_file_text(out).size(), 4u * 4096) << f.form;
    EXPECT_EQ(quor_test::read_file_text(log).find("earlier log"), std::string::npos) << f.form;
  }
  EXPECT_EQ(md5sum(ev.image), before);
}

// The hashed extract renames its copy onto a name made of the stamp, the
// file name and the digest: a link to the image under that name is refused
// and left in place.
TEST(EvidenceOutputs, HashedExtractDoesNotRenameOntoTheImage) {
  const evidence ev("renamed");
  ASSERT_FALSE(ev.image.empty());
  const std::string before = md5sum(ev.image);
  const auto engine = quor_test::open_engine_at(ev.image);
  std::vector<entry_record> records;
  const entry_record* rec = nullptr;
  ASSERT_TRUE(small_data(engine.get(), records, rec));
  const std::string dir = quor_test::scratch_dir() + "/renamed";
  ::mkdir(dir.c_str(), 0700);
  std::string digest;
  ASSERT_TRUE(extract_attribute((dir + "/plain").c_str(), nullptr, engine.get(), *rec, false));
  digest = md5sum(dir + "/plain");
  const std::string taken = dir + "/0000000000000007_small_" + digest;
  ASSERT_EQ(::link(ev.image.c_str(), taken.c_str()), 0);
  EXPECT_FALSE(extract_attribute_hashed((dir + "/small").c_str(), nullptr, engine.get(), *rec, false, 7));
  struct stat image_st, taken_st;
  ASSERT_EQ(::stat(ev.image.c_str(), &image_st), 0);
  ASSERT_EQ(::stat(taken.c_str(), &taken_st), 0);
  EXPECT_EQ(taken_st.st_ino, image_st.st_ino);
  EXPECT_EQ(md5sum(ev.image), before);
}

// The walker's copy takes a name made of the time, the digest and the
// file's name: a link to the image under that name in the copy directory is
// refused and left in place, and the walk goes on.
TEST(EvidenceOutputs, WalkerCopyDoesNotRenameOntoTheImage) {
  const evidence ev("walked");
  ASSERT_FALSE(ev.image.empty());
  const std::string before = md5sum(ev.image);
  const std::string first = quor_test::scratch_dir() + "/walked-first";
  const std::string second = quor_test::scratch_dir() + "/walked-second";
  ::mkdir(second.c_str(), 0700);
  std::string entry;
  {
    const auto engine = quor_test::open_engine_at(ev.image);
    std::string resolved;
    ulong64 inode = 0;
    ASSERT_TRUE(engine && engine->get_inode_from_path("/small.txt", resolved, inode, false));
    entry = std::to_string(inode);
  }
  user_ctx a;
  quor_test::walk_text(a, {"-image", ev.image, "-csv", "-mftstart", entry, "-action_copy_files", first});
  std::string name;
  ASSERT_EQ(quor_test::run_command("ls " + first, name), 0);
  ASSERT_FALSE(name.empty());
  name.pop_back();  // its line end
  ASSERT_EQ(::link(ev.image.c_str(), (second + "/" + name).c_str()), 0);
  user_ctx b;
  const std::string out =
      quor_test::walk_text(b, {"-image", ev.image, "-csv", "-mftstart", entry, "-action_copy_files", second});
  EXPECT_NE(out.find("small.txt"), std::string::npos) << out;  // the entry is still reported
  EXPECT_EQ(out.find(second + "/" + name), std::string::npos) << out;
  struct stat image_st, named_st;
  ASSERT_EQ(::stat(ev.image.c_str(), &image_st), 0);
  ASSERT_EQ(::stat((second + "/" + name).c_str(), &named_st), 0);
  EXPECT_EQ(named_st.st_ino, image_st.st_ino);
  EXPECT_EQ(md5sum(ev.image), before);
}

}  // namespace
