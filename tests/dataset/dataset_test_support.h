// The fixture the service-bound data-set tests share: the "rows" field table,
// no service cache from the environment, Windows-1250 texts, and a session
// that ends with each test.
#pragma once

#include <cstdlib>
#include <string>

#include "client/TxGlobal.h"
#include "platform/framework/framework_test_support.h"
#include "platform/session/TuxSessionServer.h"
#include "platform/tuxedo/FmlCalls.h"
#include "service/TxServiceCache.h"

namespace DataSetTest {

class RowsTableTest : public FrameworkTest::NeutralSettingsTest {
 protected:
  void SetUp() override {
    NeutralSettingsTest::SetUp();
    const char* data = std::getenv("TXLIB_TESTDATA");
    env.Set("FLDTBLDIR32", (std::string(data ? data : "tests/data") + "/dataset").c_str());
    env.Set("FIELDTBLS32", "rows.tbl");
    env.Set("QUORCACHEDISABLED", nullptr);
    UnloadTables();
    Tx::TTxGlobalClient::SetTranslateType(Tx::txttWindows);
  }
  void TearDown() override {
    Tx::GlobalCacheControl()->ClearService("T_SELECT");
    Tx::TTxGlobalClient::DisposeSession();
    Tx::ResetBuiltinSessionServer();
    Tx::TTxGlobalClient::ClearTpErrors();
    UnloadTables();
    NeutralSettingsTest::TearDown();
  }
  static void UnloadTables() {
    Tx::UnloadIdToNameTable();
    Tx::UnloadNameToIdTable();
  }

  FrameworkTest::ScopedEnvironment env;
};

}  // namespace DataSetTest
