#pragma once

// Runs the real tavrolin-server as a child process for tests that cross HTTP.

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavrolin::test {

class ServerProcess {
  public:
    // Starts the server with `arguments` and waits for its "listening on" line. Throws
    // std::runtime_error when it does not come up.
    ServerProcess();
    explicit ServerProcess(std::vector<std::string> arguments);
    // Stops the server with SIGTERM and waits for it.
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // "http://127.0.0.1:PORT" (or https), without a trailing slash.
    const std::string& baseUrl() const { return mBaseUrl; }
    int port() const { return mPort; }
    // The server's process id, for tests that end it abruptly; -1 once stopped.
    pid_t pid() const { return mPid; }

    // Stops the server now; returns its exit status (or -1 if it did not exit normally).
    int stop();

    static std::vector<std::string> defaultArguments();

  private:
    pid_t mPid = -1;
    int mStdout = -1;
    int mPort = 0;
    std::string mBaseUrl;
};

// Starts the server with `arguments` and its standard error, the log, going to `logFile`: appended
// to, or emptied first when `append` is false. Throws as the constructor does.
std::unique_ptr<ServerProcess> startLoggingTo(const std::string& logFile,
                                              std::vector<std::string> arguments, bool append);

// Adds `name` with `password` to `usersFile` (or changes its password) through the server's own
// add-user command, with `role` when one is given; the command's exit status, 0 when it worked.
int addUser(const std::string& usersFile, const std::string& name, const std::string& password,
            const std::string& role = {});

// A self-signed certificate for `name` as `directory`/`name`.pem and .key; false when openssl
// failed.
bool makeCertificate(const std::string& directory, const std::string& name);

// Runs tavrolin-server with `arguments`, words as a shell reads them (redirections too), to its
// end; its exit status (-1 when it did not exit normally) and everything it wrote.
std::pair<int, std::string> runServer(const std::string& arguments);

// What the file holds; "" when it cannot be read.
std::string readFile(const std::string& path);

// How often `what` occurs in `text`.
std::size_t countOf(const std::string& text, const std::string& what);

}  // namespace tavrolin::test
