// Data sets saved in a data module's form and loaded back: a quick data set
// with its services' names, contracts and select request, and a service data
// set bound to a service of the module by name, in text and binary forms;
// settings at their defaults left out; a data set saved open opens again
// once the whole form is read.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/tuxedo/FmlCalls.h"
#include "dataset/TxFbDset.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Filer.h"
#include "dataset_test_support.h"
#include "platform/framework/framework_test_support.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "service/TxServiceCache.h"

namespace Tx {
namespace {

using Lines = std::vector<std::string>;

// Fields of tests/data/dataset/rows.tbl.
const FLDID32 kId = Fmkfldid32(FLD_LONG, 601), kName = Fmkfldid32(FLD_STRING, 602),
              kAmount = Fmkfldid32(FLD_DOUBLE, 603);

class TFormsModule : public TComponent {
 public:
  explicit TFormsModule(TComponent* owner = nullptr) : TComponent(owner) {}
};
[[maybe_unused]] const bool kPublished =
    (PublishClass<TFormsModule, TComponent>("TFormsModule"), true);

// ---- The server: T_SELECT answers its rows and notes each request ----

Lines trace;

void Serve(TPSVCINFO* info) {
  auto* request = reinterpret_cast<FBFR32*>(info->data);
  std::string line = info->name;
  char name[64];
  FLDLEN32 length = sizeof name;
  if (Fget32(request, kName, 0, name, &length) != -1) line += std::string(" NAME=") + name;
  Ferror32 = 0;
  trace.push_back(line);
  auto* reply = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 1024));
  const std::pair<long, const char*> rows[] = {{1, "Kowalski"}, {2, "Nowak"}};
  for (const auto& [id, text] : rows) {
    long value = id;
    double amount = 2.5 * static_cast<double>(id);
    Fadd32(reply, kId, reinterpret_cast<char*>(&value), 0);
    Fadd32(reply, kName, const_cast<char*>(text), 0);
    Fadd32(reply, kAmount, reinterpret_cast<char*>(&amount), 0);
  }
  tpreturn(TPSUCCESS, 0, reinterpret_cast<char*>(reply), 0, 0);
}

// ---- Forms ----

std::string Form(TComponent* root, TFormFileFormat format) {
  TMemoryStream s;
  WriteComponentToStream(&s, root, format);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}
void Read(const std::string& form, TComponent* root) {
  TMemoryStream s;
  s.WriteBuffer(form.data(), static_cast<std::int64_t>(form.size()));
  s.SetPosition(0);
  ReadComponentFromStream(&s, root);
}

using FrameworkTest::HexBlock;
std::string Contents(TTxFbfr* fbfr) {
  TMemoryStream s;
  fbfr->WriteFBFRContents(&s);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}

void Declare(TTxFbfrDef* contract, FLDID32 id, const char* name) {
  TTxFbfrFldDef* def = contract->AddFldDef(id);
  def->SetTxFldName(name);
}

class DataSetForm : public DataSetTest::RowsTableTest {
 protected:
  void SetUp() override {
    RowsTableTest::SetUp();
    trace.clear();
    for (const char* name : {"T_SELECT", "T_ROWS"}) tpadvertise(const_cast<char*>(name), Serve);
    GlobalCacheControl()->ClearService("T_SELECT");
  }

