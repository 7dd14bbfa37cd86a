#pragma once

#include <stdexcept>
#include <string>

namespace tavrolin::server {

// A failure of the storage engine. `transient()` is true when the same request may succeed if
// tried again soon (a busy or locked database, a lost connection, a failover), which the
// handling reports as 503 rather than 500.
class StorageError : public std::runtime_error {
  public:
    StorageError(const std::string& message, bool transient)
        : std::runtime_error(message), mTransient(transient) {}
    bool transient() const { return mTransient; }

  private:
    bool mTransient;
};

// The link to the database broke after the commit was sent, so nobody here can tell whether the
// change was saved. Link changes can be sent again safely: an existing link is not added twice
// and a missing one is not deleted twice.
class CommitOutcomeUnknown : public StorageError {
  public:
    explicit CommitOutcomeUnknown(const std::string& message) : StorageError(message, true) {}
};

}  // namespace tavrolin::server
