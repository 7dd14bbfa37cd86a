// Sign-in of the real tavrolin-server and its users file under clients and administrators that
// act at once: credentials checked before any body byte, failed sign-ins throttled per address,
// add-user and remove-user runs side by side, and what the log keeps of a client's words. A
// second client address (127.0.0.2) stands for a user elsewhere.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "basic_credentials.h"
#include "raw_connection.h"
#include "scratch_directory.h"
#include "users.h"

using namespace tavrolin::test;
using namespace std::chrono_literals;
using tavrolin::server::hashPassword;
using tavrolin::server::readUserFile;
using tavrolin::server::setUser;
using tavrolin::server::verifyPassword;

using ::testing::HasSubstr;
using ::testing::Not;

namespace {

constexpr const char* kPassword = "c0rrect h0rse";
constexpr const char* kElsewhere = "127.0.0.2";
constexpr const char* kDocument = "/Tavrolin.asp?EmployeeID=42";

std::string authorization(const std::string& user, const std::string& password) {
    return "Authorization: " + basicCredentials(user + ":" + password) + "\r\n";
}

std::string get(const std::string& lines) {
    return getRequest(kDocument, lines);
}

std::string post(const std::string& lines) {
    return formPost(insertBody(1, 42), lines);
}

class SignIn : public ::testing::Test {
  protected:
    void start() {
        setUser(usersFile, "alice", hashPassword(kPassword));
        server = startLoggingTo(logFile, serverArguments({"--users", usersFile}), false);
    }

    ScratchDirectory directory;
    std::string usersFile = directory / "users";
    std::string logFile = directory / "server.log";
    std::unique_ptr<ServerProcess> server;
};

}  // namespace

