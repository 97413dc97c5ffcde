// A service and a client saved in a data module's form and loaded back:
// the text a person reads, defaults left out, contracts read without their
// type tests, the request's contents, and a save the user cancels.
#include <fml32.h>
#include <gtest/gtest.h>

#include <string>

#include "client/TxGlobal.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/Filer.h"
#include "platform/framework/framework_test_support.h"
#include "service/TxServic.h"

namespace Tx {
namespace {

const FLDID32 kCustId = Fmkfldid32(FLD_LONG, 601);
const FLDID32 kWhen = Fmkfldid32(FLD_STRING, 602);
const FLDID32 kStatus = Fmkfldid32(FLD_SHORT, 603);

class TFormModule : public TComponent {
 public:
  explicit TFormModule(TComponent* owner = nullptr) : TComponent(owner) {}
};
[[maybe_unused]] const bool kPublished =
    (PublishClass<TFormModule, TComponent>("TFormModule"), true);

std::string Text(TComponent* root) {
  TMemoryStream s;
  WriteComponentToStream(&s, root, TFormFileFormat::ffText);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}
void Read(const std::string& text, TComponent* root) {
  TMemoryStream s;
  s.WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
  s.SetPosition(0);
  ReadComponentFromStream(&s, root);
}

TTxFbfrFldDef* AddDef(TTxFbfrDef* contract, FLDID32 id, const char* name) {
  auto* def = static_cast<TTxFbfrFldDef*>(contract->Add());
  def->SetTxFldId(static_cast<long>(id));
  def->SetTxFldName(name);
  return def;
}

using FrameworkTest::HexBlock;

struct ServiceModule {
  TFormModule module;
  TTxService* svc = new TTxService(&module);
  ServiceModule() {
    module.SetName("Mod");
    svc->SetName("Svc");
    svc->SetServiceName("PAY");
    TTxFbfrFldDef* cust = AddDef(svc->GetSendContract(), kCustId, "CUST_ID");
    cust->SetOccMin(1);
    cust->SetOccMax(1);
    TTxFbfrFldDef* when = AddDef(svc->GetSendContract(), kWhen, "WHEN");
    when->SetLogicalType(txlftDateTime);
    when->SetMaxSize(30);
    AddDef(svc->GetRecvContract(), kStatus, "STATUS");
    svc->GetSendData()->AppendOcc(kCustId, Variant(1001));
    svc->SetRecvReadOnly(false);
    svc->SetCached(true);
    svc->SetCacheLifetime(txcltPermanent);
  }
};

std::string SendContents(TTxService* svc) {
  TMemoryStream s;
  svc->GetSendData()->WriteFBFRContents(&s);
  return std::string(static_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.GetSize()));
}

TEST(ServiceForm, ReadableTextAndEqualAfterLoading) {
  ServiceModule m;
  const std::string text = Text(&m.module);
  EXPECT_EQ(text,
            "object Mod: TFormModule\n"
            "  object Svc: TTxService\n"
            "    ServiceName = 'PAY'\n"
            "    SendContract = <\n"
            "      item\n"
            "        FieldName = 'CUST_ID'\n"
            "        OccMin = 1\n"
            "        OccMax = 1\n"
            "        TxFldId = 33555033\n"
            "      end\n"
            "      item\n"
            "        FieldName = 'WHEN'\n"
            "        LogicalType = txlftDateTime\n"
            "        MaxSize = 30\n"
            "        TxFldId = 167772762\n"
            "      end>\n"
            "    RecvContract = <\n"
            "      item\n"
            "        FieldName = 'STATUS'\n"
            "        TxFldId = 603\n"
            "      end>\n"
            "    SendData.FBFRContents = " +
                HexBlock(SendContents(m.svc)) +
                "\n"
                "    RecvReadOnly = False\n"
                "    Cached = True\n"
                "    CacheLifetime = txcltPermanent\n"
                "  end\n"
                "end\n");

  TFormModule loaded;
  Read(text, &loaded);
  auto* svc = dynamic_cast<TTxService*>(loaded.FindComponent("Svc"));
  ASSERT_NE(svc, nullptr);
  EXPECT_EQ(svc->GetSendContract()->GetFldDef(1)->GetLogicalType(), txlftDateTime);
  EXPECT_EQ(svc->GetSendData()->Contract, svc->GetSendContract());
  EXPECT_EQ(svc->GetSendData()->OccValue(kCustId, 0).AsInteger(), 1001);
  EXPECT_TRUE(svc->GetCached());
  EXPECT_EQ(Text(&loaded), text);
}

TEST(ServiceForm, ContractsAreReadWithoutTheirTypeTests) {
  // A date on a string field and a size on a long field would be refused by
  // the setters; read from a form they are taken as written.
  TFormModule loaded;
  Read(
      "object Mod: TFormModule\n object Svc: TTxService\n  SendContract = <\n   item\n"
      "    LogicalType = txlftDate\n    MaxSize = 80\n    TxFldId = 167772762\n   end>\n "
      "end\nend\n",
      &loaded);
  const TTxFbfrFldDef* def =
      static_cast<TTxService*>(loaded.Components(0))->GetSendContract()->GetFldDef(0);
  EXPECT_EQ(def->GetLogicalType(), txlftDate);
  EXPECT_EQ(def->GetMaxSize(), 80);
}

TEST(ServiceForm, DefaultsAndTheReplyAreNotSaved) {
  TFormModule module;
  module.SetName("Mod");
  auto* svc = new TTxService(&module);
  svc->SetName("Svc");
  svc->GetRecvData()->AppendOcc(kStatus, Variant(1));
  EXPECT_EQ(Text(&module), "object Mod: TFormModule\n  object Svc: TTxService\n  end\nend\n");
}

TEST(ServiceForm, CancelledSaveWritesNothing) {
  ServiceModule m;
  TRecordingUserInterface ui;
  TUserInterfaceScope scope(ui);
  const AnsiString path = AnsiString(::testing::TempDir()) + "service_form.dfm";
  WriteComponentFile(path, &m.module, TFormFileFormat::ffText);  // a first, good save
  long second = 1002;                                            // CUST_ID is allowed once
  ASSERT_NE(Fadd32(m.svc->GetSendData()->GetFbfrP(), kCustId, reinterpret_cast<char*>(&second), 0),
            -1);
  ui.QueueAnswer(IDNO);
  ui.QueueAnswer(IDCANCEL);
  try {
    WriteComponentFile(path, &m.module, TFormFileFormat::ffText);
    ADD_FAILURE() << "saved";
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message, "Zawartość bufora niezgodna z kontraktem - zapis anulowany"_ansi);
  }
  TFormModule loaded;
  ReadComponentFile(path, &loaded);
  EXPECT_EQ(static_cast<TTxService*>(loaded.Components(0))->GetSendData()->OccCount(kCustId), 1);
}

