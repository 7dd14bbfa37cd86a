// The real tavrolin-server with sign-in, cross-site refusal, compression and its log, spoken to
// over raw HTTP on 127.0.0.1 so that every header is exactly what the test says.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "basic_credentials.h"
#include "gunzip.h"
#include "link_posts.h"
#include "raw_connection.h"
#include "server_process.h"
#include "test_database.h"
#include "users.h"

using tavrolin::server::hashPassword;
using tavrolin::server::setUser;
using tavrolin::server::test::TestDatabase;
using tavrolin::test::base64;
using tavrolin::test::basicCredentials;
using tavrolin::test::formBody;
using tavrolin::test::gunzip;
using tavrolin::test::insertSql;
using tavrolin::test::RawConnection;
using tavrolin::test::ServerProcess;

namespace {

constexpr const char* kPassword = "Tr0ub4dor&3 s3cret";
const std::string kInsert123 = formBody({insertSql(42, "123")});

std::string basic(const std::string& user, const std::string& password) {
    return basicCredentials(user + ":" + password);
}

struct Reply {
    int status = 0;                              // 0: no reply
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;

    std::string header(const std::string& name) const {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string("<none>") : it->second;
    }
};

// Sends `request` as it is on a new connection and reads the reply until the server closes.
Reply exchange(int port, const std::string& request) {
    Reply reply;
    RawConnection connection(port);
    if (!connection.connected()) return reply;
    connection.send(request);
    bool closed = false;
    const std::string raw = connection.readUntilClosed(std::chrono::seconds(30), closed);

    const auto end = raw.find("\r\n\r\n");
    if (end == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) return reply;
    reply.status = std::stoi(raw.substr(9, 3));
    std::istringstream head(raw.substr(0, end));
    std::string line;
    std::getline(head, line);
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (auto& c : name) c = char(std::tolower(static_cast<unsigned char>(c)));
        auto value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        reply.headers[name] = value;
    }
    reply.body = raw.substr(end + 4);
    return reply;
}

std::string request(const std::string& method, const std::string& target,
                    const std::vector<std::string>& headers = {}, const std::string& body = {}) {
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto& header : headers) text += header + "\r\n";
    if (method == "POST")
        text += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n";
    return text + "Connection: close\r\n\r\n" + body;
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Runs a shell command; its exit status and everything it printed.
std::pair<int, std::string> run(const std::string& command, const std::string& output) {
    const int status = std::system((command + " >'" + output + "' 2>&1").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(output)};
}

class ServerAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        db.execute(
            "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (77, 'Acme', 1), "
            "(123, 'Bolt & Nut', 1), (456, 'Smith', 1);"
            "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (42, 456);");
        directory = db.location() + ".d";
        ::mkdir(directory.c_str(), 0700);
        usersFile = directory + "/users";
        logFile = directory + "/server.log";
    }

    // Starts the server on the test database; its stderr (the log) goes to logFile.
    void start(std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments = {"--db", db.location(), "--listen", "127.0.0.1:0"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        server = tavrolin::test::startLoggingTo(logFile, arguments, false);
    }

    // The log so far, once the server has stopped and written everything.
    std::string stopAndReadLog() {
        EXPECT_EQ(server->stop(), 0);
        return readFile(logFile);
    }

    Reply send(const std::string& text) { return exchange(server->port(), text); }
    Reply get(const std::vector<std::string>& headers = {}) {
        return send(request("GET", "/Tavrolin.asp?EmployeeID=42", headers));
    }
    Reply post(const std::vector<std::string>& headers, const std::string& body = kInsert123) {
        return send(request("POST", "/Tavrolin.asp", headers, body));
    }

    TestDatabase db;
    std::string directory;
    std::string usersFile;
    std::string logFile;
    std::unique_ptr<ServerProcess> server;
};

}  // namespace

TEST_F(ServerAccess, AddUserAndRemoveUserCommandsReadThePasswordAndReportRefusals) {
    const std::string program = TAVROLIN_SERVER_PATH;
    const auto out = directory + "/out";
    const auto addUser = [&](const std::string& name, const std::string& input) {
        return run("printf '" + input + "' | '" + program + "' add-user --users '" + usersFile +
                       "' '" + name + "'",
                   out);
    };
    auto [added, addedText] = addUser("alice", "first pass\\n");
    ASSERT_EQ(added, 0) << addedText;
    ASSERT_EQ(addUser("bob", "other\\n").first, 0);

    const auto first = readFile(usersFile);
    EXPECT_EQ(first.find("first pass"), std::string::npos);
    auto users = tavrolin::server::readUserFile(usersFile);
    EXPECT_TRUE(tavrolin::server::verifyPassword("first pass", users.at("alice").hash));

    // The password is read up to the end of its line or of the input.
    ASSERT_EQ(addUser("alice", "second pass").first, 0);
    users = tavrolin::server::readUserFile(usersFile);
    ASSERT_EQ(users.size(), 2u);
    EXPECT_TRUE(tavrolin::server::verifyPassword("second pass", users.at("alice").hash));

    // An empty password or a bad name changes nothing.
    const auto before = readFile(usersFile);
    auto [empty, emptyText] = addUser("carol", "\\n");
    EXPECT_EQ(empty, 1);
    EXPECT_NE(emptyText.find("empty"), std::string::npos) << emptyText;
    EXPECT_EQ(addUser("ca:rol", "x\\n").first, 1);
    EXPECT_EQ(readFile(usersFile), before);

    const auto removeUser = [&](const std::string& name) {
        return run("'" + program + "' remove-user --users '" + usersFile + "' '" + name + "'", out);
    };
    EXPECT_EQ(removeUser("bob").first, 0);
    auto [missing, missingText] = removeUser("bob");
    EXPECT_EQ(missing, 1);
    EXPECT_NE(missingText.find("no user bob"), std::string::npos) << missingText;
    users = tavrolin::server::readUserFile(usersFile);
    EXPECT_EQ(users.size(), 1u);
    EXPECT_TRUE(users.contains("alice"));
}

