#pragma once

// The command line of tavrolin-server: its usage text and the options it takes.

#include <optional>
#include <string>
#include <vector>

#include "audit_trail.h"
#include "http_service.h"
#include "users.h"

namespace tavrolin::server {

extern const char* const kUsage;

struct Options {
    std::string database = "tavrolin.db";
    bool demo = false;
    std::string host = "127.0.0.1";
    int port = 8080;
    int workers = 8;
    std::string importFile;
    bool import = false;
    std::string usersFile;
    std::vector<std::string> allowedOrigins;  // normalized
    bool compress = true;
    std::string userCommand;  // "add-user", "remove-user" or "set-role"
    std::string userName;
    std::optional<Role> role;  // add-user's --role, set-role's ROLE
    bool audit = false;
    AuditFilter auditFilter;
    std::string auditFormat = "text";  // "text", "csv" or "json"
    TransportLimits limits;
    std::string tlsCertificate;
    std::string tlsKey;
};

// Returns 0 to go on, otherwise the exit status (1 for bad usage, -1 for --help).
int parseArguments(int argc, char** argv, Options& options);

}  // namespace tavrolin::server
