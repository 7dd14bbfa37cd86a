#include "users.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "basic_credentials.h"
#include "scratch_directory.h"

using namespace tavrolin::server;

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const auto basic = tavrolin::test::basicCredentials;

class UserFile : public ::testing::Test {
  protected:
    std::string content() const {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void write(const std::string& text) const { std::ofstream(path) << text; }
    unsigned mode() const {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
    }

    tavrolin::test::ScratchDirectory mDirectory;
    std::string path = mDirectory / "users";
};

}  // namespace

TEST(ServerUsers, HashesAreSaltedYescryptAndVerify) {
    const auto first = hashPassword("correct horse");
    const auto second = hashPassword("correct horse");
    EXPECT_TRUE(first.starts_with("$y$")) << first;
    EXPECT_NE(first, second);
    EXPECT_THAT(first, Not(HasSubstr("correct")));
    EXPECT_TRUE(verifyPassword("correct horse", first));
    EXPECT_TRUE(verifyPassword("correct horse", second));
    EXPECT_FALSE(verifyPassword("correct horse ", first));
    EXPECT_FALSE(verifyPassword("", first));
    EXPECT_FALSE(verifyPassword("correct horse", "$y$garbage"));
    EXPECT_FALSE(verifyPassword("correct horse", ""));
}

TEST(ServerUsers, NamesWithColonsOrControlCharactersAreRefused) {
    EXPECT_TRUE(isValidUserName("alice"));
    EXPECT_TRUE(isValidUserName("Bob Smith"));
    EXPECT_TRUE(isValidUserName("jos\xC3\xA9"));
    for (const std::string& bad :
         std::vector<std::string>{"", "a:b", "a\nb", "a\rb", std::string("a\0b", 3), "\x1b[1m"})
        EXPECT_FALSE(isValidUserName(bad));
}

TEST_F(UserFile, AddReplaceAndRemoveKeepOtherLinesAndMode0600) {
    write("# staff\nalice:$y$old\n\nbob:$y$bob\n");
    ::chmod(path.c_str(), 0644);
    setUser(path, "alice", "$y$new");
    EXPECT_EQ(content(), "# staff\nalice:$y$new\n\nbob:$y$bob\n");
    EXPECT_EQ(mode(), 0600u);
    setUser(path, "carol", "$y$carol");
    EXPECT_EQ(content(), "# staff\nalice:$y$new\n\nbob:$y$bob\ncarol:$y$carol\n");
    EXPECT_TRUE(removeUser(path, "bob"));
    EXPECT_EQ(content(), "# staff\nalice:$y$new\n\ncarol:$y$carol\n");
    EXPECT_EQ(mode(), 0600u);
    EXPECT_FALSE(removeUser(path, "bob"));
    EXPECT_FALSE(removeUser(path, "ali"));

    const auto users = readUserFile(path);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users.at("alice").hash, "$y$new");
    EXPECT_EQ(users.at("carol").hash, "$y$carol");
    // No temporary file is left beside it, only the lock the changes take.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(mDirectory.path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"users", "users.lock"}));
}

TEST_F(UserFile, OnlyViewersAndAdminsCarryARoleAndChangesKeepThePassword) {
    write("alice:$y$a\nbob:$y$b:viewer\n");
    auto users = readUserFile(path);
    EXPECT_EQ(users.at("alice").role, Role::Editor);
    EXPECT_EQ(users.at("bob").role, Role::Viewer);
    EXPECT_TRUE(setRole(path, "alice", Role::Admin));
    setUser(path, "alice", "$y$new");  // a new password keeps the role
    EXPECT_TRUE(setRole(path, "bob", Role::Editor));
    setUser(path, "carol", "$y$c", Role::Viewer);
    EXPECT_EQ(content(), "alice:$y$new:admin\nbob:$y$b\ncarol:$y$c:viewer\n");
    EXPECT_FALSE(setRole(path, "dave", Role::Admin));
    write("alice:$y$a:owner\n");
    EXPECT_THROW(readUserFile(path), UserFileError);
}

TEST_F(UserFile, AMissingFileIsCreatedByTheFirstUser) {
    ::umask(022);
    setUser(path, "alice", "$y$a");
    EXPECT_EQ(content(), "alice:$y$a\n");
    EXPECT_EQ(mode(), 0600u);
}

TEST_F(UserFile, BadFilesAreRefusedWithTheLine) {
    EXPECT_THROW(readUserFile(path), UserFileError);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"alice\n", " line 2"},
        {"alice:plain\n", " line 2"},
        {":$y$x\n", " line 2"},
        {"alice:$y$a\nalice:$y$b\n", " line 3"}};
    for (const auto& [bad, line] : cases) {
        write("# ok\n" + bad);
        try {
            readUserFile(path);
            ADD_FAILURE() << bad;
        } catch (const UserFileError& error) {
            EXPECT_THAT(std::string(error.what()), HasSubstr(line)) << error.what();
            // The message never repeats the line, which may hold a hash.
            EXPECT_THAT(std::string(error.what()), Not(HasSubstr("$y$")));
        }
    }
}

