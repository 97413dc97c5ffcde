// The framework's data-access unit: field types and definitions, fields,
// data sets, data sources and data links.
//
// A data set (TDataSet) shows the records of some storage as a table. The
// base class owns the whole application-facing behaviour (states, the ring
// of record buffers, navigation, editing with its events, bookmarks,
// Locate/Lookup, calculated fields, notification of data sources); a
// descendant supplies the storage through the protected virtual operations
// marked "descendant" below (open and close the cursor, allocate and fill
// record buffers, move, post, delete, move field values in and out of a
// record buffer, bookmarks, BLOB streams).
//
// Record buffers are byte arrays the descendant allocates and lays out as it
// likes; the base only hands them back to the descendant (GetRecord,
// InitRecord, GetBookmarkData, ...). The base keeps BufferCount() + 1 of
// them while open: the records shown to the data links around the active
// record, and one spare that receives the next record read.
//
// Field values travel between the data set and the fields in the framework's
// native formats: ftDate as a 32-bit day number (DBIDATE: days since
// 0001-01-01, which is day 1), ftTime as 32-bit milliseconds since midnight
// (TIME), ftDateTime as a double of milliseconds since 0001-01-01 00:00
// (TIMESTAMP: day number * 86400000 + milliseconds); integers in their C
// sizes, floats as double, strings NUL-terminated. The fields ask for dates
// and times in the TDateTime form (GetFieldData with NativeFormat false);
// the base converts between the two forms (DataConvert), and a descendant
// that keeps TDateTime doubles itself may override the three-argument
// GetFieldData/SetFieldData and ignore the flag.
//
// Ownership. A data set owns its TFieldDefs and, while open with default
// fields, the fields it made from them (as their component owner). Fields
// made by the application belong to their owner and only join the data
// set's TFields. A data source does not own its data set; a data link does
// not own its data source. Destroying any of them detaches it from the others.
//
// Destruction. The virtual operations are gone by the time ~TDataSet runs,
// so a descendant closes itself in its own destructor (Destroying(), then
// Close()) while it is still whole.
//
// Errors are EDatabaseError with the framework's English texts, prefixed
// with "<component name>: " when the data set has a name (DatabaseError).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"
#include "platform/framework/DateTime.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/Variant.h"

namespace Tx {

class TDataSet;
class TField;
class TFields;
class TDataSource;
class TDataLink;
class TStream;

// Data types of fields, in the framework's order (the values are stored in
// form files, so the order is part of the contract).
enum TFieldType : unsigned char {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat,
  ftCurrency, ftBCD, ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes,
  ftAutoInc, ftBlob, ftMemo, ftGraphic, ftFmtMemo, ftParadoxOle, ftDBaseOle,
  ftTypedBinary, ftCursor, ftFixedChar, ftWideString, ftLargeint, ftADT,
  ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd
};

// The type's name as the framework prints it in messages ("String", "Integer").
AnsiString FieldTypeName(TFieldType Type);

// ---- The framework's native date and time encodings --------------------------

using DBIResult = unsigned short;
using DBIDATE = std::int32_t;  // days since 0001-01-01, which is day 1
using TIME = std::int32_t;     // milliseconds since midnight
using TIMESTAMP = double;      // DBIDATE * 86400000 + TIME

// Day number of the framework's date zero (1899-12-30) in DBIDATE terms.
constexpr std::int32_t DateDelta = 693594;
constexpr std::int32_t MSecsPerDay = 86400000;

// The engine's encoders: the result is 0; an invalid date or time raises
// EConvertError as EncodeDate / EncodeTime do. MilSec is seconds * 1000 +
// milliseconds.
DBIResult DbiDateEncode(unsigned short Mon, unsigned short Day, short Year, DBIDATE* Date);
DBIResult DbiTimeEncode(unsigned short Hour, unsigned short Min, unsigned short MilSec, TIME* Time);
DBIResult DbiTimeStampEncode(DBIDATE Date, TIME Time, TIMESTAMP* TimeStamp);

// One value in its native form, as a record buffer holds it.
union TDateTimeRec {
  DBIDATE Date;
  TIME Time;
  TIMESTAMP DateTime;
};

// TDateTime <-> native form for a date, time or date-time field type.
// Converting a value before 0001-01-01 raises EConvertError.
TDateTimeRec DateTimeToNative(TFieldType DataType, TDateTime Value);
TDateTime NativeToDateTime(TFieldType DataType, const TDateTimeRec& Value);

// ---- Enumerations and events ------------------------------------------------------

enum TDataSetState : unsigned char {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter,
  dsNewValue, dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening
};

enum TDataEvent : unsigned char {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange,
  deUpdateRecord, deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange,
  deFocusControl, deParentScroll, deConnectChange, deReconcileError, deDisabledStateChange
};

enum TGetMode : unsigned char { gmCurrent, gmNext, gmPrior };
enum TGetResult : unsigned char { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : unsigned char { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataAction : unsigned char { daFail, daAbort, daRetry };
enum TUpdateKind : unsigned char { ukModify, ukInsert, ukDelete };
enum TUpdateAction : unsigned char { uaFail, uaAbort, uaSkip, uaRetry, uaApplied };
enum TBlobStreamMode : unsigned char { bmRead, bmWrite, bmReadWrite };
enum TFieldKind : unsigned char { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TResyncModeEnum : unsigned char { rmExact, rmCenter };
using TResyncMode = Set<TResyncModeEnum, rmExact, rmCenter>;
enum TLocateOption : unsigned char { loCaseInsensitive, loPartialKey };
using TLocateOptions = Set<TLocateOption, loCaseInsensitive, loPartialKey>;

// A bookmark: BookmarkSize() bytes identifying a record, allocated by
// GetBookmark and released by FreeBookmark. TBookmarkStr holds the same
// bytes in a string (the Bookmark property).
using TBookmark = void*;
using TBookmarkStr = AnsiString;

using TDataSetNotifyEvent = TClosure<void(TDataSet* DataSet)>;
// E is the error being raised; the handler sets Action (daFail by default).
using TDataSetErrorEvent = TClosure<void(TDataSet* DataSet, EDatabaseError* E, TDataAction& Action)>;
// Accept starts true; clearing it hides the record.
using TFilterRecordEvent = TClosure<void(TDataSet* DataSet, bool& Accept)>;
using TFieldNotifyEvent = TClosure<void(TField* Sender)>;
using TFieldGetTextEvent = TClosure<void(TField* Sender, AnsiString& Text, bool DisplayText)>;
using TFieldSetTextEvent = TClosure<void(TField* Sender, const AnsiString& Text)>;
using TDataChangeEvent = TClosure<void(TObject* Sender, TField* Field)>;

// ---- Errors -----------------------------------------------------------------------

// Raises EDatabaseError with Message, prefixed "<Name>: " when Component is
// given and named.
[[noreturn]] void DatabaseError(const AnsiString& Message, TComponent* Component = nullptr);
// The same with Format(Pattern, Args).
[[noreturn]] void DatabaseErrorFmt(const AnsiString& Pattern, std::initializer_list<TVarRec> Args,
                                   TComponent* Component = nullptr);

// The framework's message texts, for descendants that raise the same errors.
namespace DbConsts {
inline constexpr const char* SDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* SDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* SDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* SFieldRequired = "Field '%s' must have a value";
inline constexpr const char* SRecordNotFound = "Record not found";
inline constexpr const char* SFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* SFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
inline constexpr const char* SFieldSizeMismatch = "Size mismatch for field '%s', expecting: %d actual: %d";
inline constexpr const char* SFieldRangeError = "%g is not a valid value for field '%s'. The allowed range is %g to %g";
inline constexpr const char* SInvalidTimeStamp = "'%d.%d' is not a valid timestamp";
inline constexpr const char* SInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* SInvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* SDataSetMissing = "Field '%s' has no dataset";
inline constexpr const char* SDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* SFieldNameMissing = "Field name missing";
inline constexpr const char* SUnknownFieldType = "Field '%s' is of an unknown type";
inline constexpr const char* SNotABlobField = "Field '%s' is not a blob field";
inline constexpr const char* SFieldIndexError = "Field index out of range";
}  // namespace DbConsts

// ---- Field definitions --------------------------------------------------------------

class TFieldDefs;

// The constructor of a field class: makes a field owned by Owner. The
// framework's metaclass for fields; TFieldClassOf<T> gives T's.
using TFieldClass = TField* (*)(TComponent* Owner);
template <class T>
TField* TFieldClassOf(TComponent* Owner) {
  return new T(Owner);
}

// One column as a cursor describes it. Belongs to its TFieldDefs.
class TFieldDef : public TCollectionItem {
 public:
  explicit TFieldDef(TCollection* Collection);

