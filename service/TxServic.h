// TxServic: service calls and their diagnostic dump.
//
// ---- Diagnostic dump ---------------------------------------------------------
// When the dump is switched on, the call sequence appends a readable listing
// of every request and every reply buffer to the text file "tuxfmldump.txt":
// one line per field (name, id, type, field number) and one per occurrence
// with its value. Support staff read the file after a call went wrong, so
// the dump never disturbs the call: its own failures are written into the
// file in place of what could not be read, and a file that cannot be opened
// is reported once in a message dialog.
//
// Where the file is:
//   - the directory named by QUORDEBUGDIR, or "C:\" when it is not set;
//   - a separator is added unless the text already ends with one; both "\"
//     and "/" count, so "/var/log/tx" and "/var/log/tx/" name the same file
//     and a trailing separator is never doubled;
//   - an empty QUORDEBUGDIR names "tuxfmldump.txt" in the current directory;
//   - the Windows name is then opened as HostPath (platform/framework/
//     HostPath.h) gives it: a drive ("C:\", "D:\") stands for
//     DriveRootDirectory() ($TXLIB_DRIVE_ROOT, else $TMPDIR, else /tmp) and
//     backslashes become slashes. So the default "C:\" writes
//     DriveRootDirectory()/tuxfmldump.txt, and D:\logs\ names
//     DriveRootDirectory()/logs/tuxfmldump.txt.
//
// Size limits: a buffer is listed only while the file is at most 5,242,880
// bytes long (a file of exactly that size is still written to). Above it,
// each dump appends only a warning line, until the file reaches 9,437,184
// bytes; from then on nothing is written.
//
// Records (lines end with a single line feed; the file is written in binary
// mode, so nothing is translated):
//   request (Name not empty):
//     "" / "" / "**** <date-time> : Wywołanie usługi <Name> ****"
//     "==== Bufor wysłany:"
//   reply (Name empty):
//     "**** <date-time> : Zakończenie usługi; tpurcode=<tpurcode> ****"
//     "==== Bufor odebrany:"
//   then for every field in buffer order:
//     "---- <name>: <<id>> <type name> #<field number>"
//     "[<occ>] <value>" for every occurrence
//   and finally "---- koniec".
// The date-time text is DateTimeToStr(Now()): the user's short date format,
// a blank and the long time format. The field name comes from the field
// tables (Fname32), else from the buffer's field definitions, else it is
// empty. Values: short and long in decimal, char and string in double
// quotes, float and double as printf's "%G" (always with '.', whatever the
// process locale), carray as a hex listing of 64 bytes per line, each line
// starting with a tab and the offset ("\t000040: 41 42 ..."); other types
// write nothing after the occurrence number.
//
// The dump runs on the application's thread; the file is opened and closed
// within each call, so other processes may read it between calls.
#pragma once

#include "buffer/TxFbfr.h"
#include "platform/framework/AnsiString.h"

namespace Tx {

// The file the dump appends to, as this system opens it (see above). Reads
// QUORDEBUGDIR at every call. Never throws anything but std::bad_alloc.
AnsiString DumpFilePath();

// Appends one record for Fbfr to the dump file: a request record when Name
// is not empty (Name is the service called, e.g. "ROUTER (PAY)"), a reply
// record when it is empty. Nothing leaves this routine:
//   - the file cannot be opened: the message dialog "Nie można otworzyć
//     pliku <path> do dopisywania." (path as DumpFilePath gives it);
//   - an FML32 error reading one value: "Błąd!!! " and the ETxFmlError's
//     message stand in place of that value, and the listing goes on;
//   - any other failure while listing (a null buffer, a failed walk): the
//     text "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek " and the
//     exception's message (or "... Wyjątek C++" for a non-framework
//     exception) ends the listing, followed by "---- koniec".
// Fbfr is not owned and is only read; nullptr is reported as the framework
// exception "Wskaźnik bufora == NULL" inside the record.
void DumpBuffer(const AnsiString& Name, TTxFbfr* Fbfr) noexcept;

}  // namespace Tx
