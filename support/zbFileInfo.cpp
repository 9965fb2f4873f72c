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
  explicit TReader(std::string_view data) : FData(data) {}
  std::size_t Size() const { return FData.size(); }
  bool Has(std::size_t at, std::size_t n) const { return at <= FData.size() && n <= FData.size() - at; }
  std::uint16_t U16(std::size_t at) const {
    if (!Has(at, 2)) Refuse();
    return static_cast<std::uint16_t>(Byte(at) | Byte(at + 1) << 8);
  }
  std::uint32_t U32(std::size_t at) const {
    if (!Has(at, 4)) Refuse();
    return static_cast<std::uint32_t>(Byte(at)) | static_cast<std::uint32_t>(Byte(at + 1)) << 8 |
           static_cast<std::uint32_t>(Byte(at + 2)) << 16 | static_cast<std::uint32_t>(Byte(at + 3)) << 24;
  }
  unsigned Byte(std::size_t at) const { return static_cast<unsigned char>(FData[at]); }
  std::string_view Bytes(std::size_t at, std::size_t n) const {
    if (!Has(at, n)) Refuse();
    return FData.substr(at, n);
  }

 private:
  std::string_view FData;
};

std::size_t Align4(std::size_t v) { return (v + 3) & ~static_cast<std::size_t>(3); }

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
  TParser(std::string_view data) : R(data), Wide(R.Size() >= 6 && R.U16(4) < 2) {}

  TBlock ReadBlock(std::size_t at, std::size_t limit) const {
    TBlock b;
    b.Start = at;
    const std::uint16_t length = R.U16(at);
    if (length == 0) Refuse();
    b.End = at + length;
    if (b.End > limit) Refuse();
    b.ValueLength = R.U16(at + 2);
    std::size_t p = at + 4;
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

  std::size_t ValueBytes(const TBlock& b) const { return (Wide && b.Type == 1) ? b.ValueLength * 2 : b.ValueLength; }

  std::u16string Text(std::size_t at, std::size_t units, std::size_t end) const {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i) {
      const std::size_t p = Wide ? at + 2 * i : at + i;
      if (p + (Wide ? 2 : 1) > end) break;
      const char16_t c = Wide ? static_cast<char16_t>(R.U16(p)) : static_cast<char16_t>(R.Byte(p));
      if (c == 0) break;
      s += c;
    }
    if (!Wide) s = FromAnsiBytes(ToLatin1Bytes(s));
    return s;
  }

  template <typename Fn>
  void ForEachChild(const TBlock& parent, Fn&& fn) const {
    std::size_t p = parent.ChildrenStart;
    while (p + 4 <= parent.End) {
      const TBlock child = ReadBlock(p, parent.End);
      if (!fn(child)) return;
      p = Align4(child.End);
    }
  }

  TReader R;
  bool Wide;
};

