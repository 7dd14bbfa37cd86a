#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"
#include "support/loaded_control.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <tavrolin/tavrolin.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMetaMethod>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOption>
#include <QTest>
#include <QVBoxLayout>

using tavrolin::ListView;

namespace {

// What the user reads, blanks included.
const std::pair<const char*, const char*> kCaptions[] = {
    {"lblAllVendors", "Non Selected Active Vendors:"},
    {"lblSelVendors", "Selected Vendors:"},
    {"cmdAdd", ">"},
    {"cmdAddAll", ">>"},
    {"cmdRemoveAll", "<<"},
    {"cmdDelete", "<"},
    {"fraFind", " Find Center"},
    {"optFind_1", "ID"},
    {"optFind_0", "Name"},
    {"Frame1", " List to search  "},
    {"optList_0", "Non Selected Vendors"},
    {"optList_1", "Selected Vendors"},
    {"cmdFind", "Find"},
    {"cmdCommit", "Commit to Database"}};

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return {};
}

// Where each named child stands in the control's coordinates; Qt's own parts of the lists
// (scroll bars, viewports) left out.
QMap<QString, QRect> places(Tavrolin& control) {
    QMap<QString, QRect> out;
    for (QWidget* w : control.findChildren<QWidget*>())
        if (!w->isWindow() && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
            out.insert(w->objectName(), QRect(w->mapTo(&control, QPoint(0, 0)), w->size()));
    return out;
}

}  // namespace

TEST(Screen, CaptionsColumnsMenuAndStartState) {
    Tavrolin control;
    for (const auto& [name, caption] : kCaptions) {
        auto* w = control.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(captionOf(w), QString::fromUtf8(caption)) << name;
    }
    EXPECT_TRUE(control.findChild<QLabel*>("lblVersionNumber")
                    ->text()
                    .contains(QRegularExpression("^Version Number: \\d+\\.\\d+\\.\\d+$")));
    // Every button and find option starts disabled, and so does the ID box.
    for (QAbstractButton* b : control.findChildren<QAbstractButton*>())
        EXPECT_FALSE(b->isEnabled()) << qPrintable(b->objectName());
    EXPECT_FALSE(control.findChild<QLineEdit*>("txtVendorID")->isEnabled());
    EXPECT_TRUE(control.findChild<QLineEdit*>("txtVendorName")->isEnabled());

    // Find by ID in the non selected vendors, both boxes locked.
    QStringList checked;
    for (const char* name : {"optFind_0", "optFind_1", "optList_0", "optList_1"})
        if (control.findChild<QRadioButton*>(name)->isChecked()) checked << name;
    EXPECT_EQ(checked, (QStringList{"optFind_1", "optList_0"}));
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    for (const char* name : {"txtVendorID", "txtVendorName"}) {
        auto* box = control.findChild<QLineEdit*>(name);
        EXPECT_TRUE(box->isReadOnly()) << name;
        EXPECT_EQ(box->palette().color(QPalette::Base), buttonFace) << name;
    }

    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        SCOPED_TRACE(name);
        auto* list = control.findChild<ListView*>(name);
        ASSERT_EQ(list->columnHeaderCount(), 3);
        QStringList columns;
        for (int column : {1, 2, 3})
            columns << list->columnHeaderText(column) +
                           QString::number(list->columnHeaderWidth(column));
        EXPECT_EQ(columns, (QStringList{"ID795", "Name3180", "ID0"}));
        EXPECT_TRUE(list->fullRowSelect());
        EXPECT_EQ(list->count(), 0);
    }

    auto* menu = control.findChild<QMenu*>("mnuRemove");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), "Remove");
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->objectName() + "/" + menu->actions().first()->text(),
              "mnuRemoveItems/Remove");
    EXPECT_NE(control.findChild<QObject*>("Inet1"), nullptr);
}

namespace {

// Where a child's style draws its caption.
QRect captionRect(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        const bool radio = qobject_cast<QRadioButton*>(w) != nullptr;
        return b->style()->subElementRect(
            radio ? QStyle::SE_RadioButtonContents : QStyle::SE_PushButtonContents, &option, b);
    }
    return w->contentsRect();
}

}  // namespace

