// TxFbDset: the FML data set and the BLOB stream.
//
// TTxFbfrDSet shows one field group of an FML32 buffer as the rows of a
// table to the framework's data-aware controls. The buffer (a TTxFbfr) is
// not owned: the application assigns it while the data set is closed, and
// it must outlive the open data set. The columns come from the buffer's
// contract, not from its contents. The data set owns one cursor engine
// (TTxMti), which reads and writes the buffer's occurrences.
//
// Record buffers the framework gets from AllocRecordBuffer are laid out as
// the engine's record, the calculated-field area, the BLOB-cache area, an
// 8-byte record-information block (record number, update status, bookmark
// flag) and the 4-byte bookmark (the record's occurrence, so it survives
// changes of order).
//
// Changes: Post calls OnUpdateRecord, then OnRefreshRow (field validation
// is skipped while it runs), then writes the row into the buffer; an
// inserted row is always appended after the last occurrence. After a post
// the data set stands on the posted row wherever the order put it. Delete calls
// OnUpdateRecord, then removes the occurrence from every column. A handler
// that raises stops the change before the buffer is touched. A write that
// fails in the engine part way leaves the fields written before the failure
// changed.
//
// Memo, graphic and binary columns do not travel in the record buffer; the
// fields reach them through TTxBlobStream, which the data set creates on
// request (CreateBlobStream). A written BLOB stays open in its record buffer
// until the row is posted or cancelled.
//
// Locate reads the rows in the current order (and through the filter)
// without moving the data set, and moves once, to the row found: the scroll
// events fire once, not for every row looked at. Text keys of an unfiltered
// data set are compared straight from the buffer's key columns.
//
// Engine results other than success are raised as Exception "DbiError:
// DBIResult=%d (%s)"; the data set's own misuse raises EDatabaseError with
// the messages listed at each member.
#pragma once

#include <memory>
#include <vector>

#include "buffer/TxFbfr.h"
#include "dataset/TxMti.h"
#include "platform/framework/Db.h"
#include "platform/framework/Streams.h"

namespace Tx {

class TTxFbfrDSet;

// (DataSet, UpdateKind): called around every change written to the buffer.
using TTxUpdateRecordEvent = TClosure<void(TDataSet* DataSet, TUpdateKind UpdateKind)>;

class TTxFbfrDSet : public TDataSet {
 public:
  explicit TTxFbfrDSet(TComponent* AOwner);
  // Closes the data set; the engine goes with it, the buffer stays.
  ~TTxFbfrDSet() override;

  // ---- The buffer and what is shown of it ----
  // The buffer; Exception "TxFbfr not set." when none is assigned.
  virtual TTxFbfr* GetTxFbfr();
  // Only while closed (Exception "Otwarte połączenie ze starym buforem" otherwise).
  virtual void SetTxFbfr(TTxFbfr* Value);
  // The field group shown, -1 for all. EPropertyError "Dopuszczalne
  // wartości to -1,0,1,2,..." below -1; only while closed.
  int GetFldGroup() const noexcept { return FMti->GetTxFldGroup(); }
  void SetFldGroup(int Value);
  // EDatabaseError "Cannot perform this operation on an open dataset" while open.
  bool GetReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool Value);
  TTxMti* GetMti() const noexcept { return FMti.get(); }

  // ---- Order ----
  // The sort order: comma-separated field names, each after optional flags
  // ("\" descending, "^" case-sensitive, "%" word sort); empty for the
  // buffer's order. On an open data set the switch comes first and a
  // failing expression leaves IndexExpr and the shown order as they were.
  const AnsiString& GetIndexExpr() const noexcept { return FIndexExpr; }
  void SetIndexExpr(const AnsiString& Value);
  // Switches the engine to Expression, staying on the active row when it
  // can, and re-reads the rows shown; IndexExpr is left as it is.
  void SwitchToOrder(const AnsiString& Expression);

  // ---- Events ----
  TTxUpdateRecordEvent OnUpdateRecord;
  TTxUpdateRecordEvent OnRefreshRow;
  void DoOnUpdateRecord(TUpdateKind UpdateKind);
  // Runs OnRefreshRow with the in-refresh flag set (cleared also when it raises).
  void DoOnRefreshRow(TUpdateKind UpdateKind);

  // ---- Fields by name ----
  // As the framework's, with a quick path for a name written as the field's
  // own (the usual case when a program walks the rows).
  TField* FindField(const AnsiString& FieldName) const;
  TField* FieldByName(const AnsiString& FieldName) const;

