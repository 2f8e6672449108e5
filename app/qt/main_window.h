// SPDX-License-Identifier: MIT
// The Qt window drawn from the FrmMain model: one widget per control, placed
// from its twips, with captions and texts mirrored both ways and clicks
// handed back to whoever runs the handlers. No behaviour of its own.
#pragma once

#include <QWidget>

#include <functional>
#include <map>

#include "app/frm_main.h"

namespace app::qt {

class MainWindow : public QWidget {
    Q_OBJECT

public:
    // Called with the control a click landed on.
    using ClickForwarder = std::function<void(const Control&)>;

    MainWindow(FrmMain& model, ClickForwarder forwardClick);
    ~MainWindow() override;

    // The widget drawn for `control`.
    QWidget* WidgetFor(const Control& control) const;

private:
    QWidget* CreateControl(Control& control);
    void ConnectControl(Control& control, QWidget* widget);
    void ApplyTabOrder();
    void PlaceOnScreen(int width, int height);

    FrmMain& model_;
    ClickForwarder forwardClick_;
    double dotsPerInchX_;
    double dotsPerInchY_;
    std::map<const Control*, QWidget*> widgets_;
};

}  // namespace app::qt
