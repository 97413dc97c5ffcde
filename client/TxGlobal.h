// TxGlobal: the library's exceptions, the checks that turn ATMI and FML32
// error codes into them, the debug mode, the user log and the process-wide
// client.
//
// Every failure the library reports is one of the exception classes below.
// After each ATMI call the library runs CheckTperrno and after each FML32
// call CheckFerror; both raise with a composed Polish message when the
// middleware's error variable is set, and the exception takes over (and
// clears) the error variables it reports.
#pragma once

#include <cstdint>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Exceptions.h"
#include "platform/framework/Format.h"

namespace Tx {

// Base of the library's own exceptions.
class ETxError : public Exception {
 public:
  explicit ETxError(const AnsiString& message) : Exception(message) {}
};

// An ATMI failure. Construction copies tperrno and tpurcode into Tperrno and
// Tpurcode and then sets both variables to 0.
class ETxTpError : public ETxError {
 public:
  explicit ETxTpError(const AnsiString& message);
  std::int32_t Tperrno = 0;
  std::int32_t Tpurcode = 0;
};

// A service that ended with TPFAIL. Tperrno is always 11 (TPESVCFAIL);
// ErrCode is the error code the service reported.
class ETxSvcFail : public ETxTpError {
 public:
  ETxSvcFail(const AnsiString& message, int errCode);
  std::int32_t ErrCode = 0;
};

// An FML32 failure. Construction copies Ferror32 into Ferror and then sets
// Ferror32 to 0.
class ETxFmlError : public ETxError {
 public:
  explicit ETxFmlError(const AnsiString& message);
  std::int32_t Ferror = 0;
};

// A buffer that does not keep its contract.
class ETxFbfrContractViolated : public ETxError {
 public:
  explicit ETxFbfrContractViolated(const AnsiString& message) : ETxError(message) {}
};

// A data set asked for records it does not have.
class ENoRecordSet : public EDatabaseError {
 public:
  explicit ENoRecordSet(const AnsiString& message) : EDatabaseError(message) {}
};

// The field id passed to CheckFerror when no field is concerned.
inline constexpr unsigned long NoFieldId = 4294967295UL;

// Returns when tperrno is 0; otherwise raises ETxTpError with
// "Błąd Tuxedo " + tpstrerror + tpstrerrordetail + CR + op.
void CheckTperrno(const AnsiString& op);

// Returns when Ferror32 is 0; otherwise raises ETxFmlError with
// "Błąd FML #<n>[: Pole <id>] - <Fstrerror32>[: op]". fieldId is NoFieldId
// when no field is concerned.
void CheckFerror(const AnsiString& op, unsigned long fieldId);

// The debug mode: non-zero (the default, 1) makes operation labels carry the
// source file and line of the check.
int GetDebugMode();
void SetDebugMode(int mode);

// True when every byte of the value is 0xFF (the middleware's "no value"
// pattern); a NaN with other bits is not bad.
bool BadFloat(float& value);
bool BadDouble(double& value);

// The label of an operation: "text [file.line]" in debug mode, the text
// alone otherwise. file may carry directories; only its last component is
// used. Call it through the OpLabel macro so that the caller's own file and
// line are passed.
AnsiString OpLabelAt(const AnsiString& text, const char* file, int line);
#define OpLabel(text) ::Tx::OpLabelAt((text), __FILE__, __LINE__)

// Code pages of the application server for TranslateString.
enum TTxTranslateType : unsigned char {
  txttMazovia,
  txttCSK,
  txttCyfromat,
  txttDHN,
  txttLatin2,
  txttIEA,
  txttLogic,
  txttMicrovex,
  txttISO8859,
  txttWindows,
  txttASCII,
  txttNone,
};

// The process-wide client. Only static members; never instantiated.
class TTxGlobalClient {
 public:
  TTxGlobalClient() = delete;

  // Sets tperrno, tpurcode and Ferror32 to 0, in that order.
  static void ClearTpErrors();

  // Formats pattern with args[0..high] and appends one line to the user log:
  // the local date and time (DateTimeToStr) immediately followed by the text.
  // When the log cannot be opened the user hears three beeps and sees a
  // message box; nothing is raised and the next call tries again.
  static void UserLog(const AnsiString& pattern, const TVarRec* args, int high);

  // Where the user log is written. The default name is "C:\ULog_BCB.log",
  // which an application on this system will want to replace. Changing the
  // path closes a log that is open.
  static void SetUserLogPath(const AnsiString& path);
  static AnsiString GetUserLogPath();

  // Converts the Polish letters of a zero-terminated text (or of an
  // AnsiString, in place) between the Windows code page and the application
  // server's (GetTranslateType): toServer true for text going into a buffer,
  // false for text read from one.
  static void TranslateString(unsigned char* text, bool toServer);
  static void TranslateString(AnsiString& text, bool toServer);
  static void SetTranslateType(TTxTranslateType value);
  static TTxTranslateType GetTranslateType();
};

}  // namespace Tx