  // ---- Fields by FML32 id ----
  // The first field (in field order) whose name is exactly the buffer's
  // name for Id, or nullptr.
  TField* FindFieldByTuxId(unsigned long Id);
  // As FindFieldByTuxId; Exception "Nie znaleziono w TxFbfrDSet pola <%ld %s>"
  // (the id and its field-table name) when there is none.
  TField* FieldByTuxId(unsigned long Id);
  // The FML32 id of the field's (definition's) name; 0 when the buffer has none.
  unsigned long TuxFldId(TField* Field);
  unsigned long TuxFldId(TFieldDef* FieldDef);
  // The field of the first column marked AssignSerial, or nullptr.
  TField* tuxFindAssignSerialField();

  // ---- Copying rows ----
  // Appends one occurrence per definition of Fbfr's contract that has a
  // field of the same name here: the current row's value (date-times as
  // "yyyy-mm-dd hh:nn:ss." text for a date-time definition).
  void AppendCurrentValues(TTxFbfr* Fbfr);
  // Sets the current row's fields from occurrence 0 of Fbfr's fields, by id.
  // The data set must be in an edit state.
  void RefreshCurrentValues(TTxFbfr* Fbfr);
  // Appends (AddRow) or edits the row found by the keys (UpdateRow) and
  // copies Source's active row into it, field by field of the same name,
  // then posts. False when Source is nullptr, either data set is closed,
  // Source has no row, or (UpdateRow) a key is not found in either.
  bool AddRow(TDataSet* Source);
  bool UpdateRow(TDataSet* Source, const AnsiString& KeyFields, const Variant& KeyValues);
  // Appends every row of Source as AddRow does; Source ends where it was.
  // Returns the number of rows added.
  int AddAllRows(TDataSet* Source);

  // ---- Filter ----
  void SetFiltered(bool Value) override;
  void SetOnFilterRecord(const TFilterRecordEvent& Value) override;
  void SetFilterHandle(int& Handle, int NewHandle);
  void ActivateFilters();
  void DeactivateFilters();
  // The engine's filter callback: OnFilterRecord with the record buffer as
  // the row its fields see; 1 accepts. A raising handler goes to the
  // application's exception handler and its Accept stands.
  short RecordFilter(void* RecBuf, int RecNo);

