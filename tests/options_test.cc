#include "app/options.h"

#include <gtest/gtest.h>

namespace speechline {
namespace {

struct OptionsCase {
  const char* name;
  std::vector<std::string> arguments;
  std::string localeIdentifier;
  bool requiresOnDevice;
};

const OptionsCase kOptionsCases[] = {
    {"NoArguments", {"speechline"}, "zh-CN", false},
    {"Locale", {"speechline", "--locale", "en-US"}, "en-US", false},
    {"LocaleLast", {"speechline", "--locale"}, "zh-CN", false},
    {"FirstLocaleWins", {"speechline", "--locale", "en-US", "--locale", "fr-FR"}, "en-US", false},
    {"LocaleTakesNextOption",
     {"speechline", "--locale", "--requires-on-device"},
     "--requires-on-device",
     true},
    {"EmptyLocale", {"speechline", "--locale", ""}, "", false},
    {"EqualsFormIgnored", {"speechline", "--locale=en-US"}, "zh-CN", false},
    {"CapitalsIgnored",
     {"speechline", "--LOCALE", "en-US", "--Requires-On-Device"},
     "zh-CN",
     false},
    {"OnDeviceWithWord", {"speechline", "--requires-on-device", "please"}, "zh-CN", true},
    {"OnDeviceAnywhere",
     {"speechline", "x", "--locale", "de-DE", "--requires-on-device"},
     "de-DE",
     true},
    {"ElementZeroCounts", {"--locale", "ja-JP"}, "ja-JP", false},
    {"ElementZeroOnDevice", {"--requires-on-device"}, "zh-CN", true},
    {"UnknownIgnored", {"speechline", "-h", "--help", "--version"}, "zh-CN", false},
};

class OptionsTest : public testing::TestWithParam<OptionsCase> {};

TEST_P(OptionsTest, ReadsLocaleAndOnDevice) {
  const OptionsCase& c = GetParam();
  EXPECT_EQ(optionValue(c.arguments, "--locale", "zh-CN"), c.localeIdentifier);
  EXPECT_EQ(hasOption(c.arguments, "--requires-on-device"), c.requiresOnDevice);
}

INSTANTIATE_TEST_SUITE_P(Cases, OptionsTest, testing::ValuesIn(kOptionsCases),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace speechline
