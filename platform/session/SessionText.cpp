#include "platform/session/SessionText.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace Tx::SessionText {
namespace {

// ---- Environment file ----------------------------------------------------------

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsVariableName(std::string_view name) {
  if (name.empty() || !(IsAsciiLetter(name.front()) || name.front() == '_')) return false;
  for (char c : name)
    if (!(IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_')) return false;
  return true;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// ---- SHA-256 ------------------------------------------------------------------------

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t RotateRight(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void CompressBlock(std::array<std::uint32_t, 8>& state, const unsigned char* block) {
  std::array<std::uint32_t, 64> w{};
  for (int i = 0; i < 16; ++i) {
    w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
           (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 =
        RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 =
        RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::array<std::uint32_t, 8> v = state;
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
    const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const std::uint32_t t1 = v[7] + s1 + choose + kRoundConstants[i] + w[i];
    const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
    const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    const std::uint32_t t2 = s0 + majority;
    v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
  }
  for (int i = 0; i < 8; ++i) state[i] += v[i];
}

}  // namespace

TEnvFile ParseEnvFile(const AnsiString& text, const AnsiString& section) {
  TEnvFile file;
  const std::string_view chosen = TrimBlanks(section.view());
  bool inCommonPart = true;
  bool inChosenSection = false;
  std::string_view rest = text.view();
  int lineNumber = 0;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    ++lineNumber;
    line = TrimBlanks(line);
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') {
        file.BadLines.push_back(lineNumber);
        continue;
      }
      inCommonPart = false;
      const std::string_view name = TrimBlanks(line.substr(1, line.size() - 2));
      inChosenSection = !chosen.empty() && SameAsciiText(name, chosen);
      continue;
    }
    const std::size_t equals = line.find('=');
    const std::string_view name =
        equals == std::string_view::npos ? std::string_view() : TrimBlanks(line.substr(0, equals));
    if (!IsVariableName(name)) {
      file.BadLines.push_back(lineNumber);
      continue;
    }
    if (inCommonPart || inChosenSection) {
      file.Assignments.push_back(
          {AnsiString(name), AnsiString(TrimBlanks(line.substr(equals + 1))), lineNumber});
    }
  }
  return file;
}

AnsiString ExpandEnvReferences(const AnsiString& value) {
  const std::string_view text = value.view();
  std::string result;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t dollar = text.find("${", pos);
    if (dollar == std::string_view::npos) break;
    const std::size_t close = text.find('}', dollar + 2);
    const std::string_view name = close == std::string_view::npos
                                      ? std::string_view()
                                      : text.substr(dollar + 2, close - dollar - 2);
    if (!IsVariableName(name)) {
      result.append(text.substr(pos, dollar + 1 - pos));
      pos = dollar + 1;
      continue;
    }
    result.append(text.substr(pos, dollar - pos));
    if (const char* found = std::getenv(std::string(name).c_str())) result.append(found);
    pos = close + 1;
  }
  result.append(text.substr(pos));
  return AnsiString(std::move(result));
}

int ApplyEnvFile(const TEnvFile& file) {
  int applied = 0;
  for (const TEnvAssignment& assignment : file.Assignments) {
    const AnsiString value = ExpandEnvReferences(assignment.Value);
    if (::setenv(assignment.Name.c_str(), value.c_str(), 1) == 0) ++applied;
  }
  return applied;
}

AnsiString Sha256Hex(const AnsiString& text) {
  std::array<std::uint32_t, 8> state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                        0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t length = static_cast<std::size_t>(text.Length());
  std::size_t done = 0;
  for (; length - done >= 64; done += 64) CompressBlock(state, bytes + done);

  // The tail, the 0x80 marker, zeros and the bit length fill one or two blocks.
  std::array<unsigned char, 128> tail{};
  const std::size_t rest = length - done;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = bytes[done + i];
  tail[rest] = 0x80;
  const std::size_t tailSize = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  for (std::size_t offset = 0; offset < tailSize; offset += 64)
    CompressBlock(state, tail.data() + offset);

  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (std::uint32_t word : state) {
    for (int shift = 28; shift >= 0; shift -= 4) hex.push_back(kDigits[(word >> shift) & 0xF]);
  }
  return AnsiString(std::move(hex));
}

TClientNameCheck CheckClientName(const AnsiString& name) {
  constexpr int kLongestName = 30;
  const std::string_view text = name.view();
  if (text.empty()) return cncEmpty;
  if (text.size() > kLongestName) return cncTooLong;
  if (!IsAsciiLetter(text.front())) return cncBadFirst;
  for (char c : text) {
    if (!(IsAsciiLetter(c) || IsAsciiDigit(c) || c == '_' || c == '-' || c == '.')) {
      return cncBadCharacter;
    }
  }
  return cncValid;
}

}  // namespace Tx::SessionText
