#pragma once

// Sign-in: the users file (one line per user: "name:hash", or "name:hash:role" for a user who is
// not an editor; the hash from yescrypt), the changes `add-user`, `remove-user` and `set-role`
// make to it, and the check of a request's Basic credentials.

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tavrolin::server {

// A problem with the users file or with hashing; the message is meant for the administrator.
class UserFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What a signed-in user may do; each role may do everything the ones before it may.
enum class Role {
    Viewer,  // load vendor documents
    Editor,  // also post changes; every user of a file without roles is one
    Admin,   // also read the server's metrics
};

// "viewer", "editor" or "admin".
std::string_view roleName(Role role);
// nullopt for anything but those three names.
std::optional<Role> parseRole(std::string_view text);

// One user of the file.
struct UserRecord {
    // Implicit, so that a set of users may be written as names and hashes.
    UserRecord(std::string hash, Role role = Role::Editor) : hash(std::move(hash)), role(role) {}
    std::string hash;
    Role role;
};

// A name fits the file and Basic authentication: not empty, no ':', no control characters.
bool isValidUserName(std::string_view name);

// A salted yescrypt hash ("$y$...") of `password`; slow by design. Throws UserFileError for a
// password that holds a NUL byte, which the hash would silently cut off there.
std::string hashPassword(std::string_view password);
// Compares every byte of `password`, so one holding a NUL byte never matches.
bool verifyPassword(std::string_view password, const std::string& hash);

// The users as read from the file. Throws UserFileError when the file cannot be read or holds a
// line that is not "name:hash" or "name:hash:role" (blank lines and lines starting with '#' are
// skipped).
std::map<std::string, UserRecord> readUserFile(const std::string& path);

// Adds the user or replaces the user's hash, and sets the role when one is given; a user who is
// already in the file keeps their role otherwise, a new one is an editor. Creates the file when
// it is missing. The file is written whole to a temporary file beside it with mode 0600 and
// renamed over the old one, so a crash leaves either the old or the new file. Other lines are
// kept as they were. This, setRole and removeUser hold an exclusive lock on "path.lock" from the
// read to the rename, so that changes made at once are all kept.
void setUser(const std::string& path, const std::string& name, const std::string& hash,
             std::optional<Role> role = std::nullopt);
// False when the file has no such user (the file is then left alone).
bool setRole(const std::string& path, const std::string& name, Role role);
// False when the file has no such user (the file is then left alone).
bool removeUser(const std::string& path, const std::string& name);

// The user name in a Basic Authorization header value, whatever the password; empty when the
// header is not Basic credentials.
std::string basicUserName(std::string_view authorization);

class Authenticator {
  public:
    // A fixed set of users.
    explicit Authenticator(std::map<std::string, UserRecord> users);
    // The users of a file, read now (throws UserFileError) and again whenever the file has
    // changed, looked at no more often than every `recheck`; a file that has become unreadable,
    // bad or empty is logged once and the users read before stay.
    explicit Authenticator(std::string path,
                           std::chrono::milliseconds recheck = std::chrono::seconds(1));
    Authenticator(const Authenticator&) = delete;
    Authenticator& operator=(const Authenticator&) = delete;

    struct Result {
        bool signedIn = false;
        std::string user;  // the name given, signed in or not; empty when none was given
        Role role = Role::Viewer;  // the user's role once signed in
        // From checkRemembered: only the slow hash can tell whether these credentials are good.
        bool needsHash = false;
    };
    // Checks the value of an Authorization header (nullopt when there was none); may compute
    // the slow hash.
    Result check(std::optional<std::string_view> authorization) const;
    // The same without the slow hash, in the time of a keyed digest: signed in when these exact
    // credentials were accepted before and the user's hash is unchanged since; refused when
    // there are no Basic credentials; otherwise `needsHash`.
    Result checkRemembered(std::optional<std::string_view> authorization) const;

    std::size_t userCount() const;

  private:
    using Digest = std::array<unsigned char, 32>;
    using Users = std::map<std::string, UserRecord>;
    // A password yescrypt accepted, as a keyed digest, with the hash it was checked against:
    // a changed hash makes it worthless, however the change and the check overlapped.
    struct Verified {
        Digest digest{};
        std::string hash;
    };
    bool remembered(const Users& users, const std::string& name, const Digest& known) const;
    // The users as of now, after a reread when the file changed.
    std::shared_ptr<const Users> currentUsers() const;
    struct FileStamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t modifiedNs = -1;
        bool operator==(const FileStamp&) const = default;
    };
    Digest digest(std::string_view name, std::string_view password) const;
    void rereadIfChanged() const;
    static FileStamp stampOf(const std::string& path);

    std::string mPath;  // empty for a fixed set
    std::chrono::milliseconds mRecheck{0};
    mutable std::shared_ptr<const Users> mUsers;
    mutable FileStamp mStamp;
    mutable std::chrono::steady_clock::time_point mNextCheck;
    // A hash to check unknown names against, so they take as long as known ones.
    std::string mDecoyHash;
    // yescrypt takes tens of milliseconds by design; a password it has accepted is remembered
    // as a keyed digest (the key exists only in this process) so later requests cost a hash.
    std::array<unsigned char, 32> mDigestKey{};
    mutable std::mutex mMutex;
    mutable std::unordered_map<std::string, Verified> mVerified;
    // Each yescrypt check takes 16 MB for its run; a flood of wrong passwords on many workers
    // must not add that up, so only a few run at once.
    mutable std::counting_semaphore<> mSlowChecks{4};
};

}  // namespace tavrolin::server
