#include "host/result_names.h"

#include <gtest/gtest.h>

namespace veltora::host {
namespace {

// One code of each family and the ends of the ranges: the names themselves
// are table entries.
TEST(ResultNamesTest, EveryFamilyGetsItsName) {
  struct {
    uint32_t code;
    const char* hex;
    const char* name;
  } cases[] = {
      {0x00000000u, "0x00000000", "S_OK"},
      {0x80004005u, "0x80004005", "E_FAIL"},
      // Named codes that are also members of the Win32 family keep their names.
      {0x80070057u, "0x80070057", "E_INVALIDARG"},
      {0x80070003u, "0x80070003", "HRESULT_FROM_WIN32(3) ERROR_PATH_NOT_FOUND"},
      {0x8007FFFFu, "0x8007FFFF", "HRESULT_FROM_WIN32(65535)"},
      {0x82000001u, "0x82000001", "imaging error -1"},
      {0x8200FFFFu, "0x8200FFFF", "imaging error -65535"},
      {0x80070000u, "0x80070000", "HRESULT_FROM_WIN32(0)"},
      {0x12345678u, "0x12345678", "unknown result"},
  };
  for (const auto& c : cases) {
    const auto result = static_cast<HRESULT>(c.code);
    EXPECT_EQ(ResultHex(result), c.hex) << c.hex;
    EXPECT_EQ(ResultName(result), c.name) << c.hex;
    EXPECT_EQ(DescribeResult(result), std::string(c.hex) + " " + c.name);
  }
}

}  // namespace
}  // namespace veltora::host
