#include "control/message_box.h"

#include <QGuiApplication>

namespace tavrolin {

QString defaultMessageTitle() {
    return QGuiApplication::applicationDisplayName();
}

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                 const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace tavrolin
