#include "platform/regstore/RegFile.h"

#include <cstring>
#include <set>

#include "support/zbUnicode.h"

namespace zb {
namespace {

constexpr std::size_t HexWrapColumn = 77;

std::u16string Ascii(std::string_view AText) { return std::u16string(AText.begin(), AText.end()); }

[[noreturn]] void LineError(int ALine, std::u16string_view AWhat) {
  throw EzbRegFileError(u"line %d: %s", {ALine, AWhat});
}

bool IsHexDigit(char16_t AChar) {
  return (AChar >= u'0' && AChar <= u'9') || (AChar >= u'a' && AChar <= u'f') || (AChar >= u'A' && AChar <= u'F');
}
int HexValue(char16_t AChar) {
  if (AChar <= u'9') return AChar - u'0';
  return (AChar | 0x20) - u'a' + 10;
}

std::u16string_view TrimView(std::u16string_view AText) {
  while (!AText.empty() && (AText.front() == u' ' || AText.front() == u'\t')) AText.remove_prefix(1);
  while (!AText.empty() && (AText.back() == u' ' || AText.back() == u'\t')) AText.remove_suffix(1);
  return AText;
}

std::u16string Escape(std::u16string_view AText) {
  std::u16string r;
  for (char16_t c : AText) {
    if (c == u'\\' || c == u'"') r += u'\\';
    r += c;
  }
  return r;
}

// The text a REG_SZ / REG_EXPAND_SZ value can be written as, when its bytes read back unchanged:
// whole UTF-16 units, one final NUL, no other NUL, no line breaks, no broken surrogates.
bool AsPlainText(const std::string& AData, std::u16string& AText) {
  if (AData.size() < 2 || AData.size() % 2) return false;
  std::u16string t(AData.size() / 2, u'\0');
  std::memcpy(t.data(), AData.data(), AData.size());
  if (t.back() != 0) return false;
  t.pop_back();
  for (std::size_t i = 0; i < t.size(); ++i) {
    char16_t c = t[i];
    if (c < 0x20 && c != u'\t') return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= t.size() || t[i + 1] < 0xDC00 || t[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  AText = std::move(t);
  return true;
}

std::string TextBytes(std::u16string_view AText) {
  std::string r((AText.size() + 1) * 2, '\0');
  std::memcpy(r.data(), AText.data(), AText.size() * 2);
  return r;
}

std::string EncodeUtf16(std::u16string_view AText) {
  std::string r = "\xFF\xFE";
  for (char16_t c : AText) {
    r += static_cast<char>(c & 0xFF);
    r += static_cast<char>(c >> 8);
  }
  return r;
}

std::vector<std::u16string> SplitLines(std::u16string_view AText) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start <= AText.size()) {
    std::size_t end = AText.find(u'\n', start);
    std::u16string_view line = AText.substr(start, end == std::u16string_view::npos ? AText.npos : end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

std::u16string DecodeFile(std::string_view ABytes) {
  if (ABytes.size() >= 2 && static_cast<unsigned char>(ABytes[0]) == 0xFF &&
      static_cast<unsigned char>(ABytes[1]) == 0xFE) {
    if (ABytes.size() % 2) throw EzbRegFileError(u"the file ends in the middle of a UTF-16 character");
    std::u16string t((ABytes.size() - 2) / 2, u'\0');
    std::memcpy(t.data(), ABytes.data() + 2, t.size() * 2);
    return t;
  }
  if (ABytes.size() >= 3 && ABytes.substr(0, 3) == "\xEF\xBB\xBF") ABytes.remove_prefix(3);
  if (!IsWellFormedUTF8(ABytes)) throw EzbRegFileError(u"the file is neither UTF-8 nor UTF-16 with byte-order mark");
  return Utf8ToUtf16(ABytes);
}

// A quoted text starting at S[Pos] == '"'; Pos ends after the closing quote.
bool ParseQuoted(std::u16string_view AText, std::size_t& APos, std::u16string& AOut) {
  AOut.clear();
  for (++APos; APos < AText.size(); ++APos) {
    char16_t c = AText[APos];
    if (c == u'"') {
      ++APos;
      return true;
    }
    if (c == u'\\') {
      if (APos + 1 >= AText.size() || (AText[APos + 1] != u'\\' && AText[APos + 1] != u'"')) return false;
      c = AText[++APos];
    }
    AOut += c;
  }
  return false;
}

bool ParseHexBytes(std::u16string_view AText, std::string& AOut) {
  AOut.clear();
  AText = TrimView(AText);
  if (AText.empty()) return true;
  std::size_t pos = 0;
  while (true) {
    std::size_t comma = AText.find(u',', pos);
    std::u16string_view item =
        TrimView(AText.substr(pos, comma == std::u16string_view::npos ? AText.npos : comma - pos));
    if (item.empty() || item.size() > 2 || !IsHexDigit(item[0]) || (item.size() == 2 && !IsHexDigit(item[1])))
      return false;
    int v = HexValue(item[0]);
    if (item.size() == 2) v = v * 16 + HexValue(item[1]);
    AOut += static_cast<char>(v);
    if (comma == std::u16string_view::npos) return true;
    pos = comma + 1;
  }
}

bool ParseHexNumber(std::u16string_view AText, std::size_t AMaxDigits, std::uint64_t& AValue) {
  if (AText.empty() || AText.size() > AMaxDigits) return false;
  AValue = 0;
  for (char16_t c : AText) {
    if (!IsHexDigit(c)) return false;
    AValue = AValue * 16 + static_cast<unsigned>(HexValue(c));
  }
  return true;
}

bool ValidKeyPath(std::u16string_view APath) {
  if (APath.empty()) return true;
  std::size_t start = 0;
  while (true) {
    std::size_t end = APath.find(u'\\', start);
    std::u16string_view part = APath.substr(start, end == std::u16string_view::npos ? APath.npos : end - start);
    if (part.empty() || part.size() > 255) return false;
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

void ParseValueLine(std::u16string_view ALine, int ALineNo, TRegFileValue& AValue) {
  AValue.Line = ALineNo;
  std::size_t pos = 0;
  if (ALine[0] == u'@') {
    pos = 1;
  } else if (!ParseQuoted(ALine, pos, AValue.Name)) {
    LineError(ALineNo, u"the value name is not a properly quoted text");
  }
  while (pos < ALine.size() && (ALine[pos] == u' ' || ALine[pos] == u'\t')) ++pos;
  if (pos >= ALine.size() || ALine[pos] != u'=') LineError(ALineNo, u"\"=\" expected after the value name");
  std::u16string_view data = TrimView(ALine.substr(pos + 1));
  if (data == u"-") {
    AValue.Delete = true;
    return;
  }
  if (!data.empty() && data[0] == u'"') {
    std::size_t p = 0;
    std::u16string text;
    if (!ParseQuoted(data, p, text) || p != data.size()) LineError(ALineNo, u"the text is not properly quoted");
    AValue.Type = REG_SZ;
    AValue.Data = TextBytes(text);
    return;
  }
  auto starts = [&](std::u16string_view APrefix) {
    return data.size() >= APrefix.size() && AsciiUpperCase(data.substr(0, APrefix.size())) == AsciiUpperCase(APrefix);
  };
  if (starts(u"dword:")) {
    std::uint64_t v = 0;
    if (!ParseHexNumber(data.substr(6), 8, v)) LineError(ALineNo, u"dword: needs 1 to 8 hexadecimal digits");
    AValue.Type = REG_DWORD;
    AValue.Data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) AValue.Data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return;
  }
  std::u16string_view bytes;
  if (starts(u"hex:")) {
    AValue.Type = REG_BINARY;
    bytes = data.substr(4);
  } else if (starts(u"hex(")) {
    std::size_t close = data.find(u')');
    std::uint64_t t = 0;
    if (close == std::u16string_view::npos || close + 1 >= data.size() || data[close + 1] != u':' ||
        !ParseHexNumber(data.substr(4, close - 4), 8, t))
      LineError(ALineNo, u"hex(N): needs a hexadecimal type number");
    AValue.Type = static_cast<std::uint32_t>(t);
    bytes = data.substr(close + 2);
  } else {
    LineError(ALineNo, u"unknown value data (expected \"text\", dword:, hex:, hex(N): or -)");
  }
  if (!ParseHexBytes(bytes, AValue.Data)) LineError(ALineNo, u"hexadecimal bytes separated by commas expected");
}

// A value line whose hex data goes on in the next line.
bool IsHexContinued(std::u16string_view ALine) {
  if (ALine.empty() || ALine.back() != u'\\') return false;
  std::size_t pos = 0;
  std::u16string name;
  if (ALine[0] == u'@')
    pos = 1;
  else if (!ParseQuoted(ALine, pos, name))
    return false;
  std::u16string_view rest = TrimView(ALine.substr(pos));
  if (rest.empty() || rest[0] != u'=') return false;
  rest = TrimView(rest.substr(1));
  return rest.size() >= 3 && AsciiUpperCase(rest.substr(0, 3)) == u"HEX";
}

std::u16string WithCrLf(std::u16string_view AText) {
  std::u16string r;
  for (char16_t c : AText) {
    if (c == u'\n') r += u'\r';
    r += c;
  }
  return r;
}

void AppendHexBytes(std::u16string& AOut, const std::string& AData) {
  static const char16_t digits[] = u"0123456789abcdef";
  std::size_t lineStart = AOut.rfind(u'\n');
  lineStart = lineStart == std::u16string::npos ? 0 : lineStart + 1;
  for (std::size_t i = 0; i < AData.size(); ++i) {
    auto b = static_cast<unsigned char>(AData[i]);
    AOut += digits[b >> 4];
    AOut += digits[b & 15];
    if (i + 1 < AData.size()) {
      AOut += u',';
      if (AOut.size() - lineStart >= HexWrapColumn) {
        AOut += u"\\\n  ";
        lineStart = AOut.size() - 2;
      }
    }
  }
}

LSTATUS OpenForExport(IRegStore& AStore, HKEY ARoot, std::u16string_view APath, HKEY& AKey) {
  LSTATUS rc = ERROR_SUCCESS;
  for (REGSAM mask : {KEY_READ, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, KEY_QUERY_VALUE}) {
    rc = AStore.OpenKey(ARoot, APath, mask, AKey);
    if (rc == ERROR_SUCCESS) return rc;
  }
  return rc;
}

void ExportInto(IRegStore& AStore, HKEY ARoot, const std::u16string& APath, TRegFile& AOut) {
  HKEY key = 0;
  if (LSTATUS rc = OpenForExport(AStore, ARoot, APath, key))
    throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(ARoot, APath), Ascii(RegErrorText(rc))});
  struct TClose {
    IRegStore& S;
    HKEY K;
    ~TClose() { S.CloseKey(K); }
  } close{AStore, key};
  TRegFileKey rec;
  rec.Root = ARoot;
  rec.Path = APath;
  TRegStoreKeyInfo info;
  if (LSTATUS rc = AStore.QueryInfoKey(key, info))
    throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(ARoot, APath), Ascii(RegErrorText(rc))});
  for (std::uint32_t i = 0;; ++i) {
    TRegFileValue v;
    LSTATUS rc = AStore.EnumValue(key, i, v.Name, 16384);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc) throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(ARoot, APath), Ascii(RegErrorText(rc))});
    std::uint32_t size = 0;
    rc = AStore.QueryValue(key, v.Name, &v.Type, nullptr, &size);
    while (rc == ERROR_SUCCESS) {
      v.Data.assign(size, '\0');
      static char noData;
      rc = AStore.QueryValue(key, v.Name, &v.Type, size ? v.Data.data() : &noData, &size);
      if (rc != ERROR_MORE_DATA) break;
      rc = ERROR_SUCCESS;  // changed meanwhile: once more with the new size
    }
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // removed meanwhile
    if (rc) throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(ARoot, APath), Ascii(RegErrorText(rc))});
    v.Data.resize(size);
    rec.Values.push_back(std::move(v));
  }
  AOut.push_back(std::move(rec));
  std::vector<std::u16string> subs;
  for (std::uint32_t i = 0;; ++i) {
    std::u16string name;
    LSTATUS rc = AStore.EnumKey(key, i, name, 256);
    if (rc == ERROR_NO_MORE_ITEMS || rc == ERROR_ACCESS_DENIED) break;
    if (rc) throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(ARoot, APath), Ascii(RegErrorText(rc))});
    subs.push_back(std::move(name));
  }
  for (const auto& s : subs) ExportInto(AStore, ARoot, APath.empty() ? s : APath + u'\\' + s, AOut);
}

}  // namespace

