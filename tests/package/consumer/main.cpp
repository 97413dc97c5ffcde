// An application built against the installed package: the middleware's C
// API and the library's units from their installed headers.
#include <atmi.h>
#include <fml32.h>

#include <cstdio>

#include "buffer/TxFbfr.h"
#include "service/TxServic.h"
#include "xml/TxFMLXML.h"

int main() {
  const FLDID32 name = Fmkfldid32(FLD_STRING, 201);
  Tx::TTxFbfr buffer(nullptr, 4096);
  if (Fchg32(buffer.GetFbfrP(), name, 0, const_cast<char*>("abc"), 0) == -1) return 2;
  const char* stored = Ffind32(buffer.GetFbfrP(), name, 0, nullptr);
  if (stored == nullptr || Tx::AnsiString(stored) != Tx::AnsiString("abc")) return 3;
  if (buffer.OccCount(name) != 1) return 4;
  std::printf("consumer ok\n");
  return 0;
}
