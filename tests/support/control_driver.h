#pragma once

#include "control/list_view/list_view.h"

#include <tavrolin/tavrolin.h>

#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QTimer>

#include <ostream>

namespace test_support {

// Drives a real control through its named children, as a user does.
class ControlDriver {
public:
    explicit ControlDriver(Tavrolin& control) : mControl(control) {}

    Tavrolin& control() { return mControl; }
    tavrolin::ListView* list(const char* name) const;
    QPushButton* button(const char* name) const;
    QRadioButton* option(const char* name) const;
    QLineEdit* box(const char* name) const;
    QLabel* label(const char* name) const;

    // Row texts (column 0), names (1) or markers (2) in display order.
    QStringList rows(const char* list, int column = 0) const;
    QList<int> highlighted(const char* list) const;
    // The texts (column 0) of a list's highlighted rows.
    QStringList highlightedRows(const char* list) const;
    // "name=on/off" for the four move buttons and the commit button.
    QString buttonStates() const;
    // The highlighted positions of both lists and the buttons: "2,4 | 1 | cmdAdd=off ...".
    QString highlights() const;
    // The user's work: each list's rows as ID/name/marker, and its highlighted positions.
    QString work() const;
    // Everything a user can see of the lists, labels, buttons and list options.
    QString screenState() const;

    void clickRow(const char* list, int position, Qt::KeyboardModifiers modifiers = {});
    void clickEmptyArea(const char* list);
    void doubleClickRow(const char* list, int position);
    void rightClickRow(const char* list, int position);
    void clickHeader(const char* list, int index);  // 1-based
    // Clicks an enabled button; a click on a disabled one fails the test (and returns false).
    bool click(const char* buttonName);
    // Clicks the row of vendor `id` and then the button, as a user moves it; a vendor not
    // listed fails the test as a disabled button does.
    bool move(const char* list, const QString& id, const char* buttonName);
    void type(const char* boxName, const QString& text);

private:
    Tavrolin& mControl;
};

// buttonStates() with every button off, and with only the buttons named on.
inline const QString kAllOff =
    "cmdAdd=off cmdAddAll=off cmdDelete=off cmdRemoveAll=off cmdCommit=off";
inline QString onlyOn(const char* button, const char* other = nullptr) {
    QString out = kAllOff;
    for (const char* name : {button, other})
        if (name) out.replace(QString(name) + "=off", QString(name) + "=on");
    return out;
}

// Records and closes every modal message box that opens while it lives.
class MessageBoxCatcher {
public:
    struct Seen {
        QString text;
        QString title;
        QMessageBox::Icon icon;
        bool operator==(const Seen&) const = default;
        friend void PrintTo(const Seen& box, std::ostream* out) {
            *out << '"' << box.text.toStdString() << "\" titled \"" << box.title.toStdString()
                 << "\" icon " << int(box.icon);
        }
    };

    MessageBoxCatcher();
    const QList<Seen>& seen() const { return mSeen; }
    QStringList texts() const {
        QStringList out;
        for (const auto& box : mSeen) out << box.text;
        return out;
    }

private:
    QTimer mTimer;
    QList<Seen> mSeen;
};

}  // namespace test_support
