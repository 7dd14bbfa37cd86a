#include "control/list_view/progress_bar.h"
#include "loading/load_sequence.h"
#include "support/loaded_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTimer>

using namespace test_support;

using ::testing::HasSubstr;

namespace {

const QString kDesignVendors = "Non Selected Active Vendors:";
const QString kDesignSelected = "Selected Vendors:";

struct Loaded : LoadedControl {
    QString labels() {
        return ui.label("lblAllVendors")->text() + " | " + ui.label("lblSelVendors")->text();
    }
    bool bothListsEmpty() {
        return ui.list("lstVendors")->count() == 0 && ui.list("lstSelectedVendors")->count() == 0;
    }
};

}  // namespace

TEST(Load, FillsBothListsWithPlainMarkersSortedById) {
    Loaded f;
    auto* bar = f.bar();
    QSignalSpy progress(bar, &tavrolin::ProgressBar::valueWritten);
    f.loadDocument(vendorDocument("2", "1", {{"17", "Seventeen"}, {"5", "Five"}}, {{"2", "Two"}}));
    EXPECT_EQ(f.ui.work(),
              "lstVendors: 5/Five/000005 17/Seventeen/000017 highlighted \n"
              "lstSelectedVendors: 2/Two/000002 highlighted ");
    EXPECT_EQ(f.labels(), "Non Selected Active Vendors (2): | Selected Vendors (1):");
    EXPECT_EQ(f.ui.list("lstVendors")->sortKey(), 2);
    EXPECT_EQ(f.ui.list("lstSelectedVendors")->sortKey(), 2);
    EXPECT_EQ(bar->max(), 3);
    QList<int> seen;
    for (const auto& call : progress) seen << call.at(0).toInt();
    EXPECT_EQ(seen, (QList<int>{0, 1, 2, 3, 0}));
    for (const char* name : {"optList_0", "optList_1", "optFind_0", "optFind_1"})
        EXPECT_TRUE(f.ui.option(name)->isEnabled()) << name;
    EXPECT_TRUE(f.ui.box("txtVendorID")->isEnabled());
    EXPECT_FALSE(f.ui.box("txtVendorID")->isReadOnly());
    EXPECT_EQ(f.ui.box("txtVendorID")->palette().color(QPalette::Base),
              QApplication::palette().color(QPalette::Base));
    EXPECT_FALSE(f.ui.button("cmdCommit")->isEnabled());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    ASSERT_EQ(f.server.requests().size(), 1u);
    EXPECT_EQ(f.server.requests()[0].method, "GET");
    EXPECT_EQ(f.server.requests()[0].target, "/Tavrolin.asp?EmployeeID=42");
}

TEST(Load, CountsSetLabelsAndScaleWhateverTheRecords) {
    Loaded f;
    f.loadDocument(vendorDocument("3", "2", {{"1", "a"}}, {}));
    EXPECT_EQ(f.labels(), "Non Selected Active Vendors (3): | Selected Vendors (2):");
    EXPECT_EQ(f.bar()->max(), 5);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1"}));

    f.loadDocument(vendorDocument(" 7 ", "\n 4\t", {}, {}));
    EXPECT_EQ(f.labels(), "Non Selected Active Vendors (7): | Selected Vendors (4):");
    // Empty lists still enable the find center.
    EXPECT_TRUE(f.bothListsEmpty());
    for (const char* name : {"optList_0", "optList_1", "optFind_0", "optFind_1"})
        EXPECT_TRUE(f.ui.option(name)->isEnabled()) << name;
    EXPECT_TRUE(f.ui.box("txtVendorID")->isEnabled());
    EXPECT_FALSE(f.ui.box("txtVendorID")->isReadOnly());
}

TEST(Load, BadCountsStopBeforeTheLabelsChange) {
    Loaded f;
    f.loadDocument(vendorDocument("2", "1", {{"1", "a"}, {"2", "b"}}, {{"3", "c"}}));
    const QString before = f.labels();
    for (const auto& [vendors, selected] :
         std::vector<std::pair<std::string, std::string>>{{"x", "1"}, {"1", "two"},
                                                           {"20000", "20000"}, {"40000", "0"},
                                                           {"", "0"}}) {
        SCOPED_TRACE(vendors + "/" + selected);
        f.loadDocument(vendorDocument(vendors, selected, {{"1", "a"}}, {{"3", "c"}}));
        EXPECT_EQ(f.labels(), before);
        EXPECT_TRUE(f.bothListsEmpty());
        EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    }
}

