#include "device/web/scratch_folder.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/foundation/device.h"

namespace web {
namespace {

namespace fs = std::filesystem;

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velmo-scratch-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    parent_ = pattern;
  }
  void TearDown() override { fs::remove_all(parent_); }

  // A folder as a serve would have left it, owned by `pid` started at `start`.
  std::string leftBy(const std::string& name, pid_t pid, unsigned long long start) {
    std::string folder = parent_ + "/" + name;
    fs::create_directory(folder);
    std::ofstream(folder + "/owner") << "pid " << pid << "\nstart " << start << "\n";
    std::ofstream(folder + "/photos.png") << "png";
    return folder;
  }
  // The pid of a process that has ended (and been reaped).
  static pid_t endedPid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
  }

  std::string parent_;
};

TEST_F(ScratchFolder, AFolderOfAServeThatIsGoneIsRemovedAndALiveOnesIsKept) {
  std::string error;
  std::string mine = makeScratchFolder(parent_, &error);
  ASSERT_FALSE(mine.empty()) << error;
  EXPECT_EQ(fs::path(mine).filename().string().rfind("velmo-serve-", 0), 0u);
  std::optional<unsigned long long> my_start = device::processStartTime(getpid());
  ASSERT_TRUE(my_start);

  std::string gone = leftBy("velmo-serve-Ab12Cd", endedPid(), 1);
  // This process's pid, but another start time: a process that had the pid
  // before this one.
  std::string reused = leftBy("velmo-serve-reUse1", getpid(), *my_start + 1);
  std::string live = leftBy("velmo-serve-Live99", getpid(), *my_start);
  // Not ours to judge: no owner record (one being made right now), another
  // name, a link.
  fs::create_directory(parent_ + "/velmo-serve-NoOwnr");
  std::string test = leftBy("velmo-serve-test-Ab12Cd", endedPid(), 1);
  std::string elsewhere = leftBy("elsewhere", endedPid(), 1);
  fs::create_directory_symlink(elsewhere, parent_ + "/velmo-serve-Link00");

  EXPECT_EQ(removeStaleScratchFolders(parent_), 2);
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_FALSE(fs::exists(reused));
  EXPECT_TRUE(fs::exists(live + "/photos.png"));
  EXPECT_TRUE(fs::exists(mine + "/owner"));
  EXPECT_TRUE(fs::exists(parent_ + "/velmo-serve-NoOwnr"));
  EXPECT_TRUE(fs::exists(test + "/photos.png"));
  EXPECT_TRUE(fs::exists(elsewhere + "/photos.png"));
  EXPECT_TRUE(fs::is_symlink(parent_ + "/velmo-serve-Link00"));
}

TEST_F(ScratchFolder, StartTimesTellProcessesApart) {
  EXPECT_FALSE(device::processStartTime(endedPid()));
  std::optional<unsigned long long> mine = device::processStartTime(getpid());
  std::optional<unsigned long long> init = device::processStartTime(1);
  ASSERT_TRUE(mine);
  ASSERT_TRUE(init);
  EXPECT_GE(*mine, *init);
}

}  // namespace
}  // namespace web
