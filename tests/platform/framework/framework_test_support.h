// Small helpers shared by the framework layer's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <typeinfo>
#include <utility>

#include "platform/framework/Classes.h"
#include "platform/framework/FormatSettings.h"

namespace FrameworkTest {

// "<exception class>: <message>" of the framework exception f raises, or
// "(nothing raised)": one comparison checks both the class and the text.
template <typename F>
std::string Raised(F&& f) {
  try {
    f();
  } catch (const Tx::Exception& e) {
    return Tx::ClassNameOf(typeid(e)).str() + ": " + e.Message.str();
  }
  return "(nothing raised)";
}

// Runs each test with the neutral settings ('.' decimals, dates yyyy-mm-dd,
// times hh:nn:ss) and puts the process's settings back afterwards.
class NeutralSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FSaved = Tx::FormatSettings();
    Tx::FormatSettings() = Tx::TFormatSettings();
  }
  void TearDown() override { Tx::FormatSettings() = FSaved; }

 private:
  Tx::TFormatSettings FSaved;
};

// Sets (or, for a null value, removes) environment variables for a scope
// and puts back what each one held before its first change.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(std::initializer_list<std::pair<const char*, const char*>> values) {
    for (const auto& [name, value] : values) Set(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (const auto& [name, value] : FSaved) Put(name.c_str(), value ? value->c_str() : nullptr);
  }

  void Set(const char* name, const char* value) {
    if (FSaved.count(name) == 0) {
      const char* old = std::getenv(name);
      FSaved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    Put(name, value);
  }

 private:
  static void Put(const char* name, const char* value) {
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }

  std::map<std::string, std::optional<std::string>> FSaved;
};

// The text with the line number of every source location "[file.cpp.123]"
// replaced by "#", so that whole messages compare without naming lines.
inline std::string WithoutLines(std::string text) {
  for (std::size_t at = text.find(".cpp."); at != std::string::npos; at = text.find(".cpp.", at)) {
    at += 5;
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    if (end > at && end < text.size() && text[end] == ']') text.replace(at, end - at, "#");
  }
  return text;
}

// The hex lines of a binary property at the indentation of a component's properties.
inline std::string HexBlock(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out = "{";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 32 == 0) out += "\n      ";
    out += digits[static_cast<unsigned char>(bytes[i]) >> 4];
    out += digits[static_cast<unsigned char>(bytes[i]) & 15];
  }
  return out + "}";
}

}  // namespace FrameworkTest
