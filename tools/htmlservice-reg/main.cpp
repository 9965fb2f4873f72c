// htmlservice-reg: shows and changes what the HTML service keeps in its registry store, and moves
// key trees in and out in the registry editor's text format.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/regstore/RegFile.h"
#include "platform/regstore/RegStore.h"
#include "support/zbCOwner.h"
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

int Fail(const std::string& AMessage) {
  std::fprintf(stderr, "htmlservice-reg: %s\n", AMessage.c_str());
  return ExitFailed;
}

int Usage(const std::string& AMessage) {
  std::fprintf(stderr, "htmlservice-reg: %s\nTry 'htmlservice-reg --help'.\n", AMessage.c_str());
  return ExitUsage;
}

std::string U8(std::u16string_view AText) { return Utf16ToUtf8(AText); }

bool ParseKey(const std::string& ARg, HKEY& ARoot, std::u16string& APath) {
  return SplitRegistryPath(Utf8ToUtf16(ARg), ARoot, APath) && !HiveFileName(ARoot).empty();
}

std::string Describe(HKEY ARoot, LSTATUS ARc) {
  std::string text = RegErrorText(ARc);
  if (ARc == ERROR_BADDB || ARc == ERROR_ACCESS_DENIED) text += " (" + RegStore().DescribeHive(ARoot) + ")";
  return text;
}

bool ParseHexData(const std::string& AText, std::string& AOut) {
  std::string digits;
  for (char c : AText) {
    if (c == ',' || c == ' ') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits += c;
  }
  if (digits.size() % 2) return false;
  AOut.clear();
  for (std::size_t i = 0; i < digits.size(); i += 2)
    AOut += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return true;
}

bool ParseNumber(const std::string& AText, unsigned long long AMax, long long AMin, std::uint64_t& AOut) {
  if (AText.empty()) return false;
  errno = 0;
  char* end = nullptr;
  bool negative = AText[0] == '-';
  if (negative) {
    long long v = std::strtoll(AText.c_str(), &end, 0);
    if (errno || *end || v < AMin) return false;
    AOut = static_cast<std::uint64_t>(v);
  } else {
    unsigned long long v = std::strtoull(AText.c_str(), &end, 0);
    if (errno || *end || v > AMax) return false;
    AOut = v;
  }
  return true;
}

