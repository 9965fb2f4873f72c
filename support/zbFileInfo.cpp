#include "support/zbFileInfo.h"
#include "support/zbCOwner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "support/zbStr.h"

namespace zb {
namespace {

constexpr const char16_t* NoVersionInfo = u"Die Datei beinhaltet keine Versionsinformation";
constexpr const char16_t* BadLanguageIndex = u"Index für Spracheinstellungen ist ungültig";
constexpr std::uint32_t FixedSignature = 0xFEEF04BD;
constexpr std::size_t FixedSize = 52;

[[noreturn]] void Refuse() { throw EzbFileVersionInfoError(std::u16string(NoVersionInfo)); }

// Bounds-checked little-endian reads; a damaged resource never reads outside its bytes.
class TReader {
 public:
  explicit TReader(std::string_view AData) : FData(AData) {}
  std::size_t Size() const { return FData.size(); }
  bool Has(std::size_t AAt, std::size_t AN) const { return AAt <= FData.size() && AN <= FData.size() - AAt; }
  std::uint16_t U16(std::size_t AAt) const {
    if (!Has(AAt, 2)) Refuse();
    return static_cast<std::uint16_t>(Byte(AAt) | Byte(AAt + 1) << 8);
  }
  std::uint32_t U32(std::size_t AAt) const {
    if (!Has(AAt, 4)) Refuse();
    return static_cast<std::uint32_t>(Byte(AAt)) | static_cast<std::uint32_t>(Byte(AAt + 1)) << 8 |
           static_cast<std::uint32_t>(Byte(AAt + 2)) << 16 | static_cast<std::uint32_t>(Byte(AAt + 3)) << 24;
  }
  unsigned Byte(std::size_t AAt) const { return static_cast<unsigned char>(FData[AAt]); }
  std::string_view Bytes(std::size_t AAt, std::size_t AN) const {
    if (!Has(AAt, AN)) Refuse();
    return FData.substr(AAt, AN);
  }

 private:
  std::string_view FData;
};

std::size_t Align4(std::size_t AV) { return (AV + 3) & ~static_cast<std::size_t>(3); }

struct TBlock {
  std::size_t Start = 0, End = 0;  // End = Start + wLength
  std::size_t ValueLength = 0;     // as stored
  std::uint16_t Type = 0;          // 1 text, 0 binary; the old layout has none (text)
  std::u16string Key;
  std::size_t ValueStart = 0;     // aligned
  std::size_t ChildrenStart = 0;  // aligned, after the value
};

class TParser {
 public:
  TParser(std::string_view AData) : R(AData), Wide(R.Size() >= 6 && R.U16(4) < 2) {}

  TBlock ReadBlock(std::size_t AAt, std::size_t ALimit) const {
    TBlock b;
    b.Start = AAt;
    const std::uint16_t length = R.U16(AAt);
    if (length == 0) Refuse();
    b.End = AAt + length;
    if (b.End > ALimit) Refuse();
    b.ValueLength = R.U16(AAt + 2);
    std::size_t p = AAt + 4;
    if (Wide) {
      b.Type = R.U16(p);
      p += 2;
      for (;;) {
        if (p + 2 > b.End) Refuse();
        const char16_t c = R.U16(p);
        p += 2;
        if (c == 0) break;
        b.Key += c;
      }
    } else {
      b.Type = 1;
      for (;;) {
        if (p >= b.End) Refuse();
        const unsigned c = R.Byte(p++);
        if (c == 0) break;
        b.Key += static_cast<char16_t>(c);
      }
    }
    b.ValueStart = Align4(p);
    const std::size_t valueBytes = ValueBytes(b);
    if (b.ValueStart > b.End || valueBytes > b.End - b.ValueStart) {
      // Some writers count a text's length in bytes; clamp it to the block rather than refuse it.
      b.ValueStart = std::min(b.ValueStart, b.End);
      const std::size_t room = b.End - b.ValueStart;
      b.ValueLength = (Wide && b.Type == 1) ? room / 2 : room;
    }
    b.ChildrenStart = std::min(Align4(b.ValueStart + ValueBytes(b)), b.End);
    return b;
  }

  std::size_t ValueBytes(const TBlock& AB) const {
    return (Wide && AB.Type == 1) ? AB.ValueLength * 2 : AB.ValueLength;
  }

