#include "support/zbRegistry.h"

#include <cstring>
#include <limits>
#include <vector>

namespace zb {
namespace {

constexpr std::u16string_view SRegCreateFailed = u"Erzeugung von Schlüssel %s misslungen";
constexpr std::u16string_view SRegGetDataFailed = u"Fehler beim Holen der Daten für '%s'";
constexpr std::u16string_view SRegSetDataFailed = u"Fehler beim Setzen der Daten für '%s'";
constexpr std::u16string_view SInvalidRegType =
    u"Der Schlüssel \"%s\" der Registrierungsdatenbank kann nicht zum Lesen geöffnet werden.";

constexpr REGSAM KeyReadEnumerate = STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;  // 0x20009

[[noreturn]] void ReadError(std::u16string_view Name) { throw EzbRegistryError(SInvalidRegType, {Name}); }
[[noreturn]] void GetDataError(std::u16string_view Name) { throw EzbRegistryError(SRegGetDataFailed, {Name}); }
[[noreturn]] void SetDataError(std::u16string_view Name) { throw EzbRegistryError(SRegSetDataFailed, {Name}); }

std::int32_t ClampToInt32(std::uint32_t V) {
  return V > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(V);
}

// Runs a cleanup at scope end, also when an exception passes.
template <class F>
class TFinally {
 public:
  explicit TFinally(F Fn) : FFn(std::move(Fn)) {}
  ~TFinally() { FFn(); }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

