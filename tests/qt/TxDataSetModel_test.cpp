// The Qt table model over data sets: what views see (rows, columns, values,
// headers), how it follows changes made on the data set, edits through
// setData and their refusals, paging over a large table, sorting an FML data
// set, and the Qt dialog seam.
#include <fml32.h>

#include <QBuffer>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "dataset/TxFbDset.h"
#include "platform/framework/db_test_support.h"
#include "qt/TxDataSetModel.h"
#include "qt/TxQtDialogs.h"

using namespace Tx;
using DbTest::TMemDataSet;

namespace {

QString Utf8(const char* text) { return QString::fromUtf8(text); }

QByteArray PngBytes(int width, int height) {
  QImage image(width, height, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer out(&bytes);
  out.open(QIODevice::WriteOnly);
  image.save(&out, "PNG");
  return bytes;
}

// Three customers with a memo and a picture; labels and names in Polish.
std::unique_ptr<TMemDataSet> Customers() {
  auto ds = std::make_unique<TMemDataSet>(
      nullptr, std::vector<DbTest::TColumn>{{"ID", ftInteger}, {"NAME", ftString, 30}, {"BALANCE", ftFloat},
                                            {"NOTE", ftMemo}, {"PHOTO", ftGraphic}});
  const QByteArray png = PngBytes(3, 2);
  ds->AddRow({1, Variant(Utf8ToAnsi("Łukasz Żółć")), 12.5, Variant(Utf8ToAnsi("stały klient")),
              Variant(AnsiString(png.constData(), static_cast<int>(png.size())))});
  ds->AddRow({2, Variant(Utf8ToAnsi("Anna Nowak")), -3.0, Null(), Null()});
  ds->AddRow({3, Variant(Utf8ToAnsi("Zenon Śliwa")), 0.0, Null(), Null()});
  return ds;
}

QString Cell(const QAbstractItemModel& model, int row, int column, int role = Qt::DisplayRole) {
  return model.data(model.index(row, column), role).toString();
}

QStringList Column(const QAbstractItemModel& model, int column) {
  QStringList values;
  for (int row = 0; row < model.rowCount(); ++row) values << Cell(model, row, column);
  return values;
}

void GoTo(TDataSet& ds, int recNo) {
  ds.First();
  ds.MoveBy(recNo - 1);
}

}  // namespace

class TxDataSetModelTest : public QObject {
  Q_OBJECT

