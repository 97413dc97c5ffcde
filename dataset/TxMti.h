// TxMti: the cursor engine under the data sets.
//
// TTxMti shows one field group of an FML32 buffer (a TTxFbfr it does not
// own) as a table: the group's contract definitions are the columns and
// record r is occurrence r-1 of every column field, or, under a sort order,
// the occurrence that the order puts at position r. Operations follow the
// framework database engine's cursor calls: they return a DBIResult (0 or a
// DBIERR_* code), fill caller-supplied record buffers and report CURProps
// and RECProps. Misuse and limits raise the framework's Exception. Values
// are written through TTxFbfr::SetValues/AppendOcc, whose exceptions pass
// through unchanged, and read as TTxFbfr::GetValues delivers them (null
// values, logical types, code page), straight from the FML32 buffer.
//
// Record buffer: a 4-byte header (the record number the record was read at)
// followed by one slot per column, unpadded: a null indicator byte (1 =
// value, 0 = blank) and the data area (4-byte integer; 1-byte char; 8-byte
// double, also for date-time strings; MaxSize+1 bytes of NUL-padded text; a
// 4-byte BLOB handle for memo and binary columns).
//
// A sort order keeps each row's sort key, read once per record when the
// order is built (texts as collation keys, compared as bytes), and the rows
// in position order (TTxSortedRows): position -> occurrence and back cost
// O(log n). A post, append or delete made through the engine moves the one
// row concerned instead of sorting again; rows that compare equal on every
// key keep no promised order. Changes made to the buffer behind the engine's
// back are seen after the next UpdateIndex or MakeIndex.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "buffer/TxFbfr.h"
#include "platform/framework/Db.h"

namespace Tx {

// ---- Engine results ------------------------------------------------------------

using DBIResult = unsigned short;

inline constexpr DBIResult DBIERR_NONE = 0;
inline constexpr DBIResult DBIERR_BOF = 0x2201;
inline constexpr DBIResult DBIERR_EOF = 0x2202;
inline constexpr DBIResult DBIERR_NOCURRREC = 0x2205;
inline constexpr DBIResult DBIERR_ENDOFBLOB = 0x2207;
inline constexpr DBIResult DBIERR_OPENBLOBLIMIT = 0x2516;
inline constexpr DBIResult DBIERR_REQDERR = 0x2604;
inline constexpr DBIResult DBIERR_OUTOFRANGE = 0x2701;
inline constexpr DBIResult DBIERR_INVALIDPARAM = 0x2702;
inline constexpr DBIResult DBIERR_INVALIDBLOBOFFSET = 0x270E;
inline constexpr DBIResult DBIERR_NOSUCHFILTER = 0x2742;
inline constexpr DBIResult DBIERR_NOTABLOB = 0x2A01;
inline constexpr DBIResult DBIERR_BLOBOPENED = 0x2A02;
inline constexpr DBIResult DBIERR_BLOBNOTOPENED = 0x2A03;
inline constexpr DBIResult DBIERR_NA = 0x2A04;
inline constexpr DBIResult DBIERR_TABLEREADONLY = 0x2A0B;
// A bookmark that names no record of the current order; it has no name in
// the table DbiRaise uses.
inline constexpr DBIResult DBIRES_BOOKMARKNOTFOUND = 0x2725;

// The name DbiRaise gives a result: "DBIERR_BOF" ..., "nieznany" for others.
AnsiString DbiResultName(DBIResult Result);
// Raises Exception "DbiError: DBIResult=%d (%s)" with the code and its name.
[[noreturn]] void DbiRaise(DBIResult Result);
// Nothing for 0, DbiRaise otherwise.
void DbiCheck(DBIResult Result);

enum DBILockType : unsigned char { dbiNOLOCK, dbiREADLOCK, dbiWRITELOCK };
// How a BLOB is opened; the engine keeps every open BLOB writable.
enum DBIOpenMode : unsigned char { dbiREADWRITE, dbiREADONLY };

// Cursor properties; GetCursorProps fills these members and leaves any
// other a caller keeps alongside as it was.
struct CURProps {
  int iFields = 0;        // columns
  int iRecBufSize = 0;    // bytes of a record buffer
  int iBookMarkSize = 0;  // bytes of a bookmark (4)
  int iSeqNums = 0;       // 1: record numbers are sequence numbers
  int iRefIntChecks = 0;  // first column whose occurrence count differs from the first's, or 0
};

// Properties of the record just read.
struct RECProps {
  int iSeqNum = 0;     // its record number (position in the current order)
  int iPhyRecNum = 0;  // its occurrence
  bool bDeleteFlag = false;
};

// The record filter: (record buffer, record number) -> non-zero to accept.
using TTxRecordFilter = TClosure<short(void* RecBuf, int RecNo)>;

// ---- The engine -----------------------------------------------------------------

class TTxSortedRows;

class TTxMti {
 public:
  TTxMti();
  virtual ~TTxMti();
  TTxMti(const TTxMti&) = delete;
  TTxMti& operator=(const TTxMti&) = delete;

