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
#define FNOTRECORD 21
#define FRFSYNTAX  22
#define FRFOPEN    23
#define FBADRECORD 24
#define FMAXVAL    25

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
 * caller frees it with Ffree32. NULL with FEINVAL (F < 0, V == 0, a size
 * beyond 4 GB) or FMALLOC. */
extern FBFR32 *Falloc32(FLDOCC32 F, FLDLEN32 V);
/* Makes the caller's block of buflen bytes an empty buffer. 1, or -1 with
 * FNOSPACE when buflen is less than Fneeded32(0, 0). */
extern int Finit32(FBFR32 *fbfr, FLDLEN32 buflen);
/* Frees a buffer from Falloc32/Frealloc32. 1 or -1. */
extern int Ffree32(FBFR32 *fbfr);
/* Resizes a buffer from Falloc32 to Fneeded32(F, V) bytes, keeping its
 * contents; returns the (possibly moved) buffer, or NULL with FEINVAL
 * (F < 0, V == 0) or FMALLOC (the contents would not fit, or no memory);
 * the buffer is then unchanged. */
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

/* A short English text for an error number FMINVAL .. FMAXVAL - 1; NULL for
 * any other number (Ferror32 is left alone). */
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

/* More of the documented interface: searching, string forms, whole-buffer
 * operations, indexes and binary input and output. Every function here is
 * written on the calls above, so it treats every storable field type alike.
 * Whole-buffer operations that fail (FNOSPACE above all) leave the
 * destination exactly as it was; after enlarging it the call may simply be
 * repeated. */

/* The first occurrence of the field whose value equals *value (len counts
 * only for carray and mbstring). For a string field and len != 0, value is
 * a regular expression (extended syntax, "A|B" alternation) that must match
 * the whole value. The occurrence, or -1 with FNOTPRES (no match), FSYNTAX
 * (a bad expression), FBADFLD, FTYPERR. */
extern FLDOCC32 Ffindocc32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len);
/* As Ffindocc32 with the value converted from `type` to the field's type
 * first; strings are compared whole, never as expressions. FEBADOP for
 * ptr, fml32 and view32 fields or values. */
extern FLDOCC32 CFfindocc32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len, int type);
/* Fget32 of the last occurrence; its number goes to *oc. */
extern int Fgetlast32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 *oc, char *loc, FLDLEN32 *maxlen);
/* Fget32 into memory from malloc, extra bytes beyond the value when
 * *extralen is given (which then receives the size allocated). The caller
 * frees the result with free(). NULL with Ferror32 set (FMALLOC too). */
extern char *Fgetalloc32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32 *extralen);
/* As Fgetalloc32, the value converted to `type`. */
extern char *CFgetalloc32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, int type, FLDLEN32 *extralen);
/* String forms: CFadd32, CFchg32, CFget32 (no room check: buf must be large
 * enough), CFfind32 and CFgetalloc32 with type FLD_STRING. */
extern int Fadds32(FBFR32 *fbfr, FLDID32 fieldid, char *value);
extern int Fchgs32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *value);
extern int Fgets32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, char *buf);
extern char *Ffinds32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc);
extern char *Fgetsa32(FBFR32 *fbfr, FLDID32 fieldid, FLDOCC32 oc, FLDLEN32 *extra);
/* Converts *fromval (fromlen bytes for carray and mbstring) from fromtype
 * to totype as CFchg32 would store it. Returns the converted value, held
 * per thread until the thread's next Ftypcvt32, and its length in *tolen;
 * NULL with FEINVAL (tolen or fromval NULL), FTYPERR, FEBADOP or FMALLOC. */
extern char *Ftypcvt32(FLDLEN32 *tolen, int totype, char *fromval, int fromtype, FLDLEN32 fromlen);
/* Adds an occurrence after the last one, as Fadd32 does. */
extern int Fappend32(FBFR32 *fbfr, FLDID32 fieldid, char *value, FLDLEN32 len);
/* Writes msg, ": " and the text of Ferror32 to stderr (msg may be NULL). */
extern void F_error32(char *msg);

/* Adds the occurrences of src after those of the same fields in dest. */
extern int Fconcat32(FBFR32 *dest, FBFR32 *src);
/* Fields matched by (id, occurrence) take src's value; dest's others go. */
extern int Fjoin32(FBFR32 *dest, FBFR32 *src);
/* As Fjoin32, but dest keeps what src does not match. */
extern int Fojoin32(FBFR32 *dest, FBFR32 *src);
/* As Fojoin32, and src's unmatched occurrences are added to dest. */
extern int Fupdate32(FBFR32 *dest, FBFR32 *src);
/* Keeps only the fields listed in fieldid[] (ended by BADFLDID); the list
 * is sorted in place. */
extern int Fproj32(FBFR32 *fbfr, FLDID32 *fieldid);
/* Replaces the contents of dest by the listed fields of src. */
extern int Fprojcpy32(FBFR32 *dest, FBFR32 *src, FLDID32 *fieldid);
/* Deletes every occurrence of the listed fields; absent ones are no error.
 * FBADFLD for field number 0 in the list. */
