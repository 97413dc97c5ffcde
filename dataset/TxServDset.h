// TxServDset: data sets bound to service calls. Part of the data-set unit:
// TxFbDset.h includes this header at its end, so either name brings both.
//
// TTxServDSet shows the request or the reply buffer of a TTxService that
// the application places beside it (and does not own), and calls the
// service when it opens.
//
// TTxQuickDSet owns five services: the reply of its select service is the
// table, and every change the user posts or deletes goes out through its
// update, insert or delete service, followed by the refresh service for
// posts. The update services answer in the server's row protocol:
//   TDX_ERRCODE  absent or 0: the change was made; otherwise refused
//   TDX_ERRTEXT  the refusal's text for the user
//   TDX_ROWID    the request row the service refused
//   TDX_SERIAL   the number an insert service gave the new row
// These fields are found in a reply by name: through the reply's contract,
// else through the field tables; the error code and text, which every
// service reply carries under fixed ids, also without either.
#pragma once

#include <array>

#include "dataset/TxFbDset.h"
#include "service/TxServic.h"

namespace Tx {

// Which buffer of its service a TTxServDSet shows.
enum TTxServBuffer : unsigned char {
  RecvBuffer = 0,  // the service's RecvData: the last reply
  SendBuffer = 1,  // the service's SendData: the next request
};

// What a refused change does (TTxQuickDSet::OnUpdateFailure decides).
enum TTxUpdateAction : unsigned char {
  txuaFail = 0,    // raise EDatabaseError with the server's text
  txuaAbort = 1,   // end the post or delete silently (EAbort)
  txuaRetry = 2,   // send the same request again
  txuaIgnore = 3,  // go on as if the service had made the change
};

// (DataSet, UpdateKind, SendBuffer): the request of a change, filled with
// the row's values, before it is sent; the handler may add to it.
using TTxUpdateBufferFillEvent = TClosure<void(TDataSet* DataSet, TUpdateKind UpdateKind, TTxFbfr* SendBuffer)>;
// (DataSet, UpdateKind, TDX_ROWID, TDX_ERRCODE, TDX_ERRTEXT, UpdateAction):
// a change the service refused; UpdateAction arrives as txuaFail.
using TTxUpdateFailureEvent = TClosure<void(TDataSet* DataSet, TUpdateKind UpdateKind, int TDX_ROWID,
                                            int TDX_ERRCODE, AnsiString TDX_ERRTEXT,
                                            TTxUpdateAction& UpdateAction)>;

// ---- A service's buffer as a table ----------------------------------------------
//
// The service is not owned. The data set hears of its destruction (it asks
// for free notification) and forgets it then, closing first when open, so
// it never shows a buffer that is gone. Service and buffer can be changed
// only while the data set is closed; the buffer is taken from the service at
// every open.
class TTxServDSet : public TTxFbfrDSet {
 public:
  explicit TTxServDSet(TComponent* AOwner);

  // The published properties in the order a form file holds them, after
  // those of the FML data set.
  static constexpr std::array<const char*, 7> PublishedProperties = {
      "AutoExecService", "ServBuffer", "TxService", "FldGroup", "IndexExpr", "OnUpdateRecord", "OnRefreshRow"};

  // The service shown, or nullptr (the default). Setting it needs the data
  // set closed (EDatabaseError "Cannot perform this operation on an open
  // dataset") and detaches the engine from any buffer.
  TTxService* GetTxService() const noexcept { return FTxService; }
  void SetTxService(TTxService* Value);
  // RecvBuffer (the default) or SendBuffer; same rules as SetTxService.
  TTxServBuffer GetTxServBuffer() const noexcept { return FServBuffer; }
  void SetTxServBuffer(TTxServBuffer Value);
  // Whether opening calls the service first; true by default. The reply of
  // that call is what a RecvBuffer data set shows.
  bool GetAutoExecService() const noexcept { return FAutoExecService; }
  void SetAutoExecService(bool Value) noexcept { FAutoExecService = Value; }

  // Gives the engine the chosen buffer of the service (none without one).
  void UpdateTxFbfr();

  // Forgets the service when it is removed (see the class comment).
  void Notification(TComponent* AComponent, TOperation Operation) override;

 protected:
  // Exception "TxService puste" without a service.
  void OpenCursor(bool InfoQuery) override;
  // Executes the service when AutoExecService is set; its exceptions pass
  // unchanged and the data set stays closed.
  void InternalOpen() override;
  // A reply is editable unless the service says RecvReadOnly; a request
  // always is. Neither ReadOnly nor the columns' occurrence counts are
  // consulted here (a read-only field still refuses writes).
  bool GetCanModify() override;

