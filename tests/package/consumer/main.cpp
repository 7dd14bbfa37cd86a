// A host built only against the installed package: header, library and CMake files.
#include <tavrolin/tavrolin.h>

#include <QApplication>
#include <QMetaObject>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    Tavrolin control;
    try {
        control.setEmployeeID("not a number");
        return 1;
    } catch (const tavrolin::RunTimeError& e) {
        if (e.number() != 13) return 2;
    }
    QString encoded;
    QMetaObject::invokeMethod(&control, "urlEncode", Q_RETURN_ARG(QString, encoded),
                              Q_ARG(QString, "a b"));
    std::printf("%s\n", qPrintable(encoded));
    return encoded == "a+b" ? 0 : 3;
}