  // A module with a quick data set over the five services and a service
  // data set showing the request of a service beside it.
  void Fill(TFormsModule& module) {
    module.SetName("Mod");
    auto* quick = new TTxQuickDSet(&module);
    quick->SetName("Customers");
    quick->SetSelectServiceName("T_SELECT");
    Declare(quick->GetSelectContract(), kName, "NAME");
    quick->GetSelectData()->AppendOcc(kName, Variant("Kowalski"_ansi));
    Declare(quick->GetSelectRecvContract(), kId, "ID");
    Declare(quick->GetSelectRecvContract(), kName, "NAME");
    quick->GetSelectRecvContract()->GetFldDef(0)->SetAssignSerial(true);
    quick->SetRefreshServiceName("T_REFRESH");
    Declare(quick->GetRefreshContract(), kId, "ID");
    quick->SetUpdateServiceName("T_UPDATE");
    quick->SetInsertServiceName("T_INSERT");
    quick->SetDeleteServiceName("T_DELETE");
    Declare(quick->GetDeleteContract(), kId, "ID");
    quick->SetIndexExpr("\\NAME");
    quick->SetCached(true);
    quick->SetCacheLifetime(txcltPermanent);
    quick->SetReadOnly(true);

    auto* svc = new TTxService(&module);
    svc->SetName("Svc");
    svc->SetServiceName("T_ROWS");
    Declare(svc->GetSendContract(), kName, "NAME");
    auto* rows = new TTxServDSet(&module);
    rows->SetName("Rows");
    rows->SetTxService(svc);
    rows->SetTxServBuffer(SendBuffer);
    rows->SetAutoExecService(false);
    rows->SetFldGroup(0);
    rows->SetAutoCalcFields(false);
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope scope{ui};
};

TEST_F(DataSetForm, TextAndBinaryFormsLoadIntoAFreshModuleEqual) {
  TFormsModule module;
  Fill(module);
  const std::string selectRequest =
      HexBlock(Contents(static_cast<TTxQuickDSet*>(module.FindComponent("Customers"))->GetSelectData()));
  const std::string text = Form(&module, TFormFileFormat::ffText);
  EXPECT_EQ(text,
            "object Mod: TFormsModule\n"
            "  object Customers: TTxQuickDSet\n"
            "    ReadOnly = True\n"
            "    SelectSendContract = <\n"
            "      item\n"
            "        FieldName = 'NAME'\n"
            "        MaxSize = 1024\n"
            "        TxFldId = 167772762\n"
            "      end>\n"
            "    SelectSendData.FBFRContents = " +
                selectRequest +
                "\n"
                "    SelectServiceName = 'T_SELECT'\n"
                "    SelectRecvContract = <\n"
                "      item\n"
                "        FieldName = 'ID'\n"
                "        AssignSerial = True\n"
                "        TxFldId = 33555033\n"
                "      end\n"
                "      item\n"
                "        FieldName = 'NAME'\n"
                "        MaxSize = 1024\n"
                "        TxFldId = 167772762\n"
                "      end>\n"
                "    RefreshSendContract = <\n"
                "      item\n"
                "        FieldName = 'ID'\n"
                "        TxFldId = 33555033\n"
                "      end>\n"
                "    RefreshServiceName = 'T_REFRESH'\n"
                "    UpdateServiceName = 'T_UPDATE'\n"
                "    InsertServiceName = 'T_INSERT'\n"
                "    DeleteSendContract = <\n"
                "      item\n"
                "        FieldName = 'ID'\n"
                "        TxFldId = 33555033\n"
                "      end>\n"
                "    DeleteServiceName = 'T_DELETE'\n"
                "    IndexExpr = '\\NAME'\n"
                "    Cached = True\n"
                "    CacheLifetime = txcltPermanent\n"
                "  end\n"
                "  object Svc: TTxService\n"
                "    ServiceName = 'T_ROWS'\n"
                "    SendContract = <\n"
                "      item\n"
                "        FieldName = 'NAME'\n"
                "        MaxSize = 1024\n"
                "        TxFldId = 167772762\n"
                "      end>\n"
                "  end\n"
                "  object Rows: TTxServDSet\n"
                "    AutoCalcFields = False\n"
                "    AutoExecService = False\n"
                "    ServBuffer = SendBuffer\n"
                "    TxService = Svc\n"
                "    FldGroup = 0\n"
                "  end\n"
                "end\n");

  const std::string binary = Form(&module, TFormFileFormat::ffBinary);
  for (const std::string* form : {&text, &binary}) {
    SCOPED_TRACE(form == &text ? "text" : "binary");
    TFormsModule loaded;
    Read(*form, &loaded);
    EXPECT_EQ(Form(&loaded, TFormFileFormat::ffText), text);
    EXPECT_EQ(Form(&loaded, TFormFileFormat::ffBinary), binary);

    auto* quick = dynamic_cast<TTxQuickDSet*>(loaded.FindComponent("Customers"));
    ASSERT_NE(quick, nullptr);
    // The request is read into the select service's own buffer, under its contract.
    EXPECT_EQ(quick->GetSelectData()->Contract, quick->GetSelectContract());
    EXPECT_EQ(quick->GetSelectData()->OccValue(kName, 0), Variant("Kowalski"_ansi));
    EXPECT_EQ(quick->GetSelectServiceName(), "T_SELECT");
    EXPECT_EQ(quick->GetDeleteServiceName(), "T_DELETE");
    // The services are named after the data set once it is loaded.
    EXPECT_NE(quick->FindComponent("Customers_SelectService"), nullptr);
    EXPECT_NE(quick->FindComponent("Customers_DeleteService"), nullptr);

    auto* rows = dynamic_cast<TTxServDSet*>(loaded.FindComponent("Rows"));
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->GetTxService(), loaded.FindComponent("Svc"));
    EXPECT_FALSE(rows->Active());
  }
}

