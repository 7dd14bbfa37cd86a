#include "scripted_session.h"

#include "host_window.h"

#include <tavrolin/tavrolin.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTimer>

namespace {

void settle(int ms = 100) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// Clicks a row as the mouse would: press and release on its name cell.
bool clickRow(QAbstractItemView* list, int row) {
    if (!list || row >= list->model()->rowCount()) return false;
    const QPoint at = list->visualRect(list->model()->index(row, 1)).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, list->viewport()->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &event);
    }
    return true;
}

QString shoot(HostWindow& window, const QString& directory, const QString& name) {
    settle();
    const QString file = QDir(directory).filePath(name);
    window.grab().save(file, "PNG");
    return file;
}

}  // namespace

QStringList runScriptedSession(HostWindow& window, const QString& directory) {
    QDir().mkpath(directory);
    Tavrolin* control = window.control();
    auto* vendors = control->findChild<QAbstractItemView*>("lstVendors");
    auto* selected = control->findChild<QAbstractItemView*>("lstSelectedVendors");

    // Message boxes that the control shows (the server's reply) are closed after a moment,
    // as a user would, and written to stdout.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("message: %s\n", qPrintable(box->text()));
            box->accept();
        }
    });
    closer.start(200);

    QStringList files;
    files << shoot(window, directory, "1-loaded.png");
    // The last linked vendor goes back first, so the vendor that goes across next is another.
    if (clickRow(selected, selected->model()->rowCount() - 1))
        control->findChild<QPushButton*>("cmdDelete")->click();
    settle();
    if (clickRow(vendors, 2)) control->findChild<QPushButton*>("cmdAdd")->click();
    files << shoot(window, directory, "2-moved.png");
    if (auto* commit = control->findChild<QPushButton*>("cmdCommit"); commit->isEnabled())
        commit->click();
    files << shoot(window, directory, "3-committed-and-reloaded.png");
    return files;
}