std::string RegErrorText(LSTATUS ACode) {
  switch (ACode) {
    case ERROR_SUCCESS: return "done";
    case ERROR_FILE_NOT_FOUND: return "not found";
    case ERROR_ACCESS_DENIED: return "access denied";
    case ERROR_INVALID_HANDLE: return "no store for this root";
    case ERROR_LOCK_VIOLATION: return "the store is busy";
    case ERROR_INVALID_PARAMETER: return "invalid name";
    case ERROR_DISK_FULL: return "disk full";
    case ERROR_MORE_DATA: return "data larger than expected";
    case ERROR_BADDB: return "the store file is damaged or not a registry store";
    case ERROR_KEY_DELETED: return "the key was deleted";
    default: return "store error " + std::to_string(ACode);
  }
}

bool SplitRegistryPath(std::u16string_view AText, HKEY& ARoot, std::u16string& APath) {
  std::size_t sep = AText.find(u'\\');
  ARoot = RootKeyFromName(AText.substr(0, sep));
  if (ARoot == 0) return false;
  APath = sep == std::u16string_view::npos ? std::u16string() : std::u16string(AText.substr(sep + 1));
  while (!APath.empty() && APath.back() == u'\\') APath.pop_back();
  return true;
}

namespace {
// The text format has no escape for line breaks and other controls in names: an export that wrote
// them would import as other keys or not at all.
void RequirePrintableName(std::u16string_view AName, std::u16string_view AWhere) {
  for (char16_t c : AName)
    if (c < 0x20)
      throw EzbRegFileError(u"%s: the name holds a control character the file format cannot carry",
                            {std::u16string(AWhere)});
}
}  // namespace

