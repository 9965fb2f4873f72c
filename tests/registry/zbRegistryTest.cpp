#include "support/zbRegistry.h"

#include <filesystem>

#include "tests/registry/RegTestEnv.h"

namespace zb {
namespace {

using test::TRegistryEnv;

class RegistryTest : public TRegistryEnv {
 protected:
  // Stores raw bytes of any type, as another program could have left them.
  void PutRaw(std::u16string_view Key, std::u16string_view Name, std::uint32_t Type, const std::string& Bytes) {
    HKEY k = 0;
    ASSERT_EQ(RegStore().CreateKey(HKEY_CURRENT_USER, Key, KEY_ALL_ACCESS, k), ERROR_SUCCESS);
    ASSERT_EQ(RegStore().SetValue(k, Name, Type, Bytes.data(), static_cast<std::uint32_t>(Bytes.size())),
              ERROR_SUCCESS);
    RegStore().CloseKey(k);
  }
  static std::string Message(const EzbException& E) { return Utf16ToUtf8(E.Message()); }
};

TEST_F(RegistryTest, OpenKeyCreatesOnlyWithWriteAccessAndComposesPaths) {
  {
    TzbRegistry reg(KEY_READ);
    EXPECT_FALSE(reg.OpenKey(u"Software\\Missing"));
    EXPECT_FALSE(reg.KeyExists(u"Software\\Missing"));
  }
  TzbRegistry reg(KEY_ALL_ACCESS);
  EXPECT_FALSE(std::filesystem::exists(UserFile()));  // reading created no store file
  ASSERT_TRUE(reg.OpenKey(u"Software\\A"));
  EXPECT_EQ(reg.CurrentPath(), u"Software\\A");
  ASSERT_TRUE(reg.OpenKey(u"B"));
  EXPECT_EQ(reg.CurrentPath(), u"Software\\A\\B");
  ASSERT_TRUE(reg.OpenKey(u"\\C", true));
  EXPECT_EQ(reg.CurrentPath(), u"C");
  EXPECT_TRUE(reg.KeyExists(u"\\Software\\A\\B"));
  EXPECT_FALSE(reg.OpenKey(u"\\Nope", false));
  EXPECT_EQ(reg.CurrentPath(), u"C");  // a failed open changes nothing
  ASSERT_TRUE(reg.OpenKey(u"\\Software\\%s\\%d", {u"Fmt", 7}, true));
  EXPECT_EQ(reg.CurrentPath(), u"Software\\Fmt\\7");
  ASSERT_TRUE(reg.OpenKey(TzbRegistryKeys(u"HKEY_CURRENT_USER\\Software\\A\tN|V"), false));
  EXPECT_EQ(reg.CurrentPath(), u"Software\\A");
}

TEST_F(RegistryTest, OpenKeyReadOnlyFallsBackToQueryValue) {
  {
    TzbRegistry reg;
    ASSERT_TRUE(reg.OpenKey(u"Software\\Narrow", true));
    reg.WriteString(u"v", u"x");
  }
  ASSERT_EQ(RegStore().SetKeyGrant(HKEY_CURRENT_USER, u"Software\\Narrow", KEY_QUERY_VALUE), ERROR_SUCCESS);
  TzbRegistry reg(KEY_ALL_ACCESS);
  EXPECT_FALSE(reg.OpenKey(u"Software\\Narrow", false));
  EXPECT_FALSE(reg.KeyExists(u"Software\\Narrow"));  // 0x20009 is more than the key grants
  EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS);
  ASSERT_TRUE(reg.OpenKeyReadOnly(u"Software\\Narrow"));
  EXPECT_EQ(reg.Access(), KEY_QUERY_VALUE);
  EXPECT_EQ(reg.ReadString(u"v", u""), u"x");
  EXPECT_THROW(reg.WriteString(u"v", u"y"), EzbRegistryError);
  // The mask is not KEY_READ, so a plain OpenKey creates again.
  ASSERT_TRUE(reg.OpenKey(u"\\Software\\Fresh"));
  EXPECT_TRUE(reg.KeyExists(u"\\Software\\Fresh"));

