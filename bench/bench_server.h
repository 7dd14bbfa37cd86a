#pragma once

// The real tavrolin-server on a scratch SQLite file holding a given number of active vendors,
// for benchmarks that cross HTTP.

#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <stdexcept>

namespace bench {

class BenchServer {
  public:
    // `arguments` go to the server after the database and the address.
    explicit BenchServer(int vendors, const QStringList& arguments = {}) {
        const QString db = mDir.filePath("bench.sqlite");
        QFile csv(mDir.filePath("vendors.csv"));
        if (!csv.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the CSV");
        csv.write("id,name,active\n");
        for (int id = 1; id <= vendors; ++id)
            csv.write(QStringLiteral("%1,Vendor %2 Supplies & Co,1\n")
                          .arg(id)
                          .arg(id * 7919 % 100003)
                          .toUtf8());
        csv.close();
        if (QProcess::execute(TAVROLIN_SERVER_PATH,
                              {"import-vendors", "--db", db, csv.fileName()}) != 0)
            throw std::runtime_error("import-vendors failed");
        mProcess.start(TAVROLIN_SERVER_PATH,
                       QStringList{"--db", db, "--listen", "127.0.0.1:0"} + arguments);
        mProcess.waitForReadyRead(10000);
        const QString line = QString::fromUtf8(mProcess.readLine()).trimmed();
        mUrl = line.section(' ', 2, 2);
        if (!mUrl.startsWith("http://"))
            throw std::runtime_error("server did not start: " + line.toStdString());
    }
    ~BenchServer() {
        mProcess.terminate();
        mProcess.waitForFinished(5000);
    }

    const QString& url() const { return mUrl; }

  private:
    QTemporaryDir mDir;
    QProcess mProcess;
    QString mUrl;
};

}  // namespace bench
