// No writer of the examination library may write over the evidence it reads:
// an output, log or report that is the image, a hard link to it or a
// symbolic link to it, or a loop device over it, is refused with false, and
// the image is unchanged; so is standard output redirected onto any of
// them. Nor may a writer wait for ever on a FIFO.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "examine/attribute_extract.h"
#include "examine/attribute_writer.h"
#include "examine/cluster_copy.h"
#include "examine/entry_report.h"
#include "examine/entry_records.h"
#include "examine/walk_engine.h"
#include "tests/examine/examine_support.h"
#include "tests/examine/walk_run.h"
#include "tests/support/child_process.h"
#include "tests/support/loop_device.h"
#include "tests/support/mount_guard.h"

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

// Runs `body` with standard output on `target`, opened to append so that
// a guard that let the writer through shows in the image's digest. False
// when the target cannot be opened (a FIFO nobody reads among them).
bool with_stdout_on(const std::string& target, const std::function<bool()>& body) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK, 0600);
  if (fd < 0) return false;
  ::fcntl(fd, F_SETFL, O_APPEND);
  std::fflush(stdout);
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(fd, STDOUT_FILENO);
  ::close(fd);
  const bool ok = body();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  return ok;
}

struct writer_case {
  const char* writer;
  std::function<bool(const std::string& target)> write;
  // False where the target is standard output, which whoever starts the
  // writer opens, not the writer.
  bool opens_target = true;
};

// Every writer of the library, reading the volume at `img` (through `engine`
// for those handed an engine) and writing one of its files to the target;
// `out` takes the other file where a writer has two.
std::vector<writer_case> every_writer(const std::string& img, CNtfs* engine, const entry_record* rec,
                                      const std::string& out) {
  return {
      {"cluster copy output", [=](const std::string& t) { return copy_image_clusters({}, img, 0, 0, 4, t, ""); }},
      {"cluster copy log", [=](const std::string& t) { return copy_image_clusters({}, img, 0, 0, 4, out, t); }},
      {"cluster copy output (wide)",
       [=](const std::string& t) { return copy_image_clusters_w({}, wide(img), 0, 0, 4, wide(t), L""); }},
      {"cluster copy log (wide)",
       [=](const std::string& t) { return copy_image_clusters_w({}, wide(img), 0, 0, 4, wide(out), wide(t)); }},
      {"extract output", [=](const std::string& t) { return extract_attribute(t.c_str(), nullptr, engine, *rec, false); }},
      {"extract report",
       [=](const std::string& t) { return extract_attribute(out.c_str(), t.c_str(), engine, *rec, false); }},
      {"extract output (wide)",
       [=](const std::string& t) {
         return extract_attribute(wide(t).c_str(), static_cast<const wchar_t*>(nullptr), engine, *rec, false);
       }},
      {"extract report (wide)",
       [=](const std::string& t) { return extract_attribute(wide(out).c_str(), wide(t).c_str(), engine, *rec, false); }},
      {"hashed extract report",
       [=](const std::string& t) { return extract_attribute_hashed(out.c_str(), t.c_str(), engine, *rec, false, 1); }},
      {"hashed extract report (wide)",
       [=](const std::string& t) {
         return extract_attribute_hashed(wide(out).c_str(), wide(t).c_str(), engine, *rec, false, 2);
       }},
      {"entry report",
       [=](const std::string& t) {
         entry_report_request r;
         r.image_path = wide(img);
         r.path = L"/small.txt";
         r.report_path = wide(t);
         r.extract_path = wide(out);
         return report_entry_by_path(r);
       }},
      {"standard output",
       [=](const std::string& t) {
         return with_stdout_on(t, [=] { return write_entry_data_to_stdout(engine, *rec, false) == 1; });
       },
       false},
      {"entry report to standard output",
       [=](const std::string& t) {
         entry_report_request r;
         r.image_path = wide(img);
         r.path = L"/small.txt";
         r.to_stdout = true;
         return with_stdout_on(t, [&] { return report_entry_by_path(r); });
       },
       false},
      {"entry report extract",
       [=](const std::string& t) {
         entry_report_request r;
         r.image_path = wide(img);
         r.path = L"/small.txt";
         r.extract_path = wide(t);
         return report_entry_by_path(r);
       }},
  };
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
  for (const writer_case& c : every_writer(ev.image, engine.get(), rec, out)) {
    // Each writer works when its file is elsewhere, so a refusal is the guard's.
    // Its other file is made anew each time: one holding the data written
    // before would be refused for what it holds.
    ::unlink(report.c_str());
    ::unlink(out.c_str());
    EXPECT_TRUE(c.write(report)) << c.writer;
    for (const std::string& target : ev.names()) {
      ::unlink(out.c_str());
      EXPECT_FALSE(c.write(target)) << c.writer << " to " << target;
      ASSERT_EQ(md5sum(ev.image), before) << c.writer << " to " << target;
    }
  }
  // The data pump says what it refused as quor does: the stream, the
  // evidence.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(with_stdout_on(ev.image, [&] { return write_entry_data_to_stdout(engine.get(), *rec, false) == 1; }));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: standard output: it is the evidence " + ev.image + "\n");
}

