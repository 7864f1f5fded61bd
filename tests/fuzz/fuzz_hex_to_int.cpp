// HexToInt, RequiredHexToInt and HexDigitValue against a plain reading of
// their rules, and FormatHex and FormatDecimal against the C library.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace {

std::optional<int> ReferenceDigit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return std::nullopt;
}

struct Reference {
  bool fails = false;
  std::string offending;  // the byte named by the message
  std::int32_t value = 0;
};

// Trim bytes up to 0x20 at both ends; empty gives -1; else every byte must
// be a digit, the last wrong one is named, and the last eight digits give
// the value as an unsigned 32-bit number read as signed.
Reference ReferenceHexToInt(std::string_view field) {
  std::size_t begin = 0;
  std::size_t end = field.size();
  while (begin < end && static_cast<unsigned char>(field[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(field[end - 1]) <= 0x20) --end;
  Reference result;
  if (begin == end) {
    result.value = -1;
    return result;
  }
  for (std::size_t i = end; i > begin; --i)
    if (!ReferenceDigit(static_cast<unsigned char>(field[i - 1]))) {
      result.fails = true;
      result.offending = field.substr(i - 1, 1);
      return result;
    }
  std::uint64_t value = 0;
  for (std::size_t i = end - std::min<std::size_t>(8, end - begin); i < end; ++i)
    value = value * 16 + static_cast<std::uint64_t>(*ReferenceDigit(static_cast<unsigned char>(field[i])));
  result.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  return result;
}

bool AllBlank(std::string_view field) {
  for (const char c : field)
    if (static_cast<unsigned char>(c) > 0x20) return false;
  return true;
}

template <typename Call>
void CheckAgainst(const Reference& expected, Call call) {
  try {
    const std::int32_t value = call();
    FUZZ_CHECK(!expected.fails);
    FUZZ_CHECK(value == expected.value);
  } catch (const EConvertError& failure) {
    FUZZ_CHECK(expected.fails);
    FUZZ_CHECK(failure.message == NotAnIntegerMessage(expected.offending));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view field(reinterpret_cast<const char*>(data), size);
  const Reference expected = ReferenceHexToInt(field);
  CheckAgainst(expected, [&] { return HexToInt(field); });

  // A field that must hold a value fails with an empty name when blank.
  Reference required = expected;
  if (!expected.fails && expected.value == -1 && AllBlank(field)) {
    required.fails = true;
    required.offending.clear();
  }
  CheckAgainst(required, [&] { return RequiredHexToInt(field); });

  if (size >= 1) {
    const std::optional<int> digit = ReferenceDigit(data[0]);
    try {
      FUZZ_CHECK(HexDigitValue(field[0]) == digit.value_or(-1));
      FUZZ_CHECK(digit.has_value());
    } catch (const EConvertError& failure) {
      FUZZ_CHECK(!digit.has_value());
      FUZZ_CHECK(failure.message == NotAnIntegerMessage(field.substr(0, 1)));
    }
  }

  // The numbers the programs write, from the first five bytes.
  if (size >= 5) {
    std::uint32_t value;
    std::memcpy(&value, data, 4);
    const int digits = 1 + data[4] % 16;
    char text[32];
    std::snprintf(text, sizeof text, "%0*" PRIX32, digits, value);
    FUZZ_CHECK(FormatHex(value, digits) == text);
    std::snprintf(text, sizeof text, "%" PRId32, static_cast<std::int32_t>(value));
    FUZZ_CHECK(FormatDecimal(static_cast<std::int32_t>(value)) == text);
  }
  return 0;
}
