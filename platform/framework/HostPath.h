// Windows file names as this system opens them.
//
// A few names are fixed by the library's conventions in their Windows form
// ("C:\ULog_BCB.log", the dump directory "C:\"). HostPath turns such a name
// into one this system can open: a leading drive ("C:\") stands for the
// default directory below, and backslashes become slashes. Names without a
// drive are returned with backslashes turned into slashes only.
#pragma once

#include "platform/framework/AnsiString.h"

namespace Tx {

// The directory that stands for the root of a Windows drive: $TXLIB_DRIVE_ROOT
// when set, else $TMPDIR, else /tmp. Never ends with a slash unless it is "/".
AnsiString DriveRootDirectory();

AnsiString HostPath(const AnsiString& windowsPath);

}  // namespace Tx