  TzbRegistry other(KEY_ALL_ACCESS);
  EXPECT_FALSE(other.OpenKeyReadOnly(u"Software\\Nothing"));
  EXPECT_EQ(other.Access(), KEY_ALL_ACCESS);
  ASSERT_TRUE(other.OpenKeyReadOnly(u"Software"));
  EXPECT_EQ(other.Access(), KEY_READ);
}

TEST_F(RegistryTest, ReadStringForms) {
  PutRaw(u"S", u"empty", REG_SZ, std::string(2, '\0'));
  PutRaw(u"S", u"zero", REG_SZ, "");
  PutRaw(u"S", u"odd", REG_SZ, std::string("a\0\0", 3));
  PutRaw(u"S", u"nonul", REG_SZ, std::string("a\0b\0", 4));
  PutRaw(u"S", u"inner", REG_SZ, std::string("a\0\0\0b\0\0\0", 8));
  PutRaw(u"S", u"dw", REG_DWORD, std::string(4, '\1'));
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"S", false));
  EXPECT_EQ(reg.ReadString(u"empty", u"def"), u"");
  EXPECT_EQ(reg.ReadString(u"zero", u"def"), u"def");
  EXPECT_EQ(reg.ReadString(u"odd", u"def"), u"def");  // 3 bytes do not fit a text of one character
  EXPECT_EQ(reg.ReadString(u"nonul", u"def"), u"ab");
  EXPECT_EQ(reg.ReadString(u"inner", u"def"), u"a");
  EXPECT_EQ(reg.ReadString(u"missing", u"def"), u"def");
  try {
    reg.ReadString(u"dw", u"");
    FAIL() << "no read error";
  } catch (const EzbRegistryError& e) {
    EXPECT_EQ(Message(e), "Der Schlüssel \"dw\" der Registrierungsdatenbank kann nicht zum Lesen geöffnet werden.");
  }
  reg.WriteExpandString(u"exp", u"%HOME%\\x");
  EXPECT_EQ(reg.GetDataType(u"exp"), rdtExpandString);
  EXPECT_EQ(reg.ReadString(u"exp", u""), u"%HOME%\\x");
  EXPECT_EQ(reg.ReadString(TStringList{u"missing", u"empty", u"exp"}), u"%HOME%\\x");
  EXPECT_EQ(reg.ReadString(TStringList{u"missing"}), u"");

  reg.WriteString(u"", u"");
  EXPECT_EQ(reg.GetDataSize(u""), 2);
  EXPECT_EQ(reg.GetDataType(u""), rdtString);
  reg.WriteString(u"Unicode", u"Grüße \U0001F600");
  EXPECT_EQ(reg.ReadString(u"unicode", u""), u"Grüße \U0001F600");
  EXPECT_EQ(reg.GetDataSize(u"Unicode"), 2 * 9);  // 8 UTF-16 units and the NUL
}

TEST_F(RegistryTest, IntegerAndBoolForms) {
  PutRaw(u"I", u"bin4", REG_BINARY, std::string(4, '\0'));
  PutRaw(u"I", u"dw8", REG_DWORD, std::string(8, '\0'));
  PutRaw(u"I", u"two", REG_DWORD, std::string("\2\0\0\0", 4));
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"I", false));
  EXPECT_EQ(reg.ReadInteger(u"missing", 7), 7);
  EXPECT_EQ(reg.ReadInteger(u"dw8", 7), 7);  // too large for the 4-byte fetch
  EXPECT_THROW(reg.ReadInteger(u"bin4", 7), EzbRegistryError);
  try {
    reg.ReadInteger(u"missing");
    FAIL() << "no fetch error";
  } catch (const EzbRegistryError& e) {
    EXPECT_EQ(Message(e), "Fehler beim Holen der Daten für 'missing'");
  }
  EXPECT_TRUE(reg.ReadBool(u"two", false));
  EXPECT_TRUE(reg.ReadBool(u"missing", true));
  reg.WriteBool(u"flag", true);
  EXPECT_EQ(reg.GetDataType(u"flag"), rdtInteger);
  EXPECT_EQ(reg.ReadInteger(u"flag"), 1);
  reg.WriteInteger(u"neg", -5);
  EXPECT_EQ(reg.ReadInteger(u"neg"), -5);
}

