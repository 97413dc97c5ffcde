#include "dataset/TxServDset.h"

#include <fml32.h>

#include "platform/framework/Exceptions.h"

namespace Tx {

namespace {

// Names of the row protocol's reply fields.
const AnsiString kErrCodeName = "TDX_ERRCODE";
const AnsiString kErrTextName = "TDX_ERRTEXT";
const AnsiString kRowIdName = "TDX_ROWID";
const AnsiString kSerialName = "TDX_SERIAL";

// The id of a protocol field in Reply: the reply's definition of that name
// (its contract when it has one), else the field tables' id, else Fixed
// (0: none). A reply without a contract has definitions named by number,
// so the tables are what usually answer.
unsigned long ProtocolFieldId(const TTxFbfr* Reply, const AnsiString& Name, unsigned long Fixed = 0) {
  if (const unsigned long id = Reply->FindFieldId(Name); id != 0) return id;
  const FLDID32 id = Fldid32(const_cast<char*>(Name.c_str()));
  Ferror32 = 0;  // an unknown name is an expected answer here
  return id != BADFLDID ? id : Fixed;
}

// Occurrence 0 of the protocol field, or Null when the reply has none.
Variant ProtocolValue(TTxFbfr* Reply, const AnsiString& Name, unsigned long Fixed = 0) {
  const unsigned long id = ProtocolFieldId(Reply, Name, Fixed);
  if (id == 0 || Reply->OccCount(id) == 0) return Null();
  return Reply->OccValue(id, 0);
}

}  // namespace

// ---- TTxServDSet -----------------------------------------------------------------------

TTxServDSet::TTxServDSet(TComponent* AOwner) : TTxFbfrDSet(AOwner) {}

void TTxServDSet::SetTxService(TTxService* Value) {
  CheckInactive();
  if (FTxService && FTxService != Value) FTxService->RemoveFreeNotification(this);
  FTxService = Value;
  if (FTxService) FTxService->FreeNotification(this);
  SetTxFbfr(nullptr);
}

void TTxServDSet::SetTxServBuffer(TTxServBuffer Value) {
  CheckInactive();
  FServBuffer = Value;
  SetTxFbfr(nullptr);
}

void TTxServDSet::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr && AComponent == FTxService) {
    // The buffer shown goes with the service: stop showing it first. This
    // runs inside the service's destruction, so nothing may leave it: a
    // handler that refuses the close is reported to the application.
    if (Active()) {
      try {
        Close();
      } catch (...) {
        InternalHandleException();
      }
    }
    FTxService = nullptr;
    if (!Active()) SetTxFbfr(nullptr);
  }
  TTxFbfrDSet::Notification(AComponent, Operation);
}

void TTxServDSet::UpdateTxFbfr() {
  if (!FTxService)
    SetTxFbfr(nullptr);
  else
    SetTxFbfr(FServBuffer == SendBuffer ? FTxService->GetSendData() : FTxService->GetRecvData());
}

void TTxServDSet::OpenCursor(bool InfoQuery) {
  if (!FTxService) throw Exception("TxService puste");
  UpdateTxFbfr();
  TTxFbfrDSet::OpenCursor(InfoQuery);
}

void TTxServDSet::InternalOpen() {
  if (FAutoExecService && FTxService) FTxService->Execute();
  TTxFbfrDSet::InternalOpen();
}

bool TTxServDSet::GetCanModify() {
  if (FTxService && FServBuffer == RecvBuffer) return !FTxService->GetRecvReadOnly();
  return true;
}

// ---- TTxQuickDSet: life cycle --------------------------------------------------------

TTxQuickDSet::TTxQuickDSet(TComponent* AOwner) : TTxFbfrDSet(AOwner) {
  for (TTxService*& service : FServices) service = new TTxService(this);  // owned as components
  SetTxFbfr(Service(kSelect)->GetRecvData());
  OnUpdateRecord = TTxUpdateRecordEvent(this, &TTxQuickDSet::OnUpdateRecordHandler);
  OnRefreshRow = TTxUpdateRecordEvent(this, &TTxQuickDSet::OnRefreshRowHandler);
}

