#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/RequestingUser.h"

namespace {

// Sets or clears the three variables for one test and puts back what was there.
class UserEnvironment {
 public:
  UserEnvironment(const char* pkexecUid, const char* sudoUid, const char* sudoGid) {
    Set("PKEXEC_UID", pkexecUid);
    Set("SUDO_UID", sudoUid);
    Set("SUDO_GID", sudoGid);
  }
  ~UserEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(RequestingUser, ParsesOnlyPlainDecimalIds) {
  struct Case {
    const char* text;
    std::optional<unsigned> expected;
  };
  const Case cases[] = {
      {"1000", 1000u},    {"0", 0u},           {"65534", 65534u}, {"4294967294", 4294967294u},
      {"4294967295", {}}, {"99999999999", {}}, {"", {}},          {nullptr, {}},
      {"-1", {}},         {"+5", {}},          {" 5", {}},        {"5 ", {}},
      {"12abc", {}},      {"0x10", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::ParseUserId(c.text), c.expected) << (c.text ? c.text : "(null)");
  }
}

TEST(RequestingUser, AsRootTheUserWhoAskedThroughPkexecOrSudo) {
  if (!platform::RunningAsRoot()) GTEST_SKIP() << "needs root: the ids are read only with raised rights";
  {
    UserEnvironment env("65534", "0", nullptr);  // pkexec wins over sudo
    const auto user = platform::FindRequestingUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uid, 65534u);
    EXPECT_EQ(user->name, "nobody");
  }
  {
    UserEnvironment env(nullptr, "65534", "123");
    const auto user = platform::FindRequestingUser();
    ASSERT_TRUE(user);
    EXPECT_EQ(user->uid, 65534u);
    EXPECT_EQ(user->gid, 123u);
  }
  // Nobody to work for: no variables, root named, an account that does not exist, garbage.
  const char* nobodyKnown[][3] = {
      {nullptr, nullptr, nullptr},   {nullptr, "0", "0"},         {"0", nullptr, nullptr},
      {"3999999", nullptr, nullptr}, {nullptr, "1000x", nullptr}, {"", "", ""},
  };
  for (const auto& row : nobodyKnown) {
    UserEnvironment env(row[0], row[1], row[2]);
    EXPECT_FALSE(platform::FindRequestingUser()) << (row[0] ? row[0] : "-") << " " << (row[1] ? row[1] : "-");
  }
}

TEST(RequestingUser, WithoutRaisedRightsTheRealUser) {
  if (platform::RunningAsRoot()) GTEST_SKIP() << "runs without root only";
  UserEnvironment env("0", "0", "0");
  const auto user = platform::FindRequestingUser();
  ASSERT_TRUE(user);
  EXPECT_EQ(user->uid, ::getuid());
}

}  // namespace