std::u16string FormatRegKeyName(HKEY ARoot, std::u16string_view APath) {
  std::u16string r(RootKeyName(ARoot));
  if (!APath.empty()) {
    r += u'\\';
    r += APath;
  }
  return r;
}

std::u16string FormatRegValue(const TRegFileValue& AValue) {
  std::u16string r = AValue.Name.empty() ? std::u16string(u"@") : u"\"" + Escape(AValue.Name) + u"\"";
  r += u'=';
  if (AValue.Delete) return r + u'-';
  std::u16string text;
  if (AValue.Type == REG_SZ && AsPlainText(AValue.Data, text)) return r + u'"' + Escape(text) + u'"';
  if (AValue.Type == REG_DWORD && AValue.Data.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(AValue.Data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    return r + Ascii(buf);
  }
  if (AValue.Type == REG_BINARY) {
    r += u"hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", AValue.Type);
    r += Ascii(buf);
  }
  AppendHexBytes(r, AValue.Data);
  return r;
}

TRegFile ParseRegFile(std::string_view ABytes) {
  std::vector<std::u16string> lines = SplitLines(DecodeFile(ABytes));
  TRegFile file;
  bool header = false;
  TRegFileKey* current = nullptr;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    int lineNo = static_cast<int>(i) + 1;
    std::u16string logical = lines[i];
    std::u16string_view t = TrimView(logical);
    if (t.empty() || t[0] == u';') continue;
    if (!header) {
      if (t != RegFileHeader) LineError(lineNo, u"\"Windows Registry Editor Version 5.00\" expected");
      header = true;
      continue;
    }
    if (t[0] == u'[') {
      if (t.back() != u']') LineError(lineNo, u"a key line must end with \"]\"");
      std::u16string_view inner = t.substr(1, t.size() - 2);
      TRegFileKey key;
      key.Line = lineNo;
      if (!inner.empty() && inner[0] == u'-') {
        key.Delete = true;
        inner.remove_prefix(1);
      }
      if (!SplitRegistryPath(inner, key.Root, key.Path)) LineError(lineNo, u"unknown root key");
      if (HiveFileName(key.Root).empty()) LineError(lineNo, u"this root key has no store");
      if (!ValidKeyPath(key.Path)) LineError(lineNo, u"empty or too long key name in the path");
      if (key.Delete && key.Path.empty()) LineError(lineNo, u"a root key cannot be deleted");
      file.push_back(std::move(key));
      current = &file.back();
      continue;
    }
    if (t[0] != u'"' && t[0] != u'@') LineError(lineNo, u"a key \"[…]\" or a value \"name\"=… expected");
    if (!current) LineError(lineNo, u"a value before the first key");
    if (current->Delete) LineError(lineNo, u"a value under a key that is deleted");
    // hex data may go on over several lines, each but the last ending in a backslash.
    std::u16string joined(t);
    int first = lineNo;
    while (IsHexContinued(joined)) {
      joined.pop_back();
      if (++i >= lines.size()) LineError(first, u"the value goes on past the end of the file");
      joined += TrimView(lines[i]);
    }
    TRegFileValue v;
    ParseValueLine(joined, first, v);
    current->Values.push_back(std::move(v));
  }
  if (!header) throw EzbRegFileError(u"line 1: \"Windows Registry Editor Version 5.00\" expected");
  return file;
}

