// Sign-in of the real tavrolin-server and its users file under clients and administrators that
// act at once: credentials checked before any body byte, failed sign-ins throttled per address,
// and add-user and remove-user runs side by side. A second client address (127.0.0.2) stands
// for a user elsewhere.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "basic_credentials.h"
#include "raw_connection.h"
#include "server_process.h"
#include "users.h"

using namespace tavrolin::test;
using namespace std::chrono_literals;
using tavrolin::server::hashPassword;
using tavrolin::server::readUserFile;
using tavrolin::server::setUser;

extern char** environ;

namespace {

constexpr const char* kPassword = "c0rrect h0rse";
constexpr const char* kElsewhere = "127.0.0.2";

struct Reply {
    int status = 0;                              // 0: no reply
    std::map<std::string, std::string> headers;  // names in lower case
    bool closed = false;

    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

// A connection to the server on 127.0.0.1 from `source`.
int connectFrom(const char* source, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, source, &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(std::uint16_t(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &one, sizeof one);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends `request` (and nothing after it) from `source` and reads the reply's header, then
// whether the server closes the connection.
Reply exchange(int port, const std::string& request, const char* source = "127.0.0.1") {
    Reply reply;
    const int fd = connectFrom(source, port);
    if (fd < 0) return reply;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) {
        ::close(fd);
        return reply;
    }
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{fd, POLLIN, 0};
        if (::poll(&poller, 1, 1000) <= 0) continue;
        char chunk[4096];
        const auto n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        data.append(chunk, std::size_t(n));
        // A reply that keeps the connection open is whole once its body is there.
        const auto size = wholeReplySize(data);
        if (size != std::string::npos && data.find("Connection: close") > size) break;
    }
    ::close(fd);
    reply.status = statusOf(data);
    std::istringstream head(data.substr(0, data.find("\r\n\r\n")));
    std::string line;
    std::getline(head, line);
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        auto name = line.substr(0, colon);
        for (auto& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        reply.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
    }
    return reply;
}

std::string authorization(const std::string& user, const std::string& password) {
    return "Authorization: " + basicCredentials(user + ":" + password) + "\r\n";
}

std::string get(const std::string& headers) {
    return "GET /Tavrolin.asp?EmployeeID=42 HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Connection: close\r\n\r\n";
}

// A post's header; its body follows only where a test sends it.
std::string postHeader(const std::string& headers, std::size_t length) {
    return "POST /Tavrolin.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(length) + "\r\nConnection: close\r\n\r\n";
}

std::string post(const std::string& headers) {
    const auto body = insertBody(1, 42);
    return postHeader(headers, body.size()) + body;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class SignIn : public ::testing::Test {
  protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        directory = ::testing::TempDir() + "tavrolin-sign-in-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(directory);
        std::filesystem::create_directories(directory);
        usersFile = directory + "/users";
        logFile = directory + "/server.log";
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    void start() {
        setUser(usersFile, "alice", hashPassword(kPassword));
        server = startLoggingTo(logFile, serverArguments({"--users", usersFile}), false);
    }

    // Starts `tavrolin-server COMMAND --users FILE NAME` with `input` on its standard input.
    pid_t spawnUserCommand(const std::string& command, const std::string& name,
                           const std::string& input) {
        const auto inputFile = directory + "/" + command + "-" + name + ".in";
        std::ofstream(inputFile, std::ios::binary) << input;
        std::vector<std::string> arguments = {TAVROLIN_SERVER_PATH, command, "--users", usersFile,
                                              name};
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inputFile.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    static int exitStatus(pid_t pid) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string directory;
    std::string usersFile;
    std::string logFile;
    std::unique_ptr<ServerProcess> server;
};

}  // namespace

TEST_F(SignIn, UserCommandsRunAtOnceKeepEveryChange) {
    for (int i = 0; i < 5; ++i) setUser(usersFile, "old" + std::to_string(i), "$y$old");
    std::vector<pid_t> runs;
    for (int i = 0; i < 20; ++i)
        runs.push_back(spawnUserCommand("add-user", "new" + std::to_string(i), "pass\n"));
    for (int i = 0; i < 5; ++i)
        runs.push_back(spawnUserCommand("remove-user", "old" + std::to_string(i), ""));
    for (const auto pid : runs) {
        ASSERT_GT(pid, 0);
        EXPECT_EQ(exitStatus(pid), 0);
    }
    const auto users = readUserFile(usersFile);
    EXPECT_EQ(users.size(), 20u);
    for (int i = 0; i < 20; ++i) EXPECT_TRUE(users.contains("new" + std::to_string(i))) << i;
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(users.contains("old" + std::to_string(i))) << i;
}

TEST_F(SignIn, AddUserRefusesAPasswordWithANulByte) {
    EXPECT_EQ(exitStatus(spawnUserCommand("add-user", "alice", std::string("ab\0cd\n", 6))), 1);
    EXPECT_FALSE(std::filesystem::exists(usersFile));
    EXPECT_EQ(exitStatus(spawnUserCommand("add-user", "alice", "abcd\n")), 0);
    EXPECT_EQ(readUserFile(usersFile).size(), 1u);
}

TEST_F(SignIn, CredentialsAreCheckedBeforeTheBodyIsRead) {
    start();
    // The body is announced and never sent: only a reply to the header can come back.
    constexpr std::size_t kAnnounced = 4'000'000;
    for (const std::string expect : {"", "Expect: 100-continue\r\n"}) {
        for (const auto& credentials : {std::string(), authorization("alice", "wrong"),
                                        authorization("mallory", kPassword)}) {
            const auto reply =
                exchange(server->port(), postHeader(credentials + expect, kAnnounced));
            EXPECT_EQ(reply.status, 401) << expect << credentials;
            EXPECT_EQ(reply.header("www-authenticate"), "Basic realm=\"Tavrolin\"");
            EXPECT_TRUE(reply.closed);
        }
    }
    // Nothing else takes a body either.
    auto rest = postHeader("", kAnnounced);
    rest = rest.substr(rest.find(" HTTP/1.1"));
    EXPECT_EQ(exchange(server->port(), "PUT /x" + rest).status, 404);
    EXPECT_EQ(exchange(server->port(), "POST /health" + rest).status, 404);

    // Signed in, the client is asked for the body, and the post goes through.
    RawConnection connection(server->port());
    ASSERT_TRUE(connection.connected());
    const auto body = insertBody(1, 42);
    ASSERT_TRUE(connection.send(
        postHeader(authorization("alice", kPassword) + "Expect: 100-continue\r\n", body.size())));
    EXPECT_EQ(connection.readReply(60s), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(connection.send(body));
    EXPECT_EQ(statusOf(connection.readReply(60s)), 200);
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
    EXPECT_EQ(exchange(server->port(), "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status,
              200);
    // Another address is not held back by it.
    EXPECT_EQ(exchange(server->port(), get(right), kElsewhere).status, 200);
    EXPECT_EQ(exchange(server->port(), post(right), kElsewhere).status, 200);
    EXPECT_EQ(exchange(server->port(), get(wrong), kElsewhere).status, 401);

    // One line for the burst, none for each refused request.
    const auto log = [&] {
        EXPECT_EQ(server->stop(), 0);
        return readFile(logFile);
    }();
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
        others.push_back(
            exchange(server->port(), "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").status);
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