TEST(ServerUsers, BasicCredentialsAreCheckedAgainstTheHashes) {
    Authenticator users({{"alice", hashPassword("s3cret:with colon")}, {"bob", hashPassword("b")}});
    EXPECT_EQ(users.userCount(), 2u);

    const auto good = users.check(basic("alice:s3cret:with colon"));
    EXPECT_TRUE(good.signedIn);
    EXPECT_EQ(good.user, "alice");
    EXPECT_TRUE(users.check("basic   " + basic("alice:s3cret:with colon").substr(6)).signedIn);

    struct Case {
        std::optional<std::string> header;
        std::string user;
    };
    const std::vector<Case> refused = {
        {std::nullopt, ""},
        {"", ""},
        {"Bearer abc", ""},
        {"Basic", ""},
        {"Basic !!!!", ""},
        {"Basic YWxpY2U=", ""},  // "alice" without a colon
        {basic("alice:s3cret"), "alice"},
        {basic("alice:"), "alice"},
        {basic("bob:s3cret:with colon"), "bob"},
        {basic("mallory:s3cret:with colon"), "mallory"},
        {basic(":b"), ""},
    };
    for (const auto& c : refused) {
        const auto result =
            users.check(c.header ? std::optional<std::string_view>(*c.header) : std::nullopt);
        EXPECT_FALSE(result.signedIn) << c.header.value_or("(none)");
        EXPECT_EQ(result.user, c.user) << c.header.value_or("(none)");
    }
    EXPECT_EQ(basicUserName(basic("carol:x")), "carol");
    EXPECT_EQ(basicUserName("Digest x"), "");
}

// Every byte of the password counts, before and after the right one is remembered.
TEST(ServerUsers, ARememberedSignInDoesNotLetOtherPasswordsIn) {
    const auto hash = hashPassword("right");
    const std::string withNul("right\0tail", 11);
    EXPECT_FALSE(verifyPassword(withNul, hash));
    EXPECT_THROW(hashPassword(withNul), UserFileError);
    Authenticator users({{"alice", hash}, {"bob", hashPassword("right")}});
    EXPECT_FALSE(users.check(basic("alice:" + withNul)).signedIn);
    ASSERT_TRUE(users.check(basic("alice:right")).signedIn);
    // Now served from memory; a different password or another user's must still fail.
    for (const auto& other :
         {std::string("alice:wrong"), std::string("alice:righ"), "alice:" + withNul})
        EXPECT_FALSE(users.check(basic(other)).signedIn) << other;
    EXPECT_TRUE(users.check(basic("alice:right")).signedIn);
    EXPECT_TRUE(users.check(basic("bob:right")).signedIn);
}

TEST(ServerUsers, ManyChecksAtOnceAllGetTheirOwnAnswer) {
    Authenticator users({{"alice", hashPassword("right")}});
    std::vector<std::thread> threads;
    std::vector<int> answers(12, -1);
    for (std::size_t t = 0; t < answers.size(); ++t)
        threads.emplace_back([&, t] {
            answers[t] =
                users.check(basic(t % 3 == 0 ? "alice:right" : "alice:wrong" + std::to_string(t)))
                    .signedIn;
        });
    for (auto& thread : threads) thread.join();
    for (std::size_t t = 0; t < answers.size(); ++t) EXPECT_EQ(answers[t], t % 3 == 0) << t;
}

TEST_F(UserFile, ChangesToTheFileApplyToARunningCheck) {
    setUser(path, "alice", hashPassword("first"));
    Authenticator users(path, std::chrono::milliseconds(0));
    ASSERT_TRUE(users.check(basic("alice:first")).signedIn);

    setUser(path, "alice", hashPassword("second"));
    setUser(path, "bob", hashPassword("b"));
    // The remembered sign-in goes with the old hash.
    EXPECT_FALSE(users.check(basic("alice:first")).signedIn);
    EXPECT_TRUE(users.check(basic("alice:second")).signedIn);
    EXPECT_TRUE(users.check(basic("bob:b")).signedIn);
    EXPECT_EQ(users.userCount(), 2u);

    ASSERT_TRUE(removeUser(path, "alice"));
    EXPECT_FALSE(users.check(basic("alice:second")).signedIn);
    EXPECT_TRUE(users.check(basic("bob:b")).signedIn);
}

TEST_F(UserFile, AFileIsLookedAtAgainOnlyAfterTheRecheckInterval) {
    setUser(path, "alice", hashPassword("first"));
    Authenticator users(path, std::chrono::hours(1));
    ASSERT_TRUE(users.check(basic("alice:first")).signedIn);
    ASSERT_TRUE(removeUser(path, "alice"));
    EXPECT_TRUE(users.check(basic("alice:first")).signedIn);
}

TEST_F(UserFile, ARereadOfAnEmptyOrBadFileKeepsTheUsers) {
    setUser(path, "alice", hashPassword("a"));
    Authenticator users(path, std::chrono::milliseconds(0));
    ASSERT_TRUE(users.check(basic("alice:a")).signedIn);
    for (const std::string bad : {"", "\n# nobody\n", "alice\n", "alice:$y$x\nalice:$y$y\n"}) {
        write(bad);
        EXPECT_TRUE(users.check(basic("alice:a")).signedIn) << bad;
        EXPECT_EQ(users.userCount(), 1u) << bad;
    }
    setUser(path, "carol", hashPassword("c"));  // still broken: alice is listed twice
    EXPECT_FALSE(users.check(basic("carol:c")).signedIn);
    ::chmod(path.c_str(), 0);
    if (::access(path.c_str(), R_OK) != 0) {  // root reads it anyway
        EXPECT_TRUE(users.check(basic("alice:a")).signedIn);
        EXPECT_EQ(users.userCount(), 1u);
    }
    ::chmod(path.c_str(), 0600);
    // Only a valid file replaces them.
    write("");
    setUser(path, "bob", hashPassword("b"));
    EXPECT_TRUE(users.check(basic("bob:b")).signedIn);
    EXPECT_FALSE(users.check(basic("alice:a")).signedIn);
}
