#include "control/message_box.h"

#include <QGuiApplication>

namespace tavrolin {

QString defaultMessageTitle() {
    return QGuiApplication::applicationDisplayName();
}

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    // Texts are shown as they are: a server's reply may look like markup (a proxy's error page).
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace tavrolin
