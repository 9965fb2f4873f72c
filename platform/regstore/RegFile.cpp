#include "platform/regstore/RegFile.h"

#include <cstring>
#include <set>

#include "support/zbUnicode.h"

namespace zb {
namespace {

constexpr std::size_t HexWrapColumn = 77;

std::u16string Ascii(std::string_view S) { return std::u16string(S.begin(), S.end()); }

[[noreturn]] void LineError(int Line, std::u16string_view What) { throw EzbRegFileError(u"line %d: %s", {Line, What}); }

bool IsHexDigit(char16_t C) { return (C >= u'0' && C <= u'9') || (C >= u'a' && C <= u'f') || (C >= u'A' && C <= u'F'); }
int HexValue(char16_t C) {
  if (C <= u'9') return C - u'0';
  return (C | 0x20) - u'a' + 10;
}

std::u16string_view TrimView(std::u16string_view S) {
  while (!S.empty() && (S.front() == u' ' || S.front() == u'\t')) S.remove_prefix(1);
  while (!S.empty() && (S.back() == u' ' || S.back() == u'\t')) S.remove_suffix(1);
  return S;
}

std::u16string Escape(std::u16string_view S) {
  std::u16string r;
  for (char16_t c : S) {
    if (c == u'\\' || c == u'"') r += u'\\';
    r += c;
  }
  return r;
}

// The text a REG_SZ / REG_EXPAND_SZ value can be written as, when its bytes read back unchanged:
// whole UTF-16 units, one final NUL, no other NUL, no line breaks, no broken surrogates.
bool AsPlainText(const std::string& Data, std::u16string& Text) {
  if (Data.size() < 2 || Data.size() % 2) return false;
  std::u16string t(Data.size() / 2, u'\0');
  std::memcpy(t.data(), Data.data(), Data.size());
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
  Text = std::move(t);
  return true;
}

std::string TextBytes(std::u16string_view S) {
  std::string r((S.size() + 1) * 2, '\0');
  std::memcpy(r.data(), S.data(), S.size() * 2);
  return r;
}

std::string EncodeUtf16(std::u16string_view S) {
  std::string r = "\xFF\xFE";
  for (char16_t c : S) {
    r += static_cast<char>(c & 0xFF);
    r += static_cast<char>(c >> 8);
  }
  return r;
}

std::vector<std::u16string> SplitLines(std::u16string_view Text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start <= Text.size()) {
    std::size_t end = Text.find(u'\n', start);
    std::u16string_view line = Text.substr(start, end == std::u16string_view::npos ? Text.npos : end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    lines.emplace_back(line);
    if (end == std::u16string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

std::u16string DecodeFile(std::string_view Bytes) {
  if (Bytes.size() >= 2 && static_cast<unsigned char>(Bytes[0]) == 0xFF &&
      static_cast<unsigned char>(Bytes[1]) == 0xFE) {
    if (Bytes.size() % 2) throw EzbRegFileError(u"the file ends in the middle of a UTF-16 character");
    std::u16string t((Bytes.size() - 2) / 2, u'\0');
    std::memcpy(t.data(), Bytes.data() + 2, t.size() * 2);
    return t;
  }
  if (Bytes.size() >= 3 && Bytes.substr(0, 3) == "\xEF\xBB\xBF") Bytes.remove_prefix(3);
  if (!IsWellFormedUTF8(Bytes)) throw EzbRegFileError(u"the file is neither UTF-8 nor UTF-16 with byte-order mark");
  return Utf8ToUtf16(Bytes);
}

// A quoted text starting at S[Pos] == '"'; Pos ends after the closing quote.
bool ParseQuoted(std::u16string_view S, std::size_t& Pos, std::u16string& Out) {
  Out.clear();
  for (++Pos; Pos < S.size(); ++Pos) {
    char16_t c = S[Pos];
    if (c == u'"') {
      ++Pos;
      return true;
    }
    if (c == u'\\') {
      if (Pos + 1 >= S.size() || (S[Pos + 1] != u'\\' && S[Pos + 1] != u'"')) return false;
      c = S[++Pos];
    }
    Out += c;
  }
  return false;
}

bool ParseHexBytes(std::u16string_view S, std::string& Out) {
  Out.clear();
  S = TrimView(S);
  if (S.empty()) return true;
  std::size_t pos = 0;
  while (true) {
    std::size_t comma = S.find(u',', pos);
    std::u16string_view item = TrimView(S.substr(pos, comma == std::u16string_view::npos ? S.npos : comma - pos));
    if (item.empty() || item.size() > 2 || !IsHexDigit(item[0]) || (item.size() == 2 && !IsHexDigit(item[1])))
      return false;
    int v = HexValue(item[0]);
    if (item.size() == 2) v = v * 16 + HexValue(item[1]);
    Out += static_cast<char>(v);
    if (comma == std::u16string_view::npos) return true;
    pos = comma + 1;
  }
}

bool ParseHexNumber(std::u16string_view S, std::size_t MaxDigits, std::uint64_t& V) {
  if (S.empty() || S.size() > MaxDigits) return false;
  V = 0;
  for (char16_t c : S) {
    if (!IsHexDigit(c)) return false;
    V = V * 16 + static_cast<unsigned>(HexValue(c));
  }
  return true;
}

bool ValidKeyPath(std::u16string_view P) {
  if (P.empty()) return true;
  std::size_t start = 0;
  while (true) {
    std::size_t end = P.find(u'\\', start);
    std::u16string_view part = P.substr(start, end == std::u16string_view::npos ? P.npos : end - start);
    if (part.empty() || part.size() > 255) return false;
    if (end == std::u16string_view::npos) return true;
    start = end + 1;
  }
}

void ParseValueLine(std::u16string_view Line, int LineNo, TRegFileValue& V) {
  V.Line = LineNo;
  std::size_t pos = 0;
  if (Line[0] == u'@') {
    pos = 1;
  } else if (!ParseQuoted(Line, pos, V.Name)) {
    LineError(LineNo, u"the value name is not a properly quoted text");
  }
  while (pos < Line.size() && (Line[pos] == u' ' || Line[pos] == u'\t')) ++pos;
  if (pos >= Line.size() || Line[pos] != u'=') LineError(LineNo, u"\"=\" expected after the value name");
  std::u16string_view data = TrimView(Line.substr(pos + 1));
  if (data == u"-") {
    V.Delete = true;
    return;
  }
  if (!data.empty() && data[0] == u'"') {
    std::size_t p = 0;
    std::u16string text;
    if (!ParseQuoted(data, p, text) || p != data.size()) LineError(LineNo, u"the text is not properly quoted");
    V.Type = REG_SZ;
    V.Data = TextBytes(text);
    return;
  }
  auto starts = [&](std::u16string_view prefix) {
    return data.size() >= prefix.size() && AsciiUpperCase(data.substr(0, prefix.size())) == AsciiUpperCase(prefix);
  };
  if (starts(u"dword:")) {
    std::uint64_t v = 0;
    if (!ParseHexNumber(data.substr(6), 8, v)) LineError(LineNo, u"dword: needs 1 to 8 hexadecimal digits");
    V.Type = REG_DWORD;
    V.Data.assign(4, '\0');
    for (int i = 0; i < 4; ++i) V.Data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return;
  }
  std::u16string_view bytes;
  if (starts(u"hex:")) {
    V.Type = REG_BINARY;
    bytes = data.substr(4);
  } else if (starts(u"hex(")) {
    std::size_t close = data.find(u')');
    std::uint64_t t = 0;
    if (close == std::u16string_view::npos || close + 1 >= data.size() || data[close + 1] != u':' ||
        !ParseHexNumber(data.substr(4, close - 4), 8, t))
      LineError(LineNo, u"hex(N): needs a hexadecimal type number");
    V.Type = static_cast<std::uint32_t>(t);
    bytes = data.substr(close + 2);
  } else {
    LineError(LineNo, u"unknown value data (expected \"text\", dword:, hex:, hex(N): or -)");
  }
  if (!ParseHexBytes(bytes, V.Data)) LineError(LineNo, u"hexadecimal bytes separated by commas expected");
}

// A value line whose hex data goes on in the next line.
bool IsHexContinued(std::u16string_view Line) {
  if (Line.empty() || Line.back() != u'\\') return false;
  std::size_t pos = 0;
  std::u16string name;
  if (Line[0] == u'@')
    pos = 1;
  else if (!ParseQuoted(Line, pos, name))
    return false;
  std::u16string_view rest = TrimView(Line.substr(pos));
  if (rest.empty() || rest[0] != u'=') return false;
  rest = TrimView(rest.substr(1));
  return rest.size() >= 3 && AsciiUpperCase(rest.substr(0, 3)) == u"HEX";
}

std::u16string WithCrLf(std::u16string_view S) {
  std::u16string r;
  for (char16_t c : S) {
    if (c == u'\n') r += u'\r';
    r += c;
  }
  return r;
}

void AppendHexBytes(std::u16string& Out, const std::string& Data) {
  static const char16_t Digits[] = u"0123456789abcdef";
  std::size_t lineStart = Out.rfind(u'\n');
  lineStart = lineStart == std::u16string::npos ? 0 : lineStart + 1;
  for (std::size_t i = 0; i < Data.size(); ++i) {
    auto b = static_cast<unsigned char>(Data[i]);
    Out += Digits[b >> 4];
    Out += Digits[b & 15];
    if (i + 1 < Data.size()) {
      Out += u',';
      if (Out.size() - lineStart >= HexWrapColumn) {
        Out += u"\\\n  ";
        lineStart = Out.size() - 2;
      }
    }
  }
}

LSTATUS OpenForExport(IRegStore& Store, HKEY Root, std::u16string_view Path, HKEY& Key) {
  LSTATUS rc = ERROR_SUCCESS;
  for (REGSAM mask : {KEY_READ, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, KEY_QUERY_VALUE}) {
    rc = Store.OpenKey(Root, Path, mask, Key);
    if (rc == ERROR_SUCCESS) return rc;
  }
  return rc;
}

void ExportInto(IRegStore& Store, HKEY Root, const std::u16string& Path, TRegFile& Out) {
  HKEY key = 0;
  if (LSTATUS rc = OpenForExport(Store, Root, Path, key))
    throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(Root, Path), Ascii(RegErrorText(rc))});
  struct TClose {
    IRegStore& S;
    HKEY K;
    ~TClose() { S.CloseKey(K); }
  } close{Store, key};
  TRegFileKey rec;
  rec.Root = Root;
  rec.Path = Path;
  TRegStoreKeyInfo info;
  if (LSTATUS rc = Store.QueryInfoKey(key, info))
    throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(Root, Path), Ascii(RegErrorText(rc))});
  for (std::uint32_t i = 0;; ++i) {
    TRegFileValue v;
    LSTATUS rc = Store.EnumValue(key, i, v.Name, 16384);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc) throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(Root, Path), Ascii(RegErrorText(rc))});
    std::uint32_t size = 0;
    rc = Store.QueryValue(key, v.Name, &v.Type, nullptr, &size);
    while (rc == ERROR_SUCCESS) {
      v.Data.assign(size, '\0');
      static char NoData;
      rc = Store.QueryValue(key, v.Name, &v.Type, size ? v.Data.data() : &NoData, &size);
      if (rc != ERROR_MORE_DATA) break;
      rc = ERROR_SUCCESS;  // changed meanwhile: once more with the new size
    }
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // removed meanwhile
    if (rc) throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(Root, Path), Ascii(RegErrorText(rc))});
    v.Data.resize(size);
    rec.Values.push_back(std::move(v));
  }
  Out.push_back(std::move(rec));
  std::vector<std::u16string> subs;
  for (std::uint32_t i = 0;; ++i) {
    std::u16string name;
    LSTATUS rc = Store.EnumKey(key, i, name, 256);
    if (rc == ERROR_NO_MORE_ITEMS || rc == ERROR_ACCESS_DENIED) break;
    if (rc) throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(Root, Path), Ascii(RegErrorText(rc))});
    subs.push_back(std::move(name));
  }
  for (const auto& s : subs) ExportInto(Store, Root, Path.empty() ? s : Path + u'\\' + s, Out);
}

}  // namespace

