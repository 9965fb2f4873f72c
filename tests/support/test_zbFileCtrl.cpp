#include "support/zbFileCtrl.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/zbException.h"

using namespace zb;
namespace fs = std::filesystem;

namespace {

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zbfilectrl-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    FDir = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(FDir, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(FDir, ec);
  }
  std::u16string Path(const std::string& rel) const { return Utf8ToUtf16(FDir + "/" + rel); }
  std::string Native(const std::string& rel) const { return FDir + "/" + rel; }
  void Touch(const std::string& rel, const std::string& content = "x") const {
    std::ofstream(Native(rel), std::ios::binary) << content;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string FDir;
};

}  // namespace

TEST(PathTexts, WindowsSeparators) {
  EXPECT_EQ(ExtractFileDirEx(u"C:\\a\\b.txt", u':', u'\\'), u"C:\\a");
  EXPECT_EQ(ExtractFileDirEx(u"C:\\b.txt", u':', u'\\'), u"C:\\");
  EXPECT_EQ(ExtractFileExtEx(u"C:\\a.b\\c", u':', u'\\'), u"");
  EXPECT_EQ(ExtractFileExtEx(u"C:\\a.b\\c.tar.gz", u':', u'\\'), u".gz");
  EXPECT_EQ(ExtractFilePathEx(u"C:\\a\\b.txt", u':', u'\\'), u"C:\\a\\");
  EXPECT_EQ(ExtractFilePathEx(u"C:b.txt", u':', u'\\'), u"C:");
  EXPECT_EQ(ExtractFileNameEx(u"C:b.txt", u':', u'\\'), u"b.txt");
  EXPECT_EQ(ExtractFilePathEx(u"b.txt", u':', u'\\'), u"");
  EXPECT_EQ(ExtractFileBaseName(u"C:\\a\\b.c.txt", u':', u'\\'), u"b.c");
  // PathSep U+0000 picks "\" when the path holds one, else "/".
  EXPECT_EQ(ExtractFileNameEx(u"a/b\\c", u'\0', u'\0'), u"c");
  EXPECT_EQ(ExtractFileNameEx(u"a/b/c", u'\0', u'\0'), u"c");
}

TEST(PathTexts, PosixPaths) {
  EXPECT_EQ(ExtractFilePathEx(u"/home/u/mail.htm"), u"/home/u/");
  EXPECT_EQ(ExtractFileDirEx(u"/home/u/mail.htm"), u"/home/u");
  EXPECT_EQ(ExtractFileDirEx(u"/mail.htm"), u"/");
  EXPECT_EQ(ExtractFileNameEx(u"/home/u/mail.htm"), u"mail.htm");
  EXPECT_EQ(ExtractFileNameEx(u"/home/u/"), u"");
  EXPECT_EQ(ExtractFileNameEx(u"C:x"), u"C:x");  // no drive separator on Linux
  EXPECT_EQ(ExtractFileExtEx(u"/a.b/c"), u"");
  EXPECT_EQ(ExtractFileExtEx(u"/a/.bashrc"), u".bashrc");
  EXPECT_EQ(ExtractFileExtNoDot(u"/a/b.HTM"), u"HTM");
  EXPECT_EQ(RemoveFileExt(u"/a.d/b.htm"), u"/a.d/b");
  EXPECT_EQ(RemoveFileExt(u"/a.d/b"), u"/a.d/b");
  EXPECT_EQ(ExtractFileBaseName(u"/a/b.htm"), u"b");
  EXPECT_EQ(IndexOfFileExt(u"/a/b.JPG", {u"jpeg", u"jpg"}), 1);
  EXPECT_EQ(IndexOfFileExt(u"/a/b", {u"jpeg", u"jpg"}), -1);
  EXPECT_EQ(ExtractFilePathEx(u""), u"");
  const std::u16string huge(100000, u'a');
  EXPECT_EQ(ExtractFileNameEx(huge), huge);
  EXPECT_EQ(CleanFileName(huge, true).size(), 20u);
}

