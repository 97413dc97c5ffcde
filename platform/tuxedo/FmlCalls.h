// FML32 reads that answer the same on every engine.
//
// The manual pages document Fvall32, Fvals32, Fnmid_unload32 and
// Fidnm_unload32, but not every client library provides them. The build looks
// for each (platform/tuxedo/CMakeLists.txt) and defines TXLIB_NO_<NAME> for
// those it lacks; the functions here then give the documented answer through
// CFget32 and Ffind32, which every engine has. With the calls present they are
// the calls themselves.
//
// Character fields are always read through Ffind32: Fvals32 is documented for
// FLD_STRING only, and an engine that keeps to that gives the null string for
// a FLD_CHAR.
#pragma once

#include <fml32.h>

namespace Tx {

// The value of a FLD_SHORT or FLD_LONG occurrence as a long, as Fvall32 gives
// it: 0 for an absent occurrence (Ferror32 untouched), 0 and FTYPERR for a
// field of another type, 0 and Ferror32 set on other failures.
inline long FieldLong(FBFR32* fbfr, FLDID32 id, FLDOCC32 occ) {
#ifndef TXLIB_NO_FVALL32
  return Fvall32(fbfr, id, occ);
#else
  const int type = Fldtype32(id);
  if (type != FLD_SHORT && type != FLD_LONG) {
    Ferror32 = FTYPERR;
    return 0;
  }
  const int before = Ferror32;
  long value = 0;
  if (CFget32(fbfr, id, occ, reinterpret_cast<char*>(&value), nullptr, FLD_LONG) == -1) {
    if (Ferror32 == FNOTPRES) Ferror32 = before;
    return 0;
  }
  return value;
#endif
}

// The text of a FLD_STRING occurrence, as Fvals32 gives it: a pointer into
// the buffer, valid until the buffer changes; the empty text for an absent
// occurrence (Ferror32 untouched); the empty text and FTYPERR for a field of
// another type, and the empty text and Ferror32 set on other failures.
inline const char* FieldString(FBFR32* fbfr, FLDID32 id, FLDOCC32 occ) {
#ifndef TXLIB_NO_FVALS32
  return Fvals32(fbfr, id, occ);
#else
  if (Fldtype32(id) != FLD_STRING) {
    Ferror32 = FTYPERR;
    return "";
  }
  const int before = Ferror32;
  const char* value = Ffind32(fbfr, id, occ, nullptr);
  if (value != nullptr) return value;
  if (Ferror32 == FNOTPRES) Ferror32 = before;
  return "";
#endif
}

// The character of a FLD_CHAR occurrence; '\0' for an absent occurrence
// (Ferror32 untouched), '\0' and Ferror32 set on other failures. The caller
// checks the field's type.
inline char FieldChar(FBFR32* fbfr, FLDID32 id, FLDOCC32 occ) {
  const int before = Ferror32;
  const char* value = Ffind32(fbfr, id, occ, nullptr);
  if (value != nullptr) return *value;
  if (Ferror32 == FNOTPRES) Ferror32 = before;
  return '\0';
}

// Release the name-to-id and the id-to-name field tables, so that the next
// lookup reads the tables again. An engine without these calls keeps the
// tables it has loaded for the life of the process.
inline void UnloadNameToIdTable() {
#ifndef TXLIB_NO_FNMID_UNLOAD32
  Fnmid_unload32();
#endif
}
inline void UnloadIdToNameTable() {
#ifndef TXLIB_NO_FIDNM_UNLOAD32
  Fidnm_unload32();
#endif
}

}  // namespace Tx