std::string RegErrorText(LSTATUS Code) {
  switch (Code) {
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
    default: return "store error " + std::to_string(Code);
  }
}

bool SplitRegistryPath(std::u16string_view Text, HKEY& Root, std::u16string& Path) {
  std::size_t sep = Text.find(u'\\');
  Root = RootKeyFromName(Text.substr(0, sep));
  if (Root == 0) return false;
  Path = sep == std::u16string_view::npos ? std::u16string() : std::u16string(Text.substr(sep + 1));
  while (!Path.empty() && Path.back() == u'\\') Path.pop_back();
  return true;
}

namespace {
// The text format has no escape for line breaks and other controls in names: an export that wrote
// them would import as other keys or not at all.
void RequirePrintableName(std::u16string_view Name, std::u16string_view Where) {
  for (char16_t c : Name)
    if (c < 0x20)
      throw EzbRegFileError(u"%s: the name holds a control character the file format cannot carry",
                            {std::u16string(Where)});
}
}  // namespace

std::u16string FormatRegKeyName(HKEY Root, std::u16string_view Path) {
  std::u16string r(RootKeyName(Root));
  if (!Path.empty()) {
    r += u'\\';
    r += Path;
  }
  return r;
}

std::u16string FormatRegValue(const TRegFileValue& Value) {
  std::u16string r = Value.Name.empty() ? std::u16string(u"@") : u"\"" + Escape(Value.Name) + u"\"";
  r += u'=';
  if (Value.Delete) return r + u'-';
  std::u16string text;
  if (Value.Type == REG_SZ && AsPlainText(Value.Data, text)) return r + u'"' + Escape(text) + u'"';
  if (Value.Type == REG_DWORD && Value.Data.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(Value.Data[i]);
    char buf[16];
    std::snprintf(buf, sizeof buf, "dword:%08x", v);
    return r + Ascii(buf);
  }
  if (Value.Type == REG_BINARY) {
    r += u"hex:";
  } else {
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", Value.Type);
    r += Ascii(buf);
  }
  AppendHexBytes(r, Value.Data);
  return r;
}

