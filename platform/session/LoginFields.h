// The login service of the domain, called by the session server after the
// TPINIT join when AuthKind is 2 (tsakQuor).
//
// Request (FML32, every field present once; strings in Windows-1250, as the
// session server holds them, without code-page translation):
//   QL_USERNAME, QL_PASSWD, QL_CLIENTNAME    the identity of the TPINIT
//   QL_APPCODE, QL_APPLABEL, QL_APPVERSION   QuorAppCode, QuorAppLabel, QuorAppVersion
//   QL_AUTHDLL                               QuorAuthDLL
//   QL_FLAGS                                 QuorLoginFlags (meaning is the service's)
// Reply (FML32, each field optional):
//   QL_LOGIN, QL_UNIT, QL_ROLE               QuorInfoLogin, QuorInfoUnit, QuorInfoRole
//   QL_APPKEY                                QuorInfoAppKey (0 when absent)
//   QL_RESULT                                0 (or absent): login accepted; else refused
//
// The service admits the client by returning TPSUCCESS with QL_RESULT 0 or
// absent. QuorLoginResult then reads:
//    0  accepted;
//   >0  refused: QL_RESULT of the reply, or 1 when the service failed
//       (TPFAIL) without a non-zero QL_RESULT; a TPSUCCESS reply with a
//       non-zero QL_RESULT is a refusal too;
//   -1  the service could not be called (not advertised, time-out, ...).
// The QuorInfo properties come from whatever reply arrived, refusals
// included, and are emptied when none did. A refused login leaves the
// domain again, so the session is not connected.
//
// Field numbers sit in the application range (above 100), at 8101 and up;
// the field table of the names below:
//   *base 8100
//   QL_USERNAME    1  string  -
//   QL_PASSWD      2  string  -
//   QL_CLIENTNAME  3  string  -
//   QL_APPCODE     4  string  -
//   QL_APPLABEL    5  string  -
//   QL_APPVERSION  6  string  -
//   QL_AUTHDLL     7  string  -
//   QL_FLAGS       8  long    -
//   QL_LOGIN      11  string  -
//   QL_UNIT       12  string  -
//   QL_ROLE       13  string  -
//   QL_APPKEY     14  long    -
//   QL_RESULT     15  long    -
#pragma once

#include <fml32.h>

namespace Tx::LoginFields {

// The service's name.
inline constexpr char LoginService[] = "QLOGIN";

inline constexpr FLDID32 FieldBase = 8100;

// A field id: the type in the top bits, the number below (as Fmkfldid32 makes it).
constexpr FLDID32 MakeFieldId(int type, FLDID32 number) noexcept {
  return (static_cast<FLDID32>(type) << 25) | (FieldBase + number);
}

inline constexpr FLDID32 QL_USERNAME = MakeFieldId(FLD_STRING, 1);
inline constexpr FLDID32 QL_PASSWD = MakeFieldId(FLD_STRING, 2);
inline constexpr FLDID32 QL_CLIENTNAME = MakeFieldId(FLD_STRING, 3);
inline constexpr FLDID32 QL_APPCODE = MakeFieldId(FLD_STRING, 4);
inline constexpr FLDID32 QL_APPLABEL = MakeFieldId(FLD_STRING, 5);
inline constexpr FLDID32 QL_APPVERSION = MakeFieldId(FLD_STRING, 6);
inline constexpr FLDID32 QL_AUTHDLL = MakeFieldId(FLD_STRING, 7);
inline constexpr FLDID32 QL_FLAGS = MakeFieldId(FLD_LONG, 8);

inline constexpr FLDID32 QL_LOGIN = MakeFieldId(FLD_STRING, 11);
inline constexpr FLDID32 QL_UNIT = MakeFieldId(FLD_STRING, 12);
inline constexpr FLDID32 QL_ROLE = MakeFieldId(FLD_STRING, 13);
inline constexpr FLDID32 QL_APPKEY = MakeFieldId(FLD_LONG, 14);
inline constexpr FLDID32 QL_RESULT = MakeFieldId(FLD_LONG, 15);

// The field table above, as the text of a field table file.
inline constexpr char FieldTable[] =
    "*base 8100\n"
    "QL_USERNAME\t1\tstring\t-\n"
    "QL_PASSWD\t2\tstring\t-\n"
    "QL_CLIENTNAME\t3\tstring\t-\n"
    "QL_APPCODE\t4\tstring\t-\n"
    "QL_APPLABEL\t5\tstring\t-\n"
    "QL_APPVERSION\t6\tstring\t-\n"
    "QL_AUTHDLL\t7\tstring\t-\n"
    "QL_FLAGS\t8\tlong\t-\n"
    "QL_LOGIN\t11\tstring\t-\n"
    "QL_UNIT\t12\tstring\t-\n"
    "QL_ROLE\t13\tstring\t-\n"
    "QL_APPKEY\t14\tlong\t-\n"
    "QL_RESULT\t15\tlong\t-\n";

}  // namespace Tx::LoginFields