TEST_F(RegistryTest, EightByteValuesAndBinary) {
  PutRaw(u"F", u"bin4", REG_BINARY, std::string(4, '\0'));
  PutRaw(u"F", u"multi", REG_MULTI_SZ, std::string("a\0\0\0", 4));
  PutRaw(u"F", u"none", REG_NONE, std::string("\1\2", 2));
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"F", false));
  EXPECT_THROW(reg.ReadFloat(u"bin4", 1.5), EzbRegistryError);
  EXPECT_EQ(reg.ReadFloat(u"missing", 1.5), 1.5);
  EXPECT_THROW(reg.ReadFloat(u"missing"), EzbRegistryError);
  reg.WriteFloat(u"f", 3.25);
  EXPECT_EQ(reg.GetDataType(u"f"), rdtBinary);
  EXPECT_EQ(reg.ReadFloat(u"f"), 3.25);
  reg.WriteCurrency(u"c", TCurrency{123456});
  EXPECT_EQ(reg.ReadCurrency(u"c").Units, 123456);
  EXPECT_EQ(reg.ReadCurrency(u"missing", TCurrency{9}).Units, 9);
  reg.WriteDate(u"d", 45000.75);  // stored whole, time of day included
  EXPECT_EQ(reg.ReadDate(u"d"), 45000.75);
  EXPECT_EQ(reg.ReadTime(u"d"), 45000.75);
  EXPECT_EQ(reg.ReadDateTime(u"missing", 2.5), 2.5);

  EXPECT_EQ(reg.GetDataType(u"multi"), rdtUnknown);
  EXPECT_EQ(reg.GetDataSize(u"missing"), -1);
  EXPECT_EQ(reg.GetDataType(u"missing"), rdtUnknown);
  unsigned char buf[4] = {9, 9, 9, 9};
  EXPECT_EQ(reg.ReadBinaryData(u"none", buf, 4), 2);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[2], 9);
  unsigned char small[1] = {9};
  EXPECT_EQ(reg.ReadBinaryData(u"bin4", small, 1), 0);  // larger than the buffer: absent
  EXPECT_EQ(small[0], 9);
  EXPECT_EQ(reg.ReadBinaryData(u"missing", buf, 4), 0);
  reg.WriteString(u"s", u"x");
  EXPECT_THROW(reg.ReadBinaryData(u"s", buf, 4), EzbRegistryError);

  TzbRegTimeZoneInfo tz;
  tz.Bias = -60;
  tz.DaylightBias = -60;
  tz.StandardDate.wMonth = 10;
  reg.WriteBinaryData(u"tz", &tz, sizeof tz);
  EXPECT_EQ(reg.GetDataSize(u"tz"), 44);
  TzbRegTimeZoneInfo back = reg.ReadTimeZoneInfo(u"tz");
  EXPECT_EQ(back.Bias, -60);
  EXPECT_EQ(back.StandardDate.wMonth, 10);
  EXPECT_EQ(reg.ReadTimeZoneInfo(u"missing").Bias, 0);
  EXPECT_THROW(reg.ReadTimeZoneInfo(u"bin4"), EzbRegistryError);
}

TEST_F(RegistryTest, Rectangles) {
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"R", true));
  const TRect def{1, 2, 3, 4};
  reg.WriteString(u"two", u"10;20");
  reg.WriteString(u"mixed", u"0x10; 2 ;x;4");
  EXPECT_EQ(reg.ReadRect(u"two", def), (TRect{10, 20, 3, 4}));
  EXPECT_EQ(reg.ReadRect(u"mixed", def), (TRect{16, 2, 3, 4}));
  EXPECT_EQ(reg.ReadRect(u"missing", def), def);
  reg.WriteRect(u"r", TRect{-1, 0, 640, 480});
  EXPECT_EQ(reg.GetDataType(u"r"), rdtString);
  EXPECT_EQ(reg.ReadString(u"r", u""), u"-1;0;640;480");
  EXPECT_EQ(reg.ReadRect(HKEY_CURRENT_USER, u"R", u"r", def), def);  // relative to the open key: R\R
  EXPECT_EQ(reg.ReadRect(HKEY_CURRENT_USER, u"\\R", u"r", def), (TRect{-1, 0, 640, 480}));
  EXPECT_EQ(reg.CurrentKey(), 0u);  // the root overload closes what it opened
  EXPECT_EQ(reg.ReadRect(HKEY_CURRENT_USER, u"Missing", u"r", def), def);
}

