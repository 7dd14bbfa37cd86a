#include "control/screen.h"

#include "common/text_services.h"
#include "common/twips.h"
#include "control/list_view/list_view.h"
#include "control/list_view/progress_bar.h"
#include "saving/internet_transfer.h"
#include "tavrolin_version.h"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <vector>

namespace tavrolin {
namespace {

constexpr int kDesignedWidth = 8745;  // twips
constexpr int kDesignedHeight = 4935;

// Places a child by its designed position in twips and records its keyboard order.
template <typename W>
W* place(W* widget, const char* name, int left, int top, int width, int height, int tabIndex) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                        twipsToPixels(height));
    widget->setProperty("TabIndex", tabIndex);
    return widget;
}

// Adds the three columns computed from the list's width: "ID" one fifth, "Name" four fifths
// (4*w in 16-bit arithmetic) and the hidden marker column.
void addColumns(ListView* list, qint16 width) {
    list->addColumnHeader(QStringLiteral("ID"), qRound(width / 5.0));
    list->addColumnHeader(QStringLiteral("Name"),
                          qRound(text::multiply16(4, width, QStringLiteral("Tavrolin")) / 5.0));
    list->addColumnHeader(QStringLiteral("ID"), 0);
}

qint16 widthOf(const ListView* list) {
    return text::narrow16(text::roundHalfEven(list->widthTwips()), QStringLiteral("Tavrolin"));
}

// What a screen reader says for a part whose caption says too little or nothing.
void describe(QWidget* widget, const QString& name, const QString& description) {
    widget->setAccessibleName(name);
    widget->setAccessibleDescription(description);
}

void nameParts(Screen& s) {
    describe(s.cmdAdd, QStringLiteral("Add to selected vendors"),
             QStringLiteral("Links the current vendor to the employee"));
    describe(s.cmdAddAll, QStringLiteral("Add all highlighted"),
             QStringLiteral("Links every highlighted vendor to the employee"));
    describe(s.cmdRemoveAll, QStringLiteral("Remove all highlighted"),
             QStringLiteral("Unlinks every highlighted selected vendor from the employee"));
    describe(s.cmdDelete, QStringLiteral("Remove from selected vendors"),
             QStringLiteral("Unlinks the current selected vendor from the employee"));
    s.lstVendors->setAccessibleDescription(
        QStringLiteral("Active vendors not linked to the employee"));
    s.lstSelectedVendors->setAccessibleDescription(
        QStringLiteral("Vendors linked to the employee"));
    s.lblAllVendors->setBuddy(s.lstVendors);
    s.lblSelVendors->setBuddy(s.lstSelectedVendors);
    describe(s.optFind[1], QStringLiteral("Find by ID"),
             QStringLiteral("Finds a vendor by its whole ID"));
    describe(s.optFind[0], QStringLiteral("Find by name"),
             QStringLiteral("Finds the first vendor whose name contains the text"));
    describe(s.txtVendorID, QStringLiteral("Vendor ID to find"),
             QStringLiteral("The whole ID, as the list shows it"));
    describe(s.txtVendorName, QStringLiteral("Vendor name to find"),
             QStringLiteral("Any part of the name, in any letter case"));
    describe(s.optList[0], QStringLiteral("Search non selected vendors"),
             QStringLiteral("Find searches the list of vendors not linked to the employee"));
    describe(s.optList[1], QStringLiteral("Search selected vendors"),
             QStringLiteral("Find searches the list of vendors linked to the employee"));
    describe(s.cmdFind, QStringLiteral("Find"),
             QStringLiteral("Highlights the first vendor in the chosen list that matches"));
    describe(s.cmdCommit, QStringLiteral("Commit to Database"),
             QStringLiteral("Saves the links changed since the lists were loaded"));
    // The group boxes' captions keep their designed blanks and letter case; spoken, they are
    // plain names.
    s.fraFind->setAccessibleName(QStringLiteral("Find center"));
    s.Frame1->setAccessibleName(QStringLiteral("List to search"));
}

// The designed rule for the visible columns, ID one fifth and Name four fifths of the width.
void fitColumns(ListView* list) {
    const int width = list->widthTwips();
    list->setColumnWidth(0, twipsToPixels(qRound(width / 5.0)));
    list->setColumnWidth(1, twipsToPixels(qRound(4 * width / 5.0)));
}

// The count labels end in a colon, which a spoken name does without.
QString listName(const QString& caption) {
    QString name = caption.trimmed();
    if (name.endsWith(u':')) name.chop(1);
    return name;
}

}  // namespace

