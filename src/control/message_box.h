#pragma once

#include <QMessageBox>
#include <QString>

namespace tavrolin {

// The title a box without a title of its own carries: the program's name, as the platform
// shows for such a window.
QString defaultMessageTitle();

// A modal message box with a single OK button.
void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text);

}  // namespace tavrolin