TEST_F(ServerAccess, SignInGuardsTheDocumentAndPostsButNotHealth) {
    setUser(usersFile, "alice", hashPassword(kPassword));
    start({"--users", usersFile});
    const auto before = db.dump();

    const auto health = send(request("GET", "/health"));
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok");

    const std::vector<std::vector<std::string>> refusedHeaders = {
        {},
        {"Authorization: " + basic("alice", "wrong")},
        {"Authorization: " + basic("mallory", kPassword)},
        {"Authorization: Bearer " + base64(kPassword)},
    };
    for (const auto& headers : refusedHeaders) {
        const auto what = headers.empty() ? std::string("none") : headers[0];
        const auto document = get(headers);
        EXPECT_EQ(document.status, 401) << what;
        EXPECT_EQ(document.header("www-authenticate"), "Basic realm=\"Tavrolin\"") << what;
        EXPECT_EQ(document.body.find("<Vendor"), std::string::npos) << what;
        const auto change = post(headers);
        EXPECT_EQ(change.status, 401) << what;
        EXPECT_EQ(change.header("www-authenticate"), "Basic realm=\"Tavrolin\"") << what;
        EXPECT_NE(change.body.find("Nothing was saved."), std::string::npos) << change.body;
        EXPECT_EQ(db.dump(), before) << what;
    }

    const std::vector<std::string> signedIn = {"Authorization: " + basic("alice", kPassword)};
    const auto document = get(signedIn);
    EXPECT_EQ(document.status, 200);
    EXPECT_NE(document.body.find("<VendorID>456</VendorID>"), std::string::npos) << document.body;
    const auto change = post(signedIn);
    EXPECT_EQ(change.status, 200) << change.body;
    EXPECT_EQ(db.links(), "42:123 42:456");
    // Served from the remembered sign-in now; a wrong password still gets nothing.
    EXPECT_EQ(get(signedIn).status, 200);
    EXPECT_EQ(get({"Authorization: " + basic("alice", "wrong")}).status, 401);

    const auto log = stopAndReadLog();
    EXPECT_NE(log.find("\"GET /Tavrolin.asp?EmployeeID=42\" 200"), std::string::npos) << log;
    EXPECT_NE(log.find(" user \"alice\""), std::string::npos) << log;
    EXPECT_NE(log.find(" user \"mallory\""), std::string::npos) << log;
    EXPECT_EQ(log.find("Tr0ub4dor"), std::string::npos) << log;
    EXPECT_EQ(log.find(base64(std::string("alice:") + kPassword)), std::string::npos) << log;
    EXPECT_EQ(log.find("Authorization"), std::string::npos) << log;
    EXPECT_EQ(log.find("Basic"), std::string::npos) << log;
}

TEST_F(ServerAccess, SignInWithoutTlsRefusesToListenOffThisMachine) {
    setUser(usersFile, "alice", hashPassword(kPassword));
    const std::string program = TAVROLIN_SERVER_PATH;
    const auto out = directory + "/out";
    for (const std::string listen : {"0.0.0.0:0", "[::]:0", "192.0.2.1:0"}) {
        auto [status, text] = run(
            "'" + program + "' --db :memory: --users '" + usersFile + "' --listen '" + listen + "'",
            out);
        EXPECT_EQ(status, 1) << listen;
        EXPECT_NE(text.find("loopback"), std::string::npos) << text;
        EXPECT_NE(text.find("in clear"), std::string::npos) << text;
        EXPECT_EQ(text.find("listening on"), std::string::npos) << text;
    }
    auto [missing, missingText] =
        run("'" + program + "' --db :memory: --users '" + directory + "/none' --listen 127.0.0.1:0",
            out);
    EXPECT_EQ(missing, 1);
    EXPECT_NE(missingText.find("cannot read"), std::string::npos) << missingText;
    // Loopback in either family is fine.
    start({"--users", usersFile});
    EXPECT_EQ(get({"Authorization: " + basic("alice", kPassword)}).status, 200);
}

