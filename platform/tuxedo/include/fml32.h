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

/* Buffers.
 * A buffer is one contiguous block that holds no pointers, so a memcpy of
 * Fsizeof32 bytes is a complete, working copy. Blocks must be 8-byte
 * aligned (FALIGNERR otherwise); a block that is not an initialised buffer,
 * or whose contents are damaged, is refused with FNOTFLD by every function. */

/* Bytes a buffer needs for F values of V bytes in all (never less than
 * enough: with Fneeded32(1, len) bytes unused, any value of len bytes can be
 * added or changed). -1 with FEINVAL for F < 0 or a size beyond 4 GB. */
extern long Fneeded32(FLDOCC32 F, FLDLEN32 V);
/* Allocates (malloc) and initialises a buffer of Fneeded32(F, V) bytes; the
 * caller frees it with Ffree32. NULL with FEINVAL or FMALLOC. */
extern FBFR32 *Falloc32(FLDOCC32 F, FLDLEN32 V);
/* Makes the caller's block of buflen bytes an empty buffer. 1, or -1 with
 * FNOSPACE when buflen is less than Fneeded32(0, 0). */
extern int Finit32(FBFR32 *fbfr, FLDLEN32 buflen);
/* Frees a buffer from Falloc32/Frealloc32. 1 or -1. */
extern int Ffree32(FBFR32 *fbfr);
/* Resizes a buffer from Falloc32 to Fneeded32(F, V) bytes, keeping its
 * contents; returns the (possibly moved) buffer, or NULL with FNOSPACE when
 * the contents would not fit (the buffer is then unchanged) or FMALLOC. */
extern FBFR32 *Frealloc32(FBFR32 *fbfr, FLDOCC32 F, FLDLEN32 V);
/* 1 when fbfr is a valid buffer, 0 otherwise; Ferror32 is left alone. */
extern int Fielded32(FBFR32 *fbfr);
/* Size of the block; bytes in use (header and values); bytes free (deleted
 * values count as free). Fused32 + Funused32 == Fsizeof32. -1 on error. */
extern long Fsizeof32(FBFR32 *fbfr);
extern long Fused32(FBFR32 *fbfr);
extern long Funused32(FBFR32 *fbfr);
/* Copies the contents of src into the buffer dest, which keeps its own size.
 * 1, or -1 with FNOSPACE (dest too small; dest is then untouched). */
extern int Fcpy32(FBFR32 *dest, FBFR32 *src);
/* Copies the whole block of src (Fsizeof32 bytes) to aligned memory dest. */
extern int Fmove32(char *dest, FBFR32 *src);
/* Number of field occurrences in the buffer, or -1. */
extern FLDOCC32 Fnum32(FBFR32 *fbfr);

/* Values.
 * `value` points to a value of the field's type (short, long, char, float,
 * double, a zero-terminated string, or len bytes for carray and mbstring);
 * len matters only for carray and mbstring. Occurrences count from 0.
 * Pointers returned into the buffer (Ffind32, Ffindlast32, Fvals32) stay
 * valid until the buffer next changes; they are aligned for the value's
 * type. An fml32 field's value is an FBFR32 * (the buffer is stored as a
 * compacted copy; Ffind32 gives a read-only buffer, Fget32 and Fnext32 copy
 * it into aligned memory as a buffer of *maxlen bytes); a ptr field's value
 * is a pointer to the pointer to store. Field types view32, int, dec_t and
 * fml cannot be stored (FTYPERR). Failures: FNOTPRES for an absent
 * occurrence, FBADFLD for field number 0, FNOSPACE when the buffer is full
 * (nothing is changed). */

/* Adds an occurrence after the last one. 1 or -1. */
extern int Fadd32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len);
/* Sets occurrence oc: -1 adds one after the last; beyond the last, default
 * values (0, 0.0, empty string, empty carray) fill the gap; a NULL value
 * deletes occurrence oc. 1 or -1. */
extern int Fchg32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *value, FLDLEN32 len);
/* As Fadd32 and Fchg32, converting the value from `type` to the field's type
 * (numbers as C casts, text read as strtol/strtod read leading digits,
 * numbers written as "%d", "%ld" and "%f"). FTYPERR or FEBADOP for types
 * outside short .. carray. */
extern int CFadd32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len, int type);
extern int CFchg32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *value, FLDLEN32 len, int type);
/* Copies occurrence oc to loc (not copied when loc is NULL). *maxlen gives
 * the room at loc (NULL: enough) and receives the length; FNOSPACE when the
 * room is too small. 1 or -1. */