 private:
  F FFn;
};

const std::u16string_view RootPrefixes[] = {
    u"HKEY_CLASSES_ROOT\\",     u"HKEY_CURRENT_USER\\",   u"HKEY_LOCAL_MACHINE\\", u"HKEY_USERS\\",
    u"HKEY_PERFORMANCE_DATA\\", u"HKEY_CURRENT_CONFIG\\", u"HKEY_DYN_DATA\\"};
constexpr HKEY RootsInPrefixOrder[] = {HKEY_CLASSES_ROOT,     HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE, HKEY_USERS,
                                       HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA};

}  // namespace

std::uint32_t RegDataTypeToStore(TzbRegDataType AType) {
  switch (AType) {
    case rdtString: return REG_SZ;
    case rdtExpandString: return REG_EXPAND_SZ;
    case rdtInteger: return REG_DWORD;
    case rdtBinary: return REG_BINARY;
    default: return REG_NONE;
  }
}

TzbRegDataType RegDataTypeFromStore(std::uint32_t AType) {
  switch (AType) {
    case REG_SZ: return rdtString;
    case REG_EXPAND_SZ: return rdtExpandString;
    case REG_DWORD: return rdtInteger;
    case REG_BINARY: return rdtBinary;
    default: return rdtUnknown;
  }
}

// ---- TzbRegistryKeys

TzbRegistryKeys TzbRegistryKeys::FromText(std::u16string_view AText) {
  TzbRegistryKeys r;
  static const TStringList Prefixes(std::begin(RootPrefixes), std::end(RootPrefixes));
  int index = IndexOfPrefix(Prefixes, AText, false, false);
  if (index >= 0) {
    r.RootKey = RootsInPrefixOrder[index];
    // The key keeps the prefix's backslash: it is a path from the root.
    r.Key = std::u16string(AText.substr(RootPrefixes[index].size() - 1));
  } else {
    r.RootKey = HKEY_CURRENT_USER;
    r.Key = std::u16string(AText);
  }
  int tab = SearchText(u"\t", r.Key, true);
  if (tab > 0) {
    int bar = SearchText(u"|", r.Key, true, tab + 1);
    if (bar > 0) {
      r.Name = r.Key.substr(tab, bar - tab - 1);
      r.Value = r.Key.substr(bar);
    } else {
      r.Name = r.Key.substr(tab);
    }
    r.Key.resize(tab - 1);
  }
  return r;
}

std::u16string TzbRegistryKeys::ToText() const {
  if (RootKey == 0 && Key.empty()) return {};
  std::u16string r(RootPrefixes[1]);
  for (std::size_t i = 0; i < std::size(RootsInPrefixOrder); ++i)
    if (RootsInPrefixOrder[i] == RootKey) r = RootPrefixes[i];
  // FromText keeps the prefix's backslash in Key; dropping it here makes the text form round-trip.
  r += !Key.empty() && Key.front() == u'\\' ? std::u16string_view(Key).substr(1) : std::u16string_view(Key);
  if (!Name.empty()) {
    r += u'\t';
    r += Name;
    if (!Value.empty()) {
      r += u'|';
      r += Value;
    }
  } else if (!Value.empty()) {
    r += u"\t|";
    r += Value;
  }
  return r;
}

bool TzbRegistryKeys::operator==(const TzbRegistryKeys& AOther) const {
  return RootKey == AOther.RootKey && SameTextEx(Key, AOther.Key, false, true) &&
         SameTextEx(Name, AOther.Name, false, true) && Value == AOther.Value;
}

void TzbRegistryKeys::Clear() {
  RootKey = 0;
  Key.clear();
  Name.clear();
  Value.clear();
}

bool TzbRegistryKeys::IsEmpty() const { return RootKey == 0 && Key.empty() && Name.empty() && Value.empty(); }

// ---- TzbRegistry: construction and keys

TzbRegistry::TzbRegistry(REGSAM AAccess, HKEY ARootKey) : TzbRegistry(AAccess, ARootKey, RegStore()) {}

TzbRegistry::TzbRegistry(REGSAM AAccess, HKEY ARootKey, IRegStore& AStore) : FStore(AStore) {
  TzbRegistry::SetRootKey(ARootKey);
  FAccess = AAccess;
  FLazyWrite = true;
}

TzbRegistry::~TzbRegistry() {
  TzbRegistry::CloseKey();
  if (FCloseRootKey) FStore.CloseKey(FRootKey);
}

void TzbRegistry::SetRootKey(HKEY Value) {
  if (Value == FRootKey) return;
  if (FCloseRootKey) {
    FStore.CloseKey(FRootKey);
    FCloseRootKey = false;
  }
  FRootKey = Value;
  TzbRegistry::CloseKey();
}

void TzbRegistry::CloseKey() {
  if (FCurrentKey == 0) return;
  if (!FLazyWrite) FStore.FlushKey(FCurrentKey);
  FStore.CloseKey(FCurrentKey);
  FCurrentKey = 0;
  FCurrentPath.clear();
}

TzbRegistry::TResolved TzbRegistry::ResolvePath(std::u16string_view Key) const {
  TResolved r;
  r.Relative = Key.empty() || Key.front() != u'\\';
  r.Rest = std::u16string(r.Relative ? Key : Key.substr(1));
  r.Base = r.Relative && FCurrentKey != 0 ? FCurrentKey : FRootKey;
  return r;
}

std::u16string TzbRegistry::FullPath(const TResolved& R) const {
  if (!(R.Relative && FCurrentKey != 0)) return R.Rest;
  // Opening "" keeps the path as it is, so a later relative open never meets a doubled backslash.
  return R.Rest.empty() ? FCurrentPath : FCurrentPath + u'\\' + R.Rest;
}

void TzbRegistry::ChangeKey(HKEY Value, std::u16string Path) {
  CloseKey();
  FCurrentKey = Value;
  FCurrentPath = std::move(Path);
}

bool TzbRegistry::OpenKey(std::u16string_view AKey) { return OpenKey(AKey, FAccess != KEY_READ); }

bool TzbRegistry::OpenKey(std::u16string_view AKey, bool ACanCreate) {
  TResolved r = ResolvePath(AKey);
  HKEY key = 0;
  LSTATUS rc = ACanCreate && !r.Rest.empty() ? FStore.CreateKey(r.Base, r.Rest, FAccess, key)
                                             : FStore.OpenKey(r.Base, r.Rest, FAccess, key);
  if (rc != ERROR_SUCCESS) return false;
  ChangeKey(key, FullPath(r));
  return true;
}

bool TzbRegistry::OpenKey(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs, bool ACanCreate) {
  return OpenKey(Format(AFormat, AArgs), ACanCreate);
}

bool TzbRegistry::OpenKey(HKEY ARootKey, std::u16string_view AKey, bool ACanCreate) {
  SetRootKey(ARootKey);
  return OpenKey(AKey, ACanCreate);
}

bool TzbRegistry::OpenRegistryKeys(const TzbRegistryKeys& ARegistryKeys, bool ACanCreate) {
  SetRootKey(ARegistryKeys.RootKey);
  return OpenKey(ARegistryKeys.Key, ACanCreate);
}

bool TzbRegistry::OpenKeyReadOnly(std::u16string_view Key) {
  TResolved r = ResolvePath(Key);
  for (REGSAM mask : {KEY_READ, KeyReadEnumerate, KEY_QUERY_VALUE}) {
    HKEY key = 0;
    if (FStore.OpenKey(r.Base, r.Rest, mask, key) == ERROR_SUCCESS) {
      FAccess = mask;
      ChangeKey(key, FullPath(r));
      return true;
    }
  }
  return false;
}

bool TzbRegistry::CreateKey(std::u16string_view Key) {
  TResolved r = ResolvePath(Key);
  HKEY key = 0;
  if (FStore.CreateKey(r.Base, r.Rest, KEY_ALL_ACCESS, key) != ERROR_SUCCESS)
    throw EzbRegistryError(SRegCreateFailed, {Key});
  FStore.CloseKey(key);
  return true;
}

bool TzbRegistry::DeleteKey(std::u16string_view Key) {
  TResolved r = ResolvePath(Key);
  // An empty path from the root would name the whole hive; nothing that asks for that means it.
  if (r.Rest.empty() && r.Base == FRootKey) return false;
  HKEY key = 0;
  if (FStore.OpenKey(r.Base, r.Rest, FAccess, key) == ERROR_SUCCESS) {
    HKEY remembered = FCurrentKey;
    FCurrentKey = key;
    TFinally restore([&] {
      FCurrentKey = remembered;
      FStore.CloseKey(key);
    });
    TzbRegKeyInfo info;
    if (GetKeyInfo(info)) {
      for (std::int32_t i = info.NumSubKeys - 1; i >= 0; --i) {
        std::u16string name;
        if (FStore.EnumKey(key, static_cast<std::uint32_t>(i), name,
                           static_cast<std::uint32_t>(info.MaxSubKeyLen) + 1) == ERROR_SUCCESS)
          DeleteKey(name);
      }
    }
  }
  return FStore.DeleteKey(r.Base, r.Rest) == ERROR_SUCCESS;
}

bool TzbRegistry::DeleteKey(HKEY Root, std::u16string_view Key) {
  SetRootKey(Root);
  return DeleteKey(Key);
}

bool TzbRegistry::KeyExists(std::u16string_view Key) {
  REGSAM old = FAccess;
  TFinally restore([&] { FAccess = old; });
  FAccess = KeyReadEnumerate;
  TResolved r = ResolvePath(Key);
  HKEY key = 0;
  if (FStore.OpenKey(r.Base, r.Rest, FAccess, key) != ERROR_SUCCESS) return false;
  FStore.CloseKey(key);
  return true;
}

bool TzbRegistry::KeyExists(HKEY Root, std::u16string_view Key) {
  SetRootKey(Root);
  return KeyExists(Key);
}

bool TzbRegistry::HasSubKeys() {
  TzbRegKeyInfo info;
  return GetKeyInfo(info) && info.NumSubKeys > 0;
}

// Names are counted in UTF-16 units on every locale, so no far-east doubling applies here.
bool TzbRegistry::GetKeyInfo(TzbRegKeyInfo& Value) {
  Value = {};
  TRegStoreKeyInfo info;
  if (FStore.QueryInfoKey(FCurrentKey, info) != ERROR_SUCCESS) return false;
  Value.NumSubKeys = ClampToInt32(info.SubKeys);
  Value.MaxSubKeyLen = ClampToInt32(info.MaxSubKeyLen);
  Value.NumValues = ClampToInt32(info.Values);
  Value.MaxValueLen = ClampToInt32(info.MaxValueNameLen);
  Value.MaxDataLen = ClampToInt32(info.MaxValueLen);
  Value.FileTime = info.LastWriteTime;
  return true;
}

void TzbRegistry::GetKeyNames(TStringList& AStrings) {
  AStrings.clear();
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  for (std::int32_t i = 0; i < info.NumSubKeys; ++i) {
    std::u16string name;
    if (FStore.EnumKey(FCurrentKey, static_cast<std::uint32_t>(i), name,
                       static_cast<std::uint32_t>(info.MaxSubKeyLen) + 1) == ERROR_SUCCESS)
      AStrings.push_back(std::move(name));
  }
}

void TzbRegistry::GetValueNames(TStringList& Strings) {
  Strings.clear();
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  for (std::int32_t i = 0; i < info.NumValues; ++i) {
    std::u16string name;
    if (FStore.EnumValue(FCurrentKey, static_cast<std::uint32_t>(i), name,
                         static_cast<std::uint32_t>(info.MaxValueLen) + 1) == ERROR_SUCCESS)
      Strings.push_back(std::move(name));
  }
}

// ---- Moving keys and renaming values

void TzbRegistry::CopyValue(HKEY Source, HKEY Target, std::u16string_view Name) {
  // Empty values are copied too: with Delete set, skipping them would lose them.
  std::int32_t size = GetDataSize(Name);
  if (size < 0) return;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  std::uint32_t got = static_cast<std::uint32_t>(size), type = 0;
  if (FStore.QueryValue(Source, Name, &type, data.data(), &got) != ERROR_SUCCESS) GetDataError(Name);
  HKEY remembered = FCurrentKey;
  FCurrentKey = Target;
  TFinally restore([&] { FCurrentKey = remembered; });
  if (FStore.SetValue(FCurrentKey, Name, type, data.data(), got) != ERROR_SUCCESS) SetDataError(Name);
}

void TzbRegistry::CopyValues(HKEY Source, HKEY Target) {
  HKEY remembered = FCurrentKey;
  FCurrentKey = Source;
  TFinally restore([&] { FCurrentKey = remembered; });
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  CopyValue(Source, Target, u"");
  for (std::int32_t i = 0; i < info.NumValues; ++i) {
    std::u16string name;
    if (FStore.EnumValue(Source, static_cast<std::uint32_t>(i), name,
                         static_cast<std::uint32_t>(info.MaxValueLen) + 1) == ERROR_SUCCESS)
      CopyValue(Source, Target, name);
  }
}

void TzbRegistry::CopyKeys(HKEY Source, HKEY Target) {
  HKEY remembered = FCurrentKey;
  FCurrentKey = Source;
  TFinally restore([&] { FCurrentKey = remembered; });
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  for (std::int32_t i = 0; i < info.NumSubKeys; ++i) {
    std::u16string name;
    if (FStore.EnumKey(Source, static_cast<std::uint32_t>(i), name,
                       static_cast<std::uint32_t>(info.MaxSubKeyLen) + 1) != ERROR_SUCCESS)
      continue;
    HKEY sub = 0;
    if (FStore.OpenKey(Source, name, FAccess, sub) != ERROR_SUCCESS) continue;
    TFinally closeSub([&] { FStore.CloseKey(sub); });
    HKEY newSub = 0;
    {
      FCurrentKey = Target;
      TFinally back([&] { FCurrentKey = Source; });
      CreateKey(name);
      if (FStore.OpenKey(Target, name, FAccess, newSub) != ERROR_SUCCESS) continue;
    }
    TFinally closeNew([&] { FStore.CloseKey(newSub); });
    CopyValues(sub, newSub);
    CopyKeys(sub, newSub);
  }
}

void TzbRegistry::MoveKey(std::u16string_view OldName, std::u16string_view NewName, bool Delete) {
  if (!KeyExists(OldName) || KeyExists(NewName)) return;
  TResolved from = ResolvePath(OldName), to = ResolvePath(NewName);
  // A target inside the source would be copied into itself without end.
  std::u16string fromPath = ExcludeTrailingChar(FullPath(from), u'\\');
  std::u16string toPath = ExcludeTrailingChar(FullPath(to), u'\\');
  if (SameTextEx(fromPath, toPath, false, true) || StartsWithText(fromPath + u'\\', toPath, false, true)) return;
  HKEY source = 0;
  if (FStore.OpenKey(from.Base, from.Rest, FAccess, source) != ERROR_SUCCESS) return;
  TFinally closeSource([&] { FStore.CloseKey(source); });
  CreateKey(NewName);
  HKEY target = 0;
  if (FStore.OpenKey(to.Base, to.Rest, FAccess, target) != ERROR_SUCCESS) return;
  TFinally closeTarget([&] { FStore.CloseKey(target); });
  CopyValues(source, target);
  CopyKeys(source, target);
  if (Delete) DeleteKey(OldName);
}

void TzbRegistry::RenameValue(std::u16string_view OldName, std::u16string_view NewName) {
  if (!ValueExists(OldName) || ValueExists(NewName)) return;
  std::int32_t size = GetDataSize(OldName);
  if (size <= 0) return;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  std::uint32_t got = static_cast<std::uint32_t>(size), type = 0;
  if (FStore.QueryValue(FCurrentKey, OldName, &type, data.data(), &got) != ERROR_SUCCESS) GetDataError(OldName);
  // The new value is stored before the old one goes, so a failure never loses the data.
  if (FStore.SetValue(FCurrentKey, NewName, type, data.data(), got) != ERROR_SUCCESS) SetDataError(NewName);
  FStore.DeleteValue(FCurrentKey, OldName);
}

// ---- Hive files and remote registries: not on this platform

bool TzbRegistry::RegistryConnect(std::u16string_view) { return false; }
bool TzbRegistry::LoadKey(std::u16string_view, std::u16string_view) { return false; }
bool TzbRegistry::UnLoadKey(std::u16string_view) { return false; }
bool TzbRegistry::SaveKey(std::u16string_view, std::u16string_view) { return false; }
bool TzbRegistry::RestoreKey(std::u16string_view, std::u16string_view) { return false; }
bool TzbRegistry::ReplaceKey(std::u16string_view, std::u16string_view, std::u16string_view) { return false; }

// ---- Values

bool TzbRegistry::GetDataInfo(std::u16string_view ValueName, TzbRegDataInfo& Value) {
  Value = {};
  std::uint32_t type = 0, size = 0;
  if (FStore.QueryValue(FCurrentKey, ValueName, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  Value.RegData = RegDataTypeFromStore(type);
  Value.DataSize = ClampToInt32(size);
  return true;
}

std::int32_t TzbRegistry::GetDataSize(std::u16string_view ValueName) {
  TzbRegDataInfo info;
  return GetDataInfo(ValueName, info) ? info.DataSize : -1;
}

TzbRegDataType TzbRegistry::GetDataType(std::u16string_view ValueName) {
  TzbRegDataInfo info;
  return GetDataInfo(ValueName, info) ? info.RegData : rdtUnknown;
}

bool TzbRegistry::ValueExists(std::u16string_view AName) {
  TzbRegDataInfo info;
  return GetDataInfo(AName, info);
}

bool TzbRegistry::DeleteValue(std::u16string_view Name) {
  return FStore.DeleteValue(FCurrentKey, Name) == ERROR_SUCCESS;
}

LSTATUS TzbRegistry::Fetch(std::u16string_view Name, void* Buffer, std::uint32_t BufSize, std::uint32_t& Size,
                           std::uint32_t& Type) {
  static std::uint8_t NoBuffer;
  Size = BufSize;
  Type = REG_NONE;
  return FStore.QueryValue(FCurrentKey, Name, &Type, Buffer ? Buffer : &NoBuffer, &Size);
}

void TzbRegistry::PutData(std::u16string_view Name, const void* Buffer, std::size_t BufSize, TzbRegDataType Type) {
  if (BufSize > std::numeric_limits<std::uint32_t>::max() ||
      FStore.SetValue(FCurrentKey, Name, RegDataTypeToStore(Type), Buffer, static_cast<std::uint32_t>(BufSize)) !=
          ERROR_SUCCESS)
    SetDataError(Name);
}

std::u16string TzbRegistry::ReadString(std::u16string_view AName, std::u16string_view ADefault) {
  std::int32_t size = GetDataSize(AName);
  if (size > 0) {
    std::u16string text(static_cast<std::size_t>(size) / 2, u'\0');
    std::uint32_t got = 0, type = 0;
    if (Fetch(AName, text.data(), static_cast<std::uint32_t>(text.size() * 2), got, type) == ERROR_SUCCESS && got > 0) {
      TzbRegDataType dt = RegDataTypeFromStore(type);
      if (dt != rdtString && dt != rdtExpandString) ReadError(AName);
      text.resize(got / 2);
      auto nul = text.find(u'\0');
      if (nul != std::u16string::npos) text.resize(nul);
      return text;
    }
  }
  return std::u16string(ADefault);
}

std::u16string TzbRegistry::ReadString(HKEY ARoot, std::u16string_view AKey, std::u16string_view AName,
                                       std::u16string_view ADefault) {
  SetRootKey(ARoot);
  if (!OpenKey(AKey, false)) return std::u16string(ADefault);
  TFinally close([&] { CloseKey(); });
  return ReadString(AName, ADefault);
}

std::u16string TzbRegistry::ReadString(const TStringList& ANames) {
  for (const std::u16string& name : ANames) {
    std::u16string s = ReadString(name, u"");
    if (!s.empty()) return s;
  }
  return {};
}

std::int32_t TzbRegistry::ReadInteger(std::u16string_view AName) {
  std::int32_t v = 0;
  std::uint32_t got = 0, type = 0;
  if (Fetch(AName, &v, sizeof v, got, type) != ERROR_SUCCESS) GetDataError(AName);
  if (RegDataTypeFromStore(type) != rdtInteger || got != sizeof v) ReadError(AName);
  return v;
}

std::int32_t TzbRegistry::ReadInteger(std::u16string_view AName, std::int32_t ADefault) {
  std::int32_t v = 0;
  std::uint32_t got = 0, type = 0;
  if (Fetch(AName, &v, sizeof v, got, type) != ERROR_SUCCESS) return ADefault;
  if (RegDataTypeFromStore(type) != rdtInteger || got != sizeof v) ReadError(AName);
  return v;
}

bool TzbRegistry::ReadBool(std::u16string_view AName, bool ADefault) {
  return ReadInteger(AName, ADefault ? 1 : 0) != 0;
}

bool TzbRegistry::ReadFixed8(std::u16string_view Name, void* Out, bool Raising) {
  std::uint8_t buf[8];
  std::uint32_t got = 0, type = 0;
  if (Fetch(Name, buf, sizeof buf, got, type) != ERROR_SUCCESS) {
    if (Raising) GetDataError(Name);
    return false;
  }
  if (RegDataTypeFromStore(type) != rdtBinary || got != sizeof buf) ReadError(Name);
  std::memcpy(Out, buf, sizeof buf);
  return true;
}

double TzbRegistry::ReadFloat(std::u16string_view Name) {
  double v = 0;
  ReadFixed8(Name, &v, true);
  return v;
}

double TzbRegistry::ReadFloat(std::u16string_view Name, double fDefault) {
  double v = 0;
  return ReadFixed8(Name, &v, false) ? v : fDefault;
}

TCurrency TzbRegistry::ReadCurrency(std::u16string_view Name) {
  TCurrency v;
  ReadFixed8(Name, &v.Units, true);
  return v;
}

TCurrency TzbRegistry::ReadCurrency(std::u16string_view Name, TCurrency cDefault) {
  TCurrency v;
  return ReadFixed8(Name, &v.Units, false) ? v : cDefault;
}

TDateTime TzbRegistry::ReadDateTime(std::u16string_view Name) { return ReadFloat(Name); }
TDateTime TzbRegistry::ReadDateTime(std::u16string_view Name, TDateTime dtDefault) {
  return ReadFloat(Name, dtDefault);
}
TDateTime TzbRegistry::ReadDate(std::u16string_view Name) { return ReadFloat(Name); }
TDateTime TzbRegistry::ReadDate(std::u16string_view Name, TDateTime dtDefault) { return ReadFloat(Name, dtDefault); }
TDateTime TzbRegistry::ReadTime(std::u16string_view Name) { return ReadFloat(Name); }
TDateTime TzbRegistry::ReadTime(std::u16string_view Name, TDateTime dtDefault) { return ReadFloat(Name, dtDefault); }

std::int32_t TzbRegistry::ReadBinaryData(std::u16string_view Name, void* Buffer, std::int32_t BufSize) {
  if (BufSize < 0) BufSize = 0;
  // Fetched into a buffer of our own first: the caller's buffer stays untouched unless the read succeeds.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(BufSize));
  std::uint32_t got = 0, type = 0;
  if (Fetch(Name, data.data(), static_cast<std::uint32_t>(BufSize), got, type) != ERROR_SUCCESS) return 0;
  TzbRegDataType dt = RegDataTypeFromStore(type);
  if (dt != rdtBinary && dt != rdtUnknown) ReadError(Name);
  if (got && Buffer) std::memcpy(Buffer, data.data(), got);
  return static_cast<std::int32_t>(got);
}

TzbRegTimeZoneInfo TzbRegistry::ReadTimeZoneInfo(std::u16string_view AName) {
  TzbRegTimeZoneInfo info;
  std::uint8_t raw[sizeof(TzbRegTimeZoneInfo)];
  std::int32_t got = ReadBinaryData(AName, raw, sizeof raw);
  if (got == 0) return info;
  // A shorter value would leave half a record; it is not a time zone.
  if (got != static_cast<std::int32_t>(sizeof raw)) ReadError(AName);
  std::memcpy(&info, raw, sizeof raw);
  return info;
}

TRect TzbRegistry::ReadRect(std::u16string_view AName, const TRect& ADefault) {
  return RectFromText(ReadString(AName, u""), ADefault);
}

TRect TzbRegistry::ReadRect(HKEY ARoot, std::u16string_view AKey, std::u16string_view AName, const TRect& ADefault) {
  SetRootKey(ARoot);
  if (!OpenKey(AKey, false)) return ADefault;
  TFinally close([&] { CloseKey(); });
  return ReadRect(AName, ADefault);
}

void TzbRegistry::WriteString(std::u16string_view AName, std::u16string_view Value) {
  std::u16string data(Value);
  PutData(AName, data.c_str(), (data.size() + 1) * sizeof(char16_t), rdtString);
}

void TzbRegistry::WriteExpandString(std::u16string_view AName, std::u16string_view Value) {
  std::u16string data(Value);
  PutData(AName, data.c_str(), (data.size() + 1) * sizeof(char16_t), rdtExpandString);
}

void TzbRegistry::WriteInteger(std::u16string_view Name, std::int32_t Value) {
  PutData(Name, &Value, sizeof Value, rdtInteger);
}

void TzbRegistry::WriteBool(std::u16string_view Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }

void TzbRegistry::WriteFloat(std::u16string_view Name, double Value) { PutData(Name, &Value, sizeof Value, rdtBinary); }

void TzbRegistry::WriteCurrency(std::u16string_view Name, TCurrency Value) {
  PutData(Name, &Value.Units, sizeof Value.Units, rdtBinary);
}

void TzbRegistry::WriteDateTime(std::u16string_view Name, TDateTime Value) { WriteFloat(Name, Value); }
void TzbRegistry::WriteDate(std::u16string_view Name, TDateTime Value) { WriteFloat(Name, Value); }
void TzbRegistry::WriteTime(std::u16string_view Name, TDateTime Value) { WriteFloat(Name, Value); }

void TzbRegistry::WriteBinaryData(std::u16string_view Name, const void* Buffer, std::int32_t BufSize) {
  if (BufSize < 0 || (BufSize > 0 && !Buffer)) SetDataError(Name);
  PutData(Name, Buffer, static_cast<std::size_t>(BufSize), rdtBinary);
}

void TzbRegistry::WriteRect(std::u16string_view AName, const TRect& Value) { WriteString(AName, RectToText(Value)); }

// ---- Free functions

std::shared_ptr<IzbRegistry> NewRegistry(REGSAM AAccess, HKEY ARootKey) {
  return std::make_shared<TzbRegistry>(AAccess, ARootKey);
}

std::u16string ReadRegistryString(HKEY ARoot, std::u16string_view AKeyPath, std::u16string_view AValueName,
                                  std::u16string_view ADefault) {
  std::u16string result(ADefault);
  TzbRegistry reg(KEY_READ, HKEY_CURRENT_USER);
  reg.SetRootKey(ARoot);
  if (reg.OpenKey(AKeyPath, false)) {
    result = reg.ReadString(AValueName, ADefault);
    reg.CloseKey();
  }
  return result;
}

void WriteRegistryString(HKEY ARoot, std::u16string_view AKeyPath, std::u16string_view AValueName,
                         std::u16string_view AText) {
  TzbRegistry reg(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  reg.SetRootKey(ARoot);
  if (reg.OpenKey(AKeyPath, true)) {
    reg.WriteString(AValueName, AText);
    reg.CloseKey();
  }
}

}  // namespace zb
