// What the real tavrolin-server makes of a request's headers beyond sign-in: cross-site posts
// and compression, over raw HTTP on 127.0.0.1 so that every header is exactly what the test says.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gunzip.h"
#include "link_posts.h"
#include "raw_connection.h"
#include "test_database.h"

using namespace tavrolin::test;
using tavrolin::server::test::TestDatabase;

using ::testing::HasSubstr;

namespace {

class ServerAccess : public ::testing::Test {
  protected:
    void SetUp() override {
        db.execute(
            "INSERT INTO Vendor (VendorID, VendorName, Active) VALUES (77, 'Acme', 1), "
            "(123, 'Bolt & Nut', 1), (456, 'Smith', 1);"
            "INSERT INTO VendorEmployeeCrossReference (EmployeeID, VendorID) VALUES (42, 456);");
    }

    void start(std::vector<std::string> extra = {}) {
        extra.insert(extra.begin(), {"--db", db.location(), "--listen", "127.0.0.1:0"});
        server = std::make_unique<ServerProcess>(extra);
    }

    Reply get(const std::string& lines = {}) {
        return exchange(server->port(), getRequest("/Tavrolin.asp?EmployeeID=42", lines));
    }
    Reply post(const std::string& lines,
               const std::string& body = formBody({insertSql(42, "123")})) {
        return exchange(server->port(), formPost(body, lines));
    }

    TestDatabase db;
    std::unique_ptr<ServerProcess> server;
};

}  // namespace

TEST_F(ServerAccess, PostsFromWebPagesAreRefusedUnlessTheirOriginIsAllowed) {
    start(
        {"--allow-origin", "https://intranet.example.com", "--allow-origin", "http://127.0.0.1:9"});
    const auto before = db.dump();
    for (const std::string lines :
         {"Origin: http://evil.example\r\n", "Sec-Fetch-Site: cross-site\r\n"}) {
        const auto reply = post(lines);
        EXPECT_EQ(reply.status, 403) << lines;
        EXPECT_THAT(reply.body, HasSubstr("another site. Nothing was saved."));
        EXPECT_EQ(db.dump(), before) << lines;
    }
    // Reading stays open to everyone who may read at all.
    EXPECT_EQ(get("Origin: http://evil.example\r\n").status, 200);

    EXPECT_EQ(post("Origin: https://intranet.example.com\r\nSec-Fetch-Site: cross-site\r\n").status,
              200);
    EXPECT_EQ(db.links(), "42:123 42:456");
    // The control sends neither header.
    EXPECT_EQ(post("", formBody({deleteSql(42, "123")})).status, 200);
    EXPECT_EQ(db.links(), "42:456");
}

TEST_F(ServerAccess, TheDocumentIsGzippedWhenTheRequestAcceptsItUnlessTurnedOff) {
    start();
    const auto plain = get();
    ASSERT_EQ(plain.status, 200);
    ASSERT_THAT(plain.body, HasSubstr("<VendorID>456</VendorID>"));
    EXPECT_EQ(plain.header("content-encoding"), "<none>");
    EXPECT_EQ(plain.header("vary"), "Accept-Encoding");

    const auto packed = get("Accept-Encoding: br, gzip, deflate\r\n");
    ASSERT_EQ(packed.status, 200);
    EXPECT_EQ(packed.header("content-encoding"), "gzip");
    EXPECT_EQ(packed.header("vary"), "Accept-Encoding");
    EXPECT_EQ(packed.header("content-length"), std::to_string(packed.body.size()));
    EXPECT_EQ(gunzip(packed.body), plain.body);
    const auto refused = get("Accept-Encoding: gzip;q=0\r\n");
    EXPECT_EQ(refused.header("content-encoding"), "<none>");
    EXPECT_EQ(refused.body, plain.body);

    // A change reaches the compressed form too: it is never served from a stale entry.
    ASSERT_EQ(post("").status, 200);
    const auto after = get("Accept-Encoding: gzip\r\n");
    EXPECT_THAT(gunzip(after.body), HasSubstr("<SelectedVendors><Vendor><VendorID>123</VendorID>"));
    EXPECT_EQ(gunzip(after.body), get().body);

    server.reset();
    start({"--no-gzip"});
    const auto unpacked = get("Accept-Encoding: gzip\r\n");
    ASSERT_EQ(unpacked.status, 200);
    EXPECT_EQ(unpacked.header("content-encoding"), "<none>");
    EXPECT_TRUE(unpacked.body.starts_with("<?xml")) << unpacked.body.substr(0, 40);
}
