// The client component against the builtin domain.
#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "client/TxGlobal.h"
#include "platform/framework/Dialogs.h"
#include "platform/session/LoginFields.h"
#include "platform/session/ScriptedSession.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/session/TuxSessionWrapper.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace Tx {
namespace {

std::string seenUser;
std::string seenClient;

// Admits everybody but "intruz" and remembers who asked.
void AuthService(TPSVCINFO* info) {
  const auto* tpinit = reinterpret_cast<const TPINIT*>(info->data);
  seenUser = tpinit->usrname;
  seenClient = tpinit->cltname;
  tpreturn(seenUser == "intruz" ? TPFAIL : TPSUCCESS, 0, nullptr, 0, 0);
}

void LoginService(TPSVCINFO*) {
  using namespace LoginFields;
  char* reply = tpalloc(const_cast<char*>("FML32"), nullptr, 1024);
  auto* fbfr = reinterpret_cast<FBFR32*>(reply);
  Fchg32(fbfr, QL_LOGIN, 0, const_cast<char*>("jkowalski"), 0);
  Fchg32(fbfr, QL_UNIT, 0, const_cast<char*>("Centrala"), 0);
  Fchg32(fbfr, QL_ROLE, 0, const_cast<char*>("Księgowa"_ansi.c_str()), 0);
  long key = 17;
  Fchg32(fbfr, QL_APPKEY, 0, reinterpret_cast<char*>(&key), 0);
  tpreturn(TPSUCCESS, 0, reply, 0, 0);
}

class Recorder : public TObject {
 public:
  void Connect(TObject* Sender) { Events.push_back({"connect", Sender}); }
  void After(TObject* Sender) { Events.push_back({"after", Sender}); }
  void Broadcast(TObject* Sender, char* Data, long Len, long Flags) {
    ASSERT_NE(Data, nullptr);
    Events.push_back(
        {std::string(Data) + "|" + std::to_string(Len) + "|" + std::to_string(Flags), Sender});
  }
  struct Event {
    std::string What;
    TObject* Sender;
    bool operator==(const Event&) const = default;
  };
  std::vector<Event> Events;
};

class Client : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    TTxGlobalClient::DisposeSession();
    ResetBuiltinSessionServer();
    TTxGlobalClient::ClearTpErrors();
    TTxGlobalClient::SetTpTimeOut(0);
    seenUser.clear();
    seenClient.clear();
  }
  void Broadcast(const char* text) {
    AtmiBuiltin::TpBuffer data("STRING", 0);
    std::strcpy(data.get(), text);
    ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data.get(), 0, 0), 0);
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
};

TEST_F(Client, PublishedPropertiesInFormOrderWithTheDeclaredDefault) {
  const std::vector<std::string> names(TTxClient::PublishedProperties.begin(),
                                       TTxClient::PublishedProperties.end());
  EXPECT_EQ(names, (std::vector<std::string>{
                       "TpTimeOut",      "Connected",       "Authenticate",   "UseRouter",
                       "ClientName",     "UserName",        "Passwd",         "Data",
                       "QuorAppCode",    "QuorAppLabel",    "QuorAppVersion", "QuorAuthDll",
                       "QuorLoginFlags", "QuorInfoLogin",   "QuorInfoUnit",   "QuorInfoRole",
                       "QuorInfoAppKey", "QuorLoginResult", "TranslateType",  "OnConnect",
                       "AfterConnect",   "OnBroadcast",     "EnvSection"}));
  TTxClient client(nullptr);
  EXPECT_EQ(client.GetTranslateType(), TTxClient::DefaultTranslateType);
  EXPECT_FALSE(client.IsTranslateTypeStored());
  client.SetTranslateType(txttLatin2);
  EXPECT_TRUE(client.IsTranslateTypeStored());
}

