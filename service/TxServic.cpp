#include "service/TxServic.h"

#include <atmi.h>
#include <fml32.h>
#include <locale.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/framework/DateTime.h"
#include "platform/framework/Dialogs.h"
#include "platform/framework/HostPath.h"

namespace Tx {

// ---- Diagnostic dump -----------------------------------------------------------

namespace {

constexpr long DumpListingLimit = 0x500000;  // 5,242,880: listed up to and including
constexpr long DumpWarningLimit = 0x900000;  // 9,437,184: warned below, silent from here
constexpr int HexBytesPerLine = 64;

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using DumpFile = std::unique_ptr<std::FILE, FileCloser>;

bool EndsWithSeparator(const AnsiString& dir) {
  const char last = dir[dir.Length()];
  return last == '\\' || last == '/';
}

// The dump's numbers are read by tools: "%G" is written with '.' whatever
// locale the application switched the C library to.
class CNumericLocaleScope {
 public:
  CNumericLocaleScope() : FPrevious(FCLocale ? uselocale(FCLocale) : nullptr) {}
  ~CNumericLocaleScope() {
    if (FPrevious != nullptr) uselocale(FPrevious);
  }
  CNumericLocaleScope(const CNumericLocaleScope&) = delete;
  CNumericLocaleScope& operator=(const CNumericLocaleScope&) = delete;

