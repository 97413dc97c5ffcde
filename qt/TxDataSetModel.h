// A Qt table model over any txlib data set.
//
// TTxDataSetModel shows the visible fields of a TDataSet as columns and its
// records as rows, and follows the data set through a TDataLink: opening
// and closing reset the model; an insert adds a row where the new record
// stands (removed again by Cancel); deletes, filters and refreshes that
// change the number of records reset it; field changes, posts and cancels
// repaint the rows concerned; sort() reports a layout change. Changes made by the program directly on the
// data set show at once in every view of the model.
//
// Reading. Rows are fetched a page at a time (PageSize records, 64 by
// default) and only when a view asks for them: the model moves the data
// set's cursor to the page (SetRecNo on a data set that numbers its
// records, First and MoveBy on one that does not, e.g. a filtered FML data
// set), reads the page's cells and goes back to the record that was active.
// Controls are disabled meanwhile, so other data links see nothing, but the
// data set's BeforeScroll and AfterScroll run for each step. Only the pages
// shown are kept (at most 16); any change in the data set drops them. While a record is
// being edited or inserted the data set cannot move, so the edited row is
// read live (when the data set numbers its records or the edit began in
// setData) and other rows come from the pages already kept (rows not yet
// fetched show empty until the edit ends). A data set that counts only the
// records it has read (a filtered FML data set) is read to its end once
// after each change, from the event loop, and the model resets when the
// count grew.
//
// Writing. setData makes the row's record the active one, runs Edit,
// assigns the text (SetText: the field's own parsing and validation; an
// empty text clears a non-string field) and Posts. A value the field
// refuses cancels the edit the model started and changes nothing; a post
// the data set refuses leaves the record in the edit state with the new
// value, so the user can correct it or revert(). A row being inserted only
// takes the value; submit() (called by views when the current row changes)
// posts it once it holds a value. Every refusal returns false and emits
// errorOccurred with the exception's message in UTF-8 (LastError keeps it).
//
// Sorting. sort() on an FML data set sets its index expression to the
// column's field name, with "\" in front for a descending order; other data
// sets keep their order. Memo fields show their text; graphic fields show
// their picture (DecorationRole, decoded by Qt's image readers) and no text.
//
// Texts cross here from Windows-1250 to UTF-8 and back; nothing else in the
// library sees UTF-8. The model does not own the data set; the data set may
// be destroyed first (the model then shows nothing).
#pragma once

#include <QAbstractTableModel>
#include <QImage>
#include <QString>
#include <memory>
#include <vector>

#include "platform/framework/Db.h"

namespace Tx {

class TTxDataSetModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit TTxDataSetModel(TDataSet* DataSet, QObject* Parent = nullptr);
  ~TTxDataSetModel() override;

  TDataSet* DataSet() const noexcept;
  // Follows another data set (nullptr: none); the model resets.
  void SetDataSet(TDataSet* Value);
  // Records fetched per page (at least 1); drops the pages kept.
  int PageSize() const noexcept { return FPageSize; }
  void SetPageSize(int Value);
  // The field shown in Column, nullptr outside the columns.
  TField* ColumnField(int Column) const;
  // Makes Row's record the data set's active one (posting a pending edit
  // first), e.g. before the program deletes it; false (and errorOccurred)
  // when the post or the move is refused.
  bool MakeRowActive(int Row);
  // The message of the last refused change or order, in UTF-8.
  const QString& LastError() const noexcept { return FLastError; }
  // How many pages were read since the model was made (for the tests and
  // for tuning PageSize).
  int PagesRead() const noexcept { return FPagesRead; }

  // QAbstractTableModel
  int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
  QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& Index) const override;
  bool setData(const QModelIndex& Index, const QVariant& Value, int Role = Qt::EditRole) override;
  void sort(int Column, Qt::SortOrder Order = Qt::AscendingOrder) override;

 public slots:
  // Posts a pending edit or insert that has changed values; false (and
  // errorOccurred) when refused. An unchanged edit is cancelled, an
  // unchanged insert left waiting.
  bool submit() override;
  // Cancels a pending edit or insert.
  void revert() override;

 signals:
  void errorOccurred(const QString& Message);

 private:
  class TLink;
  friend class TLink;

  struct TCell {
    QString Display;
    QString Edit;
    QImage Picture;
  };
  struct TPage {
    int First = 0;  // record index of the first row
    std::vector<std::vector<TCell>> Rows;
  };

  // Notifications from the link.
  void Follow(bool DataChanged);
  void FieldChanged(TField* Field);
  void Rebuild();
  void ScheduleRecount();
  void Recount();

  int StoredCount() const;
  bool Sequenced() const;
  int RecordIndexOfRow(int Row) const { return FInsertRow >= 0 && Row > FInsertRow ? Row - 1 : Row; }
  int RowOfRecordIndex(int Record) const { return FInsertRow >= 0 && Record >= FInsertRow ? Record + 1 : Record; }
  int LiveRow() const;
  int ActiveRecordIndex() const;
  int InsertPosition() const;
  void MoveTo(int Record);
  const TCell* CachedCell(int Record, int Column) const;
  void LoadPage(int Record) const;
  TCell ReadCell(TField* Field) const;
  QVariant CellData(const TCell& Cell, TField* Field, int Role) const;
  void EmitRows(int First, int Last);
  void EmitAll();
  void DropPages() const { FPages.clear(); }
  bool Refused(const Exception& E);

  std::unique_ptr<TDataSource> FSource;
  std::unique_ptr<TLink> FLink;
  std::vector<TField*> FColumns;
  mutable std::vector<TPage> FPages;
  mutable bool FPaging = false;
  mutable int FPagesRead = 0;
  int FPageSize = 64;
  int FRowCount = 0;
  int FInsertRow = -1;
  int FEditRow = -1;
  int FEditRowHint = -1;
  bool FQuiet = false;
  bool FOwnMove = false;
  bool FRecountPending = false;
  QString FLastError;
};

}  // namespace Tx
