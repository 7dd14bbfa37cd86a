// The lists' selection models after a commit and its reload, on the real server.
#include "support/control_driver.h"
#include "support/server_process.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QItemSelectionModel>

#include <algorithm>

using namespace test_support;

namespace {

QList<int> modelRows(tavrolin::ListView* list) {
    QCoreApplication::processEvents();
    QList<int> out;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) out << index.row() + 1;
    std::sort(out.begin(), out.end());
    return out;
}

int modelCurrent(tavrolin::ListView* list) {
    QCoreApplication::processEvents();
    const QModelIndex current = list->selectionModel()->currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

}  // namespace

TEST(SelectionModelOnTheServer, CommitAndReloadLeaveTheSelectionModelsInStep) {
    tavrolin::test::ServerProcess server;
    Tavrolin control;
    ControlDriver ui{control};
    control.resize(control.sizeHint());
    control.show();
    control.setEmployeeID("42");
    control.setServerName(QString::fromStdString(server.baseUrl()));
    ASSERT_GT(ui.list("lstVendors")->count(), 2);

    ui.clickRow("lstVendors", 1);
    ui.clickRow("lstVendors", 2, Qt::ControlModifier);
    ASSERT_TRUE(ui.button("cmdAddAll")->isEnabled());
    ui.click("cmdAddAll");
    ASSERT_GE(ui.highlighted("lstSelectedVendors").size(), 2);
    EXPECT_EQ(modelRows(ui.list("lstSelectedVendors")), ui.highlighted("lstSelectedVendors"));
    ASSERT_TRUE(ui.button("cmdCommit")->isEnabled());

    MessageBoxCatcher boxes;
    ui.click("cmdCommit");
    ASSERT_FALSE(ui.button("cmdCommit")->isEnabled());  // the reload has run
    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        SCOPED_TRACE(name);
        tavrolin::ListView* list = ui.list(name);
        EXPECT_EQ(modelRows(list), ui.highlighted(name));
        const tavrolin::ListItem current = list->selectedItem();
        EXPECT_EQ(modelCurrent(list), current ? current.position() : 0);
    }
}
