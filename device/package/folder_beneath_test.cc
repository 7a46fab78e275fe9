#include "platform/foundation/folder_beneath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "device/child_process.h"

namespace package {
using device::Fd;
using device::openFolder;
using device::openFolderBeneath;
using device::removeTreeBeneath;
namespace {

namespace fs = std::filesystem;

class FolderBeneath : public ::testing::Test {
 protected:
  void SetUp() override {
    top_ = program::makeTempDirectory("velmo-beneath");
    outside_ = program::makeTempDirectory("velmo-outside");
    fs::create_directories(top_ + "/var/jb/Library");
    std::ofstream(top_ + "/var/jb/file") << "x";
    std::ofstream(outside_ + "/kept") << "the machine's own";
    fs::create_directory_symlink(outside_, top_ + "/var/jb/out");
    fs::create_directory_symlink("Library", top_ + "/var/jb/in");
    root_ = Fd(openFolder(top_));
    ASSERT_TRUE(root_.ok());
  }
  void TearDown() override {
    program::removeTree(top_);
    program::removeTree(outside_);
  }
  std::string top_, outside_;
  Fd root_;
};

TEST_F(FolderBeneath, OpensFoldersThroughNoLink) {
  Fd library(openFolderBeneath(root_.get(), "var/jb/Library"));
  ASSERT_TRUE(library.ok());
  struct stat a, b;
  ASSERT_EQ(fstat(library.get(), &a), 0);
  ASSERT_EQ(stat((top_ + "/var/jb/Library").c_str(), &b), 0);
  EXPECT_EQ(a.st_ino, b.st_ino);
  Fd itself(openFolderBeneath(root_.get(), ""));
  EXPECT_TRUE(itself.ok());

  // A link on the way, to outside or even inside, is never followed.
  EXPECT_EQ(openFolderBeneath(root_.get(), "var/jb/out"), -ELOOP);
  EXPECT_EQ(openFolderBeneath(root_.get(), "var/jb/in"), -ELOOP);
  EXPECT_EQ(openFolderBeneath(root_.get(), "var/jb/file"), -ENOTDIR);
  EXPECT_EQ(openFolderBeneath(root_.get(), "var/jb/missing"), -ENOENT);
  EXPECT_EQ(openFolderBeneath(root_.get(), "var/jb/../.."), -EXDEV);
}

TEST_F(FolderBeneath, RemovesATreeWithoutFollowingItsLinks) {
  fs::create_directories(top_ + "/var/jb/tmp.x/data");
  std::ofstream(top_ + "/var/jb/tmp.x/data/f") << "x";
  fs::create_directory_symlink(outside_, top_ + "/var/jb/tmp.x/data/out");
  Fd jb(openFolderBeneath(root_.get(), "var/jb"));
  ASSERT_TRUE(jb.ok());
  EXPECT_EQ(removeTreeBeneath(jb.get(), "tmp.x"), 0);
  EXPECT_FALSE(fs::exists(top_ + "/var/jb/tmp.x"));
  EXPECT_TRUE(fs::exists(outside_ + "/kept")) << "a link in the tree goes, not what it names";
  // A link given as the tree is removed itself.
  EXPECT_EQ(removeTreeBeneath(jb.get(), "out"), 0);
  EXPECT_TRUE(fs::exists(outside_ + "/kept"));
  EXPECT_EQ(removeTreeBeneath(jb.get(), "missing"), ENOENT);
}

}  // namespace
}  // namespace package