TRegFile ParseRegFile(std::string_view Bytes) {
  std::vector<std::u16string> lines = SplitLines(DecodeFile(Bytes));
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

std::string FormatRegFile(const TRegFile& File, bool Utf16) {
  const std::u16string_view nl = Utf16 ? u"\r\n" : u"\n";
  std::u16string out(RegFileHeader);
  out += nl;
  for (const TRegFileKey& k : File) {
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
      if (Utf16) line = WithCrLf(line);
      out += line;
      out += nl;
    }
  }
  out += nl;
  return Utf16 ? EncodeUtf16(out) : Utf16ToUtf8(out);
}

TRegFile ExportKeyTree(IRegStore& Store, HKEY Root, std::u16string_view Path) {
  TRegFile file;
  std::u16string p(Path);
  while (!p.empty() && p.back() == u'\\') p.pop_back();
  ExportInto(Store, Root, p, file);
  return file;
}

LSTATUS DeleteKeyTree(IRegStore& Store, HKEY Root, std::u16string_view Path) {
  if (Path.empty()) return ERROR_ACCESS_DENIED;
  HKEY key = 0;
  LSTATUS rc = Store.OpenKey(Root, Path, KEY_READ, key);
  if (rc) return rc;
  std::vector<std::u16string> subs;
  for (std::uint32_t i = 0;; ++i) {
    std::u16string name;
    LSTATUS e = Store.EnumKey(key, i, name, 256);
    if (e) break;
    subs.push_back(std::move(name));
  }
  Store.CloseKey(key);
  for (const auto& s : subs) {
    std::u16string sub = std::u16string(Path) + u'\\' + s;
    if (LSTATUS e = DeleteKeyTree(Store, Root, sub); e && e != ERROR_FILE_NOT_FOUND) return e;
  }
  return Store.DeleteKey(Root, Path);
}

