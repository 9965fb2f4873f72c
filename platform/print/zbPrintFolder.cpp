#include "platform/print/zbPrintFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/glib/zbGOwner.h"
#include "support/zbException.h"

namespace zb::print {
namespace {

// Inside each folder; locked by the owning process for as long as the folder is in use.
constexpr char LockName[] = ".owner";

// The process id in a print folder's name, or 0 for any other name.
pid_t FolderOwner(std::string_view AName) {
  if (!AName.starts_with(PrintFolderPrefix)) return 0;
  const std::string_view rest = AName.substr(std::char_traits<char>::length(PrintFolderPrefix));
  const std::size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9 || rest.size() - dash - 1 != 6) return 0;
  if (rest.substr(0, dash).find_first_not_of("0123456789") != std::string_view::npos) return 0;
  return static_cast<pid_t>(std::strtol(std::string(rest.substr(0, dash)).c_str(), nullptr, 10));
}

bool ProcessGone(pid_t APid) { return ::kill(APid, 0) != 0 && errno == ESRCH; }

// Whether no one holds the folder's lock. A folder without a lock file is one its owner died making.
bool LockFree(int AFolder) {
  const TzbFd lock(::openat(AFolder, LockName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!lock) return errno == ENOENT;
  return ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
}

}  // namespace

void RemoveDeadPrintFolders(const std::string& ATempFolder) {
  const std::string temp = ATempFolder.empty() ? g_get_tmp_dir() : ATempFolder;
  const TzbDirOwner dir(::opendir(temp.c_str()));
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const pid_t owner = FolderOwner(entry->d_name);
    // The process id is checked first: a live owner's folder is never opened, let alone removed.
    if (owner <= 0 || owner == ::getpid() || !ProcessGone(owner)) continue;
    const std::string path = temp + "/" + entry->d_name;
    const TzbFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder) continue;  // a link or a file under our name is not ours to touch
    struct stat st {};
    // The lock also protects a live owner whose process id means nothing here (another pid namespace).
    if (::fstat(folder.get(), &st) != 0 || st.st_uid != ::geteuid() || !LockFree(folder.get())) continue;
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
}

TPrintFolder::TPrintFolder() {
  RemoveDeadPrintFolders();
  const std::string pattern = std::string(PrintFolderPrefix) + std::to_string(::getpid()) + "-XXXXXX";
  const TzbGChars made(g_dir_make_tmp(pattern.c_str(), nullptr));
  if (!made) throw EzbException(std::u16string(u"Für den Druck konnte kein temporärer Ordner angelegt werden"));
  FPath = made.get();
  FLock.reset(::open(File(LockName).c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (FLock) ::flock(FLock.get(), LOCK_EX | LOCK_NB);
}

TPrintFolder::~TPrintFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

}  // namespace zb::print
