// The user-interface seam in a Qt program: the library's message boxes
// become QMessageBoxes, its hour-glass and other screen cursors Qt's
// override cursor, beeps QApplication::beep.
//
// Install it for the life of the main window:
//   TQtUserInterface ui(&window);
//   TUserInterfaceScope scope(ui);
// Texts arrive in Windows-1250 and are shown in UTF-8. A box asked for with
// the Windows flags shows the same buttons (DialogButtons) with the same
// default and answers with the button the user pressed; closing the box
// answers Cancel when it has one, else its default button. Works only on
// the thread that runs the QApplication.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/framework/Dialogs.h"

namespace Tx {

class TQtUserInterface : public IUserInterface {
 public:
  // Boxes are shown over Parent (nullptr: no parent); not owned.
  explicit TQtUserInterface(QWidget* Parent = nullptr) : FParent(Parent) {}
  ~TQtUserInterface() override;

  int ShowDialog(const TDialogRequest& Request) override;
  void Beep(UINT Type) override;
  void CursorChanged(TCursor Cursor, HCURSOR Handle) override;
  void DebugOutput(const AnsiString& Text) override;
  AnsiString ComputerName() override;

  // The box being shown, nullptr when none (a test or a screenshot script
  // can find and close it).
  QMessageBox* ActiveBox() const noexcept { return FActiveBox; }

 private:
  QPointer<QWidget> FParent;
  QPointer<QMessageBox> FActiveBox;
  bool FCursorOverridden = false;
};

}  // namespace Tx
