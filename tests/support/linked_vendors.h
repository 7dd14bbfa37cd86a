#pragma once

// The employee's links as a real server holds them, and one change to them made through the
// control as a user makes it.

#include <QString>
#include <QStringList>

namespace test_support {

QStringList sorted(QStringList list);

// An employee's vendors as the server's own page lists them, each list sorted.
struct StoredLinks {
    QStringList linked, notLinked;
};
StoredLinks storedLinks(const QString& baseUrl, int employee);

// The vendor IDs `employee` is linked to, sorted, read back through the server's own page at
// `baseUrl` (which may carry user info).
QStringList linkedIds(const QString& baseUrl, int employee);

// Moves vendor 77 to employee 42's selected list through a control at `serverName` and
// commits; the server at `readUrl` must then hold the link, as must the reloaded list. Fails
// fatally when a step cannot be taken: call it in ASSERT_NO_FATAL_FAILURE to stop there.
void commitOneMove(const QString& readUrl, const QString& serverName);

}  // namespace test_support