bool BuildData(const std::string& ATypeName, const std::string& AData, std::uint32_t& AType, std::string& ABytes) {
  auto text = [&](const std::u16string& AT) {
    ABytes.assign(reinterpret_cast<const char*>(AT.c_str()), (AT.size() + 1) * 2);
  };
  std::uint64_t n = 0;
  if (ATypeName == "REG_SZ" || ATypeName == "REG_EXPAND_SZ") {
    AType = ATypeName == "REG_SZ" ? REG_SZ : REG_EXPAND_SZ;
    text(Utf8ToUtf16(AData));
  } else if (ATypeName == "REG_MULTI_SZ") {
    AType = REG_MULTI_SZ;
    std::u16string all = Utf8ToUtf16(AData), joined;
    for (std::size_t p = 0;;) {
      std::size_t sep = all.find(u"\\0", p);
      joined += all.substr(p, sep == std::u16string::npos ? all.npos : sep - p);
      joined += u'\0';
      if (sep == std::u16string::npos) break;
      p = sep + 2;
    }
    text(joined);
  } else if (ATypeName == "REG_DWORD") {
    if (!ParseNumber(AData, 0xFFFFFFFFull, INT32_MIN, n)) return false;
    AType = REG_DWORD;
    ABytes.assign(4, '\0');
    for (int i = 0; i < 4; ++i) ABytes[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  } else if (ATypeName == "REG_QWORD") {
    if (!ParseNumber(AData, ~0ull, INT64_MIN, n)) return false;
    AType = REG_QWORD;
    ABytes.assign(8, '\0');
    for (int i = 0; i < 8; ++i) ABytes[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
  } else if (ATypeName == "REG_BINARY" || ATypeName == "REG_NONE") {
    AType = ATypeName == "REG_BINARY" ? REG_BINARY : REG_NONE;
    if (!ParseHexData(AData, ABytes)) return false;
  } else {
    return false;
  }
  return true;
}

int Query(const std::vector<std::string>& AArgs) {
  if (AArgs.size() < 1 || AArgs.size() > 2) return Usage("query needs KEY [VALUE]");
  HKEY root = 0;
  std::u16string path;
  if (!ParseKey(AArgs[0], root, path)) return Usage("unknown root in " + AArgs[0]);
  HKEY key = 0;
  LSTATUS rc = RegStore().OpenKey(root, path, KEY_READ, key);
  if (rc == ERROR_ACCESS_DENIED) rc = RegStore().OpenKey(root, path, KEY_QUERY_VALUE, key);
  if (rc) return Fail(AArgs[0] + ": " + Describe(root, rc));
  struct TClose {
    HKEY K;
    ~TClose() { RegStore().CloseKey(K); }
  } close{key};
  auto show = [&](const std::u16string& AName) -> LSTATUS {
    TRegFileValue v;
    v.Name = AName;
    std::uint32_t size = 0;
    LSTATUS e = RegStore().QueryValue(key, AName, &v.Type, nullptr, &size);
    if (e) return e;
    v.Data.assign(size, '\0');
    static char none;
    e = RegStore().QueryValue(key, AName, &v.Type, size ? v.Data.data() : &none, &size);
    if (e) return e;
    v.Data.resize(size);
    std::printf("%s\n", U8(FormatRegValue(v)).c_str());
    return ERROR_SUCCESS;
  };
  if (AArgs.size() == 2) {
    if (LSTATUS e = show(Utf8ToUtf16(AArgs[1]))) return Fail(AArgs[0] + " \"" + AArgs[1] + "\": " + Describe(root, e));
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

int Set(const std::vector<std::string>& AArgs) {
  if (AArgs.size() != 4) return Usage("set needs KEY VALUE TYPE DATA");
  HKEY root = 0;
  std::u16string path;
  if (!ParseKey(AArgs[0], root, path)) return Usage("unknown root in " + AArgs[0]);
  std::uint32_t type = 0;
  std::string bytes;
  if (!BuildData(AArgs[2], AArgs[3], type, bytes))
    return Usage("DATA \"" + AArgs[3] + "\" does not fit TYPE " + AArgs[2]);
  HKEY key = 0;
  if (LSTATUS rc = RegStore().CreateKey(root, path, KEY_SET_VALUE, key))
    return Fail(AArgs[0] + ": " + Describe(root, rc));
  LSTATUS rc =
      RegStore().SetValue(key, Utf8ToUtf16(AArgs[1]), type, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  RegStore().CloseKey(key);
  if (rc) return Fail(AArgs[0] + " \"" + AArgs[1] + "\": " + Describe(root, rc));
  return ExitOk;
}

int Delete(const std::vector<std::string>& AArgs) {
  if (AArgs.size() < 1 || AArgs.size() > 2) return Usage("delete needs KEY [VALUE]");
  HKEY root = 0;
  std::u16string path;
  if (!ParseKey(AArgs[0], root, path)) return Usage("unknown root in " + AArgs[0]);
  if (AArgs.size() == 1) {
    if (path.empty()) return Usage("a root key cannot be deleted");
    if (LSTATUS rc = DeleteKeyTree(RegStore(), root, path)) return Fail(AArgs[0] + ": " + Describe(root, rc));
    return ExitOk;
  }
  HKEY key = 0;
  if (LSTATUS rc = RegStore().OpenKey(root, path, KEY_SET_VALUE, key))
    return Fail(AArgs[0] + ": " + Describe(root, rc));
  LSTATUS rc = RegStore().DeleteValue(key, Utf8ToUtf16(AArgs[1]));
  RegStore().CloseKey(key);
  if (rc) return Fail(AArgs[0] + " \"" + AArgs[1] + "\": " + Describe(root, rc));
  return ExitOk;
}

bool WriteAll(const std::string& AFileName, const std::string& ABytes, std::string& AError) {
  const TzbFileOwner file(AFileName == "-" ? nullptr : std::fopen(AFileName.c_str(), "wb"));
  FILE* f = AFileName == "-" ? stdout : file.get();
  if (!f) {
    AError = std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(ABytes.data(), 1, ABytes.size(), f) == ABytes.size();
  ok = std::fflush(f) == 0 && ok;  // a write's error shows here at the latest
  if (!ok) AError = std::strerror(errno);
  return ok;
}

bool ReadAll(const std::string& AFileName, std::string& ABytes, std::string& AError) {
  const TzbFileOwner file(AFileName == "-" ? nullptr : std::fopen(AFileName.c_str(), "rb"));
  FILE* f = AFileName == "-" ? stdin : file.get();
  if (!f) {
    AError = std::strerror(errno);
    return false;
  }
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) ABytes.append(buf, n);
  const bool ok = !std::ferror(f);
  if (!ok) AError = "read error";
  return ok;
}

int Export(std::vector<std::string> AArgs) {
  bool utf16 = false;
  for (auto it = AArgs.begin(); it != AArgs.end();) {
    if (*it == "--utf16") {
      utf16 = true;
      it = AArgs.erase(it);
    } else {
      ++it;
    }
  }
  if (AArgs.size() < 1 || AArgs.size() > 2) return Usage("export needs [KEY] FILE");
  TRegFile file;
  try {
    if (AArgs.size() == 2) {
      HKEY root = 0;
      std::u16string path;
      if (!ParseKey(AArgs[0], root, path)) return Usage("unknown root in " + AArgs[0]);
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
  if (!WriteAll(AArgs.back(), FormatRegFile(file, utf16), error)) return Fail(AArgs.back() + ": " + error);
  return ExitOk;
}

int Import(const std::vector<std::string>& AArgs) {
  if (AArgs.size() != 1) return Usage("import needs FILE");
  std::string bytes, error;
  if (!ReadAll(AArgs[0], bytes, error)) return Fail(AArgs[0] + ": " + error);
  try {
    ImportRegFile(RegStore(), ParseRegFile(bytes));
  } catch (const EzbException& e) {
    return Fail(AArgs[0] + ": " + U8(e.Message()) + "; nothing was changed");
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
