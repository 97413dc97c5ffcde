/*
 * FML32: fielded buffers of the transaction-processing middleware.
 *
 * This header declares the public FML32 C interface exactly as client
 * programs know it (names, types, constants, error numbers). With the builtin
 * platform it is served by txlib's in-process engine; with the vendor
 * platform the vendor's own <fml32.h> is used instead and this file is not on
 * the include path. Library code may therefore rely on nothing here that the
 * vendor's header does not also provide.
 *
 * Error reporting: functions return -1, 0 or NULL on failure (as documented
 * for each) and set Ferror32, which is per thread and may be read and
 * assigned like a variable.
 */
#ifndef TXLIB_FML32_H
#define TXLIB_FML32_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int FLDOCC32;           /* occurrence number, counted from 0 */
typedef unsigned int FLDID32;   /* field identifier: type in the top bits, number below */
typedef unsigned int FLDLEN32;  /* length of a value in bytes */
typedef struct Fbfr32 FBFR32;   /* a fielded buffer; opaque, one contiguous block */

/* Field types, kept in the top 7 bits of a field id. */
#define FLD_SHORT    0
#define FLD_LONG     1
#define FLD_CHAR     2
#define FLD_FLOAT    3
#define FLD_DOUBLE   4
#define FLD_STRING   5
#define FLD_CARRAY   6
#define FLD_INT      7
#define FLD_DECIMAL  8
#define FLD_PTR      9
#define FLD_FML32    10
#define FLD_VIEW32   11
#define FLD_MBSTRING 12
#define FLD_FML      13

#define BADFLDID   ((FLDID32)0)
#define FIRSTFLDID ((FLDID32)0)

/* Field numbers 1..100 are reserved for the system; applications use 101 up. */
#define FMAXNUM32 33554431 /* largest field number: 2^25 - 1 */

/* Error numbers stored in Ferror32. */
#define FMINVAL    0
#define FALIGNERR  1
#define FNOTFLD    2
#define FNOSPACE   3
#define FNOTPRES   4
#define FBADFLD    5
#define FTYPERR    6
#define FEUNIX     7
#define FBADNAME   8
#define FMALLOC    9
#define FSYNTAX    10
#define FFTOPEN    11
#define FFTSYNTAX  12
#define FEINVAL    13
#define FBADTBL    14
#define FBADVIEW   15
#define FVFSYNTAX  16
#define FVFOPEN    17
#define FBADACM    18
#define FNOCNAME   19
#define FEBADOP    20
#define FMAXVAL    21

/* Per-thread error number of the last failed FML32 call. */
extern int *Ferror32_location(void);
#define Ferror32 (*Ferror32_location())

/* Buffers */
extern FBFR32 *Falloc32(FLDOCC32 F, FLDLEN32 V);
extern int Finit32(FBFR32 *fbfr, FLDLEN32 buflen);
extern int Ffree32(FBFR32 *fbfr);
extern FBFR32 *Frealloc32(FBFR32 *fbfr, FLDOCC32 F, FLDLEN32 V);
extern int Fielded32(FBFR32 *fbfr);
extern long Fsizeof32(FBFR32 *fbfr);
extern long Fused32(FBFR32 *fbfr);
extern long Funused32(FBFR32 *fbfr);
extern long Fneeded32(FLDOCC32 F, FLDLEN32 V);
extern int Fcpy32(FBFR32 *dest, FBFR32 *src);
extern int Fmove32(char *dest, FBFR32 *src);
extern FLDOCC32 Fnum32(FBFR32 *fbfr);

/* Values */
extern int Fadd32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len);
extern int CFadd32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len, int type);
extern int Fchg32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *value, FLDLEN32 len);
extern int CFchg32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *value, FLDLEN32 len, int type);
extern int Fget32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *loc, FLDLEN32 *maxlen);
extern int CFget32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *buf, FLDLEN32 *len, int type);
extern char *Ffind32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32 *len);
extern char *CFfind32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32 *len, int type);
extern long Fvall32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern char *Fvals32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern long Flen32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern FLDOCC32 Foccur32(FBFR32 *fbfr, FLDID32 fieldid);
extern int Fpres32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern int Fnext32(FBFR32 *fbfr, FLDID32 *fieldid, FLDOCC32 *oc, char *value, FLDLEN32 *len);
extern char *Ffindlast32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 *oc, FLDLEN32 *len);
extern int Fdel32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern int Fdelall32(FBFR32 *fbfr, FLDID32 fieldid);

/* Field identifiers and field tables */
extern int Fldtype32(FLDID32 fieldid);
extern char *Ftype32(FLDID32 fieldid);
extern long Fldno32(FLDID32 fieldid);
extern FLDID32 Fmkfldid32(int type, FLDID32 num);
extern char *Fname32(FLDID32 fieldid);
extern FLDID32 Fldid32(char *name);
extern void Fnmid_unload32(void);
extern void Fidnm_unload32(void);

/* Errors and text */
extern char *Fstrerror32(int err);
extern int Fprint32(FBFR32 *fbfr);
extern int Ffprint32(FBFR32 *fbfr, FILE *iop);
extern int Fextread32(FBFR32 *fbfr, FILE *iop);

#ifdef __cplusplus
}
#endif

#endif /* TXLIB_FML32_H */
