// The TTuxSession component wrapper: linking, events and failing reads.
#include <atmi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/framework/Dialogs.h"
#include "platform/session/ScriptedSession.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/session/TuxSessionWrapper.h"
#include "platform/tuxedo/builtin/atmi_control.h"
#include "platform/tuxedo/builtin/atmi_testing.h"

namespace Tx {
namespace {

class Listener : public TObject {
 public:
  void Connected(TObject* Sender) { Calls.push_back({"connect", Sender}); }
  void AfterConnect(TObject* Sender) { Calls.push_back({"after", Sender}); }
  void Broadcast(TObject* Sender, char16_t* Data, long Len, long Flags) {
    ASSERT_NE(Data, nullptr);
    Calls.push_back({"[" + AnsiString(WideString(Data)).str() + "] " + std::to_string(Len) + " " +
                         std::to_string(Flags),
                     Sender});
  }
  void Throwing(TObject*, char16_t*, long, long) { throw Exception("Błąd obsługi"_ansi); }

  struct Call {
    std::string What;
    TObject* Sender;
    bool operator==(const Call&) const = default;
  };
  std::vector<Call> Calls;
};

class Wrapper : public ::testing::Test {
 protected:
  void SetUp() override { ResetBuiltinSessionServer(); }
  void TearDown() override { ResetBuiltinSessionServer(); }

  void Broadcast(const char* text) {
    AtmiBuiltin::TpBuffer data("STRING", 0);
    std::strcpy(data.get(), text);
    ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, data.get(), 0, 0), 0);
  }

  AtmiBuiltin::ScopedDomain domain;
  TRecordingUserInterface ui;
  TUserInterfaceScope uiScope{ui};
};

TEST_F(Wrapper, LinksOnFirstUseAndRaisesTheEventsWithItselfAsSender) {
  TTuxSession session(nullptr);
  EXPECT_FALSE(session.ServerLinked());
  Listener listener;
  session.OnConnect = TNotifyEvent(&listener, &Listener::Connected);
  session.OnAfterConnect = TNotifyEvent(&listener, &Listener::AfterConnect);
  session.OnBroadcast = TTuxSessionBroadcastEvent(&listener, &Listener::Broadcast);

  EXPECT_FALSE(session.GetConnected());
  EXPECT_TRUE(session.ServerLinked());
  EXPECT_EQ(session.Connect(), S_OK);
  EXPECT_TRUE(session.GetConnected());

  Broadcast("Uwaga: koniec dnia \xB9");  // ą
  ASSERT_EQ(tpbroadcast(nullptr, nullptr, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(session.CheckUnsol(), S_OK);
  EXPECT_EQ(listener.Calls,
            (std::vector<Listener::Call>{{"connect", &session},
                                         {"after", &session},
                                         {"[Uwaga: koniec dnia \xB9] 21 0", &session},
                                         {"[] 0 0", &session}}));
  session.Terminate();
  EXPECT_FALSE(session.GetConnected());
}

TEST_F(Wrapper, MissingClassRaisesAtFirstUse) {
  const TBuiltinSessionServerAbsence absent;
  TTuxSession session(nullptr);
  try {
    session.SetUseRouter(false);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.Message, AnsiString("Class not registered"));
    EXPECT_EQ(e.ErrorCode, REGDB_E_CLASSNOTREG);
  }
  EXPECT_FALSE(session.ServerLinked());
}

TEST_F(Wrapper, FailingReadAsksTheCheckDialogAndGoesOnWithAnEmptyValue) {
  const Testing::TScriptedSessionClass scripted;
  scripted.Script->FailGets = true;
  TTuxSession session(nullptr);
  session.SetClientName(WideString(u"kasa"));

  ui.QueueAnswer(IDNO);
  EXPECT_EQ(session.GetClientName(), WideString());
  const std::vector<TRecordedDialog> dialogs = ui.Dialogs();
  ASSERT_EQ(dialogs.size(), 1U);
  const TDialogRequest& box = dialogs[0].Request;
  EXPECT_EQ(box.Caption, AnsiString("HRCHECK: "));
  EXPECT_EQ(box.Flags, MB_YESNOCANCEL | MB_ICONERROR);
  EXPECT_EQ(box.Text.Pos("GetDefaultInterface()->get_ClientName()"), 1);
  EXPECT_NE(box.Text.Pos("0x80004005: Unspecified error"), 0);
  EXPECT_EQ(box.Text.SubString(box.Text.Length() - 63, 64),
            AnsiString("Press [Y]es to terminate, [N]o to continue and [C]ancel to Debug"));

  ui.QueueAnswer(IDNO);
  EXPECT_FALSE(session.GetConnected());
  ui.QueueAnswer(IDYES);
  EXPECT_THROW(session.GetQuorLoginResult(), EOleSysError);
}

TEST_F(Wrapper, HandlerFailureGoesToTheApplicationAndDeliveryGoesOn) {
  TTuxSession failing(nullptr);
  TTuxSession listening(nullptr);
  Listener listener;
  failing.OnBroadcast = TTuxSessionBroadcastEvent(&listener, &Listener::Throwing);
  listening.OnBroadcast = TTuxSessionBroadcastEvent(&listener, &Listener::Broadcast);
  ASSERT_EQ(failing.Connect(), S_OK);
  Broadcast("x");
  EXPECT_EQ(listening.CheckUnsol(), S_OK);
  ASSERT_EQ(ui.Dialogs().size(), 1U);
  EXPECT_EQ(ui.Dialogs()[0].Request.Source, TDialogSource::dsShowException);
  EXPECT_EQ(ui.Dialogs()[0].Request.Text, "Błąd obsługi."_ansi);
  EXPECT_EQ(listener.Calls, (std::vector<Listener::Call>{{"[x] 2 0", &listening}}));
}

TEST_F(Wrapper, DestroyedWrapperHearsNothingMore) {
  Listener listener;
  TTuxSession keeper(nullptr);
  {
    TTuxSession gone(nullptr);
    gone.OnAfterConnect = TNotifyEvent(&listener, &Listener::AfterConnect);
    gone.GetConnected();
  }
  EXPECT_EQ(keeper.Connect(), S_OK);
  EXPECT_TRUE(listener.Calls.empty());
}

}  // namespace
}  // namespace Tx
