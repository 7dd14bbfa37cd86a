#include "admin_commands.h"

#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "access_log.h"
#include "storage.h"
#include "users.h"
#include "vendor_import.h"

namespace tavrolin::server {

namespace {

// Reads a password from standard input: one line, typed without echo on a terminal (twice, so a
// typing mistake does not lock the user out).
bool readPassword(const std::string& name, std::string& password) {
    const auto readLine = [](std::string& line) {
        line.clear();
        return bool(std::getline(std::cin, line)) || !line.empty();
    };
    if (!::isatty(STDIN_FILENO)) {
        if (!readLine(password)) return false;
        if (!password.empty() && password.back() == '\r') password.pop_back();
        return true;
    }
    termios saved{};
    ::tcgetattr(STDIN_FILENO, &saved);
    termios silent = saved;
    silent.c_lflag &= ~tcflag_t(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    std::string again;
    std::cerr << "Password for " << escapeLogText(name) << ": " << std::flush;
    bool ok = readLine(password);
    std::cerr << "\nRepeat the password: " << std::flush;
    ok = ok && readLine(again);
    std::cerr << "\n";
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    const bool same = again == password;
    ::explicit_bzero(again.data(), again.size());
    if (ok && !same) {
        std::cerr << "tavrolin-server: the passwords differ\n";
        return false;
    }
    return ok;
}

}  // namespace

int runImport(const Options& options) {
    if (options.importFile.empty()) {
        std::cerr << "tavrolin-server: import-vendors needs a CSV file\n" << kUsage;
        return 1;
    }
    std::ifstream file(options.importFile, std::ios::binary);
    if (!file) {
        std::cerr << "tavrolin-server: cannot read " << options.importFile << "\n";
        return 1;
    }
    std::stringstream content;
    content << file.rdbuf();
    const auto csv = parseVendorCsv(content.str());
    if (!csv.errors.empty()) {
        for (const auto& error : csv.errors)
            std::cerr << options.importFile << ": " << error << "\n";
        std::cerr << "tavrolin-server: nothing was imported\n";
        return 1;
    }
    const auto storage = openStorage(options.database, 1);
    const auto count = storage->importVendors(csv.vendors);
    std::cout << "imported " << count << " vendors into " << storage->description() << "\n";
    return 0;
}

int runUserCommand(const Options& options) {
    if (options.usersFile.empty() || options.userName.empty()) {
        std::cerr << "tavrolin-server: " << options.userCommand
                  << " needs --users FILE and a NAME\n"
                  << kUsage;
        return 1;
    }
    if (!isValidUserName(options.userName)) {
        std::cerr << "tavrolin-server: a user name must not be empty or hold ':' or control "
                     "characters\n";
        return 1;
    }
    if (options.userCommand == "remove-user") {
        if (!removeUser(options.usersFile, options.userName)) {
            std::cerr << "tavrolin-server: " << options.usersFile << " has no user "
                      << escapeLogText(options.userName) << "\n";
            return 1;
        }
        std::cout << "removed " << options.userName << " from " << options.usersFile << "\n";
        return 0;
    }
    std::string password;
    if (!readPassword(options.userName, password)) {
        std::cerr << "tavrolin-server: no password was read; nothing was changed\n";
        return 1;
    }
    if (password.empty()) {
        std::cerr << "tavrolin-server: the password is empty; nothing was changed\n";
        return 1;
    }
    if (password.find('\0') != std::string::npos) {
        ::explicit_bzero(password.data(), password.size());
        std::cerr << "tavrolin-server: the password holds a NUL byte; nothing was changed\n";
        return 1;
    }
    const auto hash = hashPassword(password);
    ::explicit_bzero(password.data(), password.size());
    setUser(options.usersFile, options.userName, hash);
    std::cout << "set the password of " << options.userName << " in " << options.usersFile << "\n";
    return 0;
}

}  // namespace tavrolin::server
