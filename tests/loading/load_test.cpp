#include "control/list_view/progress_bar.h"
#include "support/control_driver.h"
#include "support/document_server.h"

#include <gtest/gtest.h>

#include <QRadioButton>

using namespace test_support;

namespace {

struct Loaded {
    DocumentServer server;
    Tavrolin control;
    ControlDriver ui{control};
    Loaded() { control.show(); }
    void load(const std::string& document, const QString& employee = "42") {
        server.setDocument(document);
        control.setEmployeeID(employee);
        control.setServerName(QString::fromStdString(server.baseUrl()));
    }
};

}  // namespace

TEST(Load, FillsBothListsWithPlainMarkersSortedById) {
    Loaded f;
    f.load(vendorDocument("2", "1", {{"17", "Seventeen"}, {"5", "Five"}}, {{"2", "Two"}}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"5", "17"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 1), (QStringList{"Five", "Seventeen"}));
    EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000005", "000017"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors", 2), (QStringList{"000002"}));
    EXPECT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (2):");
    EXPECT_EQ(f.ui.label("lblSelVendors")->text(), "Selected Vendors (1):");
    EXPECT_TRUE(f.ui.highlighted("lstVendors").isEmpty());
    EXPECT_TRUE(f.ui.highlighted("lstSelectedVendors").isEmpty());
    EXPECT_EQ(f.ui.list("lstVendors")->sortKey(), 2);
    EXPECT_EQ(f.ui.list("lstSelectedVendors")->sortKey(), 2);
    auto* bar = f.control.findChild<tavrolin::ProgressBar*>("prbLoad");
    EXPECT_EQ(bar->max(), 3);
    EXPECT_EQ(bar->value(), 0);
    for (const char* name : {"optList_0", "optList_1", "optFind_0", "optFind_1"})
        EXPECT_TRUE(f.ui.option(name)->isEnabled()) << name;
    EXPECT_TRUE(f.ui.box("txtVendorID")->isEnabled());
    EXPECT_FALSE(f.ui.box("txtVendorID")->isReadOnly());
    EXPECT_FALSE(f.ui.button("cmdCommit")->isEnabled());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    ASSERT_EQ(f.server.requests().size(), 1u);
    EXPECT_EQ(f.server.requests()[0].target, "/Tavrolin.asp?EmployeeID=42");
}
