// Version information of program files: the VS_VERSIONINFO resource, read out of Windows PE files
// (executables and DLLs) or parsed from memory. ELF files carry none.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/zbException.h"

namespace zb {

class EzbFileVersionInfoError : public EzbException {
 public:
  using EzbException::EzbException;
};

struct TLangIdRec {
  std::uint16_t LangId = 0;
  std::uint16_t CodePage = 0;
  std::uint32_t Pair() const { return static_cast<std::uint32_t>(CodePage) << 16 | LangId; }
  bool operator==(const TLangIdRec&) const = default;
};

// VS_FIXEDFILEINFO, 52 bytes.
struct TVSFixedFileInfo {
  std::uint32_t dwSignature = 0, dwStrucVersion = 0, dwFileVersionMS = 0, dwFileVersionLS = 0, dwProductVersionMS = 0,
                dwProductVersionLS = 0, dwFileFlagsMask = 0, dwFileFlags = 0, dwFileOS = 0, dwFileType = 0,
                dwFileSubtype = 0, dwFileDateMS = 0, dwFileDateLS = 0;
};

enum TFileFlag : unsigned { ffDebug, ffInfoInferred, ffPatched, ffPreRelease, ffPrivateBuild, ffSpecialBuild };
using TFileFlags = unsigned;  // bit n set = TFileFlag n present

constexpr std::uint16_t RT_VERSION = 16;

// The VS_VERSIONINFO bytes of a PE file; empty when the file is no PE image or has none. Never raises.
std::string ReadVersionResource(std::u16string_view AFileName);
bool HasVersionResource(std::u16string_view AFileName);
bool ReadFixedFileInfo(std::u16string_view AFileName, TVSFixedFileInfo& ARecord);

class TzbFileVersionInfo {
 public:
  enum TVersionKey {
    vkComments,
    vkCompanyName,
    vkFileDescription,
    vkFileVersion,
    vkInternalName,
    vkLegalCopyright,
    vkLegalTradeMarks,
    vkOriginalFilename,
    vkProductName,
    vkProductVersion,
    vkSpecialBuild,
    vkPrivateBuild
  };
  static constexpr std::array<std::u16string_view, 12> VersionKeyNames = {
      u"Comments",     u"CompanyName",    u"FileDescription", u"FileVersion",
      u"InternalName", u"LegalCopyright", u"LegalTradeMarks", u"OriginalFilename",
      u"ProductName",  u"ProductVersion", u"SpecialBuild",    u"PrivateBuild"};

  // Reads and parses the file's version resource; raises EzbFileVersionInfoError.
  explicit TzbFileVersionInfo(std::u16string_view AFileName);
  // Parses a copy of a version resource in memory; raises EzbFileVersionInfoError.
  static TzbFileVersionInfo Attach(const void* AVersionInfoData, std::size_t ASize);

  std::u16string BinFileVersion() const;
  std::u16string BinProductVersion() const;
  TVSFixedFileInfo FixedInfo() const { return FFixedInfo; }
  TFileFlags FileFlags() const { return FFileFlags; }
  std::uint32_t FileOS() const { return FFixedInfo.dwFileOS; }
  std::uint32_t FileType() const { return FFixedInfo.dwFileType; }
  std::uint32_t FileSubType() const { return FFixedInfo.dwFileSubtype; }

  // The value of a key in the selected table; empty when missing. Keys ignore letter case.
  std::u16string Value(std::u16string_view AKey) const;
  std::u16string Value(TVersionKey AKey) const { return Value(VersionKeyNames[AKey]); }
  std::u16string Comments() const { return Value(vkComments); }
  std::u16string CompanyName() const { return Value(vkCompanyName); }
  std::u16string FileDescription() const { return Value(vkFileDescription); }
  std::u16string FileVersion() const { return Value(vkFileVersion); }
  std::u16string InternalName() const { return Value(vkInternalName); }
  std::u16string LegalCopyright() const { return Value(vkLegalCopyright); }
  std::u16string LegalTradeMarks() const { return Value(vkLegalTradeMarks); }
  std::u16string OriginalFilename() const { return Value(vkOriginalFilename); }
  std::u16string ProductName() const { return Value(vkProductName); }
  std::u16string ProductVersion() const { return Value(vkProductVersion); }
  std::u16string SpecialBuild() const { return Value(vkSpecialBuild); }
  std::u16string PrivateBuild() const { return Value(vkPrivateBuild); }

  // The key=value lines of the selected table.
  std::vector<std::u16string> Items() const;
  int LanguageCount() const { return static_cast<int>(FLanguages.size()); }
  int LanguageIndex() const { return FLanguageIndex; }
  void SetLanguageIndex(int AValue);
  TLangIdRec Languages(int AIndex) const;
  std::u16string LanguageIds(int AIndex) const;
  std::u16string LanguageNames(int AIndex) const;
  int TranslationCount() const { return static_cast<int>(FTranslations.size()); }
  TLangIdRec Translations(int AIndex) const;
  bool TranslationMatchesLanguages(bool AExact) const;

  static std::u16string VersionLanguageId(TLangIdRec ALangIdRec);
  static std::u16string VersionLanguageName(std::uint16_t ALangId);

 private:
  TzbFileVersionInfo() = default;
  void Parse();
  void CheckLanguageIndex(int AIndex) const;

  struct TItem {
    std::u16string Line;  // key=value
    int Table;
  };
  std::string FBuffer;
  TVSFixedFileInfo FFixedInfo;
  TFileFlags FFileFlags = 0;
  std::vector<TItem> FItemList;
  std::vector<TLangIdRec> FLanguages;
  int FLanguageIndex = 0;
  std::vector<TLangIdRec> FTranslations;
};

}  // namespace zb
