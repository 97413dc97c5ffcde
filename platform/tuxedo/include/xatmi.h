/*
 * XATMI: the X/Open name of the ATMI interface. Programs written to the
 * X/Open XATMI interface include this header; everything it names is
 * declared by <atmi.h>, which it includes.
 */
#ifndef TXLIB_XATMI_H
#define TXLIB_XATMI_H

#include <atmi.h>

#endif /* TXLIB_XATMI_H */
