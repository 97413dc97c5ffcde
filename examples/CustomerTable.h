// The demo domain's customer table as the example programs show it: a quick
// data set bound to CUST_SELECT, CUST_REFRESH, CUST_UPDATE, CUST_INSERT and
// CUST_DELETE, with the contracts each request and reply follow.
#pragma once

#include <initializer_list>
#include <memory>

#include "buffer/TxFbfr.h"
#include "dataset/TxServDset.h"
#include "examples/domain/DemoDomain.h"
#include "examples/domain/DemoFields.h"

namespace TxDemo {

struct CustomerColumn {
  FLDID32 Id;
  const char* Name;
  bool Serial = false;
};

// A contract of the given columns; the caller owns it.
inline std::unique_ptr<Tx::TTxFbfrDef> CustomerContract(std::initializer_list<CustomerColumn> columns) {
  auto contract = std::make_unique<Tx::TTxFbfrDef>(nullptr);
  for (const CustomerColumn& column : columns) {
    Tx::TTxFbfrFldDef* def = contract->AddFldDef(column.Id);
    def->SetTxFldName(column.Name);
    if (column.Id == CUST_NAME) def->SetMaxSize(40);
    if (column.Id == NOTE) def->SetLogicalType(Tx::txlftMemo);
    def->SetAssignSerial(column.Serial);
  }
  return contract;
}

// Names the data set "Customers" and gives it the five services and their
// contracts (the data set copies them); WithNote adds the NOTE memo column.
// The caller finishes the settings and calls Loaded, which names the
// services after the data set as a loaded form would.
inline void BindCustomerTable(Tx::TTxQuickDSet& ds, bool WithNote) {
  const auto rows = WithNote ? CustomerContract({{CUST_ID, "CUST_ID", true},
                                                 {CUST_NAME, "CUST_NAME"},
                                                 {BALANCE, "BALANCE"},
                                                 {SEGMENT, "SEGMENT"},
                                                 {NOTE, "NOTE"}})
                             : CustomerContract({{CUST_ID, "CUST_ID", true},
                                                 {CUST_NAME, "CUST_NAME"},
                                                 {BALANCE, "BALANCE"},
                                                 {SEGMENT, "SEGMENT"}});
  const auto inserted = WithNote ? CustomerContract({{CUST_NAME, "CUST_NAME"},
                                                     {BALANCE, "BALANCE"},
                                                     {SEGMENT, "SEGMENT"},
                                                     {NOTE, "NOTE"}})
                                 : CustomerContract({{CUST_NAME, "CUST_NAME"},
                                                     {BALANCE, "BALANCE"},
                                                     {SEGMENT, "SEGMENT"}});
  const auto key = CustomerContract({{CUST_ID, "CUST_ID"}});
  ds.SetName("Customers");
  ds.SetSelectServiceName(SelectService);
  ds.SetSelectRecvContract(rows.get());
  ds.SetRefreshServiceName(RefreshService);
  ds.SetRefreshContract(key.get());
  ds.SetRefreshRecvContract(rows.get());
  ds.SetUpdateServiceName(UpdateService);
  ds.SetUpdateContract(rows.get());
  ds.SetInsertServiceName(InsertService);
  ds.SetInsertContract(inserted.get());
  ds.SetDeleteServiceName(DeleteService);
  ds.SetDeleteContract(key.get());
}

}  // namespace TxDemo
