#pragma once

#include <QHash>
#include <QRect>
#include <QSize>
#include <QString>

class QAction;
class QFont;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QWidget;

namespace tavrolin {

class InternetTransfer;
class ListView;
class ProgressBar;

// The control's child widgets, named as hosts and tools find them (objectName).
struct Screen {
    QWidget* control = nullptr;
    QGroupBox* fraMain = nullptr;
    QLabel* lblAllVendors = nullptr;
    QLabel* lblSelVendors = nullptr;
    ListView* lstVendors = nullptr;
    QPushButton* cmdAdd = nullptr;
    QPushButton* cmdAddAll = nullptr;
    QPushButton* cmdRemoveAll = nullptr;
    QPushButton* cmdDelete = nullptr;
    ListView* lstSelectedVendors = nullptr;
    QGroupBox* fraFind = nullptr;
    QRadioButton* optFind[2] = {};  // 0 "Name", 1 "ID"
    QLineEdit* txtVendorID = nullptr;
    QLineEdit* txtVendorName = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* optList[2] = {};  // 0 lstVendors, 1 lstSelectedVendors
    QPushButton* cmdFind = nullptr;
    QLabel* lblVersionNumber = nullptr;
    QPushButton* cmdCommit = nullptr;
    ProgressBar* prbLoad = nullptr;
    QMenu* mnuRemove = nullptr;
    QAction* mnuRemoveItems = nullptr;
    InternetTransfer* Inet1 = nullptr;

    // The size that shows the design whole, and where the children that follow extra room
    // stand in it.
    QSize designedSize;
    QHash<const QWidget*, QRect> designedGeometry;
};

// Creates every child of the control with its caption, place, tab order and start state, then
// runs the creation steps (list columns, display option, version label).
Screen buildScreen(QWidget* control);

// The font the screen is designed for: a narrow dialog face at 8 points, in which every caption
// fits its control, the largest count captions included.
QFont screenFont(const QFont& base);

// The size that shows every child whole. The designed size cuts off the bottom of the find
// center, the version line with it.
QSize screenSizeHint(const Screen& screen);

// Lays the screen out for the control's size: at the size hint or below it exactly as designed;
// with more room both lists share the extra width and take the extra height, the move buttons
// stay centred between them, and the find center, Commit and the progress bar keep their sizes
// below the lists. Column widths follow each list's width.
void layoutScreen(Screen& screen, QSize size);

// What the progress bar says to a screen reader: loading only while a load runs.
void setLoadRunning(Screen& screen, bool running);

// Shows a count caption on a list's label and names the list after it, so that a screen
// reader reads the list with the count the label shows.
void setCountCaption(QLabel* label, ListView* list, const QString& caption);

// A text box is active (editable, window-background colour) or inactive (locked against
// typing, button-face colour); locked is not disabled.
void setTextBoxActive(QLineEdit* box, bool active);

}  // namespace tavrolin