 private:
  static inline const locale_t FCLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
  locale_t FPrevious;
};

void Write(std::FILE* file, const AnsiString& text) {
  std::fwrite(text.data(), 1, static_cast<std::size_t>(text.Length()), file);
}
void Write(std::FILE* file, const char* text) { std::fputs(text, file); }

// "%s" of the C library stops at the first zero byte.
const char* CText(const char* text) { return text != nullptr ? text : ""; }

void WriteHeader(std::FILE* file, const AnsiString& name) {
  const AnsiString now = DateTimeToStr(Now());
  if (!name.IsEmpty()) {
    Write(file, "\n\n**** " + now + " : Wywołanie usługi "_ansi + CText(name.c_str()) + " ****\n");
    Write(file, "==== Bufor wysłany:\n"_ansi);
  } else {
    Write(file, "**** " + now + " : Zakończenie usługi; tpurcode="_ansi +
                    IntToStr(static_cast<int>(tpurcode)) + " ****\n");
    Write(file, "==== Bufor odebrany:\n"_ansi);
  }
}

// The field tables' name, else the buffer definition's, else empty.
AnsiString FieldName(TTxFbfr& fbfr, FLDID32 id) {
  if (const char* name = Fname32(id)) return AnsiString(name);
  if (const TTxFbfrFldDef* def = fbfr.GetFldDefs()->FindFldDefById(id)) return def->GetTxFldName();
  return AnsiString();
}

void WriteHexListing(std::FILE* file, const unsigned char* bytes, FLDLEN32 length) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string line;
  for (FLDLEN32 i = 0; i < length; ++i) {
    if (i % HexBytesPerLine == 0) {
      if (i != 0) line += '\n';
      char offset[24];
      std::snprintf(offset, sizeof offset, "\t%.6x: ", i);
      line += offset;
    }
    line += digits[bytes[i] >> 4];
    line += digits[bytes[i] & 0x0F];
    line += ' ';
    if (line.size() >= 4096) {
      std::fwrite(line.data(), 1, line.size(), file);
      line.clear();
    }
  }
  std::fwrite(line.data(), 1, line.size(), file);
}

// Raises the ETxFmlError of a failed read of one value.
void CheckValueRead(const char* operation, FLDID32 id) {
  if (Ferror32 != 0) CheckFerror(OpLabel(Utf8ToAnsi(operation)), id);
}

void WriteValue(std::FILE* file, FBFR32* buffer, FLDID32 id, int type, FLDOCC32 occ) {
  switch (type) {
    case FLD_SHORT:
    case FLD_LONG: {
      const long value = Fvall32(buffer, id, occ);
      CheckValueRead("Fvall failed", id);
      std::fprintf(file, "%ld", value);
      break;
    }
    case FLD_CHAR:
    case FLD_STRING: {
      const char* value = Fvals32(buffer, id, occ);
      CheckValueRead("Pobranie wskazania na wartość jako char*", id);
      std::fprintf(file, "\"%s\"", CText(value));
      break;
    }
    case FLD_FLOAT:
    case FLD_DOUBLE: {
      const char* value = Ffind32(buffer, id, occ, nullptr);
      CheckValueRead("Pobranie wskazania na wartość", id);
      double number = 0.0;
      if (type == FLD_FLOAT) {
        float single = 0.0f;
        if (value != nullptr) std::memcpy(&single, value, sizeof single);
        number = single;
      } else if (value != nullptr) {
        std::memcpy(&number, value, sizeof number);
      }
      std::fprintf(file, "%G", number);
      break;
    }
    case FLD_CARRAY: {
      FLDLEN32 length = 0;
      const char* value = Ffind32(buffer, id, occ, &length);
      CheckValueRead("Pobranie wskazania na wartość pola", id);
      if (value != nullptr) {
        WriteHexListing(file, reinterpret_cast<const unsigned char*>(value), length);
      }
      break;
    }
    default:
      break;  // nothing is known about the value of other types
  }
}

void WriteField(std::FILE* file, TTxFbfr& fbfr, FBFR32* buffer, FLDID32 id) {
  const int type = Fldtype32(id);
  CheckFerror(AnsiString(), id);
  const FLDOCC32 count = Foccur32(buffer, id);
  CheckFerror(AnsiString(), id);

  const AnsiString name = FieldName(fbfr, id);
  Ferror32 = 0;
  std::fprintf(file, "---- %s: <%ld> %s #%ld\n", CText(name.c_str()), static_cast<long>(id),
               CText(Ftype32(id)), Fldno32(id));
  Ferror32 = 0;

  for (FLDOCC32 occ = 0; occ < count; ++occ) {
    std::fprintf(file, "[%d] ", occ);
    try {
      WriteValue(file, buffer, id, type, occ);
    } catch (const ETxFmlError& e) {
      Write(file, "Błąd!!! "_ansi + CText(e.Message.c_str()));
    }
    std::fputc('\n', file);
  }
}

void WriteListing(std::FILE* file, TTxFbfr* fbfr) {
  if (fbfr == nullptr) throw Exception("Wskaźnik bufora == NULL"_ansi);
  FBFR32* const buffer = fbfr->GetFbfrP();
  const CNumericLocaleScope numbers;
  FLDID32 id = FIRSTFLDID;
  FLDOCC32 occ = 0;
  while (Fnext32(buffer, &id, &occ, nullptr, nullptr) > 0) {
    WriteField(file, *fbfr, buffer, id);
    // Continue after the field's last occurrence: the next Fnext32 moves on
    // to the following field.
    Ffindlast32(buffer, id, &occ, nullptr);
    CheckFerror(OpLabel("Ffindlast"), id);
  }
  CheckFerror(OpLabel("Fnext"), id);
}

void WriteRecord(std::FILE* file, const AnsiString& name, TTxFbfr* fbfr) {
  WriteHeader(file, name);
  try {
    WriteListing(file, fbfr);
  } catch (const Exception& e) {
    Write(file, "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek "_ansi +
                    CText(e.Message.c_str()));
  } catch (...) {
    Write(file, "Zrzut diagnostyczny bufora do pliku nieudany. Wyjątek C++"_ansi);
  }
  Write(file, "---- koniec\n");
}

long FileLength(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return 0;
  const long length = std::ftell(file);
  return length < 0 ? 0 : length;
}

}  // namespace

AnsiString DumpFilePath() {
  const char* configured = std::getenv("QUORDEBUGDIR");
  AnsiString dir(configured != nullptr ? configured : "C:\\");
  if (!dir.IsEmpty() && !EndsWithSeparator(dir)) dir += '\\';
  return HostPath(dir + "tuxfmldump.txt");
}

void DumpBuffer(const AnsiString& Name, TTxFbfr* Fbfr) noexcept {
  try {
    const AnsiString path = DumpFilePath();
    const DumpFile file(std::fopen(path.c_str(), "ab"));
    if (!file) {
      ShowMessage("Nie można otworzyć pliku "_ansi + path + " do dopisywania.");
      return;
    }
    const long length = FileLength(file.get());
    if (length > DumpListingLimit) {
      if (length < DumpWarningLimit) {
        Write(file.get(),
              "\n\n!!! Ten plik jest już zbyt duży. Zapisy diagnostyczne są zaniechane.\n"_ansi);
      }
      return;
    }
    WriteRecord(file.get(), Name, Fbfr);
  } catch (...) {
    // The dump never disturbs the call: whatever went wrong (memory, the
    // dialog) stays here.
  }
}

}  // namespace Tx
