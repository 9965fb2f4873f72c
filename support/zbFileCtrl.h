// File-system routines: the temporary folder, splitting and cleaning path texts, creating folders,
// free file names, and a file stream that writes text.
// Path routines keep separator parameters; callers on Linux pass "/" and no drive separator (U+0000).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/zbCOwner.h"
#include "support/zbStr.h"

namespace zb {

// The path separator of this platform, and "no drive separator".
constexpr char16_t PathDelim = u'/';
constexpr char16_t NoDriveSep = u'\0';

// The system temporary folder with a trailing "/", cached on first use.
std::u16string GetTempFolder();

// ADriveSep U+0000: no drive separator. APathSep U+0000: "\" if the path holds one, else "/".
std::u16string ExtractFilePathEx(std::u16string_view APath, char16_t ADriveSep = NoDriveSep,
                                 char16_t APathSep = PathDelim);
std::u16string ExtractFileNameEx(std::u16string_view APath, char16_t ADriveSep = NoDriveSep,
                                 char16_t APathSep = PathDelim);
std::u16string ExtractFileDirEx(std::u16string_view APath, char16_t ADriveSep = NoDriveSep,
                                char16_t APathSep = PathDelim);
std::u16string ExtractFileExtEx(std::u16string_view APath, char16_t ADriveSep = NoDriveSep,
                                char16_t APathSep = PathDelim);
std::u16string ExtractFileExtNoDot(std::u16string_view APath);
std::u16string RemoveFileExt(std::u16string_view APath);
std::u16string ExtractFileBaseName(std::u16string_view APath, char16_t ADriveSep = NoDriveSep,
                                   char16_t APathSep = PathDelim);
int IndexOfFileExt(std::u16string_view APath, const TStringList& AExtensions);

// "%NAME%", and on Linux "$NAME" and "${NAME}" too; unknown names stay as written.
std::u16string ExpandEnvironmentText(std::u16string_view AText);
bool FileExists(std::u16string_view APath);  // a file (links followed), not a folder
bool FolderExists(std::u16string_view APath);
bool FolderExistsExpanded(std::u16string_view APath);
std::u16string CleanFileName(std::u16string_view AText, bool ANameOnly);
bool ForceFolders(std::u16string_view APath);
std::u16string EnsureFolder(std::u16string_view APath);
std::u16string EnsureFolderWithBackslash(std::u16string_view APath);

// Unique names
class IzbUniqueFilenameCallbackHandler {
 public:
  virtual ~IzbUniqueFilenameCallbackHandler() = default;
  virtual bool NameExists(std::u16string_view AName) = 0;
};
class TzbUniqueFilenameCallbackHandler : public IzbUniqueFilenameCallbackHandler {
 public:
  bool NameExists(std::u16string_view AName) override;
};
std::u16string MakeUniqueFileName(std::u16string_view AFileName, std::u16string_view APattern, int& ACounter,
                                  IzbUniqueFilenameCallbackHandler& ACallback);
std::u16string GetUniqueFileName(std::u16string_view AFileName, std::u16string_view APattern, int& ACounter);
std::u16string UniqueFileName(std::u16string_view AFileName, std::u16string_view APattern);

// Text encodings a stream may write with; none means raw UTF-16LE.
enum class TzbEncoding { None, Ansi, UTF8, UTF16LE, Latin1 };
std::string EncodeText(std::u16string_view AText, TzbEncoding AEncoding);

enum class TzbFileMode { fmCreate, fmOpenWrite, fmOpenReadWrite, fmOpenRead };

// Writes raise EzbFileError when the disk refuses.
class TzbFileStream {
 public:
  TzbFileStream(std::u16string_view AFileName, TzbFileMode AMode, TzbEncoding AEncoding = TzbEncoding::None);
  ~TzbFileStream();
  TzbFileStream(const TzbFileStream&) = delete;
  TzbFileStream& operator=(const TzbFileStream&) = delete;

  void WriteBuffer(const void* AData, std::size_t ACount);
  void WriteString(std::u16string_view AValue);
  void WriteLn(std::u16string_view AValue);
  void WriteLinebreak();
  void WriteAnsiString(std::string_view AValue);
  void WriteLnA(std::string_view AValue);
  void WriteLinebreakA();
  void WriteWideString(std::u16string_view AValue);
  void WriteLnW(std::u16string_view AValue);
  void WriteLinebreakW();
  void WriteUTF8BOM();
  void WriteBOM_LSB_FIRST();

  std::int64_t Position() const;
  std::int64_t Size() const;
  void Seek(std::int64_t APosition);
  bool Eof() const;  // EOF is a C macro
  // Flushes to disk (fsync); the caller decides when durability matters.
  void Sync();
  std::size_t Read(void* AData, std::size_t ACount);

 private:
  TzbFd FHandle;
  TzbEncoding FEncoding;
  std::u16string FFileName;
};

// The process-wide log folder, kept with a trailing "/". Empty until set; GetLogFolder then falls back
// to the user's documents folder.
void SetLogFolder(std::u16string_view APath);
std::u16string GetLogFolder(bool APpendDate = false);
std::u16string GetLogFolderWithoutBackslash(bool APpendDate = false);

// Bytes of a whole file; raises EzbFileError.
std::string ReadFileBytes(std::u16string_view AFileName);
// Writes to a temporary name in the same folder and renames it over FileName, so the old file stays
// intact if anything fails. Raises EzbFileError.
// A new file gets NewFileMode (before the umask); an existing one keeps its permissions.
void WriteFileAtomic(std::u16string_view AFileName, std::string_view ABytes, unsigned ANewFileMode = 0666);

}  // namespace zb
