/* A plain C program that needs only the FML32/ATMI platform, with a field
 * header generated from its table. */
#include <atmi.h>
#include <fml32.h>

#include "consumer.fml.h"

int main(void) {
  FBFR32* fbfr = (FBFR32*)tpalloc("FML32", NULL, 1024);
  if (fbfr == NULL) return 1;
  long value = 42;
  int rc = CONSUMER_VALUE == Fmkfldid32(FLD_LONG, 200) ? Fadd32(fbfr, CONSUMER_VALUE, (char*)&value, 0) : -1;
  tpfree((char*)fbfr);
  return rc == -1;
}