TEST_F(RegistryTest, WritesWithoutKeyOrOnReadOnlyStoreRaise) {
  TzbRegistry reg;
  try {
    reg.WriteString(u"name", u"v");
    FAIL() << "no set error";
  } catch (const EzbRegistryError& e) {
    EXPECT_EQ(Message(e), "Fehler beim Setzen der Daten für 'name'");
  }
  EXPECT_EQ(reg.ReadString(u"name", u"d"), u"d");
  EXPECT_THROW(reg.WriteBinaryData(u"b", nullptr, -1), EzbRegistryError);

  {
    TzbRegistry m(KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(m.OpenKey(u"Software\\Vendor", true));
    m.WriteString(u"Edition", u"Pro");
  }
  std::filesystem::permissions(MachineFile(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                                                  std::filesystem::perms::others_read);
  TzbRegistry m(KEY_ALL_ACCESS, HKEY_LOCAL_MACHINE);
  EXPECT_FALSE(m.OpenKey(u"Software\\Vendor", false));  // a read-only store grants KEY_READ only
  try {
    m.CreateKey(u"\\Software\\New");
    FAIL() << "no create error";
  } catch (const EzbRegistryError& e) {
    EXPECT_EQ(Message(e), "Erzeugung von Schlüssel \\Software\\New misslungen");
  }
  ASSERT_TRUE(m.OpenKeyReadOnly(u"Software\\Vendor"));
  EXPECT_EQ(m.ReadString(u"Edition", u""), u"Pro");
  EXPECT_THROW(m.WriteString(u"Edition", u"x"), EzbRegistryError);
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, u"Software\\Vendor", u"Edition", u""), u"Pro");
  EXPECT_NO_THROW(WriteRegistryString(HKEY_LOCAL_MACHINE, u"Software\\Other", u"x", u"y"));
  EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, u"Software\\Other", u"x", u"none"), u"none");
  // Roots without a store do not open.
  TzbRegistry users(KEY_ALL_ACCESS, HKEY_USERS);
  EXPECT_FALSE(users.OpenKey(u"X", true));
}

TEST_F(RegistryTest, KeyInfoAndEnumeration) {
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"E", true));
  EXPECT_FALSE(reg.HasSubKeys());
  TzbRegKeyInfo before;
  ASSERT_TRUE(reg.GetKeyInfo(before));
  reg.CreateKey(u"Beta");
  reg.CreateKey(u"alpha");
  reg.CreateKey(u"ALPHA\\deep");  // same key: names compare without case
  reg.WriteString(u"Zeta", u"1");
  reg.WriteInteger(u"LongerName", 1);
  reg.WriteBinaryData(u"blob", "0123456789", 10);
  TzbRegKeyInfo info;
  ASSERT_TRUE(reg.GetKeyInfo(info));
  EXPECT_EQ(info.NumSubKeys, 2);
  EXPECT_EQ(info.MaxSubKeyLen, 5);
  EXPECT_EQ(info.NumValues, 3);
  EXPECT_EQ(info.MaxValueLen, 10);
  EXPECT_EQ(info.MaxDataLen, 10);
  EXPECT_GE(info.FileTime, before.FileTime);
  EXPECT_TRUE(reg.HasSubKeys());
  TStringList keys, values;
  reg.GetKeyNames(keys);
  reg.GetValueNames(values);
  EXPECT_EQ(keys, (TStringList{u"alpha", u"Beta"}));  // case kept as first created
  EXPECT_EQ(values, (TStringList{u"Zeta", u"LongerName", u"blob"}));
  reg.CloseKey();
  reg.GetKeyNames(keys);
  EXPECT_TRUE(keys.empty());
  EXPECT_FALSE(reg.GetKeyInfo(info));
}

