#pragma once

#include <QString>
#include <QStringList>

namespace tavrolin {

class ListView;

// The moves recorded in the change markers, read at the moment of saving: vendor IDs (row texts)
// in the lists' current row order.
struct ChangeSet {
    QStringList linksToAdd;     // flagged rows of lstSelectedVendors
    QStringList linksToRemove;  // flagged rows of lstVendors
};

ChangeSet readChangeSet(const ListView& lstSelectedVendors, const ListView& lstVendors);

// The statement texts the server page executes, byte for byte as it expects them.
QString insertStatement(qint32 employee, const QString& vendorId);
QString deleteStatement(qint32 employee, const QStringList& vendorIds);

// One INSERT per link to add, then at most one DELETE for all links to remove. A vendor ID that
// is not a plain whole number would travel unquoted into SQL: error 13, nothing is built.
QStringList buildStatements(qint32 employee, const ChangeSet& changes);

// "SQL=" encoded statement "&" per statement; empty for no statements. The statements are
// counted in 16 bits: more than 32,767 is error 6.
QString buildBody(const QStringList& statements);

}  // namespace tavrolin
