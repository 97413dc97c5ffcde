// A small in-memory data set for the data-access tests: rows of variants,
// record buffers laid out as a descendant would lay them out, a filter
// through OnFilterRecord, BLOB fields through a stream, and switches that
// make posting or opening fail.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/framework/Db.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Streams.h"

namespace DbTest {

using namespace Tx;

struct TColumn {
  const char* Name;
  TFieldType Type;
  int Size = 0;
  bool Required = false;
};

class TMemDataSet : public TDataSet {
 public:
  using TRow = std::vector<Variant>;

  TMemDataSet(TComponent* Owner, std::vector<TColumn> Columns)
      : TDataSet(Owner), FColumns(std::move(Columns)) {}
  ~TMemDataSet() override {
    Destroying();
    Close();
  }

  void AddRow(TRow Row) {
    FRows.push_back(std::move(Row));
    FIds.push_back(++FLastId);
  }
  const std::vector<TRow>& Rows() const { return FRows; }

  bool ReadOnlySet = false;
  // Raised by the next posts (one per entry, then posts succeed): a
  // database error, or a plain Exception for a text starting with '!'.
  std::deque<AnsiString> PostFailures;
  std::deque<AnsiString> EditFailures;  // the same for Edit
  int PostsStored = 0;
  int BlobsClosed = 0;
  bool FailOpen = false;

  // TDataSet
  TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode) override;
  bool GetFieldData(TField* Field, void* Buffer) override;
  using TDataSet::GetFieldData;
  void SetFieldData(TField* Field, void* Buffer) override;
  using TDataSet::SetFieldData;
  void CloseBlob(TField* Field) override {
    ++BlobsClosed;
    std::string*& cache = BlobCache(ActiveBuffer(), Field);
    delete cache;
    cache = nullptr;
  }
  bool BookmarkValid(TBookmark Bookmark) override { return Bookmark && IndexOfId(IdOf(Bookmark)) >= 0; }
  int CompareBookmarks(TBookmark A, TBookmark B) override {
    const int a = A ? IndexOfId(IdOf(A)) : -1;
    const int b = B ? IndexOfId(IdOf(B)) : -1;
    return a < b ? -1 : (a > b ? 1 : 0);
  }

  // The record buffer the fields see in the current state.
  char* GetActiveRecBuf() const {
    switch (State()) {
      case dsBrowse:
        return IsEmpty() ? nullptr : ActiveBuffer();
      case dsEdit:
      case dsInsert:
        return ActiveBuffer();
      case dsCalcFields:
        return CalcBuffer();
      case dsFilter:
        return FFilterBuffer;
      default:
        return nullptr;
    }
  }
  // Leaves the cursor behind the last record, as if it had been moved there.
  void MoveCursorPastEnd() { FCurrent = static_cast<int>(FRows.size()); }
  // Exposed for the tests of the buffer ring.
  using TDataSet::ActiveRecordIndex;
  using TDataSet::BufferedRecordCount;

 protected:
  void InternalOpen() override {
    if (FailOpen) DatabaseError("Storage unavailable", this);
    FOpen = true;
    FieldDefs()->SetUpdated(false);
    FieldDefs()->Update();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    SetBookmarkSize(sizeof(int));
    FRecordSize = 0;
    FSlotOffsets.clear();
    for (const TColumn& column : FColumns) {
      FSlotOffsets.push_back(FRecordSize);
      FRecordSize += 1 + SlotDataSize(column);
    }
    constexpr int pointerAlign = alignof(std::string*);
    FBlobCacheOffset = (FRecordSize + CalcFieldsSize() + pointerAlign - 1) / pointerAlign * pointerAlign;
    FInfoOffset = FBlobCacheOffset + BlobFieldCount() * static_cast<int>(sizeof(std::string*));
    FBufferSize = FInfoOffset + static_cast<int>(sizeof(int)) + 1;
    FCurrent = -1;
  }
  void InternalClose() override {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
    FOpen = false;
  }
  void InternalInitFieldDefs() override {
    FieldDefs()->Clear();
    for (const TColumn& column : FColumns) FieldDefs()->Add(column.Name, column.Type, column.Size, column.Required);
  }
  bool IsCursorOpen() override { return FOpen; }
  void InternalHandleException() override { Application->HandleException(this); }