  std::u16string Text(std::size_t AAt, std::size_t AUnits, std::size_t AEnd) const {
    std::u16string s;
    for (std::size_t i = 0; i < AUnits; ++i) {
      const std::size_t p = Wide ? AAt + 2 * i : AAt + i;
      if (p + (Wide ? 2 : 1) > AEnd) break;
      const char16_t c = Wide ? static_cast<char16_t>(R.U16(p)) : static_cast<char16_t>(R.Byte(p));
      if (c == 0) break;
      s += c;
    }
    if (!Wide) s = FromAnsiBytes(ToLatin1Bytes(s));
    return s;
  }

  template <typename Fn>
  void ForEachChild(const TBlock& AParent, Fn&& AFn) const {
    std::size_t p = AParent.ChildrenStart;
    while (p + 4 <= AParent.End) {
      const TBlock child = ReadBlock(p, AParent.End);
      if (!AFn(child)) return;
      p = Align4(child.End);
    }
  }

  TReader R;
  bool Wide;
};

// A table key such as 040704b0: every "0x" removed, then everything that is not a hex digit.
std::optional<TLangIdRec> TableKey(std::u16string AKey) {
  AKey = StringReplace(AKey, u"0x", u"", rfReplaceAll | rfIgnoreCase);
  std::u16string digits;
  for (char16_t c : AKey)
    if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')) digits += c;
  if (digits.size() != 8) return std::nullopt;
  TLangIdRec rec;
  rec.LangId = static_cast<std::uint16_t>(StrToIntHexDef(u"$" + digits.substr(0, 4), 0));
  rec.CodePage = static_cast<std::uint16_t>(StrToIntHexDef(u"$" + digits.substr(4, 4), 0));
  return rec;
}

// --- PE files ---------------------------------------------------------------------------------

struct TSection {
  std::uint32_t VirtualAddress, VirtualSize, RawSize, RawPointer;
};

std::optional<std::size_t> RvaToOffset(const std::vector<TSection>& ASections, std::uint32_t ARva) {
  for (const auto& s : ASections) {
    const std::uint32_t extent = std::max(s.VirtualSize, s.RawSize);
    if (ARva >= s.VirtualAddress && ARva - s.VirtualAddress < extent && ARva - s.VirtualAddress < s.RawSize)
      return static_cast<std::size_t>(s.RawPointer) + (ARva - s.VirtualAddress);
  }
  return std::nullopt;
}

std::string VersionResourceOfImage(std::string_view AImage) {
  const TReader r(AImage);
  if (!r.Has(0, 64) || AImage.substr(0, 2) != "MZ") return {};
  const std::uint32_t nt = r.U32(0x3C);
  if (nt == 0 || !r.Has(nt, 24) || AImage.substr(nt, 4) != std::string_view("PE\0\0", 4)) return {};
  const std::uint16_t sectionCount = r.U16(nt + 6);
  const std::uint16_t optionalSize = r.U16(nt + 20);
  const std::size_t opt = nt + 24;
  if (!r.Has(opt, optionalSize) || optionalSize < 2) return {};
  const std::uint16_t magic = r.U16(opt);
  const std::size_t dirCountAt = magic == 0x20B ? opt + 108 : opt + 92;
  const std::size_t dirsAt = magic == 0x20B ? opt + 112 : opt + 96;
  constexpr std::size_t dirSize = 8;
  if (magic != 0x10B && magic != 0x20B) return {};
  if (dirCountAt + 4 > opt + optionalSize || r.U32(dirCountAt) < 3 || dirsAt + 3 * dirSize > opt + optionalSize)
    return {};
  const std::uint32_t resourceRva = r.U32(dirsAt + 2 * dirSize);
  if (resourceRva == 0) return {};

  std::vector<TSection> sections;
  const std::size_t table = opt + optionalSize;
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const std::size_t s = table + i * 40;
    if (!r.Has(s, 40)) return {};
    sections.push_back({r.U32(s + 12), r.U32(s + 8), r.U32(s + 16), r.U32(s + 20)});
  }
  const auto root = RvaToOffset(sections, resourceRva);
  if (!root) return {};

