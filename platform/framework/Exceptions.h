// The framework's exception family.
//
// Exception carries a message (Windows-1250 bytes) and a help context, and
// derives from std::exception so plain C++ callers can catch it; what()
// returns the message bytes. Copying copies the message, the help context and
// a descendant's own fields.
#pragma once

#include <exception>

#include "platform/framework/AnsiString.h"

namespace Tx {

class Exception : public std::exception {
 public:
  explicit Exception(const AnsiString& message, int helpContext = 0)
      : Message(message), HelpContext(helpContext) {}
  ~Exception() override = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  const char* what() const noexcept override { return Message.c_str(); }

  AnsiString Message;
  int HelpContext = 0;
};

#define TX_DECLARE_EXCEPTION(Name, Base)                                       \
  class Name : public Base {                                                   \
   public:                                                                     \
    explicit Name(const AnsiString& message, int helpContext = 0)              \
        : Base(message, helpContext) {}                                        \
  }

// Silent exception: application handlers ignore it (see Abort()).
TX_DECLARE_EXCEPTION(EAbort, Exception);
TX_DECLARE_EXCEPTION(EConvertError, Exception);
TX_DECLARE_EXCEPTION(EOutOfMemory, Exception);
TX_DECLARE_EXCEPTION(EDatabaseError, Exception);
TX_DECLARE_EXCEPTION(EPropertyError, Exception);
TX_DECLARE_EXCEPTION(EListError, Exception);
TX_DECLARE_EXCEPTION(EInOutError, Exception);
TX_DECLARE_EXCEPTION(EStreamError, Exception);
TX_DECLARE_EXCEPTION(EFilerError, EStreamError);
TX_DECLARE_EXCEPTION(EReadError, EFilerError);
TX_DECLARE_EXCEPTION(EWriteError, EFilerError);
TX_DECLARE_EXCEPTION(EFOpenError, EStreamError);
TX_DECLARE_EXCEPTION(EFCreateError, EStreamError);
TX_DECLARE_EXCEPTION(EVariantError, Exception);
TX_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError);
TX_DECLARE_EXCEPTION(EVariantOverflowError, EVariantError);
TX_DECLARE_EXCEPTION(EVariantInvalidArgError, EVariantError);
TX_DECLARE_EXCEPTION(EVariantBadVarTypeError, EVariantError);
TX_DECLARE_EXCEPTION(EVariantBadIndexError, EVariantError);
TX_DECLARE_EXCEPTION(EVariantArrayLockedError, EVariantError);
TX_DECLARE_EXCEPTION(EVariantArrayCreateError, EVariantError);
TX_DECLARE_EXCEPTION(EOleError, Exception);

// Range check error; the default message is the framework's standard text.
class ERangeError : public Exception {
 public:
  ERangeError() : Exception(AnsiString("Range check error")) {}
  explicit ERangeError(const AnsiString& message, int helpContext = 0)
      : Exception(message, helpContext) {}
};

// A COM call failed with an HRESULT.
class EOleSysError : public EOleError {
 public:
  EOleSysError(const AnsiString& message, long errorCode, int helpContext = 0)
      : EOleError(message, helpContext), ErrorCode(errorCode) {}
  long ErrorCode;
};

// Raises the silent EAbort ("Operation aborted").
[[noreturn]] void Abort();

}  // namespace Tx