TTxQuickDSet::~TTxQuickDSet() {
  Destroying();
  try {
    Close();
    SetTxFbfr(nullptr);
  } catch (...) {
    // A destructor reports nothing; the services go below all the same.
  }
  for (TTxService*& service : FServices) {
    delete service;
    service = nullptr;
  }
}

void TTxQuickDSet::Loaded() {
  static const char* const suffixes[kServiceCount] = {"_SelectService", "_RefreshService", "_UpdateService",
                                                      "_InsertService", "_DeleteService"};
  for (int i = 0; i < kServiceCount; ++i) FServices[i]->SetName(Name() + suffixes[i]);
  TTxFbfrDSet::Loaded();
}

// ---- TTxQuickDSet: the services' properties --------------------------------------------

// The nine accessors of one service's published properties.
#define TX_QUICK_SERVICE_PROPERTIES(X, Index)                                                          \
  TTxFbfrDef* TTxQuickDSet::Get##X##Contract() const { return Service(Index)->GetSendContract(); }   \
  void TTxQuickDSet::Set##X##Contract(TTxFbfrDef* Value) { Service(Index)->SetSendContract(Value); } \
  TTxFbfr* TTxQuickDSet::Get##X##Data() const { return Service(Index)->GetSendData(); }              \
  void TTxQuickDSet::Set##X##Data(TTxFbfr* Value) { Service(Index)->SetSendData(Value); }            \
  AnsiString TTxQuickDSet::Get##X##ServiceName() const { return Service(Index)->GetServiceName(); }  \
  void TTxQuickDSet::Set##X##ServiceName(const AnsiString& Value) { Service(Index)->SetServiceName(Value); } \
  TTxFbfr* TTxQuickDSet::Get##X##RecvData() const { return Service(Index)->GetRecvData(); }          \
  TTxFbfrDef* TTxQuickDSet::Get##X##RecvContract() const { return Service(Index)->GetRecvContract(); } \
  void TTxQuickDSet::Set##X##RecvContract(TTxFbfrDef* Value) { Service(Index)->SetRecvContract(Value); }

TX_QUICK_SERVICE_PROPERTIES(Select, kSelect)
TX_QUICK_SERVICE_PROPERTIES(Refresh, kRefresh)
TX_QUICK_SERVICE_PROPERTIES(Update, kUpdate)
TX_QUICK_SERVICE_PROPERTIES(Insert, kInsert)
TX_QUICK_SERVICE_PROPERTIES(Delete, kDelete)

#undef TX_QUICK_SERVICE_PROPERTIES

// ---- TTxQuickDSet: opening and changes ----------------------------------------------------

void TTxQuickDSet::InternalOpen() {
  TTxService* select = Service(kSelect);
  select->SetCached(FCached);
  select->SetCacheLifetime(FCacheLifetime);
  select->SetDetectTDXInfo(FDetectTDXInfo);
  select->Execute();
  TTxFbfrDSet::InternalOpen();
}

void TTxQuickDSet::InternalPost() {
  TTxFbfrDSet::InternalPost();
  if (FCached) Service(kSelect)->UpdateCachedCall();
}

void TTxQuickDSet::InternalDelete() {
  TTxFbfrDSet::InternalDelete();
  if (FCached) Service(kSelect)->UpdateCachedCall();
}

TTxService* TTxQuickDSet::ServiceFor(TUpdateKind UpdateKind) const noexcept {
  switch (UpdateKind) {
    case ukModify:
      return Service(kUpdate);
    case ukInsert:
      return Service(kInsert);
    case ukDelete:
      break;
  }
  return Service(kDelete);
}

void TTxQuickDSet::FillRequest(TTxService* Svc) {
  Svc->GetSendData()->Clear();
  AppendCurrentValues(Svc->GetSendData());
}

void TTxQuickDSet::ExecuteAsDatabaseCall(TTxService* Svc) {
  try {
    Svc->Execute();
  } catch (const EDatabaseError&) {
    throw;
  } catch (const Exception& e) {
    // The framework's post and delete error events hear only database errors.
    throw EDatabaseError(e.Message);
  }
}

