// A ready call log: an IQuorEventLogTX component that appends one line per
// service call to a text file. Applications that want their calls logged
// register it under CLSID_QuorEventLog at start-up:
//
//   TQuorEventLogFileRegistration callLog("C:\\logs\\calls.log");
//
// and every TTxService call made while the registration lives is written
// (the service logs only for sessions that log in to the domain, AuthKind 2).
//
// The line, in Windows-1250, ends with a line feed and holds these columns
// separated by tabs:
//    1 date the line was written, yyyy-mm-dd
//    2 start time, 3 end time (hh:nn:ss.zzz, as the service gives them)
//    4 service name
//    5 tperrno of the call
//    6 login, 7 application code, 8 application version, 9 role, 10 unit
//   11 application key
//   12 bytes used in the request, 13 bytes used in the reply
//   14 call tag
//   15 the server's error text
//   16 the request as XML
// Inside a column a backslash, a tab, a carriage return and a line feed are
// written as \\, \t, \r and \n, so every call stays on one line and every
// text can be read back exactly (the XML's own line breaks become \n).
//
// Call tags are "<process id>-<n>", n counting the tags given by all the
// objects of the process from 1.
//
// The file is opened for appending for each line and closed again, so other
// programs may read or rotate it between calls. A file that cannot be opened
// makes LogServiceCall fail with E_FAIL; the service ignores that and the
// call goes on. File names are Windows names or host paths (HostPath).
#pragma once

#include "platform/calllog/QuorEventLog.h"
#include "platform/framework/AnsiString.h"
#include "platform/framework/Com.h"

namespace Tx {

// A new file log writing to FileName (its Target, which put_Target changes).
TComInterface<IQuorEventLogTX> CreateQuorEventLogFile(const AnsiString& FileName);

// Registers the file log under CLSID_QuorEventLog and "QuorEventLog" for
// in-process requests; every object the registry makes writes to FileName.
// Returns the cookie for RevokeComClass.
DWORD RegisterQuorEventLogFile(const AnsiString& FileName);

// The registration for the lifetime of a scope.
class TQuorEventLogFileRegistration {
 public:
  explicit TQuorEventLogFileRegistration(const AnsiString& FileName)
      : FCookie(RegisterQuorEventLogFile(FileName)) {}
  ~TQuorEventLogFileRegistration() { RevokeComClass(FCookie); }
  TQuorEventLogFileRegistration(const TQuorEventLogFileRegistration&) = delete;
  TQuorEventLogFileRegistration& operator=(const TQuorEventLogFileRegistration&) = delete;

 private:
  DWORD FCookie;
};

// The column text of a value: \\, \t, \r and \n for backslash, tab,
// carriage return and line feed.
AnsiString EscapeCallLogText(const AnsiString& Text);

}  // namespace Tx