TEST(Load, UnusableRepliesEndQuietlyWithEmptyListsAndTheLabelsKept) {
    Loaded f;
    MessageBoxCatcher boxes;
    // Cut off half way, after the counts and a whole record.
    const std::string whole = vendorDocument(
        "3", "1", {{"11", "Eleven"}, {"12", "Twelve"}, {"13", "Thirteen"}}, {{"14", "Fourteen"}});
    const std::string half = whole.substr(0, whole.size() / 2);
    ASSERT_THAT(half, HasSubstr("Eleven</Name>"));
    std::string deep, end;
    for (int i = 0; i < 100000; ++i) {
        deep += "<x>";
        end += "</x>";
    }
    const std::vector<DocumentServer::Reply> replies = {
        {500, "<html><body><h1>Internal Server Error</h1></body></html>", "text/html"},
        {404, "Not Found", "text/plain"},
        {200, "", "text/xml"},
        {200, "this is not xml", "text/plain"},
        {200, "<Vendors><Header>", "text/xml"},
        {200, half},
        // A count or a name nested a hundred thousand levels.
        {200, vendorDocument(deep + "1" + end, "1", {{"1", "a"}}, {{"2", "b"}})},
        {200, vendorDocument("1", "1", {{"1", deep + "a" + end}}, {{"2", "b"}})},
        // A comment before the header is taken for the header: it has no children.
        {200,
         "<Vendors><!--c--><Header><Counts><A>1</A><B>0</B></Counts></Header><L>"
         "<V><I>1</I><N>a</N></V></L><S/></Vendors>"},
    };
    for (const auto& reply : replies) {
        SCOPED_TRACE(reply.body.substr(0, 200));
        f.loadDocument(vendorDocument("2", "1", {{"1", "a"}, {"3", "c"}}, {{"2", "b"}}));
        ASSERT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "3"}));
        f.server.setReply(reply);
        f.control.setServerName(f.url());
        EXPECT_TRUE(f.bothListsEmpty());
        EXPECT_EQ(f.labels(), "Non Selected Active Vendors (2): | Selected Vendors (1):");
        EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    }
    // Nesting a document can carry is read through.
    f.loadDocument(vendorDocument("1", "0", {{"1", "<x><y><z>Acme</z></y> Ltd</x>"}}, {}));
    EXPECT_EQ(f.ui.rows("lstVendors", 1), (QStringList{"Acme Ltd"}));
    f.loadDocument(whole);
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"11", "12", "13"}));
    QCoreApplication::processEvents();
    EXPECT_TRUE(boxes.seen().isEmpty());
}

TEST(Load, ExtraChildrenAreIgnored) {
    Loaded f;
    f.loadDocument(
        "<?xml version=\"1.0\"?>\n<Vendors>\n  <Header><Counts><A>1</A><B>1</B><C>9</C></Counts>"
        "<More/></Header>\n  <L><V><I>000123</I><N>Padded</N><Extra>x</Extra></V></L>\n"
        "  <S><V><I>123</I><N>Plain <b>bold</b></N></V></S>\n  <Fourth><V><I>9</I><N>z</N></V>"
        "</Fourth>\n</Vendors>\n");
    EXPECT_EQ(f.ui.work(),
              "lstVendors: 000123/Padded/000123 highlighted \n"
              "lstSelectedVendors: 123/Plain /000123 highlighted ");
}

TEST(Load, MoreRecordsThanCountedStopAtTheProgressScale) {
    Loaded f;
    // Scale 1: values 0 and 1 fit, the third record's value 2 is refused.
    f.loadDocument(vendorDocument("1", "0", {{"1", "a"}, {"2", "b"}, {"3", "c"}}, {{"4", "d"}}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"1", "2", "3"}));
    EXPECT_EQ(f.ui.list("lstSelectedVendors")->count(), 0);
    EXPECT_FALSE(f.ui.option("optList_0")->isEnabled());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
}

TEST(Load, RecordWithoutNameLeavesNoHalfBuiltRow) {
    Loaded f;
    for (const std::string& bad :
         {std::string("<V><I>8</I><N></N></V>"), std::string("<V><I>8</I></V>")}) {
        SCOPED_TRACE(bad);
        f.loadDocument("<D><H><C><A>3</A><B>1</B></C></H><L><V><I>5</I><N>Five</N></V>" + bad +
                       "<V><I>9</I><N>Nine</N></V></L><S><V><I>2</I><N>Two</N></V></S></D>");
        EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"5"}));
        EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000005"}));
        EXPECT_EQ(f.ui.list("lstSelectedVendors")->count(), 0);
    }
}

TEST(Load, IdThatIsNotAWholeNumberStopsBeforeItsRow) {
    Loaded f;
    for (const char* id : {"12a", "1);DROP TABLE Vendor;--", " 12", "1.5", "-3", ""}) {
        SCOPED_TRACE(id);
        f.loadDocument(vendorDocument("3", "0", {{"5", "Five"}, {id, "Bad"}, {"9", "Nine"}}, {}));
        EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"5"}));
        EXPECT_EQ(f.ui.rows("lstVendors", 2), (QStringList{"000005"}));
    }
}

