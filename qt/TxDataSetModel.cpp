#include "qt/TxDataSetModel.h"

#include <algorithm>

#include "dataset/TxFbDset.h"

namespace Tx {

namespace {

// Pages kept at once: a screen of rows seldom spans more than two, the rest
// serve scrolling back and forth.
constexpr std::size_t kPagesKept = 16;

QString ToQt(const AnsiString& Text) {
  const std::string utf8 = AnsiToUtf8(Text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

AnsiString FromQt(const QString& Text) {
  const QByteArray utf8 = Text.toUtf8();
  return Utf8ToAnsi(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

bool IsNumeric(TFieldType Type) {
  switch (Type) {
    case ftSmallint: case ftInteger: case ftWord: case ftFloat: case ftCurrency:
    case ftBCD: case ftAutoInc: case ftLargeint: case ftFMTBcd:
      return true;
    default:
      return false;
  }
}

bool IsTextType(TFieldType Type) {
  return Type == ftString || Type == ftFixedChar || Type == ftWideString || Type == ftMemo ||
         Type == ftFmtMemo;
}

// Runs a restoring step even when the body raised.
template <class F>
class TFinally {
 public:
  explicit TFinally(F Step) : FStep(std::move(Step)) {}
  ~TFinally() { FStep(); }
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;

 private:
  F FStep;
};

// The framework's RecNo property is writable by anyone, but the data-access
// unit declares only its protected setter; this reaches it (virtually) the
// way the property would.
struct TRecNoAccess : TDataSet {
  using TDataSet::SetRecNo;
};

void SetRecNo(TDataSet& DataSet, int Value) { (DataSet.*&TRecNoAccess::SetRecNo)(Value); }

}  // namespace

// The model's view of the data set: every notification comes back to the model.
class TTxDataSetModel::TLink : public TDataLink {
 public:
  explicit TLink(TTxDataSetModel& Model) : FModel(Model) {}
  using TDataLink::ActiveRecord;
  using TDataLink::RecordCount;
  using TDataLink::SetActiveRecord;

 protected:
  void ActiveChanged() override { FModel.Rebuild(); }
  void LayoutChanged() override { FModel.Rebuild(); }
  void DataSetChanged() override { FModel.Follow(true); }
  void DataSetScrolled(int) override { FModel.Follow(false); }
  void EditingChanged() override { FModel.Follow(true); }
  void RecordChanged(TField* Field) override {
    if (Field)
      FModel.FieldChanged(Field);
    else
      FModel.Follow(true);
  }

 private:
  TTxDataSetModel& FModel;
};

TTxDataSetModel::TTxDataSetModel(TDataSet* DataSet, QObject* Parent)
    : QAbstractTableModel(Parent), FSource(std::make_unique<TDataSource>(nullptr)), FLink(std::make_unique<TLink>(*this)) {
  // Two records around the active one tell where an inserted record stands.
  FLink->SetBufferCount(3);
  FLink->SetDataSource(FSource.get());
  SetDataSet(DataSet);
}

TTxDataSetModel::~TTxDataSetModel() {
  FQuiet = true;
  FLink->SetDataSource(nullptr);
}

TDataSet* TTxDataSetModel::DataSet() const noexcept { return FSource->DataSet(); }

void TTxDataSetModel::SetDataSet(TDataSet* Value) {
  FSource->SetDataSet(Value);
  Rebuild();
}

void TTxDataSetModel::SetPageSize(int Value) {
  FPageSize = std::max(1, Value);
  DropPages();
}

TField* TTxDataSetModel::ColumnField(int Column) const {
  return Column >= 0 && Column < static_cast<int>(FColumns.size()) ? FColumns[static_cast<std::size_t>(Column)]
                                                                    : nullptr;
}

// ---- Following the data set ---------------------------------------------------------

void TTxDataSetModel::Rebuild() {
  if (FQuiet || FPaging) return;
  beginResetModel();
  FColumns.clear();
  DropPages();
  FInsertRow = -1;
  FEditRow = -1;
  FRowCount = 0;
  if (FLink->Active()) {
    TDataSet* dataSet = DataSet();
    for (int i = 0; i < dataSet->FieldCount(); ++i) {
      TField* field = dataSet->Fields()->Fields(i);
      if (field->Visible()) FColumns.push_back(field);
    }
    if (dataSet->State() == dsInsert) FInsertRow = InsertPosition();
    FRowCount = StoredCount() + (FInsertRow >= 0 ? 1 : 0);
    if (!dataSet->IsSequenced()) ScheduleRecount();
  }
  endResetModel();
}

// A data set that does not number its records (a filtered FML data set)
// counts only the records it has read so far. Once the notification is over,
// the model reads them all, so the count is whole, and resets when it grew.
void TTxDataSetModel::ScheduleRecount() {
  if (FRecountPending) return;
  FRecountPending = true;
  QMetaObject::invokeMethod(this, [this] { Recount(); }, Qt::QueuedConnection);
}

namespace {

// Runs Walk with the data set's controls disabled and Paging set, so the
// model ignores the moves it makes itself, then goes back to the record that
// was current. When that record is gone the data set stays where Walk left it.
template <class TWalk>
void WalkAndReturn(TDataSet* dataSet, bool& Paging, TWalk&& Walk) {
  Paging = true;
  dataSet->DisableControls();
  TBookmark mark = dataSet->GetBookmark();
  TFinally restore([&] {
    try {
      if (mark) {
        dataSet->GotoBookmark(mark);
        dataSet->FreeBookmark(mark);
      }
    } catch (const Exception&) {
    }
    dataSet->EnableControls();
    Paging = false;
  });
  Walk();
}

}  // namespace

void TTxDataSetModel::Recount() {
  FRecountPending = false;
  TDataSet* dataSet = DataSet();
  if (!FLink->Active() || dataSet->IsSequenced() || dataSet->State() != dsBrowse) return;
  WalkAndReturn(dataSet, FPaging, [&] {
    try {
      for (dataSet->First(); !dataSet->Eof();) dataSet->Next();
    } catch (const Exception& e) {
      FLastError = ToQt(e.Message);
    }
  });
  if (StoredCount() + (FInsertRow >= 0 ? 1 : 0) != FRowCount) Rebuild();
}

void TTxDataSetModel::Follow(bool DataChanged) {
  if (FQuiet || FPaging) return;
  if (!FLink->Active()) {
    if (FRowCount != 0 || !FColumns.empty()) Rebuild();
    return;
  }
  TDataSet* dataSet = DataSet();
  const TDataSetState state = dataSet->State();
  const bool inserting = state == dsInsert;
  const int stored = StoredCount();
  // The model's own moves change no value: the pages stay, so a row being
  // edited next has its neighbours to show.
  if (DataChanged && state == dsBrowse && !FOwnMove) DropPages();
  if (DataChanged && state == dsBrowse && !dataSet->IsSequenced()) ScheduleRecount();

  if (inserting && FInsertRow < 0 && stored == FRowCount) {
    const int row = InsertPosition();
    beginInsertRows(QModelIndex(), row, row);
    FInsertRow = row;
    FRowCount = stored + 1;
    endInsertRows();
    return;
  }
  if (!inserting && FInsertRow >= 0) {
    if (stored == FRowCount - 1) {  // cancelled: the row goes again
      const int row = FInsertRow;
      beginRemoveRows(QModelIndex(), row, row);
      FInsertRow = -1;
      FRowCount = stored;
      endRemoveRows();
      EmitAll();
      return;
    }
    if (stored == FRowCount) {  // posted: the record may have moved in the order
      FInsertRow = -1;
      EmitAll();
      return;
    }
  }
  const int wanted = stored + (FInsertRow >= 0 ? 1 : 0);
  if (wanted != FRowCount || (inserting && FInsertRow < 0)) {
    Rebuild();
    return;
  }
  if (state == dsEdit) {
    if (FEditRow < 0) FEditRow = FEditRowHint >= 0 ? FEditRowHint : ActiveRecordIndex();
  } else {
    FEditRow = -1;
  }
  if (DataChanged) EmitAll();
}

void TTxDataSetModel::FieldChanged(TField* Field) {
  if (FQuiet || FPaging) return;
  const int row = LiveRow();
  if (row < 0) {
    EmitAll();
    return;
  }
  const auto column = std::find(FColumns.begin(), FColumns.end(), Field);
  if (column == FColumns.end()) {
    EmitRows(row, row);  // a calculated or hidden field: repaint the whole row
    return;
  }
  const int c = static_cast<int>(column - FColumns.begin());
  emit dataChanged(index(row, c), index(row, c));
}

void TTxDataSetModel::EmitRows(int First, int Last) {
  if (FColumns.empty() || First > Last) return;
  emit dataChanged(index(First, 0), index(Last, static_cast<int>(FColumns.size()) - 1));
}

void TTxDataSetModel::EmitAll() {
  if (FRowCount > 0) EmitRows(0, FRowCount - 1);
  emit headerDataChanged(Qt::Vertical, 0, std::max(0, FRowCount - 1));
}

// ---- Where records are --------------------------------------------------------------

int TTxDataSetModel::StoredCount() const {
  TDataSet* dataSet = DataSet();
  if (!FLink->Active()) return 0;
  const int count = dataSet->RecordCount();
  return count >= 0 ? count : FLink->RecordCount();
}

// Whether records can be reached by number: a data set that does not number
// them (RecNo -1, or not sequenced now) is walked from the first record.
bool TTxDataSetModel::Sequenced() const {
  TDataSet* dataSet = DataSet();
  return dataSet->IsSequenced() && dataSet->RecNo() >= 0;
}

// The row whose values are read from the active record rather than a page.
int TTxDataSetModel::LiveRow() const {
  const TDataSetState state = DataSet() ? DataSet()->State() : dsInactive;
  if (state == dsInsert) return FInsertRow;
  if (state == dsEdit) return FEditRow >= 0 ? RowOfRecordIndex(FEditRow) : -1;
  return -1;
}

// Index (0-based) of the active record among the stored ones; -1 when the
// data set does not number its records.
int TTxDataSetModel::ActiveRecordIndex() const {
  TDataSet* dataSet = DataSet();
  if (!dataSet->IsSequenced()) return -1;
  const int recNo = dataSet->RecNo();
  return recNo > 0 ? recNo - 1 : -1;
}

// Where the record being inserted stands: before the record that follows
// it in the link's window, or after the one before it. A data set that does
// not number its records shows it last.
int TTxDataSetModel::InsertPosition() const {
  TDataSet* dataSet = DataSet();
  const int stored = StoredCount();
  if (!dataSet->IsSequenced()) return stored;
  const int active = FLink->ActiveRecord();
  auto recordAt = [&](int windowIndex) {
    FLink->SetActiveRecord(windowIndex);
    const int recNo = dataSet->RecNo();
    FLink->SetActiveRecord(active);
    return recNo;
  };
  if (active + 1 < FLink->RecordCount()) {
    const int next = recordAt(active + 1);
    if (next > 0) return std::min(next - 1, stored);
  }
  if (active > 0) {
    const int prior = recordAt(active - 1);
    if (prior > 0) return std::min(prior, stored);
  }
  return stored;
}

// Makes the record with index Record (0-based) the active one.
void TTxDataSetModel::MoveTo(int Record) {
  TDataSet* dataSet = DataSet();
  FOwnMove = true;
  TFinally moved([&] { FOwnMove = false; });
  if (Sequenced()) {
    if (dataSet->RecNo() != Record + 1) Tx::SetRecNo(*dataSet, Record + 1);
    return;
  }
  dataSet->First();
  dataSet->MoveBy(Record);
}

// ---- Pages ---------------------------------------------------------------------------

const TTxDataSetModel::TCell* TTxDataSetModel::CachedCell(int Record, int Column) const {
  for (const TPage& page : FPages) {
    const int offset = Record - page.First;
    if (offset >= 0 && offset < static_cast<int>(page.Rows.size()))
      return &page.Rows[static_cast<std::size_t>(offset)][static_cast<std::size_t>(Column)];
  }
  return nullptr;
}

TTxDataSetModel::TCell TTxDataSetModel::ReadCell(TField* Field) const {
  TCell cell;
  const TFieldType type = Field->DataType();
  if (type == ftGraphic) {
    const AnsiString bytes = Field->AsString();
    if (bytes.Length() > 0)
      cell.Picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), bytes.Length());
    return cell;
  }
  if (type == ftMemo || type == ftFmtMemo) {
    cell.Display = cell.Edit = ToQt(Field->AsString());
    return cell;
  }
  cell.Display = ToQt(Field->DisplayText());
  cell.Edit = ToQt(Field->Text());
  return cell;
}

// Reads the page holding Record, then puts the data set back on the record
// that was active. The model does not hear its own moves.
void TTxDataSetModel::LoadPage(int Record) const {
  TDataSet* dataSet = DataSet();
  auto* self = const_cast<TTxDataSetModel*>(this);
  TPage page;
  page.First = Record / FPageSize * FPageSize;
  WalkAndReturn(dataSet, FPaging, [&] {
    self->MoveTo(page.First);
    const int wanted = std::min(FPageSize, StoredCount() - page.First);
    while (static_cast<int>(page.Rows.size()) < wanted && !dataSet->IsEmpty()) {
      std::vector<TCell> row;
      row.reserve(FColumns.size());
      for (TField* field : FColumns) row.push_back(ReadCell(field));
      page.Rows.push_back(std::move(row));
      if (static_cast<int>(page.Rows.size()) < wanted && dataSet->MoveBy(1) == 0) break;
    }
  });
  ++FPagesRead;
  if (FPages.size() >= kPagesKept) FPages.erase(FPages.begin());
  FPages.push_back(std::move(page));
}

// ---- The model ----------------------------------------------------------------------

int TTxDataSetModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : FRowCount; }

int TTxDataSetModel::columnCount(const QModelIndex& Parent) const {
  return Parent.isValid() ? 0 : static_cast<int>(FColumns.size());
}

QVariant TTxDataSetModel::CellData(const TCell& Cell, TField* Field, int Role) const {
  switch (Role) {
    case Qt::DisplayRole:
      return Field->DataType() == ftGraphic ? QVariant() : QVariant(Cell.Display);
    case Qt::EditRole:
      return Field->DataType() == ftGraphic ? QVariant(Cell.Picture) : QVariant(Cell.Edit);
    case Qt::DecorationRole:
      return Cell.Picture.isNull() ? QVariant() : QVariant(Cell.Picture);
    default:
      return QVariant();
  }
}

QVariant TTxDataSetModel::data(const QModelIndex& Index, int Role) const {
  if (!Index.isValid() || FPaging || Index.row() >= FRowCount) return QVariant();
  TField* field = ColumnField(Index.column());
  if (!field) return QVariant();
  if (Role == Qt::TextAlignmentRole)
    return IsNumeric(field->DataType()) ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
  if (Role != Qt::DisplayRole && Role != Qt::EditRole && Role != Qt::DecorationRole) return QVariant();
  try {
    if (Index.row() == LiveRow()) return CellData(ReadCell(field), field, Role);
    if (Index.row() == FInsertRow) return QVariant();
    const int record = RecordIndexOfRow(Index.row());
    const TCell* cell = CachedCell(record, Index.column());
    if (!cell && DataSet()->State() == dsBrowse) {
      LoadPage(record);
      cell = CachedCell(record, Index.column());
    }
    return cell ? CellData(*cell, field, Role) : QVariant();
  } catch (const Exception& e) {
    // A record that cannot be read shows empty; the reason goes to LastError.
    const_cast<TTxDataSetModel*>(this)->FLastError = ToQt(e.Message);
    return QVariant();
  }
}

QVariant TTxDataSetModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
  if (Role != Qt::DisplayRole) return QVariant();
  if (Orientation == Qt::Vertical) {
    if (Section == FInsertRow) return QStringLiteral("*");
    return RecordIndexOfRow(Section) + 1;
  }
  TField* field = ColumnField(Section);
  return field ? QVariant(ToQt(field->DisplayName())) : QVariant();
}

Qt::ItemFlags TTxDataSetModel::flags(const QModelIndex& Index) const {
  Qt::ItemFlags flags = QAbstractTableModel::flags(Index);
  TField* field = ColumnField(Index.column());
  if (!field || !FLink->Active() || FLink->ReadOnly()) return flags;
  const bool editable = field->DataType() != ftGraphic && (!field->IsBlob() || IsTextType(field->DataType()));
  if (editable && field->CanModify()) flags |= Qt::ItemIsEditable;
  return flags;
}

bool TTxDataSetModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
  if (Role != Qt::EditRole || !Index.isValid() || Index.row() >= FRowCount) return false;
  TField* field = ColumnField(Index.column());
  if (!field || !FLink->Active()) return false;
  TDataSet* dataSet = DataSet();
  const int row = Index.row();
  bool startedEdit = false;
  try {
    if (row != LiveRow()) {
      if (dataSet->State() != dsBrowse && !submit()) return false;
      MoveTo(RecordIndexOfRow(row));
    }
    if (dataSet->State() == dsBrowse) {
      // Rows beside the edited one cannot be fetched while it is edited.
      if (!CachedCell(RecordIndexOfRow(row), 0)) LoadPage(RecordIndexOfRow(row));
      FEditRowHint = RecordIndexOfRow(row);
      TFinally clearHint([&] { FEditRowHint = -1; });
      dataSet->Edit();
      startedEdit = true;
    }
  } catch (const Exception& e) {
    return Refused(e);
  }
  try {
    const AnsiString text = FromQt(Value.toString());
    if (text.IsEmpty() && !IsTextType(field->DataType()))
      field->Clear();
    else
      field->SetText(text);
  } catch (const Exception& e) {
    if (startedEdit) dataSet->Cancel();
    return Refused(e);
  }
  if (dataSet->State() == dsInsert) return true;
  return submit();
}