// A loop device and the file behind it are one piece of evidence. Read
// through a read-only loop device, the image file is refused by its name,
// a hard link and a chain of symbolic links; read as a file, a loop device
// over it and a loop device over that one are refused. Either way the image
// is unchanged.
TEST(EvidenceOutputs, EveryWriterRefusesTheImageBehindALoopDevice) {
  const evidence ev("looped");
  ASSERT_FALSE(ev.image.empty());
  const quor_test::loop_device read_only(ev.image, true);
  if (read_only.path().empty()) GTEST_SKIP() << read_only.why();
  const quor_test::loop_device over_image(ev.image, false);
  ASSERT_FALSE(over_image.path().empty()) << over_image.why();
  const quor_test::loop_device over_loop(over_image.path(), false);
  ASSERT_FALSE(over_loop.path().empty()) << over_loop.why();
  const std::string chained = quor_test::scratch_dir() + "/looped.chain";
  ::unlink(chained.c_str());
  ASSERT_EQ(::symlink(ev.soft.c_str(), chained.c_str()), 0);
  const std::string before = md5sum(ev.image);
  ASSERT_EQ(before.size(), 32u);
  const std::string out = quor_test::scratch_dir() + "/looped.out";
  const std::string report = quor_test::scratch_dir() + "/looped.report";

  const struct {
    const char* read;
    std::vector<std::string> targets;
  } directions[] = {
      {read_only.path().c_str(), {ev.image, ev.hard, chained}},
      {ev.image.c_str(), {over_image.path(), over_loop.path()}},
  };
  for (const auto& d : directions) {
    const auto engine = quor_test::open_engine_at(d.read);
    std::vector<entry_record> records;
    const entry_record* rec = nullptr;
    ASSERT_TRUE(small_data(engine.get(), records, rec)) << d.read;
    for (const writer_case& c : every_writer(d.read, engine.get(), rec, out)) {
      ::unlink(report.c_str());
      ::unlink(out.c_str());
      EXPECT_TRUE(c.write(report)) << c.writer << " reading " << d.read;
      for (const std::string& target : d.targets) {
        ::unlink(out.c_str());
        EXPECT_FALSE(c.write(target)) << c.writer << " reading " << d.read << " to " << target;
        ASSERT_EQ(md5sum(ev.image), before) << c.writer << " reading " << d.read << " to " << target;
      }
    }
  }
}