  char* AllocRecordBuffer() override {
    char* buffer = new char[static_cast<std::size_t>(FBufferSize)];
    std::memset(buffer, 0, static_cast<std::size_t>(FBufferSize));
    return buffer;
  }
  void FreeRecordBuffer(char*& Buffer) override {
    ClearBlobCache(Buffer);
    delete[] Buffer;
    Buffer = nullptr;
  }
  unsigned short GetRecordSize() override { return static_cast<unsigned short>(FRecordSize); }

  TGetResult GetRecord(char* Buffer, TGetMode GetMode, bool DoCheck) override {
    const int count = static_cast<int>(FRows.size());
    for (;;) {
      if (GetMode == gmNext) {
        if (FCurrent >= count - 1) {
          FCurrent = count;
          return grEOF;
        }
        ++FCurrent;
      } else if (GetMode == gmPrior) {
        if (FCurrent <= 0) {
          FCurrent = -1;
          return grBOF;
        }
        --FCurrent;
      } else if (FCurrent < 0) {
        return grBOF;
      } else if (FCurrent >= count) {
        return grEOF;
      }
      ReadRow(FCurrent, Buffer);
      if (Accepted(Buffer)) return grOK;
      if (GetMode == gmCurrent) {
        if (DoCheck) DatabaseError("Record not visible", this);
        return grError;
      }
    }
  }
  void InternalInitRecord(char* Buffer) override {
    ClearBlobCache(Buffer);
    std::memset(Buffer, 0, static_cast<std::size_t>(FRecordSize));
  }
  void ClearCalcFields(char* Buffer) override {
    std::memset(Buffer + FRecordSize, 0, static_cast<std::size_t>(CalcFieldsSize()));
  }
  void InternalFirst() override { FCurrent = -1; }
  void InternalLast() override { FCurrent = static_cast<int>(FRows.size()); }
  void InternalGotoBookmark(void* Bookmark) override {
    const int index = IndexOfId(IdOf(Bookmark));
    if (index < 0) DatabaseError("Bookmark names no record", this);
    FCurrent = index;
  }
  void InternalSetToRecord(char* Buffer) override { InternalGotoBookmark(Buffer + FInfoOffset); }
  void GetBookmarkData(char* Buffer, void* Data) override { std::memcpy(Data, Buffer + FInfoOffset, sizeof(int)); }
  void SetBookmarkData(char* Buffer, void* Data) override { std::memcpy(Buffer + FInfoOffset, Data, sizeof(int)); }
  TBookmarkFlag GetBookmarkFlag(char* Buffer) override {
    return static_cast<TBookmarkFlag>(Buffer[FInfoOffset + sizeof(int)]);
  }
  void SetBookmarkFlag(char* Buffer, TBookmarkFlag Value) override {
    Buffer[FInfoOffset + sizeof(int)] = static_cast<char>(Value);
  }
  int GetRecordCount() override { return static_cast<int>(FRows.size()); }
  int GetRecNo() override {
    char* buffer = GetActiveRecBuf();
    return buffer ? IndexOfId(IdOf(buffer + FInfoOffset)) + 1 : 0;
  }
  void SetRecNo(int Value) override {
    CheckBrowseMode();
    DoBeforeScroll();
    FCurrent = Value - 1;
    Resync({rmCenter});
    DoAfterScroll();
  }
  bool GetCanModify() override { return !ReadOnlySet; }

  void FailFrom(std::deque<AnsiString>& Failures) {
    if (Failures.empty()) return;
    const AnsiString message = Failures.front();
    Failures.pop_front();
    if (message.Length() > 0 && message[1] == '!') throw Exception(message.SubString(2, message.Length()));
    DatabaseError(message, this);
  }
  void InternalEdit() override { FailFrom(EditFailures); }
  void InternalPost() override {
    TDataSet::InternalPost();  // required fields
    FailFrom(PostFailures);
    char* buffer = ActiveBuffer();
    if (State() == dsEdit) {
      WriteRow(FCurrent, buffer);
    } else {
      const bool atEnd = GetBookmarkFlag(buffer) == bfEOF || FCurrent < 0;
      const int index = atEnd ? static_cast<int>(FRows.size()) : FCurrent;
      FRows.insert(FRows.begin() + index, TRow(FColumns.size()));
      FIds.insert(FIds.begin() + index, ++FLastId);
      WriteRow(index, buffer);
      FCurrent = index;
    }
    ++PostsStored;
  }
  void InternalAddRecord(void* Buffer, bool Append) override {
    CheckRequiredFields();
    const int index = Append || FCurrent < 0 ? static_cast<int>(FRows.size()) : FCurrent;
    FRows.insert(FRows.begin() + index, TRow(FColumns.size()));
    FIds.insert(FIds.begin() + index, ++FLastId);
    WriteRow(index, static_cast<char*>(Buffer));
    FCurrent = index;
  }
  void InternalDelete() override {
    FRows.erase(FRows.begin() + FCurrent);
    FIds.erase(FIds.begin() + FCurrent);
  }

