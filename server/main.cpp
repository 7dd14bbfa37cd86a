// tavrolin-server: serves the vendor document page and takes the control's change posts.

#include <signal.h>
#include <sys/stat.h>

#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "admin_commands.h"
#include "command_line.h"
#include "cross_site.h"
#include "http_service.h"
#include "metrics.h"
#include "request_handler.h"
#include "storage.h"
#include "users.h"

using namespace tavrolin::server;

namespace {

// The sign-in for --users, or null without it; throws UserFileError when it cannot be used.
std::unique_ptr<Authenticator> openUsers(const Options& options) {
    if (options.usersFile.empty()) return nullptr;
    if (options.tlsCertificate.empty() && !isLoopbackAddress(options.host))
        throw UserFileError(
            "--users without TLS (--tls-cert and --tls-key) listens only on a "
            "loopback address: passwords must not cross the network in clear. "
            "Serve https, or listen on 127.0.0.1.");
    auto users = std::make_unique<Authenticator>(options.usersFile);
    if (users->userCount() == 0)
        throw UserFileError(options.usersFile + " has no users; add one with add-user");
    struct stat status {};
    if (::stat(options.usersFile.c_str(), &status) == 0 && (status.st_mode & 0077) != 0)
        std::cerr << "warning: other users of this machine can read " << options.usersFile
                  << "; chmod 600 it\n";
    std::cerr << "sign-in required: " << users->userCount() << " users in " << options.usersFile
              << "\n";
    return users;
}

int runServer(const Options& options) {
    const auto users = openUsers(options);
    const auto storage = openStorage(options.database, options.workers);
    if (options.demo && storage->seedDemoData()) std::cerr << "seeded demo data\n";

    RequestHandler handler(*storage, {users.get(), options.allowedOrigins, options.compress, {}});
    raiseOpenFileLimit(options.limits.maxConnections);
    HttpService service(handler, options.workers, options.limits);
    metrics().watchTransport([&service] { return service.openConnections(); },
                             [&service] { return service.queuedRequests(); });
    struct Unwatch {
        ~Unwatch() { metrics().watchTransport(nullptr, nullptr); }
    } unwatch;
    // Taken from here on, so a stop signal that comes before the service runs is not lost.
    service.stopOnSignals({SIGINT, SIGTERM});
    // A renewed certificate is taken at once on SIGHUP (as systemctl reload sends it), and
    // SIGHUP never ends the server.
    service.reloadOnSignals({SIGHUP});
    if (!options.tlsCertificate.empty()) {
        const auto error = service.useTls(options.tlsCertificate, options.tlsKey);
        if (!error.empty()) {
            std::cerr << "tavrolin-server: cannot use " << options.tlsCertificate << " and "
                      << options.tlsKey << " for TLS: " << error << "\n";
            return 1;
        }
    }
    const int port = service.bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "tavrolin-server: cannot listen on " << options.host << ":" << options.port
                  << "\n";
        return 1;
    }
    const bool ipv6 = options.host.find(':') != std::string::npos;
    std::cout << (service.usesTls() ? "listening on https://" : "listening on http://")
              << (ipv6 ? "[" + options.host + "]" : options.host) << ":" << port << std::endl;

    const bool served = service.serve();
    // The transport is still there to take the answers of sign-ins under way.
    handler.finishSignIns();
    return served ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    const int status = parseArguments(argc, argv, options);
    if (status == -1) return 0;
    if (status != 0) {
        std::cerr << kUsage;
        return status;
    }
    try {
        if (!options.userCommand.empty()) return runUserCommand(options);
        if (options.audit) return runAudit(options);
        return options.import ? runImport(options) : runServer(options);
    } catch (const StorageError& error) {
        std::cerr << "tavrolin-server: " << error.what() << "\n";
        return 1;
    } catch (const UserFileError& error) {
        std::cerr << "tavrolin-server: " << error.what() << "\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "tavrolin-server: " << escapeLogText(error.what()) << "\n";
        return 1;
    } catch (...) {
        std::cerr << "tavrolin-server: stopped by an unknown exception\n";
        return 1;
    }
}