// A FIFO nobody reads, named as any writer's file, is no place to wait:
// the writer says so and returns false at once. Each runs in a child that
// is killed when it has not ended in five seconds.
TEST(EvidenceOutputs, NoWriterWaitsForAFifoWithoutReader) {
  const std::string image = quor_test::fixture("default.img");
  ASSERT_FALSE(image.empty());
  const auto engine = quor_test::open_engine_at(image);
  std::vector<entry_record> records;
  const entry_record* rec = nullptr;
  ASSERT_TRUE(small_data(engine.get(), records, rec));
  const std::string fifo = quor_test::scratch_dir() + "/unread.fifo";
  const std::string err = quor_test::scratch_dir() + "/unread.err";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string out = quor_test::scratch_dir() + "/unread.out";
  for (const writer_case& c : every_writer(image, engine.get(), rec, out)) {
    if (!c.opens_target) continue;
    ::unlink(out.c_str());
    const int status = quor_test::exit_status_in_child([&] { return c.write(fifo) ? 1 : 0; }, err);
    if (status == -1) {
      ADD_FAILURE() << c.writer << " waited for a reader";
      continue;
    }
    EXPECT_EQ(status, 0) << c.writer << " did not return false";
    EXPECT_NE(quor_test::read_file_text(err).find("no reader: " + fifo + "\n"), std::string::npos) << c.writer;
  }
}

