#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;
class QToolButton;

namespace zerbrak {

class ElidingLabel;

// The status bar's standing line: the current input, what the next pass does to it, and what
// the last run made, with its last frame's path to copy.
class StatusLine final : public QObject {
    Q_OBJECT
public:
    explicit StatusLine(QStatusBar& bar);

    void setInput(const QString& input, const QString& pass);
    // `lastPath` empty: nothing to copy.
    void setResult(const QString& result, const QString& lastPath);

private:
    QLabel* input_;
    ElidingLabel* result_;
    QToolButton* copy_;
    QString lastPath_;
};

} // namespace zerbrak
