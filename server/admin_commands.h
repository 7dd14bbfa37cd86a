#pragma once

// The admin commands of tavrolin-server that change or show its data and stop: import-vendors,
// audit, add-user, remove-user and set-role.

#include "command_line.h"

namespace tavrolin::server {

// Each returns the process's exit status.
int runImport(const Options& options);
int runAudit(const Options& options);
int runUserCommand(const Options& options);

}  // namespace tavrolin::server
