// The service's fixed values: its title, its address on the session bus and the request codes.
#pragma once

#include <cstdint>
#include <string>

#include "support/zbShellAPI.h"
#include "support/zbStr.h"

namespace zb {

// Also the application title, the caption of the service form and the name of the single-instance guard.
inline constexpr char16_t ServiceTitle[] = u"Vestrum Plumadesk 5.0 - HTML Service";

inline constexpr char ServiceBusName[] = "com.vestrum.Plumadesk5.HtmlService";
inline constexpr char ServiceObjectPath[] = "/com/vestrum/Plumadesk5/HtmlService";
inline constexpr char ServiceInterface[] = "com.vestrum.Plumadesk5.HtmlService";

inline constexpr std::int32_t WM_USER = 1024;

// Request codes; the data block of each is noted beside it.
inline constexpr std::int32_t HS_PING = WM_USER + 1;                       // none
inline constexpr std::int32_t HS_LOADFROMFILE = WM_USER + 2;               // text: file name
inline constexpr std::int32_t HS_SAVETOFILE = WM_USER + 3;                 // text: file name
inline constexpr std::int32_t HS_PRINTFILES = WM_USER + 4;                 // text: names separated by ","
inline constexpr std::int32_t HS_PRINTWITHDLG = WM_USER + 5;               // text: file name
inline constexpr std::int32_t HS_PRINTPREVIEW = WM_USER + 6;               // text: file name
inline constexpr std::int32_t HS_PAGESETUP = WM_USER + 7;                  // none
inline constexpr std::int32_t HS_SETDEFAULTPAGEOPTIONS = WM_USER + 8;      // text: page-setup name space
inline constexpr std::int32_t HS_CONVERTHTMLTOPLAIN = WM_USER + 9;         // text: "SRC:…;DST:…"
inline constexpr std::int32_t HS_CONCATHTML = WM_USER + 10;                // text: HTML source
inline constexpr std::int32_t HS_CONCATPLAIN = WM_USER + 11;               // text: plain text
inline constexpr std::int32_t HS_PASTEHTMLSTART = WM_USER + 12;            // text: HTML source
inline constexpr std::int32_t HS_PASTEHTMLEND = WM_USER + 13;              // text: HTML source
inline constexpr std::int32_t HS_PASTEPLAINSTART = WM_USER + 14;           // text: plain text
inline constexpr std::int32_t HS_PASTEPLAINEND = WM_USER + 15;             // text: plain text
inline constexpr std::int32_t HS_COUNTIMAGES = WM_USER + 16;               // text: file name
inline constexpr std::int32_t HS_CONTAINSBACKGROUNDIMAGES = WM_USER + 17;  // text: file name
inline constexpr std::int32_t HS_COUNTALLIMAGES = WM_USER + 33;            // text: file name
inline constexpr std::int32_t HS_EXECCMD = WM_USER + 240;                  // THtmlExecCmd record
inline constexpr std::int32_t HS_SETWNDPOS = WM_USER + 241;                // TPoint record
inline constexpr std::int32_t HS_TERMINATE = WM_USER + 255;                // none

// The error log: a folder below the shared documents, a file per minute, the build's file age.
inline constexpr char16_t LogSubFolder[] = u"Vestrum-Logs/Plumadesk 5.0";
inline std::u16string ServiceLogFolder() {
  return IncludeTrailingChar(GetSpecialFolder(sfCommonDocuments), u'/') + LogSubFolder;
}
inline constexpr char16_t LogFileNameFormat[] = u"\"HtmlService \"YYYYMMDDHHMMNN\".log\"";
struct TFileage {
  std::uint16_t Year, Month, Day, Hour, Minute, Second, Millisecond;
};
inline constexpr TFileage ApplicationFileage = {2019, 3, 29, 12, 3, 9, 0};

// The service's own answers.
inline constexpr std::int32_t HS_OK = 1;
inline constexpr std::int32_t HS_FAILED = -1;

}  // namespace zb
