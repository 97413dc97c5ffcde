// The framework's exception family.
//
// Exception carries a message (Windows-1250 bytes) and a help context, and
// derives from std::exception so plain C++ callers can catch it; what()
// returns the message bytes. Copying copies the message, the help context and
// a descendant's own fields.
//
// Besides the plain message, every class can be built the way the
// framework's CreateFmt does, from a Format pattern and its arguments:
//   throw Exception("Zły numer rekordu %d"_ansi, {recNo});
//   throw EConvertError(pattern, args, high);
// A formatting failure (a pattern that does not fit its arguments) raises
// the EConvertError of Format instead.
#pragma once

#include <concepts>
#include <exception>
#include <initializer_list>

#include "platform/framework/AnsiString.h"
#include "platform/framework/Format.h"

namespace Tx {

class Exception : public std::exception {
 public:
  explicit Exception(const AnsiString& message) : Message(message) {}
  // The help context has to be an int: a one-element brace list such as
  // {42} is a format argument (below), never a help context.
  template <std::same_as<int> HelpContextT>
  Exception(const AnsiString& message, HelpContextT helpContext)
      : Message(message), HelpContext(helpContext) {}
  // CreateFmt: the message is Format(pattern, args[0..high]).
  Exception(const AnsiString& pattern, const TVarRec* args, int high)
      : Message(Format(pattern, args, high)) {}
  Exception(const AnsiString& pattern, std::initializer_list<TVarRec> args)
      : Message(Format(pattern, args)) {}
  ~Exception() override = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  Exception(Exception&&) = default;
  Exception& operator=(Exception&&) = default;

  const char* what() const noexcept override { return Message.c_str(); }

  AnsiString Message;
  int HelpContext = 0;
};

// A descendant without fields of its own: it takes every constructor of its base.
#define TX_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {             \
   public:                               \
    using Base::Base;                    \
  }

TX_DECLARE_EXCEPTION(EConvertError, Exception);
TX_DECLARE_EXCEPTION(EOutOfMemory, Exception);
TX_DECLARE_EXCEPTION(EDatabaseError, Exception);
TX_DECLARE_EXCEPTION(EPropertyError, Exception);
TX_DECLARE_EXCEPTION(EListError, Exception);
TX_DECLARE_EXCEPTION(EStringListError, Exception);
TX_DECLARE_EXCEPTION(EInvalidCast, Exception);
TX_DECLARE_EXCEPTION(EInvalidPointer, Exception);
TX_DECLARE_EXCEPTION(ENotImplemented, Exception);
TX_DECLARE_EXCEPTION(EInOutError, Exception);
TX_DECLARE_EXCEPTION(EStreamError, Exception);
TX_DECLARE_EXCEPTION(EFilerError, EStreamError);
TX_DECLARE_EXCEPTION(EReadError, EFilerError);
TX_DECLARE_EXCEPTION(EWriteError, EFilerError);
TX_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
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

// Silent exception: application handlers ignore it (see Abort()). Without a
// message it carries the framework's text "Operation aborted".
class EAbort : public Exception {
 public:
  using Exception::Exception;
  EAbort() : Exception(AnsiString("Operation aborted")) {}
};

// Range check error; without a message it carries the framework's standard
// text "Range check error".
class ERangeError : public Exception {
 public:
  using Exception::Exception;
  ERangeError() : Exception(AnsiString("Range check error")) {}
};

// A COM call failed with an HRESULT (ErrorCode).
class EOleSysError : public EOleError {
 public:
  EOleSysError(const AnsiString& message, long errorCode, int helpContext = 0)
      : EOleError(message, helpContext), ErrorCode(errorCode) {}
  long ErrorCode;
};

// A COM object reported a failure with its own error information: the
// HRESULT, the source (the object's name) and the help file it names.
class EOleException : public EOleSysError {
 public:
  EOleException(const AnsiString& message, long errorCode, const AnsiString& source,
                const AnsiString& helpFile, int helpContext = 0)
      : EOleSysError(message, errorCode, helpContext), Source(source), HelpFile(helpFile) {}
  AnsiString Source;
  AnsiString HelpFile;
};

// Raises the silent EAbort ("Operation aborted").
[[noreturn]] void Abort();

}  // namespace Tx
