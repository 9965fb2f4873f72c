// The program's access to the registry: one root, at most one open key, paths relative to the open
// key or absolute from the root, and typed values over the store's raw bytes.
// Creating keys and storing or fetching data raise EzbRegistryError; everything else answers by result.
#pragma once

#include <bit>
#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/regstore/RegStore.h"
#include "support/zbException.h"
#include "support/zbFormat.h"
#include "support/zbStr.h"

namespace zb {

static_assert(std::endian::native == std::endian::little, "stored values are little-endian");

class EzbRegistryError : public EzbException {
 public:
  using EzbException::EzbException;
};

enum TzbRegDataType { rdtUnknown, rdtString, rdtExpandString, rdtInteger, rdtBinary };

struct TzbRegDataInfo {
  TzbRegDataType RegData = rdtUnknown;
  std::int32_t DataSize = 0;
};

// Lengths in characters, MaxDataLen in bytes, FileTime the key's last write (FILETIME).
struct TzbRegKeyInfo {
  std::int32_t NumSubKeys = 0;
  std::int32_t MaxSubKeyLen = 0;
  std::int32_t NumValues = 0;
  std::int32_t MaxValueLen = 0;
  std::int32_t MaxDataLen = 0;
  std::uint64_t FileTime = 0;
};

struct TzbSystemTime {
  std::uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0, wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// The 44-byte stored layout of a time-zone value.
struct TzbRegTimeZoneInfo {
  std::int32_t Bias = 0;
  std::int32_t StandardBias = 0;
  std::int32_t DaylightBias = 0;
  TzbSystemTime StandardDate;
  TzbSystemTime DaylightDate;
};
static_assert(sizeof(TzbRegTimeZoneInfo) == 44);

// A currency amount in units of 1/10000, as it is stored.
struct TCurrency {
  std::int64_t Units = 0;
  bool operator==(const TCurrency&) const = default;
};

// Days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;

// A location in the store with a one-line text form: root prefix, key, TAB name, "|" value.
struct TzbRegistryKeys {
  HKEY RootKey = 0;
  std::u16string Key;
  std::u16string Name;
  std::u16string Value;

  TzbRegistryKeys() = default;
  TzbRegistryKeys(HKEY ARootKey, std::u16string AKey, std::u16string AName = {}, std::u16string AValue = {})
      : RootKey(ARootKey), Key(std::move(AKey)), Name(std::move(AName)), Value(std::move(AValue)) {}
  TzbRegistryKeys(std::u16string_view AText) { *this = FromText(AText); }
  TzbRegistryKeys(const std::u16string& AText) { *this = FromText(AText); }
  TzbRegistryKeys(const char16_t* AText) { *this = FromText(AText ? AText : u""); }

  static TzbRegistryKeys FromText(std::u16string_view AText);
  std::u16string ToText() const;
  operator std::u16string() const { return ToText(); }

  bool operator==(const TzbRegistryKeys& AOther) const;
  bool operator==(std::u16string_view AText) const { return *this == FromText(AText); }
  bool operator==(const std::u16string& AText) const { return *this == FromText(AText); }
  bool operator==(const char16_t* AText) const { return *this == FromText(AText ? AText : u""); }

  void Clear();
  bool IsEmpty() const;
};

// Interface identifier of IzbRegistry.
constexpr std::u16string_view IzbRegistryGuid = u"{DA7A5E90-B045-4262-9CD6-8EAB101548E8}";

// The shared form of the registry class (held by std::shared_ptr where it is shared).
class IzbRegistry {
 public:
  virtual ~IzbRegistry() = default;

  virtual REGSAM Access() const = 0;
  virtual HKEY CurrentKey() const = 0;
  virtual std::u16string CurrentPath() const = 0;
  virtual bool LazyWrite() const = 0;
  virtual HKEY RootKey() const = 0;
  virtual void SetAccess(REGSAM AValue) = 0;
  virtual void SetLazyWrite(bool AValue) = 0;
  virtual void SetRootKey(HKEY AValue) = 0;