QFont screenFont(const QFont& base) {
    QFont font = base;
    // The screen was drawn for a narrower face than the usual desktop sans; at 8 points Carlito
    // fits every caption with room to spare. The condensed DejaVu face, nearly as narrow (one
    // caption loses a pixel), stands in where Carlito is missing.
    for (const QString& family :
         {QStringLiteral("Carlito"), QStringLiteral("DejaVu Sans Condensed")}) {
        if (QFontDatabase::hasFamily(family)) {
            font.setFamily(family);
            break;
        }
    }
    font.setPointSizeF(8);
    return font;
}

QSize screenSizeHint(const Screen& screen) {
    return screen.designedSize;
}

void layoutScreen(Screen& s, QSize size) {
    const int extraWidth = std::max(0, size.width() - s.designedSize.width());
    const int extraHeight = std::max(0, size.height() - s.designedSize.height());
    const int leftShare = extraWidth / 2;
    const int rightShare = extraWidth - leftShare;
    // Each child from its designed place, so that shrinking back restores the design exactly.
    const auto put = [&s](QWidget* w, int dx, int dy, int dWidth, int dHeight) {
        w->setGeometry(s.designedGeometry.value(w).adjusted(dx, dy, dx + dWidth, dy + dHeight));
    };
    put(s.fraMain, 0, 0, extraWidth, extraHeight);
    put(s.lstVendors, 0, 0, leftShare, extraHeight);
    put(s.lblSelVendors, leftShare, 0, 0, 0);
    put(s.lstSelectedVendors, leftShare, 0, rightShare, extraHeight);
    for (QWidget* button : {s.cmdAdd, s.cmdAddAll, s.cmdRemoveAll, s.cmdDelete})
        put(button, leftShare, extraHeight / 2, 0, 0);
    put(s.fraFind, 0, extraHeight, 0, 0);
    put(s.cmdCommit, extraWidth, extraHeight, 0, 0);
    put(s.prbLoad, extraWidth, extraHeight, 0, 0);
    fitColumns(s.lstVendors);
    fitColumns(s.lstSelectedVendors);
}

void setLoadRunning(Screen& s, bool running) {
    if (running)
        describe(s.prbLoad, QStringLiteral("Loading vendors"),
                 QStringLiteral("How many of the employee's vendors have been loaded"));
    else
        describe(s.prbLoad, QStringLiteral("Load progress"), QStringLiteral("No load is running"));
}

void setCountCaption(QLabel* label, ListView* list, const QString& caption) {
    label->setText(caption);
    list->setAccessibleName(listName(caption));
}

void setTextBoxActive(QLineEdit* box, bool active) {
    box->setReadOnly(!active);
    const QColor colour = QApplication::palette().color(active ? QPalette::Base : QPalette::Button);
    QPalette palette = box->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Base, colour);
    box->setPalette(palette);
}

