#include "support/loaded_control.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>

using namespace test_support;

namespace {

const std::vector<Vendor> kVendors = {
    {"1", "Zeta Corp"}, {"2", "ACME Supplies"}, {"3", "Acme Tools"}, {"123", "Numbers Inc"}};
const std::vector<Vendor> kSelected = {{"7", "Seven Seas"}, {"8", "Eight Ball"}};

QColor baseOf(QLineEdit* box) {
    return box->palette().color(QPalette::Base);
}
QColor windowColour() {
    return QApplication::palette().color(QPalette::Base);
}
QColor buttonFace() {
    return QApplication::palette().color(QPalette::Button);
}

// What a user reads in the title bar of a box without a title of its own: the program's name.
QString programName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).baseName();
}

struct Finder : LoadedControl {
    MessageBoxCatcher boxes;

    Finder() { load(kVendors, kSelected); }
    void findByName(const QString& text) {
        choose("optFind_0");
        ui.type("txtVendorName", text);
        ui.click("cmdFind");
    }
    void findById(const QString& text) {
        choose("optFind_1");
        ui.type("txtVendorID", text);
        ui.click("cmdFind");
    }
    int notFoundCount() {
        int n = 0;
        for (const auto& seen : boxes.seen()) n += seen.text == "Not found";
        return n;
    }
};

}  // namespace

TEST(FindCenter, ChoosingTheKeySwitchesTheActiveBox) {
    Finder f;
    ASSERT_FALSE(f.ui.box("txtVendorID")->isReadOnly());
    ASSERT_TRUE(f.ui.box("txtVendorName")->isReadOnly());
    const struct {
        const char *option, *other, *opened, *locked;
    } keys[] = {{"optFind_0", "optFind_1", "txtVendorName", "txtVendorID"},
                {"optFind_1", "optFind_0", "txtVendorID", "txtVendorName"}};
    for (const auto& k : keys) {
        SCOPED_TRACE(k.option);
        f.ui.type(k.locked, "12");  // the box open until now
        EXPECT_TRUE(f.ui.button("cmdFind")->isEnabled());
        f.choose(k.option);
        EXPECT_TRUE(f.ui.option(k.option)->isChecked());
        EXPECT_FALSE(f.ui.option(k.other)->isChecked());
        QLineEdit* locked = f.ui.box(k.locked);
        EXPECT_EQ(locked->text(), "");
        EXPECT_TRUE(locked->isReadOnly());
        EXPECT_TRUE(locked->isEnabled());
        EXPECT_EQ(baseOf(locked), buttonFace());
        EXPECT_FALSE(f.ui.box(k.opened)->isReadOnly());
        EXPECT_EQ(baseOf(f.ui.box(k.opened)), windowColour());
        EXPECT_FALSE(f.ui.button("cmdFind")->isEnabled());  // emptying the box was a change
    }
    // A locked box takes no typing.
    QTest::keyClicks(f.ui.box("txtVendorName"), "xyz");
    EXPECT_EQ(f.ui.box("txtVendorName")->text(), "");
}

TEST(FindCenter, EachOptionGroupKeepsExactlyOneChoice) {
    Finder f;
    auto chosen = [&f] {
        QStringList out;
        for (const char* name : {"optFind_0", "optFind_1", "optList_0", "optList_1"})
            if (f.ui.option(name)->isChecked()) out << name;
        return out;
    };
    ASSERT_EQ(chosen(), (QStringList{"optFind_1", "optList_0"}));
    f.choose("optFind_1");
    EXPECT_EQ(chosen(), (QStringList{"optFind_1", "optList_0"}));
    f.choose("optFind_0");
    EXPECT_EQ(chosen(), (QStringList{"optFind_0", "optList_0"}));
    f.choose("optFind_0");
    EXPECT_EQ(chosen(), (QStringList{"optFind_0", "optList_0"}));
    f.choose("optList_1");
    EXPECT_EQ(chosen(), (QStringList{"optFind_0", "optList_1"}));
    f.choose("optList_1");
    f.choose("optFind_1");
    EXPECT_EQ(chosen(), (QStringList{"optFind_1", "optList_1"}));
    f.choose("optList_0");
    EXPECT_EQ(chosen(), (QStringList{"optFind_1", "optList_0"}));
}

