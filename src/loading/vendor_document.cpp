#include "loading/vendor_document.h"

#include "common/text_services.h"
#include "control/control.h"
#include "control/list_view/progress_bar.h"
#include "lists/markers.h"

#include "common/errors.h"

#include <QDomDocument>
#include <QLabel>

namespace tavrolin {
namespace vendor_document {
namespace {

const QString kSource = QStringLiteral("Tavrolin.ReadCounts");

QString textContent(const QDomNode& node) {
    if (node.isText() || node.isCDATASection() || node.isComment() ||
        node.isProcessingInstruction())
        return node.nodeValue();
    QString joined;
    for (QDomNode child = node.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.isComment() || child.isProcessingInstruction()) continue;
        joined += textContent(child);
    }
    return joined;
}

}  // namespace

QDomNode childAt(const QDomNode& parent, int position) {
    if (parent.isNull() || position < 0) errors::raise(errors::ObjectNotSet, kSource);
    QDomNode child = parent.firstChild();
    for (int i = 0; i < position && !child.isNull(); ++i) child = child.nextSibling();
    if (child.isNull()) errors::raise(errors::ObjectNotSet, kSource);
    return child;
}

QString countText(const QDomNode& element) {
    if (element.isNull()) errors::raise(errors::ObjectNotSet, kSource);
    return textContent(element).trimmed();
}

QString fieldText(const QDomNode& field) { return textContent(childAt(field, 0)); }

QDomNode root(const QDomDocument& document) {
    QDomElement element = document.documentElement();
    if (element.isNull()) errors::raise(errors::ObjectNotSet, kSource);
    return element;
}

}  // namespace vendor_document

void readCounts(Control& control) {
    using namespace vendor_document;
    if (!control.mXmlDoc) errors::raise(errors::ObjectNotSet, QStringLiteral("Tavrolin.ReadCounts"));
    const QDomNode counts = childAt(childAt(root(*control.mXmlDoc), kHeader), kCountGroup);
    control.mVendorCount = text::toInt16(countText(childAt(counts, kVendorCount)));
    control.mSelectedCount = text::toInt16(countText(childAt(counts, kSelectedCount)));
    control.ui.prbLoad->setMax(text::add16(control.mVendorCount, control.mSelectedCount));
    setCountCaption(control.ui.lblAllVendors, control.ui.lstVendors,
                    vendorCountCaption(control.mVendorCount));
    setCountCaption(control.ui.lblSelVendors, control.ui.lstSelectedVendors,
                    selectedCountCaption(control.mSelectedCount));
    control.mProgress = 0;
}

}  // namespace tavrolin
