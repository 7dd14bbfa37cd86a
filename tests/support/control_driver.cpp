#include "support/control_driver.h"

#include <QApplication>
#include <QHeaderView>
#include <QTest>

#include <gtest/gtest.h>

#include <stdexcept>

namespace test_support {

namespace {
template <typename T>
T* child(Tavrolin& control, const char* name) {
    T* found = control.findChild<T*>(QString::fromLatin1(name));
    if (!found) throw std::runtime_error(std::string("no child named ") + name);
    return found;
}
}  // namespace

tavrolin::ListView* ControlDriver::list(const char* name) const {
    return child<tavrolin::ListView>(mControl, name);
}
QPushButton* ControlDriver::button(const char* name) const {
    return child<QPushButton>(mControl, name);
}
QRadioButton* ControlDriver::option(const char* name) const {
    return child<QRadioButton>(mControl, name);
}
QLineEdit* ControlDriver::box(const char* name) const { return child<QLineEdit>(mControl, name); }
QLabel* ControlDriver::label(const char* name) const { return child<QLabel>(mControl, name); }

QStringList ControlDriver::rows(const char* name, int column) const {
    tavrolin::ListView* l = list(name);
    QStringList out;
    for (int p = 1; p <= l->count(); ++p)
        out << (column == 0 ? l->item(p).text() : l->item(p).subItem(column));
    return out;
}

QList<int> ControlDriver::highlighted(const char* name) const {
    tavrolin::ListView* l = list(name);
    QList<int> out;
    for (int p = 1; p <= l->count(); ++p)
        if (l->item(p).selected()) out << p;
    return out;
}

QStringList ControlDriver::highlightedRows(const char* name) const {
    QStringList out;
    for (int p : highlighted(name)) out << rows(name)[p - 1];
    return out;
}

QString ControlDriver::highlights() const {
    QStringList out;
    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        QStringList positions;
        for (int p : highlighted(name)) positions << QString::number(p);
        out << positions.join(',');
    }
    return out.join(" | ") + " | " + buttonStates();
}

QString ControlDriver::buttonStates() const {
    QStringList out;
    for (const char* name : {"cmdAdd", "cmdAddAll", "cmdDelete", "cmdRemoveAll", "cmdCommit"})
        out << QString::fromLatin1(name) + (button(name)->isEnabled() ? "=on" : "=off");
    return out.join(' ');
}

QString ControlDriver::work() const {
    QStringList out;
    for (const char* name : {"lstVendors", "lstSelectedVendors"}) {
        QStringList rows;
        const QStringList ids = this->rows(name), names = this->rows(name, 1),
                          markers = this->rows(name, 2);
        for (int i = 0; i < ids.size(); ++i) rows << ids[i] + "/" + names[i] + "/" + markers[i];
        QStringList positions;
        for (int position : highlighted(name)) positions << QString::number(position);
        out << QString(name) + ": " + rows.join(' ') + " highlighted " + positions.join(',');
    }
    return out.join('\n');
}

QString ControlDriver::screenState() const {
    QStringList out{work()};
    out << label("lblAllVendors")->text() << label("lblSelVendors")->text() << buttonStates();
    for (const char* name : {"optList_0", "optList_1"})
        out << QString("%1 %2 %3")
                   .arg(name)
                   .arg(option(name)->isEnabled())
                   .arg(option(name)->isChecked());
    return out.join(" | ");
}

void ControlDriver::clickRow(const char* name, int position, Qt::KeyboardModifiers modifiers) {
    tavrolin::ListView* l = list(name);
    QTest::mouseClick(l->viewport(), Qt::LeftButton, modifiers, l->rowRect(position).center());
}

void ControlDriver::clickEmptyArea(const char* name) {
    tavrolin::ListView* l = list(name);
    const QPoint below(l->viewport()->width() / 2, l->viewport()->height() - 3);
    if (l->indexAt(below).isValid()) throw std::runtime_error("the list has no empty area");
    QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, below);
}

void ControlDriver::doubleClickRow(const char* name, int position) {
    tavrolin::ListView* l = list(name);
    QTest::mouseDClick(l->viewport(), Qt::LeftButton, {}, l->rowRect(position).center());
}

void ControlDriver::rightClickRow(const char* name, int position) {
    tavrolin::ListView* l = list(name);
    QTest::mouseClick(l->viewport(), Qt::RightButton, {}, l->rowRect(position).center());
}

void ControlDriver::clickHeader(const char* name, int index) {
    QHeaderView* h = list(name)->header();
    const int x = h->sectionViewportPosition(index - 1) + std::max(1, h->sectionSize(index - 1) / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(x, h->height() / 2));
}

bool ControlDriver::click(const char* buttonName) {
    QPushButton* b = button(buttonName);
    // Qt drops a click on a disabled button without a trace; a test that relies on the click
    // would pass without having done what it says.
    if (!b->isEnabled() || !b->isVisibleTo(&mControl)) {
        ADD_FAILURE() << "clicked " << buttonName << ", which cannot be clicked now ("
                      << qPrintable(buttonStates()) << ")";
        return false;
    }
    QTest::mouseClick(b, Qt::LeftButton);
    return true;
}

bool ControlDriver::move(const char* name, const QString& id, const char* buttonName) {
    const tavrolin::ListItem row = list(name)->findItem(id);
    if (row.isNull()) {
        ADD_FAILURE() << "vendor " << qPrintable(id) << " is not in " << name;
        return false;
    }
    clickRow(name, row.position());
    return click(buttonName);
}

void ControlDriver::type(const char* boxName, const QString& text) {
    QLineEdit* b = box(boxName);
    b->setFocus();
    b->selectAll();
    QTest::keyClick(b, Qt::Key_Backspace);
    QTest::keyClicks(b, text);
}

MessageBoxCatcher::MessageBoxCatcher() {
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        mSeen.push_back({box->text(), box->windowTitle(), box->icon()});
        box->done(QMessageBox::Ok);
    });
    mTimer.start(5);
}

}  // namespace test_support