std::string FormatRegFile(const TRegFile& AFile, bool AUtf16) {
  const std::u16string_view nl = AUtf16 ? u"\r\n" : u"\n";
  std::u16string out(RegFileHeader);
  out += nl;
  for (const TRegFileKey& k : AFile) {
    out += nl;
    out += u'[';
    if (k.Delete) out += u'-';
    RequirePrintableName(k.Path, FormatRegKeyName(k.Root, k.Path));
    out += FormatRegKeyName(k.Root, k.Path);
    out += u']';
    out += nl;
    for (const TRegFileValue& v : k.Values) {
      RequirePrintableName(v.Name, FormatRegKeyName(k.Root, k.Path) + u" \"" + v.Name + u"\"");
      std::u16string line = FormatRegValue(v);
      if (AUtf16) line = WithCrLf(line);
      out += line;
      out += nl;
    }
  }
  out += nl;
  return AUtf16 ? EncodeUtf16(out) : Utf16ToUtf8(out);
}

TRegFile ExportKeyTree(IRegStore& AStore, HKEY ARoot, std::u16string_view APath) {
  TRegFile file;
  std::u16string p(APath);
  while (!p.empty() && p.back() == u'\\') p.pop_back();
  ExportInto(AStore, ARoot, p, file);
  return file;
}

