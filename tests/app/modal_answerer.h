// SPDX-License-Identifier: MIT
// Answers the application's modal message boxes from a timer, the way a
// person would, and records what each box showed.
#pragma once

#include <QApplication>
#include <QFont>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
    QFont font;
    Qt::WindowFlags flags;
};

class ModalAnswerer : public QObject {
public:
    // Presses `answers` in order, one per box; QMessageBox::Escape presses
    // the Escape key instead (a box it leaves open is seen again). A box
    // beyond the script is recorded and closed with its first button, so a
    // test fails rather than hangs.
    explicit ModalAnswerer(QList<QMessageBox::StandardButton> answers) : answers_(answers) {
        connect(&timer_, &QTimer::timeout, this, &ModalAnswerer::poll);
        timer_.start(kPollMs);
    }

    const QList<SeenBox>& seen() const { return seen_; }

    // Called with each box's text while the box is up, before it is answered.
    std::function<void(const QString&)> whileShown;

private:
    static constexpr int kPollMs = 5;

    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        QAbstractButton* preferred = box->defaultButton();
        seen_.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                      box->standardButton(preferred), box->font(), box->windowFlags()});
        if (whileShown) {
            whileShown(box->text());
        }
        QAbstractButton* press = nullptr;
        if (!answers_.isEmpty()) {
            const QMessageBox::StandardButton answer = answers_.takeFirst();
            if (answer == QMessageBox::Escape) {
                QWidget* focus = box->focusWidget();
                QTest::keyClick(focus != nullptr ? focus : box, Qt::Key_Escape);
                return;
            }
            press = box->button(answer);
        }
        if (press == nullptr) {
            press = box->buttons().first();
        }
        press->click();
    }

    QList<QMessageBox::StandardButton> answers_;
    QList<SeenBox> seen_;
    QTimer timer_;
};
