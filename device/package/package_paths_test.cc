#include "device/package/package_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "device/child_process.h"

namespace package {
namespace {

namespace fs = std::filesystem;

TEST(EntryNames, NormalisedOrRefused) {
  std::string path;
  EXPECT_EQ(normalizeEntryName("./var/jb/Library/x/", &path), "");
  EXPECT_EQ(path, "var/jb/Library/x");
  EXPECT_EQ(normalizeEntryName("./", &path), "");
  EXPECT_EQ(path, "");
  EXPECT_EQ(normalizeEntryName("var//jb/./a", &path), "");
  EXPECT_EQ(path, "var/jb/a");
  EXPECT_NE(normalizeEntryName("/var/jb/a", &path), "");
  EXPECT_NE(normalizeEntryName("./var/jb/../../etc/passwd", &path), "");
  EXPECT_NE(normalizeEntryName("./var/jb/a/..", &path), "");
  EXPECT_NE(normalizeEntryName("", &path), "");
  EXPECT_NE(normalizeEntryName("./var/jb/a\n/var/jb/b", &path), "");

  EXPECT_TRUE(insidePackageTree("var/jb"));
  EXPECT_TRUE(insidePackageTree("var/jb/a"));
  EXPECT_FALSE(insidePackageTree("var/jbx"));
  EXPECT_FALSE(insidePackageTree("var"));
  EXPECT_TRUE(abovePackageTree(""));
  EXPECT_TRUE(abovePackageTree("var"));
  EXPECT_FALSE(abovePackageTree("etc"));
}

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = program::makeTempDirectory("velmo-resolve");
    fs::create_directories(root_ + "/var/jb/usr/lib");
  }
  void TearDown() override { program::removeTree(root_); }
  std::string resolve(const std::string& path,
                      const std::map<std::string, std::string>& links = {}) {
    std::string where;
    std::string error = resolveInDevice(root_, path, links, &where);
    return error.empty() ? where : "error: " + error;
  }
  std::string root_;
};

TEST_F(ResolveTest, FollowsThePackagesLinksBeforeTheDevices) {
  fs::create_symlink("usr/lib", root_ + "/var/jb/lib");
  EXPECT_EQ(resolve("var/jb/lib/x"), "var/jb/usr/lib/x");
  EXPECT_EQ(resolve("var/jb/./usr/../lib"), "var/jb/usr/lib");
  // The package's own link replaces the device's.
  EXPECT_EQ(resolve("var/jb/lib/x", {{"var/jb/lib", "usr"}}), "var/jb/usr/x");
  // A chain: a -> b -> usr/lib, followed through "..".
  EXPECT_EQ(resolve("var/jb/a/../x", {{"var/jb/a", "b"}, {"var/jb/b", "usr/lib"}}), "var/jb/usr/x");
}

TEST_F(ResolveTest, RefusesWaysOutOfTheDeviceAndCircles) {
  EXPECT_EQ(resolve("var/jb/../../.."), "error: it leads above the device's root");
  EXPECT_EQ(resolve("var/jb/l", {{"var/jb/l", "/etc"}}),
            "error: the link var/jb/l names /etc outside the device");
  // ".." after a link to "." climbs from where the link points, not from the link.
  EXPECT_EQ(resolve("var/jb/s/..", {{"var/jb/s", "."}}), "var");
  EXPECT_EQ(resolve("var/jb/d/x", {{"var/jb/d", "../../../../etc"}}),
            "error: it leads above the device's root");
  fs::create_symlink("/etc", root_ + "/var/jb/etc");
  EXPECT_EQ(resolve("var/jb/etc/passwd"),
            "error: the link var/jb/etc names /etc outside the device");
  EXPECT_EQ(resolve("var/jb/a", {{"var/jb/a", "b"}, {"var/jb/b", "a"}}),
            "error: its links go round in circles");
}

}  // namespace
}  // namespace package
