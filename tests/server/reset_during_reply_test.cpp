// Clients that reset their connection while a large cached document is being sent to them:
// each costs its own connection and nothing else.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "raw_connection.h"
#include "server_process.h"

using namespace tavrolin::test;
using namespace std::chrono_literals;

using ::testing::HasSubstr;

TEST(ServerResetDuringReply, ServerOutlivesClientsThatResetMidReply) {
    // Some 30,000 vendors make a document of megabytes, which takes many writes to send.
    const auto stem = ::testing::TempDir() + "reset-" + std::to_string(getpid());
    {
        std::ofstream csv(stem + ".csv");
        csv << "id,name,active\n";
        for (int id = 1; id <= 30000; ++id) csv << id << ",Vendor number " << id << ",1\n";
    }
    const auto import = std::string(TAVROLIN_SERVER_PATH) + " import-vendors --db '" + stem +
                        ".db' '" + stem + ".csv' >/dev/null";
    ASSERT_EQ(std::system(import.c_str()), 0);

    ServerProcess server({"--db", stem + ".db", "--listen", "127.0.0.1:0"});
    std::string pipelined;
    for (int i = 0; i < 3; ++i)
        pipelined += "GET /Tavrolin.asp?EmployeeID=42 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    for (int round = 0; round < 60; ++round) {
        RawConnection client(server.port());
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(client.send(pipelined));
        // A reply is under way once its first bytes are here; then reset, not close.
        ASSERT_TRUE(client.readable(10s));
        char chunk[100];
        ASSERT_GT(::recv(client.fd(), chunk, sizeof chunk, 0), 0);
        const linger reset{1, 0};
        ::setsockopt(client.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    RawConnection probe(server.port());
    ASSERT_TRUE(probe.send("GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
    EXPECT_THAT(probe.readReply(10s), HasSubstr(" 200 "));
    EXPECT_EQ(server.stop(), 0);
    for (const char* suffix : {".csv", ".db", ".db-wal", ".db-shm"})
        std::remove((stem + suffix).c_str());
}
