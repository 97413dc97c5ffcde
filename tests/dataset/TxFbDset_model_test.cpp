// A long scenario against a simple model: a data set over 20,000 rows goes
// through random edits, inserts whose ids come from the refresh event,
// deletes, changes of order and of the filter; the rows it shows and the
// buffer's occurrences are compared with the model as it goes.
#include <fml32.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "dataset/TxFbDset.h"
#include "platform/framework/Dialogs.h"

namespace Tx {
namespace {

const FLDID32 kId = Fmkfldid32(FLD_LONG, 601);
const FLDID32 kName = Fmkfldid32(FLD_STRING, 602);
const FLDID32 kAmount = Fmkfldid32(FLD_LONG, 603);

struct TRow {
  int Id;
  std::string Name;
  int Amount;
  friend bool operator==(const TRow&, const TRow&) = default;
};

// What the data set's events do: ids for new rows, the filter's rule.
struct THandlers {
  int NextId = 0;
  void Refresh(TDataSet* dataSet, TUpdateKind kind) {
    if (kind == ukInsert) dataSet->FieldByName("ID")->SetAsInteger(++NextId);
  }
  void Filter(TDataSet* dataSet, bool& accept) { accept = dataSet->FieldByName("AMOUNT")->AsInteger() % 3 == 0; }
};

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    TTxGlobalClient::SetTranslateType(txttWindows);
    buffer.Contract = &contract;
    for (auto [id, name] : {std::pair{kId, "ID"}, {kName, "NAME"}, {kAmount, "AMOUNT"}}) {
      TTxFbfrFldDef* def = contract.AddFldDef(id);
      def->SetTxFldName(name);
      if (id == kName) def->SetMaxSize(8);
    }
  }
  std::string RandomName() {
    std::string name(1 + random() % 8, 'A');
    for (char& c : name) c = static_cast<char>('A' + random() % 26);
    return name;
  }
  int RandomAmount() { return static_cast<int>(random() % 1000); }
  bool Accepted(const TRow& row) const { return !ds.Filtered() || row.Amount % 3 == 0; }

  // The rows the data set should show, in its order.
  std::vector<TRow> Expected() const {
    std::vector<TRow> rows;
    for (const TRow& row : model)
      if (Accepted(row)) rows.push_back(row);
    if (order == 1)
      std::sort(rows.begin(), rows.end(),
                [](const TRow& a, const TRow& b) { return std::tie(a.Name, a.Id) < std::tie(b.Name, b.Id); });
    if (order == 2)
      std::sort(rows.begin(), rows.end(),
                [](const TRow& a, const TRow& b) { return std::tie(b.Amount, a.Id) < std::tie(a.Amount, b.Id); });
    return rows;
  }
  TRow Shown() {
    return {ds.FieldByName("ID")->AsInteger(), ds.FieldByName("NAME")->AsString().str(),
            ds.FieldByName("AMOUNT")->AsInteger()};
  }
  void CheckEverything() {
    std::vector<TRow> shown;
    for (ds.First(); !ds.Eof(); ds.Next()) shown.push_back(Shown());
    ASSERT_EQ(shown, Expected());
    if (!ds.Filtered()) {
      ASSERT_EQ(ds.RecordCount(), static_cast<int>(model.size()));
    }
    ASSERT_EQ(buffer.OccCount(kId), static_cast<int>(model.size()));
    for (std::size_t occ = 0; occ < model.size(); occ += 97)
      ASSERT_EQ(buffer.GetValues(kId, static_cast<int>(occ)).AsInteger(), model[occ].Id);
  }
  // Makes the row at occurrence Occ active, through its bookmark.
  void GoTo(int occ) { ds.GotoBookmark(&occ); }
  // A random row the data set shows, or -1.
  int RandomVisible() {
    for (int tries = 0; tries < 20; ++tries) {
      const int occ = static_cast<int>(random() % model.size());
      if (Accepted(model[static_cast<std::size_t>(occ)])) return occ;
    }
    return -1;
  }

  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer{nullptr, 1 << 20};
  TTxFbfrDSet ds{nullptr};
  THandlers handlers;
  std::vector<TRow> model;
  int order = 0;
  std::mt19937 random{20260};
};

TEST_F(Scenario, RandomChangesAgreeWithTheModel) {
  constexpr int kRows = 20000;
  constexpr int kOperations = 2000;
  for (int i = 0; i < kRows; ++i) {
    model.push_back({++handlers.NextId, RandomName(), RandomAmount()});
    buffer.AppendOcc(kId, Variant(model.back().Id));
    buffer.AppendOcc(kName, Variant(AnsiString(model.back().Name)));
    buffer.AppendOcc(kAmount, Variant(model.back().Amount));
  }
  ds.SetTxFbfr(&buffer);
  ds.OnRefreshRow = TTxUpdateRecordEvent(&handlers, &THandlers::Refresh);
  ds.SetOnFilterRecord(TFilterRecordEvent(&handlers, &THandlers::Filter));
  ds.Open();
  const char* const orders[] = {"", "NAME,ID", "\\AMOUNT,ID"};
  for (int step = 0; step < kOperations; ++step) {
    const int what = static_cast<int>(random() % 100);
    if (what < 40) {  // edit a row the data set shows
      const int occ = RandomVisible();
      if (occ < 0) continue;
      TRow& row = model[static_cast<std::size_t>(occ)];
      GoTo(occ);
      ASSERT_EQ(Shown(), row) << step;
      row.Name = RandomName();
      row.Amount = RandomAmount();
      ds.Edit();
      ds.FieldByName("NAME")->SetAsString(AnsiString(row.Name));
      ds.FieldByName("AMOUNT")->SetAsInteger(row.Amount);
      ds.Post();
      if (Accepted(row)) {
        ASSERT_EQ(Shown(), row) << step;
      }
    } else if (what < 70) {  // insert: the refresh event gives the id
      TRow row{handlers.NextId + 1, RandomName(), RandomAmount()};
      ds.Append();
      ds.FieldByName("NAME")->SetAsString(AnsiString(row.Name));
      ds.FieldByName("AMOUNT")->SetAsInteger(row.Amount);
      ds.Post();
      model.push_back(row);
      if (Accepted(row)) {
        ASSERT_EQ(Shown(), row) << step;
      }
    } else if (what < 94) {  // delete a row the data set shows
      const int occ = RandomVisible();
      if (occ < 0) continue;
      GoTo(occ);
      ds.Delete();
      model.erase(model.begin() + occ);
    } else if (what < 97) {
      order = static_cast<int>(random() % 3);
      ds.SetIndexExpr(orders[order]);
    } else {
      ds.SetFiltered(!ds.Filtered());
    }
    if (step % 500 == 499) {
      ASSERT_NO_FATAL_FAILURE(CheckEverything()) << step;
    }
  }
  ASSERT_NO_FATAL_FAILURE(CheckEverything());
  EXPECT_TRUE(ui.Dialogs().empty());
}

}  // namespace
}  // namespace Tx