  // The buffer shown; Exception "TxFbfr not set." when none is set.
  virtual TTxFbfr* GetTxFbfr();

  // ---- Sort order ----
  // Sorts by a comma-separated list of keys, each a field name after
  // optional flags: "\" descending, "^" case-sensitive, "%" word sort.
  // Blanks are ignored, names match the contract ignoring case; Null values
  // come first. Empty: natural order. Any failure leaves natural order:
  // Exception "Zły znak specjalny (c) dla sortowania pola", "Nie ma pola X",
  // "Pole X typu BLOB niedopuszczalne w indeksie", ETxFmlError for a field
  // id 0, "Błąd: " + message when reading the keys fails, EOutOfMemory
  // "Brak pamięci na utworzenie indeksu".
  virtual void MakeIndex(const AnsiString& Expression);
  // Rebuilds the current order from the buffer.
  virtual void UpdateIndex();
  virtual void SetTxFldGroup(int Group);

  // ---- Layout ----
  // Slot size (data area + null indicator) of field number FieldNo.
  virtual int FldBufSize(int FieldNo);
  // Offset of the slot of FieldNo in a record buffer; Exception "FieldNo==0".
  virtual int FldBufOffset(int FieldNo);
  // Adds one definition per column to FieldDefs.
  virtual void CreateFieldDefs(TFieldDefs* FieldDefs);

  // ---- Filter table ----
  virtual void ClearFilteredTab();
  virtual void AddFilteredRecord(int Key);
  virtual void DelFilteredRecord(int Key);
  // Records accepted since the filter was activated while one is active, else GetRecordCount.
  virtual int GetFilteredRecordCount();
  // Occurrences of the first column; 0 without buffer or columns.
  virtual int GetRecordCount();
  // MakeIndex when Expression differs from the current one.
  virtual void SetIndexFlds(const AnsiString& Expression);
  virtual DBIResult GetCursorProps(CURProps* Props);
  virtual DBIResult InitRecord(void* RecBuf);

  // ---- Records ----
  virtual DBIResult GetRecord(DBILockType Lock, void* RecBuf, RECProps* Props);
  virtual DBIResult GetPriorRecord(DBILockType Lock, void* RecBuf, RECProps* Props);
  virtual DBIResult GetNextRecord(DBILockType Lock, void* RecBuf, RECProps* Props);
  virtual DBIResult DeleteRecord(void* RecBuf);
  virtual DBIResult ModifyRecord(void* RecBuf, bool Release);
  virtual DBIResult AppendRecord(void* RecBuf);
  // Always raises "Wstawianie rekordu w środku nie jest zaimplementowane".
  virtual DBIResult InsertRecord(DBILockType Lock, void* RecBuf);
  // Exception "Previous cursor not closed" when open.
  virtual DBIResult Open();
  // Natural order, filter dropped, closed.
  virtual DBIResult CloseCursor();
  // Changes the order; with KeepPosition stays on the same occurrence
  // (DBIERR_NOCURRREC, position 0, when it cannot).
  virtual DBIResult SwitchToOrder(const AnsiString& Expression, bool KeepPosition);

  // ---- Positioning ----
  virtual DBIResult SetToSeqNo(int RecNo);
  virtual DBIResult SetToBegin();
  virtual DBIResult SetToEnd();
  // A bookmark is the record's 4-byte occurrence number: it survives order changes.
  virtual DBIResult GetBookMark(void* Bookmark);
  virtual DBIResult SetToBookMark(void* Bookmark);
  virtual bool BookmarkValid(void* Bookmark);
  // Compares occurrences, not positions: -1, 0 or 1 in *Result.
  virtual DBIResult CompareBookmarks(void* Bookmark1, void* Bookmark2, int* Result);

