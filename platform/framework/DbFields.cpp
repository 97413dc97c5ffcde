// Fields of the data-access unit: TField and its descendants, TFields.
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/framework/Db.h"
#include "platform/framework/Format.h"
#include "platform/framework/Streams.h"
#include "platform/framework/TextCompare.h"

namespace Tx {

namespace {

using namespace DbConsts;

bool IsDateTimeType(TFieldType Type) noexcept {
  return Type == ftDate || Type == ftTime || Type == ftDateTime;
}

// Bytes of a value in the record buffer's native form.
int NativeSize(const TField* Field) {
  switch (Field->DataType()) {
    case ftDate:
    case ftTime:
      return static_cast<int>(sizeof(std::int32_t));
    default:
      return Field->DataSize();
  }
}

// Restores a flag and a pointer however the scope is left.
template <class T>
class TRestore {
 public:
  TRestore(T& Target, T Value) : FTarget(Target), FOld(Target) { Target = Value; }
  ~TRestore() { FTarget = FOld; }
  TRestore(const TRestore&) = delete;
  TRestore& operator=(const TRestore&) = delete;

 private:
  T& FTarget;
  T FOld;
};

}  // namespace

// ---- TFields --------------------------------------------------------------------

TField* TFields::Fields(int Index) const {
  if (Index < 0 || Index >= Count()) DatabaseError(SFieldIndexError, FDataSet);
  return FList[static_cast<std::size_t>(Index)];
}

int TFields::IndexOf(const TField* Field) const noexcept {
  for (std::size_t i = 0; i < FList.size(); ++i)
    if (FList[i] == Field) return static_cast<int>(i);
  return -1;
}

TField* TFields::FindField(const AnsiString& FieldName) const {
  // A program nearly always spells the name as the field has it; those bytes
  // compare far faster than the locale's case-blind comparison.
  if (FLookupHint < FList.size() && FList[FLookupHint]->FieldName() == FieldName)
    return FList[FLookupHint++];
  for (std::size_t i = 0; i < FList.size(); ++i)
    if (FList[i]->FieldName() == FieldName) {
      FLookupHint = i + 1;
      return FList[i];
    }
  for (TField* field : FList)
    if (AnsiSameText(field->FieldName(), FieldName)) return field;
  return nullptr;
}

TField* TFields::FieldByName(const AnsiString& FieldName) const {
  TField* field = FindField(FieldName);
  if (!field) DatabaseErrorFmt(SFieldNotFound, {FieldName}, FDataSet);
  return field;
}

TField* TFields::FieldByNumber(int FieldNo) const {
  for (TField* field : FList)
    if (field->FieldNo() == FieldNo) return field;
  return nullptr;
}

void TFields::Add(TField* Field) {
  if (Field->FieldName().IsEmpty()) DatabaseError(SFieldNameMissing, FDataSet);
  if (FindField(Field->FieldName())) DatabaseErrorFmt(SDuplicateFieldName, {Field->FieldName()}, FDataSet);
  FList.push_back(Field);
}

void TFields::Remove(TField* Field) noexcept {
  const int i = IndexOf(Field);
  if (i >= 0) FList.erase(FList.begin() + i);
}

void TFields::Clear() {
  while (!FList.empty()) delete FList.back();  // each field leaves the list itself
}

// ---- TField ----------------------------------------------------------------------

TField::TField(TComponent* AOwner) : TComponent(AOwner) {}

TField::~TField() {
  if (FDataSet) FDataSet->FFields->Remove(this);
}

void TField::SetDataSet(TDataSet* Value) {
  if (Value == FDataSet) return;
  if (FDataSet) FDataSet->CheckInactive();
  if (Value) {
    Value->CheckInactive();
    Value->FFields->Add(this);
  }
  if (FDataSet) FDataSet->FFields->Remove(this);
  FDataSet = Value;
}

void TField::SetFieldName(const AnsiString& Value) {
  if (FDataSet) {
    FDataSet->CheckInactive();
    TField* other = FDataSet->FindField(Value);
    if (other && other != this) DatabaseErrorFmt(SDuplicateFieldName, {Value}, FDataSet);
  }
  FFieldName = Value;
}

AnsiString TField::DisplayName() const {
  return FDisplayLabel.IsEmpty() ? FFieldName : FDisplayLabel;
}

void TField::SetFieldKind(TFieldKind Value) {
  if (FDataSet) FDataSet->CheckInactive();
  FFieldKind = Value;
}

int TField::Index() const { return FDataSet ? FDataSet->FFields->IndexOf(this) : -1; }

void TField::SetSize(int Value) {
  if (FDataSet) FDataSet->CheckInactive();
  FSize = Value;
}

int TField::DisplayWidth() const { return FDisplayWidth > 0 ? FDisplayWidth : GetDefaultWidth(); }

bool TField::CanModify() const {
  if (FReadOnly || !FDataSet) return false;
  if (FFieldKind != fkData) return true;
  return FDataSet->GetCanModify();
}

void TField::CheckDataSet() const {
  if (!FDataSet) DatabaseErrorFmt(SDataSetMissing, {DisplayName()});
}

bool TField::GetIsNull() const { return !GetData(nullptr); }

bool TField::GetData(void* Buffer, bool NativeFormat) const {
  CheckDataSet();
  if (FValidating) {
    if (!FValueBuffer) return false;
    if (Buffer) {
      if (NativeFormat == FValueNative || !IsDateTimeType(FDataType))
        std::memcpy(Buffer, FValueBuffer, static_cast<std::size_t>(NativeFormat ? NativeSize(this) : DataSize()));
      else
        FDataSet->DataConvert(const_cast<TField*>(this), FValueBuffer, Buffer, NativeFormat);
    }
    return true;
  }
  return FDataSet->GetFieldData(const_cast<TField*>(this), Buffer, NativeFormat);
}

void TField::SetData(void* Buffer, bool NativeFormat) {
  CheckDataSet();
  TRestore<void*> buffer(FSetBuffer, Buffer);
  TRestore<bool> native(FSetNative, NativeFormat);
  FDataSet->SetFieldData(this, Buffer, NativeFormat);
}

void TField::Validate(void* Buffer) {
  if (!OnValidate) return;
  TRestore<void*> value(FValueBuffer, Buffer);
  TRestore<bool> native(FValueNative, Buffer && Buffer == FSetBuffer ? FSetNative : true);
  TRestore<bool> validating(FValidating, true);
  OnValidate(this);
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

void TField::FocusControl() {
  if (FDataSet && FDataSet->Active()) FDataSet->DataEvent(deFocusControl, reinterpret_cast<long>(this));
}

void TField::Clear() { SetData(nullptr); }

AnsiString TField::GetTextFor(bool DisplayText) const {
  if (OnGetText) {
    AnsiString text;
    OnGetText(const_cast<TField*>(this), text, DisplayText);
    return text;
  }
  return GetText(DisplayText);
}

void TField::SetText(const AnsiString& Value) {
  if (OnSetText)
    OnSetText(this, Value);
  else
    SetAsString(Value);
}

void TField::AccessError(const char* TypeName) const {
  DatabaseErrorFmt(SFieldAccessError, {DisplayName(), TypeName});
}

Variant TField::GetAsVariant() const { AccessError("Variant"); }
void TField::SetAsVariant(const Variant& Value) {
  if (Value.IsNull() || Value.IsEmpty())
    Clear();
  else
    SetVarValue(Value);
}
void TField::SetVarValue(const Variant&) { AccessError("Variant"); }
AnsiString TField::GetAsString() const { AccessError("String"); }
void TField::SetAsStringValue(const AnsiString&) { AccessError("String"); }
int TField::GetAsInteger() const { AccessError("Integer"); }
void TField::SetAsIntegerValue(int) { AccessError("Integer"); }
double TField::GetAsFloat() const { AccessError("Float"); }
void TField::SetAsFloatValue(double) { AccessError("Float"); }
TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTimeValue(TDateTime) { AccessError("DateTime"); }
bool TField::GetAsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBooleanValue(bool) { AccessError("Boolean"); }

// ---- TStringField ----------------------------------------------------------------

TStringField::TStringField(TComponent* AOwner) : TField(AOwner) {
  SetDataType(ftString);
  TField::SetSize(20);
}

void TStringField::SetSize(int Value) { TField::SetSize(Value < 1 ? 1 : Value); }

AnsiString TStringField::GetAsString() const {
  std::vector<char> buffer(static_cast<std::size_t>(DataSize()) + 1, '\0');
  if (!GetData(buffer.data())) return AnsiString();
  return AnsiString(buffer.data(), static_cast<int>(strnlen(buffer.data(), static_cast<std::size_t>(Size()))));
}

Variant TStringField::GetAsVariant() const {
  if (IsNull()) return Null();
  return Variant(GetAsString());
}

void TStringField::SetVarValue(const Variant& Value) { SetAsStringValue(VarToStr(Value)); }

void TStringField::SetAsStringValue(const AnsiString& Value) {
  std::vector<char> buffer(static_cast<std::size_t>(DataSize()), '\0');
  const int length = Value.Length() < Size() ? Value.Length() : Size();
  if (length > 0) std::memcpy(buffer.data(), Value.data(), static_cast<std::size_t>(length));
  SetData(buffer.data());
}

int TStringField::GetAsInteger() const { return StrToInt(GetAsString()); }
void TStringField::SetAsIntegerValue(int Value) { SetAsStringValue(IntToStr(Value)); }
double TStringField::GetAsFloat() const { return StrToFloat(GetAsString()); }
void TStringField::SetAsFloatValue(double Value) { SetAsStringValue(FloatToStr(Value)); }
TDateTime TStringField::GetAsDateTime() const { return StrToDateTime(GetAsString()); }
void TStringField::SetAsDateTimeValue(TDateTime Value) { SetAsStringValue(DateTimeToStr(Value)); }

bool TStringField::GetAsBoolean() const {
  const AnsiString text = GetAsString();
  return !text.IsEmpty() && (text[1] == 'T' || text[1] == 't' || text[1] == 'Y' || text[1] == 'y');
}

void TStringField::SetAsBooleanValue(bool Value) { SetAsStringValue(Value ? "T" : "F"); }

// ---- TIntegerField / TSmallintField ---------------------------------------------------

TIntegerField::TIntegerField(TComponent* AOwner) : TIntegerField(AOwner, ftInteger, INT_MIN, INT_MAX) {}

TIntegerField::TIntegerField(TComponent* AOwner, TFieldType Type, int MinRange, int MaxRange)
    : TNumericField(AOwner), FMinRange(MinRange), FMaxRange(MaxRange) {
  SetDataType(Type);
}

bool TIntegerField::GetValue(int& Value) const {
  int stored = 0;
  if (!GetData(&stored)) return false;
  Value = stored;
  return true;
}

void TIntegerField::PutValue(int Value) { SetData(&Value); }

void TIntegerField::CheckRange(double Value) const {
  double low = FMinRange;
  double high = FMaxRange;
  if (FMinValue != 0 || FMaxValue != 0) {
    low = FMinValue;
    high = FMaxValue;
  }
  if (!(Value >= low && Value <= high))
    DatabaseErrorFmt(SFieldRangeError, {Value, DisplayName(), low, high});
}

Variant TIntegerField::GetAsVariant() const {
  int value = 0;
  return GetValue(value) ? Variant(value) : Null();
}

void TIntegerField::SetVarValue(const Variant& Value) { SetAsIntegerValue(Value.AsInteger()); }

AnsiString TIntegerField::GetAsString() const {
  int value = 0;
  return GetValue(value) ? IntToStr(value) : AnsiString();
}

void TIntegerField::SetAsStringValue(const AnsiString& Value) {
  if (Value.IsEmpty()) {
    Clear();
    return;
  }
  long long parsed = 0;
  if (!TryStrToInt64(Value, parsed)) DatabaseErrorFmt(SInvalidIntegerValue, {Value, DisplayName()});
  CheckRange(static_cast<double>(parsed));
  PutValue(static_cast<int>(parsed));
}

int TIntegerField::GetAsInteger() const {
  int value = 0;
  return GetValue(value) ? value : 0;
}

void TIntegerField::SetAsIntegerValue(int Value) {
  CheckRange(Value);
  PutValue(Value);
}

double TIntegerField::GetAsFloat() const { return GetAsInteger(); }

void TIntegerField::SetAsFloatValue(double Value) {
  const double rounded = std::nearbyint(Value);
  CheckRange(rounded);
  PutValue(static_cast<int>(rounded));
}

TSmallintField::TSmallintField(TComponent* AOwner) : TIntegerField(AOwner, ftSmallint, SHRT_MIN, SHRT_MAX) {}

bool TSmallintField::GetValue(int& Value) const {
  short stored = 0;
  if (!GetData(&stored)) return false;
  Value = stored;
  return true;
}

void TSmallintField::PutValue(int Value) {
  short stored = static_cast<short>(Value);
  SetData(&stored);
}

// ---- TFloatField ---------------------------------------------------------------------

TFloatField::TFloatField(TComponent* AOwner) : TNumericField(AOwner) { SetDataType(ftFloat); }

bool TFloatField::GetValue(double& Value) const { return GetData(&Value); }

Variant TFloatField::GetAsVariant() const {
  double value = 0.0;
  return GetValue(value) ? Variant(value) : Null();
}

void TFloatField::SetVarValue(const Variant& Value) { SetAsFloatValue(Value.AsDouble()); }

AnsiString TFloatField::GetAsString() const {
  double value = 0.0;
  return GetValue(value) ? FloatToStr(value) : AnsiString();
}

AnsiString TFloatField::GetText(bool DisplayText) const {
  double value = 0.0;
  if (!GetValue(value)) return AnsiString();
  return DisplayText ? FloatToStrF(value, ffGeneral, FPrecision, 0) : FloatToStr(value);
}

void TFloatField::SetAsStringValue(const AnsiString& Value) {
  if (Value.IsEmpty()) {
    Clear();
    return;
  }
  double parsed = 0.0;
  if (!TryStrToFloat(Value, parsed)) DatabaseErrorFmt(SInvalidFloatValue, {Value, DisplayName()});
  SetAsFloatValue(parsed);
}

int TFloatField::GetAsInteger() const {
  const double value = std::nearbyint(GetAsFloat());
  if (!(value >= INT_MIN && value <= INT_MAX)) throw ERangeError();
  return static_cast<int>(value);
}

void TFloatField::SetAsIntegerValue(int Value) { SetAsFloatValue(Value); }

double TFloatField::GetAsFloat() const {
  double value = 0.0;
  return GetValue(value) ? value : 0.0;
}

void TFloatField::SetAsFloatValue(double Value) {
  if ((FMinValue != 0.0 || FMaxValue != 0.0) && (Value < FMinValue || Value > FMaxValue))
    DatabaseErrorFmt(SFieldRangeError, {Value, DisplayName(), FMinValue, FMaxValue});
  SetData(&Value);
}

// ---- TDateTimeField / TDateField / TTimeField -----------------------------------------

TDateTimeField::TDateTimeField(TComponent* AOwner) : TDateTimeField(AOwner, ftDateTime) {}

TDateTimeField::TDateTimeField(TComponent* AOwner, TFieldType Type) : TField(AOwner) {
  SetDataType(Type);
}

TDateField::TDateField(TComponent* AOwner) : TDateTimeField(AOwner, ftDate) {}
TTimeField::TTimeField(TComponent* AOwner) : TDateTimeField(AOwner, ftTime) {}

bool TDateTimeField::GetValue(TDateTime& Value) const {
  double stored = 0.0;
  if (!GetData(&stored, false)) return false;
  Value = stored;
  return true;
}

Variant TDateTimeField::GetAsVariant() const {
  TDateTime value;
  return GetValue(value) ? Variant(value) : Null();
}

void TDateTimeField::SetVarValue(const Variant& Value) { SetAsDateTimeValue(Value.AsDateTime()); }

AnsiString TDateTimeField::GetAsString() const { return GetText(false); }

AnsiString TDateTimeField::GetText(bool DisplayText) const {
  TDateTime value;
  if (!GetValue(value)) return AnsiString();
  AnsiString format;
  if (DisplayText && !FDisplayFormat.IsEmpty())
    format = FDisplayFormat;
  else if (DataType() == ftDate)
    format = "ddddd";
  else if (DataType() == ftTime)
    format = "tt";
  return FormatDateTime(format, value);
}

void TDateTimeField::SetAsStringValue(const AnsiString& Value) {
  if (Value.IsEmpty()) {
    Clear();
    return;
  }
  switch (DataType()) {
    case ftDate:
      SetAsDateTimeValue(StrToDate(Value));
      break;
    case ftTime:
      SetAsDateTimeValue(StrToTime(Value));
      break;
    default:
      SetAsDateTimeValue(StrToDateTime(Value));
  }
}

double TDateTimeField::GetAsFloat() const { return GetAsDateTime(); }
void TDateTimeField::SetAsFloatValue(double Value) { SetAsDateTimeValue(Value); }

TDateTime TDateTimeField::GetAsDateTime() const {
  TDateTime value;
  return GetValue(value) ? value : TDateTime();
}

void TDateTimeField::SetAsDateTimeValue(TDateTime Value) {
  double stored = Value;
  SetData(&stored, false);
}

// ---- TBlobField / TMemoField / TGraphicField ----------------------------------------

TBlobField::TBlobField(TComponent* AOwner) : TBlobField(AOwner, ftBlob) {}
TBlobField::TBlobField(TComponent* AOwner, TFieldType Type) : TField(AOwner) { SetDataType(Type); }
TMemoField::TMemoField(TComponent* AOwner) : TBlobField(AOwner, ftMemo) {}
TGraphicField::TGraphicField(TComponent* AOwner) : TBlobField(AOwner, ftGraphic) {}

AnsiString TBlobField::GetAsString() const {
  CheckDataSet();
  std::unique_ptr<TStream> stream(DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead));
  if (!stream) return AnsiString();
  const std::int64_t size = stream->GetSize();
  AnsiString bytes;
  bytes.SetLength(static_cast<int>(size));
  if (size > 0) stream->ReadBuffer(&bytes[1], size);
  return bytes;
}

void TBlobField::SetAsStringValue(const AnsiString& Value) {
  CheckDataSet();
  std::unique_ptr<TStream> stream(DataSet()->CreateBlobStream(this, bmWrite));
  if (stream && Value.Length() > 0) stream->WriteBuffer(Value.data(), Value.Length());
}

void TBlobField::Clear() {
  CheckDataSet();
  std::unique_ptr<TStream> stream(DataSet()->CreateBlobStream(this, bmWrite));
}

void TBlobField::FreeBuffers() {
  if (!FModified) return;
  if (TDataSet* dataSet = DataSet()) dataSet->CloseBlob(this);
  FModified = false;
}

bool TBlobField::GetIsNull() const {
  if (!FModified) return TField::GetIsNull();
  CheckDataSet();
  std::unique_ptr<TStream> stream(DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead));
  return !stream || stream->GetSize() == 0;
}

