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

[[noreturn]] void ReadError(std::u16string_view AName) { throw EzbRegistryError(SInvalidRegType, {AName}); }
[[noreturn]] void GetDataError(std::u16string_view AName) { throw EzbRegistryError(SRegGetDataFailed, {AName}); }
[[noreturn]] void SetDataError(std::u16string_view AName) { throw EzbRegistryError(SRegSetDataFailed, {AName}); }

std::int32_t ClampToInt32(std::uint32_t AValue) {
  return AValue > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(AValue);
}

// Runs a cleanup at scope end, also when an exception passes.
template <class F>
class TFinally {
 public:
  explicit TFinally(F AFn) : FFn(std::move(AFn)) {}
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
  static const TStringList prefixes(std::begin(RootPrefixes), std::end(RootPrefixes));
  int index = IndexOfPrefix(prefixes, AText, false, false);
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

void TzbRegistry::SetRootKey(HKEY AValue) {
  if (AValue == FRootKey) return;
  if (FCloseRootKey) {
    FStore.CloseKey(FRootKey);
    FCloseRootKey = false;
  }
  FRootKey = AValue;
  TzbRegistry::CloseKey();
}

void TzbRegistry::CloseKey() {
  if (FCurrentKey == 0) return;
  if (!FLazyWrite) FStore.FlushKey(FCurrentKey);
  FStore.CloseKey(FCurrentKey);
  FCurrentKey = 0;
  FCurrentPath.clear();
}

TzbRegistry::TResolved TzbRegistry::ResolvePath(std::u16string_view AKey) const {
  TResolved r;
  r.Relative = AKey.empty() || AKey.front() != u'\\';
  r.Rest = std::u16string(r.Relative ? AKey : AKey.substr(1));
  r.Base = r.Relative && FCurrentKey != 0 ? FCurrentKey : FRootKey;
  return r;
}

std::u16string TzbRegistry::FullPath(const TResolved& AR) const {
  if (!(AR.Relative && FCurrentKey != 0)) return AR.Rest;
  // Opening "" keeps the path as it is, so a later relative open never meets a doubled backslash.
  return AR.Rest.empty() ? FCurrentPath : FCurrentPath + u'\\' + AR.Rest;
}

void TzbRegistry::ChangeKey(HKEY AValue, std::u16string APath) {
  CloseKey();
  FCurrentKey = AValue;
  FCurrentPath = std::move(APath);
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

bool TzbRegistry::OpenKeyReadOnly(std::u16string_view AKey) {
  TResolved r = ResolvePath(AKey);
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

bool TzbRegistry::CreateKey(std::u16string_view AKey) {
  TResolved r = ResolvePath(AKey);
  HKEY key = 0;
  if (FStore.CreateKey(r.Base, r.Rest, KEY_ALL_ACCESS, key) != ERROR_SUCCESS)
    throw EzbRegistryError(SRegCreateFailed, {AKey});
  FStore.CloseKey(key);
  return true;
}

bool TzbRegistry::DeleteKey(std::u16string_view AKey) {
  TResolved r = ResolvePath(AKey);
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

bool TzbRegistry::DeleteKey(HKEY ARoot, std::u16string_view AKey) {
  SetRootKey(ARoot);
  return DeleteKey(AKey);
}

bool TzbRegistry::KeyExists(std::u16string_view AKey) {
  REGSAM old = FAccess;
  TFinally restore([&] { FAccess = old; });
  FAccess = KeyReadEnumerate;
  TResolved r = ResolvePath(AKey);
  HKEY key = 0;
  if (FStore.OpenKey(r.Base, r.Rest, FAccess, key) != ERROR_SUCCESS) return false;
  FStore.CloseKey(key);
  return true;
}

bool TzbRegistry::KeyExists(HKEY ARoot, std::u16string_view AKey) {
  SetRootKey(ARoot);
  return KeyExists(AKey);
}

bool TzbRegistry::HasSubKeys() {
  TzbRegKeyInfo info;
  return GetKeyInfo(info) && info.NumSubKeys > 0;
}

// Names are counted in UTF-16 units on every locale, so no far-east doubling applies here.
bool TzbRegistry::GetKeyInfo(TzbRegKeyInfo& AValue) {
  AValue = {};
  TRegStoreKeyInfo info;
  if (FStore.QueryInfoKey(FCurrentKey, info) != ERROR_SUCCESS) return false;
  AValue.NumSubKeys = ClampToInt32(info.SubKeys);
  AValue.MaxSubKeyLen = ClampToInt32(info.MaxSubKeyLen);
  AValue.NumValues = ClampToInt32(info.Values);
  AValue.MaxValueLen = ClampToInt32(info.MaxValueNameLen);
  AValue.MaxDataLen = ClampToInt32(info.MaxValueLen);
  AValue.FileTime = info.LastWriteTime;
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

void TzbRegistry::GetValueNames(TStringList& AStrings) {
  AStrings.clear();
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  for (std::int32_t i = 0; i < info.NumValues; ++i) {
    std::u16string name;
    if (FStore.EnumValue(FCurrentKey, static_cast<std::uint32_t>(i), name,
                         static_cast<std::uint32_t>(info.MaxValueLen) + 1) == ERROR_SUCCESS)
      AStrings.push_back(std::move(name));
  }
}

// ---- Moving keys and renaming values

void TzbRegistry::CopyValue(HKEY ASource, HKEY ATarget, std::u16string_view AName) {
  // Empty values are copied too: with Delete set, skipping them would lose them.
  std::int32_t size = GetDataSize(AName);
  if (size < 0) return;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  std::uint32_t got = static_cast<std::uint32_t>(size), type = 0;
  if (FStore.QueryValue(ASource, AName, &type, data.data(), &got) != ERROR_SUCCESS) GetDataError(AName);
  HKEY remembered = FCurrentKey;
  FCurrentKey = ATarget;
  TFinally restore([&] { FCurrentKey = remembered; });
  if (FStore.SetValue(FCurrentKey, AName, type, data.data(), got) != ERROR_SUCCESS) SetDataError(AName);
}

void TzbRegistry::CopyValues(HKEY ASource, HKEY ATarget) {
  HKEY remembered = FCurrentKey;
  FCurrentKey = ASource;
  TFinally restore([&] { FCurrentKey = remembered; });
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  CopyValue(ASource, ATarget, u"");
  for (std::int32_t i = 0; i < info.NumValues; ++i) {
    std::u16string name;
    if (FStore.EnumValue(ASource, static_cast<std::uint32_t>(i), name,
                         static_cast<std::uint32_t>(info.MaxValueLen) + 1) == ERROR_SUCCESS)
      CopyValue(ASource, ATarget, name);
  }
}

void TzbRegistry::CopyKeys(HKEY ASource, HKEY ATarget) {
  HKEY remembered = FCurrentKey;
  FCurrentKey = ASource;
  TFinally restore([&] { FCurrentKey = remembered; });
  TzbRegKeyInfo info;
  if (!GetKeyInfo(info)) return;
  for (std::int32_t i = 0; i < info.NumSubKeys; ++i) {
    std::u16string name;
    if (FStore.EnumKey(ASource, static_cast<std::uint32_t>(i), name,
                       static_cast<std::uint32_t>(info.MaxSubKeyLen) + 1) != ERROR_SUCCESS)
      continue;
    HKEY sub = 0;
    if (FStore.OpenKey(ASource, name, FAccess, sub) != ERROR_SUCCESS) continue;
    TFinally closeSub([&] { FStore.CloseKey(sub); });
    HKEY newSub = 0;
    {
      FCurrentKey = ATarget;
      TFinally back([&] { FCurrentKey = ASource; });
      CreateKey(name);
      if (FStore.OpenKey(ATarget, name, FAccess, newSub) != ERROR_SUCCESS) continue;
    }
    TFinally closeNew([&] { FStore.CloseKey(newSub); });
    CopyValues(sub, newSub);
    CopyKeys(sub, newSub);
  }
}

void TzbRegistry::MoveKey(std::u16string_view AOldName, std::u16string_view ANewName, bool ADelete) {
  if (!KeyExists(AOldName) || KeyExists(ANewName)) return;
  TResolved from = ResolvePath(AOldName), to = ResolvePath(ANewName);
  // A target inside the source would be copied into itself without end.
  std::u16string fromPath = ExcludeTrailingChar(FullPath(from), u'\\');
  std::u16string toPath = ExcludeTrailingChar(FullPath(to), u'\\');
  if (SameTextEx(fromPath, toPath, false, true) || StartsWithText(fromPath + u'\\', toPath, false, true)) return;
  HKEY source = 0;
  if (FStore.OpenKey(from.Base, from.Rest, FAccess, source) != ERROR_SUCCESS) return;
  TFinally closeSource([&] { FStore.CloseKey(source); });
  CreateKey(ANewName);
  HKEY target = 0;
  if (FStore.OpenKey(to.Base, to.Rest, FAccess, target) != ERROR_SUCCESS) return;
  TFinally closeTarget([&] { FStore.CloseKey(target); });
  CopyValues(source, target);
  CopyKeys(source, target);
  if (ADelete) DeleteKey(AOldName);
}

void TzbRegistry::RenameValue(std::u16string_view AOldName, std::u16string_view ANewName) {
  if (!ValueExists(AOldName) || ValueExists(ANewName)) return;
  std::int32_t size = GetDataSize(AOldName);
  if (size <= 0) return;
  std::vector<std::uint8_t> data(static_cast<std::size_t>(size));
  std::uint32_t got = static_cast<std::uint32_t>(size), type = 0;
  if (FStore.QueryValue(FCurrentKey, AOldName, &type, data.data(), &got) != ERROR_SUCCESS) GetDataError(AOldName);
  // The new value is stored before the old one goes, so a failure never loses the data.
  if (FStore.SetValue(FCurrentKey, ANewName, type, data.data(), got) != ERROR_SUCCESS) SetDataError(ANewName);
  FStore.DeleteValue(FCurrentKey, AOldName);
}

// ---- Hive files and remote registries: not on this platform

bool TzbRegistry::RegistryConnect(std::u16string_view) { return false; }
bool TzbRegistry::LoadKey(std::u16string_view, std::u16string_view) { return false; }
bool TzbRegistry::UnLoadKey(std::u16string_view) { return false; }
bool TzbRegistry::SaveKey(std::u16string_view, std::u16string_view) { return false; }
bool TzbRegistry::RestoreKey(std::u16string_view, std::u16string_view) { return false; }
bool TzbRegistry::ReplaceKey(std::u16string_view, std::u16string_view, std::u16string_view) { return false; }

// ---- Values

bool TzbRegistry::GetDataInfo(std::u16string_view AValueName, TzbRegDataInfo& AValue) {
  AValue = {};
  std::uint32_t type = 0, size = 0;
  if (FStore.QueryValue(FCurrentKey, AValueName, &type, nullptr, &size) != ERROR_SUCCESS) return false;
  AValue.RegData = RegDataTypeFromStore(type);
  AValue.DataSize = ClampToInt32(size);
  return true;
}

std::int32_t TzbRegistry::GetDataSize(std::u16string_view AValueName) {
  TzbRegDataInfo info;
  return GetDataInfo(AValueName, info) ? info.DataSize : -1;
}

TzbRegDataType TzbRegistry::GetDataType(std::u16string_view AValueName) {
  TzbRegDataInfo info;
  return GetDataInfo(AValueName, info) ? info.RegData : rdtUnknown;
}

bool TzbRegistry::ValueExists(std::u16string_view AName) {
  TzbRegDataInfo info;
  return GetDataInfo(AName, info);
}

bool TzbRegistry::DeleteValue(std::u16string_view AName) {
  return FStore.DeleteValue(FCurrentKey, AName) == ERROR_SUCCESS;
}

LSTATUS TzbRegistry::Fetch(std::u16string_view AName, void* ABuffer, std::uint32_t ABufSize, std::uint32_t& ASize,
                           std::uint32_t& AType) {
  static std::uint8_t noBuffer;
  ASize = ABufSize;
  AType = REG_NONE;
  return FStore.QueryValue(FCurrentKey, AName, &AType, ABuffer ? ABuffer : &noBuffer, &ASize);
}

void TzbRegistry::PutData(std::u16string_view AName, const void* ABuffer, std::size_t ABufSize, TzbRegDataType AType) {
  if (ABufSize > std::numeric_limits<std::uint32_t>::max() ||
      FStore.SetValue(FCurrentKey, AName, RegDataTypeToStore(AType), ABuffer, static_cast<std::uint32_t>(ABufSize)) !=
          ERROR_SUCCESS)
    SetDataError(AName);
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

bool TzbRegistry::ReadFixed8(std::u16string_view AName, void* AOut, bool ARaising) {
  std::uint8_t buf[8];
  std::uint32_t got = 0, type = 0;
  if (Fetch(AName, buf, sizeof buf, got, type) != ERROR_SUCCESS) {
    if (ARaising) GetDataError(AName);
    return false;
  }
  if (RegDataTypeFromStore(type) != rdtBinary || got != sizeof buf) ReadError(AName);
  std::memcpy(AOut, buf, sizeof buf);
  return true;
}

double TzbRegistry::ReadFloat(std::u16string_view AName) {
  double v = 0;
  ReadFixed8(AName, &v, true);
  return v;
}

double TzbRegistry::ReadFloat(std::u16string_view AName, double AFDefault) {
  double v = 0;
  return ReadFixed8(AName, &v, false) ? v : AFDefault;
}

TCurrency TzbRegistry::ReadCurrency(std::u16string_view AName) {
  TCurrency v;
  ReadFixed8(AName, &v.Units, true);
  return v;
}

TCurrency TzbRegistry::ReadCurrency(std::u16string_view AName, TCurrency ACDefault) {
  TCurrency v;
  return ReadFixed8(AName, &v.Units, false) ? v : ACDefault;
}

TDateTime TzbRegistry::ReadDateTime(std::u16string_view AName) { return ReadFloat(AName); }
TDateTime TzbRegistry::ReadDateTime(std::u16string_view AName, TDateTime ADtDefault) {
  return ReadFloat(AName, ADtDefault);
}
TDateTime TzbRegistry::ReadDate(std::u16string_view AName) { return ReadFloat(AName); }
TDateTime TzbRegistry::ReadDate(std::u16string_view AName, TDateTime ADtDefault) {
  return ReadFloat(AName, ADtDefault);
}
TDateTime TzbRegistry::ReadTime(std::u16string_view AName) { return ReadFloat(AName); }
TDateTime TzbRegistry::ReadTime(std::u16string_view AName, TDateTime ADtDefault) {
  return ReadFloat(AName, ADtDefault);
}

std::int32_t TzbRegistry::ReadBinaryData(std::u16string_view AName, void* ABuffer, std::int32_t ABufSize) {
  if (ABufSize < 0) ABufSize = 0;
  // Fetched into a buffer of our own first: the caller's buffer stays untouched unless the read succeeds.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(ABufSize));
  std::uint32_t got = 0, type = 0;
  if (Fetch(AName, data.data(), static_cast<std::uint32_t>(ABufSize), got, type) != ERROR_SUCCESS) return 0;
  TzbRegDataType dt = RegDataTypeFromStore(type);
  if (dt != rdtBinary && dt != rdtUnknown) ReadError(AName);
  if (got && ABuffer) std::memcpy(ABuffer, data.data(), got);
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

void TzbRegistry::WriteString(std::u16string_view AName, std::u16string_view AValue) {
  std::u16string data(AValue);
  PutData(AName, data.c_str(), (data.size() + 1) * sizeof(char16_t), rdtString);
}

void TzbRegistry::WriteExpandString(std::u16string_view AName, std::u16string_view AValue) {
  std::u16string data(AValue);
  PutData(AName, data.c_str(), (data.size() + 1) * sizeof(char16_t), rdtExpandString);
}

void TzbRegistry::WriteInteger(std::u16string_view AName, std::int32_t AValue) {
  PutData(AName, &AValue, sizeof AValue, rdtInteger);
}

void TzbRegistry::WriteBool(std::u16string_view AName, bool AValue) { WriteInteger(AName, AValue ? 1 : 0); }

void TzbRegistry::WriteFloat(std::u16string_view AName, double AValue) {
  PutData(AName, &AValue, sizeof AValue, rdtBinary);
}

void TzbRegistry::WriteCurrency(std::u16string_view AName, TCurrency AValue) {
  PutData(AName, &AValue.Units, sizeof AValue.Units, rdtBinary);
}

void TzbRegistry::WriteDateTime(std::u16string_view AName, TDateTime AValue) { WriteFloat(AName, AValue); }
void TzbRegistry::WriteDate(std::u16string_view AName, TDateTime AValue) { WriteFloat(AName, AValue); }
void TzbRegistry::WriteTime(std::u16string_view AName, TDateTime AValue) { WriteFloat(AName, AValue); }

void TzbRegistry::WriteBinaryData(std::u16string_view AName, const void* ABuffer, std::int32_t ABufSize) {
  if (ABufSize < 0 || (ABufSize > 0 && !ABuffer)) SetDataError(AName);
  PutData(AName, ABuffer, static_cast<std::size_t>(ABufSize), rdtBinary);
}

void TzbRegistry::WriteRect(std::u16string_view AName, const TRect& AValue) { WriteString(AName, RectToText(AValue)); }

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