  const AnsiString& Name() const noexcept { return FName; }
  void SetName(const AnsiString& Value);
  TFieldType DataType() const noexcept { return FDataType; }
  void SetDataType(TFieldType Value);
  // Characters for string types, 0 where the type has a fixed size.
  int Size() const noexcept { return FSize; }
  void SetSize(int Value);
  bool Required() const noexcept { return FRequired; }
  void SetRequired(bool Value);
  int Precision() const noexcept { return FPrecision; }
  void SetPrecision(int Value);
  // 1-based position in the collection, as the cursor numbers its fields.
  int FieldNo() const noexcept { return Index() + 1; }

  // A new field of the class the owning data set uses for DataType, named,
  // sized and marked required after this definition, owned by Owner and
  // joined to that data set. nullptr for a type without a field class.
  TField* CreateField(TComponent* Owner);

  AnsiString GetDisplayName() const override { return FName; }
  void Assign(TPersistent* Source) override;

 private:
  AnsiString FName;
  TFieldType FDataType = ftUnknown;
  int FSize = 0;
  int FPrecision = 0;
  bool FRequired = false;
};

// The column descriptions of one data set. Owns its definitions.
class TFieldDefs : public TOwnedCollection {
 public:
  explicit TFieldDefs(TPersistent* Owner = nullptr);

  // A new, empty definition at the end.
  TFieldDef* AddFieldDef();
  // A new definition filled in; EDatabaseError "Duplicate name '%s' in %s"
  // (the framework's text) when Name is already there.
  TFieldDef* Add(const AnsiString& Name, TFieldType DataType, int Size = 0,
                 bool Required = false);

  TFieldDef* Items(int Index) const { return static_cast<TFieldDef*>(TCollection::Items(Index)); }
  TFieldDef* operator[](int Index) const { return Items(Index); }
  // Position of the definition named Name (case-insensitive), -1 when none.
  int IndexOf(const AnsiString& Name) const;
  // The definition named Name, nullptr when none.
  TFieldDef* FindDef(const AnsiString& Name) const;
  // The definition named Name; EDatabaseError "Field '%s' not found" when none.
  TFieldDef* Find(const AnsiString& Name) const;

  // True once the definitions reflect the cursor; cleared by any change.
  bool Updated() const noexcept { return FUpdated; }
  void SetUpdated(bool Value) noexcept { FUpdated = Value; }
  // Brings the definitions up to date: unless Updated(), the owning data
  // set fills them (InternalInitFieldDefs; a closed data set opens its
  // cursor for the description only and closes it again). Nothing without
  // an owning data set.
  void Update();
  // The data set that owns these definitions, or nullptr.
  TDataSet* DataSet() const;

 protected:
  void Update(TCollectionItem* Item) override;

 private:
  bool FUpdated = false;
};

// ---- Fields ---------------------------------------------------------------------

// The fields of a data set, in order. Holds, does not own: a field leaves
// the list when it is destroyed or joins another data set.
class TFields {
 public:
  explicit TFields(TDataSet* DataSet) noexcept : FDataSet(DataSet) {}
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const noexcept { return static_cast<int>(FList.size()); }
  // EDatabaseError "Field index out of range" outside 0..Count()-1.
  TField* Fields(int Index) const;
  TField* operator[](int Index) const { return Fields(Index); }
  int IndexOf(const TField* Field) const noexcept;
  // By name, case-insensitive; nullptr when none.
  TField* FindField(const AnsiString& FieldName) const;
  // EDatabaseError "Field '%s' not found" (with the data set's name).
  TField* FieldByName(const AnsiString& FieldName) const;
  // The field whose FieldNo is FieldNo, or nullptr.
  TField* FieldByNumber(int FieldNo) const;
  TDataSet* DataSet() const noexcept { return FDataSet; }

