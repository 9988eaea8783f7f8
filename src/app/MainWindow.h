#pragma once

#include <QMainWindow>
#include <QStringList>
#include <memory>

namespace Ui {
class MainWindow;
}

namespace zerbrak {

// The main window as the Designer file describes it; the controller reaches its controls
// through ui().
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    Ui::MainWindow& ui() { return *ui_; }

signals:
    // Local files dropped on the window or its picture area, in the order dropped.
    void filesDropped(const QStringList& paths);

private:
    // The chance and, beside it, how densely the scatter strikes at it.
    void showChance(int chance);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    std::unique_ptr<Ui::MainWindow> ui_;
};

} // namespace zerbrak