 private slots:
  void ShowsFieldsRecordsAndHeaders();
  void FollowsChangesMadeOnTheDataSet();
  void EditsThroughTheFieldsAndReportsRefusals();
  void ReadsOnlyThePagesShown();
  void SortsAnFmlDataSetByTheClickedColumn();
  void ShowsLibraryDialogsAsMessageBoxes();
};

void TxDataSetModelTest::ShowsFieldsRecordsAndHeaders() {
  auto ds = Customers();
  TTxDataSetModel model(ds.get());
  QCOMPARE(model.rowCount(), 0);
  QCOMPARE(model.columnCount(), 0);

  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  ds->Open();
  ds->FieldByName("NAME")->SetDisplayLabel(Utf8ToAnsi("Nazwisko i imię"));
  QCOMPARE(reset.count(), 1);
  QCOMPARE(model.rowCount(), 3);
  QCOMPARE(model.columnCount(), 5);

  QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), Utf8("Nazwisko i imię"));
  QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), Utf8("BALANCE"));
  QCOMPARE(model.headerData(2, Qt::Vertical).toInt(), 3);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Łukasz Żółć"), Utf8("Anna Nowak"), Utf8("Zenon Śliwa")}));
  QCOMPARE(Cell(model, 0, 2), Utf8("12.5"));
  QCOMPARE(model.data(model.index(0, 2), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
  QVERIFY(!model.data(model.index(0, 1), Qt::TextAlignmentRole).isValid());

  // Memos as their text, pictures as images with no text, empty ones as nothing.
  QCOMPARE(Cell(model, 0, 3), Utf8("stały klient"));
  QCOMPARE(Cell(model, 1, 3), QString());
  QVERIFY(!model.data(model.index(0, 4)).isValid());
  const QImage photo = model.data(model.index(0, 4), Qt::DecorationRole).value<QImage>();
  QCOMPARE(photo.size(), QSize(3, 2));
  QCOMPARE(photo.pixelColor(1, 1), QColor(Qt::red));
  QVERIFY(!model.data(model.index(1, 4), Qt::DecorationRole).isValid());
  QVERIFY(model.flags(model.index(0, 3)) & Qt::ItemIsEditable);
  QVERIFY(!(model.flags(model.index(0, 4)) & Qt::ItemIsEditable));

  // Out of range asks get nothing rather than a crash.
  QVERIFY(!model.data(model.index(3, 0)).isValid());
  QVERIFY(!model.data(model.index(0, 9)).isValid());

  ds->FieldByName("ID")->SetReadOnly(true);
  QVERIFY(!(model.flags(model.index(0, 0)) & Qt::ItemIsEditable));
  ds->ReadOnlySet = true;
  QVERIFY(!(model.flags(model.index(0, 1)) & Qt::ItemIsEditable));

  ds->Close();
  QCOMPARE(reset.count(), 2);
  QCOMPARE(model.rowCount(), 0);
  QCOMPARE(model.columnCount(), 0);
}

void TxDataSetModelTest::FollowsChangesMadeOnTheDataSet() {
  auto ds = Customers();
  ds->Open();
  TTxDataSetModel model(ds.get());
  QCOMPARE(Column(model, 1).size(), 3);
  QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

  // An edit made by the program shows while it is typed, and after the post.
  GoTo(*ds, 2);
  ds->Edit();
  changed.clear();
  ds->FieldByName("NAME")->SetAsString(Utf8ToAnsi("Anna Wiśniewska"));
  QCOMPARE(changed.count(), 1);
  QCOMPARE(changed[0][0].toModelIndex(), model.index(1, 1));
  QCOMPARE(changed[0][1].toModelIndex(), model.index(1, 1));
  QCOMPARE(Cell(model, 1, 1), Utf8("Anna Wiśniewska"));
  ds->Post();
  QCOMPARE(Cell(model, 1, 1), Utf8("Anna Wiśniewska"));
  ds->Edit();
  ds->FieldByName("NAME")->SetAsString("X");
  ds->Cancel();
  QCOMPARE(Cell(model, 1, 1), Utf8("Anna Wiśniewska"));

  // Insert before the second record: a row appears there, the others move down.
  ds->Insert();
  QCOMPARE(inserted.count(), 1);
  QCOMPARE(inserted[0][1].toInt(), 1);
  QCOMPARE(model.rowCount(), 4);
  QCOMPARE(model.headerData(1, Qt::Vertical).toString(), QString("*"));
  ds->FieldByName("ID")->SetAsInteger(7);
  ds->FieldByName("NAME")->SetAsString(Utf8ToAnsi("Ewa Kałuża"));
  QCOMPARE(Cell(model, 1, 1), Utf8("Ewa Kałuża"));
  QCOMPARE(Cell(model, 2, 1), Utf8("Anna Wiśniewska"));
  ds->Cancel();
  QCOMPARE(removed.count(), 1);
  QCOMPARE(removed[0][1].toInt(), 1);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Łukasz Żółć"), Utf8("Anna Wiśniewska"), Utf8("Zenon Śliwa")}));

  // Append and post: the row stays, now read from the stored record.
  ds->Append();
  QCOMPARE(inserted.count(), 2);
  QCOMPARE(inserted[1][1].toInt(), 3);
  ds->FieldByName("ID")->SetAsInteger(8);
  ds->FieldByName("NAME")->SetAsString(Utf8ToAnsi("Ósemka"));
  ds->Post();
  QCOMPARE(model.rowCount(), 4);
  QCOMPARE(Cell(model, 3, 1), Utf8("Ósemka"));
  QCOMPARE(model.headerData(3, Qt::Vertical).toInt(), 4);

  // Deletes and refreshes that change the count reset the model.
  GoTo(*ds, 1);
  ds->Delete();
  QCOMPARE(reset.count(), 1);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Anna Wiśniewska"), Utf8("Zenon Śliwa"), Utf8("Ósemka")}));
  ds->AddRow({9, Variant(AnsiString("Dopisany")), 1.0, Null(), Null()});
  ds->Refresh();
  QCOMPARE(reset.count(), 2);
  QCOMPARE(model.rowCount(), 4);
  QCOMPARE(Cell(model, 3, 1), Utf8("Dopisany"));

  // A model made for a data set in the middle of an insert shows the new row.
  ds->Append();
  TTxDataSetModel late(ds.get());
  QCOMPARE(late.rowCount(), 5);
  QCOMPARE(late.headerData(4, Qt::Vertical).toString(), QString("*"));
  ds->Cancel();
  QCOMPARE(late.rowCount(), 4);

  // The data set may go first: the models then show nothing.
  ds.reset();
  QCOMPARE(late.rowCount(), 0);
  QCOMPARE(model.columnCount(), 0);
  QVERIFY(!model.data(model.index(0, 0)).isValid());
  QVERIFY(!model.setData(model.index(0, 1), QString("x")));
}

void TxDataSetModelTest::EditsThroughTheFieldsAndReportsRefusals() {
  auto ds = Customers();
  ds->Open();
  TTxDataSetModel model(ds.get());
  QSignalSpy errors(&model, &TTxDataSetModel::errorOccurred);

  // A good value: the model moves to the row, edits, posts.
  QVERIFY(model.setData(model.index(2, 1), Utf8("Zenon Śliwiński")));
  QCOMPARE(ds->State(), dsBrowse);
  QCOMPARE(ds->RecNo(), 3);
  QCOMPARE(ds->Rows()[2][1].AsString(), Utf8ToAnsi("Zenon Śliwiński"));
  QCOMPARE(Cell(model, 2, 1), Utf8("Zenon Śliwiński"));
  QVERIFY(model.setData(model.index(0, 2), QString("7.25")));
  QCOMPARE(ds->Rows()[0][2].AsDouble(), 7.25);
  QVERIFY(model.setData(model.index(1, 3), Utf8("notatka: źle wpisany NIP")));
  QCOMPARE(Cell(model, 1, 3), Utf8("notatka: źle wpisany NIP"));
  QVERIFY(model.setData(model.index(0, 2), QString()));
  QVERIFY(ds->Rows()[0][2].IsNull());
  QCOMPARE(errors.count(), 0);

  // A value the field refuses: nothing changes, the edit the model began is cancelled.
  QVERIFY(!model.setData(model.index(1, 0), QString("abc")));
  QCOMPARE(model.LastError(), QString("'abc' is not a valid integer value for field 'ID'"));
  QCOMPARE(errors.count(), 1);
  QCOMPARE(ds->State(), dsBrowse);
  QCOMPARE(Cell(model, 1, 0), QString("2"));

  // A refused post: its Polish message in UTF-8, the row still in edit with the new value.
  ds->PostFailures.push_back(Utf8ToAnsi("Klient jest zablokowany przez innego użytkownika"));
  QVERIFY(!model.setData(model.index(1, 1), Utf8("Anna Łęcka")));
  QCOMPARE(model.LastError(), Utf8("Klient jest zablokowany przez innego użytkownika"));
  QCOMPARE(errors.last()[0].toString(), model.LastError());
  QCOMPARE(ds->State(), dsEdit);
  QCOMPARE(Cell(model, 1, 1), Utf8("Anna Łęcka"));
  QCOMPARE(ds->Rows()[1][1].AsString(), AnsiString("Anna Nowak"));
  // Correcting it on the same row posts.
  QVERIFY(model.setData(model.index(1, 1), Utf8("Anna Łęcka-Nowak")));
  QCOMPARE(ds->State(), dsBrowse);
  QCOMPARE(ds->Rows()[1][1].AsString(), Utf8ToAnsi("Anna Łęcka-Nowak"));

  // Refused again, then reverted: the stored value comes back.
  ds->PostFailures.push_back("!Brak połączenia"_ansi);
  QVERIFY(!model.setData(model.index(1, 1), QString("Nikt")));
  QCOMPARE(model.LastError(), Utf8("Brak połączenia"));
  model.revert();
  QCOMPARE(ds->State(), dsBrowse);
  QCOMPARE(Cell(model, 1, 1), Utf8("Anna Łęcka-Nowak"));

  // An inserted row takes values and posts on submit; a refusal there keeps it.
  ds->Append();
  const int posted = ds->PostsStored;
  QVERIFY(model.submit());  // a view arriving on the new row: nothing to post yet
  QCOMPARE(ds->State(), dsInsert);
  QCOMPARE(ds->PostsStored, posted);
  QVERIFY(model.setData(model.index(3, 0), QString("4")));
  QVERIFY(model.setData(model.index(3, 1), Utf8("Świeży")));
  QCOMPARE(ds->State(), dsInsert);
  ds->PostFailures.push_back(Utf8ToAnsi("Nazwa już istnieje"));
  QVERIFY(!model.submit());
  QCOMPARE(model.LastError(), Utf8("Nazwa już istnieje"));
  QCOMPARE(model.rowCount(), 4);
  QVERIFY(model.submit());
  QCOMPARE(ds->Rows().size(), std::size_t(4));
  QCOMPARE(Cell(model, 3, 1), Utf8("Świeży"));

  // A read-only data set refuses with the framework's text.
  ds->ReadOnlySet = true;
  QVERIFY(!model.setData(model.index(0, 1), QString("x")));
  QCOMPARE(model.LastError(), QString("Cannot modify a read-only dataset"));
}

void TxDataSetModelTest::ReadsOnlyThePagesShown() {
  TMemDataSet ds(nullptr, {{"ID", ftInteger}, {"NAME", ftString, 20}});
  constexpr int kRows = 100000;
  for (int i = 1; i <= kRows; ++i) ds.AddRow({i, Variant(AnsiString(("row " + std::to_string(i)).c_str()))});
  ds.Open();
  TTxDataSetModel model(&ds);
  model.SetPageSize(50);
  QCOMPARE(model.rowCount(), kRows);
  QCOMPARE(model.PagesRead(), 0);

  GoTo(ds, 10);
  int scrolls = 0;
  struct TCounter {
    int* Count;
    void Fire(TDataSet*) { ++*Count; }
  } counter{&scrolls};
  ds.AfterScroll = TDataSetNotifyEvent(&counter, &TCounter::Fire);

  QCOMPARE(Cell(model, 99999, 1), QString("row 100000"));
  QCOMPARE(Cell(model, 99950, 0), QString("99951"));
  QCOMPARE(model.PagesRead(), 1);
  for (int row = 50000; row < 50030; ++row) QCOMPARE(Cell(model, row, 0), QString::number(row + 1));
  QCOMPARE(model.PagesRead(), 2);
  QCOMPARE(ds.RecNo(), 10);  // the user's record stays active
  QVERIFY(scrolls > 0);

  // A change drops the pages; the next look reads again.
  ds.Edit();
  ds.FieldByName("NAME")->SetAsString("changed");
  ds.Post();
  QCOMPARE(Cell(model, 9, 1), QString("changed"));
  QCOMPARE(model.PagesRead(), 3);

  // While a refused post keeps a far record in edit, the rows beside it still show.
  ds.PostFailures.push_back("Zapis odrzucony"_ansi);
  QVERIFY(!model.setData(model.index(70001, 1), QString("x")));
  QCOMPARE(ds.State(), dsEdit);
  QCOMPARE(Cell(model, 70001, 1), QString("x"));
  QCOMPARE(Cell(model, 70002, 1), QString("row 70003"));
  QCOMPARE(Cell(model, 69999, 1), QString());  // another page: not fetched during the edit
  model.revert();
  QCOMPARE(Cell(model, 70001, 1), QString("row 70002"));
}

namespace {

// An FML data set over a buffer of customers.
struct TFmlCustomers {
  const FLDID32 Id = Fmkfldid32(FLD_LONG, 701), Name = Fmkfldid32(FLD_STRING, 702);
  TTxFbfrDef Contract{nullptr};
  TTxFbfr Buffer{nullptr, 4096};
  TTxFbfrDSet DataSet{nullptr};

  TFmlCustomers(std::initializer_list<const char*> names) {
    Buffer.Contract = &Contract;
    Contract.AddFldDef(Id)->SetTxFldName("ID");
    TTxFbfrFldDef* nameDef = Contract.AddFldDef(Name);
    nameDef->SetTxFldName("NAME");
    nameDef->SetMaxSize(30);
    int id = 0;
    for (const char* name : names) {
      Buffer.AppendOcc(Id, Variant(++id));
      Buffer.AppendOcc(Name, Variant(Utf8ToAnsi(name)));
    }
    DataSet.SetTxFbfr(&Buffer);
    DataSet.Open();
  }
};

struct TRefusal {
  void Refuse(TDataSet*, TUpdateKind) { throw Exception(Utf8ToAnsi("Odmowa: saldo ujemne")); }
};

}  // namespace

void TxDataSetModelTest::SortsAnFmlDataSetByTheClickedColumn() {
  TTxGlobalClient::SetTranslateType(txttWindows);
  TFmlCustomers fml({"Łukasz", "Lucyna", "Żaneta", "Zbigniew", "Adam"});
  TTxDataSetModel model(&fml.DataSet);
  QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Łukasz"), Utf8("Lucyna"), Utf8("Żaneta"), Utf8("Zbigniew"), Utf8("Adam")}));

  model.sort(1, Qt::AscendingOrder);
  QCOMPARE(fml.DataSet.GetIndexExpr(), AnsiString("NAME"));
  QCOMPARE(layout.count(), 1);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Adam"), Utf8("Lucyna"), Utf8("Łukasz"), Utf8("Zbigniew"), Utf8("Żaneta")}));
  model.sort(1, Qt::DescendingOrder);
  QCOMPARE(fml.DataSet.GetIndexExpr(), AnsiString("\\NAME"));
  QCOMPARE(Column(model, 1), QStringList({Utf8("Żaneta"), Utf8("Zbigniew"), Utf8("Łukasz"), Utf8("Lucyna"), Utf8("Adam")}));
  QCOMPARE(Column(model, 0), QStringList({"3", "4", "1", "2", "5"}));

  // Filtered, the data set no longer numbers its rows: the model walks to them.
  struct TContains {
    AnsiString Text;
    void Accept(TDataSet* ds, bool& accept) { accept = ds->FieldByName("NAME")->AsString().UpperCase().Pos(Text) > 0; }
  } contains{"U"};
  fml.DataSet.SetOnFilterRecord(TFilterRecordEvent(&contains, &TContains::Accept));
  fml.DataSet.SetFiltered(true);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Łukasz"), Utf8("Lucyna")}));
  QCOMPARE(Column(model, 0), QStringList({"1", "2"}));
  // A filtered data set counts the records it has read; the model reads on to the end.
  contains.Text = "A";
  fml.DataSet.SetFiltered(false);
  fml.DataSet.SetFiltered(true);
  QTRY_COMPARE(model.rowCount(), 4);
  QCOMPARE(Column(model, 1), QStringList({Utf8("Żaneta"), Utf8("Łukasz"), Utf8("Lucyna"), Utf8("Adam")}));
  fml.DataSet.SetFiltered(false);
  QCOMPARE(model.rowCount(), 5);

  // An edit under the order: the row moves to its place.
  QVERIFY(model.setData(model.index(4, 1), Utf8("Żywia")));
  QCOMPARE(Column(model, 1), QStringList({Utf8("Żywia"), Utf8("Żaneta"), Utf8("Zbigniew"), Utf8("Łukasz"), Utf8("Lucyna")}));

  // A refused write from the data set's update handler: the Polish text, still editing.
  TRefusal refusal;
  fml.DataSet.OnUpdateRecord = TTxUpdateRecordEvent(&refusal, &TRefusal::Refuse);
  QVERIFY(!model.setData(model.index(1, 1), Utf8("Beata")));
  QCOMPARE(model.LastError(), Utf8("Odmowa: saldo ujemne"));
  QCOMPARE(fml.DataSet.State(), dsEdit);
  model.revert();
  QCOMPARE(Cell(model, 1, 1), Utf8("Żaneta"));
}

void TxDataSetModelTest::ShowsLibraryDialogsAsMessageBoxes() {
  TQtUserInterface ui;
  TUserInterfaceScope scope(ui);
  QString shownText, shownTitle;
  QStringList buttons;
  QTimer::singleShot(0, [&] {
    QMessageBox* box = ui.ActiveBox();
    QVERIFY(box);
    shownText = box->text();
    shownTitle = box->windowTitle();
    for (QAbstractButton* button : box->buttons()) buttons << button->text();
    QCOMPARE(box->defaultButton()->text(), QString("No"));
    for (QAbstractButton* button : box->buttons())
      if (button->text() == "Yes") button->click();
  });
  const int answer = MessageBoxA(nullptr, Utf8ToAnsi("Usunąć klienta Żółć?").c_str(), Utf8ToAnsi("Pytanie").c_str(),
                                 MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
  QCOMPARE(answer, IDYES);
  QCOMPARE(shownText, Utf8("Usunąć klienta Żółć?"));
  QCOMPARE(shownTitle, Utf8("Pytanie"));
  buttons.sort();
  QCOMPARE(buttons, QStringList({"No", "Yes"}));

  // Closing a box without a button answers Cancel where there is one.
  QTimer::singleShot(0, [&] { ui.ActiveBox()->reject(); });
  QCOMPARE(MessageBoxA(nullptr, "x", "y", MB_OKCANCEL), IDCANCEL);
}

QTEST_MAIN(TxDataSetModelTest)
#include "TxDataSetModel_test.moc"