TEST_F(DataSetForm, SettingsAtTheirDefaultsAreNotWritten) {
  TFormsModule module;
  module.SetName("Mod");
  (new TTxQuickDSet(&module))->SetName("Quick");
  (new TTxServDSet(&module))->SetName("Serv");
  (new TTxFbfrDSet(&module))->SetName("Plain");
  EXPECT_EQ(Form(&module, TFormFileFormat::ffText),
            "object Mod: TFormsModule\n"
            "  object Quick: TTxQuickDSet\n"
            "  end\n"
            "  object Serv: TTxServDSet\n"
            "  end\n"
            "  object Plain: TTxFbfrDSet\n"
            "  end\n"
            "end\n");

  // What only the base publishes, and the other end of each default.
  auto* plain = static_cast<TTxFbfrDSet*>(module.FindComponent("Plain"));
  plain->SetFiltered(true);
  plain->SetFldGroup(2);  // published by the service-bound data sets only
  plain->SetIndexExpr("ID");
  auto* quick = static_cast<TTxQuickDSet*>(module.FindComponent("Quick"));
  quick->SetFldGroup(1);
  quick->SetDetectTDXInfo(true);
  EXPECT_EQ(Form(&module, TFormFileFormat::ffText),
            "object Mod: TFormsModule\n"
            "  object Quick: TTxQuickDSet\n"
            "    FldGroup = 1\n"
            "    DetectTDXInfo = True\n"
            "  end\n"
            "  object Serv: TTxServDSet\n"
            "  end\n"
            "  object Plain: TTxFbfrDSet\n"
            "    Filtered = True\n"
            "  end\n"
            "end\n");
}

TEST_F(DataSetForm, DataSetsSavedOpenOpenAgainOnceTheWholeFormIsRead) {
  std::string text;
  {
    TFormsModule module;
    Fill(module);
    auto* quick = static_cast<TTxQuickDSet*>(module.FindComponent("Customers"));
    quick->SetCached(false);
    quick->Open();
    auto* rows = static_cast<TTxServDSet*>(module.FindComponent("Rows"));
    rows->SetTxServBuffer(RecvBuffer);
    rows->SetAutoExecService(true);
    static_cast<TTxService*>(module.FindComponent("Svc"))->SetRecvContract(
        quick->GetSelectRecvContract());
    rows->Open();
    text = Form(&module, TFormFileFormat::ffText);
  }
  EXPECT_EQ(trace, (Lines{"T_SELECT NAME=Kowalski", "T_ROWS"}));
  EXPECT_NE(text.find("  object Customers: TTxQuickDSet\n    ReadOnly = True\n    Active = True\n"),
            std::string::npos);
  EXPECT_NE(text.find("  object Rows: TTxServDSet\n    Active = True\n"), std::string::npos);
  trace.clear();

  // The service data set is read before its service is set (by name, at the
  // end) and still opens on the service's reply.
  TFormsModule loaded;
  Read(text, &loaded);
  EXPECT_EQ(trace, (Lines{"T_SELECT NAME=Kowalski", "T_ROWS"}));
  // The quick data set shows its rows in its saved order, the other in the reply's.
  const std::pair<const char*, Lines> expected[] = {{"Customers", {"2 Nowak", "1 Kowalski"}},
                                                    {"Rows", {"1 Kowalski", "2 Nowak"}}};
  for (const auto& [name, rows] : expected) {
    SCOPED_TRACE(name);
    auto* ds = static_cast<TTxFbfrDSet*>(loaded.FindComponent(name));
    ASSERT_TRUE(ds->Active());
    Lines shown;
    for (ds->First(); !ds->Eof(); ds->Next())
      shown.push_back(ds->FieldByName("ID")->AsString().str() + " " + ds->FieldByName("NAME")->AsString().str());
    EXPECT_EQ(shown, rows);
  }
  EXPECT_EQ(Form(&loaded, TFormFileFormat::ffText), text);
}

}  // namespace
}  // namespace Tx