// Every file of a VMDK chain is the evidence: a cluster copy onto the base
// or onto the child, or onto a loop device over either, is refused, and
// both files are unchanged.
TEST(EvidenceOutputs, ClusterCopyRefusesEveryFileOfAVmdkChain) {
  const std::string base = quor_test::copy_fixture("vmdk-base.vmdk", "vmdk-base.vmdk");
  const std::string child = quor_test::copy_fixture("vmdk-child.vmdk", "vmdk-child.vmdk");
  ASSERT_FALSE(base.empty() || child.empty());
  const std::string base_sum = md5sum(base), child_sum = md5sum(child);
  const std::vector<std::string> chain = {child, base};
  const std::string out = quor_test::scratch_dir() + "/chain.out";
  ASSERT_TRUE(copy_image_clusters(chain, "", 0, 0, 2, out, ""));
  const quor_test::loop_device over_base(base, false), over_child(child, false);
  std::vector<std::string> targets = chain;
  for (const quor_test::loop_device* loop : {&over_base, &over_child})
    if (!loop->path().empty()) targets.push_back(loop->path());
  for (const std::string& target : targets) {
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
// refused and left in place, and the walk goes on; also when the walk reads
// the image through a read-only loop device over it.
TEST(EvidenceOutputs, WalkerCopyDoesNotRenameOntoTheImage) {
  const evidence ev("walked");
  ASSERT_FALSE(ev.image.empty());
  const std::string before = md5sum(ev.image);
  const std::string first = quor_test::scratch_dir() + "/walked-first";
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
  const quor_test::loop_device loop(ev.image, true);
  std::vector<std::string> reads = {ev.image};
  if (!loop.path().empty()) reads.push_back(loop.path());
  for (size_t i = 0; i < reads.size(); ++i) {
    const std::string second = quor_test::scratch_dir() + "/walked-second" + std::to_string(i);
    ::mkdir(second.c_str(), 0700);
    ASSERT_EQ(::link(ev.image.c_str(), (second + "/" + name).c_str()), 0);
    user_ctx b;
    testing::internal::CaptureStderr();
    const std::string out =
        quor_test::walk_text(b, {"-image", reads[i], "-csv", "-mftstart", entry, "-action_copy_files", second});
    // Named as the walk shows the copy, and the evidence it would take the
    // name of as the run opened it.
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "refused to write: " + second + "/" + name + ": it is the evidence " + reads[i] + "\n");
    EXPECT_NE(out.find("small.txt"), std::string::npos) << out;  // the entry is still reported
    EXPECT_EQ(out.find(second + "/" + name), std::string::npos) << reads[i] << "\n" << out;
    struct stat image_st, named_st;
    ASSERT_EQ(::stat(ev.image.c_str(), &image_st), 0);
    ASSERT_EQ(::stat((second + "/" + name).c_str(), &named_st), 0);
    EXPECT_EQ(named_st.st_ino, image_st.st_ino) << reads[i];
    EXPECT_EQ(md5sum(ev.image), before);
    std::string left;
    ASSERT_EQ(quor_test::run_command("ls " + second, left), 0);
    EXPECT_EQ(left, name + "\n") << "the refused copy's temporary stays";
  }
  if (loop.path().empty()) GTEST_SKIP() << "read through a loop device not tried: " << loop.why();
}

// The walker's copy folder in a mount of the image it walks (ntfs-3g's) is
// not made: the options only name it, the walk is refused once the image is
// open, before anything is made or walked, and fls lists the image as
// before. Nor does a walk whose source cannot be opened make any folder,
// even in a mount of the image the user meant (named with a stray blank
// after a climb out of a linked folder, which the parser cleans as text).
TEST(EvidenceOutputs, WalkerCopyFolderOnAMountOfTheImageIsNotMade) {
  const std::string real = quor_test::scratch_dir() + "/walk-meant";
  ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((real + "/deep").c_str(), 0700), 0);
  const std::string image = quor_test::copy_fixture("default.img", "walk-meant/walk-folder.img");
  ASSERT_FALSE(image.empty());
  const std::string linked = quor_test::scratch_dir() + "/walk-ls";
  ASSERT_EQ(::symlink((real + "/deep").c_str(), linked.c_str()), 0);
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  std::string before, after;
  ASSERT_EQ(quor_test::run_command("fls -r -p '" + image + "'", before), 0);
  const std::string at = quor_test::scratch_dir() + "/walk-folder";
  {
    const quor_test::ntfs3g_mount mount(image, at);
    if (mount.dir().empty()) GTEST_SKIP() << mount.why();
    struct stat st;
    const struct {
      std::string named, folder, said;
    } walks[] = {
        {image, at + "/copies",
         "refused to write: " + at + "/copies: it is stored in the evidence " + image + " through the FUSE mount at " +
             at + " (fuse)\n"},
        {"walk-ls/../walk-folder.img ", at + "/nd", ""},
    };
    // The name is taken as text from the scratch folder.
    char here[4096];
    ASSERT_NE(::getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(::chdir(quor_test::scratch_dir().c_str()), 0);
    for (const auto& w : walks) {
      user_ctx ctx;
      testing::internal::CaptureStderr();
      EXPECT_TRUE(quor_test::parse_walk_options(ctx, {"-image", w.named, "-csv", "-action_copy_files", w.folder}));
      EXPECT_NE(::stat(w.folder.c_str(), &st), 0) << "made by the parser";
      std::ostringstream text;
      EXPECT_FALSE(walk_engine_run(text, ctx)) << w.named;
      EXPECT_EQ(testing::internal::GetCapturedStderr(), w.said);
      EXPECT_EQ(text.str().find("small.txt"), std::string::npos) << w.named;
      EXPECT_NE(::stat(w.folder.c_str(), &st), 0) << w.named;
    }
    ASSERT_EQ(::chdir(here), 0);
  }
  ASSERT_EQ(quor_test::run_command("fls -r -p '" + image + "'", after), 0);
  EXPECT_EQ(after, before);
}

}  // namespace

