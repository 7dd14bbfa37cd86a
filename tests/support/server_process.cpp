#include "server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef TAVROLIN_SERVER_PATH
#error "TAVROLIN_SERVER_PATH must name the tavrolin-server binary"
#endif

namespace tavrolin::test {

namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr std::string_view kPrefix = "listening on http://";
constexpr std::string_view kTlsPrefix = "listening on https://";

}  // namespace

std::vector<std::string> ServerProcess::defaultArguments() {
    return {"--db", ":memory:", "--demo", "--listen", "127.0.0.1:0"};
}

ServerProcess::ServerProcess() : ServerProcess(defaultArguments()) {}

ServerProcess::ServerProcess(std::vector<std::string> arguments) {
    // The server may close a connection while its client still writes, or be killed: the
    // write then fails instead of ending the test.
    signal(SIGPIPE, SIG_IGN);
    const std::string program = TAVROLIN_SERVER_PATH;
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    mPid = fork();
    if (mPid < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        throw std::runtime_error("fork failed");
    }
    if (mPid == 0) {
        // Only async-signal-safe calls between fork and exec: the test process has threads.
        dup2(pipeFds[1], STDOUT_FILENO);
        // A test that crashes must not leave its server running.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    mStdout = pipeFds[0];

    std::string line;
    while (line.empty() || line.back() != '\n') {
        pollfd poller{mStdout, POLLIN, 0};
        const int ready = poll(&poller, 1, kStartTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        char c = 0;
        if (ready <= 0 || read(mStdout, &c, 1) != 1) {
            stop();
            throw std::runtime_error("tavrolin-server did not start; output so far: " + line);
        }
        line += c;
    }
    line.pop_back();
    const auto colon = line.rfind(':');
    if ((line.rfind(kPrefix, 0) != 0 && line.rfind(kTlsPrefix, 0) != 0) ||
        colon == std::string::npos) {
        stop();
        throw std::runtime_error("unexpected first line from tavrolin-server: " + line);
    }
    mPort = std::stoi(line.substr(colon + 1));
    mBaseUrl = line.substr(std::string("listening on ").size());
}

ServerProcess::~ServerProcess() {
    stop();
}

int ServerProcess::stop() {
    int result = -1;
    if (mPid > 0) {
        kill(mPid, SIGTERM);
        int status = 0;
        while (waitpid(mPid, &status, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(status)) result = WEXITSTATUS(status);
        mPid = -1;
    }
    if (mStdout >= 0) {
        close(mStdout);
        mStdout = -1;
    }
    return result;
}

std::unique_ptr<ServerProcess> startLoggingTo(const std::string& logFile,
                                              std::vector<std::string> arguments, bool append) {
    // The child inherits standard error, so it points at the log only while the server starts.
    const int log = ::open(logFile.c_str(),
                           O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
    if (log < 0) throw std::runtime_error("cannot open the server log " + logFile);
    // Standard error comes back however the start ends.
    struct Restore {
        int saved, log;
        ~Restore() {
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
            ::close(log);
        }
    } restore{::dup(STDERR_FILENO), log};
    ::dup2(log, STDERR_FILENO);
    return std::make_unique<ServerProcess>(std::move(arguments));
}

int addUser(const std::string& usersFile, const std::string& name, const std::string& password,
            const std::string& role) {
    // The password goes through a file: it may hold spaces and quotes.
    const std::string input = usersFile + ".in";
    std::ofstream(input) << password << "\n";
    const int status =
        runServer("add-user --users '" + usersFile + "' " + (role.empty() ? "" : "--role " + role) +
                  " '" + name + "' <'" + input + "'")
            .first;
    std::remove(input.c_str());
    return status;
}

bool makeCertificate(const std::string& directory, const std::string& name) {
    const auto command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj "
        "/CN=" +
        name + " -keyout '" + directory + "/" + name + ".key' -out '" + directory + "/" + name +
        ".pem' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::pair<int, std::string> runServer(const std::string& arguments) {
    const std::string command = std::string(TAVROLIN_SERVER_PATH) + " " + arguments + " 2>&1";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {-1, output};
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
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

}  // namespace tavrolin::test