extern int Fdelete32(FBFR32 *fbfr, FLDID32 *fieldid);
/* 0 when both buffers hold the same occurrences and values; -1 when fbfr1
 * comes first (at the first difference in field-id order: a lower id, a
 * lower value, or the end of fbfr1), 1 otherwise; -2 on error. Strings
 * compare as strcmp, carrays byte-wise then by length, ptr by address,
 * fml32 buffers as Fcmp32. */
extern int Fcmp32(FBFR32 *fbfr1, FBFR32 *fbfr2);
/* A checksum (0 .. 2^31 - 1) of the contents, independent of the buffer's
 * size and free space; a ptr field counts by its name, not its address. */
extern long Fchksum32(FBFR32 *fbfr);

/* Indexes. This engine keeps the index of every buffer outside the block
 * and up to date at all times, so these calls only check the buffer and
 * report an index that takes no room in it: Findex32 and Frstrindex32
 * return 1, Funindex32 returns 0 index elements, Fidxused32 0 bytes. */
#define FSTDXINTVL 16
extern int Findex32(FBFR32 *fbfr, FLDOCC32 intvl);
extern FLDOCC32 Funindex32(FBFR32 *fbfr);
extern int Frstrindex32(FBFR32 *fbfr, FLDOCC32 numidx);
extern long Fidxused32(FBFR32 *fbfr);

/* Boolean and arithmetic expressions over a buffer's fields, C-like:
 * || && ^ == != %% !% < <= > >= + - * / % and unary + - ~ !, constants
 * (integers, numbers with a point, 'strings'), field references NAME,
 * NAME[n], NAME[?] (any occurrence). A bare field reference tests whether
 * the occurrence exists; "s %% 'r'" matches s against the regular
 * expression r. Fboolco32 compiles an expression (names from the field
 * tables) into a tree from malloc, freed with free(); NULL with FSYNTAX
 * (also for trees over 250 levels deep, and for patterns with stacked
 * repetitions such as "a++" or bounds over 255), FBADNAME, FEBADOP (ptr,
 * fml32, view32 fields) or FMALLOC. Fboolev32
 * returns 1 (true), 0 (false) or -1; Ffloatev32 the expression's value as a
 * double (-1 on error); Fboolpr32 writes the tree fully parenthesized and a
 * newline to iop. */
extern char *Fboolco32(char *expression);
extern int Fboolev32(FBFR32 *fbfr, char *tree);
extern double Ffloatev32(FBFR32 *fbfr, char *tree);
extern void Fboolpr32(char *tree, FILE *iop);

/* Binary input and output. Fwrite32 writes the used contents in a
 * machine-independent form (little-endian, longs as 64 bits; a ptr value
 * as its address only). Fread32 reads one buffer so written, replacing the
 * contents of fbfr, which keeps its size (ptr values are skipped): FNOTFLD
 * when the data read is not such a buffer, FNOSPACE when it does not fit
 * (fbfr is then unchanged), FEUNIX when the stream fails. */
extern int Fwrite32(FBFR32 *fbfr, FILE *iop);
extern int Fread32(FBFR32 *fbfr, FILE *iop);

/* Multibyte text: an FLD_MBSTRING value holds an encoding name and the
 * bytes of a text in that encoding, packed by Fmbpack32 and taken apart by
 * Fmbunpack32; the other functions treat it as bytes, like carray.
 * Fmbpack32 packs enc (printable, at most 64 characters; not stored with
 * FBUFENC, the text then being in the buffer's own encoding) and indlen
 * bytes at ind into packed, of *size bytes; *size receives the packed
 * length. Fmbunpack32 copies the encoding name (with its zero byte; "" for
 * a value packed with FBUFENC) to enc when enc is not NULL and the text to
 * outd, of *outdlen bytes; *outdlen receives the text's length. Both
 * return 0, or -1 with FEINVAL (NULL arguments, a bad name, unknown flags,
 * a value that is not packed) or FNOSPACE (the output is too small; the
 * size needed is then in *size or *outdlen). */
#define FBUFENC 0x1
extern int Fmbpack32(char *enc, void *ind, FLDLEN32 indlen, void *packed, FLDLEN32 *size, long flags);
extern int Fmbunpack32(void *packed, FLDLEN32 srclen, char *enc, void *outd, FLDLEN32 *outdlen, long flags);

/* Views: C structures described by view files, exchanged with buffers.
 * This engine reads view descriptions as text, not compiled (tools/viewc32
 * checks a description file and writes the C header and "x.V", the checked
 * text): VIEWFILES32 lists the files (comma-separated), each looked up in the
 * colon-separated directories of VIEWDIR32 (the current directory when
 * unset); for a name "x.V" (a compiled file elsewhere) that is not found,
 * "x.v" and "x" are tried.
 * They are read on first use and cached until Fvrefresh32. Field names in
 * them are resolved through the field tables on each call (FBADNAME when
 * one is not there).
 *
 * Errors common to the view functions: FBADVIEW (no file describes the
 * view, or view is NULL), FVFOPEN (a listed file cannot be read) or
 * FVFSYNTAX (a listed file is malformed) when the view was not found in
 * the files that could be read, FNOCNAME (no such member), FEINVAL (a NULL
 * structure or name, an occurrence outside the member, a bad mode or
 * option). Members of type dec_t are not supported (FVFSYNTAX). */

