// A host built only against the unpacked packages. It shows a Designer form twice: compiled
// by uic, and loaded at run time through the packaged Designer plugin; then the compiled
// form's control loads an employee from a server.
//   form_host PLUGIN_DIR FORM.ui SERVER_URL
#include "ui_vendors_form.h"

#include <tavrolin/tavrolin.h>

#include <QApplication>
#include <QFile>
#include <QTreeView>
#include <QUiLoader>

#include <cstdio>
#include <memory>

namespace {

int rows(const Tavrolin* control, const char* list) {
    const auto* view = control->findChild<QTreeView*>(QString::fromLatin1(list));
    return view ? view->model()->rowCount() : -1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 4) return 1;

    QWidget window;
    Ui::VendorsForm ui;
    ui.setupUi(&window);
    Tavrolin* control = ui.crossReference;
    if (control->objectName() != "crossReference") return 2;

    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QString::fromLocal8Bit(argv[1]));
    if (!loader.availableWidgets().contains("Tavrolin")) {
        std::fprintf(stderr, "the Designer plugin does not offer Tavrolin\n");
        return 3;
    }
    QFile form(QString::fromLocal8Bit(argv[2]));
    if (!form.open(QIODevice::ReadOnly)) return 4;
    std::unique_ptr<QWidget> loaded(loader.load(&form));
    if (!loaded || !loaded->findChild<Tavrolin*>("crossReference")) {
        std::fprintf(stderr, "the loaded form has no control: %s\n",
                     qPrintable(loader.errorString()));
        return 5;
    }

    control->setEmployeeID("42");
    control->setServerName(QString::fromLocal8Bit(argv[3]));
    // The lists hand their rows to the views at the next turn of the event loop.
    QCoreApplication::processEvents();
    const int vendors = rows(control, "lstVendors");
    const int selected = rows(control, "lstSelectedVendors");
    std::printf("lstVendors %d lstSelectedVendors %d\n", vendors, selected);
    return vendors > 0 && selected > 0 ? 0 : 6;
}
