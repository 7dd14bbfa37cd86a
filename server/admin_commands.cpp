#include "admin_commands.h"

#include <pwd.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

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

// The operating-system user running this command, in whose name an import changes vendors.
std::string operatingSystemUser() {
    const auto uid = ::getuid();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return found->pw_name;
    return "uid " + std::to_string(uid);
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + '"';
}

std::string jsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        } else {
            out += c;
        }
    }
    return out + '"';
}

// One row as the admin asked for it: a line to read, a CSV record or a JSON object.
std::string auditLine(const AuditEntry& entry, const std::string& format) {
    const auto employee = entry.employeeId ? std::to_string(*entry.employeeId) : std::string();
    if (format == "csv")
        return std::to_string(entry.changeId) + "," + entry.time + "," + entry.action + "," +
               employee + "," + std::to_string(entry.vendorId) + "," + csvField(entry.user) + "," +
               csvField(entry.clientAddress) + "," + csvField(entry.detail);
    if (format == "json")
        return "{\"change\":" + std::to_string(entry.changeId) +
               ",\"time\":" + jsonString(entry.time) + ",\"action\":" + jsonString(entry.action) +
               ",\"employee\":" + (employee.empty() ? "null" : employee) +
               ",\"vendor\":" + std::to_string(entry.vendorId) +
               ",\"user\":" + jsonString(entry.user) +
               ",\"client\":" + jsonString(entry.clientAddress) +
               ",\"detail\":" + jsonString(entry.detail) + "}";
    // Names and addresses are escaped as in the log, so that no row can drive the terminal.
    std::string line = entry.time + " UTC  #" + std::to_string(entry.changeId) + "  " +
                       entry.action +
                       std::string(entry.action.size() < 12 ? 12 - entry.action.size() : 1, ' ');
    if (!employee.empty()) line += "employee " + employee + "  ";
    line += "vendor " + std::to_string(entry.vendorId);
    if (!entry.detail.empty()) line += " \"" + escapeLogText(entry.detail) + "\"";
    line += entry.user.empty() ? "  without sign-in" : "  by \"" + escapeLogText(entry.user) + "\"";
    if (!entry.clientAddress.empty()) line += " from " + escapeLogText(entry.clientAddress);
    return line;
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
    const auto count = storage->importVendors(csv.vendors, {operatingSystemUser(), ""});
    std::cout << "imported " << count << " vendors into " << storage->description() << "\n";
    return 0;
}

int runAudit(const Options& options) {
    const auto storage = openStorage(options.database, 1);
    if (options.auditFormat == "csv")
        std::cout << "change,time_utc,action,employee,vendor,user,client,detail\n";
    storage->readAuditTrail(options.auditFilter, [&](const AuditEntry& entry) {
        std::cout << auditLine(entry, options.auditFormat) << '\n';
    });
    std::cout.flush();
    return std::cout ? 0 : 1;
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
    if (options.userCommand == "set-role") {
        if (!options.role) {
            std::cerr << "tavrolin-server: set-role needs a role: viewer, editor or admin\n";
            return 1;
        }
        if (!setRole(options.usersFile, options.userName, *options.role)) {
            std::cerr << "tavrolin-server: " << options.usersFile << " has no user "
                      << escapeLogText(options.userName) << "\n";
            return 1;
        }
        std::cout << options.userName << " is now " << roleName(*options.role) << " in "
                  << options.usersFile << "\n";
        return 0;
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
    setUser(options.usersFile, options.userName, hash, options.role);
    std::cout << "set the password of " << options.userName << " in " << options.usersFile << "\n";
    return 0;
}

}  // namespace tavrolin::server
