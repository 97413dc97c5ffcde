// Field tables: the text files that name field identifiers, found through
// FLDTBLDIR32 and FIELDTBLS32. Builtin-only.
//
// Format, one entry per line, blanks or tabs between items:
//   *base <number>                      later numbers are relative to it
//   <name> <number> <type> [<flags> [<comment ...>]]
//   # comment     $ header text     (blank lines)
// Names consist of letters, digits and '_'; types are the Ftype32 names.
#pragma once

#include <fml32.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Tx::Fml32Builtin {

struct FieldTable {
  std::unordered_map<std::string, FLDID32> idsByName;
  std::unordered_map<FLDID32, std::string> namesById;
};

// Adds the entries of one table text to `table`; an entry whose name or id
// is already known keeps its first meaning. Returns 0, or FFTSYNTAX for a
// malformed line (entries before it stay added), or FMALLOC.
int ParseFieldTable(std::string_view text, FieldTable& table) noexcept;

// Loads every table the environment names: FIELDTBLS32, a comma-separated
// list of file names ("fld.tbl" when unset or empty), each looked up as
// given when absolute and otherwise in the colon-separated directories of
// FLDTBLDIR32 (the current directory when unset). Returns 0, FFTOPEN when a
// table cannot be found or read, FFTSYNTAX or FMALLOC.
int LoadFieldTables(FieldTable& table) noexcept;

// The id-to-name table for printing, loaded when needed; null when it cannot
// be loaded. Leaves Ferror32 alone.
std::shared_ptr<const FieldTable> NameTableForPrinting() noexcept;

}  // namespace Tx::Fml32Builtin