  // Three levels: type, name, language; the first name and language of RT_VERSION are taken.
  auto findEntry = [&](std::size_t ADir, std::optional<std::uint16_t> AId) -> std::optional<std::uint32_t> {
    if (!r.Has(ADir, 16)) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(r.U16(ADir + 12)) + r.U16(ADir + 14);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t e = ADir + 16 + i * 8;
      if (!r.Has(e, 8)) return std::nullopt;
      const std::uint32_t name = r.U32(e);
      if (!AId || (!(name & 0x80000000u) && name == *AId)) return r.U32(e + 4);
    }
    return std::nullopt;
  };
  std::size_t dir = *root;
  std::optional<std::uint16_t> want = RT_VERSION;
  for (int level = 0; level < 3; ++level) {
    const auto entry = findEntry(dir, want);
    if (!entry) return {};
    const bool subdir = (*entry & 0x80000000u) != 0;
    const std::size_t target = *root + (*entry & 0x7FFFFFFFu);
    if (level < 2) {
      if (!subdir) return {};
      dir = target;
      want.reset();
      continue;
    }
    if (subdir || !r.Has(target, 16)) return {};
    const std::uint32_t dataRva = r.U32(target), size = r.U32(target + 4);
    const auto data = RvaToOffset(sections, dataRva);
    if (!data || size == 0 || !r.Has(*data, size)) return {};
    return std::string(AImage.substr(*data, size));
  }
  return {};
}

std::optional<TVSFixedFileInfo> FixedRecordOf(std::string_view AResource) {
  try {
    const TParser parser(AResource);
    const TBlock root = parser.ReadBlock(0, AResource.size());
    if (!SameTextEx(root.Key, u"VS_VERSION_INFO", false) || root.ValueLength != FixedSize) return std::nullopt;
    const TReader& r = parser.R;
    const std::size_t v = root.ValueStart;
    if (r.U32(v) != FixedSignature) return std::nullopt;
    TVSFixedFileInfo f;
    std::uint32_t* fields[] = {&f.dwSignature,        &f.dwStrucVersion,     &f.dwFileVersionMS, &f.dwFileVersionLS,
                               &f.dwProductVersionMS, &f.dwProductVersionLS, &f.dwFileFlagsMask, &f.dwFileFlags,
                               &f.dwFileOS,           &f.dwFileType,         &f.dwFileSubtype,   &f.dwFileDateMS,
                               &f.dwFileDateLS};
    for (std::size_t i = 0; i < 13; ++i) *fields[i] = r.U32(v + 4 * i);
    return f;
  } catch (const EzbFileVersionInfoError&) {
    return std::nullopt;
  }
}

// The whole image, or nothing when it does not start like a PE image: the report asks this of every
// loaded module, and the engine's ELF libraries are large.
// Program files larger than this are not read for their version.
constexpr off_t MaxImageSize = off_t{512} * 1024 * 1024;