/* Fvstof32 modes: as Fupdate32, Fojoin32, Fjoin32 and Fconcat32. */
#define FUPDATE 1
#define FCONCAT 2
#define FJOIN   3
#define FOJOIN  4
/* Fvopt32 options: no mapping, buffer to structure, structure to buffer,
 * both ways (flags N, S, F and none in the view file). */
#define F_OFF  0
#define F_FTOS 1
#define F_STOF 2
#define F_BOTH 3

/* Fills the structure from the buffer: per mapped member, occurrence i of
 * its field goes to element i (converted to the member's type; text longer
 * than the element is cut), elements without an occurrence get the null
 * value, surplus occurrences are ignored; count members receive the number
 * of occurrences transferred, length members the bytes (a string's with
 * its zero byte). Members mapped F or N are left alone. On failure the
 * structure is unchanged. 1 or -1. */
extern int Fvftos32(FBFR32 *fbfr, char *cstruct, char *view);
/* Moves the structure into the buffer: the non-null elements of each mapped
 * member (the first C_<cname> elements when the member has a count member;
 * FBADACM when that is negative) become occurrences 0, 1, ... of its field,
 * combined with the buffer by mode. On failure (FNOSPACE above all) the
 * buffer is unchanged. 1 or -1. */
extern int Fvstof32(FBFR32 *fbfr, char *cstruct, int mode, char *view);
/* 1 when element oc of the member holds the null value, 0 when not (never
 * for a member whose null value is NONE), -1 on error. */
extern int Fvnull32(char *cstruct, char *cname, FLDOCC32 oc, char *view);
/* Sets the mapping of a member for this process (until Fvrefresh32). */
extern int Fvopt32(char *cname, int option, char *view);
/* Sets every member (or one) to its null value, count members to 0 and
 * length members to the length of the null value. 1 or -1. */
extern int Fvsinit32(char *cstruct, char *view);
extern int Fvselinit32(char *cstruct, char *cname, char *view);
/* Drops the cached views (and Fvopt32 changes); the next call reads the
 * view files again. */
extern void Fvrefresh32(void);
/* The expression functions over a structure: names in the expression are
 * the view's members (FNOCNAME for others), each element up to the count
 * member (when the member has one) an occurrence; otherwise as Fboolco32,
 * Fboolev32, Ffloatev32 and Fboolpr32. A tree from Fvboolco32 is evaluated
 * and printed with the same view. */
extern char *Fvboolco32(char *expression, char *viewname);
extern int Fvboolev32(char *cstruct, char *tree, char *viewname);
extern double Fvfloatev32(char *cstruct, char *tree, char *viewname);
extern void Fvboolpr32(char *tree, FILE *iop, char *viewname);
/* Records of IBM/370 COBOL programs: the view's members in order, without
 * filler bytes, each element of an array after the other: float as COMP-1
 * and double as COMP-2 (hexadecimal floating point, big-endian), short as
 * S9(4) COMP (2 bytes), long and int as S9(9) COMP (4 bytes, big-endian
 * two's complement), char as one EBCDIC byte, string as its size in EBCDIC
 * bytes (the text, then EBCDIC spaces), carray and mbstring as their bytes.
 * Count and length members are not part of the record.
 * Fvstot32 writes the record of the structure to trecord, of treclen
 * bytes, and returns its length; FNOSPACE when treclen is smaller,
 * FEINVAL for a NULL argument or a value the record cannot hold (a long
 * outside 32 bits; an infinite or NaN double, or one beyond the largest
 * COMP-2). Doubles too small for COMP-2 become 0. trecord is unchanged on
 * failure.
 * Fvttos32 reads such a record into the structure (trailing spaces of a
 * text are dropped; a text longer than the member is cut to leave room
 * for its zero byte), sets count members to the member's count and length
 * members to the bytes of each element (a string's with its zero byte),
 * and returns the record's length; FEINVAL for a NULL argument or a COMP-1
 * or COMP-2 beyond the range of float or double. The structure is
 * unchanged on failure.
 * Text goes through a translation table: by default code page 037 against
 * ISO 8859-1 (exact for ASCII). Fcodeset sets another, of 512 bytes: 256
 * bytes ASCII to EBCDIC, then 256 bytes EBCDIC to ASCII; NULL restores the
 * default. For the whole process; returns 0. */
extern int Fvstot32(char *cstruct, char *trecord, long treclen, char *viewname);
extern int Fvttos32(char *cstruct, char *trecord, char *viewname);
extern int Fcodeset(char *translation_table);
/* sizeof the view's structure, or -1 with FEINVAL when there is no such
 * view (FVFOPEN, FVFSYNTAX as above). */
extern long Fvneeded32(char *subtype);

#ifdef __cplusplus
}
#endif

#endif /* TXLIB_FML32_H */
