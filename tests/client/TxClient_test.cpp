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
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace Tx {
namespace {

const AnsiString kNoConnection = "Brak połączenia z serwerem Tuxedo !"_ansi;

// Admits everybody but "intruz".
void AuthService(TPSVCINFO* info) {
  const bool refused =
      std::strcmp(reinterpret_cast<const TPINIT*>(info->data)->usrname, "intruz") == 0;
  tpreturn(refused ? TPFAIL : TPSUCCESS, 0, nullptr, 0, 0);
}

class Recorder : public TObject {
 public:
  void Broadcast(TObject* Sender, char* Data, long Len, long Flags) {
    ASSERT_NE(Data, nullptr);
    EXPECT_EQ(Sender, ExpectedSender);
    Events.push_back(std::string(Data) + "|" + std::to_string(Len) + "|" + std::to_string(Flags));
  }
  TObject* ExpectedSender = nullptr;
  std::vector<std::string> Events;
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
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
};

TEST_F(Client, TwoClientsShowTheSameSettings) {
  TTxClient first(nullptr);
  TTxClient second(nullptr);
  const struct {
    void (TTxClient::*Set)(const AnsiString&);
    AnsiString (TTxClient::*Get)();
    AnsiString Value;
  } texts[] = {{&TTxClient::SetUserName, &TTxClient::GetUserName, "Józef"_ansi},
               {&TTxClient::SetClientName, &TTxClient::GetClientName, "kasa1"},
               {&TTxClient::SetPasswd, &TTxClient::GetPasswd, "tajne"},
               {&TTxClient::SetData, &TTxClient::GetData, "dane"},
               {&TTxClient::SetQuorAppCode, &TTxClient::GetQuorAppCode, "FK"},
               {&TTxClient::SetQuorAppLabel, &TTxClient::GetQuorAppLabel, "Finanse"},
               {&TTxClient::SetQuorAppVersion, &TTxClient::GetQuorAppVersion, "2.1"},
               {&TTxClient::SetQuorAuthDll, &TTxClient::GetQuorAuthDll, "auth.dll"},
               {&TTxClient::SetEnvSection, &TTxClient::GetEnvSection, "test"}};
  for (const auto& t : texts) (first.*t.Set)(t.Value);
  for (const auto& t : texts) EXPECT_EQ((second.*t.Get)(), t.Value);
  EXPECT_FALSE(second.IsTranslateTypeStored());
  first.SetQuorLoginFlags(3);
  first.SetAuthenticate(txakQuor);
  first.SetUseRouter(true);
  first.SetTpTimeOut(45);
  first.SetTranslateType(txttMazovia);
  EXPECT_EQ(second.GetQuorLoginFlags(), 3);
  EXPECT_EQ(second.GetAuthenticate(), txakQuor);
  EXPECT_TRUE(second.GetUseRouter());
  EXPECT_EQ(second.GetTpTimeOut(), 45);
  EXPECT_EQ(second.GetTranslateType(), txttMazovia);
  EXPECT_TRUE(second.IsTranslateTypeStored());

  // A new component puts time-out, authentication and routing back.
  const TTxClient third(nullptr);
  EXPECT_EQ(second.GetTpTimeOut(), 0);
  EXPECT_EQ(second.GetAuthenticate(), txakNone);
  EXPECT_FALSE(second.GetUseRouter());
  EXPECT_EQ(second.GetUserName(), "Józef"_ansi);
}

TEST_F(Client, ConnectedWhileReadingWaitsForLoadedAndAtRunTimeActsAtOnce) {
  tpadvertise(const_cast<char*>("AUTHSVC"), AuthService);
  TTxClient client(nullptr);
  client.SetReading(true);
  client.SetConnected(true);
  client.SetReading(false);
  EXPECT_FALSE(client.GetConnected());
  client.SetLoading();
  client.Loaded();
  EXPECT_TRUE(client.GetConnected());

  // A form saved with Connected false closes the process's open session.
  TTxClient other(nullptr);
  other.SetLoading();
  other.SetConnected(false);
  EXPECT_TRUE(client.GetConnected());
  other.Loaded();
  EXPECT_FALSE(client.GetConnected());

  other.SetConnected(true);
  EXPECT_TRUE(client.GetConnected());
  other.SetConnected(false);
  EXPECT_FALSE(client.GetConnected());
  other.SetAuthenticate(txakTPINIT);
  other.SetUserName("intruz");
  try {
    other.SetConnected(true);
    FAIL() << "no exception";
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message, kNoConnection);
  }
  EXPECT_THROW(other.Connect(), ETxError);  // the forwarding member passes it unchanged
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
  EXPECT_EQ(dialogs[0].Request.Text, kNoConnection);
  EXPECT_EQ(dialogs[0].Request.Caption, AnsiString("Error"));
  EXPECT_EQ(dialogs[0].Request.Flags, MB_OK | MB_ICONERROR);

  designed.SetDesigning(false);
  designed.SetLoading();
  try {
    designed.Loaded();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(typeid(e), typeid(Exception));
    EXPECT_EQ(e.Message, kNoConnection);
  }
}

TEST_F(Client, BroadcastsReachOnBroadcastAsTextWithThisComponentAsSender) {
  TTxClient client(nullptr);
  Recorder recorder;
  recorder.ExpectedSender = &client;
  client.SetOnBroadcast(TTxBroadcastEvent(&recorder, &Recorder::Broadcast));
  EXPECT_EQ(client.CheckUnsol(), 0);  // not connected: nothing to check
  client.Connect();
  AtmiBuiltin::TpBuffer data("STRING", 0);
  std::strcpy(data.get(), "Proszę zamknąć dzień"_ansi.c_str());
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data.get(), 0, 0), 0);
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(client.CheckUnsol(), 0);
  EXPECT_EQ(recorder.Events,
            (std::vector<std::string>{"Proszę zamknąć dzień|21|0"_ansi.str(), "|0|0"}));

  client.SetOnBroadcast(nullptr);  // without a handler messages are dropped
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data.get(), 0, 0), 0);
  EXPECT_EQ(client.CheckUnsol(), 0);
  EXPECT_EQ(AtmiBuiltin::QueuedMessageCount(), 0U);
  EXPECT_EQ(recorder.Events.size(), 2U);
}

TEST_F(Client, MissingSessionClassFailsConstruction) {
  const TBuiltinSessionServerAbsence absent;
  try {
    TTxClient client(nullptr);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.Message, AnsiString("Class not registered"));
    EXPECT_EQ(e.ErrorCode, REGDB_E_CLASSNOTREG);
  }
}

}  // namespace
}  // namespace Tx