TEST(Load, AddressIsServerPagePathAndDecimalEmployee) {
    Loaded f;
    const std::string doc = vendorDocument("0", "0", {}, {});
    // The server name before any employee loads employee 0; the employee alone loads nothing.
    f.server.setDocument(doc);
    f.control.setServerName(f.url());
    f.control.setEmployeeID("5");
    ASSERT_EQ(f.server.requests().size(), 1u);
    f.loadDocument(doc, "42");
    f.loadDocument(doc, " -7 ");
    f.loadDocument(doc, "2.5");
    f.control.setServerName(f.url() + "/");
    std::vector<std::string> targets;
    for (const auto& request : f.server.requests()) targets.push_back(request.target);
    // The last address keeps both slashes; Qt's HTTP stack merges them on the wire.
    EXPECT_EQ(targets,
              (std::vector<std::string>{"/Tavrolin.asp?EmployeeID=0", "/Tavrolin.asp?EmployeeID=42",
                                        "/Tavrolin.asp?EmployeeID=-7", "/Tavrolin.asp?EmployeeID=2",
                                        "/Tavrolin.asp?EmployeeID=2"}));
    EXPECT_EQ(tavrolin::vendorDocumentUrl(f.url() + "/", 2),
              f.url() + "//Tavrolin.asp?EmployeeID=2");
    EXPECT_EQ(tavrolin::vendorDocumentUrl("", -2147483647 - 1),
              "/Tavrolin.asp?EmployeeID=-2147483648");
}

TEST(Load, UnreachableServerEndsQuietly) {
    Loaded f;
    MessageBoxCatcher boxes;
    f.loadDocument(vendorDocument("1", "1", {{"1", "a"}}, {{"2", "b"}}));
    const QString before = f.labels();
    f.control.setServerName("http://127.0.0.1:" + QString::number(closedPort()));
    EXPECT_TRUE(f.bothListsEmpty());
    EXPECT_EQ(f.labels(), before);
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    QCoreApplication::processEvents();
    EXPECT_TRUE(boxes.seen().isEmpty());
}

TEST(Load, DeadServerTimesOutAndNothingElseRunsMeanwhile) {
    Loaded f;
    f.control.setLoadTimeout(std::chrono::milliseconds(300));
    f.server.setReply({200, vendorDocument("1", "0", {{"1", "a"}}, {}), "text/xml", true});
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    f.control.setServerName(f.url());
    EXPECT_FALSE(timerRan);  // the load blocked its caller: no event of the host ran
    EXPECT_TRUE(f.bothListsEmpty());
    EXPECT_EQ(f.control.cursor().shape(), Qt::ArrowCursor);
    QCoreApplication::processEvents();
    EXPECT_TRUE(timerRan);
}

TEST(Load, SecondLoadReplacesTheFirst) {
    Loaded f;
    f.loadDocument(vendorDocument("2", "0", {{"1", "a"}, {"2", "b"}}, {}));
    f.ui.list("lstVendors")->setSortKey(1);
    f.ui.list("lstVendors")->setSortOrder(Qt::DescendingOrder);
    f.loadDocument(vendorDocument("1", "1", {{"30", "c"}}, {{"40", "d"}}));
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"30"}));
    EXPECT_EQ(f.ui.rows("lstSelectedVendors"), (QStringList{"40"}));
    EXPECT_EQ(f.ui.list("lstVendors")->sortKey(), 2);
    EXPECT_EQ(f.ui.list("lstVendors")->sortOrder(),
              Qt::DescendingOrder);  // the direction survives a reload
    EXPECT_EQ(f.server.requests().size(), 2u);
}

TEST(Load, FollowsRedirects) {
    Loaded f;
    DocumentServer moved;
    moved.setDocument(vendorDocument("1", "0", {{"8", "Eight"}}, {}));
    f.server.redirectTo(moved.baseUrl() + "/v2/Tavrolin.asp?EmployeeID=42");
    f.control.setEmployeeID("42");
    f.control.setServerName(f.url());
    EXPECT_EQ(f.ui.rows("lstVendors"), (QStringList{"8"}));
    ASSERT_EQ(moved.requests().size(), 1u);
    EXPECT_EQ(moved.requests()[0].target, "/v2/Tavrolin.asp?EmployeeID=42");
}

TEST(Load, WorksOverHttpsOnceTheHostTrustsTheCertificate) {
    QTemporaryDir dir;
    DocumentServer secure(makeTestCertificates(dir.path().toStdString()));
    secure.setDocument(vendorDocument("1", "1", {{"5", "Five"}}, {{"6", "Six"}}));
    Tavrolin control;
    ControlDriver ui(control);
    control.setEmployeeID("42");
    control.setServerName(QString::fromStdString(secure.baseUrl()));
    // Signed by an authority the host does not know: the load ends quietly.
    EXPECT_EQ(ui.list("lstVendors")->count(), 0);
    EXPECT_EQ(control.cursor().shape(), Qt::ArrowCursor);

    QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
    trusting.addCaCertificates(dir.filePath("ca.pem"));
    QSslConfiguration::setDefaultConfiguration(trusting);
    control.setServerName(QString::fromStdString(secure.baseUrl()));
    EXPECT_EQ(ui.rows("lstVendors"), (QStringList{"5"}));
    EXPECT_EQ(ui.rows("lstSelectedVendors"), (QStringList{"6"}));
    ASSERT_EQ(secure.requests().size(), 1u);
    EXPECT_EQ(secure.requests()[0].target, "/Tavrolin.asp?EmployeeID=42");
}
