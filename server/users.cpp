#include "users.h"

#include "access_log.h"

#include <crypt.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace tavrolin::server {

namespace {

constexpr const char* kYescrypt = "$y$";

std::vector<std::string> readLines(const std::string& path, bool& exists) {
    std::vector<std::string> lines;
    struct stat status {};
    exists = ::stat(path.c_str(), &status) == 0;
    if (!exists) {
        if (errno != ENOENT)
            throw UserFileError("cannot read " + path + ": " + std::strerror(errno));
        return lines;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) throw UserFileError("cannot read " + path);
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    if (file.bad()) throw UserFileError("cannot read " + path);
    return lines;
}

bool isComment(const std::string& line) {
    return line.empty() || line.front() == '#';
}

// The user a line is for; empty for blank and comment lines.
std::string_view nameOf(std::string_view line) {
    if (line.empty() || line.front() == '#') return {};
    return line.substr(0, line.find(':'));
}

// "name:hash", or "name:hash:role" for a user who is not an editor. Hashes never hold ':', and
// a version of the server that knows no roles reads the role into the hash, so a viewer or an
// admin cannot sign in there at all rather than being taken for an editor.
std::optional<std::pair<std::string, UserRecord>> parseUserLine(std::string_view line) {
    const auto colon = line.find(':');
    if (colon == std::string_view::npos || !isValidUserName(line.substr(0, colon)) ||
        line.compare(colon + 1, 1, "$") != 0)
        return std::nullopt;
    const auto rest = line.substr(colon + 1);
    const auto second = rest.find(':');
    UserRecord record{std::string(rest.substr(0, second))};
    if (second != std::string_view::npos) {
        const auto role = parseRole(rest.substr(second + 1));
        if (!role) return std::nullopt;
        record.role = *role;
    }
    return std::pair{std::string(line.substr(0, colon)), std::move(record)};
}

std::string userLine(const std::string& name, const UserRecord& user) {
    auto line = name + ":" + user.hash;
    if (user.role != Role::Editor) line += ":" + std::string(roleName(user.role));
    return line;
}

void writeWhole(const std::string& path, const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    std::string temporary = path + ".XXXXXX";
    // mkstemp creates the file with mode 0600, before anything is written to it.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw UserFileError("cannot write beside " + path + ": " + std::strerror(errno));
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const auto written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) continue;
        ok = written > 0;
        if (ok) done += std::size_t(written);
    }
    ok = ok && ::fsync(fd) == 0;
    const int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int reason = ok ? errno : error;
        ::unlink(temporary.c_str());
        throw UserFileError("cannot write " + path + ": " + std::strerror(reason));
    }
}

// Holds an exclusive lock on "FILE.lock" while one command reads, changes and renames the users
// file, so that two commands at once cannot each write back a file without the other's change.
// The lock is on a file of its own because the rename replaces the users file's inode.
class UserFileLock {
  public:
    explicit UserFileLock(const std::string& path) {
        const auto lockPath = path + ".lock";
        mFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (mFd < 0)
            throw UserFileError("cannot lock " + path + ": " + lockPath + ": " +
                                std::strerror(errno));
        while (::flock(mFd, LOCK_EX) != 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(mFd);
            throw UserFileError("cannot lock " + path + ": " + std::strerror(error));
        }
    }
    ~UserFileLock() { ::close(mFd); }
    UserFileLock(const UserFileLock&) = delete;
    UserFileLock& operator=(const UserFileLock&) = delete;

  private:
    int mFd = -1;
};

int base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Strict base64 with padding; nullopt for anything else.
std::optional<std::string> decodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + std::size_t(k)];
            if (c == '=' && last && k >= 2) {
                ++padding;
                values[k] = 0;
                continue;
            }
            if (padding > 0) return std::nullopt;
            values[k] = base64Value(c);
            if (values[k] < 0) return std::nullopt;
        }
        const unsigned bits = unsigned(values[0]) << 18 | unsigned(values[1]) << 12 |
                              unsigned(values[2]) << 6 | unsigned(values[3]);
        out += char(bits >> 16);
        if (padding < 2) out += char(bits >> 8 & 0xff);
        if (padding < 1) out += char(bits & 0xff);
    }
    return out;
}

// "name:password" from a Basic Authorization value.
std::optional<std::string> basicCredentials(std::string_view authorization) {
    while (!authorization.empty() && authorization.front() == ' ') authorization.remove_prefix(1);
    constexpr std::string_view kScheme = "basic";
    if (authorization.size() <= kScheme.size()) return std::nullopt;
    for (std::size_t i = 0; i < kScheme.size(); ++i)
        if ((authorization[i] | 0x20) != kScheme[i]) return std::nullopt;
    authorization.remove_prefix(kScheme.size());
    if (authorization.front() != ' ') return std::nullopt;
    while (!authorization.empty() && authorization.front() == ' ') authorization.remove_prefix(1);
    while (!authorization.empty() && authorization.back() == ' ') authorization.remove_suffix(1);
    auto decoded = decodeBase64(authorization);
    if (!decoded || decoded->find(':') == std::string::npos) return std::nullopt;
    return decoded;
}

}  // namespace

