// The registry editor's text format ("Windows Registry Editor Version 5.00"): reading a key tree out
// of the store into it, and applying such a file to the store as one transaction.
// Values are carried losslessly: a text that does not read back as the same bytes is written as hex(N).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/regstore/RegStore.h"
#include "support/zbException.h"

namespace zb {

// Malformed files and failed imports; the message names the line ("line 12: …").
class EzbRegFileError : public EzbException {
 public:
  using EzbException::EzbException;
};

constexpr std::u16string_view RegFileHeader = u"Windows Registry Editor Version 5.00";

struct TRegFileValue {
  std::u16string Name;  // "" is the default value ("@")
  bool Delete = false;  // "name"=-
  std::uint32_t Type = REG_NONE;
  std::string Data;  // raw bytes
  int Line = 0;
};

struct TRegFileKey {
  HKEY Root = 0;
  std::u16string Path;  // below the root, without a leading backslash
  bool Delete = false;  // [-HKEY_…\path]
  std::vector<TRegFileValue> Values;
  int Line = 0;
};

using TRegFile = std::vector<TRegFileKey>;

// Accepts UTF-16LE with byte-order mark (as the registry editor writes) and UTF-8, CR LF or LF.
TRegFile ParseRegFile(std::string_view ABytes);
// UTF-8 with LF, or with Utf16 the registry editor's own form: UTF-16LE with byte-order mark and CR LF.
std::string FormatRegFile(const TRegFile& AFile, bool AUtf16 = false);

// One value as a line of the format, without line end ("name"=dword:00000001).
std::u16string FormatRegValue(const TRegFileValue& AValue);
// "[HKEY_CURRENT_USER\Software\X]"
std::u16string FormatRegKeyName(HKEY ARoot, std::u16string_view APath);

// The key and everything below it, in the store's order. Raises EzbRegFileError.
TRegFile ExportKeyTree(IRegStore& AStore, HKEY ARoot, std::u16string_view APath);

// Applies every key and value of File, or nothing: one transaction per hive, all rolled back when
// anything fails. Raises EzbRegFileError naming the line.
void ImportRegFile(IRegStore& AStore, const TRegFile& AFile);

// Removes a key with all its sub-keys (a root is refused).
LSTATUS DeleteKeyTree(IRegStore& AStore, HKEY ARoot, std::u16string_view APath);

// "HKCU\Software\X" or "HKEY_CURRENT_USER\Software\X" → root and path; false for an unknown root.
bool SplitRegistryPath(std::u16string_view AText, HKEY& ARoot, std::u16string& APath);

// A short English text for a result code, for people.
std::string RegErrorText(LSTATUS ACode);

}  // namespace zb
