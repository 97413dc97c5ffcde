// The TTuxSession component wrapper: linking and events.
#include <atmi.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/framework/Dialogs.h"
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

  using Call = std::pair<std::string, TObject*>;
  std::vector<Call> Calls;
};

class Wrapper : public ::testing::Test {
 protected:
  void SetUp() override { ResetBuiltinSessionServer(); }
  void TearDown() override { ResetBuiltinSessionServer(); }

  static void Broadcast(const char* text) {
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
  {
    TTuxSession gone(nullptr);  // a destroyed wrapper hears nothing more
    gone.OnAfterConnect = TNotifyEvent(&listener, &Listener::AfterConnect);
    gone.GetConnected();
  }
  EXPECT_EQ(session.Connect(), S_OK);
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

}  // namespace
}  // namespace Tx
