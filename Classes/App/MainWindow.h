#pragma once

#include <QMainWindow>

namespace corvix {

/// The application's one window, as the program defines it in code: a menu bar with a Quit
/// item, a title, an initial size that shows the whole screen, and an empty content widget
/// (the central widget) that `AppDelegate` fills with a screen.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
};

} // namespace corvix