std::string ReadPeImage(std::u16string_view AFileName, int& AErr) {
  // Non-blocking, so that a pipe of that name cannot hold the caller; only regular files are read.
  const TzbFd fd(::open(Utf16ToUtf8(AFileName).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    AErr = errno;
    return {};
  }
  AErr = 0;
  std::string image;
  struct stat st {};
  char magic[2] = {};
  if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= MaxImageSize &&
      ::read(fd.get(), magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z') {
    image.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < image.size()) {
      const ssize_t n = ::pread(fd.get(), image.data() + done, image.size() - done, static_cast<off_t>(done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    image.resize(done);
  }
  return image;
}

std::u16string VersionText(std::uint32_t AMs, std::uint32_t ALs) {
  return Format(u"%u.%u.%u.%u", {AMs >> 16, AMs & 0xFFFF, ALs >> 16, ALs & 0xFFFF});
}

}  // namespace

std::string ReadVersionResource(std::u16string_view AFileName) {
  int err = 0;
  const std::string image = ReadPeImage(AFileName, err);
  try {
    return VersionResourceOfImage(image);
  } catch (const EzbFileVersionInfoError&) {
    return {};
  }
}

bool HasVersionResource(std::u16string_view AFileName) { return !ReadVersionResource(AFileName).empty(); }

bool ReadFixedFileInfo(std::u16string_view AFileName, TVSFixedFileInfo& ARecord) {
  const auto fixed = FixedRecordOf(ReadVersionResource(AFileName));
  if (!fixed) return false;
  ARecord = *fixed;
  return true;
}

TzbFileVersionInfo::TzbFileVersionInfo(std::u16string_view AFileName) {
  int err = 0;
  const std::string image = ReadPeImage(AFileName, err);
  try {
    FBuffer = VersionResourceOfImage(image);
  } catch (const EzbFileVersionInfoError&) {
    FBuffer.clear();
  }
  if (FBuffer.empty())
    throw EzbFileVersionInfoError(std::u16string(NoVersionInfo) + u"\r\nDatei: \"" + std::u16string(AFileName) +
                                  u"\"\r\n" + (err ? Utf8ToUtf16(std::strerror(err)) : std::u16string()));
  Parse();
}

TzbFileVersionInfo TzbFileVersionInfo::Attach(const void* AVersionInfoData, std::size_t ASize) {
  TzbFileVersionInfo info;
  if (AVersionInfoData && ASize) info.FBuffer.assign(static_cast<const char*>(AVersionInfoData), ASize);
  info.Parse();
  return info;
}

void TzbFileVersionInfo::Parse() {
  const auto fixed = FixedRecordOf(FBuffer);
  if (!fixed) Refuse();
  FFixedInfo = *fixed;
  const TParser parser(FBuffer);
  const TBlock root = parser.ReadBlock(0, FBuffer.size());
  parser.ForEachChild(root, [&](const TBlock& AChild) {
    if (SameTextEx(AChild.Key, u"StringFileInfo", false)) {
      parser.ForEachChild(AChild, [&](const TBlock& ATable) {
        const auto lang = TableKey(ATable.Key);
        if (!lang || ATable.ValueLength != 0) Refuse();
        const int index = static_cast<int>(FLanguages.size());
        FLanguages.push_back(*lang);
        parser.ForEachChild(ATable, [&](const TBlock& AStr) {
          std::u16string value;
          if (!parser.Wide || AStr.Type == 1) {
            value = parser.Text(AStr.ValueStart, AStr.ValueLength, AStr.End);
          } else if (AStr.Type == 0) {
            if (AStr.ValueLength >= 1 && AStr.ValueLength <= 4) {
              std::uint32_t number = 0;
              for (std::size_t i = 0; i < AStr.ValueLength; ++i)
                number |= static_cast<std::uint32_t>(parser.R.Byte(AStr.ValueStart + i)) << (8 * i);
              std::u16string hex = Format(u"%x", {number});
              const std::size_t digits = 2 * AStr.ValueLength;
              if (hex.size() < digits) hex.insert(0, digits - hex.size(), u'0');
              value = u"$" + hex;
            } else if (AStr.ValueLength > 4) {
              value = parser.Text(AStr.ValueStart, AStr.ValueLength / 2, AStr.End);
            }
          } else {
            Refuse();
          }
          FItemList.push_back({Format(u"%s=%s", {AStr.Key, value}), index});
          return true;
        });
        return true;
      });
      return true;
    }
    if (SameTextEx(AChild.Key, u"VarFileInfo", false)) {
      parser.ForEachChild(AChild, [&](const TBlock& AVar) {
        if (SameTextEx(AVar.Key, u"Translation", false)) {
          const std::size_t bytes = parser.ValueBytes(AVar);
          for (std::size_t i = 0; i + 4 <= bytes; i += 4)
            FTranslations.push_back({parser.R.U16(AVar.ValueStart + i), parser.R.U16(AVar.ValueStart + i + 2)});
        }
        return true;
      });
      return true;
    }
    return false;  // an unknown block ends the parse; what was read stays
  });
  const std::uint32_t f = FFixedInfo.dwFileFlags & FFixedInfo.dwFileFlagsMask;
  FFileFlags = 0;
  if (f & 0x01) FFileFlags |= 1u << ffDebug;
  if (f & 0x10) FFileFlags |= 1u << ffInfoInferred;
  if (f & 0x04) FFileFlags |= 1u << ffPatched;
  if (f & 0x02) FFileFlags |= 1u << ffPreRelease;
  if (f & 0x08) FFileFlags |= 1u << ffPrivateBuild;
  if (f & 0x20) FFileFlags |= 1u << ffSpecialBuild;
  FLanguageIndex = 0;
}

std::u16string TzbFileVersionInfo::BinFileVersion() const {
  return VersionText(FFixedInfo.dwFileVersionMS, FFixedInfo.dwFileVersionLS);
}

std::u16string TzbFileVersionInfo::BinProductVersion() const {
  return VersionText(FFixedInfo.dwProductVersionMS, FFixedInfo.dwProductVersionLS);
}

std::u16string TzbFileVersionInfo::Value(std::u16string_view AKey) const {
  for (const auto& item : FItemList) {
    if (item.Table != FLanguageIndex) continue;
    const auto eq = item.Line.find(u'=');
    if (eq != std::u16string::npos && SameTextEx(std::u16string_view(item.Line).substr(0, eq), AKey, false))
      return item.Line.substr(eq + 1);
  }
  return {};
}

std::vector<std::u16string> TzbFileVersionInfo::Items() const {
  std::vector<std::u16string> lines;
  for (const auto& item : FItemList)
    if (item.Table == FLanguageIndex) lines.push_back(item.Line);
  return lines;
}

void TzbFileVersionInfo::CheckLanguageIndex(int AIndex) const {
  if (AIndex < 0 || AIndex >= LanguageCount()) throw EzbFileVersionInfoError(std::u16string(BadLanguageIndex));
}

void TzbFileVersionInfo::SetLanguageIndex(int AValue) {
  CheckLanguageIndex(AValue);
  FLanguageIndex = AValue;
}

TLangIdRec TzbFileVersionInfo::Languages(int AIndex) const {
  CheckLanguageIndex(AIndex);
  return FLanguages[static_cast<std::size_t>(AIndex)];
}

std::u16string TzbFileVersionInfo::LanguageIds(int AIndex) const { return VersionLanguageId(Languages(AIndex)); }

std::u16string TzbFileVersionInfo::LanguageNames(int AIndex) const {
  return VersionLanguageName(Languages(AIndex).LangId);
}

TLangIdRec TzbFileVersionInfo::Translations(int AIndex) const {
  if (AIndex < 0 || AIndex >= TranslationCount()) throw EzbFileVersionInfoError(std::u16string(BadLanguageIndex));
  return FTranslations[static_cast<std::size_t>(AIndex)];
}

bool TzbFileVersionInfo::TranslationMatchesLanguages(bool AExact) const {
  if (!(FLanguages.size() == FTranslations.size() || (!AExact && !FTranslations.empty()))) return false;
  for (const auto& t : FTranslations) {
    bool found = false;
    for (const auto& l : FLanguages) found = found || l == t;
    if (!found) return false;
  }
  return true;
}

std::u16string TzbFileVersionInfo::VersionLanguageId(TLangIdRec ALangIdRec) {
  return Format(u"%.4x%.4x", {ALangIdRec.LangId, ALangIdRec.CodePage});
}

std::u16string TzbFileVersionInfo::VersionLanguageName(std::uint16_t ALangId) {
  // The languages version resources are written in, named as a German system names them.
  static constexpr struct {
    std::uint16_t Id;
    const char16_t* Name;
  } names[] = {
      {0x0000, u"Sprachneutral"},
      {0x0007, u"Deutsch"},
      {0x0009, u"Englisch"},
      {0x0405, u"Tschechisch"},
      {0x0406, u"Dänisch"},
      {0x0407, u"Deutsch (Deutschland)"},
      {0x0408, u"Griechisch"},
      {0x0409, u"Englisch (Vereinigte Staaten)"},
      {0x040A, u"Spanisch (Spanien, traditionelle Sortierung)"},
      {0x040B, u"Finnisch"},
      {0x040C, u"Französisch (Frankreich)"},
      {0x040E, u"Ungarisch"},
      {0x0410, u"Italienisch (Italien)"},
      {0x0411, u"Japanisch"},
      {0x0412, u"Koreanisch"},
      {0x0413, u"Niederländisch (Niederlande)"},
      {0x0414, u"Norwegisch (Bokmål)"},
      {0x0415, u"Polnisch"},
      {0x0416, u"Portugiesisch (Brasilien)"},
      {0x0419, u"Russisch"},
      {0x041D, u"Schwedisch"},
      {0x041F, u"Türkisch"},
      {0x0804, u"Chinesisch (vereinfacht, VR China)"},
      {0x0807, u"Deutsch (Schweiz)"},
      {0x0809, u"Englisch (Vereinigtes Königreich)"},
      {0x0C07, u"Deutsch (Österreich)"},
      {0x0C0A, u"Spanisch (Spanien)"},
      {0x1407, u"Deutsch (Liechtenstein)"},
      {0x1007, u"Deutsch (Luxemburg)"},
  };
  for (const auto& n : names)
    if (n.Id == ALangId) return n.Name;
  return Format(u"Sprache %.4x", {ALangId});
}

}  // namespace zb
