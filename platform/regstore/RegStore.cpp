#include "platform/regstore/RegStore.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "support/zbCOwner.h"
#include "support/zbUnicode.h"

namespace zb {
namespace {

// Marks our hive files; any other SQLite file is "not ours" and stays untouched.
constexpr std::int32_t HiveApplicationId = 0x56524547;  // "VREG"
constexpr std::int32_t HiveSchemaVersion = 1;
constexpr int BusyTimeoutMs = 30000;
constexpr std::size_t MaxKeyNameLength = 255;
constexpr std::size_t MaxValueNameLength = 16383;
constexpr HKEY FirstHandle = 0x10;
constexpr HKEY LastHandle = 0x7FFFFFFF;

constexpr const char* SchemaSql =
    "CREATE TABLE keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"  // never reused: a stale handle never finds a new key
    " parent INTEGER NOT NULL,"               // 0 for the root of a hive
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " grant_mask INTEGER NOT NULL DEFAULT 983103,"
    " write_time INTEGER NOT NULL,"
    " UNIQUE(parent, fold));"
    "CREATE TABLE vals("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"  // creation order is the enumeration order
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL,"
    " fold TEXT NOT NULL,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " UNIQUE(key, fold));";

struct TName {
  std::string Utf8;
  std::string Fold;
};

bool IsWellFormedUtf16(std::u16string_view AText) {
  for (std::size_t i = 0; i < AText.size(); ++i) {
    char16_t c = AText[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= AText.size() || AText[i + 1] < 0xDC00 || AText[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

TName MakeName(std::u16string_view AName) { return {Utf16ToUtf8(AName), Utf16ToUtf8(UnicodeUpperCase(AName))}; }

LSTATUS ParseValueName(std::u16string_view AName, TName& AOut) {
  if (AName.size() > MaxValueNameLength || !IsWellFormedUtf16(AName)) return ERROR_INVALID_PARAMETER;
  AOut = MakeName(AName);
  return ERROR_SUCCESS;
}

// The registry's own limit: deeper trees could not be walked, exported or deleted in bounded time.
constexpr std::size_t MaxKeyDepth = 512;

// "A\B\" → A, B. Empty components, names the registry would refuse and paths deeper than
// MaxKeyDepth are invalid.
LSTATUS ParsePath(std::u16string_view APath, std::vector<TName>& AOut) {
  AOut.clear();
  if (!APath.empty() && APath.back() == u'\\') APath.remove_suffix(1);
  if (APath.empty()) return ERROR_SUCCESS;
  std::size_t start = 0;
  while (true) {
    std::size_t end = APath.find(u'\\', start);
    std::u16string_view part = APath.substr(start, end == std::u16string_view::npos ? APath.npos : end - start);
    if (part.empty() || part.size() > MaxKeyNameLength || !IsWellFormedUtf16(part)) return ERROR_INVALID_PARAMETER;
    AOut.push_back(MakeName(part));
    if (AOut.size() > MaxKeyDepth) return ERROR_INVALID_PARAMETER;
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

LSTATUS MapSqliteError(int ARc) {
  switch (ARc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW: return ERROR_SUCCESS;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return ERROR_LOCK_VIOLATION;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
    case SQLITE_FULL: return ERROR_DISK_FULL;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_SCHEMA: return ERROR_BADDB;
    default: return ERROR_REGISTRY_IO_FAILED;
  }
}

// The system's rights vocabulary, reduced to the bits a key grant can hold.
REGSAM NormalizeAccess(REGSAM AAccess) {
  constexpr REGSAM genericRead = 0x80000000u, genericWrite = 0x40000000u, genericExecute = 0x20000000u,
                   genericAll = 0x10000000u;
  REGSAM r = AAccess & KEY_ALL_ACCESS;
  if (AAccess & (genericRead | genericExecute)) r |= KEY_READ;
  if (AAccess & genericWrite) r |= KEY_WRITE;
  if (AAccess & genericAll) r |= KEY_ALL_ACCESS;
  return r;
}

bool Grants(REGSAM AGranted, REGSAM ARequested) { return (NormalizeAccess(ARequested) & ~AGranted) == 0; }

bool IsPredefinedRoot(HKEY AKey) { return AKey >= HKEY_CLASSES_ROOT && AKey <= HKEY_DYN_DATA; }

bool ModeAllowsWrite(const std::string& APath) {
  struct stat st {};
  if (::stat(APath.c_str(), &st) != 0) return false;
  if (::access(APath.c_str(), W_OK) != 0) return false;
  // root passes access() for everything; a file whose mode forbids writing stays read-only even then.
  return ::geteuid() != 0 || (st.st_mode & 0222) != 0;
}

std::string DirOf(const std::string& APath) {
  auto p = APath.rfind('/');
  if (p == std::string::npos) return ".";
  return p == 0 ? "/" : APath.substr(0, p);
}

bool MakeFolders(const std::string& ADir, mode_t AMode) {
  if (ADir.empty()) return false;
  struct stat st {};
  if (::stat(ADir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (!MakeFolders(DirOf(ADir), AMode) && DirOf(ADir) != ADir) return false;
  return ::mkdir(ADir.c_str(), AMode) == 0 || errno == EEXIST;
}

std::string UriEscape(const std::string& APath) {
  std::string r;
  for (unsigned char c : APath) {
    if (c == '%' || c == '?' || c == '#' || c < 0x21 || c >= 0x7F) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

// One hive file and its connection. Only reached under the store's lock.
struct THive {
  std::string Path;
  dev_t Dev = 0;
  ino_t Ino = 0;
  TzbOwner<sqlite3, sqlite3_close_v2> Connection;  // goes after the statements below
  bool ReadOnly = false;
  REGSAM Grant = KEY_ALL_ACCESS;
  int Batch = 0;
  std::uint64_t LocalWrites = 0;
  std::unordered_map<const char*, TzbOwner<sqlite3_stmt, sqlite3_finalize>> Stmts;
  std::map<std::string, std::int64_t> RootIds;

  sqlite3* Db() const { return Connection.get(); }

  // SQLite hands out a connection even when opening fails; it then only tells why.
  int Open(const char* AName, int AFlags) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(AName, &db, AFlags, nullptr);
    Connection.reset(db);
    return rc;
  }

  int Exec(const char* ASql) { return sqlite3_exec(Db(), ASql, nullptr, nullptr, nullptr); }

  sqlite3_stmt* Prepare(const char* ASql) {
    auto it = Stmts.find(ASql);
    if (it != Stmts.end()) return it->second.get();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(Db(), ASql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) return nullptr;
    Stmts.emplace(ASql, st);
    return st;
  }
};

// A prepared statement in use; reset when the scope ends so it never holds a read snapshot.
class TQuery {
 public:
  TQuery(THive& AH, const char* ASql)
      : FStmt(AH.Prepare(ASql)), FPrepareRc(FStmt ? SQLITE_OK : sqlite3_errcode(AH.Db())) {}
  ~TQuery() {
    if (FStmt) {
      sqlite3_reset(FStmt);
      sqlite3_clear_bindings(FStmt);
    }
  }
  TQuery(const TQuery&) = delete;
  TQuery& operator=(const TQuery&) = delete;

  bool Ok() const { return FStmt != nullptr; }
  int PrepareRc() const { return FPrepareRc; }
  TQuery& Bind(int AIndex, std::int64_t AValue) {
    sqlite3_bind_int64(FStmt, AIndex, AValue);
    return *this;
  }
  TQuery& Bind(int AIndex, const std::string& AValue) {
    sqlite3_bind_text(FStmt, AIndex, AValue.data(), static_cast<int>(AValue.size()), SQLITE_TRANSIENT);
    return *this;
  }
  TQuery& BindBlob(int AIndex, const void* AData, std::uint32_t ASize) {
    static const char empty = 0;
    sqlite3_bind_blob(FStmt, AIndex, ASize ? AData : &empty, static_cast<int>(ASize), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(FStmt); }
  std::int64_t Int(int AColumn) { return sqlite3_column_int64(FStmt, AColumn); }
  std::string Text(int AColumn) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, AColumn));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(FStmt, AColumn))) : std::string();
  }
  const void* Blob(int AColumn) { return sqlite3_column_blob(FStmt, AColumn); }
  int Bytes(int AColumn) { return sqlite3_column_bytes(FStmt, AColumn); }

 private:
  sqlite3_stmt* FStmt;
  int FPrepareRc;
};

// One write: its own IMMEDIATE transaction, or a savepoint inside a caller's transaction.
class TWriteTx {
 public:
  explicit TWriteTx(THive& AHive) : FHive(AHive) {
    FRc = FHive.Exec(FHive.Batch > 0 ? "SAVEPOINT regop" : "BEGIN IMMEDIATE");
    FOpen = FRc == SQLITE_OK;
  }
  ~TWriteTx() {
    if (!FOpen) return;
    if (FHive.Batch > 0) {
      FHive.Exec("ROLLBACK TO regop");
      FHive.Exec("RELEASE regop");
    } else {
      FHive.Exec("ROLLBACK");
    }
  }
  TWriteTx(const TWriteTx&) = delete;
  TWriteTx& operator=(const TWriteTx&) = delete;

  LSTATUS Status() const { return MapSqliteError(FRc); }
  LSTATUS Commit() {
    int rc = FHive.Exec(FHive.Batch > 0 ? "RELEASE regop" : "COMMIT");
    if (rc != SQLITE_OK) return MapSqliteError(rc);  // the destructor rolls back
    FOpen = false;
    ++FHive.LocalWrites;
    return ERROR_SUCCESS;
  }

 private:
  THive& FHive;
  int FRc;
  bool FOpen = false;
};

// Several reads that must see one state.
class TReadTx {
 public:
  explicit TReadTx(THive& AHive) : FHive(AHive), FOwn(AHive.Batch == 0) {
    if (FOwn) FOwn = FHive.Exec("BEGIN") == SQLITE_OK;
  }
  ~TReadTx() {
    if (FOwn) FHive.Exec("COMMIT");
  }
  TReadTx(const TReadTx&) = delete;
  TReadTx& operator=(const TReadTx&) = delete;

 private:
  THive& FHive;
  bool FOwn;
};

struct THandle {
  std::shared_ptr<THive> Hive;
  std::int64_t Key = 0;
  REGSAM Access = 0;
  // Enumeration works by index; the name lists are kept until the hive changes.
  std::vector<std::u16string> KeyNames, ValueNames;
  std::int64_t KeyDataVersion = -1, ValueDataVersion = -1;
  std::uint64_t KeyLocalWrites = 0, ValueLocalWrites = 0;
};

struct TRef {
  std::shared_ptr<THive> Hive;
  std::int64_t Key = 0;
  REGSAM Access = 0;
  THandle* Handle = nullptr;  // null for a predefined root
};

std::int64_t DataVersion(THive& AHive) {
  TQuery q(AHive, "PRAGMA data_version");
  if (!q.Ok() || q.Step() != SQLITE_ROW) return -2;
  return q.Int(0);
}

LSTATUS KeyExistsById(THive& AHive, std::int64_t AId) {
  TQuery q(AHive, "SELECT 1 FROM keys WHERE id=?1");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  int rc = q.Bind(1, AId).Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return MapSqliteError(rc);
}

LSTATUS KeyGrant(THive& AHive, std::int64_t AId, REGSAM& AGrant) {
  TQuery q(AHive, "SELECT grant_mask FROM keys WHERE id=?1");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  int rc = q.Bind(1, AId).Step();
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return MapSqliteError(rc);
  AGrant = static_cast<REGSAM>(q.Int(0)) & AHive.Grant;
  return ERROR_SUCCESS;
}

// Follows Names from Start as far as the keys exist. Found counts the components that exist;
// Id and Grant describe the deepest key reached.
LSTATUS Walk(THive& AHive, std::int64_t AStart, const std::vector<TName>& ANames, std::size_t& AFound,
             std::int64_t& AId, REGSAM& AGrant) {
  AFound = 0;
  AId = AStart;
  if (LSTATUS e = KeyGrant(AHive, AStart, AGrant)) return e;
  for (const TName& n : ANames) {
    TQuery q(AHive, "SELECT id, grant_mask FROM keys WHERE parent=?1 AND fold=?2");
    if (!q.Ok()) return MapSqliteError(q.PrepareRc());
    int rc = q.Bind(1, AId).Bind(2, n.Fold).Step();
    if (rc == SQLITE_DONE) return ERROR_SUCCESS;
    if (rc != SQLITE_ROW) return MapSqliteError(rc);
    AId = q.Int(0);
    AGrant = static_cast<REGSAM>(q.Int(1)) & AHive.Grant;
    ++AFound;
  }
  return ERROR_SUCCESS;
}

// The existing key at Names below Start; ERROR_FILE_NOT_FOUND when a part of the path is missing.
LSTATUS FindKey(THive& AHive, std::int64_t AStart, const std::vector<TName>& ANames, std::int64_t& AId,
                REGSAM& AGrant) {
  std::size_t found = 0;
  if (LSTATUS e = Walk(AHive, AStart, ANames, found, AId, AGrant)) return e;
  return found < ANames.size() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

LSTATUS TouchKey(THive& AHive, std::int64_t AId) {
  TQuery q(AHive, "UPDATE keys SET write_time=?2 WHERE id=?1");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  return MapSqliteError(q.Bind(1, AId).Bind(2, static_cast<std::int64_t>(FileTimeNow())).Step());
}

LSTATUS InsertKey(THive& AHive, std::int64_t AParent, const TName& AName, std::int64_t& AId) {
  TQuery q(AHive, "INSERT INTO keys(parent, name, fold, write_time) VALUES(?1, ?2, ?3, ?4)");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  int rc = q.Bind(1, AParent)
               .Bind(2, AName.Utf8)
               .Bind(3, AName.Fold)
               .Bind(4, static_cast<std::int64_t>(FileTimeNow()))
               .Step();
  if (rc != SQLITE_DONE) return MapSqliteError(rc);
  AId = sqlite3_last_insert_rowid(AHive.Db());
  return TouchKey(AHive, AParent);
}

LSTATUS InitSchema(THive& AHive, const std::vector<std::string>& ARoots) {
  char pragmas[160];
  std::snprintf(pragmas, sizeof pragmas, "PRAGMA application_id=%d; PRAGMA user_version=%d;", HiveApplicationId,
                HiveSchemaVersion);
  if (int rc = AHive.Exec("PRAGMA journal_mode=WAL")) return MapSqliteError(rc);
  if (int rc = AHive.Exec("BEGIN IMMEDIATE")) return MapSqliteError(rc);
  int rc = AHive.Exec(pragmas);
  if (rc == SQLITE_OK) rc = AHive.Exec(SchemaSql);
  for (const std::string& r : ARoots) {
    if (rc != SQLITE_OK) break;
    TQuery q(AHive, "INSERT INTO keys(parent, name, fold, write_time) VALUES(0, ?1, ?1, ?2)");
    rc = q.Ok() ? q.Bind(1, r).Bind(2, static_cast<std::int64_t>(FileTimeNow())).Step() : q.PrepareRc();
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) {
    AHive.Exec("ROLLBACK");
    return MapSqliteError(rc);
  }
  return MapSqliteError(AHive.Exec("COMMIT"));
}

std::string SqliteMessage(sqlite3* ADb, int ARc) {
  return ADb ? std::string(sqlite3_errmsg(ADb)) : std::string(sqlite3_errstr(ARc));
}

void SetupConnection(THive& AH) {
  sqlite3_busy_timeout(AH.Db(), BusyTimeoutMs);
  sqlite3_extended_result_codes(AH.Db(), 1);
}

// Opens an existing file. Anything unexpected leaves the file exactly as it was and the hive closed.
std::shared_ptr<THive> OpenExisting(const std::string& APath, bool AWritable, std::string& AError) {
  auto h = std::make_shared<THive>();
  h->Path = APath;
  h->ReadOnly = !AWritable;
  h->Grant = AWritable ? KEY_ALL_ACCESS : KEY_READ;
  int flags = (AWritable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  int rc = h->Open(APath.c_str(), flags);
  if (rc != SQLITE_OK) {
    AError = SqliteMessage(h->Db(), rc);
    return nullptr;
  }
  SetupConnection(*h);
  auto check = [&]() -> std::string {
    TQuery app(*h, "PRAGMA application_id");
    if (!app.Ok()) return SqliteMessage(h->Db(), app.PrepareRc());
    int src = app.Step();
    if (src != SQLITE_ROW) return SqliteMessage(h->Db(), src);
    if (app.Int(0) != HiveApplicationId) return "not a registry store file";
    TQuery ver(*h, "PRAGMA user_version");
    if (!ver.Ok() || ver.Step() != SQLITE_ROW || ver.Int(0) != HiveSchemaVersion) return "unknown store version";
    TQuery qc(*h, "PRAGMA quick_check");
    if (!qc.Ok()) return SqliteMessage(h->Db(), qc.PrepareRc());
    if (qc.Step() != SQLITE_ROW || qc.Text(0) != "ok") return "damaged: " + qc.Text(0);
    return {};
  };
  std::string bad = check();
  if (!bad.empty() && !AWritable && sqlite3_errcode(h->Db()) == SQLITE_CANTOPEN) {
    // A read-only folder cannot take the WAL index; nobody can write there, so read it as immutable.
    h = std::make_shared<THive>();
    h->Path = APath;
    h->ReadOnly = true;
    h->Grant = KEY_READ;
    std::string uri = "file:" + UriEscape(APath) + "?immutable=1";
    rc = h->Open(uri.c_str(), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
      AError = SqliteMessage(h->Db(), rc);
      return nullptr;
    }
    SetupConnection(*h);
    bad = check();
  }
  if (!bad.empty()) {
    AError = bad;
    return nullptr;
  }
  if (AWritable) {
    h->Exec("PRAGMA journal_mode=WAL");
    h->Exec("PRAGMA synchronous=NORMAL");
  }
  struct stat st {};
  if (::stat(APath.c_str(), &st) == 0) {
    h->Dev = st.st_dev;
    h->Ino = st.st_ino;
  }
  return h;
}

// A new hive is built under a temporary name and linked into place, so no reader ever sees a
// half-made file and two processes creating it at once end up with the same one.
bool CreateHiveFile(const std::string& APath, const std::vector<std::string>& ARoots, mode_t AMode,
                    std::string& AError) {
  std::string tmpl = APath + ".new-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  {
    const TzbFd made(::mkstemp(name.data()));
    if (!made) {
      AError = std::string("cannot create ") + APath + ": " + std::strerror(errno);
      return false;
    }
    ::fchmod(made.get(), AMode);
  }
  std::string tmp(name.data());
  bool ok = false;
  {
    THive h;
    h.Path = tmp;
    int rc = h.Open(tmp.c_str(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (rc == SQLITE_OK) {
      SetupConnection(h);
      LSTATUS e = InitSchema(h, ARoots);
      ok = e == ERROR_SUCCESS;
      if (!ok) AError = SqliteMessage(h.Db(), rc);
    } else {
      AError = SqliteMessage(h.Db(), rc);
    }
  }
  if (ok) {
    if (const TzbFd written(::open(tmp.c_str(), O_RDONLY | O_CLOEXEC)); written) ::fsync(written.get());
    if (::link(tmp.c_str(), APath.c_str()) != 0 && errno != EEXIST) {
      AError = std::string("cannot create ") + APath + ": " + std::strerror(errno);
      ok = false;
    }
    if (const TzbFd folder(::open(DirOf(APath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder)
      ::fsync(folder.get());
  }
  ::unlink(tmp.c_str());
  ::unlink((tmp + "-wal").c_str());
  ::unlink((tmp + "-shm").c_str());
  return ok;
}

std::string EnvOr(const char* AName, const std::string& ADefault) {
  const char* v = std::getenv(AName);
  return v && *v ? std::string(v) : ADefault;
}

std::string UserHivePath() {
  std::string home = EnvOr("HOME", "/");
  std::string config = EnvOr("XDG_CONFIG_HOME", home + "/.config");
  return config + "/vestrum/registry/user.db";
}

std::string MachineHivePath() { return EnvOr("VESTRUM_MACHINE_REGISTRY", "/etc/vestrum/registry/machine.db"); }

const std::vector<std::string> UserRoots = {"HKEY_CURRENT_USER"};
const std::vector<std::string> MachineRoots = {"HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT"};

class TSqliteRegStore final : public IRegStore {
 public:
  LSTATUS OpenKey(HKEY ABase, std::u16string_view ASubKey, REGSAM ACcess, HKEY& AResult) override {
    std::lock_guard lock(FMutex);
    AResult = 0;
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(ASubKey, names)) return e;
    TRef ref;
    // Opening a root for writing is what makes a fresh user's store file appear.
    bool forWriting = (NormalizeAccess(ACcess) & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
    if (LSTATUS e = Lookup(ABase, ref, names.empty() && forWriting)) return e;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = FindKey(*ref.Hive, ref.Key, names, id, grant)) return e;
    if (!Grants(grant, ACcess)) return ERROR_ACCESS_DENIED;
    return NewHandle(ref.Hive, id, NormalizeAccess(ACcess), AResult);
  }

  LSTATUS CreateKey(HKEY ABase, std::u16string_view ASubKey, REGSAM ACcess, HKEY& AResult) override {
    std::lock_guard lock(FMutex);
    AResult = 0;
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(ASubKey, names)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(ABase, ref, true)) return e;
    THive& h = *ref.Hive;
    std::size_t found = 0;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = Walk(h, ref.Key, names, found, id, grant)) return e;
    if (found == names.size()) {  // nothing to create: an open, also on a read-only hive
      if (!Grants(grant, ACcess)) return ERROR_ACCESS_DENIED;
      return NewHandle(ref.Hive, id, NormalizeAccess(ACcess), AResult);
    }
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    if (LSTATUS e = Walk(h, ref.Key, names, found, id, grant)) return e;  // again, now under the write lock
    REGSAM baseRight = found == 0 && ref.Handle ? ref.Access : KEY_ALL_ACCESS;
    if (found < names.size()) {
      if (!(grant & KEY_CREATE_SUB_KEY) || !(baseRight & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
      if (!Grants(h.Grant, ACcess)) return ERROR_ACCESS_DENIED;
      for (std::size_t i = found; i < names.size(); ++i) {
        if (LSTATUS e = InsertKey(h, id, names[i], id)) return e;
      }
    } else if (!Grants(grant, ACcess)) {
      return ERROR_ACCESS_DENIED;
    }
    if (LSTATUS e = tx.Commit()) return e;
    return NewHandle(ref.Hive, id, NormalizeAccess(ACcess), AResult);
  }

  LSTATUS CloseKey(HKEY AKey) override {
    std::lock_guard lock(FMutex);
    if (IsPredefinedRoot(AKey)) return ERROR_SUCCESS;
    return FHandles.erase(AKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  }

  LSTATUS FlushKey(HKEY AKey) override {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    THive& h = *ref.Hive;
    if (h.ReadOnly || h.Batch > 0) return ERROR_SUCCESS;
    // A commit with full sync writes out the whole WAL, and with it every earlier commit.
    h.Exec("PRAGMA synchronous=FULL");
    LSTATUS result;
    {
      TWriteTx tx(h);
      result = tx.Status();
      if (!result) {
        TQuery q(h, "UPDATE keys SET write_time=write_time WHERE id=?1");
        result = q.Ok() ? MapSqliteError(q.Bind(1, ref.Key).Step()) : MapSqliteError(q.PrepareRc());
      }
      if (!result) result = tx.Commit();
    }
    h.Exec("PRAGMA synchronous=NORMAL");
    return result;
  }

  LSTATUS DeleteKey(HKEY ABase, std::u16string_view ASubKey) override {
    std::lock_guard lock(FMutex);
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(ASubKey, names)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(ABase, ref, false)) return e;
    THive& h = *ref.Hive;
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = FindKey(h, ref.Key, names, id, grant)) return e;
    std::int64_t parent = 0;
    {
      TQuery q(h, "SELECT parent FROM keys WHERE id=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      if (q.Bind(1, id).Step() != SQLITE_ROW) return ERROR_KEY_DELETED;
      parent = q.Int(0);
    }
    if (parent == 0 || !(grant & DELETE_ACCESS)) return ERROR_ACCESS_DENIED;
    {
      TQuery q(h, "SELECT 1 FROM keys WHERE parent=?1 LIMIT 1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      int rc = q.Bind(1, id).Step();
      if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // the registry refuses to drop a key with sub-keys
      if (rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    {
      TQuery q(h, "DELETE FROM vals WHERE key=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      if (int rc = q.Bind(1, id).Step(); rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    {
      TQuery q(h, "DELETE FROM keys WHERE id=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      if (int rc = q.Bind(1, id).Step(); rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    if (LSTATUS e = TouchKey(h, parent)) return e;
    return tx.Commit();
  }

  LSTATUS DeleteValue(HKEY AKey, std::u16string_view AName) override {
    std::lock_guard lock(FMutex);
    TName n;
    if (LSTATUS e = ParseValueName(AName, n)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    if (!(ref.Access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    if (LSTATUS e = KeyExistsById(h, ref.Key)) return e;
    {
      TQuery q(h, "DELETE FROM vals WHERE key=?1 AND fold=?2");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      if (int rc = q.Bind(1, ref.Key).Bind(2, n.Fold).Step(); rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    if (sqlite3_changes(h.Db()) == 0) return ERROR_FILE_NOT_FOUND;
    if (LSTATUS e = TouchKey(h, ref.Key)) return e;
    return tx.Commit();
  }

  LSTATUS QueryInfoKey(HKEY AKey, TRegStoreKeyInfo& AInfo) override {
    std::lock_guard lock(FMutex);
    AInfo = {};
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    if (!(ref.Access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    TReadTx tx(h);
    {
      TQuery q(h, "SELECT write_time FROM keys WHERE id=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      int rc = q.Bind(1, ref.Key).Step();
      if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
      if (rc != SQLITE_ROW) return MapSqliteError(rc);
      AInfo.LastWriteTime = static_cast<std::uint64_t>(q.Int(0));
    }
    {
      TQuery q(h, "SELECT name FROM keys WHERE parent=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      q.Bind(1, ref.Key);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) {
        ++AInfo.SubKeys;
        AInfo.MaxSubKeyLen = std::max<std::uint32_t>(AInfo.MaxSubKeyLen, Utf8ToUtf16(q.Text(0)).size());
      }
      if (rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    {
      TQuery q(h, "SELECT name, length(data) FROM vals WHERE key=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      q.Bind(1, ref.Key);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) {
        ++AInfo.Values;
        AInfo.MaxValueNameLen = std::max<std::uint32_t>(AInfo.MaxValueNameLen, Utf8ToUtf16(q.Text(0)).size());
        AInfo.MaxValueLen = std::max<std::uint32_t>(AInfo.MaxValueLen, static_cast<std::uint32_t>(q.Int(1)));
      }
      if (rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    return ERROR_SUCCESS;
  }

  LSTATUS EnumKey(HKEY AKey, std::uint32_t AIndex, std::u16string& AName, std::uint32_t ABufferChars) override {
    return Enumerate(AKey, AIndex, AName, ABufferChars, true);
  }

  LSTATUS EnumValue(HKEY AKey, std::uint32_t AIndex, std::u16string& AName, std::uint32_t ABufferChars) override {
    return Enumerate(AKey, AIndex, AName, ABufferChars, false);
  }

  LSTATUS QueryValue(HKEY AKey, std::u16string_view AName, std::uint32_t* AType, void* AData,
                     std::uint32_t* ASize) override {
    std::lock_guard lock(FMutex);
    TName n;
    if (LSTATUS e = ParseValueName(AName, n)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    if (!(ref.Access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    TQuery q(h, "SELECT type, data FROM vals WHERE key=?1 AND fold=?2");
    if (!q.Ok()) return MapSqliteError(q.PrepareRc());
    int rc = q.Bind(1, ref.Key).Bind(2, n.Fold).Step();
    if (rc == SQLITE_DONE) {
      LSTATUS e = KeyExistsById(h, ref.Key);
      return e ? e : ERROR_FILE_NOT_FOUND;
    }
    if (rc != SQLITE_ROW) return MapSqliteError(rc);
    if (AType) *AType = static_cast<std::uint32_t>(q.Int(0));
    auto len = static_cast<std::uint32_t>(q.Bytes(1));
    if (AData) {
      if (!ASize) return ERROR_INVALID_PARAMETER;
      if (*ASize < len) {
        *ASize = len;
        return ERROR_MORE_DATA;
      }
      if (len) std::memcpy(AData, q.Blob(1), len);
    }
    if (ASize) *ASize = len;
    return ERROR_SUCCESS;
  }

  LSTATUS SetValue(HKEY AKey, std::u16string_view AName, std::uint32_t AType, const void* AData,
                   std::uint32_t ASize) override {
    std::lock_guard lock(FMutex);
    TName n;
    if (LSTATUS e = ParseValueName(AName, n)) return e;
    if (ASize && !AData) return ERROR_INVALID_PARAMETER;
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    if (!(ref.Access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    if (LSTATUS e = KeyExistsById(h, ref.Key)) return e;
    {
      // An existing value keeps its place in the enumeration and the case of its name.
      TQuery q(h,
               "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
               "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      q.Bind(1, ref.Key)
          .Bind(2, n.Utf8)
          .Bind(3, n.Fold)
          .Bind(4, static_cast<std::int64_t>(AType))
          .BindBlob(5, AData, ASize);
      if (int rc = q.Step(); rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    if (LSTATUS e = TouchKey(h, ref.Key)) return e;
    return tx.Commit();
  }

  LSTATUS SetKeyGrant(HKEY ABase, std::u16string_view ASubKey, REGSAM AGrant) override {
    std::lock_guard lock(FMutex);
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(ASubKey, names)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(ABase, ref, false)) return e;
    THive& h = *ref.Hive;
    if (h.ReadOnly) return ERROR_ACCESS_DENIED;
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = FindKey(h, ref.Key, names, id, grant)) return e;
    TQuery q(h, "UPDATE keys SET grant_mask=?2 WHERE id=?1");
    if (!q.Ok()) return MapSqliteError(q.PrepareRc());
    if (int rc = q.Bind(1, id).Bind(2, static_cast<std::int64_t>(NormalizeAccess(AGrant))).Step(); rc != SQLITE_DONE)
      return MapSqliteError(rc);
    return tx.Commit();
  }

  LSTATUS BeginTransaction(HKEY AKey) override {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, true)) return e;
    THive& h = *ref.Hive;
    if (h.Batch == 0) {
      if (int rc = h.Exec(h.ReadOnly ? "BEGIN" : "BEGIN IMMEDIATE")) return MapSqliteError(rc);
    }
    ++h.Batch;
    FBatchHives.push_back(ref.Hive);
    return ERROR_SUCCESS;
  }

  LSTATUS CommitTransaction(HKEY AKey) override { return EndTransaction(AKey, true); }
  LSTATUS RollbackTransaction(HKEY AKey) override { return EndTransaction(AKey, false); }

  std::string DescribeHive(HKEY ARoot) override {
    std::lock_guard lock(FMutex);
    std::string path = HiveFileName(ARoot);
    if (path.empty()) return "no store for this root";
    TRef ref;
    LSTATUS e = Lookup(ARoot, ref, false);
    if (!e) return path + (ref.Hive->ReadOnly ? " (read-only)" : "");
    auto it = FErrors.find(path);
    if (it != FErrors.end()) return path + ": " + it->second;
    return path + (e == ERROR_FILE_NOT_FOUND ? ": does not exist" : ": cannot be opened");
  }

 private:
  LSTATUS EndTransaction(HKEY AKey, bool ACommit) {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    THive& h = *ref.Hive;
    if (h.Batch == 0) return ERROR_INVALID_PARAMETER;
    for (auto it = FBatchHives.begin(); it != FBatchHives.end(); ++it) {
      if (it->get() == &h) {
        FBatchHives.erase(it);
        break;
      }
    }
    if (--h.Batch > 0) return ERROR_SUCCESS;
    if (ACommit) {
      int rc = h.Exec("COMMIT");
      if (rc != SQLITE_OK) {
        h.Exec("ROLLBACK");
        return MapSqliteError(rc);
      }
      ++h.LocalWrites;
      return ERROR_SUCCESS;
    }
    h.Exec("ROLLBACK");
    ++h.LocalWrites;
    return ERROR_SUCCESS;
  }

  LSTATUS Enumerate(HKEY AKey, std::uint32_t AIndex, std::u16string& AName, std::uint32_t ABufferChars, bool AKeys) {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(AKey, ref, false)) return e;
    if (!(ref.Access & (AKeys ? KEY_ENUMERATE_SUB_KEYS : KEY_QUERY_VALUE))) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    THandle local;
    THandle& cache = ref.Handle ? *ref.Handle : local;
    auto& names = AKeys ? cache.KeyNames : cache.ValueNames;
    auto& dv = AKeys ? cache.KeyDataVersion : cache.ValueDataVersion;
    auto& lw = AKeys ? cache.KeyLocalWrites : cache.ValueLocalWrites;
    std::int64_t now = DataVersion(h);
    if (dv != now || lw != h.LocalWrites || now < 0) {
      names.clear();
      dv = -1;
      if (LSTATUS e = KeyExistsById(h, ref.Key)) return e;
      TQuery q(h, AKeys ? "SELECT name FROM keys WHERE parent=?1 ORDER BY fold"
                        : "SELECT name FROM vals WHERE key=?1 ORDER BY id");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      q.Bind(1, ref.Key);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) names.push_back(Utf8ToUtf16(q.Text(0)));
      if (rc != SQLITE_DONE) {
        names.clear();
        return MapSqliteError(rc);
      }
      dv = now;
      lw = h.LocalWrites;
    }
    if (AIndex >= names.size()) return ERROR_NO_MORE_ITEMS;
    if (names[AIndex].size() + 1 > ABufferChars) return ERROR_MORE_DATA;
    AName = names[AIndex];
    return ERROR_SUCCESS;
  }

  LSTATUS NewHandle(const std::shared_ptr<THive>& AHive, std::int64_t AKey, REGSAM ACcess, HKEY& AResult) {
    if (FHandles.size() >= LastHandle - FirstHandle) return ERROR_REGISTRY_IO_FAILED;
    do {
      FNext = FNext >= LastHandle ? FirstHandle : FNext + 1;
    } while (FHandles.count(FNext));
    THandle& h = FHandles[FNext];
    h.Hive = AHive;
    h.Key = AKey;
    h.Access = ACcess;
    AResult = FNext;
    return ERROR_SUCCESS;
  }

  LSTATUS Lookup(HKEY AKey, TRef& ARef, bool AMayCreateHive) {
    if (IsPredefinedRoot(AKey)) return LookupRoot(AKey, ARef, AMayCreateHive);
    auto it = FHandles.find(AKey);
    if (it == FHandles.end()) return ERROR_INVALID_HANDLE;
    ARef.Hive = it->second.Hive;
    ARef.Key = it->second.Key;
    ARef.Access = it->second.Access;
    ARef.Handle = &it->second;
    return ERROR_SUCCESS;
  }

  LSTATUS LookupRoot(HKEY ARoot, TRef& ARef, bool AMayCreateHive) {
    std::string path = HiveFileName(ARoot);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    bool machine = ARoot != HKEY_CURRENT_USER;
    std::shared_ptr<THive> hive;
    if (LSTATUS e = GetHive(path, machine, AMayCreateHive, hive)) return e;
    std::string rootName = Utf16ToUtf8(RootKeyName(ARoot));
    auto it = hive->RootIds.find(rootName);
    if (it == hive->RootIds.end()) {
      TQuery q(*hive, "SELECT id FROM keys WHERE parent=0 AND fold=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      int rc = q.Bind(1, rootName).Step();
      if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
      if (rc != SQLITE_ROW) return MapSqliteError(rc);
      it = hive->RootIds.emplace(rootName, q.Int(0)).first;
    }
    ARef.Hive = hive;
    ARef.Key = it->second;
    ARef.Access = hive->Grant;
    ARef.Handle = nullptr;
    return ERROR_SUCCESS;
  }

  LSTATUS GetHive(const std::string& APath, bool AMachine, bool AMayCreate, std::shared_ptr<THive>& AOut) {
    struct stat st {};
    bool exists = ::stat(APath.c_str(), &st) == 0;
    auto cached = FHives.find(APath);
    if (cached != FHives.end()) {
      // The same file as before (not replaced or removed behind our back), or a hive in a transaction.
      // and still as writable as it was (an administrator may have made it read-only meanwhile).
      bool same = exists && cached->second->Dev == st.st_dev && cached->second->Ino == st.st_ino &&
                  cached->second->ReadOnly == !(ModeAllowsWrite(APath) && ModeAllowsWrite(DirOf(APath)));
      if (same || cached->second->Batch > 0) {
        AOut = cached->second;
        return ERROR_SUCCESS;
      }
      FHives.erase(cached);
    }
    std::string error;
    if (!exists) {
      if (errno != ENOENT) {
        FErrors[APath] = std::strerror(errno);
        return ERROR_ACCESS_DENIED;
      }
      if (!AMayCreate) return ERROR_FILE_NOT_FOUND;
      std::string dir = DirOf(APath);
      if (AMachine) {
        // Machine-wide settings are set up by an administrator; we never create their folders.
        if (!ModeAllowsWrite(dir)) return ERROR_FILE_NOT_FOUND;
      } else if (!MakeFolders(dir, 0700)) {
        FErrors[APath] = std::string("cannot create folder ") + dir + ": " + std::strerror(errno);
        return ERROR_ACCESS_DENIED;
      }
      if (!CreateHiveFile(APath, AMachine ? MachineRoots : UserRoots, AMachine ? 0644 : 0600, error)) {
        FErrors[APath] = error;
        return ERROR_ACCESS_DENIED;
      }
    }
    bool writable = ModeAllowsWrite(APath) && ModeAllowsWrite(DirOf(APath));
    auto hive = OpenExisting(APath, writable, error);
    if (!hive) {
      FErrors[APath] = error;
      return ERROR_BADDB;
    }
    FErrors.erase(APath);
    FHives[APath] = hive;
    AOut = hive;
    return ERROR_SUCCESS;
  }

  std::mutex FMutex;
  std::map<std::string, std::shared_ptr<THive>> FHives;
  std::map<std::string, std::string> FErrors;
  std::unordered_map<HKEY, THandle> FHandles;
  std::vector<std::shared_ptr<THive>> FBatchHives;  // keeps a hive in a transaction alive
  HKEY FNext = FirstHandle;
};

}  // namespace

IRegStore& RegStore() {
  static TSqliteRegStore store;
  return store;
}

std::string HiveFileName(HKEY ARoot) {
  switch (ARoot) {
    case HKEY_CURRENT_USER: return UserHivePath();
    case HKEY_LOCAL_MACHINE:
    case HKEY_CLASSES_ROOT: return MachineHivePath();
    default: return {};
  }
}

std::u16string_view RootKeyName(HKEY ARoot) {
  switch (ARoot) {
    case HKEY_CLASSES_ROOT: return u"HKEY_CLASSES_ROOT";
    case HKEY_CURRENT_USER: return u"HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE: return u"HKEY_LOCAL_MACHINE";
    case HKEY_USERS: return u"HKEY_USERS";
    case HKEY_PERFORMANCE_DATA: return u"HKEY_PERFORMANCE_DATA";
    case HKEY_CURRENT_CONFIG: return u"HKEY_CURRENT_CONFIG";
    case HKEY_DYN_DATA: return u"HKEY_DYN_DATA";
    default: return {};
  }
}

HKEY RootKeyFromName(std::u16string_view AName) {
  static const struct {
    std::u16string_view Short;
    HKEY Root;
  } shorts[] = {{u"HKCR", HKEY_CLASSES_ROOT},
                {u"HKCU", HKEY_CURRENT_USER},
                {u"HKLM", HKEY_LOCAL_MACHINE},
                {u"HKU", HKEY_USERS},
                {u"HKCC", HKEY_CURRENT_CONFIG}};
  std::u16string upper = AsciiUpperCase(AName);
  for (HKEY r = HKEY_CLASSES_ROOT; r <= HKEY_DYN_DATA; ++r)
    if (upper == RootKeyName(r)) return r;
  for (const auto& s : shorts)
    if (upper == s.Short) return s.Root;
  return 0;
}

std::uint64_t FileTimeNow() {
  using namespace std::chrono;
  auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<std::uint64_t>(ns / 100) + 116444736000000000ull;
}

}  // namespace zb
