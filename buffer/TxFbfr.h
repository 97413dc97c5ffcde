// TxFbfr: field definitions, contracts and the buffer object.
//
// TTxFbfrFldDef describes one FML32 field as the application expects it (id,
// name, logical type, size and occurrence limits, group, serial flag);
// TTxFbfrDef is a collection of them, used as a contract (the declared shape
// of a buffer, owned by the component that publishes it) or as the buffer
// definitions of a TTxFbfr (derived from the fields present).
//
// TTxFbfr owns one FML32 buffer and its buffer definitions. Every FML32 call
// is followed by CheckFerror and every allocation by CheckTperrno, so each
// middleware failure arrives as ETxFmlError or ETxTpError with its composed
// message. Growth always goes through EnsureSpace: 4 KB steps up to 64 KB,
// doubling beyond.
#pragma once

#include <fml32.h>

#include <memory>

#include "client/TxGlobal.h"
#include "platform/framework/Classes.h"
#include "platform/framework/Variant.h"

namespace Tx {

// Logical types that refine a field's FML32 type.
enum TTxFldLogicalType : unsigned char {
  txlftDefault,   // any type
  txlftDate,      // FLD_LONG: days since 1899-12-31
  txlftDateTime,  // FLD_STRING: "yyyy-mm-dd hh:nn:ss.zzz"
  txlftMemo,      // FLD_STRING or FLD_CARRAY
  txlftGraphic,   // FLD_CARRAY
  txlftTime,      // any type; FLD_DOUBLE stores a time of day as a negative fraction
};

class TTxFbfrDef;

// One field definition, owned by its collection.
class TTxFbfrFldDef : public TCollectionItem {
 public:
  // Appends the definition to Collection (when given). A new definition has
  // OccMax -1 and every other number 0.
  explicit TTxFbfrFldDef(TCollection* Collection);

  // The name used by the library's name lookups; no test.
  AnsiString GetTxFldName() const { return FTxFldName; }
  void SetTxFldName(const AnsiString& Value) { FTxFldName = Value; }

  // The field id (an FLDID32, used as unsigned).
  long GetTxFldId() const noexcept { return FTxFldId; }
  void SetTxFldId(long Value) noexcept { FTxFldId = Value; }

  // The FML32 type code of the field id; ETxFmlError when FML32 reports one.
  unsigned char GetTxFldType() const;

  // Raises EPropertyError (keeping the old value) when the logical type does
  // not suit the field's FML32 type, unless the owning component is being
  // read; otherwise normalises MaxSize for the type and stores the value.
  TTxFldLogicalType GetLogicalType() const noexcept { return FLogicalType; }
  void SetLogicalType(TTxFldLogicalType Value);

  // Maximal value size in bytes for string and carray fields; 0 is no limit.
  // A negative value raises EPropertyError; numeric fields store 0 unless
  // the owning component is being read.
  int GetMaxSize() const noexcept { return FMaxSize; }
  void SetMaxSize(int Value);

  // Field group (the columns of one data-set table); negative raises EPropertyError.
  int GetGroup() const noexcept { return FGroup; }
  void SetGroup(int Value);

  // Occurrence limits; a negative value is no limit.
  int GetOccMin() const noexcept { return FOccMin; }
  void SetOccMin(int Value) noexcept { FOccMin = Value; }
  int GetOccMax() const noexcept { return FOccMax; }
  void SetOccMax(int Value) noexcept { FOccMax = Value; }

  // Marks the field that carries a group's serial number.
  bool GetAssignSerial() const noexcept { return FAssignSerial; }
  void SetAssignSerial(bool Value) noexcept { FAssignSerial = Value; }

  // The owner of the item's collection when it is a component, else nullptr.
  TComponent* GetComponentOwner() const;
  // True while the owning component, or its own owner, is being read.
  bool InReadingState() const;

  // "name ( type,#number,<id> )"; for id 0 "name  ( ?,#?,<0> )". Leaves
  // Ferror32 at 0 even for an id FML32 does not know.
  AnsiString GetDisplayName() const override;

  // Copies every attribute into Dest when it is exactly a TTxFbfrFldDef;
  // otherwise the framework's conversion error.
  void AssignTo(TPersistent* Dest) override;
  // Copies name, id, limits, group, logical type and serial flag without the setters' tests.
  TTxFbfrFldDef& operator=(const TTxFbfrFldDef& Source);

 private:
  AnsiString FTxFldName;
  long FTxFldId = 0;
  int FOccMin = 0;
  int FOccMax = -1;
  int FMaxSize = 0;
  int FGroup = 0;
  TTxFldLogicalType FLogicalType = txlftDefault;
  bool FAssignSerial = false;
};

// A collection of field definitions: a contract or a buffer's definitions.
class TTxFbfrDef : public TOwnedCollection {
 public:
  // AOwner is the publishing component of a contract, or nullptr.
  explicit TTxFbfrDef(TPersistent* AOwner);

