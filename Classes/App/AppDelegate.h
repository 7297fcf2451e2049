#pragma once

#include "Ui/Base/BaseViewController.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QMainWindow;

namespace corvix {

/// Dresses the main window once the application has started and installs a screen as its
/// content (and its title, when it has one): a layout keeps that screen's root view exactly as
/// large as the window's content area (the central widget) for the rest of the run, and the
/// window never gets smaller than the minimum size of the screen's layouts.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    /// `window` must outlive the delegate.
    explicit AppDelegate(QMainWindow& window);

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    /// Paints the window white and installs the encryption screen.
    void applicationDidFinishLaunching();
    /// The same with another screen, for a build that shows a different one.
    void applicationDidFinishLaunching(std::unique_ptr<BaseViewController> screen);

    /// The installed screen, null before launching has finished.
    [[nodiscard]] BaseViewController* controller() const { return controller_.get(); }

private:
    QPointer<QMainWindow> window_;
    std::unique_ptr<BaseViewController> controller_;
};

} // namespace corvix
