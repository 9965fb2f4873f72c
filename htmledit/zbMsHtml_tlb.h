// The document model the editor is written against: document, element, style, text range,
// persistence and command target, with the engine's 32-bit result codes. The engine adapter under
// platform/ implements these; "QueryInterface" is std::dynamic_pointer_cast on the document.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "support/zbException.h"

namespace zb {

using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003);
constexpr HRESULT E_ABORT = static_cast<HRESULT>(0x80004004);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005);
// HRESULT_FROM_WIN32(ERROR_TIMEOUT): a wait for the engine gave up.
constexpr HRESULT E_ZB_TIMEOUT = static_cast<HRESULT>(0x800705B4);
// The web process died while the call was running.
constexpr HRESULT E_ZB_ENGINE_GONE = static_cast<HRESULT>(0x800706BA);
constexpr HRESULT OLECMDERR_E_NOTSUPPORTED = static_cast<HRESULT>(0x80040100);
constexpr HRESULT OLECMDERR_E_UNKNOWNGROUP = static_cast<HRESULT>(0x80040104);

inline bool Succeeded(HRESULT AR) { return AR >= 0; }
inline bool Failed(HRESULT AR) { return AR < 0; }

// The engine's error for a failed call; carries the result code.
class EzbOleError : public EzbException {
 public:
  EzbOleError(HRESULT ACode, std::u16string AMessage) : EzbException(std::move(AMessage)), FErrorCode(ACode) {}
  HRESULT ErrorCode() const noexcept { return FErrorCode; }

 private:
  HRESULT FErrorCode;
};

// Raises EzbOleError for a negative result.
void OleCheck(HRESULT AResult);

struct TGUID {
  std::uint32_t D1;
  std::uint16_t D2, D3;
  std::uint8_t D4[8];
  bool operator==(const TGUID&) const = default;
};