  // Adds a field at the end; EDatabaseError "Duplicate field name '%s'"
  // when another field has its name (case-insensitive), "Field name
  // missing" for an empty name.
  void Add(TField* Field);
  void Remove(TField* Field) noexcept;
  // Frees every field in the list, last first.
  void Clear();

 private:
  TDataSet* FDataSet;
  std::vector<TField*> FList;
  // Where FindField looks first: the field after the last one found, since
  // a program reading a row usually asks for its columns in their order.
  mutable std::size_t FLookupHint = 0;
};

// One column of a data set, seen in the data set's current record buffer
// (the active record; the buffer being calculated or filtered in those
// states). A TComponent: owned by its owner, a member of one data set.
//
// Reading: Value/AsVariant give Null for an empty field; the typed getters
// give 0, 0.0, "" or date 0 for it. Writing needs a data set in an edit
// state (the data set's SetFieldData checks that) and goes through
// Validate (OnValidate sees the new value) before it is stored; the data
// set then reports the change (OnChange, data links, calculated fields).
// A value the field cannot take raises EDatabaseError and changes nothing.
class TField : public TComponent {
 public:
  explicit TField(TComponent* AOwner);
  // Leaves the data set's field list.
  ~TField() override;

  TDataSet* DataSet() const noexcept { return FDataSet; }
  // Joins DataSet's fields (leaving the previous data set's); the data set
  // must be closed: EDatabaseError "Cannot perform this operation on an
  // open dataset" otherwise.
  void SetDataSet(TDataSet* Value);

  const AnsiString& FieldName() const noexcept { return FFieldName; }
  void SetFieldName(const AnsiString& Value);
  // DisplayLabel when set, else FieldName.
  AnsiString DisplayName() const;
  AnsiString DisplayLabel() const { return DisplayName(); }
  void SetDisplayLabel(const AnsiString& Value) { FDisplayLabel = Value; }
  TFieldType DataType() const noexcept { return FDataType; }
  TFieldKind FieldKind() const noexcept { return FFieldKind; }
  void SetFieldKind(TFieldKind Value);
  bool Calculated() const noexcept { return FFieldKind == fkCalculated; }
  void SetCalculated(bool Value) { SetFieldKind(Value ? fkCalculated : fkData); }
  // The column number in the cursor (1-based) while bound; -1 for a
  // calculated field, 0 while unbound.
  int FieldNo() const noexcept { return FFieldNo; }
  // Position in the data set's fields, -1 outside one.
  int Index() const;
  // Characters for strings, 0 for fixed-size types.
  int Size() const noexcept { return FSize; }
  virtual void SetSize(int Value);
  // Bytes of the field's value in a record buffer (native form).
  int DataSize() const { return GetDataSize(); }
  // Where a calculated field's flag byte sits inside the calculated-field
  // area of a record buffer (set while the data set is open).
  int Offset() const noexcept { return FOffset; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool Value) noexcept { FReadOnly = Value; }
  bool Required() const noexcept { return FRequired; }
  void SetRequired(bool Value) noexcept { FRequired = Value; }
  bool Visible() const noexcept { return FVisible; }
  void SetVisible(bool Value) noexcept { FVisible = Value; }
  int DisplayWidth() const;
  void SetDisplayWidth(int Value) noexcept { FDisplayWidth = Value; }
  virtual bool IsBlob() const { return false; }
  // Whether the data set may write the field: not ReadOnly, and the data
  // set can modify for data fields.
  bool CanModify() const;

