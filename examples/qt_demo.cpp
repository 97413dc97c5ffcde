// txlib desktop demo: the demo domain's customers in a Qt window. A quick
// data set selects them through CUST_SELECT and writes changes back through
// CUST_INSERT, CUST_UPDATE and CUST_DELETE; a QTableView shows it through
// the table model. Click a header to sort (again for descending), type in
// the filter box to keep the names containing the text, edit a cell to
// update the customer; the buttons add, delete and refresh. A change the
// service refuses comes back as a message box through the library's dialog
// seam, with the server's Polish text.
//
// Options (for screenshots and scripted runs):
//   --seed          add a few customers through CUST_INSERT at start
//   --sort          sort by name at start
//   --filter TEXT   start with TEXT in the filter box
//   --refuse        after start, try to clear a customer's name: the update
//                   service refuses it and the message box shows why
//   --quit-after N  close after N milliseconds (also closes a message box)
#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdlib>
#include <memory>

#include "client/TxGlobal.h"
#include "dataset/TxServDset.h"
#include "examples/domain/DemoDomain.h"
#include "examples/domain/DemoFields.h"
#include "examples/CustomerTable.h"
#include "qt/TxDataSetModel.h"
#include "qt/TxQtDialogs.h"

namespace {

using namespace Tx;

AnsiString FromQt(const QString& text) { return Utf8ToAnsi(text.toStdString()); }

void Bind(TTxQuickDSet& ds) {
  TxDemo::BindCustomerTable(ds, true);
  ds.Loaded();
}

void LabelColumns(TDataSet& ds) {
  ds.FieldByName("CUST_ID")->SetDisplayLabel("Numer");
  ds.FieldByName("CUST_NAME")->SetDisplayLabel("Nazwisko i imię"_ansi);
  ds.FieldByName("BALANCE")->SetDisplayLabel("Saldo");
  ds.FieldByName("SEGMENT")->SetDisplayLabel("Segment");
  ds.FieldByName("NOTE")->SetDisplayLabel("Uwagi");
}

void Seed(TDataSet& ds) {
  struct Row {
    const char* Name;
    double Balance;
    const char* Segment;
    const char* Note;
  };
  const Row rows[] = {{"Żółkiewski Łukasz", 310.00, "A", "płaci przelewem"},
                      {"Dąbrowska Małgorzata", 0.00, "C", ""},
                      {"Ślęzak Jędrzej", -45.90, "B", "przypomnieć o zaległości"},
                      {"Ćwikła Urszula", 1200.00, "A", ""},
                      {"Szczęsny Ścibor", 87.15, "B", "nowy klient"}};
  for (const Row& row : rows) {
    ds.Append();
    ds.FieldByName("CUST_NAME")->SetAsString(Utf8ToAnsi(row.Name));
    ds.FieldByName("BALANCE")->SetAsFloat(row.Balance);
    ds.FieldByName("SEGMENT")->SetAsString(row.Segment);
    if (*row.Note) ds.FieldByName("NOTE")->SetAsString(Utf8ToAnsi(row.Note));
    ds.Post();
  }
}

// Shows a library exception's text through the dialog seam.
void ShowFailure(const AnsiString& text) { MessageBoxA(nullptr, text.c_str(), "Klienci", MB_OK | MB_ICONERROR); }

// Keeps the customers whose name contains the filter text (case ignored).
struct NameFilter {
  AnsiString Text;
  void Accept(TDataSet* ds, bool& accept) {
    accept = ds->FieldByName("CUST_NAME")->AsString().UpperCase().Pos(Text) > 0;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  bool seed = false, sortByName = false, refuse = false;
  int quitAfter = 0;
  QString startFilter;
  const QStringList args = app.arguments();
  for (int i = 1; i < args.size(); ++i) {
    if (args[i] == "--seed") seed = true;
    else if (args[i] == "--sort") sortByName = true;
    else if (args[i] == "--refuse") refuse = true;
    else if (args[i] == "--quit-after" && i + 1 < args.size()) quitAfter = args[++i].toInt();
    else if (args[i] == "--filter" && i + 1 < args.size()) startFilter = args[++i];
  }

  unsetenv("FIELDTBLS32");
  TxDemo::UseDemoFieldTables();
  TxDemo::AdvertiseDemoDomain();

  QMainWindow window;
  window.setWindowTitle(QString::fromUtf8("txlib — klienci domeny demonstracyjnej"));
  TQtUserInterface ui(&window);
  TUserInterfaceScope uiScope(ui);

  TTxQuickDSet ds(nullptr);
  NameFilter filter;
  ds.SetOnFilterRecord(TFilterRecordEvent(&filter, &NameFilter::Accept));
  try {
    Bind(ds);
    ds.Open();
    LabelColumns(ds);
    if (seed) Seed(ds);
    ds.First();
  } catch (const Exception& e) {
    ShowFailure(e.Message);
    return 1;
  }

  TTxDataSetModel model(&ds);
  QObject::connect(&model, &TTxDataSetModel::errorOccurred,
                   [](const QString& message) { ShowFailure(FromQt(message)); });

  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  auto* bar = new QHBoxLayout;
  auto* filterBox = new QLineEdit;
  filterBox->setPlaceholderText(QString::fromUtf8("Filtr: część nazwiska"));
  auto* insertButton = new QPushButton(QString::fromUtf8("Dodaj"));
  auto* deleteButton = new QPushButton(QString::fromUtf8("Usuń"));
  auto* refreshButton = new QPushButton(QString::fromUtf8("Odśwież"));
  bar->addWidget(new QLabel(QString::fromUtf8("Szukaj:")));
  bar->addWidget(filterBox, 1);
  bar->addWidget(insertButton);
  bar->addWidget(deleteButton);
  bar->addWidget(refreshButton);
  layout->addLayout(bar);
  auto* view = new QTableView;
  view->setModel(&model);
  view->setSortingEnabled(false);
  view->horizontalHeader()->setSectionsClickable(true);
  view->horizontalHeader()->setStretchLastSection(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setAlternatingRowColors(true);
  layout->addWidget(view);
  window.setCentralWidget(central);

  // A header click sorts ascending, a second click on the same header descending.
  int sortedColumn = -1;
  Qt::SortOrder sortOrder = Qt::AscendingOrder;
  auto sortBy = [&](int column) {
    sortOrder = column == sortedColumn && sortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    sortedColumn = column;
    view->horizontalHeader()->setSortIndicatorShown(true);
    view->horizontalHeader()->setSortIndicator(column, sortOrder);
    model.sort(column, sortOrder);
  };
  QObject::connect(view->horizontalHeader(), &QHeaderView::sectionClicked, sortBy);

  QObject::connect(filterBox, &QLineEdit::textChanged, [&](const QString& text) {
    try {
      filter.Text = FromQt(text).UpperCase();
      ds.SetFiltered(false);
      if (!text.isEmpty()) ds.SetFiltered(true);
    } catch (const Exception& e) {
      ShowFailure(e.Message);
    }
  });
  QObject::connect(insertButton, &QPushButton::clicked, [&] {
    try {
      ds.Append();
      const QModelIndex name = model.index(model.rowCount() - 1, 1);
      view->setCurrentIndex(name);
      view->edit(name);
    } catch (const Exception& e) {
      ShowFailure(e.Message);
    }
  });
  QObject::connect(deleteButton, &QPushButton::clicked, [&] {
    const QModelIndex current = view->currentIndex();
    if (!current.isValid()) return;
    const QString name = model.data(model.index(current.row(), 1)).toString();
    const AnsiString question = FromQt(QString::fromUtf8("Usunąć klienta %1?").arg(name));
    if (MessageBoxA(nullptr, question.c_str(), "Klienci", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    try {
      if (model.MakeRowActive(current.row())) ds.Delete();
    } catch (const Exception& e) {
      ShowFailure(e.Message);
    }
  });
  QObject::connect(refreshButton, &QPushButton::clicked, [&] {
    try {
      ds.Close();
      ds.Open();
      LabelColumns(ds);
    } catch (const Exception& e) {
      ShowFailure(e.Message);
    }
  });

  window.resize(820, 420);
  view->setColumnWidth(0, 70);
  view->setColumnWidth(1, 240);
  view->setColumnWidth(2, 100);
  view->setColumnWidth(3, 80);
  window.show();

  if (sortByName) sortBy(1);
  if (!startFilter.isEmpty()) filterBox->setText(startFilter);
  if (refuse)
    QTimer::singleShot(400, [&] { model.setData(model.index(0, 1), QString()); });
  if (quitAfter > 0)
    QTimer::singleShot(quitAfter, [&] {
      if (QMessageBox* box = ui.ActiveBox()) box->reject();
      QTimer::singleShot(0, &app, &QApplication::quit);
    });
  const int status = app.exec();
  ds.Close();
  TTxGlobalClient::Terminate();
  return status;
}