bool TTxDataSetModel::submit() {
  TDataSet* dataSet = DataSet();
  if (!FLink->Active() || (dataSet->State() != dsEdit && dataSet->State() != dsInsert)) return true;
  try {
    // Views submit when their current row changes, also when it moves onto
    // a record just inserted: an untouched new record waits for its values
    // (moving off it later cancels it), an untouched edit ends quietly.
    if (!dataSet->Modified()) {
      if (dataSet->State() == dsEdit) dataSet->Cancel();
      return true;
    }
    dataSet->Post();
  } catch (const Exception& e) {
    return Refused(e);
  }
  return true;
}

bool TTxDataSetModel::MakeRowActive(int Row) {
  if (!FLink->Active() || Row < 0 || Row >= FRowCount) return false;
  if (Row == LiveRow()) return true;
  if (!submit()) return false;
  try {
    MoveTo(RecordIndexOfRow(Row));
  } catch (const Exception& e) {
    return Refused(e);
  }
  return true;
}

void TTxDataSetModel::revert() {
  if (FLink->Active()) DataSet()->Cancel();
}

void TTxDataSetModel::sort(int Column, Qt::SortOrder Order) {
  TField* field = ColumnField(Column);
  auto* fml = dynamic_cast<TTxFbfrDSet*>(DataSet());
  if (!field || !fml) return;
  const AnsiString expression = (Order == Qt::DescendingOrder ? AnsiString("\\") : AnsiString()) + field->FieldName();
  emit layoutAboutToBeChanged();
  FQuiet = true;
  try {
    TFinally loud([&] { FQuiet = false; });
    fml->SetIndexExpr(expression);
  } catch (const Exception& e) {
    Refused(e);
  }
  DropPages();
  FEditRow = -1;
  emit layoutChanged();
  EmitAll();
}

bool TTxDataSetModel::Refused(const Exception& E) {
  FLastError = ToQt(E.Message);
  emit errorOccurred(FLastError);
  return false;
}

}  // namespace Tx