extern int Fget32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *loc, FLDLEN32 *maxlen);
/* As Fget32, converted to `type`. */
extern int CFget32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *buf, FLDLEN32 *len, int type);
/* Pointer to occurrence oc inside the buffer (length in *len), or NULL. */
extern char *Ffind32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32 *len);
/* Pointer to the value converted to `type`, held per thread until the
 * thread's next CFfind32, or NULL. */
extern char *CFfind32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32 *len, int type);
/* The value of a short or long occurrence; 0 for an absent one (no error);
 * 0 with FTYPERR for other types. */
extern long Fvall32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
/* The text of a string occurrence, or of a char as a one-character text
 * (held per thread); "" for an absent one (no error); "" with FTYPERR for
 * other types. Never NULL. */
extern char *Fvals32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
/* Length of occurrence oc (a string's includes its zero byte), or -1. */
extern long Flen32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
/* Number of occurrences of the field (0 when absent), or -1. */
extern FLDOCC32 Foccur32(FBFR32 *fbfr, FLDID32 fieldid);
/* 1 when occurrence oc is present, 0 otherwise. */
extern int Fpres32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
/* Steps from (*fieldid, *oc) to the next occurrence in field-id order, the
 * occurrences of one field in order; start with *fieldid = FIRSTFLDID.
 * Copies the value when value is not NULL (*len: room in, length out;
 * FNOSPACE when too small). 1 per step, 0 at the end with the arguments
 * unchanged, -1 on error. */
extern int Fnext32(FBFR32 *fbfr, FLDID32 *fieldid, FLDOCC32 *oc, char *value, FLDLEN32 *len);
/* Pointer to the last occurrence of the field, its number in *oc. */
extern char *Ffindlast32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 *oc, FLDLEN32 *len);
/* Deletes occurrence oc (later ones move down by one), or every occurrence
 * of the field (FNOTPRES when there is none). 1 or -1. */
extern int Fdel32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern int Fdelall32(FBFR32 *fbfr, FLDID32 fieldid);

/* Field identifiers and field tables.
 * A field id is type << 25 | number, number 1 .. FMAXNUM32. Names come from
 * the field tables listed in FIELDTBLS32 (comma-separated; "fld.tbl" when
 * unset), found in the directories of FLDTBLDIR32 (colon-separated; the
 * current directory when unset), loaded on first use. */

extern int Fldtype32(FLDID32 fieldid);
/* Name of the type ("short", "long", "char", "float", "double", "string",
 * "carray", ...), read-only; NULL with FTYPERR for an unknown type. */
extern char *Ftype32(FLDID32 fieldid);
extern long Fldno32(FLDID32 fieldid);
/* BADFLDID with FTYPERR or FBADFLD for an invalid type or number. */
extern FLDID32 Fmkfldid32(int type, FLDID32 num);
/* The field's name, valid until Fidnm_unload32; NULL with FBADFLD (not in
 * the tables), FFTOPEN (a table not found) or FFTSYNTAX. */
extern char *Fname32(FLDID32 fieldid);
/* The id of a name; BADFLDID with FBADNAME, FFTOPEN or FFTSYNTAX. */
extern FLDID32 Fldid32(char *name);
/* Drop the name-to-id and the id-to-name tables; the next lookup loads the
 * tables again, reading the environment anew. */
extern void Fnmid_unload32(void);
extern void Fidnm_unload32(void);

/* Errors and text. */

/* A short English text for any error number (never NULL). */
extern char *Fstrerror32(int err);
/* Write the buffer as text to stdout or iop: per occurrence, in Fnext32
 * order, the field name (or "((FLDID32)<id>)" when unnamed), a tab, the
 * value and a newline; then a blank line. An embedded fml32 buffer follows
 * its name's line, each of its lines indented by one more tab, ended by a
 * line of the indentation alone; a ptr value is written in hexadecimal. Bytes outside ' '..'~' in char,
 * string and carray values are written as a backslash and two hex digits, a
 * backslash as two backslashes. 1, or -1 (FEUNIX when writing fails). */
extern int Fprint32(FBFR32 *fbfr);
extern int Ffprint32(FBFR32 *fbfr, FILE *iop);
/* Reads that text up to a blank line or the end of iop (ptr fields are
 * skipped): without a flag a line adds an occurrence; "+name" changes occurrence 0; "-name" deletes
 * occurrence 0; "=name<tab>other" copies occurrence 0 of other; "#" lines
 * are comments. -1 with FSYNTAX, FBADNAME, FNOSPACE, ... leaves the buffer
 * unchanged. */
extern int Fextread32(FBFR32 *fbfr, FILE *iop);

#ifdef __cplusplus
}
#endif

#endif /* TXLIB_FML32_H */