  virtual bool CreateKey(std::u16string_view AKey) = 0;
  virtual bool DeleteKey(std::u16string_view AKey) = 0;
  virtual bool DeleteValue(std::u16string_view AName) = 0;
  virtual bool GetDataInfo(std::u16string_view AValueName, TzbRegDataInfo& AValue) = 0;
  virtual std::int32_t GetDataSize(std::u16string_view AValueName) = 0;
  virtual TzbRegDataType GetDataType(std::u16string_view AValueName) = 0;
  virtual bool GetKeyInfo(TzbRegKeyInfo& AValue) = 0;
  virtual bool HasSubKeys() = 0;
  virtual bool KeyExists(std::u16string_view AKey) = 0;
  virtual bool LoadKey(std::u16string_view AKey, std::u16string_view AFileName) = 0;
  virtual bool OpenKey(std::u16string_view AKey) = 0;
  virtual bool OpenKey(std::u16string_view AKey, bool ACanCreate) = 0;
  virtual bool OpenKey(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs, bool ACanCreate) = 0;
  virtual bool OpenKeyReadOnly(std::u16string_view AKey) = 0;
  virtual std::int32_t ReadBinaryData(std::u16string_view AName, void* ABuffer, std::int32_t ABufSize) = 0;
  virtual bool ReadBool(std::u16string_view AName, bool ADefault) = 0;
  virtual TCurrency ReadCurrency(std::u16string_view AName) = 0;
  virtual TDateTime ReadDate(std::u16string_view AName) = 0;
  virtual TDateTime ReadDateTime(std::u16string_view AName) = 0;
  virtual double ReadFloat(std::u16string_view AName) = 0;
  virtual std::int32_t ReadInteger(std::u16string_view AName) = 0;
  virtual std::int32_t ReadInteger(std::u16string_view AName, std::int32_t ADefault) = 0;
  virtual std::u16string ReadString(std::u16string_view AName, std::u16string_view ADefault) = 0;
  virtual TRect ReadRect(std::u16string_view AName, const TRect& ADefault) = 0;
  virtual TDateTime ReadTime(std::u16string_view AName) = 0;
  virtual bool RegistryConnect(std::u16string_view AUncName) = 0;
  virtual bool ReplaceKey(std::u16string_view AKey, std::u16string_view AFileName,
                          std::u16string_view ABackUpFileName) = 0;
  virtual bool RestoreKey(std::u16string_view AKey, std::u16string_view AFileName) = 0;
  virtual bool SaveKey(std::u16string_view AKey, std::u16string_view AFileName) = 0;
  virtual bool UnLoadKey(std::u16string_view AKey) = 0;
  virtual bool ValueExists(std::u16string_view AName) = 0;
  virtual void CloseKey() = 0;
  virtual void GetKeyNames(TStringList& AStrings) = 0;
  virtual void GetValueNames(TStringList& AStrings) = 0;
  virtual void MoveKey(std::u16string_view AOldName, std::u16string_view ANewName, bool ADelete) = 0;
  virtual void RenameValue(std::u16string_view AOldName, std::u16string_view ANewName) = 0;
  virtual void WriteBinaryData(std::u16string_view AName, const void* ABuffer, std::int32_t ABufSize) = 0;
  virtual void WriteBool(std::u16string_view AName, bool AValue) = 0;
  virtual void WriteCurrency(std::u16string_view AName, TCurrency AValue) = 0;
  virtual void WriteDate(std::u16string_view AName, TDateTime AValue) = 0;
  virtual void WriteDateTime(std::u16string_view AName, TDateTime AValue) = 0;
  virtual void WriteExpandString(std::u16string_view AName, std::u16string_view AValue) = 0;
  virtual void WriteFloat(std::u16string_view AName, double AValue) = 0;
  virtual void WriteInteger(std::u16string_view AName, std::int32_t AValue) = 0;
  virtual void WriteString(std::u16string_view AName, std::u16string_view AValue) = 0;
  virtual void WriteRect(std::u16string_view AName, const TRect& AValue) = 0;
  virtual void WriteTime(std::u16string_view AName, TDateTime AValue) = 0;
};

class TzbRegistry : public IzbRegistry {
 public:
  explicit TzbRegistry(REGSAM AAccess = KEY_ALL_ACCESS, HKEY ARootKey = HKEY_CURRENT_USER);
  // Over another store (tests that need a store fault the real files cannot show).
  TzbRegistry(REGSAM AAccess, HKEY ARootKey, IRegStore& AStore);
  ~TzbRegistry() override;
  TzbRegistry(const TzbRegistry&) = delete;
  TzbRegistry& operator=(const TzbRegistry&) = delete;