  // The definition at Index; EListError outside 0..Count-1.
  TTxFbfrFldDef* GetFldDef(int Index) const;
  // The first definition (in collection order) with that id, or nullptr.
  TTxFbfrFldDef* FindFldDefById(unsigned long Id) const;
  // The first definition whose name equals Name ignoring case, or nullptr.
  TTxFbfrFldDef* FindFldDefByName(const AnsiString& Name) const;
  // The definition of Id, or a new one named by the id's decimal text with
  // MaxSize 1024 (0 for numeric fields when there is no component owner).
  TTxFbfrFldDef* AddFldDef(unsigned long Id);
  // Replaces the contents with one definition per distinct field id of
  // Fbfr, in the order Fnext32 visits them. FML32 failures end the walk quietly.
  void FillUsing(FBFR32* Fbfr);
};

// The buffer object: owns one FML32 buffer and its buffer definitions.
class TTxFbfr : public TPersistent {
 public:
  // Allocates an FML32 buffer of ASize bytes (-1 means 1000). ETxTpError when
  // the allocation fails.
  TTxFbfr(TPersistent* AOwner, int ASize);
  ~TTxFbfr() override;

  // Copies Source's contents, contract pointer and buffer definitions. The
  // buffer is reallocated only when the two sizes differ. Owner and ReadOnly
  // are not copied.
  virtual TTxFbfr& operator=(TTxFbfr& Source);

  // The buffer; Exception "Wskaźnik bufora == NULL" when there is none.
  // Valid until the buffer is next reallocated (growth, SetFbfrSize, operator=).
  FBFR32* GetFbfrP() const;
  // The address of the buffer pointer, for calls that replace the buffer.
  FBFR32** GetFbfrPP() noexcept { return &FFbfr; }
  TPersistent* GetOwner() const override { return FOwner; }

  // True when Contract is set and holds at least one definition.
  bool Contracted() const;
  // Contract when Contracted(), else the buffer definitions.
  TTxFbfrDef* GetFldDefs() const;
  // Rebuilds the buffer definitions from the fields present.
  void SyncFbfrDef();

  // Name lookups through GetFldDefs(), ignoring case. FindFieldId gives 0 and
  // FindFieldName "" when nothing matches; the By... forms raise ETxError.
  unsigned long FindFieldId(const AnsiString& Name) const;
  unsigned long FieldIdByName(const AnsiString& Name) const;
  AnsiString FindFieldName(unsigned long Id) const;
  AnsiString FieldNameById(unsigned long Id) const;

  // Number of occurrences of the field.
  int OccCount(unsigned long Id) const;
  int OccCount(const AnsiString& Name) const;
  // Stored length of one occurrence in bytes, or -1 when it is absent.
  int OccLength(unsigned long Id, int Occ) const;
  int OccLength(const AnsiString& Name, int Occ) const;
  // Length without a string's terminating zero; -1 when absent.
  int ValueLength(unsigned long Id, int Occ) const;
  // Pointer to the stored value; ETxFmlError when the occurrence is absent.
  // Valid until the buffer is next changed or reallocated.
  char* GetValuePtr(unsigned long Id, int Occ) const;

  // Removes every field and rebuilds the (then empty) buffer definitions.
  void Clear();
  // Removes one occurrence; later ones move down.
  void DeleteOcc(unsigned long Id, int Occ);
  void DeleteOcc(const AnsiString& Name, int Occ);
  // Removes every occurrence of the field (ETxFmlError when it has none);
  // Id 0 removes every field.
  void DeleteAllOcc(unsigned long Id);

  // ---- Typed values --------------------------------------------------------
  // Values travel as variants: the numeric types' reserved null values read
  // as Null and Null or unassigned writes store them; logical types (date,
  // time, date-time) convert on the way; string fields are translated
  // between the server's code page and Windows-1250; the contract's MaxSize
  // and OccMax are enforced.

  // The value of one occurrence; ETxFmlError when it is absent. A char is
  // read with Ffind32, since Fvals32 is documented for string fields only.
  Variant GetValues(unsigned long Id, int Occ);
  // Replaces one occurrence (an occurrence beyond the last is added, as
  // Fchg32 adds it). A size or type error leaves the buffer unchanged.
  void SetValues(unsigned long Id, int Occ, const Variant& Value);
  // Adds a new last occurrence and returns its number. Refused on a
  // read-only buffer and beyond the contract's OccMax.
  int AppendOcc(unsigned long Id, const Variant& Value);
  int AppendOcc(const AnsiString& Name, const Variant& Value);
  // Appends Source's values of the fields of Group (-1: all) at occurrence
  // Occ (-1: every occurrence), only of contracted fields when OnlyContracted.
  void AppendValues(TTxFbfr* Source, int Group, int Occ, bool OnlyContracted);
  // GetValues.
  Variant OccValue(unsigned long Id, int Occ);
  Variant OccValue(const AnsiString& Name, int Occ);

