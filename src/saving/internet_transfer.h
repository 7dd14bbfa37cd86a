#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace tavrolin {

// The control's transfer component: one asynchronous HTTP request at a time. Execute starts it
// and returns at once; the outcome arrives as StateChanged when the caller lets events run:
// Error when the transfer failed (unreachable, broken, timed out), ResponseCompleted when the
// response is complete. A response with an HTTP error status is complete too: its body is the
// server's message. The body is then read with GetChunk.
class InternetTransfer : public QObject {
    Q_OBJECT

public:
    // How a transfer ends (state numbers 11 and 12).
    enum class State : short { Error = 11, ResponseCompleted = 12 };
    Q_ENUM(State)

    explicit InternetTransfer(QObject* parent = nullptr);
    ~InternetTransfer() override;

    // operation: "Post" sends data with the given header lines ("Name: value", several
    // separated by CR LF); "Get" fetches. Raises a RunTimeError when it cannot start.
    void Execute(const QString& url, const QString& operation, const QString& data,
                 const QString& headers);
    bool StillExecuting() const;
    // The next at most size characters of the response body as text (data type 0); empty text
    // once the body is exhausted.
    QString GetChunk(int size, int dataType = 0);
    // The HTTP status of the last complete response, 0 when there was none.
    int responseCode() const { return mResponseCode; }

    // The longest a transfer may take, from Execute to the last byte; past it the transfer
    // fails with State::Error. Applies to transfers started afterwards.
    std::chrono::milliseconds timeout() const { return mTimeout; }
    void setTimeout(std::chrono::milliseconds timeout) { mTimeout = timeout; }

signals:
    void StateChanged(tavrolin::InternetTransfer::State state);

private:
    void finished(QNetworkReply* reply);

    std::unique_ptr<QNetworkAccessManager> mNetwork;
    QPointer<QNetworkReply> mReply;
    std::chrono::milliseconds mTimeout{60000};
    QString mResponse;
    qsizetype mRead = 0;
    int mResponseCode = 0;
};

}  // namespace tavrolin
