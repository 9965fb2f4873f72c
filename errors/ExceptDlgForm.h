// The exception dialog: an unexpected error's message beside the error icon and, on request, the full
// report, which can be copied (Ctrl+C) or saved. A GTK 3 window of its own library, so that the silent
// service never links GTK's dialogs; a program that wants them calls InstallExceptionDialog.
#pragma once

#include <gtk/gtk.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "errors/ExceptDlg.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/gtk/zbWindowActions.h"
#include "support/zbDateUtils.h"
#include "support/zbException.h"

namespace zb {

// The silent abort: it ends an operation without a report, so the dialog never shows it.
class EzbAbort : public EzbException {
 public:
  using EzbException::EzbException;
};

// The remembered save folder is the value "SavePath" of HKEY_CURRENT_USER\<host key>\ExceptionDialog.
inline constexpr std::u16string_view DefaultHostRegistryKey = u"Software\\Vestrum\\Plumadesk 5.0";
inline constexpr std::u16string_view SavePathValueName = u"SavePath";
void SetHostRegistryKey(std::u16string_view AKey);
std::u16string HostRegistryKey();
std::u16string ExceptionDialogRegistryKey();

// "&" marks the next letter as the accelerator, "&&" is an "&": GTK's "_" form, in UTF-8.
std::string CaptionToMnemonic(std::u16string_view ACaption);
// "ERR yyyy-mm-dd hhnnss.log".
std::u16string ProposedReportFileName(TDateTime AWhen);
// The remembered folder when it exists, else the log folder (created when missing); no trailing "/".
std::u16string ReportSaveFolder();

// The standard error message box (modal, one OK button), in front of the open dialog if there is one.
void ShowErrorMessageBox(std::u16string_view AMessage);

// Makes TzbExceptionHandler::ShowException show this dialog.
void InstallExceptionDialog();

class TExceptionDialog {
 public:
  using TNotifyEvent = std::function<void(TExceptionDialog&)>;
  using TDialogFactory = std::function<std::unique_ptr<TExceptionDialog>()>;
  enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2 };
  enum class TBeep { bpError, bpDefault };

  TExceptionDialog();
  virtual ~TExceptionDialog();
  TExceptionDialog(const TExceptionDialog&) = delete;
  TExceptionDialog& operator=(const TExceptionDialog&) = delete;

  // Shows AError modally and returns when the dialog is closed. AThreadError: the error that ended a worker
  // thread, if that is where AError comes from; it does not change what is shown.
  static void ShowException(const std::exception& AError, const std::exception_ptr& AThreadError,
                            TNotifyEvent AOnDetails);
  // Error-hook entries: a second error while a dialog is showing goes to the message box.
  static void OnExceptionHandler(const void* ASender, const std::exception& AError);
  static void OnExceptionThreadHandler(const std::exception_ptr& AThreadError);
  // The class of the dialogs ShowException creates; empty: TExceptionDialog.
  static void SetDialogClass(TDialogFactory AFactory);
  static TExceptionDialog* Current();
  static bool ReportDialogActive();

  // AMode 1 masks "<" and ">" as "(" and ")".
  std::u16string GetReportText(int AMode) const;
  void CopyReportToClipboard();
  void SetDetailsShown(bool AValue);
  bool DetailsShown() const { return FDetailsVisible; }
  void BuildDetails();
  void SetMessageText(std::u16string_view AText);
  void Close(TModalResult AResult);

  GtkWindow* Window() const { return GTK_WINDOW(FForm.get()); }
  GtkWidget* OkButton() const { return FbtnOk; }
  GtkWidget* DetailsButton() const { return FbtnDetails; }
  GtkWidget* SaveButton() const { return FbtnSave; }
  GtkWidget* MessageBox() const { return FTextLabel; }
  GtkWidget* DetailsBox() const { return FmemDetails; }
  std::u16string MessageText() const;
  std::u16string DetailsText() const;
  bool MessageHasScrollBar() const;
  int NonDetailsHeight() const { return FNonDetailsHeight; }
  int FullHeight() const { return FFullHeight; }
  TModalResult ModalResult() const { return FModalResult; }

 protected:
  virtual void BeforeBuildDetails() {}
  // The report of this process; a derived dialog may show another.
  virtual void FillDetails();
  virtual void AfterBuildDetails();
  virtual void MessageBeep(TBeep AKind);
  void SetDetailsLines(const TStrings& ALines);

 private:
  void FormShow();
  void OkClick();
  void CancelClick();
  void DetailsClick();
  void SaveClick();
  void CopyClick();
  void ApplySizeLimits();
  int ScreenHeight() const;

  // The actions "report.ok", "report.cancel", "report.details", "report.save" and "report.copy": the
  // buttons, their mnemonics, the keys and the close box all act through them.
  template <void (TExceptionDialog::*AClick)()>
  static void OnAction(GSimpleAction*, GVariant*, gpointer ASelf) noexcept;
  static const GActionEntry ReportActions[5];
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer ASelf) noexcept;
  static gboolean OnDrawn(GtkWidget*, cairo_t*, gpointer ASelf) noexcept;
  static gboolean OnPostedBuild(gpointer ASelf) noexcept;

  TzbTopLevel FForm;
  TzbWindowActions FActions;  // goes before the form
  GtkWidget* FbtnOk = nullptr;
  GtkWidget* FmemDetails = nullptr;
  GtkWidget* FbtnDetails = nullptr;
  GtkWidget* FTextLabel = nullptr;
  GtkWidget* FshpDetails = nullptr;
  GtkWidget* FbtnSave = nullptr;
  GtkWidget* FMessageScroll = nullptr;
  bool FDetailsVisible = true;
  bool FIsMainThread = true;
  const IzbReportControl* FLastActiveControl = nullptr;
  int FNonDetailsHeight = 0;
  int FFullHeight = 0;
  TNotifyEvent FOnDetails;
  TModalResult FModalResult = mrNone;
  bool FBuildPosted = false;
  TzbSource FPostedBuild;
  TzbSignal FDeleteSignal, FDrawSignal;
};

}  // namespace zb
