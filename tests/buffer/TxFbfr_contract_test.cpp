// Contract application: checking raises at the first violation, repairing
// removes, fills and trims, optionally after asking the user.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "buffer/TxFbfr.h"
#include "buffer_test_support.h"
#include "platform/framework/Dialogs.h"

namespace Tx {
namespace {

const FLDID32 kAmount = Fmkfldid32(FLD_LONG, 201);  // AMOUNT in contract.fml
const FLDID32 kName = Fmkfldid32(FLD_STRING, 202);  // NAME
const FLDID32 kPhoto = Fmkfldid32(FLD_CARRAY, 203); // PHOTO
const FLDID32 kReserved = Fmkfldid32(FLD_LONG, 150000);
const FLDID32 kReservedEnd = Fmkfldid32(FLD_LONG, 999999);
const FLDID32 kPastReserved = Fmkfldid32(FLD_LONG, 1000000);
const FLDID32 kEarly = Fmkfldid32(FLD_LONG, 150);  // below every other field id

class ContractApplication : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* data = std::getenv("TXLIB_TESTDATA");
    setenv("FLDTBLDIR32", (std::string(data ? data : "tests/data") + "/buffer").c_str(), 1);
    setenv("FIELDTBLS32", "contract.fml", 1);
    UnloadNameToIdTable();
    UnloadIdToNameTable();
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTranslateType(txttWindows);
    buffer.Contract = &contract;
  }
  TTxFbfrFldDef* Declare(FLDID32 id, int occMin, int occMax) {
    TTxFbfrFldDef* def = contract.AddFldDef(id);
    def->SetOccMin(occMin);
    def->SetOccMax(occMax);
    return def;
  }
  void Add(FLDID32 id, long value, int times = 1) {
    for (int i = 0; i < times; ++i)
      ASSERT_NE(Fadd32(buffer.GetFbfrP(), id, reinterpret_cast<char*>(&value), 0), -1);
  }
  TTxFbfrDef contract{nullptr};
  TTxFbfr buffer{nullptr, 4096};
  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
};

TEST_F(ContractApplication, WithoutContractNothingIsChecked) {
  Add(kAmount, 1, 5);
  bool repair = true;
  EXPECT_TRUE(buffer.ApplyContract(true, repair, true));
  EXPECT_TRUE(repair);  // untouched
  buffer.Contract = nullptr;
  EXPECT_TRUE(buffer.ApplyContract(true, repair, true));
  EXPECT_EQ(buffer.OccCount(kAmount), 5);
  EXPECT_TRUE(ui.Dialogs().empty());
}

TEST_F(ContractApplication, CheckingRaisesTooManyWithTheExactMessage) {
  Declare(kAmount, 0, 1);
  Add(kAmount, 1, 2);
  EXPECT_EQ(MessageOf<ETxFbfrContractViolated>([&] { buffer.CheckWithContract(); }),
            "Pole AMOUNT (id.="_ansi + AnsiString(static_cast<unsigned long>(kAmount)) +
                             "): liczba wystąpień w buforze (2) większa niż w kontrakcie (1)"_ansi);
  EXPECT_EQ(buffer.OccCount(kAmount), 2);
}

TEST_F(ContractApplication, CheckingRaisesTooFewAndIgnoresExtraFields) {
  Declare(kName, 1, -1);
  Add(kAmount, 1);  // not in the contract: checking mode does not look
  EXPECT_EQ(MessageOf<ETxFbfrContractViolated>([&] { buffer.CheckWithContract(); }),
            "Pole NAME (id.="_ansi + AnsiString(static_cast<unsigned long>(kName)) +
                             "): liczba wystąpień w buforze (0) mniejsza niż w kontrakcie (1)"_ansi);
  EXPECT_EQ(Ferror32, 0);
}

TEST_F(ContractApplication, CheckingWithExtraReportsTheUndeclaredField) {
  Declare(kName, -1, -1);
  Add(kAmount, 1);
  bool repair = false;
  EXPECT_EQ(MessageOf<ETxFbfrContractViolated>([&] { buffer.ApplyContract(true, repair, false); }),
            "Pole AMOUNT <"_ansi + AnsiString(static_cast<unsigned long>(kAmount)) +
                             "> nie występuje w kontrakcie"_ansi);
  EXPECT_EQ(buffer.OccCount(kAmount), 1);
}

TEST_F(ContractApplication, RepairFillsMissingOccurrencesWithNulls) {
  Declare(kAmount, 2, -1);
  bool repair = true;
  EXPECT_TRUE(buffer.ApplyContract(false, repair, false));
  EXPECT_TRUE(repair);
  ASSERT_EQ(buffer.OccCount(kAmount), 2);
  EXPECT_EQ(FieldLong(buffer.GetFbfrP(), kAmount, 1), -2147483648L);
}

