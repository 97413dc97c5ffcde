// txlib data-set demo: a buffer of a few thousand customers shown as a
// table through TTxFbfrDSet. It sorts by two keys, filters, finds a Polish
// name without regard to case, edits a memo through a BLOB stream, posts,
// deletes, and prints what the data set and the buffer show after each step.
//
// Library texts are Windows-1250; they are turned into UTF-8 only here,
// where they are printed.
#include <fml32.h>

#include <iomanip>
#include <iostream>
#include <memory>
#include <string>

#include "client/TxGlobal.h"
#include "dataset/TxFbDset.h"
#include "platform/framework/Dialogs.h"

namespace {

using namespace Tx;

const FLDID32 kId = Fmkfldid32(FLD_LONG, 7001);
const FLDID32 kName = Fmkfldid32(FLD_STRING, 7002);
const FLDID32 kCity = Fmkfldid32(FLD_STRING, 7003);
const FLDID32 kBalance = Fmkfldid32(FLD_LONG, 7004);
const FLDID32 kNote = Fmkfldid32(FLD_STRING, 7005);

constexpr int kCustomers = 3000;

std::string Utf8(const AnsiString& text) { return AnsiToUtf8(text); }

void Section(const char* title) { std::cout << "\n== " << title << '\n'; }

// UTF-8 text padded with blanks to Width characters.
std::string Padded(const AnsiString& text, std::size_t width) {
  std::string utf8 = Utf8(text);
  std::size_t characters = 0;
  for (const char c : utf8) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  if (characters < width) utf8.append(width - characters, ' ');
  return utf8;
}

// The contract: what the application expects of the buffer's fields.
void Declare(TTxFbfrDef* contract) {
  struct Column {
    FLDID32 Id;
    const char* Name;
    int MaxSize;
    TTxFldLogicalType Type;
  };
  const Column columns[] = {{kId, "ID", 0, txlftDefault},
                            {kName, "NAME", 30, txlftDefault},
                            {kCity, "CITY", 20, txlftDefault},
                            {kBalance, "BALANCE", 0, txlftDefault},
                            {kNote, "NOTE", 0, txlftMemo}};
  for (const Column& column : columns) {
    TTxFbfrFldDef* def = contract->AddFldDef(column.Id);
    def->SetTxFldName(column.Name);
    def->SetLogicalType(column.Type);
    if (column.MaxSize > 0) def->SetMaxSize(column.MaxSize);
  }
}

// A reply as a select service might send it: one occurrence of every field per customer.
void Fill(TTxFbfr* buffer) {
  const char* const first[] = {"Anna", "Łukasz", "Zofia", "Paweł", "Ewa", "Grzegorz", "Małgorzata", "Jerzy"};
  const char* const last[] = {"Nowak", "Żak", "Mazur", "Kowalczyk", "Wójcik", "Śliwa", "Kruk"};
  const char* const cities[] = {"Kraków", "Łódź", "Gdańsk", "Poznań", "Wrocław", "Białystok"};
  unsigned seed = 2026;
  auto next = [&seed](unsigned range) {
    seed = seed * 1103515245U + 12345U;
    return (seed >> 16) % range;
  };
  for (int id = 1; id <= kCustomers; ++id) {
    const std::string name = std::string(first[next(8)]) + " " + last[next(7)];
    buffer->AppendOcc(kId, Variant(id));
    buffer->AppendOcc(kName, Variant(Utf8ToAnsi(name)));
    buffer->AppendOcc(kCity, Variant(Utf8ToAnsi(cities[next(6)])));
    buffer->AppendOcc(kBalance, Variant(static_cast<int>(next(20000)) - 5000));
    buffer->AppendOcc(kNote, id % 3 == 0 ? Variant(AnsiString("klient od ") + AnsiString(2000 + id % 25)) : Variant());
  }
  // One name the search below looks for.
  buffer->SetValues(kName, 1234, Variant(Utf8ToAnsi("Łucja Żmigrodzka")));
}

void PrintRow(TTxFbfrDSet& ds) {
  std::cout << "   " << std::setw(5) << ds.RecNo() << ".  #" << std::setw(4) << ds.FieldByName("ID")->AsInteger()
            << "  " << Padded(ds.FieldByName("NAME")->AsString(), 24) << Padded(ds.FieldByName("CITY")->AsString(), 10)
            << std::setw(7)
            << ds.FieldByName("BALANCE")->AsInteger() << "  " << Utf8(ds.FieldByName("NOTE")->DisplayText()) << '\n';
}

void PrintFirst(TTxFbfrDSet& ds, int count) {
  ds.First();
  for (int i = 0; i < count && !ds.Eof(); ++i, ds.Next()) PrintRow(ds);
}

// The filter the data set asks about each row it reads.
struct Rules {
  void BigDebtors(TDataSet* dataSet, bool& accept) { accept = dataSet->FieldByName("BALANCE")->AsInteger() < -4900; }
  void Updating(TDataSet*, TUpdateKind kind) {
    static const char* const kinds[] = {"modify", "insert", "delete"};
    std::cout << "   OnUpdateRecord: " << kinds[kind] << '\n';
  }
};

}  // namespace