Screen buildScreen(QWidget* control) {
    Screen s;
    s.control = control;

    s.fraMain = place(new QGroupBox(control), "fraMain", 0, -90, 8745, 5310, 0);
    QWidget* main = s.fraMain;
    s.lblAllVendors = place(new QLabel(QStringLiteral("Non Selected Active Vendors:"), main),
                            "lblAllVendors", 150, 150, 3105, 255, 20);
    s.lblSelVendors = place(new QLabel(QStringLiteral("Selected Vendors:"), main),
                            "lblSelVendors", 4710, 150, 2175, 255, 19);
    s.lstVendors = place(new ListView(main), "lstVendors", 105, 360, 3975, 2775, 17);
    s.cmdAdd = place(new QPushButton(QStringLiteral(">"), main), "cmdAdd", 4065, 960, 615, 375, 12);
    s.cmdAddAll =
        place(new QPushButton(QStringLiteral(">>"), main), "cmdAddAll", 4065, 1335, 615, 375, 13);
    s.cmdRemoveAll = place(new QPushButton(QStringLiteral("<<"), main), "cmdRemoveAll", 4065,
                           1710, 615, 375, 14);
    s.cmdDelete =
        place(new QPushButton(QStringLiteral("<"), main), "cmdDelete", 4065, 2085, 615, 375, 11);
    s.lstSelectedVendors =
        place(new ListView(main), "lstSelectedVendors", 4665, 360, 3975, 2775, 18);

    s.fraFind = place(new QGroupBox(QStringLiteral(" Find Center"), main), "fraFind", 120, 3120,
                      4575, 2055, 1);
    QWidget* find = s.fraFind;
    s.optFind[1] =
        place(new QRadioButton(QStringLiteral("ID"), find), "optFind_1", 135, 240, 735, 255, 5);
    s.txtVendorID = place(new QLineEdit(find), "txtVendorID", 915, 255, 1095, 285, 4);
    s.optFind[0] =
        place(new QRadioButton(QStringLiteral("Name"), find), "optFind_0", 135, 600, 765, 255, 3);
    s.txtVendorName = place(new QLineEdit(find), "txtVendorName", 915, 615, 3330, 285, 2);
    s.Frame1 = place(new QGroupBox(QStringLiteral(" List to search  "), find), "Frame1", 135, 915,
                     2490, 825, 7);
    s.optList[0] = place(new QRadioButton(QStringLiteral("Non Selected Vendors"), s.Frame1),
                         "optList_0", 120, 225, 2040, 255, 8);
    s.optList[1] = place(new QRadioButton(QStringLiteral("Selected Vendors"), s.Frame1),
                         "optList_1", 120, 555, 1575, 195, 9);
    s.cmdFind =
        place(new QPushButton(QStringLiteral("Find"), find), "cmdFind", 2865, 1200, 975, 375, 6);
    s.lblVersionNumber = place(new QLabel(QStringLiteral("Version Number:"), find),
                               "lblVersionNumber", 150, 1770, 2175, 255, 10);
    s.cmdCommit = place(new QPushButton(QStringLiteral("Commit to Database"), main), "cmdCommit",
                        6945, 3675, 1680, 375, 15);
    s.prbLoad = place(new ProgressBar(main), "prbLoad", 4785, 4395, 3870, 255, 16);

    setCountCaption(s.lblAllVendors, s.lstVendors, s.lblAllVendors->text());
    setCountCaption(s.lblSelVendors, s.lstSelectedVendors, s.lblSelVendors->text());
    nameParts(s);
    setLoadRunning(s, false);

    // The designed size cuts the find center off below the version line; the control's own
    // size is the one that shows every child whole.
    const QRect whole = QRect(0, 0, twipsToPixels(kDesignedWidth), twipsToPixels(kDesignedHeight))
                            .united(control->childrenRect());
    s.designedSize = QSize(whole.right() + 1, whole.bottom() + 1);
    s.designedGeometry.insert(s.fraMain, s.fraMain->geometry());
    for (const QWidget* child : s.fraMain->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        s.designedGeometry.insert(child, child->geometry());
    control->resize(s.designedSize);

    s.mnuRemove = new QMenu(QStringLiteral("Remove"), control);
    s.mnuRemove->setObjectName(QStringLiteral("mnuRemove"));
    s.mnuRemoveItems = s.mnuRemove->addAction(QStringLiteral("Remove"));
    s.mnuRemoveItems->setObjectName(QStringLiteral("mnuRemoveItems"));

    s.Inet1 = new InternetTransfer(control);
    s.Inet1->setObjectName(QStringLiteral("Inet1"));

    // Start state.
    for (QPushButton* b : {s.cmdAdd, s.cmdAddAll, s.cmdRemoveAll, s.cmdDelete, s.cmdFind,
                           s.cmdCommit})
        b->setEnabled(false);
    for (QRadioButton* o : {s.optFind[0], s.optFind[1], s.optList[0], s.optList[1]})
        o->setEnabled(false);
    s.optFind[1]->setChecked(true);
    s.optList[0]->setChecked(true);
    s.txtVendorID->setEnabled(false);
    setTextBoxActive(s.txtVendorID, false);
    setTextBoxActive(s.txtVendorName, false);

    // Keyboard order follows the designed tab indexes.
    std::vector<QWidget*> focusable = {s.txtVendorName, s.optFind[0], s.txtVendorID,
                                       s.optFind[1],    s.cmdFind,    s.optList[0],
                                       s.optList[1],    s.cmdDelete,  s.cmdAdd,
                                       s.cmdAddAll,     s.cmdRemoveAll, s.cmdCommit,
                                       s.lstVendors,    s.lstSelectedVendors};
    for (size_t i = 1; i < focusable.size(); ++i)
        QWidget::setTabOrder(focusable[i - 1], focusable[i]);

    // Creation steps: the display option and the columns of both lists, then the version.
    s.lstSelectedVendors->setFullRowSelect(true);
    addColumns(s.lstSelectedVendors, widthOf(s.lstSelectedVendors));
    const qint16 vendorsWidth = widthOf(s.lstVendors);
    s.lstVendors->setFullRowSelect(true);
    addColumns(s.lstVendors, vendorsWidth);
    s.lblVersionNumber->setText(QStringLiteral("Version Number: ") +
                                text::decimal(version::major) + u'.' +
                                text::decimal(version::minor) + u'.' +
                                text::decimal(version::revision));
    return s;
}

}  // namespace tavrolin