constexpr TGUID CGID_IWebBrowser{0xED016940, 0xBD5B, 0x11CF, {0xBA, 0x4E, 0x00, 0xC0, 0x4F, 0xD7, 0x08, 0x16}};
constexpr TGUID CGID_MSHTML{0xDE4BA900, 0x59CA, 0x11CF, {0x95, 0x92, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr TGUID CGID_Explorer{0x000214D0, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr TGUID CGID_DocHostCommandHandler{
    0xF38BC242, 0xB950, 0x11D1, {0x89, 0x18, 0x00, 0xC0, 0x4F, 0xC2, 0xC8, 0x36}};

// The commands of the browser group (CGID_IWebBrowser).
constexpr std::uint32_t BrowserFind = 1;
constexpr std::uint32_t BrowserViewSource = 2;
constexpr std::uint32_t BrowserOptions = 3;

// Standard command ids (no group) and options.
enum : std::uint32_t {
  OLECMDID_OPEN = 1,
  OLECMDID_SAVEAS = 4,
  OLECMDID_PRINT = 6,
  OLECMDID_PRINTPREVIEW = 7,
  OLECMDID_PAGESETUP = 8,
  OLECMDID_PROPERTIES = 10,
  OLECMDID_COPY = 12,
  OLECMDID_SELECTALL = 17,
  OLECMDID_ZOOM = 19,
  OLECMDID_GETZOOMRANGE = 20,
  OLECMDID_SHOWSCRIPTERROR = 40,
};
enum : std::uint32_t {
  OLECMDEXECOPT_DODEFAULT = 0,
  OLECMDEXECOPT_PROMPTUSER = 1,
  OLECMDEXECOPT_DONTPROMPTUSER = 2,
  OLECMDEXECOPT_SHOWHELP = 3,
};
constexpr std::uint32_t IDM_SAVE = 70;

constexpr int READYSTATE_UNINITIALIZED = 0;
constexpr int READYSTATE_LOADING = 1;
constexpr int READYSTATE_COMPLETE = 4;

// The values a command or a property exchanges. Empty and null are distinct, as in OLE.
struct TVarNull {
  bool operator==(const TVarNull&) const = default;
};
struct TVarArray;
struct TVarStream;
using TVariant = std::variant<std::monostate, TVarNull, bool, std::int32_t, double, std::u16string,
                              std::shared_ptr<const TVarArray>, std::shared_ptr<const TVarStream>>;

// A safe array of values; VarType is its variant type: the array flag (0x2000) with the element type.
struct TVarArray {
  std::uint16_t VarType = 0;
  std::vector<TVariant> Items;
};
// An in-memory stream handed over by reference; Bytes are its whole content.
struct TVarStream {
  std::string Bytes;
};

inline bool VarIsEmpty(const TVariant& AValue) { return std::holds_alternative<std::monostate>(AValue); }
inline bool VarIsNull(const TVariant& AValue) { return std::holds_alternative<TVarNull>(AValue); }
// Text of a value as the engine's variant conversion gives it ("" for empty and null).
std::u16string VarToText(const TVariant& AValue);

class IHTMLStyle {
 public:
  virtual ~IHTMLStyle() = default;
  virtual std::u16string backgroundImage() = 0;
  virtual std::u16string fontFamily() = 0;
  virtual void put_fontFamily(std::u16string_view AValue) = 0;
  virtual std::u16string fontSize() = 0;
  virtual void put_fontSize(std::u16string_view AValue) = 0;
};

class IHTMLCurrentStyle {
 public:
  virtual ~IHTMLCurrentStyle() = default;
  // The cascaded size with its unit ("10pt", "13.5px") or an HTML size ("3").
  virtual std::u16string fontSize() = 0;
};

class IHTMLElement {
 public:
  virtual ~IHTMLElement() = default;
  virtual std::u16string tagName() = 0;
  virtual std::shared_ptr<IHTMLStyle> style() = 0;
  // The rendered text.
  virtual std::u16string outerText() = 0;
  virtual std::u16string innerHTML() = 0;
};

class IHTMLElement2 {
 public:
  virtual ~IHTMLElement2() = default;
  virtual std::shared_ptr<IHTMLCurrentStyle> currentStyle() = 0;
};

class IHTMLElementCollection {
 public:
  virtual ~IHTMLElementCollection() = default;
  virtual std::int32_t length() = 0;
};

class IHTMLTxtRange {
 public:
  virtual ~IHTMLTxtRange() = default;
  virtual std::u16string text() = 0;
  virtual void put_text(std::u16string_view AText) = 0;
  virtual std::u16string htmlText() = 0;
  virtual void collapse(bool AStart) = 0;
  // Unit "character"; the answer is the number of characters actually moved.
  virtual std::int32_t moveStart(std::u16string_view AUnit, std::int32_t ACount) = 0;
  virtual std::int32_t moveEnd(std::u16string_view AUnit, std::int32_t ACount) = 0;
  virtual void select() = 0;
  virtual void pasteHTML(std::u16string_view AHtml) = 0;
  virtual std::shared_ptr<IHTMLElement> parentElement() = 0;
};

class IHTMLSelectionObject {
 public:
  virtual ~IHTMLSelectionObject() = default;
  virtual std::u16string type() = 0;
  // A text range, or nullptr when the selection has none.
  virtual std::shared_ptr<IHTMLTxtRange> createRange() = 0;
};

class IHTMLDocument2 {
 public:
  virtual ~IHTMLDocument2() = default;
  virtual std::u16string designMode() = 0;
  virtual void put_designMode(std::u16string_view AValue) = 0;
  virtual std::shared_ptr<IHTMLElement> body() = 0;  // nullptr without body
  // The body's outerText; nothing without body. An engine may answer it in one step.
  virtual std::optional<std::u16string> bodyText() {
    const auto b = body();
    if (!b) return std::nullopt;
    return b->outerText();
  }
  virtual std::shared_ptr<IHTMLElementCollection> images() = 0;
  virtual std::shared_ptr<IHTMLSelectionObject> selection() = 0;
  virtual std::u16string url() = 0;
  virtual std::u16string readyState() = 0;
  virtual std::u16string charset() = 0;
  // The MIME type the engine shows the document as ("text/html", "image/png" …).
  virtual std::u16string contentType() = 0;
  virtual bool execCommand(std::u16string_view ACmdID, bool AShowUI, const TVariant& AValue) = 0;
  virtual bool queryCommandSupported(std::u16string_view ACmdID) = 0;
  virtual bool queryCommandState(std::u16string_view ACmdID) = 0;
  virtual TVariant queryCommandValue(std::u16string_view ACmdID) = 0;
};

class IPersistStreamInit {
 public:
  virtual ~IPersistStreamInit() = default;
  // Appends the document's HTML, in its own character set, to AStream.
  virtual HRESULT Save(std::string& AStream, bool AClearDirty) = 0;
  // Replaces the document by one parsed from the bytes; returns when it is complete.
  virtual HRESULT Load(std::string_view AStream) = 0;
  virtual HRESULT IsDirty() = 0;
};

class IPersistFile {
 public:
  virtual ~IPersistFile() = default;
  virtual HRESULT Save(std::u16string_view AFileName, bool ARemember) = 0;
};

class IOleCommandTarget {
 public:
  virtual ~IOleCommandTarget() = default;
  virtual HRESULT Exec(const TGUID* AGroup, std::uint32_t ACmdID, std::uint32_t ACmdExecOpt, const TVariant& AIn,
                       TVariant* AOut) = 0;
};

}  // namespace zb