int main() {
  std::cout << "txlib data-set demo: a buffer of " << kCustomers << " customers as a table\n";
  TConsoleUserInterface console(std::cout, std::cin, -1, false);
  TUserInterfaceScope userInterface(console);
  try {
    TTxGlobalClient::SetTranslateType(txttWindows);
    TTxFbfrDef contract(nullptr);
    Declare(&contract);
    TTxFbfr buffer(nullptr, 1 << 20);
    buffer.Contract = &contract;
    Fill(&buffer);

    Rules rules;
    TTxFbfrDSet ds(nullptr);
    ds.SetTxFbfr(&buffer);
    ds.OnUpdateRecord = TTxUpdateRecordEvent(&rules, &Rules::Updating);
    ds.Open();

    Section("1. Opened: the buffer's order");
    std::cout << "   " << ds.FieldCount() << " columns, RecordCount " << ds.RecordCount() << '\n';
    PrintFirst(ds, 3);

    Section("2. Sorted by CITY, then BALANCE descending (IndexExpr \"CITY, \\BALANCE\")");
    ds.SetIndexExpr("CITY, \\BALANCE");
    PrintFirst(ds, 4);

    Section("3. Filtered: balances below -4900");
    ds.SetOnFilterRecord(TFilterRecordEvent(&rules, &Rules::BigDebtors));
    ds.SetFiltered(true);
    int shown = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) ++shown;
    std::cout << "   " << shown << " rows pass the filter (RecordCount " << ds.RecordCount() << "); the first three:\n";
    PrintFirst(ds, 3);
    ds.SetFiltered(false);

    Section("4. Locate \"łucja ż\", ignoring case, as the start of NAME");
    if (ds.Locate("NAME", Variant(Utf8ToAnsi("łucja ż")), TLocateOptions{loCaseInsensitive, loPartialKey})) {
      PrintRow(ds);
    } else {
      std::cout << "   not found\n";
    }

    Section("5. Editing the memo NOTE through a BLOB stream, then Post");
    const int id = ds.FieldByName("ID")->AsInteger();
    ds.Edit();
    {
      std::unique_ptr<TStream> note(ds.CreateBlobStream(ds.FieldByName("NOTE"), bmReadWrite));
      const AnsiString text = Utf8ToAnsi("Zadzwonić w poniedziałek.");
      note->Seek(0, soFromEnd);
      note->WriteBuffer(text.data(), text.Length());
    }
    ds.Post();
    PrintRow(ds);
    std::cout << "   in the buffer, NOTE of occurrence " << id - 1 << ": \""
              << Utf8(buffer.GetValues(kNote, id - 1).AsString()) << "\"\n";

    Section("6. Deleting that row");
    ds.Delete();
    std::cout << "   RecordCount " << ds.RecordCount() << ", occurrences of NAME in the buffer "
              << buffer.OccCount(kName) << "; the data set now stands on:\n";
    PrintRow(ds);
    ds.Close();
  } catch (const Exception& e) {
    std::cout << "\nThe demo stopped: " << Utf8(e.Message) << '\n';
    return 1;
  }
  std::cout << "\nDone.\n";
  return 0;
}