  REGSAM Access() const override { return FAccess; }
  HKEY CurrentKey() const override { return FCurrentKey; }
  std::u16string CurrentPath() const override { return FCurrentPath; }
  bool LazyWrite() const override { return FLazyWrite; }
  HKEY RootKey() const override { return FRootKey; }
  void SetAccess(REGSAM AValue) override { FAccess = AValue; }
  void SetLazyWrite(bool AValue) override { FLazyWrite = AValue; }
  void SetRootKey(HKEY AValue) override;

  bool CreateKey(std::u16string_view AKey) override;
  bool DeleteKey(std::u16string_view AKey) override;
  bool DeleteKey(HKEY ARoot, std::u16string_view AKey);
  bool DeleteValue(std::u16string_view AName) override;
  bool GetDataInfo(std::u16string_view AValueName, TzbRegDataInfo& AValue) override;
  std::int32_t GetDataSize(std::u16string_view AValueName) override;
  TzbRegDataType GetDataType(std::u16string_view AValueName) override;
  bool GetKeyInfo(TzbRegKeyInfo& AValue) override;
  bool HasSubKeys() override;
  bool KeyExists(std::u16string_view AKey) override;
  bool KeyExists(HKEY ARoot, std::u16string_view AKey);
  bool LoadKey(std::u16string_view AKey, std::u16string_view AFileName) override;
  bool OpenKey(std::u16string_view AKey) override;
  bool OpenKey(std::u16string_view AKey, bool ACanCreate) override;
  bool OpenKey(std::u16string_view AFormat, std::initializer_list<TFormatArg> AArgs, bool ACanCreate) override;
  bool OpenKey(HKEY ARootKey, std::u16string_view AKey, bool ACanCreate);
  // Only a record, never a text: a text here is a key path for the overload above.
  template <std::same_as<TzbRegistryKeys> T>
  bool OpenKey(const T& ARegistryKeys, bool ACanCreate) {
    return OpenRegistryKeys(ARegistryKeys, ACanCreate);
  }
  bool OpenKeyReadOnly(std::u16string_view AKey) override;

  std::int32_t ReadBinaryData(std::u16string_view AName, void* ABuffer, std::int32_t ABufSize) override;
  bool ReadBool(std::u16string_view AName, bool ADefault) override;
  TCurrency ReadCurrency(std::u16string_view AName) override;
  TCurrency ReadCurrency(std::u16string_view AName, TCurrency ACDefault);
  TDateTime ReadDate(std::u16string_view AName) override;
  TDateTime ReadDate(std::u16string_view AName, TDateTime ADtDefault);
  TDateTime ReadDateTime(std::u16string_view AName) override;
  TDateTime ReadDateTime(std::u16string_view AName, TDateTime ADtDefault);
  double ReadFloat(std::u16string_view AName) override;
  double ReadFloat(std::u16string_view AName, double AFDefault);
  std::int32_t ReadInteger(std::u16string_view AName) override;
  std::int32_t ReadInteger(std::u16string_view AName, std::int32_t ADefault) override;
  std::u16string ReadString(std::u16string_view AName, std::u16string_view ADefault) override;
  std::u16string ReadString(HKEY ARoot, std::u16string_view AKey, std::u16string_view AName,
                            std::u16string_view ADefault);
  // The first of the names that holds a non-empty text.
  std::u16string ReadString(const TStringList& ANames);
  TRect ReadRect(std::u16string_view AName, const TRect& ADefault) override;
  TRect ReadRect(HKEY ARoot, std::u16string_view AKey, std::u16string_view AName, const TRect& ADefault);
  TDateTime ReadTime(std::u16string_view AName) override;
  TDateTime ReadTime(std::u16string_view AName, TDateTime ADtDefault);
  // A missing value gives a zeroed record.
  TzbRegTimeZoneInfo ReadTimeZoneInfo(std::u16string_view AName);