 private:
  TTxService* FTxService = nullptr;
  TTxServBuffer FServBuffer = RecvBuffer;
  bool FAutoExecService = true;
};

// ---- A table kept by services ---------------------------------------------------
//
// Ownership: the five services are owned by the data set (they are its
// components, in the order select, refresh, update, insert, delete) and go
// with it. The engine always shows the select service's RecvData.
//
// Opening passes Cached, CacheLifetime and DetectTDXInfo to the select
// service and executes it (or takes its reply from the reply cache); a
// failure of that call passes unchanged and the data set stays closed.
//
// A post or delete, before the row is written into the select reply:
//   1. the update (edit), insert (new row) or delete service gets a request
//      holding one occurrence of each field of its send contract that has a
//      data-set field of the same name, with the row's values; then
//      OnUpdateBufferFill may add to it;
//   2. the service is executed. A call that fails with one of the
//      framework's exceptions raises EDatabaseError with its message, so
//      OnPostError and OnDeleteError see it. A reply that refuses the change
//      (TDX_ERRCODE not 0) goes to OnUpdateFailure, whose action decides:
//      txuaFail raises EDatabaseError with TDX_ERRTEXT, txuaAbort ends the
//      change silently, txuaRetry sends the same request again (as often as
//      the handler asks), txuaIgnore goes on. A refusal without TDX_ROWID
//      reports the row as -1;
//   3. on TDX_ERRCODE 0, when the reply holds TDX_SERIAL and a column is marked
//      AssignSerial, that field of the posted row takes the serial;
//   4. for posts, when the refresh service has a name, it is called with the
//      row's values (its send contract's fields) and the reply's fields
//      overwrite the row's (by field id);
//   5. the row is written into (or deleted from) the select reply and, when
//      Cached is set, the select service's cached reply is replaced by it.
// A change that fails in 1 to 4 leaves the select reply, the cache and the
// data set's state as they were: the row stays in edit with its values.
class TTxQuickDSet : public TTxFbfrDSet {
 public:
  // Creates the five services; Cached false, CacheLifetime txcltNormal,
  // DetectTDXInfo false; OnUpdateRecord and OnRefreshRow bound to this data
  // set's handlers (an application that replaces them takes over the writes).
  explicit TTxQuickDSet(TComponent* AOwner);
  // Closes, detaches the engine and frees the five services.
  ~TTxQuickDSet() override;

  // The published properties in the order a form file holds them, after
  // those of the FML data set.
  static constexpr std::array<const char*, 32> PublishedProperties = {
      "SelectSendContract",  "SelectSendData",     "SelectServiceName",  "SelectRecvData",
      "SelectRecvContract",  "RefreshSendContract", "RefreshSendData",   "RefreshServiceName",
      "RefreshRecvData",     "RefreshRecvContract", "UpdateSendContract", "UpdateSendData",
      "UpdateServiceName",   "UpdateRecvData",     "UpdateRecvContract", "InsertSendContract",
      "InsertSendData",      "InsertServiceName",  "InsertRecvData",     "InsertRecvContract",
      "DeleteSendContract",  "DeleteSendData",     "DeleteServiceName",  "DeleteRecvData",
      "DeleteRecvContract",  "OnUpdateBufferFill", "OnUpdateFailure",    "IndexExpr",
      "FldGroup",            "Cached",             "CacheLifetime",      "DetectTDXInfo"};

  // ---- The services' properties ----
  // X = Select, Refresh, Update, Insert, Delete. Contracts and SendData are
  // copied into the service's own objects (the caller keeps Value); names
  // are stored; RecvData is the service's reply buffer.
  TTxFbfrDef* GetSelectContract() const;
  void SetSelectContract(TTxFbfrDef* Value);
  TTxFbfr* GetSelectData() const;
  void SetSelectData(TTxFbfr* Value);
  AnsiString GetSelectServiceName() const;
  void SetSelectServiceName(const AnsiString& Value);
  TTxFbfr* GetSelectRecvData() const;
  TTxFbfrDef* GetSelectRecvContract() const;
  void SetSelectRecvContract(TTxFbfrDef* Value);

  TTxFbfrDef* GetRefreshContract() const;
  void SetRefreshContract(TTxFbfrDef* Value);
  TTxFbfr* GetRefreshData() const;
  void SetRefreshData(TTxFbfr* Value);
  AnsiString GetRefreshServiceName() const;
  void SetRefreshServiceName(const AnsiString& Value);
  TTxFbfr* GetRefreshRecvData() const;
  TTxFbfrDef* GetRefreshRecvContract() const;
  void SetRefreshRecvContract(TTxFbfrDef* Value);

