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

bool IsWellFormedUtf16(std::u16string_view S) {
  for (std::size_t i = 0; i < S.size(); ++i) {
    char16_t c = S[i];
    if (c == 0) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= S.size() || S[i + 1] < 0xDC00 || S[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

TName MakeName(std::u16string_view S) { return {Utf16ToUtf8(S), Utf16ToUtf8(UnicodeUpperCase(S))}; }

LSTATUS ParseValueName(std::u16string_view S, TName& Out) {
  if (S.size() > MaxValueNameLength || !IsWellFormedUtf16(S)) return ERROR_INVALID_PARAMETER;
  Out = MakeName(S);
  return ERROR_SUCCESS;
}

// The registry's own limit: deeper trees could not be walked, exported or deleted in bounded time.
constexpr std::size_t MaxKeyDepth = 512;

// "A\B\" → A, B. Empty components, names the registry would refuse and paths deeper than
// MaxKeyDepth are invalid.
LSTATUS ParsePath(std::u16string_view S, std::vector<TName>& Out) {
  Out.clear();
  if (!S.empty() && S.back() == u'\\') S.remove_suffix(1);
  if (S.empty()) return ERROR_SUCCESS;
  std::size_t start = 0;
  while (true) {
    std::size_t end = S.find(u'\\', start);
    std::u16string_view part = S.substr(start, end == std::u16string_view::npos ? S.npos : end - start);
    if (part.empty() || part.size() > MaxKeyNameLength || !IsWellFormedUtf16(part)) return ERROR_INVALID_PARAMETER;
    Out.push_back(MakeName(part));
    if (Out.size() > MaxKeyDepth) return ERROR_INVALID_PARAMETER;
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

LSTATUS MapSqliteError(int rc) {
  switch (rc & 0xFF) {
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
REGSAM NormalizeAccess(REGSAM A) {
  constexpr REGSAM GenericRead = 0x80000000u, GenericWrite = 0x40000000u, GenericExecute = 0x20000000u,
                   GenericAll = 0x10000000u;
  REGSAM r = A & KEY_ALL_ACCESS;
  if (A & (GenericRead | GenericExecute)) r |= KEY_READ;
  if (A & GenericWrite) r |= KEY_WRITE;
  if (A & GenericAll) r |= KEY_ALL_ACCESS;
  return r;
}

bool Grants(REGSAM Granted, REGSAM Requested) { return (NormalizeAccess(Requested) & ~Granted) == 0; }

bool IsPredefinedRoot(HKEY K) { return K >= HKEY_CLASSES_ROOT && K <= HKEY_DYN_DATA; }

bool ModeAllowsWrite(const std::string& Path) {
  struct stat st {};
  if (::stat(Path.c_str(), &st) != 0) return false;
  if (::access(Path.c_str(), W_OK) != 0) return false;
  // root passes access() for everything; a file whose mode forbids writing stays read-only even then.
  return ::geteuid() != 0 || (st.st_mode & 0222) != 0;
}

std::string DirOf(const std::string& Path) {
  auto p = Path.rfind('/');
  if (p == std::string::npos) return ".";
  return p == 0 ? "/" : Path.substr(0, p);
}

bool MakeFolders(const std::string& Dir, mode_t Mode) {
  if (Dir.empty()) return false;
  struct stat st {};
  if (::stat(Dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (!MakeFolders(DirOf(Dir), Mode) && DirOf(Dir) != Dir) return false;
  return ::mkdir(Dir.c_str(), Mode) == 0 || errno == EEXIST;
}

std::string UriEscape(const std::string& Path) {
  std::string r;
  for (unsigned char c : Path) {
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

  int Exec(const char* Sql) { return sqlite3_exec(Db(), Sql, nullptr, nullptr, nullptr); }

  sqlite3_stmt* Prepare(const char* Sql) {
    auto it = Stmts.find(Sql);
    if (it != Stmts.end()) return it->second.get();
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v3(Db(), Sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) return nullptr;
    Stmts.emplace(Sql, st);
    return st;
  }
};

// A prepared statement in use; reset when the scope ends so it never holds a read snapshot.
class TQuery {
 public:
  TQuery(THive& H, const char* Sql) : FStmt(H.Prepare(Sql)), FPrepareRc(FStmt ? SQLITE_OK : sqlite3_errcode(H.Db())) {}
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
  TQuery& Bind(int I, std::int64_t V) {
    sqlite3_bind_int64(FStmt, I, V);
    return *this;
  }
  TQuery& Bind(int I, const std::string& V) {
    sqlite3_bind_text(FStmt, I, V.data(), static_cast<int>(V.size()), SQLITE_TRANSIENT);
    return *this;
  }
  TQuery& BindBlob(int I, const void* D, std::uint32_t N) {
    static const char Empty = 0;
    sqlite3_bind_blob(FStmt, I, N ? D : &Empty, static_cast<int>(N), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(FStmt); }
  std::int64_t Int(int C) { return sqlite3_column_int64(FStmt, C); }
  std::string Text(int C) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(FStmt, C));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(FStmt, C))) : std::string();
  }
  const void* Blob(int C) { return sqlite3_column_blob(FStmt, C); }
  int Bytes(int C) { return sqlite3_column_bytes(FStmt, C); }

 private:
  sqlite3_stmt* FStmt;
  int FPrepareRc;
};

// One write: its own IMMEDIATE transaction, or a savepoint inside a caller's transaction.
class TWriteTx {
 public:
  explicit TWriteTx(THive& H) : FHive(H) {
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
  explicit TReadTx(THive& H) : FHive(H), FOwn(H.Batch == 0) {
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

std::int64_t DataVersion(THive& H) {
  TQuery q(H, "PRAGMA data_version");
  if (!q.Ok() || q.Step() != SQLITE_ROW) return -2;
  return q.Int(0);
}

LSTATUS KeyExistsById(THive& H, std::int64_t Id) {
  TQuery q(H, "SELECT 1 FROM keys WHERE id=?1");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  int rc = q.Bind(1, Id).Step();
  if (rc == SQLITE_ROW) return ERROR_SUCCESS;
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  return MapSqliteError(rc);
}

LSTATUS KeyGrant(THive& H, std::int64_t Id, REGSAM& Grant) {
  TQuery q(H, "SELECT grant_mask FROM keys WHERE id=?1");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  int rc = q.Bind(1, Id).Step();
  if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
  if (rc != SQLITE_ROW) return MapSqliteError(rc);
  Grant = static_cast<REGSAM>(q.Int(0)) & H.Grant;
  return ERROR_SUCCESS;
}

// Follows Names from Start as far as the keys exist. Found counts the components that exist;
// Id and Grant describe the deepest key reached.
LSTATUS Walk(THive& H, std::int64_t Start, const std::vector<TName>& Names, std::size_t& Found, std::int64_t& Id,
             REGSAM& Grant) {
  Found = 0;
  Id = Start;
  if (LSTATUS e = KeyGrant(H, Start, Grant)) return e;
  for (const TName& n : Names) {
    TQuery q(H, "SELECT id, grant_mask FROM keys WHERE parent=?1 AND fold=?2");
    if (!q.Ok()) return MapSqliteError(q.PrepareRc());
    int rc = q.Bind(1, Id).Bind(2, n.Fold).Step();
    if (rc == SQLITE_DONE) return ERROR_SUCCESS;
    if (rc != SQLITE_ROW) return MapSqliteError(rc);
    Id = q.Int(0);
    Grant = static_cast<REGSAM>(q.Int(1)) & H.Grant;
    ++Found;
  }
  return ERROR_SUCCESS;
}

// The existing key at Names below Start; ERROR_FILE_NOT_FOUND when a part of the path is missing.
LSTATUS FindKey(THive& H, std::int64_t Start, const std::vector<TName>& Names, std::int64_t& Id, REGSAM& Grant) {
  std::size_t found = 0;
  if (LSTATUS e = Walk(H, Start, Names, found, Id, Grant)) return e;
  return found < Names.size() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

LSTATUS TouchKey(THive& H, std::int64_t Id) {
  TQuery q(H, "UPDATE keys SET write_time=?2 WHERE id=?1");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  return MapSqliteError(q.Bind(1, Id).Bind(2, static_cast<std::int64_t>(FileTimeNow())).Step());
}

LSTATUS InsertKey(THive& H, std::int64_t Parent, const TName& N, std::int64_t& Id) {
  TQuery q(H, "INSERT INTO keys(parent, name, fold, write_time) VALUES(?1, ?2, ?3, ?4)");
  if (!q.Ok()) return MapSqliteError(q.PrepareRc());
  int rc = q.Bind(1, Parent).Bind(2, N.Utf8).Bind(3, N.Fold).Bind(4, static_cast<std::int64_t>(FileTimeNow())).Step();
  if (rc != SQLITE_DONE) return MapSqliteError(rc);
  Id = sqlite3_last_insert_rowid(H.Db());
  return TouchKey(H, Parent);
}

LSTATUS InitSchema(THive& H, const std::vector<std::string>& Roots) {
  char pragmas[160];
  std::snprintf(pragmas, sizeof pragmas, "PRAGMA application_id=%d; PRAGMA user_version=%d;", HiveApplicationId,
                HiveSchemaVersion);
  if (int rc = H.Exec("PRAGMA journal_mode=WAL")) return MapSqliteError(rc);
  if (int rc = H.Exec("BEGIN IMMEDIATE")) return MapSqliteError(rc);
  int rc = H.Exec(pragmas);
  if (rc == SQLITE_OK) rc = H.Exec(SchemaSql);
  for (const std::string& r : Roots) {
    if (rc != SQLITE_OK) break;
    TQuery q(H, "INSERT INTO keys(parent, name, fold, write_time) VALUES(0, ?1, ?1, ?2)");
    rc = q.Ok() ? q.Bind(1, r).Bind(2, static_cast<std::int64_t>(FileTimeNow())).Step() : q.PrepareRc();
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc != SQLITE_OK) {
    H.Exec("ROLLBACK");
    return MapSqliteError(rc);
  }
  return MapSqliteError(H.Exec("COMMIT"));
}

std::string SqliteMessage(sqlite3* Db, int Rc) {
  return Db ? std::string(sqlite3_errmsg(Db)) : std::string(sqlite3_errstr(Rc));
}

void SetupConnection(THive& H) {
  sqlite3_busy_timeout(H.Db(), BusyTimeoutMs);
  sqlite3_extended_result_codes(H.Db(), 1);
}

// Opens an existing file. Anything unexpected leaves the file exactly as it was and the hive closed.
std::shared_ptr<THive> OpenExisting(const std::string& Path, bool Writable, std::string& Error) {
  auto h = std::make_shared<THive>();
  h->Path = Path;
  h->ReadOnly = !Writable;
  h->Grant = Writable ? KEY_ALL_ACCESS : KEY_READ;
  int flags = (Writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
  int rc = h->Open(Path.c_str(), flags);
  if (rc != SQLITE_OK) {
    Error = SqliteMessage(h->Db(), rc);
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
  if (!bad.empty() && !Writable && sqlite3_errcode(h->Db()) == SQLITE_CANTOPEN) {
    // A read-only folder cannot take the WAL index; nobody can write there, so read it as immutable.
    h = std::make_shared<THive>();
    h->Path = Path;
    h->ReadOnly = true;
    h->Grant = KEY_READ;
    std::string uri = "file:" + UriEscape(Path) + "?immutable=1";
    rc = h->Open(uri.c_str(), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX);
    if (rc != SQLITE_OK) {
      Error = SqliteMessage(h->Db(), rc);
      return nullptr;
    }
    SetupConnection(*h);
    bad = check();
  }
  if (!bad.empty()) {
    Error = bad;
    return nullptr;
  }
  if (Writable) {
    h->Exec("PRAGMA journal_mode=WAL");
    h->Exec("PRAGMA synchronous=NORMAL");
  }
  struct stat st {};
  if (::stat(Path.c_str(), &st) == 0) {
    h->Dev = st.st_dev;
    h->Ino = st.st_ino;
  }
  return h;
}

// A new hive is built under a temporary name and linked into place, so no reader ever sees a
// half-made file and two processes creating it at once end up with the same one.
bool CreateHiveFile(const std::string& Path, const std::vector<std::string>& Roots, mode_t Mode, std::string& Error) {
  std::string tmpl = Path + ".new-XXXXXX";
  std::vector<char> name(tmpl.begin(), tmpl.end());
  name.push_back('\0');
  {
    const TzbFd made(::mkstemp(name.data()));
    if (!made) {
      Error = std::string("cannot create ") + Path + ": " + std::strerror(errno);
      return false;
    }
    ::fchmod(made.get(), Mode);
  }
  std::string tmp(name.data());
  bool ok = false;
  {
    THive h;
    h.Path = tmp;
    int rc = h.Open(tmp.c_str(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    if (rc == SQLITE_OK) {
      SetupConnection(h);
      LSTATUS e = InitSchema(h, Roots);
      ok = e == ERROR_SUCCESS;
      if (!ok) Error = SqliteMessage(h.Db(), rc);
    } else {
      Error = SqliteMessage(h.Db(), rc);
    }
  }
  if (ok) {
    if (const TzbFd written(::open(tmp.c_str(), O_RDONLY | O_CLOEXEC)); written) ::fsync(written.get());
    if (::link(tmp.c_str(), Path.c_str()) != 0 && errno != EEXIST) {
      Error = std::string("cannot create ") + Path + ": " + std::strerror(errno);
      ok = false;
    }
    if (const TzbFd folder(::open(DirOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder)
      ::fsync(folder.get());
  }
  ::unlink(tmp.c_str());
  ::unlink((tmp + "-wal").c_str());
  ::unlink((tmp + "-shm").c_str());
  return ok;
}

std::string EnvOr(const char* Name, const std::string& Default) {
  const char* v = std::getenv(Name);
  return v && *v ? std::string(v) : Default;
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
  LSTATUS OpenKey(HKEY Base, std::u16string_view SubKey, REGSAM Access, HKEY& Result) override {
    std::lock_guard lock(FMutex);
    Result = 0;
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(SubKey, names)) return e;
    TRef ref;
    // Opening a root for writing is what makes a fresh user's store file appear.
    bool forWriting = (NormalizeAccess(Access) & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) != 0;
    if (LSTATUS e = Lookup(Base, ref, names.empty() && forWriting)) return e;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = FindKey(*ref.Hive, ref.Key, names, id, grant)) return e;
    if (!Grants(grant, Access)) return ERROR_ACCESS_DENIED;
    return NewHandle(ref.Hive, id, NormalizeAccess(Access), Result);
  }

  LSTATUS CreateKey(HKEY Base, std::u16string_view SubKey, REGSAM Access, HKEY& Result) override {
    std::lock_guard lock(FMutex);
    Result = 0;
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(SubKey, names)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(Base, ref, true)) return e;
    THive& h = *ref.Hive;
    std::size_t found = 0;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = Walk(h, ref.Key, names, found, id, grant)) return e;
    if (found == names.size()) {  // nothing to create: an open, also on a read-only hive
      if (!Grants(grant, Access)) return ERROR_ACCESS_DENIED;
      return NewHandle(ref.Hive, id, NormalizeAccess(Access), Result);
    }
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    if (LSTATUS e = Walk(h, ref.Key, names, found, id, grant)) return e;  // again, now under the write lock
    REGSAM baseRight = found == 0 && ref.Handle ? ref.Access : KEY_ALL_ACCESS;
    if (found < names.size()) {
      if (!(grant & KEY_CREATE_SUB_KEY) || !(baseRight & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
      if (!Grants(h.Grant, Access)) return ERROR_ACCESS_DENIED;
      for (std::size_t i = found; i < names.size(); ++i) {
        if (LSTATUS e = InsertKey(h, id, names[i], id)) return e;
      }
    } else if (!Grants(grant, Access)) {
      return ERROR_ACCESS_DENIED;
    }
    if (LSTATUS e = tx.Commit()) return e;
    return NewHandle(ref.Hive, id, NormalizeAccess(Access), Result);
  }

  LSTATUS CloseKey(HKEY Key) override {
    std::lock_guard lock(FMutex);
    if (IsPredefinedRoot(Key)) return ERROR_SUCCESS;
    return FHandles.erase(Key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  }

  LSTATUS FlushKey(HKEY Key) override {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
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

  LSTATUS DeleteKey(HKEY Base, std::u16string_view SubKey) override {
    std::lock_guard lock(FMutex);
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(SubKey, names)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(Base, ref, false)) return e;
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

  LSTATUS DeleteValue(HKEY Key, std::u16string_view Name) override {
    std::lock_guard lock(FMutex);
    TName n;
    if (LSTATUS e = ParseValueName(Name, n)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
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

  LSTATUS QueryInfoKey(HKEY Key, TRegStoreKeyInfo& Info) override {
    std::lock_guard lock(FMutex);
    Info = {};
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
    if (!(ref.Access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    TReadTx tx(h);
    {
      TQuery q(h, "SELECT write_time FROM keys WHERE id=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      int rc = q.Bind(1, ref.Key).Step();
      if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
      if (rc != SQLITE_ROW) return MapSqliteError(rc);
      Info.LastWriteTime = static_cast<std::uint64_t>(q.Int(0));
    }
    {
      TQuery q(h, "SELECT name FROM keys WHERE parent=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      q.Bind(1, ref.Key);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) {
        ++Info.SubKeys;
        Info.MaxSubKeyLen = std::max<std::uint32_t>(Info.MaxSubKeyLen, Utf8ToUtf16(q.Text(0)).size());
      }
      if (rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    {
      TQuery q(h, "SELECT name, length(data) FROM vals WHERE key=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      q.Bind(1, ref.Key);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) {
        ++Info.Values;
        Info.MaxValueNameLen = std::max<std::uint32_t>(Info.MaxValueNameLen, Utf8ToUtf16(q.Text(0)).size());
        Info.MaxValueLen = std::max<std::uint32_t>(Info.MaxValueLen, static_cast<std::uint32_t>(q.Int(1)));
      }
      if (rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    return ERROR_SUCCESS;
  }

  LSTATUS EnumKey(HKEY Key, std::uint32_t Index, std::u16string& Name, std::uint32_t BufferChars) override {
    return Enumerate(Key, Index, Name, BufferChars, true);
  }

  LSTATUS EnumValue(HKEY Key, std::uint32_t Index, std::u16string& Name, std::uint32_t BufferChars) override {
    return Enumerate(Key, Index, Name, BufferChars, false);
  }

  LSTATUS QueryValue(HKEY Key, std::u16string_view Name, std::uint32_t* Type, void* Data,
                     std::uint32_t* Size) override {
    std::lock_guard lock(FMutex);
    TName n;
    if (LSTATUS e = ParseValueName(Name, n)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
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
    if (Type) *Type = static_cast<std::uint32_t>(q.Int(0));
    auto len = static_cast<std::uint32_t>(q.Bytes(1));
    if (Data) {
      if (!Size) return ERROR_INVALID_PARAMETER;
      if (*Size < len) {
        *Size = len;
        return ERROR_MORE_DATA;
      }
      if (len) std::memcpy(Data, q.Blob(1), len);
    }
    if (Size) *Size = len;
    return ERROR_SUCCESS;
  }

  LSTATUS SetValue(HKEY Key, std::u16string_view Name, std::uint32_t Type, const void* Data,
                   std::uint32_t Size) override {
    std::lock_guard lock(FMutex);
    TName n;
    if (LSTATUS e = ParseValueName(Name, n)) return e;
    if (Size && !Data) return ERROR_INVALID_PARAMETER;
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
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
          .Bind(4, static_cast<std::int64_t>(Type))
          .BindBlob(5, Data, Size);
      if (int rc = q.Step(); rc != SQLITE_DONE) return MapSqliteError(rc);
    }
    if (LSTATUS e = TouchKey(h, ref.Key)) return e;
    return tx.Commit();
  }

  LSTATUS SetKeyGrant(HKEY Base, std::u16string_view SubKey, REGSAM Grant) override {
    std::lock_guard lock(FMutex);
    std::vector<TName> names;
    if (LSTATUS e = ParsePath(SubKey, names)) return e;
    TRef ref;
    if (LSTATUS e = Lookup(Base, ref, false)) return e;
    THive& h = *ref.Hive;
    if (h.ReadOnly) return ERROR_ACCESS_DENIED;
    TWriteTx tx(h);
    if (LSTATUS e = tx.Status()) return e;
    std::int64_t id = 0;
    REGSAM grant = 0;
    if (LSTATUS e = FindKey(h, ref.Key, names, id, grant)) return e;
    TQuery q(h, "UPDATE keys SET grant_mask=?2 WHERE id=?1");
    if (!q.Ok()) return MapSqliteError(q.PrepareRc());
    if (int rc = q.Bind(1, id).Bind(2, static_cast<std::int64_t>(NormalizeAccess(Grant))).Step(); rc != SQLITE_DONE)
      return MapSqliteError(rc);
    return tx.Commit();
  }

  LSTATUS BeginTransaction(HKEY Key) override {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, true)) return e;
    THive& h = *ref.Hive;
    if (h.Batch == 0) {
      if (int rc = h.Exec(h.ReadOnly ? "BEGIN" : "BEGIN IMMEDIATE")) return MapSqliteError(rc);
    }
    ++h.Batch;
    FBatchHives.push_back(ref.Hive);
    return ERROR_SUCCESS;
  }

  LSTATUS CommitTransaction(HKEY Key) override { return EndTransaction(Key, true); }
  LSTATUS RollbackTransaction(HKEY Key) override { return EndTransaction(Key, false); }

  std::string DescribeHive(HKEY Root) override {
    std::lock_guard lock(FMutex);
    std::string path = HiveFileName(Root);
    if (path.empty()) return "no store for this root";
    TRef ref;
    LSTATUS e = Lookup(Root, ref, false);
    if (!e) return path + (ref.Hive->ReadOnly ? " (read-only)" : "");
    auto it = FErrors.find(path);
    if (it != FErrors.end()) return path + ": " + it->second;
    return path + (e == ERROR_FILE_NOT_FOUND ? ": does not exist" : ": cannot be opened");
  }

 private:
  LSTATUS EndTransaction(HKEY Key, bool Commit) {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
    THive& h = *ref.Hive;
    if (h.Batch == 0) return ERROR_INVALID_PARAMETER;
    for (auto it = FBatchHives.begin(); it != FBatchHives.end(); ++it) {
      if (it->get() == &h) {
        FBatchHives.erase(it);
        break;
      }
    }
    if (--h.Batch > 0) return ERROR_SUCCESS;
    if (Commit) {
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

  LSTATUS Enumerate(HKEY Key, std::uint32_t Index, std::u16string& Name, std::uint32_t BufferChars, bool Keys) {
    std::lock_guard lock(FMutex);
    TRef ref;
    if (LSTATUS e = Lookup(Key, ref, false)) return e;
    if (!(ref.Access & (Keys ? KEY_ENUMERATE_SUB_KEYS : KEY_QUERY_VALUE))) return ERROR_ACCESS_DENIED;
    THive& h = *ref.Hive;
    THandle local;
    THandle& cache = ref.Handle ? *ref.Handle : local;
    auto& names = Keys ? cache.KeyNames : cache.ValueNames;
    auto& dv = Keys ? cache.KeyDataVersion : cache.ValueDataVersion;
    auto& lw = Keys ? cache.KeyLocalWrites : cache.ValueLocalWrites;
    std::int64_t now = DataVersion(h);
    if (dv != now || lw != h.LocalWrites || now < 0) {
      names.clear();
      dv = -1;
      if (LSTATUS e = KeyExistsById(h, ref.Key)) return e;
      TQuery q(h, Keys ? "SELECT name FROM keys WHERE parent=?1 ORDER BY fold"
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
    if (Index >= names.size()) return ERROR_NO_MORE_ITEMS;
    if (names[Index].size() + 1 > BufferChars) return ERROR_MORE_DATA;
    Name = names[Index];
    return ERROR_SUCCESS;
  }

  LSTATUS NewHandle(const std::shared_ptr<THive>& Hive, std::int64_t Key, REGSAM Access, HKEY& Result) {
    if (FHandles.size() >= LastHandle - FirstHandle) return ERROR_REGISTRY_IO_FAILED;
    do {
      FNext = FNext >= LastHandle ? FirstHandle : FNext + 1;
    } while (FHandles.count(FNext));
    THandle& h = FHandles[FNext];
    h.Hive = Hive;
    h.Key = Key;
    h.Access = Access;
    Result = FNext;
    return ERROR_SUCCESS;
  }

  LSTATUS Lookup(HKEY Key, TRef& Ref, bool MayCreateHive) {
    if (IsPredefinedRoot(Key)) return LookupRoot(Key, Ref, MayCreateHive);
    auto it = FHandles.find(Key);
    if (it == FHandles.end()) return ERROR_INVALID_HANDLE;
    Ref.Hive = it->second.Hive;
    Ref.Key = it->second.Key;
    Ref.Access = it->second.Access;
    Ref.Handle = &it->second;
    return ERROR_SUCCESS;
  }

  LSTATUS LookupRoot(HKEY Root, TRef& Ref, bool MayCreateHive) {
    std::string path = HiveFileName(Root);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    bool machine = Root != HKEY_CURRENT_USER;
    std::shared_ptr<THive> hive;
    if (LSTATUS e = GetHive(path, machine, MayCreateHive, hive)) return e;
    std::string rootName = Utf16ToUtf8(RootKeyName(Root));
    auto it = hive->RootIds.find(rootName);
    if (it == hive->RootIds.end()) {
      TQuery q(*hive, "SELECT id FROM keys WHERE parent=0 AND fold=?1");
      if (!q.Ok()) return MapSqliteError(q.PrepareRc());
      int rc = q.Bind(1, rootName).Step();
      if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
      if (rc != SQLITE_ROW) return MapSqliteError(rc);
      it = hive->RootIds.emplace(rootName, q.Int(0)).first;
    }
    Ref.Hive = hive;
    Ref.Key = it->second;
    Ref.Access = hive->Grant;
    Ref.Handle = nullptr;
    return ERROR_SUCCESS;
  }

  LSTATUS GetHive(const std::string& Path, bool Machine, bool MayCreate, std::shared_ptr<THive>& Out) {
    struct stat st {};
    bool exists = ::stat(Path.c_str(), &st) == 0;
    auto cached = FHives.find(Path);
    if (cached != FHives.end()) {
      // The same file as before (not replaced or removed behind our back), or a hive in a transaction.
      // and still as writable as it was (an administrator may have made it read-only meanwhile).
      bool same = exists && cached->second->Dev == st.st_dev && cached->second->Ino == st.st_ino &&
                  cached->second->ReadOnly == !(ModeAllowsWrite(Path) && ModeAllowsWrite(DirOf(Path)));
      if (same || cached->second->Batch > 0) {
        Out = cached->second;
        return ERROR_SUCCESS;
      }
      FHives.erase(cached);
    }
    std::string error;
    if (!exists) {
      if (errno != ENOENT) {
        FErrors[Path] = std::strerror(errno);
        return ERROR_ACCESS_DENIED;
      }
      if (!MayCreate) return ERROR_FILE_NOT_FOUND;
      std::string dir = DirOf(Path);
      if (Machine) {
        // Machine-wide settings are set up by an administrator; we never create their folders.
        if (!ModeAllowsWrite(dir)) return ERROR_FILE_NOT_FOUND;
      } else if (!MakeFolders(dir, 0700)) {
        FErrors[Path] = std::string("cannot create folder ") + dir + ": " + std::strerror(errno);
        return ERROR_ACCESS_DENIED;
      }
      if (!CreateHiveFile(Path, Machine ? MachineRoots : UserRoots, Machine ? 0644 : 0600, error)) {
        FErrors[Path] = error;
        return ERROR_ACCESS_DENIED;
      }
    }
    bool writable = ModeAllowsWrite(Path) && ModeAllowsWrite(DirOf(Path));
    auto hive = OpenExisting(Path, writable, error);
    if (!hive) {
      FErrors[Path] = error;
      return ERROR_BADDB;
    }
    FErrors.erase(Path);
    FHives[Path] = hive;
    Out = hive;
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

std::string HiveFileName(HKEY Root) {
  switch (Root) {
    case HKEY_CURRENT_USER: return UserHivePath();
    case HKEY_LOCAL_MACHINE:
    case HKEY_CLASSES_ROOT: return MachineHivePath();
    default: return {};
  }
}

std::u16string_view RootKeyName(HKEY Root) {
  switch (Root) {
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

HKEY RootKeyFromName(std::u16string_view Name) {
  static const struct {
    std::u16string_view Short;
    HKEY Root;
  } Shorts[] = {{u"HKCR", HKEY_CLASSES_ROOT},
                {u"HKCU", HKEY_CURRENT_USER},
                {u"HKLM", HKEY_LOCAL_MACHINE},
                {u"HKU", HKEY_USERS},
                {u"HKCC", HKEY_CURRENT_CONFIG}};
  std::u16string upper = AsciiUpperCase(Name);
  for (HKEY r = HKEY_CLASSES_ROOT; r <= HKEY_DYN_DATA; ++r)
    if (upper == RootKeyName(r)) return r;
  for (const auto& s : Shorts)
    if (upper == s.Short) return s.Root;
  return 0;
}

std::uint64_t FileTimeNow() {
  using namespace std::chrono;
  auto ns = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return static_cast<std::uint64_t>(ns / 100) + 116444736000000000ull;
}

}  // namespace zb