 private:
  friend class TMemBlobStream;

  static int SlotDataSize(const TColumn& Column) {
    switch (Column.Type) {
      case ftString: return Column.Size + 1;
      case ftSmallint: return 2;
      case ftInteger: case ftDate: case ftTime: return 4;
      case ftFloat: case ftDateTime: return 8;
      default: return 0;  // BLOB values stay in the row
    }
  }
  static int IdOf(const void* Bookmark) {
    int id = 0;
    std::memcpy(&id, Bookmark, sizeof id);
    return id;
  }
  int IndexOfId(int Id) const {
    for (std::size_t i = 0; i < FIds.size(); ++i)
      if (FIds[i] == Id) return static_cast<int>(i);
    return -1;
  }
  std::string*& BlobCache(char* Buffer, const TField* Field) {
    return reinterpret_cast<std::string**>(Buffer + FBlobCacheOffset)[Field->Offset()];
  }
  void ClearBlobCache(char* Buffer) {
    if (!Buffer) return;
    auto** cache = reinterpret_cast<std::string**>(Buffer + FBlobCacheOffset);
    for (int i = 0; i < BlobFieldCount(); ++i) {
      delete cache[i];
      cache[i] = nullptr;
    }
  }
  bool Accepted(char* Buffer) {
    if (!Filtered() || !OnFilterRecord()) return true;
    const TDataSetState saved = SetTempState(dsFilter);
    FFilterBuffer = Buffer;
    bool accept = true;
    try {
      OnFilterRecord()(this, accept);
    } catch (...) {
      RestoreState(saved);
      throw;
    }
    RestoreState(saved);
    return accept;
  }

  void ReadRow(int Index, char* Buffer) {
    ClearBlobCache(Buffer);
    std::memset(Buffer, 0, static_cast<std::size_t>(FRecordSize));
    const TRow& row = FRows[static_cast<std::size_t>(Index)];
    for (std::size_t c = 0; c < FColumns.size(); ++c) {
      const Variant& value = row[c];
      if (value.IsNull() || value.IsEmpty() || SlotDataSize(FColumns[c]) == 0) continue;
      char* slot = Buffer + FSlotOffsets[c];
      slot[0] = 1;
      ToNative(FColumns[c], value, slot + 1);
    }
    std::memcpy(Buffer + FInfoOffset, &FIds[static_cast<std::size_t>(Index)], sizeof(int));
    SetBookmarkFlag(Buffer, bfCurrent);
    GetCalcFields(Buffer);
  }
  void WriteRow(int Index, char* Buffer) {
    TRow& row = FRows[static_cast<std::size_t>(Index)];
    for (std::size_t c = 0; c < FColumns.size(); ++c) {
      if (SlotDataSize(FColumns[c]) == 0) continue;
      const char* slot = Buffer + FSlotOffsets[c];
      row[c] = slot[0] ? FromNative(FColumns[c], slot + 1) : Null();
    }
    for (int i = 0; i < FieldCount(); ++i) {
      TField* field = Fields()->Fields(i);
      if (!field->IsBlob() || field->FieldNo() < 1) continue;
      if (std::string* cached = BlobCache(Buffer, field))
        row[static_cast<std::size_t>(field->FieldNo() - 1)] = cached->empty() ? Null() : Variant(AnsiString(*cached));
    }
  }
  static void ToNative(const TColumn& Column, const Variant& Value, char* Data) {
    switch (Column.Type) {
      case ftString: {
        const AnsiString text = Value.AsString();
        std::memcpy(Data, text.data(), static_cast<std::size_t>(std::min(text.Length(), Column.Size)));
        break;
      }
      case ftSmallint: { const short v = Value.AsSmallint(); std::memcpy(Data, &v, sizeof v); break; }
      case ftInteger: { const int v = Value.AsInteger(); std::memcpy(Data, &v, sizeof v); break; }
      case ftFloat: { const double v = Value.AsDouble(); std::memcpy(Data, &v, sizeof v); break; }
      default: {
        const TDateTimeRec rec = DateTimeToNative(Column.Type, Value.AsDateTime());
        std::memcpy(Data, &rec, static_cast<std::size_t>(SlotDataSize(Column)));
      }
    }
  }
  static Variant FromNative(const TColumn& Column, const char* Data) {
    switch (Column.Type) {
      case ftString: return AnsiString(Data, static_cast<int>(strnlen(Data, static_cast<std::size_t>(Column.Size))));
      case ftSmallint: { short v; std::memcpy(&v, Data, sizeof v); return v; }
      case ftInteger: { int v; std::memcpy(&v, Data, sizeof v); return v; }
      case ftFloat: { double v; std::memcpy(&v, Data, sizeof v); return v; }
      default: {
        TDateTimeRec rec{};
        std::memcpy(&rec, Data, static_cast<std::size_t>(SlotDataSize(Column)));
        return NativeToDateTime(Column.Type, rec);
      }
    }
  }