bool isValidUserName(std::string_view name) {
    if (name.empty()) return false;
    for (const char c : name)
        if (c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
    return true;
}

std::string hashPassword(std::string_view password) {
    // crypt() sees a C string: a password holding a NUL would be hashed only up to it.
    if (password.find('\0') != std::string_view::npos)
        throw UserFileError("a password must not hold a NUL byte");
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!::crypt_gensalt_rn(kYescrypt, 0, nullptr, 0, salt, sizeof salt))
        throw UserFileError(std::string("cannot make a salt: ") + std::strerror(errno));
    const std::string text(password);
    const auto data = std::make_unique<crypt_data>();
    const char* hash = ::crypt_r(text.c_str(), salt, data.get());
    if (!hash || hash[0] == '*') throw UserFileError("cannot hash the password");
    return hash;
}

bool verifyPassword(std::string_view password, const std::string& hash) {
    const std::string text(password);
    const auto data = std::make_unique<crypt_data>();
    const char* computed = ::crypt_r(text.c_str(), hash.c_str(), data.get());
    if (!computed || computed[0] == '*') return false;
    const std::size_t length = std::strlen(computed);
    const bool match = length == hash.size() && CRYPTO_memcmp(computed, hash.data(), length) == 0;
    // No stored hash is of a password with a NUL, and crypt() would stop at it: "secret\0x"
    // must not pass for "secret". Checked after the hash so that it takes as long.
    return match && password.find('\0') == std::string_view::npos;
}

std::string_view roleName(Role role) {
    switch (role) {
        case Role::Viewer:
            return "viewer";
        case Role::Editor:
            return "editor";
        case Role::Admin:
            return "admin";
    }
    return "viewer";
}

std::optional<Role> parseRole(std::string_view text) {
    for (const Role role : {Role::Viewer, Role::Editor, Role::Admin})
        if (text == roleName(role)) return role;
    return std::nullopt;
}

std::map<std::string, UserRecord> readUserFile(const std::string& path) {
    bool exists = false;
    const auto lines = readLines(path, exists);
    if (!exists) throw UserFileError("cannot read " + path + ": no such file");
    std::map<std::string, UserRecord> users;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto& line = lines[i];
        if (isComment(line)) continue;
        const auto where = path + " line " + std::to_string(i + 1);
        auto user = parseUserLine(line);
        if (!user) throw UserFileError(where + ": not a name:hash or name:hash:role line");
        if (!users.emplace(std::move(user->first), std::move(user->second)).second)
            throw UserFileError(where + ": the user is listed twice");
    }
    return users;
}

void setUser(const std::string& path, const std::string& name, const std::string& hash,
             std::optional<Role> role) {
    const UserFileLock lock(path);
    bool exists = false;
    auto lines = readLines(path, exists);
    bool replaced = false;
    for (auto it = lines.begin(); it != lines.end();) {
        if (nameOf(*it) != name) {
            ++it;
        } else if (!replaced) {
            const auto before = parseUserLine(*it);
            const Role kept = before ? before->second.role : Role::Editor;
            *it++ = userLine(name, {hash, role.value_or(kept)});
            replaced = true;
        } else {
            it = lines.erase(it);
        }
    }
    if (!replaced) lines.push_back(userLine(name, {hash, role.value_or(Role::Editor)}));
    writeWhole(path, lines);
}

bool setRole(const std::string& path, const std::string& name, Role role) {
    const UserFileLock lock(path);
    bool exists = false;
    auto lines = readLines(path, exists);
    bool found = false;
    for (auto& line : lines) {
        if (nameOf(line) != name) continue;
        auto user = parseUserLine(line);
        if (!user) throw UserFileError(path + ": the line of that user is not name:hash[:role]");
        user->second.role = role;
        line = userLine(name, user->second);
        found = true;
    }
    if (!found) return false;
    writeWhole(path, lines);
    return true;
}

bool removeUser(const std::string& path, const std::string& name) {
    const UserFileLock lock(path);
    bool exists = false;
    auto lines = readLines(path, exists);
    const auto before = lines.size();
    std::erase_if(lines, [&](const std::string& line) { return nameOf(line) == name; });
    if (lines.size() == before) return false;
    writeWhole(path, lines);
    return true;
}

std::string basicUserName(std::string_view authorization) {
    const auto credentials = basicCredentials(authorization);
    return credentials ? credentials->substr(0, credentials->find(':')) : std::string();
}

Authenticator::Authenticator(std::map<std::string, UserRecord> users)
    : mUsers(std::make_shared<const Users>(std::move(users))) {
    if (RAND_bytes(mDigestKey.data(), int(mDigestKey.size())) != 1)
        throw UserFileError("no random bytes for the sign-in cache");
    std::string decoy;
    for (const unsigned char byte : mDigestKey) decoy += "0123456789abcdef"[byte % 16];
    mDecoyHash = hashPassword(decoy);
}

