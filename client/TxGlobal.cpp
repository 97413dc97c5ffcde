#include "client/TxGlobal.h"

#include <atmi.h>
#include <fml32.h>

#include <cstdio>
#include <cstring>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/HostPath.h"

namespace Tx {
namespace {

int debugMode = 1;

// The user log stays open from the first successful open to the end of the
// process; the runtime flushes it.
std::FILE* userLogFile = nullptr;
AnsiString& UserLogPath() {
  static AnsiString path("C:\\ULog_BCB.log");
  return path;
}

AnsiString TextOrEmpty(const char* text) { return AnsiString(text ? text : ""); }

const char* BaseName(const char* file) {
  if (file == nullptr) return "";
  const char* base = file;
  for (const char* p = file; *p != '\0'; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

template <typename T>
bool AllBitsSet(const T& value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  for (unsigned char b : bytes)
    if (b != 0xFF) return false;
  return true;
}

bool OpenUserLog() {
  if (userLogFile != nullptr) return true;
  userLogFile = std::fopen(HostPath(UserLogPath()).c_str(), "a");
  if (userLogFile != nullptr) return true;
  for (int i = 0; i < 3; ++i) MessageBeep(0xFFFFFFFF);
  const AnsiString text = "Nie można otworzyć "_ansi + UserLogPath() + " do zapisu"_ansi;
  MessageBoxA(nullptr, text.c_str(), "Błąd"_ansi.c_str(), MB_OK);
  return false;
}

}  // namespace

ETxTpError::ETxTpError(const AnsiString& message) : ETxError(message) {
  Tperrno = static_cast<std::int32_t>(tperrno);
  Tpurcode = static_cast<std::int32_t>(tpurcode);
  tperrno = 0;
  tpurcode = 0;
}

ETxSvcFail::ETxSvcFail(const AnsiString& message, int errCode) : ETxTpError(message) {
  Tperrno = TPESVCFAIL;
  ErrCode = errCode;
}

ETxFmlError::ETxFmlError(const AnsiString& message) : ETxError(message) {
  Ferror = static_cast<std::int32_t>(Ferror32);
  Ferror32 = 0;
}

void CheckTperrno(const AnsiString& op) {
  if (tperrno == 0) return;
  AnsiString message = "Błąd Tuxedo "_ansi;
  message += TextOrEmpty(tpstrerror(tperrno));
  message += TextOrEmpty(tpstrerrordetail(tperrordetail(0), 0));
  message += '\r';
  message += op;
  throw ETxTpError(message);
}

void CheckFerror(const AnsiString& op, unsigned long fieldId) {
  if (Ferror32 == 0) return;
  const int error = Ferror32;
  AnsiString message = "Błąd FML #"_ansi + IntToStr(error);
  if (fieldId != NoFieldId) message += ": Pole <"_ansi + AnsiString(fieldId) + ">";
  message += " - "_ansi + TextOrEmpty(Fstrerror32(error));
  if (!op.IsEmpty()) message += ": "_ansi + op;
  throw ETxFmlError(message);
}

int GetDebugMode() { return debugMode; }
void SetDebugMode(int mode) { debugMode = mode; }

bool BadFloat(float& value) { return AllBitsSet(value); }
bool BadDouble(double& value) { return AllBitsSet(value); }

AnsiString OpLabelAt(const AnsiString& text, const char* file, int line) {
  if (debugMode != 0) return Format("%s [%s.%d]", {text, BaseName(file), line});
  return Format("%s", {text});
}

void TTxGlobalClient::ClearTpErrors() {
  tperrno = 0;
  tpurcode = 0;
  Ferror32 = 0;
}

void TTxGlobalClient::UserLog(const AnsiString& pattern, const TVarRec* args, int high) {
  const AnsiString line = DateTimeToStr(Now()) + Format(pattern, args, high);
  if (!OpenUserLog()) return;
  std::fwrite(line.data(), 1, static_cast<std::size_t>(line.Length()), userLogFile);
  std::fputc('\n', userLogFile);
}

void TTxGlobalClient::SetUserLogPath(const AnsiString& path) {
  if (userLogFile != nullptr) {
    std::fclose(userLogFile);
    userLogFile = nullptr;
  }
  UserLogPath() = path;
}

AnsiString TTxGlobalClient::GetUserLogPath() { return UserLogPath(); }

}  // namespace Tx
