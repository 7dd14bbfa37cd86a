#include "common/sign_in.h"

namespace tavrolin {

bool signRequest(QNetworkRequest& request) {
    QUrl url = request.url();
    if (url.userInfo().isEmpty()) return false;
    // Percent escapes in the address (a '@' or ':' in the password) are decoded first; the
    // server compares the UTF-8 bytes.
    const QByteArray credentials =
        url.userName(QUrl::FullyDecoded).toUtf8() + ':' + url.password(QUrl::FullyDecoded).toUtf8();
    request.setRawHeader("Authorization", "Basic " + credentials.toBase64());
    url.setUserInfo(QString());
    request.setUrl(url);
    return true;
}

QString withoutPassword(const QString& url) {
    const QUrl parsed(url);
    if (!parsed.isValid() || parsed.password().isEmpty()) return url;
    return parsed.toString(QUrl::RemovePassword);
}

}  // namespace tavrolin