  // ---- Framework operations ----
  bool GetFieldData(TField* Field, void* Buffer) override;
  bool GetFieldData(int FieldNo, void* Buffer) override;
  bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat) override;
  // EDatabaseError "DataSet not in editing mode" outside the edit states,
  // "Ustawianie klucza nie jest możliwe" in the set-key state, "Field "%s"
  // is read-only" for a read-only field; Exception "Brak bufora aktywnego
  // rekordu" without a record. An empty text stores a blank field; a date
  // loses its time of day.
  void SetFieldData(TField* Field, void* Buffer) override;
  void SetFieldData(TField* Field, void* Buffer, bool NativeFormat) override;
  // A new TTxBlobStream on Field of the active row, owned by the caller.
  TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
  void CloseBlob(TField* Field) override;
  bool IsSequenced() override;
  // Moves to the row at position Value of the current order; nothing
  // happens outside 1..RecordCount or while filtered.
  void SetRecNo(int Value) override;
  bool BookmarkValid(TBookmark Bookmark) override;
  int CompareBookmarks(TBookmark Bookmark1, TBookmark Bookmark2) override;
  bool Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) override;
  // Locate without options; the data set stays on the row found. Null when none.
  Variant Lookup(const AnsiString& KeyFields, const Variant& KeyValues,
                 const AnsiString& ResultFields) override;

  // ---- BLOB cache: the data set keeps none ----
  virtual void ClearBlobCache(char* Buffer);
  AnsiString GetBlobData(TField* Field, char* Buffer);
  void SetBlobData(TField* Field, char* Buffer, const AnsiString& Value);

  // The record buffer the fields see in the current state (the active row,
  // the row being calculated or filtered); false when there is none.
  bool GetActiveRecBuf(char*& RecBuf);

 protected:
  void OpenCursor(bool InfoQuery) override;
  void CloseCursor() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  bool IsCursorOpen() override;
  void InternalHandleException() override;

  char* AllocRecordBuffer() override;
  void FreeRecordBuffer(char*& Buffer) override;
  unsigned short GetRecordSize() override;
  TGetResult GetRecord(char* Buffer, TGetMode GetMode, bool DoCheck) override;
  void InternalInitRecord(char* Buffer) override;
  void InitRecord(char* Buffer) override;
  void ClearCalcFields(char* Buffer) override;

  void InternalFirst() override;
  void InternalLast() override;
  void InternalGotoBookmark(void* Bookmark) override;
  void InternalSetToRecord(char* Buffer) override;
  void GetBookmarkData(char* Buffer, void* Data) override;
  void SetBookmarkData(char* Buffer, void* Data) override;
  TBookmarkFlag GetBookmarkFlag(char* Buffer) override;
  void SetBookmarkFlag(char* Buffer, TBookmarkFlag Value) override;
  int GetRecordCount() override;
  int GetRecNo() override;

  void InternalPost() override;
  void InternalDelete() override;
  void InternalAddRecord(void* Buffer, bool Append) override;
  bool GetCanModify() override;

  // Lays the framework record buffer out; GetProps re-reads the engine's sizes first.
  void InitBufferPointers(bool GetProps);

 private:
  friend class TTxBlobStream;
  struct TRecInfo;

  TRecInfo& RecInfo(char* Buffer) const noexcept;
  // The buffer when one is assigned, else nullptr (no exception).
  TTxFbfr* AssignedFbfr();
  TField* FieldNamedExactly(const AnsiString& FieldName) const noexcept;
  bool GetFieldDataByNumber(int FieldNo, void* Buffer);
  // Locate's scans: the position of the first matching row, or 0.
  int FindRowByText(const std::vector<TField*>& Fields, const Variant& KeyValues, TLocateOptions Options);
  int FindRowByFields(const std::vector<TField*>& Fields, const Variant& KeyValues, TLocateOptions Options);
  void CopyRowFrom(TDataSet* Source);

  unsigned char FSeqKind = 0;
  bool FCanModify = false;
  bool FReadOnly = false;
  bool FInRefresh = false;
  unsigned short FRecordSize = 0;
  int FBookmarkOffset = 0;
  int FRecInfoOffset = 0;
  int FBlobCacheOffset = 0;
  int FRecBufSize = 0;
  char* FFilterBuffer = nullptr;
  AnsiString FIndexExpr;
  int FFilterHandle = 0;
  std::unique_ptr<TTxMti> FMti;
  bool FNativeDateConversion = true;
  RECProps FRecProps;
  // Per field number, laid out when the buffer pointers are.
  struct TColumnInfo {
    TFieldType DataType;
    int DataArea;  // bytes of the engine slot's data
    int Size;      // the field definition's size
    int Offset;    // of the slot in the engine record
  };
  std::vector<TColumnInfo> FColumns;
  // The fields while open, for the quick name lookup.
  std::vector<TField*> FBoundFields;
};

// A stream over one BLOB field of the data set's active row. Reads and
// writes go to the engine's copy of the value, which the row's post writes
// into the buffer. Owned by whoever asked for it; it must not outlive the
// data set's record buffers (a scroll, post or cancel ends its use).
//
// Opening for bmWrite or bmReadWrite needs the data set in the edit or
// insert state and a field that is not read-only; bmWrite starts from an
// empty value. Those refusals ("Field "%s" is read-only", "DataSet not in
// editing mode", "Cannot access field "%s" in a filter") go to the
// application's exception handler, not to the caller.
class TTxBlobStream : public TStream {
 public:
  TTxBlobStream(TBlobField* Field, TBlobStreamMode Mode);
  // Marks the field modified after a write and tells the data set; closes
  // the engine's copy when the field was not modified.
  ~TTxBlobStream() override;

  void SetSize(int NewSize) override;
  void SetSize(std::int64_t NewSize) override;
  // Up to Count bytes from the position; 0 at or beyond the end.
  int Read(void* Buffer, int Count) override;
  // Count bytes at the position, growing the value as needed; Exception
  // "Pole BLOB krótsze niż zadana pozycja zapisu" beyond its end.
  int Write(const void* Buffer, int Count) override;
  // A position above the size becomes size - 1, one below 0 becomes 0.
  int Seek(int Offset, unsigned short Origin) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  // Cuts the value at the position.
  virtual void Truncate();
  int GetBlobSize();

 private:
  TTxFbfrDSet* FDataSet = nullptr;
  TBlobField* FField = nullptr;
  TBlobStreamMode FMode = bmRead;
  char* FBuffer = nullptr;
  int FPosition = 0;
  bool FOpened = false;
  bool FModified = false;
};

}  // namespace Tx

// The data sets bound to services belong to this unit too.
#include "dataset/TxServDset.h"