TEST(Screen, EveryCaptionFitsItsControl) {
    Tavrolin control;
    ASSERT_EQ(QFontInfo(control.font()).family(), "Carlito")
        << "the screen font is missing; scripts/setup installs it";
    ASSERT_EQ(control.font().pointSizeF(), 8.0);
    // The largest counts the labels can show.
    control.findChild<QLabel*>("lblAllVendors")->setText(tavrolin::vendorCountCaption(32767));
    control.findChild<QLabel*>("lblSelVendors")->setText(tavrolin::selectedCountCaption(32767));

    int checked = 0;
    for (QWidget* w : control.findChildren<QWidget*>()) {
        const QString caption = captionOf(w);
        if (caption.trimmed().isEmpty() || qobject_cast<QGroupBox*>(w)) continue;
        const QFontMetrics metrics(w->font());
        const QRect room = captionRect(w);
        EXPECT_LE(metrics.horizontalAdvance(caption), room.width())
            << qPrintable(w->objectName()) << " \"" << qPrintable(caption) << "\"";
        EXPECT_LE(metrics.height(), room.height()) << qPrintable(w->objectName());
        ++checked;
    }
    EXPECT_EQ(checked, 13);

    for (const char* name : {"fraFind", "Frame1"}) {
        auto* box = control.findChild<QGroupBox*>(name);
        EXPECT_LT(QFontMetrics(box->font()).horizontalAdvance(box->title()), box->width() - 16)
            << name;
    }
    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        QHeaderView* header = control.findChild<ListView*>(name)->header();
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int section : {0, 1}) {
            const QString text = header->model()->headerData(section, Qt::Horizontal).toString();
            EXPECT_LE(QFontMetrics(header->font()).horizontalAdvance(text) + 2 * margin,
                      header->sectionSize(section))
                << name << " " << qPrintable(text);
        }
    }
}

TEST(Screen, SizeHintShowsEveryChildWhole) {
    Tavrolin control;
    EXPECT_EQ(control.size(), control.sizeHint());
    EXPECT_EQ(control.minimumSizeHint(), control.sizeHint());
    const auto parts = places(control);
    ASSERT_GE(parts.size(), 21);
    // The main frame starts above the control by design, to hide its top edge.
    for (const auto& [name, place] : parts.asKeyValueRange())
        EXPECT_TRUE(QRect(QPoint(), control.size()).contains(place.bottomRight()))
            << name.toStdString();
}

TEST(Screen, GrowsIntoRoomAndRestoresTheDesign) {
    QWidget host;
    auto* layout = new QVBoxLayout(&host);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* control = new Tavrolin(&host);
    layout->addWidget(control);
    host.show();
    const QSize hint = control->sizeHint();
    host.resize(hint);
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->size() == hint; }));
    const auto designed = places(*control);
    // ID and Name of both lists, in twips; the marker column stays hidden.
    const auto columns = [control] {
        QList<int> widths;
        for (const char* name : {"lstVendors", "lstSelectedVendors"})
            for (int column : {1, 2, 3})
                widths << control->findChild<ListView*>(name)->columnHeaderWidth(column);
        return widths;
    };
    const QList<int> designedColumns = columns();

    host.resize(hint + QSize(101, 60));  // an odd extra width, to be shared
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->size() == hint + QSize(101, 60); }));
    auto grown = places(*control);
    // How far each part moved and how much it grew.
    const struct {
        const char* name;
        QPoint moved;
        QSize grew;
    } expected[] = {
        {"fraMain", {0, 0}, {101, 60}},
        {"lstVendors", {0, 0}, {50, 60}},
        {"lstSelectedVendors", {50, 0}, {51, 60}},
        {"lblSelVendors", {50, 0}, {0, 0}},
        // The move buttons stay centred between the lists, and halfway down the extra height.
        {"cmdAdd", {50, 30}, {0, 0}},
        {"cmdAddAll", {50, 30}, {0, 0}},
        {"cmdRemoveAll", {50, 30}, {0, 0}},
        {"cmdDelete", {50, 30}, {0, 0}},
        {"fraFind", {0, 60}, {0, 0}},
        {"cmdCommit", {101, 60}, {0, 0}},
        {"prbLoad", {101, 60}, {0, 0}}};
    for (const auto& e : expected) {
        EXPECT_EQ(grown[e.name].topLeft() - designed[e.name].topLeft(), e.moved) << e.name;
        EXPECT_EQ(grown[e.name].size() - designed[e.name].size(), e.grew) << e.name;
    }
    // A fifth and four fifths of 50 or 51 more pixels (750 or 765 twips), to the whole pixel.
    EXPECT_EQ(columns(), (QList<int>{designedColumns[0] + 150, designedColumns[1] + 600, 0,
                                     designedColumns[3] + 150, designedColumns[4] + 600, 0}));

    host.resize(hint);
    ASSERT_TRUE(QTest::qWaitFor([&] { return control->size() == hint; }));
    EXPECT_EQ(places(*control), designed);
    EXPECT_EQ(columns(), designedColumns);
}