  TTxFbfrDef* GetUpdateContract() const;
  void SetUpdateContract(TTxFbfrDef* Value);
  TTxFbfr* GetUpdateData() const;
  void SetUpdateData(TTxFbfr* Value);
  AnsiString GetUpdateServiceName() const;
  void SetUpdateServiceName(const AnsiString& Value);
  TTxFbfr* GetUpdateRecvData() const;
  TTxFbfrDef* GetUpdateRecvContract() const;
  void SetUpdateRecvContract(TTxFbfrDef* Value);

  TTxFbfrDef* GetInsertContract() const;
  void SetInsertContract(TTxFbfrDef* Value);
  TTxFbfr* GetInsertData() const;
  void SetInsertData(TTxFbfr* Value);
  AnsiString GetInsertServiceName() const;
  void SetInsertServiceName(const AnsiString& Value);
  TTxFbfr* GetInsertRecvData() const;
  TTxFbfrDef* GetInsertRecvContract() const;
  void SetInsertRecvContract(TTxFbfrDef* Value);

  TTxFbfrDef* GetDeleteContract() const;
  void SetDeleteContract(TTxFbfrDef* Value);
  TTxFbfr* GetDeleteData() const;
  void SetDeleteData(TTxFbfr* Value);
  AnsiString GetDeleteServiceName() const;
  void SetDeleteServiceName(const AnsiString& Value);
  TTxFbfr* GetDeleteRecvData() const;
  TTxFbfrDef* GetDeleteRecvContract() const;
  void SetDeleteRecvContract(TTxFbfrDef* Value);

  // ---- The select call ----
  // Passed to the select service at every open.
  bool GetCached() const noexcept { return FCached; }
  void SetCached(bool Value) noexcept { FCached = Value; }
  TTxCacheLifetime GetCacheLifetime() const noexcept { return FCacheLifetime; }
  void SetCacheLifetime(TTxCacheLifetime Value) noexcept { FCacheLifetime = Value; }
  bool GetDetectTDXInfo() const noexcept { return FDetectTDXInfo; }
  void SetDetectTDXInfo(bool Value) noexcept { FDetectTDXInfo = Value; }

  // ---- Events ----
  TTxUpdateBufferFillEvent OnUpdateBufferFill;
  TTxUpdateFailureEvent OnUpdateFailure;

  // Names the services after the data set (Name + "_SelectService", ...
  // "_DeleteService"), then loads as every data set does: one saved as
  // active opens.
  void Loaded() override;

  // The handlers OnUpdateRecord and OnRefreshRow are bound to (see the
  // class comment, steps 1 to 4).
  virtual void OnUpdateRecordHandler(TDataSet* DataSet, TUpdateKind UpdateKind);
  virtual void OnRefreshRowHandler(TDataSet* DataSet, TUpdateKind UpdateKind);

  // Re-reads the current row through the refresh service: the request
  // carries the row's values, and every field of the refresh reply's
  // contract whose name the select reply's contract knows overwrites the
  // row's occurrence in the select reply; then the rows are read again. A
  // pending edit is posted first. Exception "Refresh service not set !"
  // when the refresh service has no name; the call's exceptions pass
  // unchanged, leaving the select reply as it was.
  void RefreshCurrentRecord();

  // Calls OnUpdateBufferFill when assigned.
  void DoOnUpdateBufferFill(TUpdateKind UpdateKind, TTxFbfr* SendBuffer);
  // Action := txuaFail, then OnUpdateFailure when assigned.
  void DoOnUpdateFailure(TUpdateKind UpdateKind, int RowId, long ErrCode, AnsiString ErrText,
                         TTxUpdateAction& Action);

 protected:
  void InternalOpen() override;
  void InternalPost() override;
  void InternalDelete() override;

 private:
  enum TServiceIndex { kSelect, kRefresh, kUpdate, kInsert, kDelete, kServiceCount };

  TTxService* Service(TServiceIndex Index) const noexcept { return FServices[Index]; }
  TTxService* ServiceFor(TUpdateKind UpdateKind) const noexcept;
  // Clears the service's request and fills it with the current row's values.
  void FillRequest(TTxService* Svc);
  // Executes Svc with the framework's exceptions turned into EDatabaseError.
  static void ExecuteAsDatabaseCall(TTxService* Svc);
  // Copies the reply's serial into the row's AssignSerial field, if both are there.
  void TakeSerial(TTxFbfr* Reply);

  std::array<TTxService*, kServiceCount> FServices{};  // components of this data set
  bool FCached = false;
  TTxCacheLifetime FCacheLifetime = txcltNormal;
  bool FDetectTDXInfo = false;
};

}  // namespace Tx