TEST_F(ContractApplication, RepairTrimsFromTheEnd) {
  Declare(kName, 0, 0);
  Declare(kAmount, 0, 2);
  ASSERT_NE(Fadd32(buffer.GetFbfrP(), kName, const_cast<char*>("x"), 0), -1);
  for (long v = 1; v <= 5; ++v) Add(kAmount, v);
  bool repair = true;
  EXPECT_TRUE(buffer.ApplyContract(false, repair, false));
  EXPECT_EQ(buffer.OccCount(kName), 0);
  ASSERT_EQ(buffer.OccCount(kAmount), 2);
  EXPECT_EQ(FieldLong(buffer.GetFbfrP(), kAmount, 0), 1);
  EXPECT_EQ(FieldLong(buffer.GetFbfrP(), kAmount, 1), 2);
}

TEST_F(ContractApplication, RepairRemovesUndeclaredFieldsAlsoTheFirstAndKeepsReservedOnes) {
  Declare(kName, -1, -1);
  Add(kEarly, 1);          // the first field of the buffer
  Add(kAmount, 2, 2);
  ASSERT_NE(Fadd32(buffer.GetFbfrP(), kName, const_cast<char*>("keep"), 0), -1);
  Add(kReserved, 3);
  Add(kReservedEnd, 4);
  Add(kPastReserved, 5);   // just past the reserved range: removed
  bool repair = true;
  EXPECT_TRUE(buffer.ApplyContract(true, repair, false));
  EXPECT_TRUE(repair);
  EXPECT_EQ(buffer.OccCount(kEarly), 0);
  EXPECT_EQ(buffer.OccCount(kAmount), 0);
  EXPECT_EQ(buffer.OccCount(kPastReserved), 0);
  EXPECT_EQ(buffer.OccCount(kName), 1);
  EXPECT_EQ(buffer.OccCount(kReserved), 1);
  EXPECT_EQ(buffer.OccCount(kReservedEnd), 1);
}

TEST_F(ContractApplication, AskingShowsEachQuestionAndNoChangesNothing) {
  Declare(kName, 1, -1);
  Declare(kAmount, 0, 1);
  Add(kAmount, 7, 3);
  Add(kEarly, 1);
  ui.SetDefaultAnswer(IDNO);
  bool repair = true;
  EXPECT_FALSE(buffer.ApplyContract(true, repair, true));
  EXPECT_FALSE(repair);
  EXPECT_EQ(buffer.OccCount(kAmount), 3);
  EXPECT_EQ(buffer.OccCount(kEarly), 1);
  EXPECT_EQ(buffer.OccCount(kName), 0);
  const auto dialogs = ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 3U);
  for (const auto& d : dialogs) {
    EXPECT_EQ(d.Request.Caption, "Bufor FML - pytanie"_ansi);
    EXPECT_EQ(d.Request.Flags, 4U);
  }
  EXPECT_EQ(dialogs[0].Request.Text,
            "Pole  <"_ansi + AnsiString(static_cast<unsigned long>(kEarly)) +
                "> nie występuje w kontrakcie.\rUsunąć je z bufora?"_ansi);
  EXPECT_EQ(dialogs[1].Request.Text,
            "Pole NAME (id.="_ansi + AnsiString(static_cast<unsigned long>(kName)) +
                "): liczba wystąpień w buforze (0) mniejsza niż w kontrakcie (1).\r"
                "Uzupełnić brakujące wystąpienia pustymi wartościami?"_ansi);
  EXPECT_EQ(dialogs[2].Request.Text,
            "Pole AMOUNT (id.="_ansi + AnsiString(static_cast<unsigned long>(kAmount)) +
                "): liczba wystąpień w buforze (3) większa niż w kontrakcie (1).\r"
                "Usunąć nadmiarowe wystąpienia?"_ansi);
  EXPECT_EQ(Ferror32, 0);  // the nameless field left no error behind
}

TEST_F(ContractApplication, AskingYesRepairs) {
  Declare(kAmount, 0, 1);
  Add(kAmount, 7, 3);
  ui.SetDefaultAnswer(IDYES);
  bool repair = true;
  EXPECT_TRUE(buffer.ApplyContract(false, repair, true));
  EXPECT_TRUE(repair);
  EXPECT_EQ(buffer.OccCount(kAmount), 1);
}

TEST_F(ContractApplication, ReadOnlyRepairsRaiseAndKeepEarlierRepairs) {
  Declare(kName, 0, 0);
  buffer.ReadOnly = true;
  ASSERT_NE(Fadd32(buffer.GetFbfrP(), kName, const_cast<char*>("x"), 0), -1);
  bool repair = true;
  EXPECT_THROW(buffer.ApplyContract(false, repair, false), Exception);
  EXPECT_EQ(buffer.OccCount(kName), 1);
}

}  // namespace
}  // namespace Tx
