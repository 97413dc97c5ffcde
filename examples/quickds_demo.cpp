// txlib quick data set demo: the customers of the demo domain as a table
// that services keep. A TTxQuickDSet selects them (through the reply
// cache), sorted by name; a new customer gets its number from the insert
// service; an update is refused and the server's text shown; another
// update, refused because someone else is changing the customer, is retried
// once they are done; a customer is deleted; and opening again takes the
// select from the cache, which holds every change.
//
// Library texts are Windows-1250; they are turned into UTF-8 only here,
// where they are printed.
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>

#include "client/TxGlobal.h"
#include "dataset/TxFbDset.h"
#include "examples/domain/DemoDomain.h"
#include "examples/domain/DemoFields.h"
#include "examples/CustomerTable.h"
#include "platform/framework/Dialogs.h"

namespace {

using namespace Tx;

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

void Bind(TTxQuickDSet& ds) {
  TxDemo::BindCustomerTable(ds, false);
  ds.SetIndexExpr("CUST_NAME");
  ds.SetCached(true);
  ds.Loaded();  // names the services after the data set, as a loaded form would
}

void PrintRow(TDataSet& ds) {
  std::cout << "   " << std::setw(5) << ds.FieldByName("CUST_ID")->AsInteger() << "  "
            << Padded(ds.FieldByName("CUST_NAME")->AsString(), 22) << std::setw(10) << std::fixed
            << std::setprecision(2) << ds.FieldByName("BALANCE")->AsFloat() << "  "
            << Utf8(ds.FieldByName("SEGMENT")->AsString()) << '\n';
}

void PrintRows(TDataSet& ds) {
  for (ds.First(); !ds.Eof(); ds.Next()) PrintRow(ds);
}

void PrintSelectCalls() {
  std::cout << "   (" << TxDemo::SelectService << " has been called " << TxDemo::ServedCalls(TxDemo::SelectService)
            << " time(s))\n";
}

// What the application decides when a service refuses a change.
struct RefusalPolicy {
  long HeldCustomer = 0;
  void OnUpdateFailure(TDataSet*, TUpdateKind, int RowId, int ErrCode, AnsiString ErrText,
                       TTxUpdateAction& Action) {
    std::cout << "   OnUpdateFailure: request row " << RowId << ", TDX_ERRCODE " << ErrCode << ": "
              << Utf8(ErrText) << '\n';
    if (ErrCode == TxDemo::ErrHeld) {
      std::cout << "   ... the other user finishes; the data set sends the same request again\n";
      TxDemo::ReleaseCustomer(HeldCustomer);
      Action = txuaRetry;
    }
  }
};

}  // namespace

int main() {
  std::cout << "txlib quick data set demo: the demo domain's customers as a table kept by services\n";
  unsetenv("FIELDTBLS32");
  TxDemo::UseDemoFieldTables();
  TxDemo::AdvertiseDemoDomain();
  TConsoleUserInterface console(std::cout, std::cin, -1, false);
  TUserInterfaceScope userInterface(console);
  try {
    TTxQuickDSet ds(nullptr);
    Bind(ds);
    RefusalPolicy policy;
    ds.OnUpdateFailure = TTxUpdateFailureEvent(&policy, &RefusalPolicy::OnUpdateFailure);

    Section("1. Open: CUST_SELECT, cached, shown sorted by CUST_NAME");
    ds.Open();
    PrintRows(ds);
    PrintSelectCalls();

    Section("2. Append a customer: CUST_INSERT gives the number, CUST_REFRESH reads the row back");
    ds.Append();
    ds.FieldByName("CUST_NAME")->SetAsString(Utf8ToAnsi("Zieliński Piotr"));
    ds.FieldByName("BALANCE")->SetAsFloat(0);
    ds.FieldByName("SEGMENT")->SetAsString("C");
    ds.Post();
    PrintRow(ds);
    std::cout << "   CUST_ID " << ds.FieldByName("CUST_ID")->AsInteger()
              << " is the TDX_SERIAL of the insert service's reply\n";

    Section("3. An update the server refuses: an empty name");
    ds.Locate("CUST_ID", Variant(1001), TLocateOptions());
    ds.Edit();
    ds.FieldByName("CUST_NAME")->SetAsString("");
    try {
      ds.Post();
    } catch (const EDatabaseError& e) {
      std::cout << "   Post raised EDatabaseError: " << Utf8(e.Message) << '\n';
    }
    ds.Cancel();
    PrintRow(ds);

    Section("4. Another user is changing customer 1002: refused, then retried");
    policy.HeldCustomer = 1002;
    TxDemo::HoldCustomer(1002);
    ds.Locate("CUST_ID", Variant(1002), TLocateOptions());
    ds.Edit();
    ds.FieldByName("CUST_NAME")->SetAsString("Nowak-Lis Anna");
    ds.Post();
    PrintRow(ds);
    std::cout << "   (" << TxDemo::UpdateService << " has been called " << TxDemo::ServedCalls(TxDemo::UpdateService)
              << " times: the empty name, then this change twice)\n";

    Section("5. Delete customer 1003 (balance 0): CUST_DELETE");
    ds.Locate("CUST_ID", Variant(1003), TLocateOptions());
    ds.Delete();
    PrintRows(ds);

    Section("6. Close and open again: the cached select holds every change");
    ds.Close();
    ds.Open();
    PrintRows(ds);
    PrintSelectCalls();
    ds.Close();
    TTxGlobalClient::Terminate();
  } catch (const Exception& e) {
    std::cout << "\nThe demo stopped: " << Utf8(e.Message) << '\n';
    return 1;
  }
  std::cout << "\nDone.\n";
  return 0;
}