  std::vector<TColumn> FColumns;
  std::vector<TRow> FRows;
  std::vector<int> FIds;
  std::vector<int> FSlotOffsets;
  int FLastId = 0;
  int FCurrent = -1;
  int FRecordSize = 0;
  int FBlobCacheOffset = 0;
  int FInfoOffset = 0;
  int FBufferSize = 0;
  bool FOpen = false;
  char* FFilterBuffer = nullptr;
};

// A BLOB stream over the active record: reads the cached or stored value;
// what it writes goes to the record buffer's cache when it is destroyed.
class TMemBlobStream : public TMemoryStream {
 public:
  TMemBlobStream(TMemDataSet* DataSet, TBlobField* Field, TBlobStreamMode Mode)
      : FDataSet(DataSet), FField(Field), FBuffer(DataSet->GetActiveRecBuf()) {
    if (Mode != bmRead && DataSet->State() != dsEdit && DataSet->State() != dsInsert)
      DatabaseError(DbConsts::SNotEditing, DataSet);
    if (!FBuffer) return;
    if (Mode == bmWrite) {
      FModified = true;  // a write stream starts from an empty value
      return;
    }
    const AnsiString value = Current();
    if (value.Length() > 0) WriteBuffer(value.data(), value.Length());
    Seek(0, soFromBeginning);
    FModified = false;  // filling is not writing
  }
  ~TMemBlobStream() override {
    if (!FModified || !FBuffer) return;
    std::string*& cache = FDataSet->BlobCache(FBuffer, FField);
    delete cache;
    cache = new std::string(static_cast<const char*>(Memory()), static_cast<std::size_t>(GetSize()));
    FField->SetModified(true);
    FDataSet->DataEvent(deFieldChange, reinterpret_cast<long>(FField));
  }
  int Write(const void* Buffer, int Count) override {
    FModified = true;
    return TMemoryStream::Write(Buffer, Count);
  }
  AnsiString Current() const {
    if (const std::string* cached = FDataSet->BlobCache(FBuffer, FField)) return AnsiString(*cached);
    if (FDataSet->GetBookmarkFlag(FBuffer) != bfCurrent) return AnsiString();
    int id = 0;
    std::memcpy(&id, FBuffer + FDataSet->FInfoOffset, sizeof id);
    const int index = FDataSet->IndexOfId(id);
    return index < 0 ? AnsiString()
                     : VarToStr(FDataSet->FRows[static_cast<std::size_t>(index)][static_cast<std::size_t>(FField->FieldNo() - 1)]);
  }

 private:
  TMemDataSet* FDataSet;
  TBlobField* FField;
  char* FBuffer;
  bool FModified = false;
};

inline TStream* TMemDataSet::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  auto* blob = dynamic_cast<TBlobField*>(Field);
  if (!blob) DatabaseErrorFmt(DbConsts::SNotABlobField, {Field->DisplayName()}, this);
  return new TMemBlobStream(this, blob, Mode);
}