TEST_F(ServerAccess, PostsFromWebPagesAreRefusedUnlessTheirOriginIsAllowed) {
    start(
        {"--allow-origin", "https://intranet.example.com", "--allow-origin", "http://127.0.0.1:9"});
    const auto before = db.dump();
    for (const std::vector<std::string>& headers : std::vector<std::vector<std::string>>{
             {"Origin: http://evil.example"}, {"Sec-Fetch-Site: cross-site"}}) {
        const auto reply = post(headers);
        EXPECT_EQ(reply.status, 403) << headers[0];
        EXPECT_NE(reply.body.find("another site. Nothing was saved."), std::string::npos)
            << reply.body;
        EXPECT_EQ(db.dump(), before) << headers[0];
    }
    // Reading stays open to everyone who may read at all.
    EXPECT_EQ(get({"Origin: http://evil.example"}).status, 200);

    EXPECT_EQ(post({"Origin: https://intranet.example.com", "Sec-Fetch-Site: cross-site"}).status,
              200);
    EXPECT_EQ(db.links(), "42:123 42:456");
    // The control sends neither header.
    EXPECT_EQ(post({},
                   "SQL=DELETE+FROM+VendorEmployeeCrossReference+WHERE+EmployeeID%3D42+AND+"
                   "VendorID+IN%28123%29&")
                  .status,
              200);
    EXPECT_EQ(db.links(), "42:456");
}

TEST_F(ServerAccess, TheDocumentIsGzippedWhenTheRequestAcceptsItUnlessTurnedOff) {
    start();
    const auto plain = get();
    ASSERT_EQ(plain.status, 200);
    ASSERT_NE(plain.body.find("<VendorID>456</VendorID>"), std::string::npos);
    EXPECT_EQ(plain.header("content-encoding"), "<none>");
    EXPECT_EQ(plain.header("vary"), "Accept-Encoding");

    const auto packed = get({"Accept-Encoding: br, gzip, deflate"});
    ASSERT_EQ(packed.status, 200);
    EXPECT_EQ(packed.header("content-encoding"), "gzip");
    EXPECT_EQ(packed.header("vary"), "Accept-Encoding");
    EXPECT_EQ(packed.header("content-length"), std::to_string(packed.body.size()));
    EXPECT_EQ(gunzip(packed.body), plain.body);
    const auto refused = get({"Accept-Encoding: gzip;q=0"});
    EXPECT_EQ(refused.header("content-encoding"), "<none>");
    EXPECT_EQ(refused.body, plain.body);

    // A change reaches the compressed form too: it is never served from a stale entry.
    ASSERT_EQ(post({}).status, 200);
    const auto after = get({"Accept-Encoding: gzip"});
    EXPECT_NE(gunzip(after.body).find("<SelectedVendors><Vendor><VendorID>123</VendorID>"),
              std::string::npos)
        << gunzip(after.body);
    EXPECT_EQ(gunzip(after.body), get().body);

    server.reset();
    start({"--no-gzip"});
    const auto unpacked = get({"Accept-Encoding: gzip"});
    ASSERT_EQ(unpacked.status, 200);
    EXPECT_EQ(unpacked.header("content-encoding"), "<none>");
    EXPECT_TRUE(unpacked.body.starts_with("<?xml")) << unpacked.body.substr(0, 40);
}

TEST_F(ServerAccess, ClientTextInTheLogIsEscaped) {
    setUser(usersFile, "alice", hashPassword(kPassword));
    start({"--users", usersFile});
    send(request("GET", "/x\x1b[31mred\"q\\"));
    send(request("GET", "/a\rforged 200"));
    get({"Authorization: " + basic("ev\x1b[2Jil\r\n127.0.0.1 \"GET /\" 200 1", "x")});
    get({"Authorization: " + basic("alice", kPassword)});

    const auto log = stopAndReadLog();
    for (std::size_t i = 0; i < log.size(); ++i) {
        const auto c = static_cast<unsigned char>(log[i]);
        ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "byte " << int(c) << " at " << i;
    }
    // The transport refuses a raw control character in the target (400); either way the line
    // that records it is escaped.
    EXPECT_NE(log.find("\"GET /x\\x1B[31mred\\\"q\\\\\" 4"), std::string::npos) << log;
    EXPECT_NE(log.find(" user \"ev\\x1B[2Jil\\x0D\\x0A127.0.0.1 \\\"GET /\\\" 200 1\""),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" 200 "), std::string::npos) << log;
    // Every request line in the log is one line: nothing a client sent started a new one.
    std::istringstream lines(log);
    std::string line;
    int requests = 0;
    while (std::getline(lines, line))
        if (line.starts_with("127.0.0.1 \"")) ++requests;
    EXPECT_GE(requests, 3) << log;
    EXPECT_EQ(log.find("\nforged"), std::string::npos) << log;
}