void TTxQuickDSet::TakeSerial(TTxFbfr* Reply) {
  // A deleted row keeps no serial: only a row being posted takes one.
  if (State() != dsEdit && State() != dsInsert) return;
  TField* field = tuxFindAssignSerialField();
  if (!field) return;
  const Variant serial = ProtocolValue(Reply, kSerialName);
  if (!VarIsNull(serial)) field->SetAsInteger(serial.AsInteger());
}

void TTxQuickDSet::OnUpdateRecordHandler(TDataSet* /*DataSet*/, TUpdateKind UpdateKind) {
  TTxService* service = ServiceFor(UpdateKind);
  FillRequest(service);
  DoOnUpdateBufferFill(UpdateKind, service->GetSendData());
  for (;;) {
    ExecuteAsDatabaseCall(service);
    TTxFbfr* reply = service->GetRecvData();
    const Variant code = ProtocolValue(reply, kErrCodeName, TDXErrCodeFieldId);
    if (VarIsNull(code)) return;  // a reply that reports nothing is a success
    if (code.AsInteger() == 0) {
      TakeSerial(reply);
      return;
    }
    const Variant text = ProtocolValue(reply, kErrTextName, TDXErrTextFieldId);
    const AnsiString errText = VarIsNull(text) ? AnsiString() : VarToStr(text);
    const Variant row = ProtocolValue(reply, kRowIdName);
    TTxUpdateAction action = txuaFail;
    DoOnUpdateFailure(UpdateKind, VarIsNull(row) ? -1 : row.AsInteger(), code.AsInteger(), errText, action);
    switch (action) {
      case txuaFail:
        throw EDatabaseError(errText);
      case txuaAbort:
        Abort();
      case txuaRetry:
        continue;
      case txuaIgnore:
        break;
    }
    return;
  }
}

void TTxQuickDSet::OnRefreshRowHandler(TDataSet* /*DataSet*/, TUpdateKind /*UpdateKind*/) {
  TTxService* refresh = Service(kRefresh);
  if (refresh->GetServiceName().IsEmpty()) return;
  FillRequest(refresh);
  refresh->Execute();
  RefreshCurrentValues(refresh->GetRecvData());
}

void TTxQuickDSet::RefreshCurrentRecord() {
  TTxService* refresh = Service(kRefresh);
  if (refresh->GetServiceName().IsEmpty()) throw Exception("Refresh service not set !");
  CheckBrowseMode();
  const int occ = GetMti()->tuxOccFromRecNo(RecNo());
  FillRequest(refresh);
  refresh->Execute();
  TTxFbfr* reply = refresh->GetRecvData();
  TTxFbfr* rows = Service(kSelect)->GetRecvData();
  TTxFbfrDef* replyDefs = reply->GetFldDefs();
  TTxFbfrDef* rowDefs = rows->GetFldDefs();
  for (int i = 0; i < replyDefs->Count(); ++i) {
    const TTxFbfrFldDef* from = replyDefs->GetFldDef(i);
    const TTxFbfrFldDef* to = rowDefs->FindFldDefByName(from->GetTxFldName());
    const auto fromId = static_cast<unsigned long>(static_cast<FLDID32>(from->GetTxFldId()));
    if (!to || reply->OccCount(fromId) == 0) continue;
    rows->SetValues(static_cast<unsigned long>(static_cast<FLDID32>(to->GetTxFldId())), occ,
                    reply->GetValues(fromId, 0));
  }
  // The row may have moved in the order it is shown in: find it again by
  // its bookmark, not by its old position.
  if (!GetIndexExpr().IsEmpty()) GetMti()->UpdateIndex();
  CursorPosChanged();
  Refresh();
}

void TTxQuickDSet::DoOnUpdateBufferFill(TUpdateKind UpdateKind, TTxFbfr* SendBuffer) {
  if (OnUpdateBufferFill) OnUpdateBufferFill(this, UpdateKind, SendBuffer);
}

void TTxQuickDSet::DoOnUpdateFailure(TUpdateKind UpdateKind, int RowId, long ErrCode, AnsiString ErrText,
                                     TTxUpdateAction& Action) {
  Action = txuaFail;
  if (OnUpdateFailure)
    OnUpdateFailure(this, UpdateKind, RowId, static_cast<int>(ErrCode), ErrText, Action);
}

}  // namespace Tx