namespace {

QAccessibleInterface* accessible(Tavrolin& control, const char* name) {
    auto* w = control.findChild<QWidget*>(name);
    return w ? QAccessible::queryAccessibleInterface(w) : nullptr;
}

QString spokenName(Tavrolin& control, const char* name) {
    QAccessibleInterface* a = accessible(control, name);
    return a ? a->text(QAccessible::Name) : QStringLiteral("<no interface>");
}

}  // namespace

TEST(Accessibility, EveryPartAUserWorksWithHasASpokenName) {
    Tavrolin control;
    // The move buttons are named for what they do; their captions stay as drawn.
    const struct {
        const char* name;
        const char* spoken;
    } parts[] = {{"cmdAdd", "Add to selected vendors"},
                 {"cmdAddAll", "Add all highlighted"},
                 {"cmdRemoveAll", "Remove all highlighted"},
                 {"cmdDelete", "Remove from selected vendors"},
                 {"lstVendors", "Non Selected Active Vendors"},
                 {"lstSelectedVendors", "Selected Vendors"},
                 {"optFind_1", "Find by ID"},
                 {"txtVendorID", "Vendor ID to find"},
                 {"optFind_0", "Find by name"},
                 {"txtVendorName", "Vendor name to find"},
                 {"optList_0", "Search non selected vendors"},
                 {"optList_1", "Search selected vendors"},
                 {"cmdFind", "Find"},
                 {"cmdCommit", "Commit to Database"},
                 {"prbLoad", "Load progress"}};
    for (const auto& p : parts) {
        SCOPED_TRACE(p.name);
        QAccessibleInterface* a = accessible(control, p.name);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), p.spoken);
        EXPECT_FALSE(a->text(QAccessible::Description).isEmpty());
    }
    for (const char* name : {"cmdAdd", "cmdAddAll", "cmdRemoveAll", "cmdDelete"})
        EXPECT_EQ(accessible(control, name)->role(), QAccessible::Button) << name;
    // The group boxes are named without their captions' designed blanks.
    EXPECT_EQ(spokenName(control, "fraFind"), "Find center");
    EXPECT_EQ(spokenName(control, "Frame1"), "List to search");
    EXPECT_EQ(accessible(control, "lstVendors")->role(), QAccessible::Tree);
    EXPECT_EQ(accessible(control, "prbLoad")->role(), QAccessible::ProgressBar);
    // Each count label tells assistive technology which list it labels.
    for (const auto& [label, list] : {std::pair{"lblAllVendors", "lstVendors"},
                                      std::pair{"lblSelVendors", "lstSelectedVendors"}}) {
        const auto labelled = accessible(control, label)->relations(QAccessible::Labelled);
        ASSERT_EQ(labelled.size(), 1) << label;
        EXPECT_EQ(labelled.first().first->object()->objectName(), list);
    }
}

