#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace zerbrak {

// Progress of the run under way with its Cancel button, in the window's status bar: it never
// covers the picture or hides behind the window, and showing it costs the GUI thread nothing
// worth measuring. It appears only once a run has lasted a moment, so a quick frame shows none.
class RunProgress final : public QWidget {
    Q_OBJECT
public:
    explicit RunProgress(QWidget* parent = nullptr);

    // How long a run goes on before its progress appears.
    static constexpr int showDelayMs = 400;

    // `label` says what the run does until its first progress.
    void start(const QString& label);
    void setProgress(const QString& label, int value, int maximum);
    void finish();
    // Cancel was pressed: says so until the run ends.
    void cancelling();

    QString labelText() const;
    QPushButton* cancelButton() const { return cancel_; }

signals:
    // Cancel pressed (or Escape in the window).
    void canceled();

private:
    QLabel* label_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    QTimer showTimer_;
};

} // namespace zerbrak