TEST(CleanFileName, NameMode) {
  EXPECT_EQ(CleanFileName(u"a<b>?.txt", true), u"ab.txt");
  EXPECT_EQ(CleanFileName(u"ab/c", true), u"ab c");
  EXPECT_EQ(CleanFileName(u"a/c", true), u"ac");
  EXPECT_EQ(CleanFileName(u"a b.txt", true), u"ab.txt");
  EXPECT_EQ(CleanFileName(u"abc   d\u00A0e.txt", true), u"abc d e.txt");
  EXPECT_EQ(CleanFileName(u"x:y\t|\"*.htm", true), u"xy.htm");
  EXPECT_EQ(CleanFileName(u"name   .htm", true), u"name.htm");
  EXPECT_EQ(CleanFileName(u"", true), u"");
  const std::u16string longName = std::u16string(300, u'n') + u".htm";
  EXPECT_EQ(CleanFileName(longName, true), std::u16string(20, u'n') + u".htm");
}

TEST(CleanFileName, PathMode) {
  EXPECT_EQ(CleanFileName(u"C:\\x:y\\z.txt", false), u"C:\\xy\\z.txt");
  EXPECT_EQ(CleanFileName(u"/tmp/a?b/ c .htm", false), u"/tmp/ab/c.htm");
  EXPECT_EQ(CleanFileName(u"/tmp/Plumadesk 5.0/", false), u"/tmp/Plumadesk 5.0/");
  const std::u16string longName = u"/tmp/" + std::u16string(256, u'n') + u".log";
  EXPECT_EQ(CleanFileName(longName, false), u"/tmp/" + std::u16string(20, u'n') + u".log");
}

TEST(ExpandEnvironmentText, PercentAndDollarForms) {
  setenv("ZB_TEST_VAR", "/data", 1);
  unsetenv("ZB_TEST_MISSING");
  EXPECT_EQ(ExpandEnvironmentText(u"%ZB_TEST_VAR%/x"), u"/data/x");
  EXPECT_EQ(ExpandEnvironmentText(u"$ZB_TEST_VAR/x"), u"/data/x");
  EXPECT_EQ(ExpandEnvironmentText(u"${ZB_TEST_VAR}x"), u"/datax");
  EXPECT_EQ(ExpandEnvironmentText(u"%ZB_TEST_MISSING%/$ZB_TEST_MISSING/${ZB_TEST_MISSING}"),
            u"%ZB_TEST_MISSING%/$ZB_TEST_MISSING/${ZB_TEST_MISSING}");
  EXPECT_EQ(ExpandEnvironmentText(u"100% sure $ 5 ${"), u"100% sure $ 5 ${");
  EXPECT_EQ(ExpandEnvironmentText(std::u16string(u"a\0b", 3)), u"a");
}

TEST_F(TempDir, FoldersAreForcedAndEnsured) {
  EXPECT_FALSE(ForceFolders(u""));
  EXPECT_TRUE(ForceFolders(Path("a/b/c/")));
  EXPECT_TRUE(FolderExists(Path("a/b/c")));
  EXPECT_TRUE(ForceFolders(Path("a/b/c")));  // already there
  EXPECT_TRUE(ForceFolders(u"/"));
  Touch("file");
  EXPECT_FALSE(ForceFolders(Path("file/sub")));
  EXPECT_FALSE(FolderExists(u""));
  EXPECT_FALSE(FolderExists(Path("file")));
  EXPECT_TRUE(FileExists(Path("file")));
  EXPECT_FALSE(FileExists(Path("a")));

  setenv("ZB_TEST_ROOT", FDir.c_str(), 1);
  EXPECT_EQ(EnsureFolder(u"$ZB_TEST_ROOT/logs/Plumadesk 5.0/"), Path("logs/Plumadesk 5.0"));
  EXPECT_TRUE(FolderExists(Path("logs/Plumadesk 5.0")));
  EXPECT_EQ(EnsureFolderWithBackslash(u"%ZB_TEST_ROOT%/x?y"), Path("xy/"));
  EXPECT_EQ(EnsureFolder(Path("file/sub")), u"");
  EXPECT_EQ(EnsureFolderWithBackslash(Path("file/sub")), u"");
  EXPECT_TRUE(FolderExistsExpanded(u"${ZB_TEST_ROOT}/a"));
}

