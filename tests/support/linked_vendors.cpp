#include "support/linked_vendors.h"

#include "loading/document_fetch.h"
#include "loading/vendor_document.h"
#include "support/control_driver.h"

#include <QDomDocument>

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace test_support {

QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

StoredLinks storedLinks(const QString& baseUrl, int employee) {
    QDomDocument document;
    document.setContent(tavrolin::fetchDocument(
        baseUrl + "/Tavrolin.asp?EmployeeID=" + QString::number(employee), 10s));
    using namespace tavrolin::vendor_document;
    auto ids = [&](int list) {
        QStringList out;
        const QDomNode records = childAt(root(document), list);
        for (QDomNode r = records.firstChild(); !r.isNull(); r = r.nextSibling())
            out << fieldText(childAt(r, kIdField));
        return sorted(out);
    };
    return {ids(kSelectedList), ids(kNonSelectedList)};
}

QStringList linkedIds(const QString& baseUrl, int employee) {
    return storedLinks(baseUrl, employee).linked;
}

void commitOneMove(const QString& readUrl, const QString& serverName) {
    const QStringList before = linkedIds(readUrl, 42);
    ASSERT_FALSE(before.isEmpty());
    ASSERT_FALSE(before.contains("77"));

    Tavrolin control;
    ControlDriver ui(control);
    control.resize(control.sizeHint());
    control.show();
    control.setEmployeeID("42");
    control.setServerName(serverName);
    ASSERT_EQ(sorted(ui.rows("lstSelectedVendors")), before);
    ASSERT_TRUE(ui.move("lstVendors", "77", "cmdAdd"));
    ASSERT_TRUE(ui.button("cmdCommit")->isEnabled());
    MessageBoxCatcher boxes;
    ui.click("cmdCommit");
    for (const auto& seen : boxes.seen()) ADD_FAILURE() << "message: " << seen.text.toStdString();

    QStringList expected = before;
    expected << "77";
    expected.sort();
    EXPECT_EQ(linkedIds(readUrl, 42), expected);
    EXPECT_EQ(sorted(ui.rows("lstSelectedVendors")), expected);
}

}  // namespace test_support
