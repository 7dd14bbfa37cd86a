#include "saving/statements.h"

#include "common/text_services.h"
#include "control/list_view/list_view.h"
#include "lists/markers.h"
#include "saving/url_encode.h"

#include "common/errors.h"

namespace tavrolin {

namespace {
const QString kSource = QStringLiteral("Tavrolin.SaveToDatabase");

const QString kInsertPrefix = QStringLiteral(
    "INSERT INTO VendorEmployeeCrossReference (EmployeeID,VendorID,RecordLastUpdated) VALUES (");
const QString kInsertSuffix = QStringLiteral(",GETDATE() ) ");
const QString kDeletePrefix =
    QStringLiteral("DELETE FROM VendorEmployeeCrossReference WHERE EmployeeID=");
const QString kDeleteVendors = QStringLiteral(" AND VendorID ");
const QString kInListOpen = QStringLiteral("IN(");
const QString kFieldName = QStringLiteral("SQL=");

QStringList flaggedRowTexts(const ListView& list) {
    QStringList ids;
    for (int position = 1; position <= list.count(); ++position) {
        const ListItem row = list.item(position);
        if (!markers::isPlain(row.subItem(markers::kColumn))) ids << row.text();
    }
    return ids;
}

void requireWholeNumbers(const QStringList& vendorIds) {
    for (const QString& id : vendorIds)
        if (!text::isWholeNumberText(id)) errors::raise(errors::TypeMismatch, kSource);
}
}  // namespace

ChangeSet readChangeSet(const ListView& lstSelectedVendors, const ListView& lstVendors) {
    return {flaggedRowTexts(lstSelectedVendors), flaggedRowTexts(lstVendors)};
}

QString insertStatement(qint32 employee, const QString& vendorId) {
    return kInsertPrefix + text::decimal(employee) + u',' + vendorId + kInsertSuffix;
}

QString deleteStatement(qint32 employee, const QStringList& vendorIds) {
    return kDeletePrefix + text::decimal(employee) + kDeleteVendors + kInListOpen +
           vendorIds.join(u',') + u')';
}

QStringList buildStatements(qint32 employee, const ChangeSet& changes) {
    requireWholeNumbers(changes.linksToAdd);
    requireWholeNumbers(changes.linksToRemove);
    QStringList statements;
    statements.reserve(changes.linksToAdd.size() + 1);
    for (const QString& id : changes.linksToAdd) statements << insertStatement(employee, id);
    if (!changes.linksToRemove.isEmpty())
        statements << deleteStatement(employee, changes.linksToRemove);
    return statements;
}

QString buildBody(const QStringList& statements) {
    QString body;
    qint16 counted = 0;
    for (const QString& statement : statements) {
        counted = text::add16(counted, 1, kSource);
        body += kFieldName;
        body += urlEncode(statement);
        body += u'&';
    }
    return body;
}

}  // namespace tavrolin