TEST(Accessibility, ListNamesCarryTheCountsTheLabelsShow) {
    test_support::LoadedControl f;
    // The progress bar speaks of loading only while a load fills it.
    QStringList progressNames;
    QObject::connect(f.bar(), &tavrolin::ProgressBar::valueWritten, &f.control,
                     [&] { progressNames << spokenName(f.control, "prbLoad"); });
    f.load({{"1", "Alpha"}, {"2", "Beta"}, {"3", "Gamma"}}, {{"10", "Kappa"}});
    ASSERT_GE(progressNames.size(), 4);
    EXPECT_EQ(progressNames.count("Loading vendors"), progressNames.size());
    EXPECT_EQ(spokenName(f.control, "prbLoad"), "Load progress");
    ASSERT_EQ(f.ui.label("lblAllVendors")->text(), "Non Selected Active Vendors (3):");
    EXPECT_EQ(spokenName(f.control, "lstVendors"), "Non Selected Active Vendors (3)");
    EXPECT_EQ(spokenName(f.control, "lstSelectedVendors"), "Selected Vendors (1)");

    f.ui.clickRow("lstVendors", 2);
    f.ui.click("cmdAdd");
    ASSERT_EQ(f.ui.label("lblSelVendors")->text(), "Selected Vendors (2):");
    EXPECT_EQ(spokenName(f.control, "lstVendors"), "Non Selected Active Vendors (2)");
    EXPECT_EQ(spokenName(f.control, "lstSelectedVendors"), "Selected Vendors (2)");

    f.ui.clickRow("lstVendors", 1);
    f.ui.clickRow("lstVendors", 2, Qt::ControlModifier);
    f.ui.click("cmdAddAll");
    ASSERT_EQ(f.ui.rows("lstVendors"), QStringList());
    EXPECT_EQ(spokenName(f.control, "lstVendors"), "Non Selected Active Vendors (0)");
    EXPECT_EQ(spokenName(f.control, "lstSelectedVendors"), "Selected Vendors (4)");
}

TEST(PublicInterface, EmployeeIdConversionAndErrors) {
    Tavrolin control;
    control.setEmployeeID(" 42 ");
    try {
        control.setEmployeeID("forty-two");
        FAIL() << "no error";
    } catch (const tavrolin::RunTimeError& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_FALSE(e.source().isEmpty());
        EXPECT_FALSE(e.description().isEmpty());
    }
    try {
        control.setEmployeeID("2147483648");
        FAIL() << "no error";
    } catch (const tavrolin::RunTimeError& e) {
        EXPECT_EQ(e.number(), 6);
    }
}

TEST(PublicInterface, ReachableThroughTheMetaObjectWithoutGetters) {
    Tavrolin control;
    QString encoded;
    ASSERT_TRUE(QMetaObject::invokeMethod(&control, "urlEncode", Q_RETURN_ARG(QString, encoded),
                                          Q_ARG(QString, "a b")));
    EXPECT_EQ(encoded, "a+b");
    EXPECT_TRUE(QMetaObject::invokeMethod(&control, "setEmployeeID", Q_ARG(QString, "7")));
    EXPECT_TRUE(QMetaObject::invokeMethod(&control, "SaveToDatabase"));
    const QMetaObject* meta = control.metaObject();
    EXPECT_GE(meta->indexOfMethod("setServerName(QString)"), 0);
    EXPECT_LT(meta->indexOfProperty("EmployeeID"), 0);
    EXPECT_LT(meta->indexOfProperty("ServerName"), 0);
    EXPECT_LT(meta->indexOfMethod("EmployeeID()"), 0);
}

namespace {
test_support::ControlDriver* gDriver = nullptr;
}

// A test that presses a button it cannot press has not done what it says.
TEST(ControlDriver, AClickOnADisabledButtonFailsTheTest) {
    Tavrolin control;
    test_support::ControlDriver ui(control);
    gDriver = &ui;
    ASSERT_FALSE(ui.button("cmdAdd")->isEnabled());
    EXPECT_NONFATAL_FAILURE(gDriver->click("cmdAdd"), "clicked cmdAdd");
    ui.button("cmdAdd")->setEnabled(true);  // with both lists empty it moves nothing
    EXPECT_TRUE(ui.click("cmdAdd"));
    gDriver = nullptr;
}
