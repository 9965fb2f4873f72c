#include "platform/regstore/RegStore.h"

#include <signal.h>
#include <sqlite3.h>

#include <filesystem>

#include "support/zbRegistry.h"
#include "tests/registry/RegTestEnv.h"

namespace zb {
namespace {

using test::RunProcess;
using test::TRegistryEnv;

class RegStoreTest : public TRegistryEnv {
 protected:
  HKEY Create(std::u16string_view Path) {
    HKEY k = 0;
    EXPECT_EQ(RegStore().CreateKey(HKEY_CURRENT_USER, Path, KEY_ALL_ACCESS, k), ERROR_SUCCESS);
    return k;
  }
  // A store file written and closed by another process, so everything is in the main file.
  void MakeStoreElsewhere() {
    auto r = RunProcess({REG_TOOL, "set", "HKCU\\Software\\Filled", "v", "REG_SZ", std::string(3000, 'x')});
    ASSERT_EQ(r.ExitCode, 0) << r.Err;
    ASSERT_TRUE(std::filesystem::exists(UserFile()));
  }
  void ExpectStoreDoesNotOpen() {
    EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Filled", u"v", u"default"), u"default");
    EXPECT_NO_THROW(WriteRegistryString(HKEY_CURRENT_USER, u"Software\\X", u"v", u"x"));
    TzbRegistry reg;
    EXPECT_FALSE(reg.OpenKey(u"Software\\X", true));
    EXPECT_THROW(reg.WriteString(u"v", u"x"), EzbRegistryError);
    try {
      reg.CreateKey(u"Software\\X");
      ADD_FAILURE() << "no create error";
    } catch (const EzbRegistryError& e) {
      EXPECT_EQ(Utf16ToUtf8(e.Message()), "Erzeugung von Schlüssel Software\\X misslungen");
    }
  }
};

TEST_F(RegStoreTest, NamesIgnoreCaseAndKeepIt) {
  HKEY k = Create(u"Software\\MixedCase\\Ärger");
  RegStore().CloseKey(k);
  HKEY again = 0;
  ASSERT_EQ(RegStore().OpenKey(HKEY_CURRENT_USER, u"SOFTWARE\\mixedcase\\äRGER", KEY_ALL_ACCESS, again), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().SetValue(again, u"Name", REG_SZ, "a\0\0", 4), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().SetValue(again, u"NAME", REG_DWORD, "\1\0\0\0", 4), ERROR_SUCCESS);
  std::u16string name;
  ASSERT_EQ(RegStore().EnumValue(again, 0, name, 5), ERROR_SUCCESS);
  EXPECT_EQ(name, u"Name");
  EXPECT_EQ(RegStore().EnumValue(again, 0, name, 4), ERROR_MORE_DATA);  // the terminator needs room too
  EXPECT_EQ(RegStore().EnumValue(again, 1, name, 5), ERROR_NO_MORE_ITEMS);
  std::uint32_t type = 0, size = 0;
  ASSERT_EQ(RegStore().QueryValue(again, u"name", &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4u);
  RegStore().CloseKey(again);

  HKEY sw = 0;
  ASSERT_EQ(RegStore().OpenKey(HKEY_CURRENT_USER, u"software", KEY_READ, sw), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().EnumKey(sw, 0, name, 256), ERROR_SUCCESS);
  EXPECT_EQ(name, u"MixedCase");
  EXPECT_EQ(RegStore().CreateKey(sw, u"New", KEY_READ, k), ERROR_ACCESS_DENIED);  // this handle may not create
  RegStore().CloseKey(sw);
}

TEST_F(RegStoreTest, ValuesKeepTypeAndBytesAndKeysNeedNoValues) {
  HKEY k = Create(u"Raw\\Empty");
  RegStore().CloseKey(k);
  k = Create(u"Raw");
  const std::string bytes("\0\xff\0x\n", 5);
  ASSERT_EQ(RegStore().SetValue(k, u"odd", 0x12345, bytes.data(), 5), ERROR_SUCCESS);
  TRegStoreKeyInfo info;
  ASSERT_EQ(RegStore().QueryInfoKey(k, info), ERROR_SUCCESS);
  std::uint64_t created = info.LastWriteTime;
  EXPECT_EQ(info.SubKeys, 1u);
  std::string back(8, 'z');
  std::uint32_t type = 0, size = 2;
  EXPECT_EQ(RegStore().QueryValue(k, u"odd", &type, back.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(back, std::string(8, 'z'));
  size = 8;
  ASSERT_EQ(RegStore().QueryValue(k, u"odd", &type, back.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, 0x12345u);
  EXPECT_EQ(back.substr(0, size), bytes);
  RegStore().CloseKey(k);

  HKEY empty = 0;
  ASSERT_EQ(RegStore().OpenKey(HKEY_CURRENT_USER, u"Raw\\Empty", KEY_READ, empty), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().QueryInfoKey(empty, info), ERROR_SUCCESS);
  EXPECT_EQ(info.Values, 0u);
  EXPECT_EQ(info.SubKeys, 0u);
  RegStore().CloseKey(empty);

  k = Create(u"Raw");
  ASSERT_EQ(RegStore().SetValue(k, u"later", REG_SZ, "\0\0", 2), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().QueryInfoKey(k, info), ERROR_SUCCESS);
  EXPECT_GE(info.LastWriteTime, created);
  EXPECT_GT(info.LastWriteTime, 116444736000000000ull);  // after 1970
  RegStore().CloseKey(k);
}

TEST_F(RegStoreTest, RefusesBadNamesAndStaleHandles) {
  HKEY k = 0;
  const char16_t lone[] = {u'A', 0xD800, 0};
  EXPECT_EQ(RegStore().CreateKey(HKEY_CURRENT_USER, lone, KEY_ALL_ACCESS, k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegStore().CreateKey(HKEY_CURRENT_USER, u"A\\\\B", KEY_ALL_ACCESS, k), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegStore().CreateKey(HKEY_CURRENT_USER, std::u16string(256, u'k'), KEY_ALL_ACCESS, k),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegStore().CreateKey(HKEY_USERS, u"A", KEY_ALL_ACCESS, k), ERROR_INVALID_HANDLE);
  TRegStoreKeyInfo none;
  EXPECT_EQ(RegStore().QueryInfoKey(0x7777, none), ERROR_INVALID_HANDLE);

  HKEY parent = Create(u"Stale");
  HKEY child = Create(u"Stale\\Child");
  EXPECT_EQ(RegStore().DeleteKey(HKEY_CURRENT_USER, u"Stale"), ERROR_ACCESS_DENIED);  // has a sub-key
  EXPECT_EQ(RegStore().DeleteKey(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);       // the root
  ASSERT_EQ(RegStore().DeleteKey(parent, u"Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegStore().SetValue(child, u"v", REG_SZ, "\0\0", 2), ERROR_KEY_DELETED);
  EXPECT_EQ(RegStore().QueryValue(child, u"v", nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  EXPECT_EQ(RegStore().OpenKey(parent, u"Child", KEY_READ, k), ERROR_FILE_NOT_FOUND);
  RegStore().CloseKey(child);
  RegStore().CloseKey(parent);
  EXPECT_EQ(RegStore().CloseKey(child), ERROR_INVALID_HANDLE);
}

TEST_F(RegStoreTest, MachineRootsShareOneFileButNotTheirKeys) {
  WriteRegistryString(HKEY_LOCAL_MACHINE, u"Software\\Same", u"v", u"machine");
  WriteRegistryString(HKEY_CLASSES_ROOT, u"Software\\Same", u"v", u"classes");
  EXPECT_TRUE(std::filesystem::exists(MachineFile()));
  EXPECT_FALSE(std::filesystem::exists(UserFile()));
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, u"Software\\Same", u"v", u""), u"machine");
  EXPECT_EQ(ReadRegistryString(HKEY_CLASSES_ROOT, u"Software\\Same", u"v", u""), u"classes");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Same", u"v", u"none"), u"none");
}

TEST_F(RegStoreTest, TransactionsCommitOrDropEverything) {
  HKEY k = Create(u"Tx");
  ASSERT_EQ(RegStore().BeginTransaction(k), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().SetValue(k, u"a", REG_DWORD, "\1\0\0\0", 4), ERROR_SUCCESS);
  HKEY sub = 0;
  ASSERT_EQ(RegStore().CreateKey(k, u"Sub", KEY_ALL_ACCESS, sub), ERROR_SUCCESS);
  RegStore().CloseKey(sub);
  ASSERT_EQ(RegStore().RollbackTransaction(k), ERROR_SUCCESS);
  EXPECT_EQ(RegStore().QueryValue(k, u"a", nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegStore().OpenKey(k, u"Sub", KEY_READ, sub), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegStore().BeginTransaction(k), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().SetValue(k, u"a", REG_DWORD, "\1\0\0\0", 4), ERROR_SUCCESS);
  ASSERT_EQ(RegStore().CommitTransaction(k), ERROR_SUCCESS);
  EXPECT_EQ(RegStore().QueryValue(k, u"a", nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegStore().CommitTransaction(k), ERROR_INVALID_PARAMETER);
  RegStore().CloseKey(k);
}

TEST_F(RegStoreTest, DamagedFilesStayAsTheyAre) {
  const std::string garbage = "this is not a database, but the user's file\n" + std::string(5000, '\x5a');
  WriteBytes(UserFile(), garbage);
  ExpectStoreDoesNotOpen();
  EXPECT_EQ(ReadBytes(UserFile()), garbage);
  EXPECT_NE(RegStore().DescribeHive(HKEY_CURRENT_USER).find("user.db"), std::string::npos);

  WriteBytes(UserFile(), "");
  ExpectStoreDoesNotOpen();
  EXPECT_TRUE(std::filesystem::exists(UserFile()));
  EXPECT_EQ(std::filesystem::file_size(UserFile()), 0u);
}

TEST_F(RegStoreTest, ForeignDatabaseIsNotTouched) {
  std::filesystem::create_directories(std::filesystem::path(UserFile()).parent_path());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(UserFile().c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine');", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  const std::string before = ReadBytes(UserFile());
  ExpectStoreDoesNotOpen();
  EXPECT_EQ(ReadBytes(UserFile()), before);
  EXPECT_NE(RegStore().DescribeHive(HKEY_CURRENT_USER).find("not a registry store"), std::string::npos);
}

TEST_F(RegStoreTest, CorruptPageIsDetectedAndKept) {
  MakeStoreElsewhere();
  std::string bytes = ReadBytes(UserFile());
  ASSERT_GT(bytes.size(), 3 * 4096u);
  for (std::size_t i = 4096; i < 4096 + 64; ++i) bytes[i] = '\xff';  // the first table's page header
  WriteBytes(UserFile(), bytes);
  ExpectStoreDoesNotOpen();
  EXPECT_EQ(ReadBytes(UserFile()), bytes);
}

// Both processes also race to create the store file itself.
TEST_F(RegStoreTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int Count = 2000;  // long enough that the writers overlap
  std::vector<pid_t> pids;
  for (const char* prefix : {"a", "b", "c"}) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(REG_HELPER, REG_HELPER, "write", "Software\\Shared", prefix, std::to_string(Count).c_str(), nullptr);
      ::_exit(127);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"Software\\Shared", false));
  TStringList names;
  reg.GetValueNames(names);
  EXPECT_EQ(names.size(), 3u * Count);
  for (const char16_t* prefix : {u"a", u"b", u"c"})
    for (int i = 0; i < Count; ++i) ASSERT_EQ(reg.ReadInteger(prefix + Utf8ToUtf16(std::to_string(i)), -1), i);
}

TEST_F(RegStoreTest, KilledWriterLeavesWholeValues) {
  constexpr int BlobSize = 1 << 20;
  for (int round = 0; round < 4; ++round) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::execl(REG_HELPER, REG_HELPER, "churn", "Software\\Crash", std::to_string(BlobSize).c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    char ready[6] = {};
    ASSERT_EQ(::read(out[0], ready, 5), 5);
    ::usleep(static_cast<useconds_t>(20000 + round * 17000));  // lands somewhere inside a write
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);
    ASSERT_TRUE(WIFSIGNALED(status));

    // The file itself is sound, and each value is one whole write.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(UserFile().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "ok");
    sqlite3_finalize(st);
    sqlite3_close(db);

    TzbRegistry reg;
    ASSERT_TRUE(reg.OpenKey(u"Software\\Crash", false));
    std::vector<unsigned char> blob(BlobSize + 1);
    ASSERT_EQ(reg.ReadBinaryData(u"blob", blob.data(), BlobSize + 1), BlobSize);
    unsigned char first = blob[0];
    for (int i = 1; i < BlobSize; ++i) ASSERT_EQ(blob[i], first) << "mixed bytes at " << i;
    int counter = reg.ReadInteger(u"counter", -1);
    // The blob is written first: it is the counter's own write or the one after it.
    EXPECT_TRUE(counter == first || ((counter + 1) & 0xFF) == first) << counter << " " << int(first);
  }
}

}  // namespace
}  // namespace zb