TEST_F(SignIn, UserCommandsRunAtOnceKeepEveryChange) {
    for (int i = 0; i < 5; ++i) setUser(usersFile, "old" + std::to_string(i), "$y$old");
    std::ofstream(directory / "input") << "pass\n";
    std::vector<std::thread> runs;
    std::vector<int> statuses(25, -1);
    for (int i = 0; i < 25; ++i)
        runs.emplace_back([&, i] {
            const auto words = i < 20 ? "add-user new" + std::to_string(i)
                                      : "remove-user old" + std::to_string(i - 20);
            statuses[std::size_t(i)] =
                runServer(words + " --users '" + usersFile + "' <'" + directory / "input" + "'")
                    .first;
        });
    for (auto& run : runs) run.join();
    EXPECT_EQ(statuses, std::vector<int>(25, 0));
    const auto users = readUserFile(usersFile);
    EXPECT_EQ(users.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(users.contains("new" + std::to_string(i))) << i;
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(users.contains("old" + std::to_string(i))) << i;
}

// add-user reads the password to the end of its line or of the input and stores only its hash.
// An empty password, one with a NUL byte or a bad name leaves the file as it was (not even
// creating it), and so does removing a user who is not there.
TEST_F(SignIn, UserCommandsStoreOnlyHashesAndRefuseBadInputWithoutAChange) {
    const auto command = [&](const std::string& words, const std::string& input) {
        std::ofstream(directory / "input", std::ios::binary) << input;
        return runServer(words + " --users '" + usersFile + "' <'" + directory / "input" + "'");
    };
    const std::vector<std::tuple<std::string, std::string, std::string>> refused = {
        {"add-user carol", "\n", "empty"},
        {"add-user carol", std::string("ab\0cd\n", 6), ""},
        {"add-user ca:rol", "x\n", ""},
    };
    for (const auto& [words, input, message] : refused) {
        const auto [status, output] = command(words, input);
        EXPECT_EQ(status, 1) << words;
        EXPECT_THAT(output, HasSubstr(message));
        EXPECT_FALSE(std::filesystem::exists(usersFile)) << words;
    }

    ASSERT_EQ(command("add-user alice", "first pass\n").first, 0);
    ASSERT_EQ(command("add-user bob", "other\n").first, 0);
    EXPECT_THAT(readFile(usersFile), Not(HasSubstr("first pass")));
    EXPECT_TRUE(verifyPassword("first pass", readUserFile(usersFile).at("alice").hash));
    ASSERT_EQ(command("add-user alice", "second pass").first, 0);
    EXPECT_TRUE(verifyPassword("second pass", readUserFile(usersFile).at("alice").hash));

    const auto before = readFile(usersFile);
    for (const auto& [words, input, message] : refused) {
        EXPECT_EQ(command(words, input).first, 1) << words;
        EXPECT_EQ(readFile(usersFile), before) << words;
    }
    EXPECT_EQ(command("remove-user bob", "").first, 0);
    const auto [missing, missingText] = command("remove-user bob", "");
    EXPECT_EQ(missing, 1);
    EXPECT_THAT(missingText, HasSubstr("no user bob"));
    const auto users = readUserFile(usersFile);
    EXPECT_EQ(users.size(), 1u);
    EXPECT_TRUE(users.contains("alice"));
}

// The document and posts need a user, health does not. A post is refused on its header alone,
// before any body byte or 100-continue; the log names the user but never the password.
TEST_F(SignIn, DocumentAndPostsNeedAUserCheckedBeforeTheBodyIsRead) {
    start();
    const auto right = authorization("alice", kPassword);
    const auto wrong = authorization("alice", "wrong");
    // Whether vendor 77 is among employee 42's.
    const auto linked77 = [&](const std::string& document) {
        const auto at = document.find("<SelectedVendors>");
        return at != std::string::npos && document.find("<VendorID>77<", at) != std::string::npos;
    };
    const auto before = exchange(server->port(), get(right));
    ASSERT_EQ(before.status, 200);
    ASSERT_FALSE(linked77(before.body)) << before.body;

    // The body is announced and never sent: only a reply to the header can come back.
    const auto announced = [](const std::string& lines) {
        return postHead(lines + "Content-Length: 4000000\r\n");
    };
    const std::string expect = "Expect: 100-continue\r\n";
    const auto mallory = authorization("mallory", kPassword);
    const std::string bearer = "Authorization: Bearer " + base64(kPassword) + "\r\n";
    for (const auto& request : {get(""), get(wrong), get(bearer), get(mallory), announced(""),
                                announced(expect), announced(wrong + expect), announced(mallory)}) {
        const auto reply = exchange(server->port(), request);
        EXPECT_EQ(reply.status, 401) << request;
        EXPECT_EQ(reply.header("www-authenticate"), "Basic realm=\"Tavrolin\"") << request;
        EXPECT_THAT(reply.body, Not(HasSubstr("<Vendor"))) << request;
        if (request.starts_with("POST")) {
            EXPECT_TRUE(reply.closed) << request;
            EXPECT_THAT(reply.body, HasSubstr("Nothing was saved."));
        }
    }
    // Nothing else takes a body either.
    const auto rest = announced("").substr(announced("").find(" HTTP/1.1"));
    EXPECT_EQ(exchange(server->port(), "PUT /x" + rest).status, 404);
    EXPECT_EQ(exchange(server->port(), "POST /health" + rest).status, 404);
    EXPECT_EQ(exchange(server->port(), getRequest("/health")).body, "ok");

    // Signed in, the client is asked for the body, and the post goes through.
    RawConnection connection(server->port());
    const auto body = insertBody(1, 42);
    ASSERT_TRUE(connection.send(
        postHead(right + expect + "Content-Length: " + std::to_string(body.size()) + "\r\n")));
    EXPECT_EQ(connection.readReply(60s), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(connection.send(body));
    EXPECT_EQ(statusOf(connection.readReply(60s)), 200);
    // Served from the remembered sign-in now; a wrong password still gets nothing.
    const auto after = exchange(server->port(), get(right));
    EXPECT_EQ(after.status, 200);
    EXPECT_TRUE(linked77(after.body)) << after.body;
    EXPECT_EQ(exchange(server->port(), get(wrong)).status, 401);

    EXPECT_EQ(server->stop(), 0);
    const auto log = readFile(logFile);
    EXPECT_THAT(log, HasSubstr("\"GET /Tavrolin.asp?EmployeeID=42\" 200"));
    EXPECT_THAT(log, HasSubstr(" user \"alice\""));
    EXPECT_THAT(log, HasSubstr(" user \"mallory\""));
    for (const auto& secret : {std::string("c0rrect"), base64(std::string("alice:") + kPassword),
                               std::string("Authorization"), std::string("Basic")})
        EXPECT_THAT(log, Not(HasSubstr(secret)));
}

TEST_F(SignIn, FailedSignInsAreThrottledPerAddress) {
    start();
    const auto wrong = authorization("alice", "wrong");
    const auto right = authorization("alice", kPassword);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(exchange(server->port(), get(wrong)).status, 401) << i;

    // From now on no password is looked at from this address, not even the right one.
    for (const auto& request : {get(wrong), post(wrong), get(right), post(right)}) {
        const auto reply = exchange(server->port(), request);
        EXPECT_EQ(reply.status, 429) << request;
        const auto wait = std::stoi("0" + reply.header("retry-after").substr(0, 5));
        EXPECT_GE(wait, 1) << reply.header("retry-after");
        EXPECT_LE(wait, 60) << reply.header("retry-after");
    }
    EXPECT_EQ(exchange(server->port(), getRequest("/health")).status, 200);
    // Another address is not held back by it.
    EXPECT_EQ(exchange(server->port(), get(right), kElsewhere).status, 200);
    EXPECT_EQ(exchange(server->port(), post(right), kElsewhere).status, 200);
    EXPECT_EQ(exchange(server->port(), get(wrong), kElsewhere).status, 401);

    // One line for the burst, none for each refused request.
    EXPECT_EQ(server->stop(), 0);
    const auto log = readFile(logFile);
    EXPECT_EQ(countOf(log, "5 failures from 127.0.0.1 within 60 s"), 1u) << log;
    EXPECT_EQ(countOf(log, "\" 401 "), 6u) << log;
    EXPECT_EQ(countOf(log, "\" 429 "), 0u) << log;
}

// The flood at a small scale; the benchmark runs it at full size and measures the waits.
TEST_F(SignIn, APasswordFloodLeavesOtherClientsServed) {
    start();
    const auto wrong = authorization("alice", "wrong");
    const auto right = authorization("alice", kPassword);
    std::mutex mutex;
    std::map<int, int> attackerStatuses;
    std::vector<std::thread> attackers;
    for (int t = 0; t < 32; ++t)
        attackers.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                const auto reply = exchange(server->port(), post(wrong));
                std::lock_guard lock(mutex);
                ++attackerStatuses[reply.status];
                if (reply.status == 503) {
                    EXPECT_EQ(reply.header("retry-after"), "1");
                }
            }
        });
    std::vector<int> others;
    for (int i = 0; i < 8; ++i) {
        others.push_back(exchange(server->port(), get(right), kElsewhere).status);
        others.push_back(exchange(server->port(), post(right), kElsewhere).status);
        others.push_back(exchange(server->port(), getRequest("/health")).status);
    }
    for (auto& attacker : attackers) attacker.join();

    EXPECT_EQ(std::count(others.begin(), others.end(), 200), std::ptrdiff_t(others.size()));
    int total = 0;
    for (const auto& [status, count] : attackerStatuses) {
        EXPECT_TRUE(status == 401 || status == 429 || status == 503) << status;
        total += count;
    }
    EXPECT_EQ(total, 32 * 4);
    // A handful of hashes until the throttle closed, plus those already running then.
    EXPECT_LE(attackerStatuses[401], 5 + 4);
    EXPECT_GE(attackerStatuses[429], 1);
}

