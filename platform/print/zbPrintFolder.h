// The temporary folder of one print: the engine's rendering and the stamped PDF live there while the
// print runs. Each folder names its process and holds a lock while it lives, so that the folders of
// a process that was killed are found and removed, and a live one's never are.
#pragma once

#include <string>

#include "support/zbCOwner.h"

namespace zb::print {

// The prefix of every print folder in the temporary folder: prefix, process id, "-", six characters.
constexpr char PrintFolderPrefix[] = "htmlservice-print-";

class TPrintFolder {
 public:
  // Removes dead processes' folders first (RemoveDeadPrintFolders), then makes its own.
  TPrintFolder();
  ~TPrintFolder();
  TPrintFolder(const TPrintFolder&) = delete;
  TPrintFolder& operator=(const TPrintFolder&) = delete;
  const std::string& Path() const { return FPath; }
  std::string File(const char* AName) const { return FPath + "/" + AName; }

 private:
  std::string FPath;
  TzbFd FLock;  // held while the folder is in use
};

// Removes the print folders in ATempFolder (the temporary folder when empty) whose process is gone:
// only folders of this user, named as above, with no live process holding their lock.
void RemoveDeadPrintFolders(const std::string& ATempFolder = {});

}  // namespace zb::print
