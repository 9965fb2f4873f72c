// Print folders: each names its process and is locked while in use; the folders of dead processes
// are removed, and nothing else is: not a live process's, not another user's, not a link, not a
// name that only looks similar.
#include "platform/print/zbPrintFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/glib/zbGOwner.h"
#include "tests/TestEnv.h"

namespace zb::print {
namespace {

namespace fs = std::filesystem;
using zb::test::DeadPid;

class PrintFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    const TzbGChars made(g_dir_make_tmp("zbprintfolder-XXXXXX", nullptr));
    ASSERT_TRUE(made);
    Temp = made.get();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(Temp, ignored);
  }
  // A folder as a print makes it: the lock file inside, and a PDF.
  fs::path Folder(pid_t AOwner, const char* ATail = "abcdef", bool ALockFile = true) {
    const fs::path path = Temp / (std::string(PrintFolderPrefix) + std::to_string(AOwner) + "-" + ATail);
    fs::create_directory(path);
    if (ALockFile) std::ofstream(path / ".owner");
    std::ofstream(path / "print.pdf") << "%PDF-1.4";
    return path;
  }
  fs::path Temp;
};

TEST_F(PrintFolder, ADeadProcesssFolderIsRemovedAndNothingElse) {
  const pid_t dead = DeadPid();
  const fs::path gone = Folder(dead);
  const fs::path halfMade = Folder(dead, "ghijkl", false);  // killed before it made its lock file
  const fs::path live = Folder(::getppid());
  const fs::path foreign = Folder(dead, "mnopqr");
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  // A link under a print folder's name, pointing at a folder that must survive.
  const fs::path target = Temp / "keep";
  fs::create_directory(target);
  std::ofstream(target / "data") << "x";
  fs::create_directory_symlink(target, Temp / (std::string(PrintFolderPrefix) + std::to_string(dead) + "-stuvwx"));
  // Names that only look like a print folder.
  const fs::path older = Temp / (std::string(PrintFolderPrefix) + "Ab12Cd");
  const fs::path other = Temp / (std::string(PrintFolderPrefix) + std::to_string(dead) + "-toolong7");
  fs::create_directory(older);
  fs::create_directory(other);

  RemoveDeadPrintFolders(Temp.string());
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_FALSE(fs::exists(halfMade));
  EXPECT_TRUE(fs::exists(live / "print.pdf"));
  EXPECT_TRUE(fs::exists(foreign / "print.pdf"));
  EXPECT_TRUE(fs::exists(target / "data"));
  EXPECT_TRUE(fs::exists(older));
  EXPECT_TRUE(fs::exists(other));
}

TEST_F(PrintFolder, ALockHeldByALiveProcessKeepsTheFolderWhateverItsName) {
  // Its owner's process id means nothing here (another pid namespace), but it holds the lock.
  const fs::path held = Folder(DeadPid());
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    const int fd = ::open((held / ".owner").c_str(), O_RDONLY);
    ::flock(fd, LOCK_EX);
    (void)!::write(ready[1], "x", 1);
    ::pause();
    ::_exit(0);
  }
  char c;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  RemoveDeadPrintFolders(Temp.string());
  EXPECT_TRUE(fs::exists(held / "print.pdf"));
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  // With its holder gone, the folder is a dead one.
  RemoveDeadPrintFolders(Temp.string());
  EXPECT_FALSE(fs::exists(held));
}

TEST(PrintFolderInUse, CarriesItsProcessAndGoesWithItsOwner) {
  std::string path;
  {
    const TPrintFolder folder;
    path = folder.Path();
    const std::string name = fs::path(path).filename().string();
    EXPECT_EQ(name.rfind(std::string(PrintFolderPrefix) + std::to_string(::getpid()) + "-", 0), 0u) << path;
    // Our own folder in use is never taken for a dead one, by us or by another process.
    const std::string temp = fs::path(path).parent_path().string();
    RemoveDeadPrintFolders(temp);
    EXPECT_TRUE(fs::is_directory(path));
    const pid_t other = ::fork();
    if (other == 0) {
      RemoveDeadPrintFolders(temp);
      ::_exit(0);
    }
    ::waitpid(other, nullptr, 0);
    EXPECT_TRUE(fs::is_directory(path));
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
}  // namespace zb::print
