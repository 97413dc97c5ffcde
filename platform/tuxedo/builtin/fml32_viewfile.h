// View description files: the text that describes C structures (views) and
// how their members map to FML32 fields. Read by the engine's view
// functions (Fvftos32, Fvstof32, ...) and by tools/viewc32, which writes
// the C header of each view; both compute the same layout, the one a C
// compiler gives the header's structures on this platform.
//
// Format: '#' lines are comments, '$' lines are text for the C header,
// blank lines are skipped. A view is
//   VIEW <name>
//   <type> <cname> <fbname> <count> <flags> <size> <null>     (one per member)
//   END
// type:   char string carray short int long float double mbstring, or '-'
//         for the type of the field named by fbname
// fbname: the field the member maps to, '-' for none
// count:  elements of the member (an array when above 1)
// flags:  '-' or letters, optionally comma-separated: C (a count member
//         C_<cname>), L (a length member L_<cname>, string, carray and
//         mbstring only; mbstring always has one), F (structure to buffer
//         only), S (buffer to structure only), N (no mapping), P (a text
//         member is null when it holds its null value's last character
//         repeated to full length)
// size:   bytes of one element of string, carray and mbstring ('-' else)
// null:   '-' for the type's default (0, or the empty text), NONE for no
//         null value, a number, or a quoted text with C escapes
//         (\ddd \0 \n \t \v \r \f \\ \' \")
// The structure holds, per member in order: short C_<cname> (flag C),
// unsigned short L_<cname>[count] (flag L; no array when count is 1), then
// the member itself. dec_t members are not supported.
//
// Uses only public FML32 names (Fldid32 through the caller's lookup), so
// tools built against any engine can share it.
#pragma once

#include <fml32.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Tx::Fml32Builtin {

// Mapping directions of a member.
inline constexpr unsigned kMapToStruct = 1;  // Fvftos32 fills it
inline constexpr unsigned kMapToBuffer = 2;  // Fvstof32 reads it

struct ViewMember {
  int type = FLD_SHORT;          // FLD_SHORT .. FLD_CARRAY, FLD_INT or FLD_MBSTRING
  std::string cname;
  std::string fbname;            // empty when the member maps to no field
  FLDID32 fieldid = BADFLDID;    // resolved by the view's user; BADFLDID when unresolved
  int count = 1;
  bool countMember = false;      // C
  bool lengthMember = false;     // L
  bool propagateNull = false;    // P
  unsigned mapping = kMapToStruct | kMapToBuffer;
  std::size_t size = 0;          // bytes of one element
  bool hasNull = true;           // false for NONE
  std::string null;              // the null value as stored in one element (numbers in native form)
  std::string nullText;          // the null column as written, for the header's comment
  std::size_t offset = 0;
  std::size_t countOffset = 0;   // valid with countMember
  std::size_t lengthOffset = 0;  // valid with lengthMember
};

struct ViewDescription {
  std::string name;
  std::vector<ViewMember> members;
  std::size_t size = 0;       // sizeof the structure
  std::size_t alignment = 1;  // alignof the structure
  std::vector<std::string> headerText;  // '$' lines before the view, for the header

  const ViewMember* Find(std::string_view cname) const noexcept;
};

struct ViewFileProblem {
  int line = 0;
  std::string message;  // English, for tools; the engine reports FVFSYNTAX
};

// Resolves a field name to its id; false when unknown. Needed only for
// members of type '-'.
using FieldLookup = std::function<bool(const std::string& name, FLDID32& id)>;

// Parses a whole view file. Returns true with the views, or false with the
// first problem (views are then left empty). Never throws except
// std::bad_alloc.
bool ParseViewFile(std::string_view text, const FieldLookup& lookup, std::vector<ViewDescription>& views,
                   ViewFileProblem& problem);

// The C type a member is declared with ("short", "char", ...).
const char* CTypeName(int type) noexcept;

// The member type names accepted in view files, by type code.
const char* ViewTypeName(int type) noexcept;

}  // namespace Tx::Fml32Builtin
