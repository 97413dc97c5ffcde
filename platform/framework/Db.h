// The framework's data-access unit: field types, field definitions, and (as
// the unit grows) data sets, fields, data sources and data links.
//
// Field definitions describe the columns a data set offers before any field
// object exists; a data set's cursor fills its TFieldDefs when it opens, and
// default fields are made from them.
#pragma once

#include "platform/framework/AnsiString.h"
#include "platform/framework/Classes.h"

namespace Tx {

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

class TFieldDefs;

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

 protected:
  void Update(TCollectionItem* Item) override;

 private:
  bool FUpdated = false;
};

}  // namespace Tx
