#include "htmledit/zbHtmlCmds.h"

#include <algorithm>

namespace zb {
namespace {

// Alphabetical, as the engine lists its commands; index 0 is identifier 1.
constexpr const char16_t* CommandNames[HtmlCommandCount] = {
    u"2D-Position",
    u"AbsolutePosition",
    u"BackColor",
    u"BlockDirLTR",
    u"BlockDirRTL",
    u"Bold",
    u"BrowseMode",
    u"Copy",
    u"CreateBookmark",
    u"CreateLink",
    u"Cut",
    u"Delete",
    u"DirLTR",
    u"DirRTL",
    u"EditMode",
    u"FontName",
    u"FontSize",
    u"ForeColor",
    u"FormatBlock",
    u"Indent",
    u"InlineDirLTR",
    u"InlineDirRTL",
    u"InsertButton",
    u"InsertFieldset",
    u"InsertHorizontalRule",
    u"InsertIFrame",
    u"InsertImage",
    u"InsertInputButton",
    u"InsertInputCheckbox",
    u"InsertInputFileUpload",
    u"InsertInputHidden",
    u"InsertInputImage",
    u"InsertInputPassword",
    u"InsertInputRadio",
    u"InsertInputReset",
    u"InsertInputSubmit",
    u"InsertInputText",
    u"InsertMarquee",
    u"InsertOrderedList",
    u"InsertParagraph",
    u"InsertSelectDropdown",
    u"InsertSelectListbox",
    u"InsertTextArea",
    u"InsertUnorderedList",
    u"Italic",
    u"JustifyCenter",
    u"JustifyFull",
    u"JustifyLeft",
    u"JustifyNone",
    u"JustifyRight",
    u"LiveResize",
    u"MultipleSelection",
    u"Open",
    u"Outdent",
    u"OverWrite",
    u"Paste",
    u"PlayImage",
    u"Print",
    u"Redo",
    u"Refresh",
    u"RemoveFormat",
    u"RemoveParaFormat",
    u"SaveAs",
    u"SelectAll",
    u"SizeToControl",
    u"SizeToControlHeight",
    u"SizeToControlWidth",
    u"Stop",
    u"StopImage",
    u"StrikeThrough",
    u"Subscript",
    u"Superscript",
    u"UnBookmark",
    u"Underline",
    u"Undo",
    u"Unlink",
    u"Unselect",
};

}  // namespace

std::u16string HtmlCommandName(std::int32_t AID) {
  if (AID < 1 || AID > HtmlCommandCount) return u"";
  return CommandNames[AID - 1];
}

std::int32_t HtmlCommandID(std::u16string_view AName) {
  const auto lower = [](char16_t AChar) {
    return AChar >= u'A' && AChar <= u'Z' ? static_cast<char16_t>(AChar - u'A' + u'a') : AChar;
  };
  for (std::int32_t i = 0; i < HtmlCommandCount; ++i) {
    const std::u16string_view name = CommandNames[i];
    if (name.size() == AName.size() &&
        std::equal(name.begin(), name.end(), AName.begin(),
                   [&](char16_t ALeft, char16_t ARight) { return lower(ALeft) == lower(ARight); }))
      return i + 1;
  }
  return 0;
}

}  // namespace zb