LSTATUS DeleteKeyTree(IRegStore& AStore, HKEY ARoot, std::u16string_view APath) {
  if (APath.empty()) return ERROR_ACCESS_DENIED;
  HKEY key = 0;
  LSTATUS rc = AStore.OpenKey(ARoot, APath, KEY_READ, key);
  if (rc) return rc;
  std::vector<std::u16string> subs;
  for (std::uint32_t i = 0;; ++i) {
    std::u16string name;
    LSTATUS e = AStore.EnumKey(key, i, name, 256);
    if (e) break;
    subs.push_back(std::move(name));
  }
  AStore.CloseKey(key);
  for (const auto& s : subs) {
    std::u16string sub = std::u16string(APath) + u'\\' + s;
    if (LSTATUS e = DeleteKeyTree(AStore, ARoot, sub); e && e != ERROR_FILE_NOT_FOUND) return e;
  }
  return AStore.DeleteKey(ARoot, APath);
}

void ImportRegFile(IRegStore& AStore, const TRegFile& AFile) {
  // One transaction per hive file (HKLM and HKCR share one), all begun before the first write.
  std::vector<HKEY> begun;
  std::set<std::string> hives;
  auto rollback = [&] {
    for (auto it = begun.rbegin(); it != begun.rend(); ++it) AStore.RollbackTransaction(*it);
  };
  for (const TRegFileKey& k : AFile) {
    if (!hives.insert(HiveFileName(k.Root)).second) continue;
    if (LSTATUS rc = AStore.BeginTransaction(k.Root)) {
      rollback();
      throw EzbRegFileError(u"line %d: %s: %s", {k.Line, FormatRegKeyName(k.Root, u""),
                                                 Ascii(AStore.DescribeHive(k.Root) + ": " + RegErrorText(rc))});
    }
    begun.push_back(k.Root);
  }
  try {
    for (const TRegFileKey& k : AFile) {
      if (k.Delete) {
        LSTATUS rc = DeleteKeyTree(AStore, k.Root, k.Path);
        if (rc && rc != ERROR_FILE_NOT_FOUND)
          LineError(k.Line, FormatRegKeyName(k.Root, k.Path) + u": " + Ascii(RegErrorText(rc)));
        continue;
      }
      HKEY key = 0;
      if (LSTATUS rc = AStore.CreateKey(k.Root, k.Path, KEY_ALL_ACCESS, key))
        LineError(k.Line, FormatRegKeyName(k.Root, k.Path) + u": " + Ascii(RegErrorText(rc)));
      struct TClose {
        IRegStore& S;
        HKEY K;
        ~TClose() { S.CloseKey(K); }
      } close{AStore, key};
      for (const TRegFileValue& v : k.Values) {
        LSTATUS rc =
            v.Delete ? AStore.DeleteValue(key, v.Name)
                     : AStore.SetValue(key, v.Name, v.Type, v.Data.data(), static_cast<std::uint32_t>(v.Data.size()));
        if (rc && !(v.Delete && rc == ERROR_FILE_NOT_FOUND))
          LineError(v.Line, u"\"" + v.Name + u"\": " + Ascii(RegErrorText(rc)));
      }
    }
  } catch (...) {
    rollback();
    throw;
  }
  for (std::size_t i = 0; i < begun.size(); ++i) {
    if (LSTATUS rc = AStore.CommitTransaction(begun[i])) {
      for (std::size_t j = begun.size(); j-- > i + 1;) AStore.RollbackTransaction(begun[j]);
      throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(begun[i], u""), Ascii(RegErrorText(rc))});
    }
  }
}

}  // namespace zb
