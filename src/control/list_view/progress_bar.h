#pragma once

#include <QProgressBar>

namespace tavrolin {

// The load's progress bar: Max sets the full scale, Value the filled part. Like the platform's
// bar it refuses a negative maximum and a value outside 0..Max with error 380; a maximum of 0
// is accepted (both lists empty) and shows an empty bar.
class ProgressBar : public QProgressBar {
    Q_OBJECT

public:
    explicit ProgressBar(QWidget* parent = nullptr);

    int max() const { return mMax; }
    void setMax(int max);
    int value() const { return mValue; }
    void setValue(int value);

signals:
    // Every write of Value, including one that repeats the shown value.
    void valueWritten(int value);

private:
    int mMax = 100;
    int mValue = 0;
};

}  // namespace tavrolin