namespace {

// The same where the mount table does not name the image: ntfs-3g cuts its
// name at the first comma, and an image renamed after the mount keeps the
// old name there. The walker's copy folder is refused and not made, and
// fls lists each image as before.
TEST(EvidenceOutputs, WalkerCopyFolderOnAFuseMountNotNamingTheImageIsNotMade) {
  if (!quor_test::have_program("fls")) GTEST_SKIP() << "fls not installed";
  const std::string comma = quor_test::copy_fixture("default.img", "walk,comma.img");
  const std::string moved = quor_test::copy_fixture("default.img", "walk-moved.img");
  ASSERT_FALSE(comma.empty() || moved.empty());
  const std::string renamed = quor_test::scratch_dir() + "/walk-renamed.img";
  std::string before;
  ASSERT_EQ(quor_test::run_command("fls -r -p '" + comma + "'", before), 0);
  {
    const quor_test::ntfs3g_mount by_comma(comma, quor_test::scratch_dir() + "/walk-comma");
    const quor_test::ntfs3g_mount by_moved(moved, quor_test::scratch_dir() + "/walk-moved");
    if (by_comma.dir().empty() || by_moved.dir().empty()) GTEST_SKIP() << by_comma.why();
    ASSERT_EQ(::rename(moved.c_str(), renamed.c_str()), 0);
    for (const auto& mounted : {std::make_pair(comma, by_comma.dir()), std::make_pair(renamed, by_moved.dir())}) {
      const std::string copies = mounted.second + "/copies";
      user_ctx ctx;
      testing::internal::CaptureStderr();
      EXPECT_TRUE(quor_test::parse_walk_options(ctx, {"-image", mounted.first, "-csv", "-action_copy_files", copies}));
      std::ostringstream text;
      EXPECT_FALSE(walk_engine_run(text, ctx)) << mounted.first;
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "refused to write: " + copies + ": it is stored in the evidence " +
                                                            mounted.first + " through the FUSE mount at " +
                                                            mounted.second + " (fuse)\n");
      struct stat st;
      EXPECT_NE(::stat(copies.c_str(), &st), 0);
    }
  }
  ASSERT_TRUE(quor_test::wait_until_unheld(comma) && quor_test::wait_until_unheld(renamed));
  for (const std::string& image : {comma, renamed}) {
    std::string after;
    ASSERT_EQ(quor_test::run_command("fls -r -p '" + image + "'", after), 0);
    EXPECT_TRUE(after == before) << image;
  }
}

}  // namespace
namespace {

// An E01 of an image beside the case's notes: no writer of the library
// replaces it or adds to it, whatever it reads (the E01 is no source
// here), saying that it holds binary data; ewfverify passes after. The
// same writers write over the notes, which are text.
TEST(EvidenceOutputs, NoWriterReplacesAFileHoldingBinaryData) {
  if (!quor_test::have_program("ewfacquire") || !quor_test::have_program("ewfverify"))
    GTEST_SKIP() << "ewfacquire or ewfverify not installed";
  const std::string dir = quor_test::scratch_dir() + "/binary-heads";
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  std::string ignored;
  ASSERT_EQ(quor_test::run_command("cd '" + dir + "' && ewfacquire -u -q -t case -c none '" +
                                       quor_test::fixture("sample.img") + "' </dev/null >/dev/null 2>&1",
                                   ignored),
            0);
  const std::string e01 = dir + "/case.E01", kept = dir + "/kept.E01", notes = dir + "/notes.txt";
  ASSERT_EQ(quor_test::run_command("cp '" + e01 + "' '" + kept + "'", ignored), 0);
  const std::string sum = md5sum(e01);
  const std::string image = quor_test::fixture("default.img");
  const auto engine = quor_test::open_engine_at(image);
  std::vector<entry_record> records;
  const entry_record* rec = nullptr;
  ASSERT_TRUE(small_data(engine.get(), records, rec));
  const std::string out = dir + "/other.out";
  for (const writer_case& c : every_writer(image, engine.get(), rec, out)) {
    if (!c.opens_target) continue;
    ::unlink(out.c_str());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(c.write(e01)) << c.writer;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "refused to write: " + e01 + ": it holds binary data (an E01 header) and may be evidence; name another file\n")
        << c.writer;
    ASSERT_EQ(md5sum(e01), sum) << c.writer;
    std::ofstream(notes) << "case notes\n";
    ::unlink(out.c_str());
    EXPECT_TRUE(c.write(notes)) << c.writer;
    EXPECT_NE(quor_test::read_file_text(notes), "case notes\n") << c.writer;
  }
  EXPECT_EQ(quor_test::run_command("ewfverify -q '" + e01 + "' >/dev/null 2>&1", ignored), 0);
  EXPECT_EQ(md5sum(kept), sum);
}

}  // namespace
