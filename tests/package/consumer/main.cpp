// An application built against the installed package.
#include <atmi.h>
#include <fml32.h>

#include <cstdio>

#include "platform/framework/AnsiString.h"

int main() {
  FBFR32* fbfr = reinterpret_cast<FBFR32*>(tpalloc(const_cast<char*>("FML32"), nullptr, 4096));
  if (fbfr == nullptr) return 1;
  const FLDID32 name = Fmkfldid32(FLD_STRING, 201);
  if (Fchg32(fbfr, name, 0, const_cast<char*>("abc"), 0) == -1) return 2;
  const char* stored = Fvals32(fbfr, name, 0);
  const bool same = stored != nullptr && Tx::AnsiString(stored) == Tx::AnsiString("abc");
  tpfree(reinterpret_cast<char*>(fbfr));
  if (!same) return 3;
  std::printf("consumer ok\n");
  return 0;
}