void ImportRegFile(IRegStore& Store, const TRegFile& File) {
  // One transaction per hive file (HKLM and HKCR share one), all begun before the first write.
  std::vector<HKEY> begun;
  std::set<std::string> hives;
  auto rollback = [&] {
    for (auto it = begun.rbegin(); it != begun.rend(); ++it) Store.RollbackTransaction(*it);
  };
  for (const TRegFileKey& k : File) {
    if (!hives.insert(HiveFileName(k.Root)).second) continue;
    if (LSTATUS rc = Store.BeginTransaction(k.Root)) {
      rollback();
      throw EzbRegFileError(u"line %d: %s: %s", {k.Line, FormatRegKeyName(k.Root, u""),
                                                 Ascii(Store.DescribeHive(k.Root) + ": " + RegErrorText(rc))});
    }
    begun.push_back(k.Root);
  }
  try {
    for (const TRegFileKey& k : File) {
      if (k.Delete) {
        LSTATUS rc = DeleteKeyTree(Store, k.Root, k.Path);
        if (rc && rc != ERROR_FILE_NOT_FOUND)
          LineError(k.Line, FormatRegKeyName(k.Root, k.Path) + u": " + Ascii(RegErrorText(rc)));
        continue;
      }
      HKEY key = 0;
      if (LSTATUS rc = Store.CreateKey(k.Root, k.Path, KEY_ALL_ACCESS, key))
        LineError(k.Line, FormatRegKeyName(k.Root, k.Path) + u": " + Ascii(RegErrorText(rc)));
      struct TClose {
        IRegStore& S;
        HKEY K;
        ~TClose() { S.CloseKey(K); }
      } close{Store, key};
      for (const TRegFileValue& v : k.Values) {
        LSTATUS rc =
            v.Delete ? Store.DeleteValue(key, v.Name)
                     : Store.SetValue(key, v.Name, v.Type, v.Data.data(), static_cast<std::uint32_t>(v.Data.size()));
        if (rc && !(v.Delete && rc == ERROR_FILE_NOT_FOUND))
          LineError(v.Line, u"\"" + v.Name + u"\": " + Ascii(RegErrorText(rc)));
      }
    }
  } catch (...) {
    rollback();
    throw;
  }
  for (std::size_t i = 0; i < begun.size(); ++i) {
    if (LSTATUS rc = Store.CommitTransaction(begun[i])) {
      for (std::size_t j = begun.size(); j-- > i + 1;) Store.RollbackTransaction(begun[j]);
      throw EzbRegFileError(u"%s: %s", {FormatRegKeyName(begun[i], u""), Ascii(RegErrorText(rc))});
    }
  }
}

}  // namespace zb
