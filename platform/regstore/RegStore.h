// The hierarchical key/value store behind the registry class: the registry's own operations and
// result codes, kept in one SQLite file per hive (WAL, one short transaction per write).
// Keys are hierarchical, names compare case-insensitively and keep their case, values keep their
// type code and raw bytes. A damaged or unreadable file is never written to: its hive does not open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zb {

using HKEY = std::uint32_t;
using REGSAM = std::uint32_t;
using LSTATUS = std::int32_t;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM DELETE_ACCESS = 0x00010000;  // the system's DELETE right
constexpr REGSAM READ_CONTROL = 0x00020000;
constexpr REGSAM WRITE_DAC = 0x00040000;
constexpr REGSAM STANDARD_RIGHTS_READ = READ_CONTROL;
constexpr REGSAM KEY_READ = 0x00020019;
constexpr REGSAM KEY_WRITE = 0x00020006;
constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;

constexpr std::uint32_t REG_NONE = 0;
constexpr std::uint32_t REG_SZ = 1;
constexpr std::uint32_t REG_EXPAND_SZ = 2;
constexpr std::uint32_t REG_BINARY = 3;
constexpr std::uint32_t REG_DWORD = 4;
constexpr std::uint32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr std::uint32_t REG_LINK = 6;
constexpr std::uint32_t REG_MULTI_SZ = 7;
constexpr std::uint32_t REG_QWORD = 11;

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_LOCK_VIOLATION = 33;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_DISK_FULL = 112;
constexpr LSTATUS ERROR_CALL_NOT_IMPLEMENTED = 120;
constexpr LSTATUS ERROR_MORE_DATA = 234;
constexpr LSTATUS ERROR_NO_MORE_ITEMS = 259;
constexpr LSTATUS ERROR_BADDB = 1009;
constexpr LSTATUS ERROR_KEY_DELETED = 1018;
constexpr LSTATUS ERROR_REGISTRY_IO_FAILED = 1016;

// Lengths in UTF-16 units without terminator, data in bytes, time as FILETIME (100 ns since 1601).
struct TRegStoreKeyInfo {
  std::uint32_t SubKeys = 0;
  std::uint32_t MaxSubKeyLen = 0;
  std::uint32_t Values = 0;
  std::uint32_t MaxValueNameLen = 0;
  std::uint32_t MaxValueLen = 0;
  std::uint64_t LastWriteTime = 0;
};

// Every operation returns ERROR_SUCCESS (0) or the error code the registry would give.
// Sub-paths are relative ("A\B"); a name of "" is the key's default value.
class IRegStore {
 public:
  virtual ~IRegStore() = default;

  virtual LSTATUS OpenKey(HKEY ABase, std::u16string_view ASubKey, REGSAM ACcess, HKEY& AResult) = 0;
  // Missing keys along SubKey are created.
  virtual LSTATUS CreateKey(HKEY ABase, std::u16string_view ASubKey, REGSAM ACcess, HKEY& AResult) = 0;
  virtual LSTATUS CloseKey(HKEY AKey) = 0;
  // Everything committed to the key's hive is on disk afterwards.
  virtual LSTATUS FlushKey(HKEY AKey) = 0;
  // Removes a key without sub-keys, with its values.
  virtual LSTATUS DeleteKey(HKEY ABase, std::u16string_view ASubKey) = 0;
  virtual LSTATUS DeleteValue(HKEY AKey, std::u16string_view AName) = 0;
  virtual LSTATUS QueryInfoKey(HKEY AKey, TRegStoreKeyInfo& AInfo) = 0;
  // BufferChars counts the terminator, as the registry's buffers do: a name needs Length + 1.
  virtual LSTATUS EnumKey(HKEY AKey, std::uint32_t AIndex, std::u16string& AName, std::uint32_t ABufferChars) = 0;
  virtual LSTATUS EnumValue(HKEY AKey, std::uint32_t AIndex, std::u16string& AName, std::uint32_t ABufferChars) = 0;
  // Data == nullptr asks for type and size only. With a buffer smaller than the data: ERROR_MORE_DATA,
  // *Size set to the size needed, the buffer untouched.
  virtual LSTATUS QueryValue(HKEY AKey, std::u16string_view AName, std::uint32_t* AType, void* AData,
                             std::uint32_t* ASize) = 0;
  virtual LSTATUS SetValue(HKEY AKey, std::u16string_view AName, std::uint32_t AType, const void* AData,
                           std::uint32_t ASize) = 0;

  // Administration (the tool, tests): a key's own grant narrows what any open may ask for.
  virtual LSTATUS SetKeyGrant(HKEY ABase, std::u16string_view ASubKey, REGSAM AGrant) = 0;
  // All writes to Key's hive until Commit become one transaction; Rollback drops them.
  virtual LSTATUS BeginTransaction(HKEY AKey) = 0;
  virtual LSTATUS CommitTransaction(HKEY AKey) = 0;
  virtual LSTATUS RollbackTransaction(HKEY AKey) = 0;
  // File and state of a root's hive, for people ("…/user.db: file is not a database").
  virtual std::string DescribeHive(HKEY ARoot) = 0;
};

// The process's store over the hive files (paths read from the environment at each root access).
IRegStore& RegStore();

// The hive file of a root, or "" for the roots that do not open.
std::string HiveFileName(HKEY ARoot);

// Root names as the registry writes them ("HKEY_CURRENT_USER"); "" for other handles.
std::u16string_view RootKeyName(HKEY ARoot);
// "HKEY_CURRENT_USER" and "HKCU" (any case) → the handle; 0 when unknown.
HKEY RootKeyFromName(std::u16string_view AName);

// The current time as FILETIME.
std::uint64_t FileTimeNow();

}  // namespace zb