  // ---- Contract application ---------------------------------------------
  // Compares the buffer with its contract. Repair false: the first violation
  // raises ETxFbfrContractViolated and nothing changes. Repair true: each
  // violation is repaired (after a yes/no question when Ask); on return
  // Repair tells whether anything changed. Returns false when the user
  // declined a repair. CheckExtra also looks for fields the contract lacks.
  bool ApplyContract(bool CheckExtra, bool& Repair, bool Ask);
  // Checks the occurrence limits; raises ETxFbfrContractViolated.
  void CheckWithContract();

  // Allocated size in bytes.
  long GetFbfrSize() const;
  // Moves the contents into a new buffer of Size bytes. On failure (a size
  // too small for the contents gives ETxFmlError) the old buffer stays.
  void SetFbfrSize(long Size);
  // Makes sure a value of Len bytes fits as occurrence Occ of Id (Occ < 0:
  // a new one). When the unused space is not more than the space the value
  // needs, the buffer grows by that need, but never by less than 4096 bytes
  // while it holds up to 64 KB, and never by less than its own size beyond
  // (it at least doubles).
  //
  // Every growth allocates a new buffer and copies the whole contents. Fixed
  // 4 KB steps keep small buffers small, but on a big one they mean a full
  // copy every 4 KB, so filling a buffer value by value would take time
  // growing with the square of its size (a table of 100,000 rows appended
  // row by row). Doubling beyond 64 KB keeps the copying a constant share of
  // every append (about one copy of each byte in all), at the price of up to
  // half of a big buffer left unused. Smaller steps (by half the size) still
  // left appends at 100,000 values nearly three times as dear as at 1,000,
  // the fresh memory of each new buffer costing as much as the copy.
  void EnsureSpace(unsigned long Id, long Occ, int Len);

  // ---- Saving with the owning component ----------------------------------
  // The buffer keeps its contents in the owner's form file as the binary
  // property "FBFRContents" (field by field; written when the buffer holds
  // a field) and still reads the older raw image "FBFRdata".
  void DefineProperties(TFiler* Filer) override;
  // Offers every deviation from the contract for repair first (yes/no
  // questions); when the user declined one, asks whether to save anyway
  // and raises EWriteError "Zawartość bufora niezgodna z kontraktem -
  // zapis anulowany" unless the answer is OK, writing nothing. Fields of a
  // contracted buffer that the contract lacks are announced and left out.
  // ETxFmlError when FML32 fails.
  void WriteFBFRContents(TStream* Stream);
  // Replaces the contents with those read. The record is read completely
  // before the buffer changes, so a failure leaves the buffer as it was:
  // EReadError "Nieznana wersja zapisu zawartości bufora FML" for a version
  // other than 1, EAbort "Za długi tekst do przeczytania ('...')" for a text
  // without its zero byte within 8193 bytes, EReadError "Stream read error"
  // for a record that ends early, ETxFmlError for a value FML32 refuses.
  // The buffer definitions are left empty until the next SyncFbfrDef.
  void ReadFBFRContents(TStream* Stream);
  // The raw image: its size and Fsizeof32 bytes of the buffer. Not used by
  // DefineProperties for writing.
  void WriteFBFRdata(TStream* Stream);
  // Reads a raw image into a block of its own, checks it with FML32
  // (Fielded32, its sizes) and walks it field by field, adding the values to
  // a new buffer that then replaces the contents; the image block itself is
  // never used as the buffer. An image that FML32 refuses (one of another
  // FML32 library, or damaged where the engine looks) raises EReadError and
  // nothing of it reaches the buffer. The image must have been written by
  // the same engine: its inside is that engine's own layout, which only the
  // engine can check, and how far it checks is its own affair.
  void ReadFBFRdata(TStream* Stream);

  // When true, adding and deleting occurrences is refused.
  bool ReadOnly = false;
  // The contract, owned by the owning component; may be nullptr.
  TTxFbfrDef* Contract = nullptr;

 private:
  void CheckWritable() const;

  TPersistent* FOwner;
  FBFR32* FFbfr = nullptr;
  std::unique_ptr<TTxFbfrDef> FFbfrDef;
};

// Publishes TTxFbfrFldDef, TTxFbfrDef and TTxFbfr to the form reader and
// writer (platform/framework/Filer.h). Runs when the unit is loaded; may be
// called again.
void RegisterTxFbfrClasses();

}  // namespace Tx