TEST_F(TempDir, UnreadableParentMakesEnsureFolderFail) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores permissions";
  ASSERT_TRUE(ForceFolders(Path("locked")));
  chmod(Native("locked").c_str(), 0500);
  EXPECT_EQ(EnsureFolder(Path("locked/sub")), u"");
}

TEST_F(TempDir, UniqueNames) {
  const std::u16string blank = Path("AS_about_blank.htm");
  EXPECT_EQ(UniqueFileName(blank, u"[]"), blank);
  Touch("AS_about_blank.htm");
  EXPECT_EQ(UniqueFileName(blank, u"[]"), Path("AS_about_blank [1].htm"));
  Touch("AS_about_blank [1].htm");
  Touch("AS_about_blank [2].htm");
  int counter = 0;
  EXPECT_EQ(GetUniqueFileName(blank, u"[]", counter), Path("AS_about_blank [3].htm"));
  EXPECT_EQ(counter, 3);

  Touch("xy [07].htm");
  EXPECT_EQ(UniqueFileName(Path("xy [07].htm"), u"[]"), Path("xy [08].htm"));
  Touch("yz (9)tail.txt");
  EXPECT_EQ(UniqueFileName(Path("yz (9)tail.txt"), u"()"), Path("yz (10).txt"));
  // The name is cleaned first: no blank while fewer than two characters are written.
  Touch("x[07].htm");
  EXPECT_EQ(UniqueFileName(Path("x [07].htm"), u"[]"), Path("x[08].htm"));
  TzbUniqueFilenameCallbackHandler files;
  counter = 0;
  EXPECT_EQ(MakeUniqueFileName(Path("xy [07].htm"), u"[]", counter, files), Path("xy [08].htm"));
  EXPECT_EQ(counter, 8);
  // A folder of that name is taken too (the file could never be written), and so is a dangling link.
  fs::create_directory(Native("dir.htm"));
  EXPECT_EQ(UniqueFileName(Path("dir.htm"), u"[]"), Path("dir [1].htm"));
  // Brackets in a folder above do not count.
  fs::create_directory(Native("tmp[1]"));
  Touch("tmp[1]/AS_about_blank.htm");
  EXPECT_EQ(UniqueFileName(Path("tmp[1]/AS_about_blank.htm"), u"[]"), Path("tmp[1]/AS_about_blank [1].htm"));
  fs::create_symlink(Native("nowhere"), Native("link.htm"));
  EXPECT_EQ(UniqueFileName(Path("link.htm"), u"[]"), Path("link [1].htm"));
  // The folder is created and the name cleaned.
  EXPECT_EQ(UniqueFileName(Path("new/sub/a?b.htm"), u"[]"), Path("new/sub/ab.htm"));
  EXPECT_TRUE(FolderExists(Path("new/sub")));
}

namespace {
struct TakenUpTo : IzbUniqueFilenameCallbackHandler {
  int Calls = 0;
  bool NameExists(std::u16string_view) override { return ++Calls <= 5; }
};
}  // namespace

TEST(UniqueNames, CallbackDecidesAndCounterKeepsLastValue) {
  TakenUpTo callback;
  int counter = 99;
  EXPECT_EQ(MakeUniqueFileName(u"/x/a.htm", u"[]", counter, callback), u"/x/a [5].htm");
  EXPECT_EQ(counter, 5);
  TakenUpTo never;
  never.Calls = 10;
  counter = 42;
  EXPECT_EQ(MakeUniqueFileName(u"/x/a.htm", u"[]", counter, never), u"/x/a.htm");
  EXPECT_EQ(counter, 42);
}

