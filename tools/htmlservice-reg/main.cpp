// htmlservice-reg: shows and changes what the HTML service keeps in its registry store, and moves
// key trees in and out in the registry editor's text format.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/regstore/RegFile.h"
#include "platform/regstore/RegStore.h"
#include "support/zbUnicode.h"

namespace {

using namespace zb;

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

constexpr const char* HelpText =
    "Usage: htmlservice-reg COMMAND ...\n"
    "Shows and changes the registry store of the Plumadesk HTML service.\n"
    "\n"
    "  query KEY [VALUE]          show a key (its values and sub-keys) or one value\n"
    "  set KEY VALUE TYPE DATA    store a value, creating the key when missing\n"
    "  delete KEY [VALUE]         remove a key with everything below it, or one value\n"
    "  export [KEY] FILE          write KEY (default: every root that has a store) to FILE\n"
    "  import FILE                apply FILE; on any error nothing is changed\n"
    "\n"
    "KEY is ROOT\\path, ROOT one of HKEY_CURRENT_USER (HKCU), HKEY_LOCAL_MACHINE (HKLM),\n"
    "HKEY_CLASSES_ROOT (HKCR). VALUE \"\" is the key's default value.\n"
    "TYPE is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ (entries separated by \\0), REG_DWORD, REG_QWORD\n"
    "(decimal or 0x hex), REG_BINARY or REG_NONE (hex bytes: 0a1b2c or 0a,1b,2c).\n"
    "FILE is in the registry editor's format (\"Windows Registry Editor Version 5.00\"); \"-\" is\n"
    "standard output or input. export --utf16 writes UTF-16 with CR LF as the registry editor does.\n"
    "\n"
    "Stores: HKEY_CURRENT_USER is $XDG_CONFIG_HOME/vestrum/registry/user.db; the machine roots are\n"
    "/etc/vestrum/registry/machine.db or $VESTRUM_MACHINE_REGISTRY.\n";

int Fail(const std::string& Message) {
  std::fprintf(stderr, "htmlservice-reg: %s\n", Message.c_str());
  return ExitFailed;
}

int Usage(const std::string& Message) {
  std::fprintf(stderr, "htmlservice-reg: %s\nTry 'htmlservice-reg --help'.\n", Message.c_str());
  return ExitUsage;
}

std::string U8(std::u16string_view S) { return Utf16ToUtf8(S); }

bool ParseKey(const std::string& Arg, HKEY& Root, std::u16string& Path) {
  return SplitRegistryPath(Utf8ToUtf16(Arg), Root, Path) && !HiveFileName(Root).empty();
}

std::string Describe(HKEY Root, LSTATUS Rc) {
  std::string text = RegErrorText(Rc);
  if (Rc == ERROR_BADDB || Rc == ERROR_ACCESS_DENIED) text += " (" + RegStore().DescribeHive(Root) + ")";
  return text;
}

bool ParseHexData(const std::string& S, std::string& Out) {
  std::string digits;
  for (char c : S) {
    if (c == ',' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  Out.clear();
  for (std::size_t i = 0; i < digits.size(); i += 2)
    Out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return true;
}

bool ParseNumber(const std::string& S, unsigned long long Max, long long Min, std::uint64_t& Out) {
  if (S.empty()) return false;
  errno = 0;
  char* end = nullptr;
  bool negative = S[0] == '-';
  if (negative) {
    long long v = std::strtoll(S.c_str(), &end, 0);
    if (errno || *end || v < Min) return false;
    Out = static_cast<std::uint64_t>(v);
  } else {
    unsigned long long v = std::strtoull(S.c_str(), &end, 0);
    if (errno || *end || v > Max) return false;
    Out = v;
  }
  return true;
}

bool BuildData(const std::string& TypeName, const std::string& Data, std::uint32_t& Type, std::string& Bytes) {
  auto text = [&](const std::u16string& t) {
    Bytes.assign(reinterpret_cast<const char*>(t.c_str()), (t.size() + 1) * 2);
  };
  std::uint64_t n = 0;
  if (TypeName == "REG_SZ" || TypeName == "REG_EXPAND_SZ") {
    Type = TypeName == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    text(Utf8ToUtf16(Data));
  } else if (TypeName == "REG_MULTI_SZ") {
    Type = REG_MULTI_SZ;
    std::u16string all = Utf8ToUtf16(Data), joined;
    for (std::size_t p = 0;;) {
      std::size_t sep = all.find(u"\\0", p);
      joined += all.substr(p, sep == std::u16string::npos ? all.npos : sep - p);
      joined += u'\0';
      if (sep == std::u16string::npos) break;
      p = sep + 2;
    }
    text(joined);
  } else if (TypeName == "REG_DWORD") {
    if (!ParseNumber(Data, 0xFFFFFFFFull, INT32_MIN, n)) return false;
    Type = REG_DWORD;
    Bytes.assign(4, '\0');
    for (int i = 0; i < 4; ++i) Bytes[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  } else if (TypeName == "REG_QWORD") {
    if (!ParseNumber(Data, ~0ull, INT64_MIN, n)) return false;
    Type = REG_QWORD;
    Bytes.assign(8, '\0');
    for (int i = 0; i < 8; ++i) Bytes[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  } else if (TypeName == "REG_BINARY" || TypeName == "REG_NONE") {
    Type = TypeName == "REG_BINARY" ? REG_BINARY : REG_NONE;
    if (!ParseHexData(Data, Bytes)) return false;
  } else {
    return false;
  }
  return true;
}

int Query(const std::vector<std::string>& A) {
  if (A.size() < 1 || A.size() > 2) return Usage("query needs KEY [VALUE]");
  HKEY root = 0;
  std::u16string path;
  if (!ParseKey(A[0], root, path)) return Usage("unknown root in " + A[0]);
  HKEY key = 0;
  LSTATUS rc = RegStore().OpenKey(root, path, KEY_READ, key);
  if (rc == ERROR_ACCESS_DENIED) rc = RegStore().OpenKey(root, path, KEY_QUERY_VALUE, key);
  if (rc) return Fail(A[0] + ": " + Describe(root, rc));
  struct TClose {
    HKEY K;
    ~TClose() { RegStore().CloseKey(K); }
  } close{key};
  auto show = [&](const std::u16string& name) -> LSTATUS {
    TRegFileValue v;
    v.Name = name;
    std::uint32_t size = 0;
    LSTATUS e = RegStore().QueryValue(key, name, &v.Type, nullptr, &size);
    if (e) return e;
    v.Data.assign(size, '\0');
    static char none;
    e = RegStore().QueryValue(key, name, &v.Type, size ? v.Data.data() : &none, &size);
    if (e) return e;
    v.Data.resize(size);
    std::printf("%s\n", U8(FormatRegValue(v)).c_str());
    return ERROR_SUCCESS;
  };
  if (A.size() == 2) {
    if (LSTATUS e = show(Utf8ToUtf16(A[1]))) return Fail(A[0] + " \"" + A[1] + "\": " + Describe(root, e));
    return ExitOk;
  }
  std::printf("[%s]\n", U8(FormatRegKeyName(root, path)).c_str());
  for (std::uint32_t i = 0;; ++i) {
    std::u16string name;
    if (RegStore().EnumValue(key, i, name, 16384)) break;
    show(name);
  }
  for (std::uint32_t i = 0;; ++i) {
    std::u16string name;
    if (RegStore().EnumKey(key, i, name, 256)) break;
    std::printf("[%s]\n", U8(FormatRegKeyName(root, path.empty() ? name : path + u'\\' + name)).c_str());
  }
  return ExitOk;
}

int Set(const std::vector<std::string>& A) {
  if (A.size() != 4) return Usage("set needs KEY VALUE TYPE DATA");
  HKEY root = 0;
  std::u16string path;
  if (!ParseKey(A[0], root, path)) return Usage("unknown root in " + A[0]);
  std::uint32_t type = 0;
  std::string bytes;
  if (!BuildData(A[2], A[3], type, bytes)) return Usage("DATA \"" + A[3] + "\" does not fit TYPE " + A[2]);
  HKEY key = 0;
  if (LSTATUS rc = RegStore().CreateKey(root, path, KEY_SET_VALUE, key)) return Fail(A[0] + ": " + Describe(root, rc));
  LSTATUS rc =
      RegStore().SetValue(key, Utf8ToUtf16(A[1]), type, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  RegStore().CloseKey(key);
  if (rc) return Fail(A[0] + " \"" + A[1] + "\": " + Describe(root, rc));
  return ExitOk;
}

int Delete(const std::vector<std::string>& A) {
  if (A.size() < 1 || A.size() > 2) return Usage("delete needs KEY [VALUE]");
  HKEY root = 0;
  std::u16string path;
  if (!ParseKey(A[0], root, path)) return Usage("unknown root in " + A[0]);
  if (A.size() == 1) {
    if (path.empty()) return Usage("a root key cannot be deleted");
    if (LSTATUS rc = DeleteKeyTree(RegStore(), root, path)) return Fail(A[0] + ": " + Describe(root, rc));
    return ExitOk;
  }
  HKEY key = 0;
  if (LSTATUS rc = RegStore().OpenKey(root, path, KEY_SET_VALUE, key)) return Fail(A[0] + ": " + Describe(root, rc));
  LSTATUS rc = RegStore().DeleteValue(key, Utf8ToUtf16(A[1]));
  RegStore().CloseKey(key);
  if (rc) return Fail(A[0] + " \"" + A[1] + "\": " + Describe(root, rc));
  return ExitOk;
}

bool WriteAll(const std::string& FileName, const std::string& Bytes, std::string& Error) {
  FILE* f = FileName == "-" ? stdout : std::fopen(FileName.c_str(), "wb");
  if (!f) {
    Error = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(Bytes.data(), 1, Bytes.size(), f) == Bytes.size();
  ok = (f == stdout ? std::fflush(f) == 0 : std::fclose(f) == 0) && ok;
  if (!ok) Error = std::strerror(errno);
  return ok;
}

bool ReadAll(const std::string& FileName, std::string& Bytes, std::string& Error) {
  FILE* f = FileName == "-" ? stdin : std::fopen(FileName.c_str(), "rb");
  if (!f) {
    Error = std::strerror(errno);
    return false;
  }
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) Bytes.append(buf, n);
  bool ok = !std::ferror(f);
  if (f != stdin) std::fclose(f);
  if (!ok) Error = "read error";
  return ok;
}

int Export(std::vector<std::string> A) {
  bool utf16 = false;
  for (auto it = A.begin(); it != A.end();) {
    if (*it == "--utf16") {
      utf16 = true;
      it = A.erase(it);
    } else {
      ++it;
    }
  }
  if (A.size() < 1 || A.size() > 2) return Usage("export needs [KEY] FILE");
  TRegFile file;
  try {
    if (A.size() == 2) {
      HKEY root = 0;
      std::u16string path;
      if (!ParseKey(A[0], root, path)) return Usage("unknown root in " + A[0]);
      file = ExportKeyTree(RegStore(), root, path);
    } else {
      for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) {
        HKEY probe = 0;
        LSTATUS rc = RegStore().OpenKey(root, u"", KEY_QUERY_VALUE, probe);
        if (rc == ERROR_FILE_NOT_FOUND) continue;  // no store file for this root
        if (rc) return Fail(Utf16ToUtf8(RootKeyName(root)) + ": " + Describe(root, rc));
        RegStore().CloseKey(probe);
        TRegFile part = ExportKeyTree(RegStore(), root, u"");
        file.insert(file.end(), part.begin(), part.end());
      }
    }
  } catch (const EzbException& e) {
    return Fail(U8(e.Message()));
  }
  std::string error;
  if (!WriteAll(A.back(), FormatRegFile(file, utf16), error)) return Fail(A.back() + ": " + error);
  return ExitOk;
}

int Import(const std::vector<std::string>& A) {
  if (A.size() != 1) return Usage("import needs FILE");
  std::string bytes, error;
  if (!ReadAll(A[0], bytes, error)) return Fail(A[0] + ": " + error);
  try {
    ImportRegFile(RegStore(), ParseRegFile(bytes));
  } catch (const EzbException& e) {
    return Fail(A[0] + ": " + U8(e.Message()) + "; nothing was changed");
  }
  return ExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("a command is needed");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::fputs(HelpText, stdout);
    return ExitOk;
  }
  std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "query") return Query(args);
    if (command == "set") return Set(args);
    if (command == "delete") return Delete(args);
    if (command == "export") return Export(args);
    if (command == "import") return Import(args);
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
  return Usage("unknown command " + command);
}