int TBlobField::BlobSize() const {
  CheckDataSet();
  std::unique_ptr<TStream> stream(DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), bmRead));
  return stream ? static_cast<int>(stream->GetSize()) : 0;
}

void TBlobField::SaveToStream(TStream* Stream) {
  const AnsiString bytes = GetAsString();
  if (bytes.Length() > 0) Stream->WriteBuffer(bytes.data(), bytes.Length());
}

void TBlobField::LoadFromStream(TStream* Stream) {
  CheckDataSet();
  std::unique_ptr<TStream> stream(DataSet()->CreateBlobStream(this, bmWrite));
  if (stream) stream->CopyFrom(Stream, 0);
}

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Null();
  return Variant(GetAsString());
}

void TBlobField::SetVarValue(const Variant& Value) {
  if (Value.Type() == (varArray | varByte)) {
    Variant bytes = Value;
    const int count = VarArrayHighBound(bytes, 1) - VarArrayLowBound(bytes, 1) + 1;
    const auto* data = static_cast<const char*>(VarArrayLock(bytes));
    const AnsiString text(data, count);
    VarArrayUnlock(bytes);
    SetAsStringValue(text);
    return;
  }
  SetAsStringValue(VarToStr(Value));
}

AnsiString TBlobField::GetText(bool DisplayText) const {
  if (DataType() == ftMemo && !DisplayText) return GetAsString();
  const char* name = DataType() == ftMemo ? "Memo" : (DataType() == ftGraphic ? "Graphic" : "Blob");
  AnsiString text = AnsiString("(") + name + ")";
  return IsNull() ? text : text.UpperCase();
}

}  // namespace Tx