TEST_F(TempDir, SaveTextToFileWritesAnsiWithoutPreamble) {
  const std::u16string file = Path("plain.txt");
  EXPECT_EQ(SaveTextToFile(u"Grüße €\r\n中", file), file);
  EXPECT_EQ(Read(Native("plain.txt")),
            "Gr\xFC\xDF"
            "e \x80\r\n?");
  SaveTextToFile(u"", file);  // truncated to nothing, no preamble
  EXPECT_EQ(Read(Native("plain.txt")), "");
  EXPECT_THROW(SaveTextToFile(u"x", Path("missing/dir/a.txt")), EzbFileError);
  EXPECT_FALSE(fs::exists(Native("missing")));
  EXPECT_THROW(SaveTextToFile(u"x", Path("")), EzbFileError);  // the folder itself
}

TEST_F(TempDir, SaveTextToFileRefusesWhatIsNoFileAndTakesLongNames) {
  mkfifo(Native("pipe").c_str(), 0600);
  EXPECT_THROW(SaveTextToFile(u"x", Path("pipe")), EzbFileError);
  struct stat st {};
  ASSERT_EQ(lstat(Native("pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));  // still the pipe, not replaced by a file
  EXPECT_THROW(SaveTextToFile(u"x", u"/dev/null"), EzbFileError);
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  const std::string longName(250, 'n');
  EXPECT_NO_THROW(SaveTextToFile(u"lang", Path(longName)));
  EXPECT_EQ(Read(Native(longName)), "lang");
}

TEST_F(TempDir, SaveTextToFileKeepsModeLinksAndOldContentOnFailure) {
  Touch("kept.txt", "old");
  chmod(Native("kept.txt").c_str(), 0640);
  fs::create_symlink(Native("kept.txt"), Native("link.txt"));
  SaveTextToFile(u"new", Path("link.txt"));
  EXPECT_TRUE(fs::is_symlink(Native("link.txt")));
  EXPECT_EQ(Read(Native("kept.txt")), "new");
  struct stat st {};
  stat(Native("kept.txt").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  if (geteuid() != 0) {
    chmod(FDir.c_str(), 0500);  // no new file can be made next to it
    EXPECT_THROW(SaveTextToFile(u"newer", Path("kept.txt")), EzbFileError);
    chmod(FDir.c_str(), 0700);
    EXPECT_EQ(Read(Native("kept.txt")), "new");
  }
  for (const auto& entry : fs::directory_iterator(FDir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

// A file-size limit makes the write fail the way a full disk does, even for root.
TEST_F(TempDir, SaveTextToFileThatRunsOutOfSpaceKeepsTheOldFile) {
  Touch("old.txt", "previous content");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{8, 8};
    setrlimit(RLIMIT_FSIZE, &limit);
    int code = 0;
    try {
      SaveTextToFile(std::u16string(1000, u'x'), Path("old.txt"));
      code = 1;
    } catch (const EzbFileError&) {
    }
    try {
      SaveTextToFile(std::u16string(1000, u'x'), Path("new.txt"));
      code |= 2;
    } catch (const EzbFileError&) {
    }
    _exit(code);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a write past the limit was reported as success";
  EXPECT_EQ(Read(Native("old.txt")), "previous content");
  EXPECT_FALSE(fs::exists(Native("new.txt")));
  for (const auto& entry : fs::directory_iterator(FDir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

namespace {
std::vector<std::string> Temporaries(const std::string& ADir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(ADir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".zb", 0) == 0) names.push_back(name);
  }
  return names;
}
}  // namespace

TEST_F(TempDir, AWriterKilledMidWriteLeavesNoTemporaryBeyondTheNextWrite) {
  Touch("mail.htm", "old");
  const std::string big(64 << 20, 'n');
  // A real writer, killed with SIGKILL once its temporary file has grown; a writer that finishes first
  // is tried again.
  std::vector<std::string> left;
  for (int attempt = 0; attempt < 20 && left.empty(); ++attempt) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        WriteFileAtomic(Path("mail.htm"), big);
      } catch (...) {
      }
      _exit(0);
    }
    for (int i = 0; i < 20000 && left.empty(); ++i) {
      for (const auto& name : Temporaries(FDir))
        if (fs::file_size(Native(name)) > 0) left.push_back(name);
      if (left.empty()) usleep(100);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    left = Temporaries(FDir);
  }
  ASSERT_FALSE(left.empty()) << "no writer was caught in the middle";
  const std::string target = Read(Native("mail.htm"));
  EXPECT_TRUE(target == "old" || target == big) << target.size();

  // What is not a dead writer's file stays: another name, a live process's file, a file still locked.
  Touch(".zbnotes.tmp");
  Touch(".zb1-7.tmp");  // process 1 is alive
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  const std::string locked = ".zb" + std::to_string(gone) + "-1.tmp";
  Touch(locked);
  const int lockFd = ::open(Native(locked).c_str(), O_RDONLY);
  ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
  SaveTextToFile(u"neu", Path("other.txt"));  // the next write into the folder
  std::vector<std::string> after = Temporaries(FDir);
  std::sort(after.begin(), after.end());
  std::vector<std::string> expected{".zb1-7.tmp", locked, ".zbnotes.tmp"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(after, expected);
  ::close(lockFd);
  SaveTextToFile(u"neu", Path("other.txt"));
  after = Temporaries(FDir);
  EXPECT_EQ(std::count(after.begin(), after.end(), locked), 0) << "an unlocked dead writer's file stays";
  EXPECT_EQ(Read(Native("other.txt")), "neu");
}

TEST_F(TempDir, FileStreamWriters) {
  const std::u16string file = Path("stream.bin");
  {
    TzbFileStream s(file, TzbFileMode::fmCreate);
    s.WriteLn(u"Ä");
    s.WriteString(u"");
    s.WriteLinebreak();
    s.WriteAnsiString("ab");
    s.WriteLnA("c");
    s.WriteWideString(u"d");
    s.WriteLnW(u"e");
    s.WriteUTF8BOM();
    s.WriteBOM_LSB_FIRST();
    EXPECT_TRUE(s.Eof());
    s.Seek(0);
    EXPECT_FALSE(s.Eof());
  }
  static const char expected[] = "\xC4\0\r\0\n\0\r\0\n\0abc\r\nd\0e\0\r\0\n\0\xEF\xBB\xBF\xFF\xFE";
  EXPECT_EQ(Read(Native("stream.bin")), std::string(expected, sizeof expected - 1));
  {
    TzbFileStream s(file, TzbFileMode::fmCreate, TzbEncoding::UTF8);
    s.WriteLn(u"Ä");
  }
  EXPECT_EQ(Read(Native("stream.bin")), "\xC3\x84\r\n");
  EXPECT_THROW(TzbFileStream(Path("no/such/file"), TzbFileMode::fmCreate), EzbFileError);
  EXPECT_THROW(TzbFileStream(Path("absent"), TzbFileMode::fmOpenRead), EzbFileError);
}

TEST(FileStream, WriteToFullDeviceRaises) {
  if (!fs::exists("/dev/full")) GTEST_SKIP();
  TzbFileStream s(u"/dev/full", TzbFileMode::fmOpenWrite);
  EXPECT_THROW(s.WriteLn(u"x"), EzbFileError);
}

TEST(TempFolder, TrailingSlashAndEnvironment) {
  const std::u16string t = GetTempFolder();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back(), u'/');
  EXPECT_EQ(GetTempFolder(), t);
  EXPECT_TRUE(FolderExists(t));
}