TEST_F(RegistryTest, DeleteKeyRemovesTreeAndKeepsOpenKey) {
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"Top", true));
  reg.CreateKey(u"Sub\\A\\B\\C");
  reg.CreateKey(u"Sub\\D");
  ASSERT_TRUE(reg.OpenKey(u"Sub\\A", false));
  reg.WriteString(u"v", u"x");
  ASSERT_TRUE(reg.OpenKey(u"\\Top", false));
  HKEY open = reg.CurrentKey();
  EXPECT_TRUE(reg.DeleteKey(u"Sub"));
  EXPECT_FALSE(reg.KeyExists(u"Sub"));
  EXPECT_FALSE(reg.KeyExists(u"\\Top\\Sub\\A\\B"));
  EXPECT_EQ(reg.CurrentKey(), open);
  EXPECT_EQ(reg.CurrentPath(), u"Top");
  reg.WriteString(u"still", u"open");
  EXPECT_FALSE(reg.DeleteKey(u"Sub"));
  EXPECT_TRUE(reg.DeleteKey(HKEY_CURRENT_USER, u"\\Top"));
  EXPECT_FALSE(reg.KeyExists(u"Top"));

  // An empty path from the root would be the whole store: refused, nothing removed.
  reg.CloseKey();
  reg.CreateKey(u"Keep");
  EXPECT_FALSE(reg.DeleteKey(u""));
  EXPECT_FALSE(reg.DeleteKey(u"\\"));
  EXPECT_TRUE(reg.KeyExists(u"Keep"));
}