  // ---- Values (see the class comment) ----
  bool IsNull() const { return GetIsNull(); }
  Variant Value() const { return GetAsVariant(); }
  void SetValue(const Variant& V) { SetAsVariant(V); }
  Variant AsVariant() const { return GetAsVariant(); }
  void SetAsVariantValue(const Variant& V) { SetAsVariant(V); }
  AnsiString AsString() const { return GetAsString(); }
  void SetAsString(const AnsiString& V) { SetAsStringValue(V); }
  int AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(int V) { SetAsIntegerValue(V); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double V) { SetAsFloatValue(V); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(TDateTime V) { SetAsDateTimeValue(V); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool V) { SetAsBooleanValue(V); }
  // The text for a data-aware control: OnGetText when set, else the value's
  // text (DisplayText true: as shown; false: as edited).
  AnsiString Text() const { return GetTextFor(false); }
  AnsiString DisplayText() const { return GetTextFor(true); }
  // OnSetText when set, else AsString := Value.
  void SetText(const AnsiString& Value);
  // Stores the empty value.
  virtual void Clear();

  // The raw value in the form the field uses (its DataSize() bytes; a
  // TDateTime double for date and time fields when NativeFormat is false).
  // Returns false for an empty field; Buffer may be nullptr to ask only that.
  bool GetData(void* Buffer, bool NativeFormat = true) const;
  // Stores Buffer (nullptr: empty) through the data set.
  void SetData(void* Buffer, bool NativeFormat = true);
  // Runs OnValidate with Buffer as the value the field reads meanwhile. The
  // data set calls it before storing a new value; a handler that raises
  // stops the change. Buffer is the one SetData passed on (in the form it
  // was given) or any other buffer in native form.
  void Validate(void* Buffer);
  // Runs OnChange. The data set calls it after a value changed.
  virtual void Change();
  // Drops what the field holds for the active record; the data set calls it
  // when a post, cancel or delete ends. A modified BLOB field closes its
  // BLOB (the data set's CloseBlob) and is no longer modified.
  virtual void FreeBuffers() {}
  // Asks the data links to focus the control showing this field.
  void FocusControl();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

 protected:
  void SetDataType(TFieldType Value) noexcept { FDataType = Value; }
  virtual int GetDataSize() const { return 0; }
  virtual bool GetIsNull() const;
  virtual Variant GetAsVariant() const;
  virtual void SetAsVariant(const Variant& Value);
  // The non-null value for SetAsVariant; the base raises the access error.
  virtual void SetVarValue(const Variant& Value);
  virtual AnsiString GetAsString() const;
  virtual void SetAsStringValue(const AnsiString& Value);
  virtual int GetAsInteger() const;
  virtual void SetAsIntegerValue(int Value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloatValue(double Value);
  virtual TDateTime GetAsDateTime() const;
  virtual void SetAsDateTimeValue(TDateTime Value);
  virtual bool GetAsBoolean() const;
  virtual void SetAsBooleanValue(bool Value);
  // The value's text (DisplayText: as shown).
  virtual AnsiString GetText(bool DisplayText) const { (void)DisplayText; return GetAsString(); }
  virtual int GetDefaultWidth() const { return 10; }
  // EDatabaseError "Cannot access field '%s' as type %s".
  [[noreturn]] void AccessError(const char* TypeName) const;
  // EDatabaseError "Field '%s' has no dataset" when the field has none.
  void CheckDataSet() const;

 private:
  friend class TDataSet;
  friend class TFieldDef;
  AnsiString GetTextFor(bool DisplayText) const;

  TDataSet* FDataSet = nullptr;
  AnsiString FFieldName;
  AnsiString FDisplayLabel;
  TFieldType FDataType = ftUnknown;
  TFieldKind FFieldKind = fkData;
  int FFieldNo = 0;
  int FSize = 0;
  int FOffset = 0;
  int FDisplayWidth = 0;
  bool FReadOnly = false;
  bool FRequired = false;
  bool FVisible = true;
  bool FValidating = false;
  bool FValueNative = true;        // the form FValueBuffer holds
  void* FValueBuffer = nullptr;    // the value OnValidate sees
  void* FSetBuffer = nullptr;      // the buffer SetData is storing
  bool FSetNative = true;
};

// Text of up to Size() characters (ftString), NUL-terminated in the record
// buffer (DataSize() = Size() + 1). A longer text is cut to Size().
class TStringField : public TField {
 public:
  explicit TStringField(TComponent* AOwner);
  void SetSize(int Value) override;

 protected:
  int GetDataSize() const override { return Size() + 1; }
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& Value) override;
  int GetAsInteger() const override;
  void SetAsIntegerValue(int Value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double Value) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime Value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool Value) override;
  int GetDefaultWidth() const override { return Size(); }
};

// A numeric field: the base of integers and floats.
class TNumericField : public TField {
 public:
  explicit TNumericField(TComponent* AOwner) : TField(AOwner) {}
};

// A 32-bit integer (ftInteger). MinValue/MaxValue, when either is non-zero,
// limit the values accepted; outside them (or outside the type's own range)
// EDatabaseError "%g is not a valid value for field '%s'. The allowed range
// is %g to %g".
class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* AOwner);
  int MinValue() const noexcept { return FMinValue; }
  void SetMinValue(int Value) noexcept { FMinValue = Value; }
  int MaxValue() const noexcept { return FMaxValue; }
  void SetMaxValue(int Value) noexcept { FMaxValue = Value; }

 protected:
  TIntegerField(TComponent* AOwner, TFieldType Type, int MinRange, int MaxRange);
  int GetDataSize() const override { return sizeof(int); }
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& Value) override;
  int GetAsInteger() const override;
  void SetAsIntegerValue(int Value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double Value) override;
  // Reads the stored value; false when empty.
  virtual bool GetValue(int& Value) const;
  // Stores a value already range-checked.
  virtual void PutValue(int Value);

 private:
  void CheckRange(double Value) const;
  int FMinRange;
  int FMaxRange;
  int FMinValue = 0;
  int FMaxValue = 0;
};

// A 16-bit integer (ftSmallint): two bytes in the record buffer.
class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* AOwner);

 protected:
  int GetDataSize() const override { return sizeof(short); }
  bool GetValue(int& Value) const override;
  void PutValue(int Value) override;
};

// A double (ftFloat). MinValue/MaxValue limit it when either is non-zero
// ("%s is not a valid value for field ..."); Precision is the number of
// significant digits of its text (15 by default).
class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* AOwner);
  double MinValue() const noexcept { return FMinValue; }
  void SetMinValue(double Value) noexcept { FMinValue = Value; }
  double MaxValue() const noexcept { return FMaxValue; }
  void SetMaxValue(double Value) noexcept { FMaxValue = Value; }
  int Precision() const noexcept { return FPrecision; }
  void SetPrecision(int Value) noexcept { FPrecision = Value < 2 ? 2 : (Value > 15 ? 15 : Value); }

 protected:
  int GetDataSize() const override { return sizeof(double); }
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& Value) override;
  int GetAsInteger() const override;
  void SetAsIntegerValue(int Value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double Value) override;
  AnsiString GetText(bool DisplayText) const override;

 private:
  bool GetValue(double& Value) const;
  double FMinValue = 0.0;
  double FMaxValue = 0.0;
  int FPrecision = 15;
};

// A date and time (ftDateTime); the base of TDateField and TTimeField. Its
// value travels as a TDateTime (GetData(..., false)); the record buffer
// holds the native form. Text: DisplayFormat when set, else the short date
// (dates), the long time (times) or both (date-times). Setting a text parses
// it (EConvertError for a bad text); an empty text clears the field.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* AOwner);
  const AnsiString& DisplayFormat() const noexcept { return FDisplayFormat; }
  void SetDisplayFormat(const AnsiString& Value) { FDisplayFormat = Value; }

 protected:
  TDateTimeField(TComponent* AOwner, TFieldType Type);
  int GetDataSize() const override { return sizeof(double); }
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& Value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double Value) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime Value) override;
  AnsiString GetText(bool DisplayText) const override;
  int GetDefaultWidth() const override { return 18; }

 private:
  bool GetValue(TDateTime& Value) const;
  AnsiString FDisplayFormat;
};

// A date (ftDate): native form DBIDATE; the time of day is dropped on writing.
class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* AOwner);
};

// A time of day (ftTime): native form TIME; the date part is dropped.
class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* AOwner);
};

