// The file of an overlay's layer a file seen through the overlay stands
// for: the layers as the mount table names them, and the file found in a
// real overlay mount for a file written in the upper layer, one only in the
// lower, and one in both (the upper's shows).
#include "utils/overlay_layers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/fixture.h"
#include "tests/support/mount_guard.h"
#include "utils/mount_table.h"

namespace {

TEST(OverlayLayers, LayersAsTheOptionsNameThem) {
  const struct {
    std::vector<std::string> options;
    std::vector<std::string> layers;
  } cases[] = {
      {{"rw", "lowerdir=L", "upperdir=U", "workdir=W"}, {"U", "L"}},
      {{"lowerdir=/a:/b\\:c:/d\\\\e::/data"}, {"/a", "/b:c", "/d\\e", "/data"}},
      {{"rw", "upperdir=/u\\,p", "lowerdir=L\\,2"}, {"/u,p", "L,2"}},
      {{"lowerdir+=/l:1", "datadir+=/d", "upperdir=/u"}, {"/u", "/l:1", "/d"}},
      {{"rw", "workdir=W", "uuid=on"}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(uni::overlay_layers(c.options), c.layers) << c.options.at(0);
}

TEST(OverlayLayers, FileOfTheLayerAFileIsSeenAs) {
  const std::string top = quor_test::scratch_dir() + "/layers";
  for (const char* folder : {"", "/L", "/U", "/W"}) ::mkdir((top + folder).c_str(), 0700);
  std::ofstream(top + "/U/up.img") << "upper";
  std::ofstream(top + "/L/low.img") << "lower";
  std::ofstream(top + "/L/both.img") << "lower, shadowed";
  std::ofstream(top + "/U/both.img") << "upper, shown";
  // Named relative to the folder above the mount, as the table keeps them.
  const quor_test::mount_guard overlay(
      "cd '" + top + "' && mount -t overlay overlay -o lowerdir=L,upperdir=U,workdir=W M", top + "/M");
  if (overlay.dir().empty()) GTEST_SKIP() << overlay.why();
  struct stat m_st;
  ASSERT_EQ(::stat(overlay.dir().c_str(), &m_st), 0);
  const std::shared_ptr<const uni::mount_table> table = uni::current_mount_table();
  ASSERT_TRUE(table);
  std::vector<uni::mount_entry> mounts;
  for (const uni::mount_entry& e : table->entries)
    if (e.device == static_cast<uint64>(m_st.st_dev)) mounts.push_back(e);
  ASSERT_EQ(mounts.size(), 1u);
  const struct {
    const char* seen;
    const char* layer;  // "" for none
  } cases[] = {{"/up.img", "/U/up.img"}, {"/low.img", "/L/low.img"}, {"/both.img", "/U/both.img"}, {"", ""}};
  for (const auto& c : cases) {
    const std::string seen = overlay.dir() + c.seen;
    struct stat st, want, found;
    ASSERT_EQ(::stat(seen.c_str(), &st), 0) << seen;
    std::string name;
    ASSERT_EQ(uni::overlay_layer_file(seen, st, mounts[0], name, found), *c.layer != '\0') << seen;
    if (*c.layer == '\0') continue;
    ASSERT_EQ(::stat((top + c.layer).c_str(), &want), 0);
    EXPECT_TRUE(found.st_dev == want.st_dev && found.st_ino == want.st_ino) << seen << " found " << name;
  }
  // Everything written through the overlay goes to its upper folder, named
  // relative to the folder above the mount; a read-only overlay has none.
  std::string upper;
  ASSERT_TRUE(uni::overlay_upper_folder(mounts[0], upper));
  EXPECT_EQ(upper, top + "/U");
  uni::mount_entry read_only = mounts[0];
  read_only.options = {"ro", "lowerdir=L:U"};
  upper = "untouched";
  EXPECT_FALSE(uni::overlay_upper_folder(read_only, upper));
  EXPECT_EQ(upper, "untouched");
}

}  // namespace