TEST(ClientForm, SettingsSavedAndAppliedWhenLoaded) {
  TFormModule module;
  module.SetName("Mod");
  auto* client = new TTxClient(&module);
  client->SetName("Client");
  client->SetUserName("jan");
  client->SetQuorAppCode("DEMO");
  client->SetAuthenticate(txakTPINIT);
  client->SetTranslateType(txttNone);
  const std::string text = Text(&module);
  EXPECT_NE(text.find("    TpTimeOut = 0\n    Connected = False\n    Authenticate = txakTPINIT\n"
                      "    UseRouter = False\n"),
            std::string::npos);
  EXPECT_NE(text.find("    UserName = 'jan'\n"), std::string::npos);
  EXPECT_EQ(text.find("TranslateType"), std::string::npos);
  EXPECT_EQ(text.find("QuorInfoLogin"), std::string::npos);
  client->SetTranslateType(txttLatin2);
  EXPECT_NE(Text(&module).find("    TranslateType = txttLatin2\n"), std::string::npos);
  client->SetTranslateType(txttNone);

  client->SetUserName("anna");
  client->SetAuthenticate(txakNone);
  TFormModule loaded;
  Read(text, &loaded);
  auto* copy = dynamic_cast<TTxClient*>(loaded.FindComponent("Client"));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->GetUserName(), "jan");
  EXPECT_EQ(copy->GetAuthenticate(), txakTPINIT);
  EXPECT_FALSE(copy->GetConnected());
}

}  // namespace
}  // namespace Tx
