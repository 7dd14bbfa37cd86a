// tavrolin-host: a small application that embeds the Tavrolin control.
#include "host_window.h"
#include "scripted_session.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("tavrolin-host");
    QApplication::setApplicationVersion(TAVROLIN_VERSION);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Demo host for the Tavrolin control: shows an employee's vendor links from a "
        "tavrolin-server and lets you change and commit them.");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption employee("employee", "Employee to show (sets EmployeeID first).", "N");
    QCommandLineOption server("server", "Server base address, e.g. http://127.0.0.1:8080 "
                                        "(sets ServerName second, which loads).", "URL");
    QCommandLineOption screenshot("screenshot",
                                  "Render the window to a PNG file and exit.", "FILE");
    QCommandLineOption session(
        "scripted-session",
        "Run a short session (load, one move each way, commit, reload) and write screenshots "
        "of each stage into DIR, then exit.",
        "DIR");
    parser.addOptions({employee, server, screenshot, session});
    parser.process(app);

    HostWindow window;
    window.show();
    int status = 0;
    if (parser.isSet(employee) || parser.isSet(server)) {
        const QString problem = window.apply(parser.value(employee), parser.value(server));
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "tavrolin-host: %s\n", qPrintable(problem));
            status = 2;
        }
    }
    if (parser.isSet(session)) {
        for (const QString& file : runScriptedSession(window, parser.value(session)))
            std::printf("tavrolin-host: screenshot written to %s\n", qPrintable(file));
        return status;
    }
    if (parser.isSet(screenshot)) {
        const QString file = parser.value(screenshot);
        QCoreApplication::processEvents();
        if (!window.grab().save(file, "PNG")) {
            std::fprintf(stderr, "tavrolin-host: cannot write %s\n", qPrintable(file));
            return 1;
        }
        std::printf("tavrolin-host: screenshot written to %s\n", qPrintable(file));
        return status;
    }
    return app.exec();
}
