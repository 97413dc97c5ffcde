// The text services of the session server: the environment file that
// ReadEnv applies, the digest behind Hash and the client-name rule behind
// CheckName. Kept apart from the COM object so that each can be used and
// tested on its own.
#pragma once

#include <vector>

#include "platform/framework/AnsiString.h"

namespace Tx::SessionText {

// ---- Environment file ---------------------------------------------------------

// The environment file, one statement a line (CR LF or LF):
//
//   # comment            lines starting with '#' or ';' (after blanks)
//   NAME=value           an assignment; blanks around NAME and around the
//                        value are dropped; the value may be empty
//   [section]            starts a section; the name is compared with the
//                        chosen section without regard to ASCII case
//
// Assignments before the first section header apply always; those inside a
// section apply only when it is the chosen one (an empty choice takes no
// section). NAME starts with a letter or '_' and goes on with letters,
// digits and '_'. "${NAME}" in a value is replaced by NAME's value in the
// environment at that point (empty when unset), so a line may build on the
// lines before it; a '$' not followed by "{NAME}" stays as it is. Bytes are
// taken as they are (Windows-1250).

struct TEnvAssignment {
  AnsiString Name;
  AnsiString Value;  // before ${...} expansion
  int Line = 0;      // 1-based
};

struct TEnvFile {
  // Assignments of the chosen section and of the common part, in file order.
  std::vector<TEnvAssignment> Assignments;
  // Lines (1-based) that are neither blank, comment, header nor a valid
  // assignment. They are skipped; the rest of the file still counts.
  std::vector<int> BadLines;
};

// Parses the text of an environment file for the chosen section.
TEnvFile ParseEnvFile(const AnsiString& text, const AnsiString& section);

// Expands "${NAME}" references against the current process environment.
AnsiString ExpandEnvReferences(const AnsiString& value);

// Applies the assignments in order (each expanded just before it is set,
// with setenv). Returns how many were set.
int ApplyEnvFile(const TEnvFile& file);

// ---- Hash --------------------------------------------------------------------------

// The SHA-256 digest of the text's bytes as 64 lower-case hexadecimal
// digits. The session server's Hash returns it with the text's length in
// bytes, so a caller can store the pair and compare later without keeping
// the text itself.
AnsiString Sha256Hex(const AnsiString& text);

// ---- Client names --------------------------------------------------------------------

// Results of CheckClientName.
enum TClientNameCheck : int {
  cncValid = 0,         // usable as the client name of a TPINIT
  cncEmpty = 1,         // no characters
  cncTooLong = 2,       // more than 30 bytes (MAXTIDENT)
  cncBadFirst = 3,      // does not start with an ASCII letter
  cncBadCharacter = 4,  // holds a byte other than ASCII letters, digits, '_', '-', '.'
};

// A client name is 1 to 30 bytes: an ASCII letter first, then ASCII
// letters, digits, '_', '-' and '.'. Such a name survives every code page
// and is never cut when it goes into a TPINIT. The first rule broken, in
// the order of the enumeration, is reported.
TClientNameCheck CheckClientName(const AnsiString& name);

}  // namespace Tx::SessionText
