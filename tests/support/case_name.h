#pragma once

#include <gtest/gtest.h>

#include <string>

// Names each case of a parameter table by its Name field, so a failing case is
// reported by the name its row gives it:
//     INSTANTIATE_TEST_SUITE_P(Cases, SomeTable, testing::ValuesIn(Rows), CaseName);
inline constexpr auto CaseName = [](const auto& info) { return std::string(info.param.Name); };