// A binary value kept outside the record buffer (ftBlob), reached through
// the data set's CreateBlobStream. AsString and Value give the bytes as a
// string; writing replaces them. Modified tells that a stream wrote to the
// field since the record was read.
class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* AOwner);
  bool IsBlob() const override { return true; }
  bool Modified() const noexcept { return FModified; }
  void SetModified(bool Value) noexcept { FModified = Value; }
  TFieldType BlobType() const noexcept { return DataType(); }
  void SetBlobType(TFieldType Value) noexcept { SetDataType(Value); }
  // The whole value / a new value from Stream's position to its end.
  void SaveToStream(TStream* Stream);
  void LoadFromStream(TStream* Stream);
  int BlobSize() const;
  void Clear() override;
  void FreeBuffers() override;

 protected:
  TBlobField(TComponent* AOwner, TFieldType Type);
  Variant GetAsVariant() const override;
  void SetVarValue(const Variant& Value) override;
  AnsiString GetAsString() const override;
  void SetAsStringValue(const AnsiString& Value) override;
  AnsiString GetText(bool DisplayText) const override;
  bool GetIsNull() const override;

 private:
  bool FModified = false;
};

// Text kept outside the record buffer (ftMemo); DisplayText is "(MEMO)"
// ("(Memo)" when empty).
class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* AOwner);
};

// A picture kept outside the record buffer (ftGraphic); DisplayText is
// "(GRAPHIC)" ("(Graphic)" when empty).
class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* AOwner);
};