  // Remote registries and hive files do not exist on this platform: these report failure.
  bool RegistryConnect(std::u16string_view AUncName) override;
  bool ReplaceKey(std::u16string_view AKey, std::u16string_view AFileName,
                  std::u16string_view ABackUpFileName) override;
  bool RestoreKey(std::u16string_view AKey, std::u16string_view AFileName) override;
  bool SaveKey(std::u16string_view AKey, std::u16string_view AFileName) override;
  bool UnLoadKey(std::u16string_view AKey) override;

  bool ValueExists(std::u16string_view AName) override;
  void CloseKey() override;
  void GetKeyNames(TStringList& AStrings) override;
  void GetValueNames(TStringList& AStrings) override;
  void MoveKey(std::u16string_view AOldName, std::u16string_view ANewName, bool ADelete) override;
  void RenameValue(std::u16string_view AOldName, std::u16string_view ANewName) override;

  void WriteBinaryData(std::u16string_view AName, const void* ABuffer, std::int32_t ABufSize) override;
  void WriteBool(std::u16string_view AName, bool AValue) override;
  void WriteCurrency(std::u16string_view AName, TCurrency AValue) override;
  void WriteDate(std::u16string_view AName, TDateTime AValue) override;
  void WriteDateTime(std::u16string_view AName, TDateTime AValue) override;
  void WriteExpandString(std::u16string_view AName, std::u16string_view AValue) override;
  void WriteFloat(std::u16string_view AName, double AValue) override;
  void WriteInteger(std::u16string_view AName, std::int32_t AValue) override;
  void WriteString(std::u16string_view AName, std::u16string_view AValue) override;
  void WriteRect(std::u16string_view AName, const TRect& AValue) override;
  void WriteTime(std::u16string_view AName, TDateTime AValue) override;

 private:
  struct TResolved {
    HKEY Base;
    bool Relative;
    std::u16string Rest;
  };
  TResolved ResolvePath(std::u16string_view AKey) const;
  std::u16string FullPath(const TResolved& AR) const;
  bool OpenRegistryKeys(const TzbRegistryKeys& ARegistryKeys, bool ACanCreate);
  void ChangeKey(HKEY AValue, std::u16string APath);
  // The fetch of a value into a buffer; Size is the stored size, Type the store's type code.
  LSTATUS Fetch(std::u16string_view AName, void* ABuffer, std::uint32_t ABufSize, std::uint32_t& ASize,
                std::uint32_t& AType);
  // An 8-byte binary value; false when it is absent (Raising: the fetch error instead).
  bool ReadFixed8(std::u16string_view AName, void* AOut, bool ARaising);
  void PutData(std::u16string_view AName, const void* ABuffer, std::size_t ABufSize, TzbRegDataType AType);
  void CopyValue(HKEY ASource, HKEY ATarget, std::u16string_view AName);
  void CopyValues(HKEY ASource, HKEY ATarget);
  void CopyKeys(HKEY ASource, HKEY ATarget);

  IRegStore& FStore;
  HKEY FCurrentKey = 0;
  HKEY FRootKey = 0;
  bool FLazyWrite = true;
  std::u16string FCurrentPath;
  bool FCloseRootKey = false;
  REGSAM FAccess = KEY_ALL_ACCESS;
};

// A reference-counted instance for callers that share one.
std::shared_ptr<IzbRegistry> NewRegistry(REGSAM AAccess = KEY_ALL_ACCESS, HKEY ARootKey = HKEY_CURRENT_USER);

std::u16string ReadRegistryString(HKEY ARoot, std::u16string_view AKeyPath, std::u16string_view AValueName,
                                  std::u16string_view ADefault);
void WriteRegistryString(HKEY ARoot, std::u16string_view AKeyPath, std::u16string_view AValueName,
                         std::u16string_view AText);

// Store type code ↔ value type.
std::uint32_t RegDataTypeToStore(TzbRegDataType AType);
TzbRegDataType RegDataTypeFromStore(std::uint32_t AType);

}  // namespace zb
