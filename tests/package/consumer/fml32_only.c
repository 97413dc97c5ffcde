/* A plain C program that needs only the FML32/ATMI platform. */
#include <atmi.h>
#include <fml32.h>

int main(void) {
  FBFR32* fbfr = (FBFR32*)tpalloc("FML32", NULL, 1024);
  if (fbfr == NULL) return 1;
  long value = 42;
  int rc = Fadd32(fbfr, Fmkfldid32(FLD_LONG, 200), (char*)&value, 0);
  tpfree((char*)fbfr);
  return rc == -1;
}