// A table key such as 040704b0: every "0x" removed, then everything that is not a hex digit.
std::optional<TLangIdRec> TableKey(std::u16string key) {
  key = StringReplace(key, u"0x", u"", rfReplaceAll | rfIgnoreCase);
  std::u16string digits;
  for (char16_t c : key)
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

std::optional<std::size_t> RvaToOffset(const std::vector<TSection>& sections, std::uint32_t rva) {
  for (const auto& s : sections) {
    const std::uint32_t extent = std::max(s.VirtualSize, s.RawSize);
    if (rva >= s.VirtualAddress && rva - s.VirtualAddress < extent && rva - s.VirtualAddress < s.RawSize)
      return static_cast<std::size_t>(s.RawPointer) + (rva - s.VirtualAddress);
  }
  return std::nullopt;
}

std::string VersionResourceOfImage(std::string_view image) {
  const TReader r(image);
  if (!r.Has(0, 64) || image.substr(0, 2) != "MZ") return {};
  const std::uint32_t nt = r.U32(0x3C);
  if (nt == 0 || !r.Has(nt, 24) || image.substr(nt, 4) != std::string_view("PE\0\0", 4)) return {};
  const std::uint16_t sectionCount = r.U16(nt + 6);
  const std::uint16_t optionalSize = r.U16(nt + 20);
  const std::size_t opt = nt + 24;
  if (!r.Has(opt, optionalSize) || optionalSize < 2) return {};
  const std::uint16_t magic = r.U16(opt);
  const std::size_t dirCountAt = magic == 0x20B ? opt + 108 : opt + 92;
  const std::size_t dirsAt = magic == 0x20B ? opt + 112 : opt + 96;
  constexpr std::size_t DirSize = 8;
  if (magic != 0x10B && magic != 0x20B) return {};
  if (dirCountAt + 4 > opt + optionalSize || r.U32(dirCountAt) < 3 || dirsAt + 3 * DirSize > opt + optionalSize)
    return {};
  const std::uint32_t resourceRva = r.U32(dirsAt + 2 * DirSize);
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
  auto findEntry = [&](std::size_t dir, std::optional<std::uint16_t> id) -> std::optional<std::uint32_t> {
    if (!r.Has(dir, 16)) return std::nullopt;
    const std::size_t count = static_cast<std::size_t>(r.U16(dir + 12)) + r.U16(dir + 14);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t e = dir + 16 + i * 8;
      if (!r.Has(e, 8)) return std::nullopt;
      const std::uint32_t name = r.U32(e);
      if (!id || (!(name & 0x80000000u) && name == *id)) return r.U32(e + 4);
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
    return std::string(image.substr(*data, size));
  }
  return {};
}

std::optional<TVSFixedFileInfo> FixedRecordOf(std::string_view resource) {
  try {
    const TParser parser(resource);
    const TBlock root = parser.ReadBlock(0, resource.size());
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

std::string ReadPeImage(std::u16string_view FileName, int& err) {
  // Non-blocking, so that a pipe of that name cannot hold the caller; only regular files are read.
  const TzbFd fd(::open(Utf16ToUtf8(FileName).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    err = errno;
    return {};
  }
  err = 0;
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

std::u16string VersionText(std::uint32_t ms, std::uint32_t ls) {
  return Format(u"%u.%u.%u.%u", {ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF});
}

}  // namespace

std::string ReadVersionResource(std::u16string_view FileName) {
  int err = 0;
  const std::string image = ReadPeImage(FileName, err);
  try {
    return VersionResourceOfImage(image);
  } catch (const EzbFileVersionInfoError&) {
    return {};
  }
}

bool HasVersionResource(std::u16string_view FileName) { return !ReadVersionResource(FileName).empty(); }

bool ReadFixedFileInfo(std::u16string_view FileName, TVSFixedFileInfo& Record) {
  const auto fixed = FixedRecordOf(ReadVersionResource(FileName));
  if (!fixed) return false;
  Record = *fixed;
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

TzbFileVersionInfo TzbFileVersionInfo::Attach(const void* VersionInfoData, std::size_t Size) {
  TzbFileVersionInfo info;
  if (VersionInfoData && Size) info.FBuffer.assign(static_cast<const char*>(VersionInfoData), Size);
  info.Parse();
  return info;
}

void TzbFileVersionInfo::Parse() {
  const auto fixed = FixedRecordOf(FBuffer);
  if (!fixed) Refuse();
  FFixedInfo = *fixed;
  const TParser parser(FBuffer);
  const TBlock root = parser.ReadBlock(0, FBuffer.size());
  parser.ForEachChild(root, [&](const TBlock& child) {
    if (SameTextEx(child.Key, u"StringFileInfo", false)) {
      parser.ForEachChild(child, [&](const TBlock& table) {
        const auto lang = TableKey(table.Key);
        if (!lang || table.ValueLength != 0) Refuse();
        const int index = static_cast<int>(FLanguages.size());
        FLanguages.push_back(*lang);
        parser.ForEachChild(table, [&](const TBlock& str) {
          std::u16string value;
          if (!parser.Wide || str.Type == 1) {
            value = parser.Text(str.ValueStart, str.ValueLength, str.End);
          } else if (str.Type == 0) {
            if (str.ValueLength >= 1 && str.ValueLength <= 4) {
              std::uint32_t number = 0;
              for (std::size_t i = 0; i < str.ValueLength; ++i)
                number |= static_cast<std::uint32_t>(parser.R.Byte(str.ValueStart + i)) << (8 * i);
              std::u16string hex = Format(u"%x", {number});
              const std::size_t digits = 2 * str.ValueLength;
              if (hex.size() < digits) hex.insert(0, digits - hex.size(), u'0');
              value = u"$" + hex;
            } else if (str.ValueLength > 4) {
              value = parser.Text(str.ValueStart, str.ValueLength / 2, str.End);
            }
          } else {
            Refuse();
          }
          FItemList.push_back({Format(u"%s=%s", {str.Key, value}), index});
          return true;
        });
        return true;
      });
      return true;
    }
    if (SameTextEx(child.Key, u"VarFileInfo", false)) {
      parser.ForEachChild(child, [&](const TBlock& var) {
        if (SameTextEx(var.Key, u"Translation", false)) {
          const std::size_t bytes = parser.ValueBytes(var);
          for (std::size_t i = 0; i + 4 <= bytes; i += 4)
            FTranslations.push_back({parser.R.U16(var.ValueStart + i), parser.R.U16(var.ValueStart + i + 2)});
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

std::u16string TzbFileVersionInfo::Value(std::u16string_view Key) const {
  for (const auto& item : FItemList) {
    if (item.Table != FLanguageIndex) continue;
    const auto eq = item.Line.find(u'=');
    if (eq != std::u16string::npos && SameTextEx(std::u16string_view(item.Line).substr(0, eq), Key, false))
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

void TzbFileVersionInfo::CheckLanguageIndex(int Index) const {
  if (Index < 0 || Index >= LanguageCount()) throw EzbFileVersionInfoError(std::u16string(BadLanguageIndex));
}

void TzbFileVersionInfo::SetLanguageIndex(int Value) {
  CheckLanguageIndex(Value);
  FLanguageIndex = Value;
}

TLangIdRec TzbFileVersionInfo::Languages(int Index) const {
  CheckLanguageIndex(Index);
  return FLanguages[static_cast<std::size_t>(Index)];
}

std::u16string TzbFileVersionInfo::LanguageIds(int Index) const { return VersionLanguageId(Languages(Index)); }

std::u16string TzbFileVersionInfo::LanguageNames(int Index) const {
  return VersionLanguageName(Languages(Index).LangId);
}

TLangIdRec TzbFileVersionInfo::Translations(int Index) const {
  if (Index < 0 || Index >= TranslationCount()) throw EzbFileVersionInfoError(std::u16string(BadLanguageIndex));
  return FTranslations[static_cast<std::size_t>(Index)];
}

bool TzbFileVersionInfo::TranslationMatchesLanguages(bool Exact) const {
  if (!(FLanguages.size() == FTranslations.size() || (!Exact && !FTranslations.empty()))) return false;
  for (const auto& t : FTranslations) {
    bool found = false;
    for (const auto& l : FLanguages) found = found || l == t;
    if (!found) return false;
  }
  return true;
}

std::u16string TzbFileVersionInfo::VersionLanguageId(TLangIdRec LangIdRec) {
  return Format(u"%.4x%.4x", {LangIdRec.LangId, LangIdRec.CodePage});
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
