// The data sets' published properties, as the form reader and writer
// (platform/framework/Filer.h) save and load them.
//
// TTxFbfrDSet saves ReadOnly, Active, AutoCalcFields and Filtered; its
// buffer is the application's and is not saved with it. TTxServDSet adds its
// service, saved by name and set once the whole form is read, and which of
// the service's buffers it shows. TTxQuickDSet adds, for each of its five
// services, the contracts and the request (read into the service's own
// objects) and the service name; the replies are read-only and not saved.
// Events are not saved.
//
// Active is published by every data set: while a form is read the data set
// only remembers it, and TDataSet::Loaded opens it once everything,
// references included, is in place.
#include "dataset/TxFbDset.h"
#include "platform/framework/Filer.h"

namespace Tx {

void RegisterTxFbDsetClasses() {
  PublishClass<TTxFbfrDSet, TDataSet>("TTxFbfrDSet")
      .Bool("ReadOnly", &TTxFbfrDSet::GetReadOnly, &TTxFbfrDSet::SetReadOnly)
      .Default(false)
      .Bool("Active", &TDataSet::Active, &TDataSet::SetActive)
      .Default(false)
      .Bool("AutoCalcFields", &TDataSet::AutoCalcFields, &TDataSet::SetAutoCalcFields)
      .Default(true)
      .Bool("Filtered", &TDataSet::Filtered, &TDataSet::SetFiltered)
      .Default(false);

  using S = TTxServDSet;
  PublishClass<TTxServDSet, TTxFbfrDSet>("TTxServDSet")
      .Bool("AutoExecService", &S::GetAutoExecService, &S::SetAutoExecService)
      .Default(true)
      .Enum("ServBuffer", &S::GetTxServBuffer, &S::SetTxServBuffer, {"RecvBuffer", "SendBuffer"})
      .Default(RecvBuffer)
      .Object("TxService", &S::GetTxService, &S::SetTxService)
      .Integer("FldGroup", &S::GetFldGroup, &S::SetFldGroup)
      .Default(-1)
      .String("IndexExpr", &S::GetIndexExpr, &S::SetIndexExpr);

  using Q = TTxQuickDSet;
  PublishClass<TTxQuickDSet, TTxFbfrDSet>("TTxQuickDSet")
      .Object("SelectSendContract", &Q::GetSelectContract, &Q::SetSelectContract)
      .Object("SelectSendData", &Q::GetSelectData, &Q::SetSelectData)
      .String("SelectServiceName", &Q::GetSelectServiceName, &Q::SetSelectServiceName)
      .Object("SelectRecvData", &Q::GetSelectRecvData, nullptr)
      .Object("SelectRecvContract", &Q::GetSelectRecvContract, &Q::SetSelectRecvContract)
      .Object("RefreshSendContract", &Q::GetRefreshContract, &Q::SetRefreshContract)
      .Object("RefreshSendData", &Q::GetRefreshData, &Q::SetRefreshData)
      .String("RefreshServiceName", &Q::GetRefreshServiceName, &Q::SetRefreshServiceName)
      .Object("RefreshRecvData", &Q::GetRefreshRecvData, nullptr)
      .Object("RefreshRecvContract", &Q::GetRefreshRecvContract, &Q::SetRefreshRecvContract)
      .Object("UpdateSendContract", &Q::GetUpdateContract, &Q::SetUpdateContract)
      .Object("UpdateSendData", &Q::GetUpdateData, &Q::SetUpdateData)
      .String("UpdateServiceName", &Q::GetUpdateServiceName, &Q::SetUpdateServiceName)
      .Object("UpdateRecvData", &Q::GetUpdateRecvData, nullptr)
      .Object("UpdateRecvContract", &Q::GetUpdateRecvContract, &Q::SetUpdateRecvContract)
      .Object("InsertSendContract", &Q::GetInsertContract, &Q::SetInsertContract)
      .Object("InsertSendData", &Q::GetInsertData, &Q::SetInsertData)
      .String("InsertServiceName", &Q::GetInsertServiceName, &Q::SetInsertServiceName)
      .Object("InsertRecvData", &Q::GetInsertRecvData, nullptr)
      .Object("InsertRecvContract", &Q::GetInsertRecvContract, &Q::SetInsertRecvContract)
      .Object("DeleteSendContract", &Q::GetDeleteContract, &Q::SetDeleteContract)
      .Object("DeleteSendData", &Q::GetDeleteData, &Q::SetDeleteData)
      .String("DeleteServiceName", &Q::GetDeleteServiceName, &Q::SetDeleteServiceName)
      .Object("DeleteRecvData", &Q::GetDeleteRecvData, nullptr)
      .Object("DeleteRecvContract", &Q::GetDeleteRecvContract, &Q::SetDeleteRecvContract)
      .String("IndexExpr", &Q::GetIndexExpr, &Q::SetIndexExpr)
      .Integer("FldGroup", &Q::GetFldGroup, &Q::SetFldGroup)
      .Default(-1)
      .Bool("Cached", &Q::GetCached, &Q::SetCached)
      .Default(false)
      .Enum("CacheLifetime", &Q::GetCacheLifetime, &Q::SetCacheLifetime,
            {"txcltNormal", "txcltPermanent"})
      .Default(txcltNormal)
      .Bool("DetectTDXInfo", &Q::GetDetectTDXInfo, &Q::SetDetectTDXInfo)
      .Default(false);
}

namespace {
[[maybe_unused]] const bool kTxFbDsetClassesPublished = (RegisterTxFbDsetClasses(), true);
}  // namespace

}  // namespace Tx
