#include "storage.h"

#include "postgres_connection.h"
#include "postgres_storage.h"
#include "sqlite_storage.h"

namespace tavrolin::server {

std::unique_ptr<LinkStorage> openStorage(const std::string& location, int connections) {
    if (isPostgresUri(location)) return std::make_unique<PostgresStorage>(location, connections);
    return std::make_unique<SqliteStorage>(location, connections);
}

}  // namespace tavrolin::server