TEST_F(SignIn, WithoutTlsTheServerRefusesToListenOffThisMachine) {
    setUser(usersFile, "alice", hashPassword(kPassword));
    for (const std::string listen : {"0.0.0.0:0", "[::]:0", "192.0.2.1:0"}) {
        const auto [status, text] =
            runServer("--db :memory: --users '" + usersFile + "' --listen '" + listen + "'");
        EXPECT_EQ(status, 1) << listen;
        EXPECT_THAT(text, HasSubstr("loopback"));
        EXPECT_THAT(text, HasSubstr("in clear"));
        EXPECT_THAT(text, Not(HasSubstr("listening on")));
    }
    const auto [missing, missingText] =
        runServer("--db :memory: --users '" + directory / "none" + "' --listen 127.0.0.1:0");
    EXPECT_EQ(missing, 1);
    EXPECT_THAT(missingText, HasSubstr("cannot read"));
}

TEST_F(SignIn, ClientTextInTheLogIsEscaped) {
    start();
    exchange(server->port(), getRequest("/x\x1b[31mred\"q\\"));
    exchange(server->port(), getRequest("/a\rforged 200"));
    exchange(server->port(), get(authorization("ev\x1b[2Jil\r\n127.0.0.1 \"GET /\" 200 1", "x")));
    exchange(server->port(), get(authorization("alice", kPassword)));

    EXPECT_EQ(server->stop(), 0);
    const auto log = readFile(logFile);
    for (std::size_t i = 0; i < log.size(); ++i) {
        const auto c = static_cast<unsigned char>(log[i]);
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "byte " << int(c) << " at " << i;
    }
    // The transport refuses a raw control character in the target (400); either way the line
    // that records it is escaped.
    EXPECT_THAT(log, HasSubstr("\"GET /x\\x1B[31mred\\\"q\\\\\" 4"));
    EXPECT_THAT(log, HasSubstr(" user \"ev\\x1B[2Jil\\x0D\\x0A127.0.0.1 \\\"GET /\\\" 200 1\""));
    EXPECT_THAT(log, HasSubstr(" 200 "));
    // Every request line in the log is one line: nothing a client sent started a new one.
    std::istringstream lines(log);
    int requests = 0;
    for (std::string line; std::getline(lines, line);) requests += line.starts_with("127.0.0.1 \"");
    EXPECT_GE(requests, 3) << log;
    EXPECT_THAT(log, Not(HasSubstr("\nforged")));
}