TEST_F(RegistryTest, MoveKeyAndRenameValue) {
  PutRaw(u"Src\\Child", u"multi", REG_MULTI_SZ, std::string("a\0\0\0", 4));
  PutRaw(u"Src", u"empty", REG_SZ, "");
  TzbRegistry reg;
  ASSERT_TRUE(reg.OpenKey(u"Src", false));
  reg.WriteString(u"", u"default");
  reg.WriteInteger(u"n", 5);
  reg.CloseKey();
  reg.CreateKey(u"Taken");
  reg.SetAccess(KEY_READ);
  reg.MoveKey(u"Src", u"Taken", true);  // onto an existing key: nothing
  EXPECT_EQ(reg.Access(), KEY_READ);
  EXPECT_TRUE(reg.KeyExists(u"Src"));
  reg.SetAccess(KEY_ALL_ACCESS);
  reg.MoveKey(u"Src", u"Src\\Child\\Inside", true);  // into itself: nothing
  EXPECT_TRUE(reg.KeyExists(u"Src\\Child"));
  EXPECT_FALSE(reg.KeyExists(u"Src\\Child\\Inside"));

  reg.MoveKey(u"Src", u"Dst", true);
  EXPECT_FALSE(reg.KeyExists(u"Src"));
  ASSERT_TRUE(reg.OpenKey(u"Dst", false));
  EXPECT_EQ(reg.ReadString(u"", u""), u"default");
  EXPECT_EQ(reg.ReadInteger(u"n"), 5);
  EXPECT_EQ(reg.GetDataSize(u"empty"), 0);  // empty values survive a move
  ASSERT_TRUE(reg.OpenKey(u"Child", false));
  EXPECT_EQ(reg.GetDataSize(u"multi"), 4);
  std::uint32_t type = 0;
  EXPECT_EQ(RegStore().QueryValue(reg.CurrentKey(), u"multi", &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);

  ASSERT_TRUE(reg.OpenKey(u"\\Dst", false));
  reg.MoveKey(u"Child", u"Copy", false);
  EXPECT_TRUE(reg.KeyExists(u"Child"));
  EXPECT_TRUE(reg.KeyExists(u"\\Dst\\Copy"));

  reg.RenameValue(u"n", u"m");
  EXPECT_FALSE(reg.ValueExists(u"n"));
  EXPECT_EQ(reg.ReadInteger(u"m"), 5);
  reg.WriteString(u"other", u"o");
  reg.RenameValue(u"m", u"other");  // target exists: nothing
  EXPECT_EQ(reg.ReadInteger(u"m"), 5);
  EXPECT_EQ(reg.ReadString(u"other", u""), u"o");
  reg.RenameValue(u"empty", u"e2");  // no data: nothing
  EXPECT_TRUE(reg.ValueExists(u"empty"));
}

TEST_F(RegistryTest, RegistryKeysTextForm) {
  TzbRegistryKeys k = TzbRegistryKeys::FromText(u"hkey_local_machine\\SOFTWARE\\X");
  EXPECT_EQ(k.RootKey, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(k.Key, u"\\SOFTWARE\\X");
  EXPECT_TRUE(k.Name.empty());
  k = u"Software\\X\tN|V";
  EXPECT_EQ(k.RootKey, HKEY_CURRENT_USER);
  EXPECT_EQ(k.Key, u"Software\\X");
  EXPECT_EQ(k.Name, u"N");
  EXPECT_EQ(k.Value, u"V");
  k = TzbRegistryKeys::FromText(u"A|B");
  EXPECT_EQ(k.Key, u"A|B");
  k = TzbRegistryKeys::FromText(u"A\tN");
  EXPECT_EQ(k.Name, u"N");
  EXPECT_EQ(k.Value, u"");

  TzbRegistryKeys r(HKEY_CLASSES_ROOT, u"Key", u"", u"val");
  EXPECT_EQ(r.ToText(), u"HKEY_CLASSES_ROOT\\Key\t|val");
  EXPECT_EQ(TzbRegistryKeys(0x1234, u"K", u"N").ToText(), u"HKEY_CURRENT_USER\\K\tN");
  EXPECT_EQ(TzbRegistryKeys(0, u"", u"N", u"V").ToText(), u"");
  TzbRegistryKeys full = TzbRegistryKeys::FromText(u"HKEY_USERS\\S\\K\tName|Value");
  std::u16string text = full;
  EXPECT_EQ(text, u"HKEY_USERS\\S\\K\tName|Value");
  EXPECT_EQ(TzbRegistryKeys::FromText(text), full);

  EXPECT_TRUE(full == u"hkey_users\\s\\k\tNAME|Value");
  EXPECT_FALSE(full == u"HKEY_USERS\\S\\K\tName|value");  // the value compares exactly
  EXPECT_TRUE(full != std::u16string(u"HKEY_USERS\\S\\Other"));
  full.Clear();
  EXPECT_TRUE(full.IsEmpty());
  EXPECT_FALSE(TzbRegistryKeys::FromText(u"").IsEmpty());  // a text always names a root
}

TEST_F(RegistryTest, FreeFunctionsAndInterface) {
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum", u"Folder", u"def"), u"def");
  EXPECT_FALSE(std::filesystem::exists(UserFile()));
  WriteRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum", u"Folder", u"/home/x/");
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum", u"folder", u"def"), u"/home/x/");
  WriteRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum", u"Num", u"1");
  {
    TzbRegistry reg;
    ASSERT_TRUE(reg.OpenKey(u"Software\\Vestrum", false));
    reg.WriteInteger(u"Num", 1);
  }
  EXPECT_THROW(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum", u"Num", u""), EzbRegistryError);

  std::shared_ptr<IzbRegistry> shared = NewRegistry(KEY_ALL_ACCESS, HKEY_CURRENT_USER);
  ASSERT_TRUE(shared->OpenKey(u"Software\\Vestrum", false));
  EXPECT_EQ(shared->ReadString(u"Folder", u""), u"/home/x/");
  shared->SetLazyWrite(false);  // flushed on close
  shared->WriteString(u"Folder", u"/tmp/");
  shared->CloseKey();
  EXPECT_FALSE(shared->RegistryConnect(u"\\\\other"));
  EXPECT_FALSE(shared->SaveKey(u"Software", u"/tmp/x"));
  EXPECT_EQ(ReadRegistryString(HKEY_CURRENT_USER, u"Software\\Vestrum", u"Folder", u""), u"/tmp/");
}

}  // namespace
}  // namespace zb
