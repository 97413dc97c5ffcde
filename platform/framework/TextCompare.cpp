#include "platform/framework/TextCompare.h"

#include <unicode/ucol.h>
#include <unicode/uloc.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/framework/TextCodec.h"

namespace Tx {
namespace {

constexpr const char* kDefaultLocale = "pl_PL";

constexpr unsigned long kSupportedFlags = NORM_IGNORECASE | NORM_IGNORENONSPACE | NORM_IGNORESYMBOLS |
                                          SORT_STRINGSORT | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH;

// ---- Collation locale, shared by all threads ------------------------------------

std::mutex gLocaleMutex;
std::string gLocale;                   // guarded by gLocaleMutex
std::atomic<unsigned> gGeneration{0};  // 0: not yet read; bumped on every change

void StoreLocale(std::string name) {
  const std::lock_guard<std::mutex> lock(gLocaleMutex);
  gLocale = std::move(name);
  gGeneration.fetch_add(1, std::memory_order_acq_rel);
}

// The current locale and its generation, reading the environment the first time.
std::pair<std::string, unsigned> CurrentLocale() {
  const std::lock_guard<std::mutex> lock(gLocaleMutex);
  if (gGeneration.load(std::memory_order_acquire) == 0) {
    gLocale = CollationLocaleFromEnvironment();
    gGeneration.store(1, std::memory_order_release);
  }
  return {gLocale, gGeneration.load(std::memory_order_acquire)};
}

// ---- Collators, per thread ------------------------------------------------------

struct CollatorCloser {
  void operator()(UCollator* c) const noexcept { ucol_close(c); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

// The flags that change the collator (case is folded before collation).
constexpr unsigned long kCollatorFlags = SORT_STRINGSORT | NORM_IGNORESYMBOLS | NORM_IGNORENONSPACE;

int VariantIndex(unsigned long flags) {
  return ((flags & SORT_STRINGSORT) ? 1 : 0) | ((flags & NORM_IGNORESYMBOLS) ? 2 : 0) |
         ((flags & NORM_IGNORENONSPACE) ? 4 : 0);
}

CollatorPtr OpenCollator(const std::string& locale, unsigned long flags) {
  UErrorCode status = U_ZERO_ERROR;
  CollatorPtr collator(ucol_open(locale.c_str(), &status));
  if (U_FAILURE(status) || !collator) {
    status = U_ZERO_ERROR;
    collator.reset(ucol_open("", &status));
    if (U_FAILURE(status)) return nullptr;
  }
  UColAttributeValue strength = UCOL_TERTIARY;
  if (!(flags & SORT_STRINGSORT)) {
    // Word sort: blanks and punctuation weigh only at the last level.
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_SHIFTED, &status);
    strength = UCOL_QUATERNARY;
  } else {
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  }
  if (flags & NORM_IGNORESYMBOLS) {
    ucol_setAttribute(collator.get(), UCOL_ALTERNATE_HANDLING, UCOL_SHIFTED, &status);
    ucol_setMaxVariable(collator.get(), UCOL_REORDER_CODE_SYMBOL, &status);
    strength = UCOL_TERTIARY;
  }
  if (flags & NORM_IGNORENONSPACE) {
    // Base letters only, but case still counts unless it is folded away.
    strength = UCOL_PRIMARY;
    ucol_setAttribute(collator.get(), UCOL_CASE_LEVEL, UCOL_ON, &status);
  }
  ucol_setAttribute(collator.get(), UCOL_STRENGTH, strength, &status);
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

using CollatorSet = std::array<CollatorPtr, 8>;

struct ThreadCollators {
  unsigned generation = 0;
  std::string userLocale;
  CollatorSet user;
  std::map<std::string, CollatorSet, std::less<>> others;  // by explicit locale name
};

ThreadCollators& Collators() {
  thread_local ThreadCollators collators;
  return collators;
}

UCollator* CollatorFrom(CollatorSet& set, const std::string& locale, unsigned long flags) {
  CollatorPtr& slot = set[static_cast<std::size_t>(VariantIndex(flags))];
  if (!slot) slot = OpenCollator(locale, flags);
  return slot.get();
}

UCollator* UserCollator(unsigned long flags) {
  ThreadCollators& c = Collators();
  if (c.generation == 0 || c.generation != gGeneration.load(std::memory_order_acquire)) {
    auto [locale, generation] = CurrentLocale();
    c.userLocale = std::move(locale);
    c.generation = generation;
    c.user = CollatorSet{};
  }
  return CollatorFrom(c.user, c.userLocale, flags);
}

UCollator* NamedCollator(const std::string& locale, unsigned long flags) {
  ThreadCollators& c = Collators();
  auto it = c.others.find(locale);
  if (it == c.others.end()) it = c.others.emplace(locale, CollatorSet{}).first;
  return CollatorFrom(it->second, locale, flags);
}

// The ICU locale name for a Windows locale id; empty when unknown.
bool LocaleForId(unsigned long id, std::string& name) {
  if (id == LOCALE_INVARIANT) {
    name = "root";
    return true;
  }
  char buffer[ULOC_FULLNAME_CAPACITY];
  UErrorCode status = U_ZERO_ERROR;
  const int32_t length = uloc_getLocaleForLCID(static_cast<uint32_t>(id), buffer,
                                               static_cast<int32_t>(sizeof buffer), &status);
  if (U_FAILURE(status) || length <= 0 || length >= static_cast<int32_t>(sizeof buffer)) return false;
  name.assign(buffer, static_cast<std::size_t>(length));
  return true;
}

// ---- Windows-1250 to UTF-16 for the collator --------------------------------------

struct Utf16Tables {
  std::array<UChar, 256> plain{};
  std::array<UChar, 256> folded{};
  Utf16Tables() {
    const auto& lower = detail::LowerCaseTable();
    for (std::size_t b = 0; b < 256; ++b) {
      plain[b] = static_cast<UChar>(Cp1250ToUnicode(static_cast<unsigned char>(b)));
      folded[b] = static_cast<UChar>(Cp1250ToUnicode(lower[b]));
    }
  }
};

const Utf16Tables& Tables() {
  static const Utf16Tables tables;
  return tables;
}

// UTF-16 copy of a text, on the stack when it is short.
class Utf16Text {
 public:
  Utf16Text(std::string_view bytes, const std::array<UChar, 256>& table) {
    UChar* out = FShort.data();
    if (bytes.size() > FShort.size()) {
      FLong.reset(new UChar[bytes.size()]);
      out = FLong.get();
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = table[static_cast<unsigned char>(bytes[i])];
    FData = out;
    FLength = static_cast<int32_t>(bytes.size());
  }
  const UChar* data() const { return FData; }
  int32_t length() const { return FLength; }

 private:
  std::array<UChar, 256> FShort;
  std::unique_ptr<UChar[]> FLong;
  const UChar* FData = nullptr;
  int32_t FLength = 0;
};

int ByteOrder(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? CSTR_LESS_THAN : (c > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL);
}

int Collate(UCollator* collator, unsigned long flags, std::string_view a, std::string_view b) {
  if (a == b) return CSTR_EQUAL;
  if (!collator) return ByteOrder(a, b);  // ICU unusable: fall back to bytes
  const Utf16Tables& tables = Tables();
  const auto& table = (flags & NORM_IGNORECASE) ? tables.folded : tables.plain;
  const Utf16Text ua(a, table);
  const Utf16Text ub(b, table);
  switch (ucol_strcoll(collator, ua.data(), ua.length(), ub.data(), ub.length())) {
    case UCOL_LESS: return CSTR_LESS_THAN;
    case UCOL_GREATER: return CSTR_GREATER_THAN;
    default: return CSTR_EQUAL;
  }
}

bool TextView(const char* text, int count, std::string_view& view) {
  if (count < -1) return false;
  if (!text) {
    if (count > 0) return false;
    view = {};
    return true;
  }
  view = count == -1 ? std::string_view(text) : std::string_view(text, static_cast<std::size_t>(count));
  return true;
}

AnsiString MapAscii(const AnsiString& s, bool upper) {
  std::string out(s.str());
  for (char& c : out) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return AnsiString(std::move(out));
}

int Sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

}  // namespace

// ---- Collation locale ------------------------------------------------------------

std::string CollationLocaleFromEnvironment() {
  const char* value = nullptr;
  for (const char* name : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    value = std::getenv(name);
    if (value && *value) break;
    value = nullptr;
  }
  if (!value) return kDefaultLocale;
  std::string locale(value, std::strcspn(value, ".@"));
  if (locale.empty() || locale == "C" || locale == "POSIX") return kDefaultLocale;
  return locale;
}

std::string CollationLocale() { return CurrentLocale().first; }

void SetCollationLocale(const std::string& icuLocale) { StoreLocale(icuLocale); }

void ResetCollationFromEnvironment() { StoreLocale(CollationLocaleFromEnvironment()); }

// ---- Comparison --------------------------------------------------------------------

int CompareStringA(unsigned long locale, unsigned long flags, const char* string1, int count1,
                   const char* string2, int count2) noexcept {
  if (flags & ~kSupportedFlags) return 0;
  std::string_view a;
  std::string_view b;
  if (!TextView(string1, count1, a) || !TextView(string2, count2, b)) return 0;
  try {
    const unsigned long collatorFlags = flags & kCollatorFlags;
    UCollator* collator = nullptr;
    if (locale == 0 || locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT) {
      collator = UserCollator(collatorFlags);
    } else {
      std::string name;
      if (!LocaleForId(locale, name)) return 0;
      collator = NamedCollator(name, collatorFlags);
    }
    return Collate(collator, flags, a, b);
  } catch (...) {
    // Only memory exhaustion gets here; fall back to byte order.
    return ByteOrder(a, b);
  }
}

void CompareStringKeyA(unsigned long flags, const char* text, int count, std::string& key) {
  std::string_view bytes;
  if (!TextView(text, count, bytes)) bytes = {};
  UCollator* collator = (flags & ~kSupportedFlags) ? nullptr : UserCollator(flags & kCollatorFlags);
  if (!collator) {
    // Byte order, as CompareStringA falls back to: each byte as two non-zero nibbles.
    for (const char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      key.push_back(static_cast<char>((b >> 4) + 1));
      key.push_back(static_cast<char>((b & 0x0F) + 1));
    }
    key.push_back('\0');
    return;
  }
  const Utf16Tables& tables = Tables();
  const Utf16Text utf16(bytes, (flags & NORM_IGNORECASE) ? tables.folded : tables.plain);
  const std::size_t start = key.size();
  std::size_t room = bytes.size() * 4 + 16;
  for (;;) {
    key.resize(start + room);
    const int32_t length = ucol_getSortKey(collator, utf16.data(), utf16.length(),
                                           reinterpret_cast<uint8_t*>(key.data() + start), static_cast<int32_t>(room));
    if (length <= static_cast<int32_t>(room)) {
      key.resize(start + static_cast<std::size_t>(std::max<int32_t>(length, 0)));
      break;
    }
    room = static_cast<std::size_t>(length);
  }
  if (key.size() == start || key.back() != '\0') key.push_back('\0');
}

int AnsiCompareStr(const AnsiString& s1, const AnsiString& s2) noexcept {
  return CompareStringA(LOCALE_USER_DEFAULT, 0, s1.data(), s1.Length(), s2.data(), s2.Length()) - 2;
}

int AnsiCompareText(const AnsiString& s1, const AnsiString& s2) noexcept {
  return CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, s1.data(), s1.Length(), s2.data(),
                        s2.Length()) - 2;
}

bool AnsiSameStr(const AnsiString& s1, const AnsiString& s2) noexcept { return AnsiCompareStr(s1, s2) == 0; }
bool AnsiSameText(const AnsiString& s1, const AnsiString& s2) noexcept { return AnsiCompareText(s1, s2) == 0; }

AnsiString AnsiUpperCase(const AnsiString& s) { return s.UpperCase(); }
AnsiString AnsiLowerCase(const AnsiString& s) { return s.LowerCase(); }

int AnsiPos(const AnsiString& sub, const AnsiString& s) noexcept { return s.Pos(sub); }

int CompareStr(const AnsiString& s1, const AnsiString& s2) noexcept {
  return Sign(s1.str().compare(s2.str()));
}

int CompareText(const AnsiString& s1, const AnsiString& s2) noexcept {
  const std::string& a = s1.str();
  const std::string& b = s2.str();
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    auto ca = static_cast<unsigned char>(a[i]);
    auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameText(const AnsiString& s1, const AnsiString& s2) noexcept { return CompareText(s1, s2) == 0; }

AnsiString UpperCase(const AnsiString& s) { return MapAscii(s, true); }
AnsiString LowerCase(const AnsiString& s) { return MapAscii(s, false); }

}  // namespace Tx
