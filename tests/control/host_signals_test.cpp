// What a host hears from the control while a user works against the real server.
#include "support/control_driver.h"
#include "support/linked_vendors.h"
#include "support/server_process.h"

#include <gtest/gtest.h>
#include <tavrolin/tavrolin.h>

#include <QTemporaryDir>

using namespace test_support;

namespace {

struct HeardByAHost {
    QTemporaryDir directory;
    tavrolin::test::ServerProcess server{{"--db", directory.filePath("demo.sqlite").toStdString(),
                                          "--demo", "--listen", "127.0.0.1:0"}};
    const QString url = QString::fromStdString(server.baseUrl());
    Tavrolin control;
    ControlDriver ui{control};
    QStringList heard;  // every signal, in order

    HeardByAHost() {
        QObject::connect(&control, &Tavrolin::loadFinished, [this](bool ok) {
            heard << QString("load %1").arg(ok ? "ok" : "failed");
        });
        QObject::connect(&control, &Tavrolin::commitFinished, [this](bool saved) {
            heard << QString("commit %1").arg(saved ? "saved" : "not saved");
        });
        QObject::connect(&control, &Tavrolin::pendingChangesChanged, [this](bool pending) {
            EXPECT_EQ(control.property("pendingChanges").toBool(), pending);
            heard << QString("pending %1").arg(pending ? "on" : "off");
        });
        control.show();
        control.setEmployeeID("42");
        control.setServerName(url);
    }

    void move(const char* list, const char* id, const char* button) {
        const tavrolin::ListItem row = ui.list(list)->findItem(id);
        ASSERT_FALSE(row.isNull()) << id;
        ui.clickRow(list, row.position());
        ASSERT_TRUE(ui.click(button));
    }
};

}  // namespace

TEST(HostSignals, LoadsMovesAndCommitsAreToldInOrder) {
    HeardByAHost f;
    EXPECT_EQ(f.heard, QStringList{"load ok"});
    EXPECT_FALSE(f.control.hasPendingChanges());

    f.move("lstVendors", "77", "cmdAdd");
    f.move("lstSelectedVendors", "77", "cmdDelete");  // back: nothing left to commit
    f.control.SaveToDatabase();                        // nothing to post counts as saved
    EXPECT_EQ(f.heard, (QStringList{"load ok", "pending on", "pending off", "commit saved"}));

    f.heard.clear();
    f.move("lstVendors", "77", "cmdAdd");
    MessageBoxCatcher boxes;
    ASSERT_TRUE(f.ui.click("cmdCommit"));
    EXPECT_EQ(f.heard, (QStringList{"pending on", "pending off", "load ok", "commit saved"}));
    EXPECT_TRUE(linkedIds(f.url, 42).contains("77"));
}

TEST(HostSignals, FailedCommitAndLoadAreToldAsFailures) {
    HeardByAHost f;
    f.move("lstVendors", "77", "cmdAdd");
    ASSERT_EQ(f.server.stop(), 0);
    f.heard.clear();

    MessageBoxCatcher boxes;
    ASSERT_TRUE(f.ui.click("cmdCommit"));
    f.control.SaveToDatabase();
    // The moves stay for a retry: still pending, and nothing says otherwise.
    EXPECT_EQ(f.heard, (QStringList{"commit not saved", "commit not saved"}));
    EXPECT_TRUE(f.control.hasPendingChanges());

    f.control.setServerName(f.url);
    EXPECT_EQ(f.heard.mid(2), (QStringList{"pending off", "load failed"}));
    EXPECT_FALSE(boxes.seen().isEmpty());
}
