#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

namespace tavrolin {

// Fetches a URL by HTTP GET and returns the reply body, whatever its status; empty when the
// server could not be reached or did not answer within the timeout. Blocks the calling thread
// until then without running its event loop, so no user input or timer of the host runs during
// a load. Redirects are followed; https works.
QByteArray fetchDocument(const QString& url, std::chrono::milliseconds timeout);

}  // namespace tavrolin
