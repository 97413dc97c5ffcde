// Service hooks: order, uniqueness, refusal, what each form receives, and
// lists changed from inside a hook.
#include "service/Txhooks.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Tx {
namespace {

const FLDID32 kLong = Fmkfldid32(FLD_LONG, 201);

// What the hooks saw, in call order: "<hook>:<name>[:tperrno:tpurcode]".
std::vector<std::string> calls;
int refusingResult = -1;

int BeforeA(char* name, FBFR32**) {
  calls.push_back(std::string("A:") + name);
  name[0] = '#';  // a hook scribbling on its copy of the name
  return 0;
}
int BeforeB(char* name, FBFR32**) {
  calls.push_back(std::string("B:") + name);
  return 1;
}
int BeforeC(char* name, FBFR32**) {
  calls.push_back(std::string("C:") + name);
  return 0;
}
int Refuse(char* name, FBFR32**) {
  calls.push_back(std::string("refuse:") + name);
  return refusingResult;
}
int BeforeObj(char* name, TTxFbfr*) {
  calls.push_back(std::string("obj:") + name);
  return 0;
}

void AfterFbfr(char* name, FBFR32**, FBFR32**, int err, int urcode) {
  calls.push_back(std::string("after:") + name + ":" + std::to_string(err) + ":" +
                  std::to_string(urcode));
  tperrno = TPETIME;  // the next hook sees the change
  tpurcode = urcode + 1;
}
void AfterObj(char* name, TTxFbfr* send, TTxFbfr* recv, int err, int urcode) {
  calls.push_back(std::string("afterobj:") + name + ":" + std::to_string(err) + ":" +
                  std::to_string(urcode) + ":" + std::to_string(send->OccCount(kLong)) + ":" +
                  std::to_string(recv->OccCount(kLong)));
}

class Hooks : public ::testing::Test {
 protected:
  void SetUp() override { calls.clear(); }
  void TearDown() override {
    for (auto hook : {BeforeA, BeforeB, BeforeC, Refuse}) UnregisterServiceHookBeforeCall(hook);
    UnregisterServiceHookBeforeCall(BeforeObj);
    UnregisterServiceHookAfterCall(AfterFbfr);
    UnregisterServiceHookAfterCall(AfterObj);
    tperrno = 0;
    tpurcode = 0;
    refusingResult = -1;
  }

  TTxFbfr FSend{nullptr, 1024};
  TTxFbfr FRecv{nullptr, 1024};
};

TEST_F(Hooks, CalledInRegistrationOrderEachOnce) {
  RegisterServiceHookBeforeCall(BeforeObj);
  RegisterServiceHookBeforeCall(BeforeA);
  RegisterServiceHookBeforeCall(BeforeB);
  RegisterServiceHookBeforeCall(BeforeC);
  RegisterServiceHookBeforeCall(BeforeA);  // already there: no effect
  CallHooksBefore("PAY", &FSend);
  EXPECT_EQ(calls, (std::vector<std::string>{"A:PAY", "B:PAY", "C:PAY", "obj:PAY"}));

  calls.clear();
  UnregisterServiceHookBeforeCall(BeforeB);
  UnregisterServiceHookBeforeCall(BeforeB);  // not there: no effect
  RegisterServiceHookBeforeCall(BeforeB);    // back at the end
  CallHooksBefore("", &FSend);
  EXPECT_EQ(calls, (std::vector<std::string>{"A:", "C:", "B:", "obj:"}));
}

TEST_F(Hooks, NegativeResultRefusesBeforeAnyObjectHook) {
  RegisterServiceHookBeforeCall(BeforeA);
  RegisterServiceHookBeforeCall(Refuse);
  RegisterServiceHookBeforeCall(BeforeC);
  RegisterServiceHookBeforeCall(BeforeObj);
  try {
    CallHooksBefore("PAY", &FSend);
    FAIL() << "not refused";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message, "Operacja została przerwana!"_ansi);
  }
  EXPECT_EQ(calls, (std::vector<std::string>{"A:PAY", "refuse:PAY"}));

  calls.clear();
  refusingResult = 0;  // zero lets the call go on
  CallHooksBefore("PAY", &FSend);
  EXPECT_EQ(calls.size(), 4u);
}

TEST_F(Hooks, AfterHooksSeeTperrnoAndTpurcodeAfresh) {
  long value = 5;
  ASSERT_NE(Fadd32(FRecv.GetFbfrP(), kLong, reinterpret_cast<char*>(&value), 0), -1);
  RegisterServiceHookAfterCall(AfterObj);
  RegisterServiceHookAfterCall(AfterFbfr);
  tperrno = TPESVCFAIL;
  tpurcode = 7;
  CallHooksAfter("PAY", &FSend, &FRecv);
  const std::string sawTimeout = std::to_string(TPETIME);
  EXPECT_EQ(calls, (std::vector<std::string>{"after:PAY:11:7",
                                             "afterobj:PAY:" + sawTimeout + ":8:0:1"}));
}

// A hook replacing the send buffer through the pointer's address: the send
// object owns the new buffer.
int GrowSendBuffer(char*, FBFR32** send) {
  FBFR32* bigger = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 64000));
  if (bigger == nullptr) return -1;
  Fcpy32(bigger, *send);
  tpfree(reinterpret_cast<char*>(*send));
  *send = bigger;
  return 0;
}

TEST_F(Hooks, BufferFormMayReplaceTheSendBuffer) {
  RegisterServiceHookBeforeCall(GrowSendBuffer);
  CallHooksBefore("PAY", &FSend);
  UnregisterServiceHookBeforeCall(GrowSendBuffer);
  EXPECT_EQ(Fsizeof32(FSend.GetFbfrP()), FSend.GetFbfrSize());
  EXPECT_GE(FSend.GetFbfrSize(), 64000);
}

int Throwing(char*, TTxFbfr*) { throw ETxError("z haka"); }

TEST_F(Hooks, ExceptionFromAHookPassesThrough) {
  RegisterServiceHookBeforeCall(Throwing);
  EXPECT_THROW(CallHooksBefore("PAY", &FSend), ETxError);
  UnregisterServiceHookBeforeCall(Throwing);
}

// ---- Changing the lists from inside a hook ---------------------------------------

int RemovesItselfAndC(char* name, FBFR32**) {
  calls.push_back(std::string("self:") + name);
  UnregisterServiceHookBeforeCall(RemovesItselfAndC);
  UnregisterServiceHookBeforeCall(BeforeC);
  RegisterServiceHookBeforeCall(BeforeB);
  return 0;
}

TEST_F(Hooks, RemovalTakesEffectAtOnceAdditionAtTheNextWalk) {
  RegisterServiceHookBeforeCall(BeforeA);
  RegisterServiceHookBeforeCall(RemovesItselfAndC);
  RegisterServiceHookBeforeCall(BeforeC);
  CallHooksBefore("PAY", &FSend);
  EXPECT_EQ(calls, (std::vector<std::string>{"A:PAY", "self:PAY"}));

  calls.clear();
  CallHooksBefore("PAY", &FSend);
  EXPECT_EQ(calls, (std::vector<std::string>{"A:PAY", "B:PAY"}));
}

}  // namespace
}  // namespace Tx
