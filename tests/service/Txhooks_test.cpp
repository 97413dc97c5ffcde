// Service hooks: order, uniqueness, refusal, what each form receives, and
// lists changed from inside a hook.
#include "service/Txhooks.h"

#include <atmi.h>
#include <fml32.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

namespace Tx {
namespace {

const FLDID32 kLong = Fmkfldid32(FLD_LONG, 201);

std::string calls;           // "<hook>:<name>[:<numbers>] ", in call order
std::map<char, int> result;  // of each lettered before-call hook; 0 unless set
void Note(const std::string& hook, const char* name, std::initializer_list<long> numbers = {}) {
  calls += hook + ":" + name;
  for (const long number : numbers) calls += ":" + std::to_string(number);
  calls += " ";
}

template <char Letter>
int Before(char* name, FBFR32**) {
  Note(std::string(1, Letter), name);
  if (*name != '\0') *name = '#';  // scribbles on its own copy of the name
  return result[Letter];
}
int BeforeObj(char* name, TTxFbfr*) { return Note("obj", name), 0; }
void AfterFbfr(char* name, FBFR32**, FBFR32**, int err, int urcode) {
  Note("after", name, {err, urcode});
  tperrno = TPETIME;  // the next hook sees the change
  tpurcode = urcode + 1;
}
void AfterObj(char* name, TTxFbfr* send, TTxFbfr* recv, int err, int urcode) {
  Note("afterobj", name, {err, urcode, send->OccCount(kLong), recv->OccCount(kLong)});
}
int GrowSendBuffer(char*, FBFR32** send) {  // replaces the buffer through its address
  auto* bigger = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 64000));
  Fcpy32(bigger, *send);
  tpfree(reinterpret_cast<char*>(*send));
  *send = bigger;
  return 0;
}
int Throwing(char*, TTxFbfr*) { throw ETxError("z haka"); }
int RemovesItselfAndC(char* name, FBFR32**) {
  Note("self", name);
  UnregisterServiceHookBeforeCall(RemovesItselfAndC);
  UnregisterServiceHookBeforeCall(Before<'C'>);
  RegisterServiceHookBeforeCall(Before<'D'>);
  return 0;
}

class Hooks : public ::testing::Test {
 protected:
  void TearDown() override {
    for (auto hook :
         {Before<'A'>, Before<'B'>, Before<'C'>, Before<'D'>, GrowSendBuffer, RemovesItselfAndC})
      UnregisterServiceHookBeforeCall(hook);
    for (auto hook : {BeforeObj, Throwing}) UnregisterServiceHookBeforeCall(hook);
    UnregisterServiceHookAfterCall(AfterFbfr);
    UnregisterServiceHookAfterCall(AfterObj);
    result.clear();
    calls.clear();
    tperrno = 0;
    tpurcode = 0;
  }
  // The hooks one walk before the call calls, and what it raised.
  std::string Walk(const char* name = "PAY") {
    calls.clear();
    try {
      CallHooksBefore(name, &FSend);
    } catch (const Exception& e) {
      calls += "raised " + e.Message.str();
    }
    return calls;
  }
  TTxFbfr FSend{nullptr, 1024};
  TTxFbfr FRecv{nullptr, 1024};
};

TEST_F(Hooks, RegistrationOrderEachOnceUntilANegativeResult) {
  result['B'] = 1;  // positive and zero results let the call go on
  RegisterServiceHookBeforeCall(BeforeObj);
  for (auto hook : {Before<'A'>, Before<'B'>, Before<'C'>, Before<'A'>})
    RegisterServiceHookBeforeCall(hook);
  RegisterServiceHookBeforeCall(static_cast<TTxServiceHookBeforeCallFbfr>(nullptr));
  // The buffer form first; each hook gets its own copy of the name.
  EXPECT_EQ(Walk(), "A:PAY B:PAY C:PAY obj:PAY ");

  UnregisterServiceHookBeforeCall(Before<'B'>);
  UnregisterServiceHookBeforeCall(Before<'B'>);  // not there: no effect
  RegisterServiceHookBeforeCall(Before<'B'>);    // back at the end
  EXPECT_EQ(Walk(""), "A: C: B: obj: ");
  result['C'] = -1;
  EXPECT_EQ(Walk(), "A:PAY C:PAY raised " + "Operacja została przerwana!"_ansi.str());
}

TEST_F(Hooks, AfterHooksSeeBothBuffersAndTperrnoAndTpurcodeAfresh) {
  FRecv.AppendOcc(kLong, 5);
  RegisterServiceHookAfterCall(AfterObj);
  RegisterServiceHookAfterCall(AfterFbfr);
  tperrno = TPESVCFAIL;
  tpurcode = 7;
  CallHooksAfter("PAY", &FSend, &FRecv);
  EXPECT_EQ(calls, "after:PAY:11:7 afterobj:PAY:" + std::to_string(TPETIME) + ":8:0:1 ");
}

TEST_F(Hooks, ReplacedSendBufferIsOwnedAndExceptionsPassThrough) {
  RegisterServiceHookBeforeCall(GrowSendBuffer);
  CallHooksBefore("PAY", &FSend);
  EXPECT_GE(FSend.GetFbfrSize(), 64000);  // the sanitizer build sees who frees what
  RegisterServiceHookBeforeCall(Throwing);
  EXPECT_THROW(CallHooksBefore("PAY", &FSend), ETxError);
}

TEST_F(Hooks, RemovalTakesEffectAtOnceAdditionAtTheNextWalk) {
  for (auto hook : {Before<'A'>, RemovesItselfAndC, Before<'C'>, Before<'B'>})
    RegisterServiceHookBeforeCall(hook);
  EXPECT_EQ(Walk(), "A:PAY self:PAY B:PAY ");
  EXPECT_EQ(Walk(), "A:PAY B:PAY D:PAY ");
}

}  // namespace
}  // namespace Tx
