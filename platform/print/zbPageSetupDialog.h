// The page-setup dialog: paper, orientation, header, footer and the four margins, filled from the
// page-setup store and written back to it when confirmed. Margins are shown in the unit of the user's
// locale (LC_MEASUREMENT); the store keeps inches. Laid out in zbPageSetupDialog.ui; OK and Abbrechen
// are the actions of the window's "setup" group.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/glib/zbGOwner.h"
#include "platform/glib/zbGtkOwner.h"
#include "platform/gtk/zbWindowActions.h"
#include "platform/print/zbPageSetup.h"

namespace zb::print {

// One shown dialog. Built from the store; nothing is written before OK.
class TzbPageSetupDialog {
 public:
  explicit TzbPageSetupDialog(GtkWindow* AParent);
  TzbPageSetupDialog(const TzbPageSetupDialog&) = delete;
  TzbPageSetupDialog& operator=(const TzbPageSetupDialog&) = delete;
  ~TzbPageSetupDialog();

  GtkWindow* Window() const;
  TMeasure Unit() const { return FUnit; }

  // For filling without the user; margins in the dialog's unit.
  void SetPaper(std::u16string_view APwgName);  // added to the list when it is not there
  void SetOrientation(TPrintOrientationOption AOrientation);
  void SetHeader(std::u16string_view AText);
  void SetFooter(std::u16string_view AText);
  void SetMargins(double ALeft, double ATop, double ARight, double ABottom);

  // What the fields hold now; margins in inches.
  TzbPageSetup Values() const;

  void Confirm();         // as if OK was pressed
  void Cancel();          // as if Cancel was pressed
  void MoveOutOfSight();  // for a dialog filled and confirmed without ever being seen

  // Shows the dialog modally and waits for the answer; AOnShow runs once it is on screen. On OK the
  // store is written and the answer is true.
  bool Run(const std::function<void(TzbPageSetupDialog&)>& AOnShow = {});

 private:
  enum TSide { sLeft, sTop, sRight, sBottom };
  friend void BindPageSetupTemplate(GtkWidgetClass* AClass);  // the window of zbPageSetupDialog.ui
  void Build(GtkWindow* AParent);
  void AddPaper(const std::u16string& AName);
  void Fill(const TzbPageSetup& ASetup);
  double MarginInches(TSide ASide) const;
  void WriteStore() const;

  TMeasure FUnit;
  TzbTopLevel FDialog;  // a TzbPageSetupWindow of zbPageSetupDialog.ui
  GtkComboBoxText* FPaper = nullptr;
  GtkToggleButton* FPortrait = nullptr;
  GtkToggleButton* FLandscape = nullptr;
  GtkEntry* FHeader = nullptr;
  GtkEntry* FFooter = nullptr;
  std::array<GtkSpinButton*, 4> FMargins{};
  // The stored margins (inches) survive unchanged while the field still shows them rounded.
  std::array<double, 4> FStoredInches{};
  std::vector<std::u16string> FPaperNames;
  gint FResponse = GTK_RESPONSE_NONE;
  TzbWindowActions FWindowActions;
};

// Shows the page-setup dialog modally over AParent (may be null); AOnShow runs once it is on screen
// (the editor's dialog watching: caption, filling, confirming). True when confirmed with OK, the store
// then holds the new page setup.
bool ShowPageSetupDialog(GtkWindow* AParent, const std::function<void(TzbPageSetupDialog&)>& AOnShow = {});

}  // namespace zb::print