// ---- The data set ---------------------------------------------------------------

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* AOwner);
  // Detaches the data sources and frees the fields it owns. A descendant
  // has closed the data set in its own destructor (see the unit comment).
  ~TDataSet() override;

  // ---- Opening and closing ----
  // Open: BeforeOpen, OpenCursor(false), browse state, AfterOpen, and
  // AfterScroll unless empty. An exception on the way closes the cursor
  // again and passes on. Close: BeforeClose, inactive state, CloseCursor,
  // AfterClose. Setting the current value again does nothing.
  bool Active() const noexcept { return FState != dsInactive; }
  // While the component is being read from a form (csReading) the value is
  // only kept, and Loaded() opens a data set saved as active; an open that
  // fails there goes to InternalHandleException in the designer and is
  // raised otherwise.
  void SetActive(bool Value);
  void Loaded() override;
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  TDataSetState State() const noexcept { return FState; }
  // EDatabaseError "Cannot perform this operation on a closed dataset".
  void CheckActive() const;
  // EDatabaseError "Cannot perform this operation on an open dataset".
  void CheckInactive() const;
  // Posts (when modified) or cancels a pending edit, posts a set-key state;
  // CheckActive first.
  void CheckBrowseMode();

  // ---- Navigation ----
  // Each move: CheckBrowseMode, BeforeScroll, the move, data links told,
  // AfterScroll. MoveBy returns the distance actually moved.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int MoveBy(int Distance);
  bool Bof() const noexcept { return FBOF; }
  bool Eof() const noexcept { return FEOF; }
  // No record (and not inserting one).
  bool IsEmpty() const noexcept { return FActiveRecord >= FRecordCount; }
  int RecNo() { return GetRecNo(); }
  int RecordCount() { return GetRecordCount(); }
  // Re-reads the records around the active one from the cursor.
  void Refresh();
  // Reads the records around the cursor's record into the buffers (rmExact:
  // the cursor's record must exist, else "Record not found"; rmCenter: put
  // it in the middle of the buffers, else where the active record was).
  virtual void Resync(TResyncMode Mode);

  // ---- Editing ----
  // Edit: BeforeEdit, InternalEdit (through OnEditError), edit state,
  // AfterEdit; an empty data set inserts instead. Insert / Append:
  // BeforeInsert, BeforeScroll, a new record before the active one / at the
  // end, insert state, OnNewRecord, AfterInsert, AfterScroll. Post:
  // BeforePost, InternalPost (through OnPostError), browse state, AfterPost.
  // Cancel: BeforeCancel, the record re-read, AfterCancel. Delete:
  // BeforeDelete, BeforeScroll, InternalDelete (through OnDeleteError),
  // AfterDelete, AfterScroll. A read-only data set refuses Edit, Insert and
  // Append with "Cannot modify a read-only dataset"; Delete on an empty one
  // raises "Cannot perform this operation on an empty dataset"; Post outside
  // an edit state raises "Dataset not in edit or insert mode".
  // Only EDatabaseError reaches the error events; the action daFail raises
  // it again, daAbort raises EAbort, daRetry runs the operation again.
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Asks the data links to write their pending edits into the fields;
  // "Dataset not in edit or insert mode" outside an edit state.
  void UpdateRecord();
  bool Modified() const noexcept { return FModified; }
  bool CanModify() { return GetCanModify(); }
  // Adds a record with Values (one per field, in order; Null clears a
  // field, an empty variant or a missing value leaves it as OnNewRecord
  // made it) in one step: BeforeInsert, BeforeScroll, OnNewRecord,
  // AfterInsert, the values, BeforePost, InternalAddRecord, AfterPost,
  // AfterScroll, with the controls told once at the end. The new record
  // becomes the active one; on a failure the records stay as they were.
  void AppendRecord(std::initializer_list<Variant> Values);
  void InsertRecord(std::initializer_list<Variant> Values);
  void ClearFields();

  // ---- Fields ----
  TFields* Fields() const noexcept { return FFields.get(); }
  int FieldCount() const noexcept { return FFields->Count(); }
  TFieldDefs* FieldDefs() const noexcept { return FFieldDefs.get(); }
  TField* FindField(const AnsiString& FieldName) const { return FFields->FindField(FieldName); }
  // EDatabaseError "Field '%s' not found" (prefixed with the data set's name).
  TField* FieldByName(const AnsiString& FieldName) const { return FFields->FieldByName(FieldName); }
  TField* FieldByNumber(int FieldNo) const { return FFields->FieldByNumber(FieldNo); }
  // The fields named in a ';'-separated list, in order; unknown names raise
  // "Field '%s' not found".
  void GetFieldList(std::vector<TField*>& List, const AnsiString& FieldNames) const;
  // The value of one field, or of several (a ';'-separated list) as a
  // variant array. Setting several takes an array with one value each.
  Variant FieldValues(const AnsiString& FieldName) const;
  void SetFieldValues(const AnsiString& FieldName, const Variant& Value);
  // Whether the fields were made from the definitions at open (and are
  // freed at close).
  bool DefaultFields() const noexcept { return FDefaultFields; }

  // ---- Bookmarks ----
  // GetBookmark: a new bookmark of the active record (free it with
  // FreeBookmark), nullptr when there is no record. GotoBookmark makes the
  // bookmarked record active ("Record not found" when it is gone).
  TBookmark GetBookmark();
  void GotoBookmark(TBookmark Bookmark);
  void FreeBookmark(TBookmark Bookmark);
  TBookmarkStr Bookmark();
  void SetBookmark(const TBookmarkStr& Value);
  bool BookmarkAvailable();
  // Whether the bookmark names an existing record. The base says false.
  virtual bool BookmarkValid(TBookmark Bookmark);
  // <0, 0, >0 by the records' order; the base says 0.
  virtual int CompareBookmarks(TBookmark Bookmark1, TBookmark Bookmark2);

  // ---- Search ----
  // Makes the first record whose key fields (';'-separated) equal
  // KeyValues (one value, or an array with one per field) active and says
  // whether there was one; otherwise the active record stays. String fields
  // compare by text, with loCaseInsensitive ignoring case and loPartialKey
  // accepting a field that starts with the value; other fields compare as
  // variants. Runs CheckBrowseMode; the controls see only the final move.
  virtual bool Locate(const AnsiString& KeyFields, const Variant& KeyValues,
                      TLocateOptions Options);
  // The ResultFields' values (a variant array for several) of the first
  // record matching KeyValues, or Null. The active record does not change.
  virtual Variant Lookup(const AnsiString& KeyFields, const Variant& KeyValues,
                         const AnsiString& ResultFields);

  // ---- Filter ----
  bool Filtered() const noexcept { return FFiltered; }
  // The base stores the flag and, on an active data set whose flag changes,
  // goes to the first record (after CheckBrowseMode).
  virtual void SetFiltered(bool Value);
  const TFilterRecordEvent& OnFilterRecord() const noexcept { return FOnFilterRecord; }
  // The base stores the handler and, on an active filtered data set,
  // re-reads the records (after CheckBrowseMode).
  virtual void SetOnFilterRecord(const TFilterRecordEvent& Value);

  // ---- Controls ----
  // While disabled (the calls nest), data sources hear nothing; the last
  // EnableControls reports the state if it changed and one data-set change.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const noexcept { return FDisableCount != 0; }
  // Tells the data sources (unless controls are disabled) and reacts itself:
  // a field change marks the record modified, recalculates the calculated
  // fields (AutoCalcFields) and runs the field's OnChange. Info carries the
  // TField* for deFieldChange and deFocusControl, the scroll distance for
  // deDataSetScroll.
  virtual void DataEvent(TDataEvent Event, long Info);

  // ---- Calculated fields ----
  bool AutoCalcFields() const noexcept { return FAutoCalcFields; }
  void SetAutoCalcFields(bool Value) noexcept { FAutoCalcFields = Value; }

  // ---- Record buffers (for data links and descendants) ----
  int BufferCount() const noexcept { return FBufferCount; }
  char* ActiveBuffer() const noexcept;
  // The buffer being calculated (calc-fields state).
  char* CalcBuffer() const noexcept { return FCalcBuffer; }
  // Bytes per calculated field area and number of BLOB fields, counted when
  // the fields are bound.
  int CalcFieldsSize() const noexcept { return FCalcFieldsSize; }
  int BlobFieldCount() const noexcept { return FBlobFieldCount; }
  int BookmarkSize() const noexcept { return FBookmarkSize; }

  // ---- Descendant operations the application may call ----
  // The fields' value in a record buffer. The base's (Field, Buffer) says
  // false; (FieldNo, Buffer) finds the field and asks (Field, Buffer);
  // (Field, Buffer, NativeFormat) asks (Field, Buffer) and, when
  // NativeFormat is false, converts dates and times to TDateTime doubles.
  virtual bool GetFieldData(TField* Field, void* Buffer);
  virtual bool GetFieldData(int FieldNo, void* Buffer);
  virtual bool GetFieldData(TField* Field, void* Buffer, bool NativeFormat);
  // The base's (Field, Buffer) does nothing; (Field, Buffer, NativeFormat)
  // converts TDateTime doubles to the native form when NativeFormat is
  // false and calls (Field, Buffer).
  virtual void SetFieldData(TField* Field, void* Buffer);
  virtual void SetFieldData(TField* Field, void* Buffer, bool NativeFormat);
  // A stream on a BLOB field of the current record, owned by the caller;
  // the base gives nullptr.
  virtual TStream* CreateBlobStream(TField* Field, TBlobStreamMode Mode);
  // Releases what the descendant keeps open for a BLOB field of the active
  // record; the base does nothing.
  virtual void CloseBlob(TField* Field);
  // Reads the cursor's current record into Buffer; the base says false.
  virtual bool GetCurrentRecord(char* Buffer);
  virtual bool IsSequenced();

  // ---- Events (assign closures) ----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

 protected:
  // ---- Descendant: the cursor ----
  // OpenCursor(false) runs InternalOpen and sizes the buffer ring (reading
  // the first records); OpenCursor(true) only describes the columns
  // (InternalInitFieldDefs). Overrides do their preparation, then call the base.
  virtual void OpenCursor(bool InfoQuery);
  // Frees the buffers, then InternalClose. Overrides call the base, then
  // release their cursor.
  virtual void CloseCursor();
  // Open the storage: fill the field definitions, make the default fields
  // (CreateFields when DefaultFields()), BindFields(true), set BookmarkSize,
  // and leave the cursor before the first record. The state is still
  // dsInactive meanwhile; FieldDefs()->Update() reaches InternalInitFieldDefs
  // directly only once IsCursorOpen() answers true (otherwise it opens and
  // closes the cursor for a description).
  virtual void InternalOpen() = 0;
  // Close the storage: BindFields(false), DestroyFields when DefaultFields().
  virtual void InternalClose() = 0;
  // Fill FieldDefs() from the storage.
  virtual void InternalInitFieldDefs() = 0;
  virtual bool IsCursorOpen() = 0;
  // Report an exception that must not propagate further; the usual
  // override calls Application->HandleException(this).
  virtual void InternalHandleException() = 0;

  // ---- Descendant: record buffers ----
  // A new record buffer (owned by the data set until FreeRecordBuffer) and
  // its release (Buffer becomes nullptr). The base's give nothing.
  virtual char* AllocRecordBuffer();
  virtual void FreeRecordBuffer(char*& Buffer);
  virtual unsigned short GetRecordSize();
  // Reads the current (gmCurrent), next or prior record into Buffer and
  // moves the cursor to it. grBOF / grEOF at the cracks (the cursor then
  // stands on the crack); grError for a record that cannot be read (raised
  // instead when DoCheck). A descendant fills the bookmark and its flag
  // (bfCurrent), runs GetCalcFields(Buffer) and, when filtering, skips
  // records OnFilterRecord refuses (switching to dsFilter with SetTempState
  // while the handler reads that buffer).
  //
  // Which buffer the fields see is the descendant's choice in
  // GetFieldData/SetFieldData; the framework expects: ActiveBuffer() in
  // dsBrowse (none when IsEmpty()), dsEdit and dsInsert; CalcBuffer() in
  // dsCalcFields (Locate and Lookup scan that way too); the buffer being
  // filtered in dsFilter. A calculated field (FieldNo() < 1) keeps its value
  // in the buffer's calculated-field area (CalcFieldsSize() bytes, wherever
  // the descendant puts it): a flag byte at Offset(), then DataSize() bytes.
  // SetFieldData checks the state, runs Field->Validate(Buffer) for data
  // fields, stores, and sends DataEvent(deFieldChange, Field) unless the
  // state is dsCalcFields, dsFilter or dsNewValue.
  virtual TGetResult GetRecord(char* Buffer, TGetMode GetMode, bool DoCheck) = 0;
  // An empty record for inserting. The base's InitRecord runs
  // InternalInitRecord, clears the calculated fields and flags the buffer bfInserted.
  virtual void InternalInitRecord(char* Buffer);
  virtual void InitRecord(char* Buffer);
  // Empties the calculated-field area of Buffer; the base does nothing.
  virtual void ClearCalcFields(char* Buffer);

  // ---- Descendant: positioning ----
  // Cursor before the first / after the last record.
  virtual void InternalFirst();
  virtual void InternalLast();
  // Cursor on the bookmarked record / the record Buffer holds.
  virtual void InternalGotoBookmark(void* Bookmark);
  virtual void InternalSetToRecord(char* Buffer);
  // Bookmark bytes and flag of a record buffer.
  virtual void GetBookmarkData(char* Buffer, void* Data);
  virtual void SetBookmarkData(char* Buffer, void* Data);
  virtual TBookmarkFlag GetBookmarkFlag(char* Buffer);
  virtual void SetBookmarkFlag(char* Buffer, TBookmarkFlag Value);
  // The base's record number and count are -1 and SetRecNo does nothing.
  virtual int GetRecordCount();
  virtual int GetRecNo();
  virtual void SetRecNo(int Value);

  // ---- Descendant: changes ----
  // InternalEdit: prepare the active record for editing (base: nothing).
  // InternalPost: store the active buffer (edit: the cursor's record;
  // insert: a new record); the base checks the required fields. InternalDelete:
  // delete the cursor's record. InternalCancel: forget pending changes.
  // InternalAddRecord: store Buffer as a new record (append or insert).
  // The cursor stands on the active record when each is called; afterwards
  // the framework re-reads from the cursor (Resync), so a post or an added
  // record leaves it on the stored record and a delete on the one after.
  virtual void InternalEdit();
  virtual void InternalPost();
  virtual void InternalDelete();
  virtual void InternalCancel();
  virtual void InternalInsert();
  virtual void InternalAddRecord(void* Buffer, bool Append);
  virtual void InternalRefresh();
  // Whether records can be changed; the base says true.
  virtual bool GetCanModify();

  // ---- Descendant: events ----
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  virtual void DoOnCalcFields();
  virtual void DoOnNewRecord();

  // ---- Helpers for descendants ----
  // Fields from the definitions (those of a known type); the data set owns them.
  void CreateFields();
  // Frees every field in Fields().
  void DestroyFields();
  // Binding: gives each data field its FieldNo from the definitions
  // ("Field '%s' not found" when missing, "Type mismatch..." when the type
  // differs), lays out the calculated fields (Offset, CalcFieldsSize) and
  // counts the BLOB fields. Unbinding clears the numbers.
  void BindFields(bool Binding);
  // The TField subclass for a data type (TStringField for ftString, ...);
  // nullptr for a type without one.
  virtual TFieldClass GetFieldClass(TFieldType FieldType);
  // Runs the calculated fields for Buffer in the calc-fields state
  // (OnCalcFields sees Buffer as the record). Descendants call it from GetRecord.
  void GetCalcFields(char* Buffer);
  // Converts a date or time value between native form and TDateTime.
  virtual void DataConvert(TField* Field, const void* Source, void* Dest, bool ToNative);
  // The buffer ring. SetBufListSize keeps Value buffers allocated; the
  // active ring uses BufferCount() of them plus a spare.
  void SetBufListSize(int Value);
  void SetBufferCount(int Value);
  void UpdateBufferCount();
  char* Buffers(int Index) const { return FBuffers[static_cast<std::size_t>(Index)]; }
  int ActiveRecordIndex() const noexcept { return FActiveRecord; }
  int BufferedRecordCount() const noexcept { return FRecordCount; }
  // Reads forward / backward until the ring is full; the number read.
  int GetNextRecords();
  int GetPriorRecords();
  bool GetNextRecord();
  bool GetPriorRecord();
  void ClearBuffers();
  // The cursor no longer stands on any buffered record / put it back on
  // the active record (through the active buffer's bookmark).
  void CursorPosChanged() noexcept { FCurrentRecord = -1; }
  void UpdateCursorPos();
  void SetCurrentRecord(int Index);
  // State changes: SetState tells the data sources; SetTempState /
  // RestoreState switch silently around a short internal operation.
  void SetState(TDataSetState Value);
  TDataSetState SetTempState(TDataSetState Value);
  void RestoreState(TDataSetState Value);
  void SetModified(bool Value) noexcept { FModified = Value; }
  void SetBookmarkSize(int Value) noexcept { FBookmarkSize = Value; }
  void DoBeforeOpen(), DoAfterOpen(), DoBeforeClose(), DoAfterClose();
  // EDatabaseError "Cannot modify a read-only dataset" unless CanModify.
  void CheckCanModify();
  // "Field '%s' must have a value" for the first required data field that is empty.
  void CheckRequiredFields();

 private:
  friend class TField;
  friend class TFields;
  friend class TFieldDef;
  friend class TFieldDefs;
  friend class TDataSource;
  friend class TDataLink;
  using TDataOperation = void (TDataSet::*)();

  void DoInternalOpen();
  void OpenCursorComplete();
  void UpdateFieldDefs();
  void CalculateFields(char* Buffer);
  void MoveBuffer(int CurIndex, int NewIndex);
  void ActivateBuffers();
  void BeginInsertAppend();
  void EndInsertAppend();
  void CheckOperation(TDataOperation Operation, const TDataSetErrorEvent& ErrorEvent);
  // Lets every field drop what it holds for the active record (a modified
  // BLOB field closes its BLOB through CloseBlob).
  void FreeFieldBuffers();
  void AddDataSource(TDataSource* Source);
  void RemoveDataSource(TDataSource* Source) noexcept;
  void AdjustLinkFirstRecords(int Delta);
  void CollectDataLinks(std::vector<TDataLink*>& Links) const;
  bool RecordMatches(const std::vector<TField*>& Fields, const Variant& KeyValues,
                     TLocateOptions Options) const;
  void SetRecordValues(std::initializer_list<Variant> Values);
  void AddRecord(std::initializer_list<Variant> Values, bool Append);
  void FireEvent(const TDataSetNotifyEvent& Event) {
    if (Event) Event(this);
  }

  std::unique_ptr<TFields> FFields;
  std::unique_ptr<TFieldDefs> FFieldDefs;
  std::vector<TDataSource*> FDataSources;  // not owned
  std::vector<char*> FBuffers;             // owned through Alloc/FreeRecordBuffer
  TDataSetState FState = dsInactive;
  TDataSetState FDisableState = dsInactive;
  TDataEvent FEnableEvent = deDataSetChange;
  int FBufferCount = 0;
  int FRecordCount = 0;
  int FActiveRecord = 0;
  int FCurrentRecord = -1;
  int FDisableCount = 0;
  int FCalcFieldsSize = 0;
  int FBlobFieldCount = 0;
  int FBookmarkSize = 0;
  char* FCalcBuffer = nullptr;
  bool FBOF = true;
  bool FEOF = true;
  bool FModified = false;
  bool FFiltered = false;
  bool FAutoCalcFields = true;
  bool FDefaultFields = false;
  bool FInternalOpenComplete = false;
  bool FStreamedActive = false;
  TFilterRecordEvent FOnFilterRecord;
};