  // ---- Fields of a record buffer ----
  virtual DBIResult GetField(int FieldNo, void* RecBuf, void* Dest, bool* Blank);
  virtual DBIResult PutField(int FieldNo, void* RecBuf, const void* Src);

  // ---- BLOB fields (TxMtiBlob.cpp) ----
  // A BLOB column's slot holds a handle: 0 = not open in this record buffer,
  // h = entry h-1 of the BLOB list, which owns a copy of the value. Every
  // operation answers DBIERR_INVALIDPARAM without a record buffer,
  // DBIERR_OUTOFRANGE for a field number outside 1..field count and
  // DBIERR_NOTABLOB for a column that is not a BLOB; all but OpenBlob answer
  // DBIERR_BLOBNOTOPENED when the slot's BLOB is not open.
  virtual DBIResult GetBlobSize(void* RecBuf, unsigned short FieldNo, unsigned long& Size);
  // Copies the value of the row the buffer was read at (empty for a new
  // row) into a free entry of the BLOB list. DBIERR_BLOBOPENED when open.
  virtual DBIResult OpenBlob(void* RecBuf, unsigned short FieldNo, DBIOpenMode Mode);
  // DBIERR_INVALIDBLOBOFFSET at or beyond the end; DBIERR_ENDOFBLOB when
  // fewer than Length bytes were left (Read tells how many were copied).
  virtual DBIResult GetBlob(void* RecBuf, unsigned short FieldNo, unsigned long Offset, unsigned long Length,
                            void* Dest, unsigned long& Read);
  // Grows the value as needed; Exception "Pole BLOB krótsze niż zadana
  // pozycja zapisu" (value unchanged) when Offset is beyond its end.
  virtual DBIResult PutBlob(void* RecBuf, unsigned short FieldNo, unsigned long Offset, unsigned long Length,
                            const void* Src);
  // Cuts the value to Length bytes (a longer Length leaves it as it is).
  virtual DBIResult TruncateBlob(void* RecBuf, unsigned short FieldNo, unsigned long Length);
  // Closes the BLOB: handle 0, the slot's null indicator tells whether the
  // value was non-empty, the list entry is free again.
  virtual DBIResult FreeBlob(void* RecBuf, unsigned short FieldNo);

  // ---- Filter ----
  // One filter, handle 1; DBIERR_NA when one is set.
  virtual DBIResult AddFilter(TTxRecordFilter Filter, int& Handle);
  virtual DBIResult DropFilter(int Handle);
  virtual DBIResult ActivateFilter(int Handle);
  virtual DBIResult DeactivateFilter(int Handle);

  // ---- Non-virtual members used by the data sets ----
  // Exception "Otwarte połączenie ze starym buforem" while open.
  void SetTxFbfr(TTxFbfr* Fbfr);
  int GetTxFldGroup() const noexcept { return FFldGroup; }
  AnsiString GetIndexExpr() const { return FIndexExpr; }
  int GetCurrentRecord() const noexcept { return FCurrentRecord; }
  void CheckCursorClosed() const;
  void tuxUpdateTxFldDefMap();
  void tuxCreateFieldDefs(TFieldDefs* FieldDefs, TTxFbfrDef* Contract);
  TFieldDef* tuxCreateFieldDef(TFieldDefs* FieldDefs, TTxFbfrFldDef* Def);
  int tuxFldBufSize(TTxFbfrFldDef* Def);
  TTxFbfrFldDef* tuxFldDefByFieldNo(int FieldNo);
  bool tuxIsBlobFld(TTxFbfrFldDef* Def);
  TTxFbfrFldDef* tuxFindFldDefByName(const AnsiString& Name);
  TTxFbfrFldDef* tuxFindTxFldDef_WithAssignSerial();
  TTxFldLogicalType tuxGetFldLogicalType(unsigned long FldId);
  int tuxGetMaxOccCount();
  // Exception "Zły numer rekordu %d" outside 1..GetRecordCount.
  int tuxOccFromRecNo(int RecNo);
  // The position of an occurrence in the current order, or -1.
  int tuxRecNoFromOcc(long Occ);
  DBIResult tuxGetFbfrFld(unsigned long FldId, int Occ, void* Dest, int Size);
  DBIResult tuxSetFbfrFld(unsigned long FldId, int Occ, const void* Data, int Length);
  DBIResult tuxDelFbfrFld(unsigned long FldId, int Occ);
  void MakeIndexInfo(const AnsiString& Expression);
  // Compares two record numbers (pointers to int) under the current keys,
  // reading the buffer afresh: -1, 0 or 1. A call with a null First names the
  // engine (Second) whose records later calls compare; the engine named is
  // process-wide, so one thread at a time.
  static int index_compare(const void* First, const void* Second);

