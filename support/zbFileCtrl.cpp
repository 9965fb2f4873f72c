#include "support/zbFileCtrl.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>

#include "support/zbCOwner.h"
#include "support/zbDateUtils.h"
#include "support/zbException.h"
#include "support/zbShellAPI.h"

namespace zb {
namespace {

std::string Native(std::u16string_view APath) { return Utf16ToUtf8(APath); }

std::u16string ErrnoText(int AErr) { return Utf8ToUtf16(g_strerror(AErr)); }

char16_t ResolvePathSep(std::u16string_view APath, char16_t APathSep) {
  if (APathSep != u'\0') return APathSep;
  return APath.find(u'\\') != std::u16string_view::npos ? u'\\' : u'/';
}

// Windows-shaped texts (with a backslash) keep the drive separator; POSIX paths have none.
struct TSeps {
  char16_t Drive, Path;
};
TSeps SepsFor(std::u16string_view APath) {
  return APath.find(u'\\') != std::u16string_view::npos ? TSeps{u':', u'\\'} : TSeps{NoDriveSep, u'/'};
}

std::size_t LastSeparator(std::u16string_view APath, char16_t ADriveSep, char16_t APathSep) {
  const char16_t sep = ResolvePathSep(APath, APathSep);
  for (std::size_t i = APath.size(); i > 0; --i) {
    const char16_t c = APath[i - 1];
    if (c == sep || (ADriveSep != u'\0' && c == ADriveSep)) return i - 1;
  }
  return std::u16string_view::npos;
}

bool IsSeparator(char16_t AChar, char16_t ADriveSep, char16_t APathSep) {
  return AChar == APathSep || (ADriveSep != u'\0' && AChar == ADriveSep);
}

[[noreturn]] void ThrowFileError(const char16_t* AWhat, std::u16string_view AName, int AErr) {
  throw EzbFileError(AWhat, {std::u16string(AName), ErrnoText(AErr)});
}

constexpr const char16_t* CannotCreate = u"Die Datei \"%s\" kann nicht erstellt werden. %s";
constexpr const char16_t* CannotOpen = u"Die Datei \"%s\" kann nicht geöffnet werden. %s";
constexpr const char16_t* WriteFailed = u"Fehler beim Schreiben in die Datei \"%s\". %s";
constexpr const char16_t* ReadFailed = u"Fehler beim Lesen der Datei \"%s\". %s";

bool WriteAll(int AFd, const char* AData, std::size_t ACount) {
  while (ACount > 0) {
    const ssize_t n = ::write(AFd, AData, ACount);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    AData += n;
    ACount -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::u16string GetTempFolder() {
  static std::once_flag once;
  static std::u16string folder;
  std::call_once(once, [] { folder = IncludeTrailingChar(TrimBlanks(Utf8ToUtf16(g_get_tmp_dir())), u'/'); });
  return folder;
}

std::u16string ExtractFilePathEx(std::u16string_view APath, char16_t ADriveSep, char16_t APathSep) {
  const std::size_t last = LastSeparator(APath, ADriveSep, APathSep);
  return last == std::u16string_view::npos ? std::u16string() : std::u16string(APath.substr(0, last + 1));
}

std::u16string ExtractFileNameEx(std::u16string_view APath, char16_t ADriveSep, char16_t APathSep) {
  const std::size_t last = LastSeparator(APath, ADriveSep, APathSep);
  return std::u16string(last == std::u16string_view::npos ? APath : APath.substr(last + 1));
}

std::u16string ExtractFileDirEx(std::u16string_view APath, char16_t ADriveSep, char16_t APathSep) {
  std::u16string dir = ExtractFilePathEx(APath, ADriveSep, APathSep);
  const char16_t sep = ResolvePathSep(APath, APathSep);
  if (dir.size() >= 2 && dir.back() == sep && !IsSeparator(dir[dir.size() - 2], ADriveSep, sep)) dir.pop_back();
  return dir;
}

std::u16string ExtractFileExtEx(std::u16string_view APath, char16_t ADriveSep, char16_t APathSep) {
  const std::size_t dot = APath.rfind(u'.');
  if (dot == std::u16string_view::npos) return {};
  const std::size_t last = LastSeparator(APath, ADriveSep, APathSep);
  if (last != std::u16string_view::npos && dot < last) return {};
  return std::u16string(APath.substr(dot));
}

std::u16string ExtractFileExtNoDot(std::u16string_view APath) {
  const TSeps seps = SepsFor(APath);
  const std::u16string ext = ExtractFileExtEx(APath, seps.Drive, seps.Path);
  return ext.empty() ? ext : ext.substr(1);
}

std::u16string RemoveFileExt(std::u16string_view APath) {
  const TSeps seps = SepsFor(APath);
  const std::u16string ext = ExtractFileExtEx(APath, seps.Drive, seps.Path);
  return std::u16string(APath.substr(0, APath.size() - ext.size()));
}

std::u16string ExtractFileBaseName(std::u16string_view APath, char16_t ADriveSep, char16_t APathSep) {
  const std::u16string name = ExtractFileNameEx(APath, ADriveSep, APathSep);
  return name.substr(0, name.size() - ExtractFileExtEx(name, ADriveSep, APathSep).size());
}

int IndexOfFileExt(std::u16string_view APath, const TStringList& AExtensions) {
  return IndexOfText(ExtractFileExtNoDot(APath), AExtensions, false, true);
}

std::u16string ExpandEnvironmentText(std::u16string_view AText) {
  auto isNameChar = [](char16_t AChar) {
    return (AChar >= u'A' && AChar <= u'Z') || (AChar >= u'a' && AChar <= u'z') || (AChar >= u'0' && AChar <= u'9') ||
           AChar == u'_';
  };
  auto lookup = [](std::u16string_view AName, std::u16string& AValue) {
    if (AName.empty()) return false;
    const char* v = g_getenv(Native(AName).c_str());
    if (!v) return false;
    AValue = Utf8ToUtf16(v);
    return true;
  };
  std::u16string out;
  std::size_t i = 0;
  while (i < AText.size()) {
    const char16_t c = AText[i];
    std::u16string value;
    if (c == u'%') {
      const std::size_t close = AText.find(u'%', i + 1);
      if (close != std::u16string_view::npos && lookup(AText.substr(i + 1, close - i - 1), value)) {
        out += value;
        i = close + 1;
        continue;
      }
    } else if (c == u'$' && i + 1 < AText.size()) {
      if (AText[i + 1] == u'{') {
        const std::size_t close = AText.find(u'}', i + 2);
        if (close != std::u16string_view::npos && lookup(AText.substr(i + 2, close - i - 2), value)) {
          out += value;
          i = close + 1;
          continue;
        }
      } else {
        std::size_t end = i + 1;
        while (end < AText.size() && isNameChar(AText[end])) ++end;
        if (end > i + 1 && lookup(AText.substr(i + 1, end - i - 1), value)) {
          out += value;
          i = end;
          continue;
        }
      }
    }
    out += c;
    ++i;
  }
  TruncateAtNul(out);
  return out;
}

bool FileExists(std::u16string_view APath) {
  struct stat st {};
  return !APath.empty() && ::stat(Native(APath).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FolderExists(std::u16string_view APath) {
  struct stat st {};
  return !APath.empty() && ::stat(Native(APath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderExistsExpanded(std::u16string_view APath) { return FolderExists(ExpandEnvironmentText(APath)); }

std::u16string CleanFileName(std::u16string_view AText, bool ANameOnly) {
  std::u16string out;
  out.reserve(AText.size());
  bool colonSeen = false;
  auto writeBlank = [&] {
    if (out.size() >= 2 && out.back() != u' ') out += u' ';
  };
  for (char16_t c : AText) {
    if (c < 0x20 || c == u'"' || c == u'*' || c == u'<' || c == u'>' || c == u'?' || c == u'|') continue;
    if (c == u' ' || c == 0xA0) {
      writeBlank();
    } else if (c == u'/' || c == u'\\') {
      if (ANameOnly)
        writeBlank();
      else
        out += c;
    } else if (c == u':') {
      if (!ANameOnly && !colonSeen) out += c;
      colonSeen = true;
    } else {
      out += c;
    }
  }
  const TSeps seps = SepsFor(out);
  const std::u16string ext = ExtractFileExtEx(out, seps.Drive, seps.Path);
  if (ANameOnly) {
    if (out.size() > 255) return TrimRightBlanks(std::u16string_view(out).substr(0, 20)) + ext;
    return TrimRightBlanks(std::u16string_view(out).substr(0, out.size() - ext.size())) + ext;
  }
  std::u16string name = TrimBlanks(ExtractFileBaseName(out, seps.Drive, seps.Path));
  if (name.size() > 255) name = TrimRightBlanks(std::u16string_view(name).substr(0, 20));
  return ExtractFilePathEx(out, seps.Drive, seps.Path) + name + ext;
}

bool ForceFolders(std::u16string_view APath) {
  if (APath.empty()) return false;
  const TSeps seps = SepsFor(APath);
  const std::u16string p = ExcludeTrailingChar(APath, seps.Path);
  // A POSIX root ("/") trims to nothing and always exists; the short-path rule is for drive texts.
  if (p.empty()) return seps.Path == u'/' && !TrimBlanks(APath).empty();
  if ((seps.Path == u'\\' && p.size() < 3) || FolderExists(p)) return true;
  const std::u16string parent = ExtractFilePathEx(p, seps.Drive, seps.Path);
  if (parent == p) return true;
  if (!ForceFolders(parent)) return false;
  if (::mkdir(Native(p).c_str(), 0777) == 0) return true;
  return errno == EEXIST && FolderExists(p);
}

std::u16string EnsureFolder(std::u16string_view APath) {
  std::u16string result = ExpandEnvironmentText(APath);
  if (!FolderExists(result)) {
    result = CleanFileName(result, false);
    if (!ForceFolders(result)) result.clear();
  }
  return ExcludeTrailingChar(result, SepsFor(result).Path);
}

std::u16string EnsureFolderWithBackslash(std::u16string_view APath) {
  const std::u16string folder = EnsureFolder(APath);
  return IncludeTrailingChar(folder, SepsFor(folder).Path);
}

bool TzbUniqueFilenameCallbackHandler::NameExists(std::u16string_view AName) {
  // Every entry counts as taken: a dangling link would be written through to another place, and a
  // folder of that name can never become the file.
  struct stat st {};
  return !AName.empty() && ::lstat(Native(AName).c_str(), &st) == 0;
}

std::u16string MakeUniqueFileName(std::u16string_view AFileName, std::u16string_view APattern, int& ACounter,
                                  IzbUniqueFilenameCallbackHandler& ACallback) {
  if (!ACallback.NameExists(AFileName)) return std::u16string(AFileName);
  const char16_t open = APattern.size() >= 2 ? APattern[0] : u'[';
  const char16_t close = APattern.size() >= 2 ? APattern[1] : u']';
  const TSeps seps = SepsFor(AFileName);
  const std::u16string ext = ExtractFileExtEx(AFileName, seps.Drive, seps.Path);
  std::u16string base(AFileName.substr(0, AFileName.size() - ext.size()));
  ACounter = 0;
  int digits = 0;
  // Brackets count in the file's own name only, never in the folders above it.
  const std::size_t nameStart = ExtractFilePathEx(base, seps.Drive, seps.Path).size();
  const int openPos = LastPos(std::u16string(1, open), base);
  const std::size_t closePos = openPos > 0 ? base.find(close, static_cast<std::size_t>(openPos)) : std::u16string::npos;
  if (openPos > 0 && static_cast<std::size_t>(openPos) > nameStart && closePos != std::u16string::npos) {
    const std::u16string inner = base.substr(static_cast<std::size_t>(openPos), closePos - openPos);
    digits = static_cast<int>(inner.size());
    ACounter = StrToIntHexDef(inner, 0);
    base.resize(static_cast<std::size_t>(openPos - 1));
  } else {
    base += u' ';
  }
  for (;;) {
    if (ACounter == INT_MAX) throw EzbException(u"Kein freier Dateiname für \"%s\"", {std::u16string(AFileName)});
    ++ACounter;
    std::u16string number = IntToText(ACounter);
    if (static_cast<int>(number.size()) < digits)
      number.insert(0, static_cast<std::size_t>(digits) - number.size(), u'0');
    std::u16string candidate = base + open + number + close + ext;
    if (!ACallback.NameExists(candidate)) return candidate;
  }
}

std::u16string GetUniqueFileName(std::u16string_view AFileName, std::u16string_view APattern, int& ACounter) {
  const TSeps seps = SepsFor(AFileName);
  const std::u16string folder = EnsureFolderWithBackslash(ExtractFilePathEx(AFileName, seps.Drive, seps.Path));
  const std::u16string name = CleanFileName(ExtractFileNameEx(AFileName, seps.Drive, seps.Path), true);
  TzbUniqueFilenameCallbackHandler callback;
  return MakeUniqueFileName(folder + name, APattern, ACounter, callback);
}

std::u16string UniqueFileName(std::u16string_view AFileName, std::u16string_view APattern) {
  int counter = 0;
  return GetUniqueFileName(AFileName, APattern, counter);
}

std::string EncodeText(std::u16string_view AText, TzbEncoding AEncoding) {
  switch (AEncoding) {
    case TzbEncoding::Ansi: return ToAnsiBytes(AText);
    case TzbEncoding::UTF8: return Utf16ToUtf8(AText);
    case TzbEncoding::Latin1: return ToLatin1Bytes(AText);
    case TzbEncoding::None:
    case TzbEncoding::UTF16LE: break;
  }
  std::string bytes;
  bytes.reserve(AText.size() * 2);
  for (char16_t c : AText) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

TzbFileStream::TzbFileStream(std::u16string_view AFileName, TzbFileMode AMode, TzbEncoding AEncoding)
    : FEncoding(AEncoding), FFileName(AFileName) {
  int flags = O_CLOEXEC;
  switch (AMode) {
    case TzbFileMode::fmCreate: flags |= O_CREAT | O_TRUNC | O_RDWR; break;
    case TzbFileMode::fmOpenWrite: flags |= O_WRONLY; break;
    case TzbFileMode::fmOpenReadWrite: flags |= O_RDWR; break;
    case TzbFileMode::fmOpenRead: flags |= O_RDONLY; break;
  }
  FHandle.reset(::open(Native(AFileName).c_str(), flags, 0666));
  if (!FHandle) ThrowFileError(AMode == TzbFileMode::fmCreate ? CannotCreate : CannotOpen, AFileName, errno);
}

TzbFileStream::~TzbFileStream() = default;

void TzbFileStream::WriteBuffer(const void* AData, std::size_t ACount) {
  if (!WriteAll(FHandle.get(), static_cast<const char*>(AData), ACount)) ThrowFileError(WriteFailed, FFileName, errno);
}

void TzbFileStream::WriteString(std::u16string_view AValue) {
  if (AValue.empty()) return;
  const std::string bytes = EncodeText(AValue, FEncoding);
  WriteBuffer(bytes.data(), bytes.size());
}

void TzbFileStream::WriteLn(std::u16string_view AValue) { WriteString(std::u16string(AValue) + u"\r\n"); }
void TzbFileStream::WriteLinebreak() { WriteString(u"\r\n"); }
void TzbFileStream::WriteAnsiString(std::string_view AValue) { WriteBuffer(AValue.data(), AValue.size()); }
void TzbFileStream::WriteLnA(std::string_view AValue) { WriteAnsiString(std::string(AValue) + "\r\n"); }
void TzbFileStream::WriteLinebreakA() { WriteAnsiString("\r\n"); }

void TzbFileStream::WriteWideString(std::u16string_view AValue) {
  const std::string bytes = EncodeText(AValue, TzbEncoding::UTF16LE);
  WriteBuffer(bytes.data(), bytes.size());
}

void TzbFileStream::WriteLnW(std::u16string_view AValue) { WriteWideString(std::u16string(AValue) + u"\r\n"); }
void TzbFileStream::WriteLinebreakW() { WriteWideString(u"\r\n"); }
void TzbFileStream::WriteUTF8BOM() { WriteAnsiString("\xEF\xBB\xBF"); }
void TzbFileStream::WriteBOM_LSB_FIRST() { WriteAnsiString("\xFF\xFE"); }

std::int64_t TzbFileStream::Position() const { return ::lseek(FHandle.get(), 0, SEEK_CUR); }

std::int64_t TzbFileStream::Size() const {
  struct stat st {};
  return ::fstat(FHandle.get(), &st) == 0 ? st.st_size : 0;
}

void TzbFileStream::Seek(std::int64_t APosition) {
  if (::lseek(FHandle.get(), APosition, SEEK_SET) < 0) ThrowFileError(ReadFailed, FFileName, errno);
}

bool TzbFileStream::Eof() const { return Position() >= Size(); }

void TzbFileStream::Sync() {
  if (::fsync(FHandle.get()) != 0) ThrowFileError(WriteFailed, FFileName, errno);
}

std::size_t TzbFileStream::Read(void* AData, std::size_t ACount) {
  for (;;) {
    const ssize_t n = ::read(FHandle.get(), AData, ACount);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) ThrowFileError(ReadFailed, FFileName, errno);
  }
}

std::string ReadFileBytes(std::u16string_view AFileName) {
  TzbFileStream stream(AFileName, TzbFileMode::fmOpenRead);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const std::size_t n = stream.Read(buffer, sizeof buffer);
    if (n == 0) break;
    bytes.append(buffer, n);
  }
  return bytes;
}

namespace {
std::mutex& LogFolderMutex() {
  static std::mutex m;
  return m;
}
std::u16string& LogFolderSlot() {
  static std::u16string folder;
  return folder;
}
}  // namespace

void SetLogFolder(std::u16string_view APath) {
  std::lock_guard lock(LogFolderMutex());
  LogFolderSlot() = IncludeTrailingChar(APath, u'/');
}

std::u16string GetLogFolder(bool APpendDate) {
  std::u16string folder;
  {
    std::lock_guard lock(LogFolderMutex());
    if (LogFolderSlot().empty()) LogFolderSlot() = IncludeTrailingChar(GetSpecialFolder(sfPersonal), u'/');
    folder = LogFolderSlot();
  }
  if (APpendDate) folder += DateFolderName(CurrentDate());
  return folder;
}

std::u16string GetLogFolderWithoutBackslash(bool APpendDate) {
  std::u16string folder = GetLogFolder(APpendDate);
  if (!folder.empty()) folder.pop_back();
  return folder;
}

namespace {
// The fallback when no file can be made beside the target: it is rewritten where it is.
void WriteInPlace(const std::string& ATarget, std::u16string_view AFileName, std::string_view ABytes) {
  TzbFd fd(::open(ATarget.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
  if (!fd) ThrowFileError(CannotCreate, AFileName, errno);
  bool ok = WriteAll(fd.get(), ABytes.data(), ABytes.size()) && ::fsync(fd.get()) == 0;
  const int err = errno;
  if (!fd.Close()) ok = false;
  if (!ok) ThrowFileError(WriteFailed, AFileName, err);
}
// The process id in a temporary name of WriteFileAtomic (".zb<pid>-<n>.tmp"), or 0 for other names.
pid_t TemporaryOwner(const char* AName) {
  const std::string_view name(AName);
  if (!name.starts_with(".zb") || !name.ends_with(".tmp")) return 0;
  const std::string_view middle = name.substr(3, name.size() - 7);
  const std::size_t dash = middle.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == middle.size()) return 0;
  const auto digits = [](std::string_view AText) {
    return AText.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (!digits(middle.substr(0, dash)) || !digits(middle.substr(dash + 1)) || dash > 9) return 0;
  return static_cast<pid_t>(std::strtol(std::string(middle.substr(0, dash)).c_str(), nullptr, 10));
}

// A writer killed between creating its temporary file and the rename leaves the file behind. It is
// removed the next time the folder is written: only our own regular files, only when the process in
// the name is gone and no one holds the lock a writer keeps while it writes (a reused or foreign
// process id then still protects a live writer).
void RemoveDeadTemporaries(const std::string& ADir) {
  TzbFd folder(::open(ADir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return;
  const TzbDirOwner dir(::fdopendir(folder.get()));
  if (!dir) return;
  const int dirFd = folder.release();  // the listing owns it now
  while (const dirent* entry = ::readdir(dir.get())) {
    const pid_t owner = TemporaryOwner(entry->d_name);
    if (owner <= 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    const TzbFd fd(::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) continue;
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dirFd, entry->d_name, 0);
  }
}

}  // namespace

void WriteFileAtomic(std::u16string_view AFileName, std::string_view ABytes, unsigned ANewFileMode) {
  std::string target = Native(AFileName);
  struct stat link {};
  if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    // Write through a link to its target, so the link survives; but not through another user's link,
    // which may have been planted in a shared folder.
    if (link.st_uid != ::geteuid() && link.st_uid != 0) ThrowFileError(CannotCreate, AFileName, EPERM);
    if (const TzbCMemory<char> real(::realpath(target.c_str(), nullptr)); real) target = real.get();
  }
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) ThrowFileError(CannotCreate, AFileName, EISDIR);
  // A device or a pipe is no document: renaming over it would replace it, writing into it may block.
  if (exists && !S_ISREG(existing.st_mode)) ThrowFileError(CannotCreate, AFileName, EINVAL);

  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  static std::atomic<unsigned> serial{0};
  std::string temp;
  TzbFd fd;
  // A short name: the target's own name may already use up the length a name can have.
  for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
    temp = dir + "/.zb" + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
    fd.reset(::open(temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, exists ? 0600 : ANewFileMode));
    if (!fd && errno != EEXIST) break;
  }
  if (!fd) {
    const int err = errno;
    // A writable file in a folder that takes no new names can still be saved, in place.
    if (exists && (err == EACCES || err == EPERM || err == EROFS) && ::access(target.c_str(), W_OK) == 0)
      return WriteInPlace(target, AFileName, ABytes);
    ThrowFileError(CannotCreate, AFileName, err);
  }
  ::flock(fd.get(), LOCK_EX | LOCK_NB);  // tells other writers' clean-up that this file is alive
  bool ok = WriteAll(fd.get(), ABytes.data(), ABytes.size());
  int err = ok ? 0 : errno;
  if (ok && exists) ::fchmod(fd.get(), existing.st_mode & 07777);
  if (ok && ::fsync(fd.get()) != 0) {
    ok = false;
    err = errno;
  }
  if (!fd.Close() && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    ThrowFileError(exists ? WriteFailed : CannotCreate, AFileName, err);
  }
  if (const TzbFd folder(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)); folder) ::fsync(folder.get());
  RemoveDeadTemporaries(dir);
}

}  // namespace zb