TEST_F(Client, TwoClientsShowTheSameSettings) {
  TTxClient first(nullptr);
  TTxClient second(nullptr);
  first.SetUserName("Józef"_ansi);
  first.SetClientName("kasa1");
  first.SetPasswd("tajne");
  first.SetData("dane");
  first.SetQuorAppCode("FK");
  first.SetQuorAppLabel("Finanse");
  first.SetQuorAppVersion("2.1");
  first.SetQuorAuthDll("auth.dll");
  first.SetQuorLoginFlags(3);
  first.SetAuthenticate(txakQuor);
  first.SetUseRouter(true);
  first.SetTpTimeOut(45);
  first.SetTranslateType(txttMazovia);
  first.SetEnvSection("test");
  EXPECT_EQ(second.GetUserName(), "Józef"_ansi);
  EXPECT_EQ(second.GetClientName(), AnsiString("kasa1"));
  EXPECT_EQ(second.GetPasswd(), AnsiString("tajne"));
  EXPECT_EQ(second.GetData(), AnsiString("dane"));
  EXPECT_EQ(second.GetQuorAppCode(), AnsiString("FK"));
  EXPECT_EQ(second.GetQuorAppLabel(), AnsiString("Finanse"));
  EXPECT_EQ(second.GetQuorAppVersion(), AnsiString("2.1"));
  EXPECT_EQ(second.GetQuorAuthDll(), AnsiString("auth.dll"));
  EXPECT_EQ(second.GetQuorLoginFlags(), 3);
  EXPECT_EQ(second.GetAuthenticate(), txakQuor);
  EXPECT_TRUE(second.GetUseRouter());
  EXPECT_EQ(second.GetTpTimeOut(), 45);
  EXPECT_EQ(second.GetTranslateType(), txttMazovia);
  EXPECT_EQ(second.GetEnvSection(), AnsiString("test"));

  // A new component puts time-out, authentication and routing back.
  const TTxClient third(nullptr);
  EXPECT_EQ(second.GetTpTimeOut(), 0);
  EXPECT_EQ(second.GetAuthenticate(), txakNone);
  EXPECT_FALSE(second.GetUseRouter());
  EXPECT_EQ(second.GetUserName(), "Józef"_ansi);
}

TEST_F(Client, EachAuthKindConnectsToTheDomain) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  tpadvertise(const_cast<char*>(LoginFields::LoginService), LoginService);
  TTxClient client(nullptr);
  client.SetUserName("anna");
  client.SetClientName("kasa2");

  client.SetConnected(true);  // txakNone: no identity
  EXPECT_TRUE(client.GetConnected());
  EXPECT_EQ(seenUser, "");
  client.SetConnected(false);
  EXPECT_FALSE(client.GetConnected());

  client.SetAuthenticate(txakTPINIT);
  client.Connect();
  EXPECT_TRUE(client.GetConnected());
  EXPECT_EQ(seenUser, "anna");
  EXPECT_EQ(seenClient, "kasa2");
  client.Terminate();

  client.SetAuthenticate(txakQuor);
  client.Connect();
  EXPECT_TRUE(client.GetConnected());
  EXPECT_EQ(client.GetQuorInfoLogin(), AnsiString("jkowalski"));
  EXPECT_EQ(client.GetQuorInfoUnit(), AnsiString("Centrala"));
  EXPECT_EQ(client.GetQuorInfoRole(), "Księgowa"_ansi);
  EXPECT_EQ(client.GetQuorInfoAppKey(), 17);
  EXPECT_EQ(client.GetQuorLoginResult(), 0);

  client.BeginTransaction();
  EXPECT_TRUE(client.IsTransaction());
  client.CommitTransaction();
  EXPECT_FALSE(client.IsTransaction());
  EXPECT_EQ(client.ArdoCheckName("kasa2"), 0);
}

TEST_F(Client, RefusedConnectionThroughThePropertyIsAPropertyError) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  TTxClient client(nullptr);
  client.SetAuthenticate(txakTPINIT);
  client.SetUserName("intruz");
  try {
    client.SetConnected(true);
    FAIL() << "no exception";
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message, "Brak połączenia z serwerem Tuxedo !"_ansi);
  }
  EXPECT_THROW(client.Connect(), ETxError);  // the forwarding member passes it unchanged
  EXPECT_FALSE(client.GetConnected());
}

TEST_F(Client, ConnectedReadFromAFormIsAppliedByLoaded) {
  TTxClient client(nullptr);
  client.SetLoading();
  client.SetReading(true);
  client.SetConnected(true);
  client.SetReading(false);
  EXPECT_FALSE(client.GetConnected());
  client.Loaded();
  EXPECT_TRUE(client.GetConnected());

  // A form saved with Connected false closes the process's open session.
  TTxClient other(nullptr);
  other.SetLoading();
  other.SetConnected(false);
  other.Loaded();
  EXPECT_FALSE(client.GetConnected());
}

