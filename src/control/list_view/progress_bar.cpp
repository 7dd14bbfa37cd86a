#include "control/list_view/progress_bar.h"

#include "common/errors.h"

#include <algorithm>
#include <cstdlib>

namespace tavrolin {

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setRange(0, mMax);
    QProgressBar::setValue(0);
}

void ProgressBar::setMax(int max) {
    if (max < 0) errors::raise(errors::InvalidPropertyValue, QStringLiteral("ProgressBar.Max"));
    mMax = max;
    mValue = std::min(mValue, mMax);
    // Qt shows a busy animation for an empty range, so a scale of 0 is drawn as 0..1.
    setRange(0, std::max(1, max));
    QProgressBar::setValue(mValue);
}

void ProgressBar::setValue(int value) {
    if (value < 0 || value > mMax)
        errors::raise(errors::InvalidPropertyValue, QStringLiteral("ProgressBar.Value"));
    mValue = value;
    // The load writes the value once per row; Qt recomputes the bar's text at every write, so
    // only writes that move the bar by at least a pixel, or reach either end, go through.
    const int shown = QProgressBar::value();
    const qint64 step = std::max<qint64>(1, mMax / std::max(1, width()));
    if (value == 0 || value == mMax || std::abs(qint64(value) - shown) >= step)
        QProgressBar::setValue(value);
    emit valueWritten(value);
}

}  // namespace tavrolin
