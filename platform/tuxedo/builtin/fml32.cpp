// Error state, error texts and field identifiers of the builtin FML32 engine.
#include <fml32.h>

#include "fml32_block.h"

namespace {

constexpr const char* kTypeNames[] = {
    "short", "long", "char", "float", "double", "string", "carray",
    "int", "dec_t", "ptr", "fml32", "view32", "mbstring", "fml",
};
constexpr int kTypeCount = static_cast<int>(sizeof kTypeNames / sizeof kTypeNames[0]);

constexpr const char* kErrorTexts[] = {
    /* FMINVAL   */ "no error",
    /* FALIGNERR */ "buffer does not start on the required boundary",
    /* FNOTFLD   */ "not an FML32 buffer, or a damaged one",
    /* FNOSPACE  */ "not enough room in the buffer",
    /* FNOTPRES  */ "field occurrence not in the buffer",
    /* FBADFLD   */ "invalid field identifier",
    /* FTYPERR   */ "field type not valid for this operation",
    /* FEUNIX    */ "operating system call failed",
    /* FBADNAME  */ "field name not in the field tables",
    /* FMALLOC   */ "out of memory",
    /* FSYNTAX   */ "syntax error in the text",
    /* FFTOPEN   */ "field table not found or not readable",
    /* FFTSYNTAX */ "syntax error in a field table",
    /* FEINVAL   */ "invalid argument",
    /* FBADTBL   */ "field table changed while in use",
    /* FBADVIEW  */ "view not found",
    /* FVFSYNTAX */ "syntax error in a view file",
    /* FVFOPEN   */ "view file not found or not readable",
    /* FBADACM   */ "negative value in an associated count member",
    /* FNOCNAME  */ "structure member name not found",
    /* FEBADOP   */ "operation not supported for this field type",
    /* FNOTRECORD */ "invalid record type",
    /* FRFSYNTAX */ "syntax error in a record file",
    /* FRFOPEN   */ "record file not found or not readable",
    /* FBADRECORD */ "record description not found",
};
static_assert(sizeof kErrorTexts / sizeof kErrorTexts[0] == FMAXVAL);

}  // namespace

extern "C" {

int* Ferror32_location(void) {
  thread_local int error = 0;
  return &error;
}

char* Fstrerror32(int err) {
  return err >= FMINVAL && err < FMAXVAL ? const_cast<char*>(kErrorTexts[err]) : nullptr;
}

int Fldtype32(FLDID32 fieldid) { return Tx::Fml32Builtin::TypeOf(fieldid); }

long Fldno32(FLDID32 fieldid) { return static_cast<long>(Tx::Fml32Builtin::NumberOf(fieldid)); }

FLDID32 Fmkfldid32(int type, FLDID32 num) {
  if (type < 0 || type >= kTypeCount) {
    Ferror32 = FTYPERR;
    return BADFLDID;
  }
  if (num == 0 || num > FMAXNUM32) {
    Ferror32 = FBADFLD;
    return BADFLDID;
  }
  return static_cast<FLDID32>(type) << 25 | num;
}

char* Ftype32(FLDID32 fieldid) {
  const int type = Tx::Fml32Builtin::TypeOf(fieldid);
  if (type >= kTypeCount) {
    Ferror32 = FTYPERR;
    return nullptr;
  }
  return const_cast<char*>(kTypeNames[type]);
}

}  // extern "C"

namespace Tx::Fml32Builtin {

int TypeFromName(std::string_view name) noexcept {
  for (int type = 0; type < kTypeCount; ++type) {
    if (name == kTypeNames[type]) return type;
  }
  return kNoType;
}

}  // namespace Tx::Fml32Builtin
