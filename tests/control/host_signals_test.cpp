// What a host hears from the control while a user works against the real server.
#include "support/control_driver.h"
#include "support/linked_vendors.h"
#include "support/server_process.h"

#include <gtest/gtest.h>
#include <tavrolin/tavrolin.h>

#include <QTemporaryDir>

using namespace test_support;

TEST(HostSignals, LoadsMovesAndCommitsAreToldInOrderFailuresAsFailures) {
    QTemporaryDir directory;
    tavrolin::test::ServerProcess server{{"--db", directory.filePath("demo.sqlite").toStdString(),
                                          "--demo", "--listen", "127.0.0.1:0"}};
    const QString url = QString::fromStdString(server.baseUrl());
    Tavrolin control;
    ControlDriver ui{control};
    QStringList heard;  // every signal, in order
    const auto tell = [&heard](const char* what) {
        return [&heard, what](bool yes) { heard << QString(what) + (yes ? " yes" : " no"); };
    };
    QObject::connect(&control, &Tavrolin::loadFinished, tell("load ok"));
    QObject::connect(&control, &Tavrolin::commitFinished, tell("saved"));
    QObject::connect(&control, &Tavrolin::pendingChangesChanged, tell("pending"));
    control.show();
    control.setEmployeeID("42");
    control.setServerName(url);
    EXPECT_EQ(heard, QStringList{"load ok yes"});

    ui.move("lstVendors", "77", "cmdAdd");
    EXPECT_TRUE(control.property("pendingChanges").toBool());
    ui.move("lstSelectedVendors", "77", "cmdDelete");  // back: nothing left to commit
    control.SaveToDatabase();                       // nothing to post counts as saved
    ui.move("lstVendors", "77", "cmdAdd");
    MessageBoxCatcher boxes;
    ASSERT_TRUE(ui.click("cmdCommit"));
    EXPECT_EQ(heard, (QStringList{"load ok yes", "pending yes", "pending no", "saved yes",
                                  "pending yes", "pending no", "load ok yes", "saved yes"}));
    EXPECT_TRUE(linkedIds(url, 42).contains("77"));

    // With the server gone, the moves stay for a retry: still pending, nothing says otherwise.
    ui.move("lstVendors", "123", "cmdAdd");
    ASSERT_EQ(server.stop(), 0);
    heard.clear();
    ASSERT_TRUE(ui.click("cmdCommit"));
    control.SaveToDatabase();
    EXPECT_EQ(heard, (QStringList{"saved no", "saved no"}));
    EXPECT_TRUE(control.hasPendingChanges());
    control.setServerName(url);
    EXPECT_EQ(heard.mid(2), (QStringList{"pending no", "load ok no"}));
}