TEST(FindCenter, FindFollowsOnlyTheBoxThatChanged) {
    Finder f;
    f.ui.type("txtVendorID", "5");
    EXPECT_TRUE(f.ui.button("cmdFind")->isEnabled());
    f.ui.type("txtVendorID", "");
    EXPECT_FALSE(f.ui.button("cmdFind")->isEnabled());
    // A reload unlocks the ID box even with "Name" chosen: typing there enables Find, which
    // then searches by the empty name text and so finds the first row.
    f.choose("optFind_0");
    f.load(kVendors, kSelected);
    ASSERT_TRUE(f.ui.option("optFind_0")->isChecked());
    f.ui.type("txtVendorID", "123");
    ASSERT_TRUE(f.ui.button("cmdFind")->isEnabled());
    f.ui.click("cmdFind");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"1"}));
    EXPECT_EQ(f.notFoundCount(), 0);
}

TEST(FindCenter, NameSearchIgnoresCaseAndFindsTheTextAnywhere) {
    Finder f;
    f.findByName("acme");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"2"}));
    f.findByName("supp");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"2"}));
    f.findByName("TOOLS");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"3"}));
    // The text is taken as typed: a trailing blank is part of it.
    f.findByName("Tools ");
    EXPECT_EQ(f.notFoundCount(), 1);
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"3"}));
}

TEST(FindCenter, FirstMatchInTheCurrentOrderWins) {
    Finder f;
    f.findByName("acme");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"2"}));
    f.ui.clickHeader("lstVendors", 1);  // descending IDs: "3" comes before "2"
    f.ui.click("cmdFind");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"3"}));
    f.ui.click("cmdFind");  // no "find next"
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"3"}));
}

TEST(FindCenter, IdSearchComparesTheRowTextExactly) {
    Finder f;
    f.findById("123");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"123"}));
    for (const char* text : {"12", "1234", "000123", " 123"}) f.findById(text);
    EXPECT_EQ(f.notFoundCount(), 4);

    f.load({{"000123", "Padded"}, {"5", "Five"}}, {});
    f.findById("000123");
    EXPECT_EQ(f.ui.highlightedRows("lstVendors"), (QStringList{"000123"}));
    f.findById("123");
    EXPECT_EQ(f.notFoundCount(), 5);
}

TEST(FindCenter, NotFoundIsAnInformationBoxWithTheProgramsTitle) {
    Finder f;
    f.findByName("nobody");
    ASSERT_FALSE(programName().isEmpty());
    EXPECT_EQ(
        f.boxes.seen(),
        (QList<MessageBoxCatcher::Seen>{{"Not found", programName(), QMessageBox::Information}}));
}

TEST(FindCenter, EmptyListSaysNotFound) {
    Finder f;
    f.load({}, kSelected);
    ASSERT_TRUE(f.ui.option("optList_0")->isChecked());
    f.findByName("seven");
    EXPECT_EQ(f.notFoundCount(), 1);
    f.choose("optList_1");
    EXPECT_FALSE(f.ui.option("optList_0")->isChecked());
    f.ui.click("cmdFind");
    EXPECT_EQ(f.ui.highlightedRows("lstSelectedVendors"), (QStringList{"7"}));
    EXPECT_EQ(f.notFoundCount(), 1);
}

TEST(FindCenter, FoundRowIsTheOnlyHighlightOfItsListAndTakesTheFocus) {
    Finder f;
    f.ui.clickRow("lstSelectedVendors", 1);
    f.ui.clickRow("lstSelectedVendors", 2, Qt::ControlModifier);
    ASSERT_TRUE(f.ui.button("cmdRemoveAll")->isEnabled());
    // Searching the other list leaves these highlights alone.
    f.findByName("zeta");
    EXPECT_EQ(f.ui.highlights(), "1 | 1,2 | " + kAllOff);  // Zeta Corp; Seven Seas, Eight Ball
    EXPECT_EQ(f.focused(), f.ui.list("lstVendors"));
    EXPECT_FALSE(f.ui.list("lstVendors")->multiSelect());
    EXPECT_FALSE(f.ui.list("lstSelectedVendors")->multiSelect());

    f.choose("optList_1");
    f.ui.click("cmdFind");  // "zeta" is not among the selected vendors
    EXPECT_EQ(f.notFoundCount(), 1);
    EXPECT_EQ(f.ui.highlights(), "1 | 1,2 | " + kAllOff);

    f.findByName("ball");
    EXPECT_EQ(f.ui.highlightedRows("lstSelectedVendors"), (QStringList{"8"}));
    EXPECT_EQ(f.focused(), f.ui.list("lstSelectedVendors"));
}

TEST(FindCenter, AFindDisablesTheMoveButtonsUntilTheNextClick) {
    Finder f;
    f.ui.clickRow("lstVendors", 2);
    ASSERT_TRUE(f.ui.button("cmdAdd")->isEnabled());
    f.findById("1");
    EXPECT_EQ(f.ui.buttonStates(), kAllOff);
    f.ui.clickRow("lstVendors", 1);
    EXPECT_TRUE(f.ui.button("cmdAdd")->isEnabled());
}