// ---- Data sources and links -----------------------------------------------------

// Connects one data set to any number of data links (controls). Hears the
// data set's events and passes them on while Enabled. Does not own the data set.
class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* AOwner);
  ~TDataSource() override;

  TDataSet* DataSet() const noexcept { return FDataSet; }
  // Leaves the previous data set and joins Value (nullptr: none); the links
  // hear the state change.
  void SetDataSet(TDataSet* Value);
  bool Enabled() const noexcept { return FEnabled; }
  void SetEnabled(bool Value);
  // Whether a link's Edit may put the data set into the edit state.
  bool AutoEdit() const noexcept { return FAutoEdit; }
  void SetAutoEdit(bool Value) noexcept { FAutoEdit = Value; }
  // The state the links see: the data set's while enabled, else inactive.
  TDataSetState State() const noexcept { return FState; }
  // Edit on the data set when AutoEdit and in the browse state.
  void Edit();
  int DataLinkCount() const noexcept { return static_cast<int>(FDataLinks.size()); }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;  // Field is set for a field change, else nullptr
  TNotifyEvent OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;
  void DataEvent(TDataEvent Event, long Info);
  void UpdateState();
  void SetState(TDataSetState Value);
  void NotifyDataLinks(TDataEvent Event, long Info);
  void AddDataLink(TDataLink* Link);
  void RemoveDataLink(TDataLink* Link) noexcept;

  TDataSet* FDataSet = nullptr;
  std::vector<TDataLink*> FDataLinks;  // not owned
  TDataSetState FState = dsInactive;
  bool FEnabled = true;
  bool FAutoEdit = true;
};