TEST_F(Client, LoadedFailureIsAMessageBoxAtDesignTimeAndAnExceptionAtRunTime) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  TTxClient designed(nullptr);
  designed.SetAuthenticate(txakTPINIT);
  designed.SetUserName("intruz");
  designed.SetDesigning(true);
  designed.SetLoading();
  designed.SetConnected(true);
  EXPECT_NO_THROW(designed.Loaded());
  const std::vector<TRecordedDialog> dialogs = ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 1U);
  EXPECT_EQ(dialogs[0].Request.Source, TDialogSource::dsApplicationMessageBox);
  EXPECT_EQ(dialogs[0].Request.Text, "Brak połączenia z serwerem Tuxedo !"_ansi);
  EXPECT_EQ(dialogs[0].Request.Caption, AnsiString("Error"));
  EXPECT_EQ(dialogs[0].Request.Flags, MB_OK | MB_ICONERROR);

  TTxClient running(nullptr);  // puts Authenticate back to none; the user name stays
  running.SetAuthenticate(txakTPINIT);
  running.SetLoading();
  running.SetConnected(true);
  try {
    running.Loaded();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(typeid(e), typeid(Exception));
    EXPECT_EQ(e.Message, "Brak połączenia z serwerem Tuxedo !"_ansi);
  }
}

TEST_F(Client, BroadcastsReachOnBroadcastAsTextWithThisComponentAsSender) {
  TTxClient client(nullptr);
  Recorder recorder;
  client.SetOnBroadcast(TTxBroadcastEvent(&recorder, &Recorder::Broadcast));
  EXPECT_EQ(client.CheckUnsol(), 0);  // not connected: nothing to check
  client.Connect();
  Broadcast("Proszę zamknąć dzień"_ansi.c_str());
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(client.CheckUnsol(), 0);
  EXPECT_EQ(recorder.Events,
            (std::vector<Recorder::Event>{{"Proszę zamknąć dzień"_ansi.str() + "|21|0", &client},
                                          {"|0|0", &client}}));

  client.SetOnBroadcast(nullptr);  // without a handler messages are dropped
  Broadcast("x");
  EXPECT_EQ(client.CheckUnsol(), 0);
  EXPECT_EQ(AtmiBuiltin::QueuedMessageCount(), 0U);
  EXPECT_EQ(recorder.Events.size(), 2U);
}

TEST_F(Client, ConnectEventsComeFromTheWrapperAlsoForOtherConnections) {
  TTxClient client(nullptr);
  Recorder recorder;
  client.SetOnConnect(TNotifyEvent(&recorder, &Recorder::Connect));
  client.SetAfterConnect(TNotifyEvent(&recorder, &Recorder::After));
  EXPECT_EQ(client.GetOnConnect(), TNotifyEvent(&recorder, &Recorder::Connect));
  TTxGlobalClient::Connect();
  ASSERT_EQ(recorder.Events.size(), 2U);
  EXPECT_EQ(recorder.Events[0].What, "connect");
  EXPECT_EQ(recorder.Events[1].What, "after");
  EXPECT_NE(recorder.Events[0].Sender, &client);
  EXPECT_NE(dynamic_cast<TTuxSession*>(recorder.Events[0].Sender), nullptr);
}

TEST_F(Client, DestructionKeepsTheSessionOpen) {
  {
    TTxClient client(nullptr);
    client.Connect();
  }
  TTxClient other(nullptr);
  EXPECT_TRUE(other.GetConnected());
  EXPECT_EQ(AtmiBuiltin::JoinedClientCount(), 1U);
}

TEST_F(Client, MissingSessionClassFailsConstruction) {
  const TBuiltinSessionServerAbsence absent;
  TComponent owner(nullptr);
  EXPECT_THROW(TTxClient client(&owner), EOleSysError);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST_F(Client, FailingPropertyReadGoesOnWithAnEmptyValueAfterNo) {
  const Testing::TScriptedSessionClass scripted;
  TTxClient client(nullptr);
  client.SetUserName("anna");
  scripted.Script->FailGets = true;
  ui.QueueAnswer(IDNO);
  EXPECT_EQ(client.GetUserName(), AnsiString());
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Caption, AnsiString("HRCHECK: "));
}

}  // namespace
}  // namespace Tx