  // The BLOB texts of open BLOBs; a handle h names entry h-1.
  std::vector<std::unique_ptr<AnsiString>>& BlobList() noexcept { return FBlobList; }

  // Read by the data set to tell whether the cursor is open.
  bool open = false;

  static constexpr int kMaxFields = 256;
  static constexpr int kMaxSortKeys = 50;
  static constexpr int kFilterChunk = 500;

 private:
  struct TSortKey {
    AnsiString Name;  // at most 20 characters
    unsigned long FldId = 0;
    bool CaseInsensitive = true;
    bool Descending = false;
    bool WordSort = false;
    int Type = 0;                              // FML32 type of the id
    TTxFldLogicalType Logical = txlftDefault;  // of the contract's definition of the id
  };
  struct TSortInfo {
    TTxMti* Owner = nullptr;
    int KeyCount = 0;
    std::array<TSortKey, kMaxSortKeys> Keys;
  };
  // What a column needs on every record read and write.
  struct TColumn {
    TTxFbfrFldDef* Def = nullptr;
    unsigned long Id = 0;
    int Type = 0;
    bool Blob = false;
    bool DateTimeText = false;
    TTxFldLogicalType Logical = txlftDefault;  // of the contract's definition of the id
    int DataSize = 0;
    int Offset = 0;
  };

  void RefreshLayout();
  // The common checks of the BLOB operations; Slot is the column's slot.
  DBIResult BlobSlot(void* RecBuf, unsigned short FieldNo, unsigned char*& Slot);
  DBIResult OpenedBlob(void* RecBuf, unsigned short FieldNo, unsigned char*& Slot, AnsiString*& Blob);
  const TColumn& Column(int FieldNo);
  DBIResult ReadColumn(const TColumn& Col, int Occ, unsigned char* Slot, bool& Found);
  DBIResult ReadCell(const TColumn& Col, int Occ, unsigned char* Slot, bool& Found);
  DBIResult ReadRecord(int Count, void* RecBuf, RECProps* Props);
  DBIResult tuxPutRecord(int RecNo, unsigned char* RecBuf);
  double ParseDateTimeText(const char* Text);
  void FreeOrder() noexcept;

  // ---- Sort keys and the kept-up order ----
  // The sort key of one occurrence: the keys' segments, compared as bytes.
  std::string BuildKey(int Occ);
  bool ReadKeyValue(const TSortKey& Key, int Occ, bool& IsNull, double& Number, std::string& Text);
  void BuildOrder(int Count);
  // Keep the order after a change of occurrence Occ, the append of
  // occurrence Occ, or the delete of occurrence Occ; the whole order is
  // built again when its row count does not match the buffer's.
  void OrderAfterChange(int Occ);
  void OrderAfterAppend(int Occ);
  void OrderAfterDelete(int Occ);
  bool OrderMatches(int Count) const noexcept;
  // MakeIndex's failure path: natural order and "Błąd: " + message.
  [[noreturn]] void FailIndex(const AnsiString& Message);

  AnsiString FIndexExpr;
  TSortInfo FSortInfo;
  // The current sort order with each row's key; none in natural order.
  std::unique_ptr<TTxSortedRows> FRows;
  int FCurrentRecord = 0;
  TTxRecordFilter FFilter;
  int FFilterActive = 0;
  int FFieldCount = 0;
  std::vector<std::unique_ptr<AnsiString>> FBlobList;
  std::vector<std::unique_ptr<unsigned char[]>> FFilteredChunks;
  int FFilteredCount = 0;
  TTxFbfr* FFbfr = nullptr;
  int FFldGroup = -1;
  std::array<TTxFbfrFldDef*, kMaxFields + 1> FFldDefMap{};
  // Column layout, valid for FLayoutColumns leading columns.
  std::vector<TColumn> FColumns;
  int FLayoutColumns = 0;
  int FRecordSize = 4;
  bool FLayoutStale = true;
};

}  // namespace Tx
