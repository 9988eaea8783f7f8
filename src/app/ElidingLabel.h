#pragma once

#include <QLabel>
#include <QString>

namespace zerbrak {

// A one-line label that shows as much of its text as its width holds, the cut marked by an
// ellipsis at `mode` (the middle keeps a report's start and the folder at its end), and the
// whole text in its tooltip. It would like the width of its whole text but needs almost none,
// so that it never widens the window.
class ElidingLabel final : public QLabel {
    Q_OBJECT
public:
    explicit ElidingLabel(Qt::TextElideMode mode, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    Qt::TextElideMode mode_;
    QString full_;
};

} // namespace zerbrak