// What a data-aware control sees of a data set through a data source: a
// window of BufferCount() records around the active one, and notifications
// through the virtual methods below. Does not own its data source.
class TDataLink : public TPersistent {
 public:
  TDataLink();
  ~TDataLink() override;

  TDataSource* DataSource() const noexcept { return FDataSource; }
  void SetDataSource(TDataSource* Value);
  TDataSet* DataSet() const noexcept;
  // The data source's data set is open.
  bool Active() const noexcept { return FActive; }
  // The data set is in edit or insert state and the link not read-only.
  bool Editing() const noexcept { return FEditing; }
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool Value);
  // Records the link shows; raising it makes the data set keep more
  // buffers (the largest BufferCount among its links).
  int BufferCount() const noexcept { return FBufferCount; }
  void SetBufferCount(int Value);
  // The active record's index in the link's window (0..RecordCount()-1).
  int ActiveRecord() const noexcept;
  // Makes record Value of the window the data set's active one for reading
  // (a grid painting its rows); put the old value back afterwards.
  void SetActiveRecord(int Value);
  // Records in the window, at most BufferCount().
  int RecordCount() const noexcept;
  // Puts the data set into the edit state when the source allows it;
  // returns Editing().
  bool Edit();
  // Runs UpdateData (the control writes its pending value into the field).
  void UpdateRecord();

 protected:
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The window moved by Distance records (positive: toward the end).
  virtual void DataSetScrolled(int Distance) { (void)Distance; DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* Field) { (void)Field; }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* Field) { (void)Field; }
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;
  void DataEvent(TDataEvent Event, long Info);
  void SetActive(bool Value);
  void SetEditing(bool Value);
  void UpdateState();
  void UpdateRange();

  TDataSource* FDataSource = nullptr;
  int FBufferCount = 1;
  int FFirstRecord = 0;
  bool FActive = false;
  bool FEditing = false;
  bool FReadOnly = false;
  bool FUpdating = false;
};

}  // namespace Tx
