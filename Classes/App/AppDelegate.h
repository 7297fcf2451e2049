#pragma once

#include "Ui/Base/BaseViewController.h"

#include <QObject>
#include <QPointer>
#include <memory>

class QMainWindow;

namespace corvix {

/// Dresses the main window once the application has started, installs a screen as its
/// content (and its title, when it has one) and keeps that screen's root view exactly as large
/// as the window's content area (the central widget) for the rest of the run. The window never
/// gets smaller than the screen's minimum size.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    /// `window` must outlive the delegate.
    explicit AppDelegate(QMainWindow& window);

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    /// Paints the window white, starts following its resizes and installs the encryption
    /// screen.
    void applicationDidFinishLaunching();
    /// The same with another screen, for a build that shows a different one.
    void applicationDidFinishLaunching(std::unique_ptr<BaseViewController> screen);

    /// The installed screen, null before launching has finished.
    [[nodiscard]] BaseViewController* controller() const { return controller_.get(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void windowDidResize();
    void screenDidChangeMinimumSize();

    QPointer<QMainWindow> window_;
    std::unique_ptr<BaseViewController> controller_;
};

} // namespace corvix