Authenticator::Authenticator(std::string path, std::chrono::milliseconds recheck)
    : Authenticator(readUserFile(path)) {
    mPath = std::move(path);
    mRecheck = recheck;
    mStamp = stampOf(mPath);
    mNextCheck = std::chrono::steady_clock::now() + mRecheck;
}

std::size_t Authenticator::userCount() const {
    std::lock_guard lock(mMutex);
    return mUsers->size();
}

Authenticator::FileStamp Authenticator::stampOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return {};
    // A rewrite renames a new file into place, so the inode alone tells most changes apart.
    return {std::uint64_t(status.st_dev), std::uint64_t(status.st_ino),
            std::uint64_t(status.st_size),
            std::int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

void Authenticator::rereadIfChanged() const {
    if (mPath.empty()) return;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mMutex);
        if (now < mNextCheck) return;
        mNextCheck = now + mRecheck;
    }
    const auto stamp = stampOf(mPath);
    {
        std::lock_guard lock(mMutex);
        if (stamp == mStamp) return;
    }
    try {
        auto users = std::make_shared<const Users>(readUserFile(mPath));
        // Caught in the middle of a rewrite by hand, or emptied by mistake: taking it would lock
        // everyone out.
        if (users->empty()) throw UserFileError(mPath + " has no users");
        std::lock_guard lock(mMutex);
        mUsers = std::move(users);
        mStamp = stamp;
        std::erase_if(mVerified, [&](const auto& entry) {
            const auto user = mUsers->find(entry.first);
            return user == mUsers->end() || user->second.hash != entry.second.hash;
        });
        logLine("reread " + mPath + ": " + std::to_string(mUsers->size()) + " users");
    } catch (const UserFileError& error) {
        {
            std::lock_guard lock(mMutex);
            mStamp = stamp;  // said once per change of the file
        }
        logLine(std::string("keeping the users read before: ") + error.what());
    }
}

Authenticator::Digest Authenticator::digest(std::string_view name,
                                            std::string_view password) const {
    // The name is part of the digest so that equal passwords of two users differ.
    std::string message(name);
    message += ':';
    message.append(password);
    Digest out{};
    unsigned length = 0;
    HMAC(EVP_sha256(), mDigestKey.data(), int(mDigestKey.size()),
         reinterpret_cast<const unsigned char*>(message.data()), message.size(), out.data(),
         &length);
    OPENSSL_cleanse(message.data(), message.size());
    return out;
}

bool Authenticator::remembered(const Users& users, const std::string& name,
                               const Digest& known) const {
    const auto user = users.find(name);
    if (user == users.end()) return false;
    std::lock_guard lock(mMutex);
    const auto verified = mVerified.find(name);
    return verified != mVerified.end() && verified->second.hash == user->second.hash &&
           CRYPTO_memcmp(verified->second.digest.data(), known.data(), known.size()) == 0;
}

std::shared_ptr<const Authenticator::Users> Authenticator::currentUsers() const {
    rereadIfChanged();
    std::lock_guard lock(mMutex);
    return mUsers;
}

Authenticator::Result Authenticator::checkRemembered(
    std::optional<std::string_view> authorization) const {
    Result result;
    if (!authorization) return result;
    auto credentials = basicCredentials(*authorization);
    if (!credentials) return result;
    const auto colon = credentials->find(':');
    result.user = credentials->substr(0, colon);
    const auto known = digest(result.user, std::string_view(*credentials).substr(colon + 1));
    OPENSSL_cleanse(credentials->data(), credentials->size());

    const auto users = currentUsers();
    result.signedIn = remembered(*users, result.user, known);
    result.needsHash = !result.signedIn;
    if (result.signedIn) result.role = users->find(result.user)->second.role;
    return result;
}

Authenticator::Result Authenticator::check(std::optional<std::string_view> authorization) const {
    Result result;
    if (!authorization) return result;
    auto credentials = basicCredentials(*authorization);
    if (!credentials) return result;
    const auto colon = credentials->find(':');
    result.user = credentials->substr(0, colon);
    const std::string_view password = std::string_view(*credentials).substr(colon + 1);

    const auto users = currentUsers();
    const auto user = users->find(result.user);
    const auto known = digest(result.user, password);
    result.signedIn = remembered(*users, result.user, known);
    if (!result.signedIn) {
        struct SlowCheck {
            std::counting_semaphore<>& slots;
            explicit SlowCheck(std::counting_semaphore<>& s) : slots(s) { slots.acquire(); }
            ~SlowCheck() { slots.release(); }
        };
        bool match = false;
        {
            SlowCheck slot(mSlowChecks);
            match = verifyPassword(password, user != users->end() ? user->second.hash : mDecoyHash);
        }
        result.signedIn = match && user != users->end();
        if (result.signedIn) {
            std::lock_guard lock(mMutex);
            mVerified[result.user] = {known, user->second.hash};
        }
    }
    if (result.signedIn) result.role = user->second.role;
    OPENSSL_cleanse(credentials->data(), credentials->size());
    return result;
}

}  // namespace tavrolin::server