inline bool TMemDataSet::GetFieldData(TField* Field, void* Buffer) {
  char* record = GetActiveRecBuf();
  if (!record) return false;
  if (Field->FieldNo() < 1) {
    const char* slot = record + FRecordSize + Field->Offset();
    if (!slot[0]) return false;
    if (Buffer) std::memcpy(Buffer, slot + 1, static_cast<std::size_t>(Field->DataSize()));
    return true;
  }
  if (Field->IsBlob()) {
    TMemBlobStream stream(this, static_cast<TBlobField*>(Field), bmRead);
    return stream.GetSize() > 0;
  }
  const TColumn& column = FColumns[static_cast<std::size_t>(Field->FieldNo() - 1)];
  const char* slot = record + FSlotOffsets[static_cast<std::size_t>(Field->FieldNo() - 1)];
  if (!slot[0]) return false;
  if (Buffer) std::memcpy(Buffer, slot + 1, static_cast<std::size_t>(SlotDataSize(column)));
  return true;
}

inline void TMemDataSet::SetFieldData(TField* Field, void* Buffer) {
  const TDataSetState state = State();
  if (state != dsEdit && state != dsInsert && state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DatabaseError(DbConsts::SNotEditing, this);
  char* record = GetActiveRecBuf();
  if (Field->FieldNo() < 1) {
    char* slot = record + FRecordSize + Field->Offset();
    slot[0] = Buffer != nullptr;
    if (Buffer) std::memcpy(slot + 1, Buffer, static_cast<std::size_t>(Field->DataSize()));
  } else {
    if (state == dsCalcFields) DatabaseError(DbConsts::SNotEditing, this);
    if (Field->ReadOnly()) DatabaseErrorFmt(DbConsts::SFieldReadOnly, {Field->DisplayName()}, this);
    Field->Validate(Buffer);
    const TColumn& column = FColumns[static_cast<std::size_t>(Field->FieldNo() - 1)];
    char* slot = record + FSlotOffsets[static_cast<std::size_t>(Field->FieldNo() - 1)];
    const auto size = static_cast<std::size_t>(SlotDataSize(column));
    slot[0] = Buffer != nullptr;
    if (Buffer)
      std::memcpy(slot + 1, Buffer, size);
    else
      std::memset(slot + 1, 0, size);
  }
  if (state != dsCalcFields && state != dsFilter && state != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<long>(Field));
}

// Records the named events in order: "BeforeOpen", "AfterScroll", ...
class TEventLog {
 public:
  std::vector<std::string> Entries;

  TDataSetNotifyEvent Handler(const std::string& Name) {
    FHandlers.push_back({this, Name});
    return TDataSetNotifyEvent(&FHandlers.back(), &THandler::Call);
  }
  // Hooks every notify event of DataSet.
  void Watch(TDataSet& DataSet) {
    DataSet.BeforeOpen = Handler("BeforeOpen");
    DataSet.AfterOpen = Handler("AfterOpen");
    DataSet.BeforeClose = Handler("BeforeClose");
    DataSet.AfterClose = Handler("AfterClose");
    DataSet.BeforeInsert = Handler("BeforeInsert");
    DataSet.AfterInsert = Handler("AfterInsert");
    DataSet.BeforeEdit = Handler("BeforeEdit");
    DataSet.AfterEdit = Handler("AfterEdit");
    DataSet.BeforePost = Handler("BeforePost");
    DataSet.AfterPost = Handler("AfterPost");
    DataSet.BeforeCancel = Handler("BeforeCancel");
    DataSet.AfterCancel = Handler("AfterCancel");
    DataSet.BeforeDelete = Handler("BeforeDelete");
    DataSet.AfterDelete = Handler("AfterDelete");
    DataSet.BeforeScroll = Handler("BeforeScroll");
    DataSet.AfterScroll = Handler("AfterScroll");
    DataSet.OnNewRecord = Handler("OnNewRecord");
  }
  std::string Take() {
    std::string all;
    for (const std::string& entry : Entries) all += (all.empty() ? "" : " ") + entry;
    Entries.clear();
    return all;
  }

 private:
  struct THandler {
    TEventLog* Log;
    std::string Name;
    void Call(TDataSet*) { Log->Entries.push_back(Name); }
  };
  std::deque<THandler> FHandlers;
};

}  // namespace DbTest
