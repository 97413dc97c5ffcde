#include "qt/TxQtDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QPushButton>
#include <cstdio>
#include <string>

namespace Tx {

namespace {

QString ToQt(const AnsiString& Text) {
  const std::string utf8 = AnsiToUtf8(Text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QMessageBox::Icon IconOf(UINT Flags) {
  switch (Flags & MB_ICONMASK) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

QMessageBox::ButtonRole RoleOf(int Id) {
  switch (Id) {
    case IDOK: case IDYES: case IDRETRY: case IDTRYAGAIN: case IDCONTINUE: return QMessageBox::AcceptRole;
    case IDCANCEL: case IDABORT: return QMessageBox::RejectRole;
    case IDNO: return QMessageBox::NoRole;
    default: return QMessageBox::ActionRole;
  }
}

Qt::CursorShape ShapeOf(TCursor Cursor) {
  switch (Cursor) {
    case crHourGlass: case crSQLWait: return Qt::WaitCursor;
    case crAppStart: return Qt::BusyCursor;
    case crIBeam: return Qt::IBeamCursor;
    case crCross: return Qt::CrossCursor;
    case crHandPoint: return Qt::PointingHandCursor;
    case crNo: case crNoDrop: return Qt::ForbiddenCursor;
    case crSizeAll: return Qt::SizeAllCursor;
    case crSizeNS: case crVSplit: return Qt::SizeVerCursor;
    case crSizeWE: case crHSplit: return Qt::SizeHorCursor;
    case crHelp: return Qt::WhatsThisCursor;
    case crNone: return Qt::BlankCursor;
    default: return Qt::ArrowCursor;
  }
}

}  // namespace

TQtUserInterface::~TQtUserInterface() {
  if (FCursorOverridden) QApplication::restoreOverrideCursor();
}

int TQtUserInterface::ShowDialog(const TDialogRequest& Request) {
  QMessageBox box(IconOf(Request.Flags), ToQt(Request.Caption), ToQt(Request.Text), QMessageBox::NoButton,
                  FParent.data());
  const std::vector<int> ids = DialogButtons(Request.Flags);
  const int defaultId = DefaultDialogButton(Request.Flags);
  std::vector<std::pair<QAbstractButton*, int>> buttons;
  for (const int id : ids) {
    QPushButton* button = box.addButton(QString::fromLatin1(DialogButtonName(id)), RoleOf(id));
    buttons.emplace_back(button, id);
    if (id == defaultId) box.setDefaultButton(button);
  }
  FActiveBox = &box;
  box.exec();
  FActiveBox = nullptr;
  for (const auto& [button, id] : buttons)
    if (box.clickedButton() == button) return id;
  for (const int id : ids)
    if (id == IDCANCEL) return IDCANCEL;
  return defaultId;
}

void TQtUserInterface::Beep(UINT /*Type*/) { QApplication::beep(); }

void TQtUserInterface::CursorChanged(TCursor Cursor, HCURSOR /*Handle*/) {
  if (FCursorOverridden) {
    QApplication::restoreOverrideCursor();
    FCursorOverridden = false;
  }
  if (Cursor == crDefault) return;
  QApplication::setOverrideCursor(QCursor(ShapeOf(Cursor)));
  FCursorOverridden = true;
}

void TQtUserInterface::DebugOutput(const AnsiString& Text) {
  const std::string utf8 = AnsiToUtf8(Text);
  std::fprintf(stderr, "[debug] %s\n", utf8.c_str());
}

AnsiString TQtUserInterface::ComputerName() { return HostComputerName(); }

}  // namespace Tx
