#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

class QColor;

namespace corvix {

/// Common base of the screens. A screen's root view is a plain, empty widget made in code on
/// first use; the screen builds its controls into it in `viewDidLoad`, placed by Qt layouts
/// installed on the root view, which follow every change of its size and of their contents.
class BaseViewController : public QObject {
    Q_OBJECT

public:
    explicit BaseViewController(QObject* parent = nullptr);
    /// Destroys the root view with the controller, unless its parent already has.
    ~BaseViewController() override;

    BaseViewController(const BaseViewController&) = delete;
    BaseViewController& operator=(const BaseViewController&) = delete;

    /// The root view, built (with the whole screen) on the first call.
    [[nodiscard]] QWidget* view();

    /// What the window that shows this screen is titled; empty leaves the window's own title.
    [[nodiscard]] const QString& title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }

protected:
    /// Makes the plain root view: no children, zero size; its owner sizes it afterwards.
    virtual void loadView();
    /// Installs `view` as the root view; `loadView` overrides end with it.
    void setView(QWidget* view);
    /// Runs once, right after `loadView`; screens call this first, then build their controls.
    virtual void viewDidLoad();

private:
    QPointer<QWidget> view_;
    QString title_;
};

/// Paints `view`'s background in `color` when the view fills its own background (auto-fill on,
/// the counterpart of a layer-backed view); a view that does not is left exactly as it was.
void setLayerBackgroundColor(QWidget& view, const QColor& color);

} // namespace corvix
