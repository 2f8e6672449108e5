// SPDX-License-Identifier: MIT
// The Qt window drawn from the model: widget tree and layout, font and
// window flags, focus and keys, mirroring both ways, the help boxes, the
// link button, and a screenshot of the window as first shown.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>

#include "app/frm_main.h"
#include "app/qt/program.h"
#include "modal_answerer.h"

using app::FrmMain;
using app::qt::MainWindow;
using app::qt::Program;

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void widgetTree_data();
    void widgetTree();
    void windowIsFixedCentredWithOnlyACloseBox();
    void focusStartsInPathAndTabWalksTheButtonsAndInputs();
    void enterPressesOnlyAFocusedButton_data();
    void enterPressesOnlyAFocusedButton();
    void textBoxesTakeTextOfAnyLengthBothWays();
    void labelShowsEveryCaptionAsPlainText();
    void helpButtonShowsItsMessageAndKeepsTheInputs_data();
    void helpButtonShowsItsMessageAndKeepsTheInputs();
    void goButtonOpensTheServicesPage();
    void screenshotOfTheWindowAsFirstShown();

private:
    template <typename T = QWidget>
    T* control(const char* name) const {
        T* widget = window()->findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr) {
            qFatal("no widget %s", name);
        }
        return widget;
    }
    MainWindow* window() const { return program_->Window(); }

    std::unique_ptr<FrmMain> model_;
    std::unique_ptr<Program> program_;
    QStringList opened_;
};

void TestMainWindow::init() {
    opened_.clear();
    model_ = std::make_unique<FrmMain>();
    program_ = std::make_unique<Program>(*model_, [this](const QString& url) { opened_ << url; });
    program_->Show();
    QVERIFY(QTest::qWaitForWindowActive(window()));
}

void TestMainWindow::cleanup() {
    program_.reset();
    model_.reset();
    QVERIFY2(QApplication::topLevelWidgets().isEmpty(), "a test left a window behind");
}

void TestMainWindow::widgetTree_data() {
    QTest::addColumn<QString>("kind");
    FrmMain model;
    for (const app::Control* control : model.Controls()) {
        const char* kind = "QLabel";
        switch (control->Kind()) {
            case app::ControlKind::Frame: kind = "QGroupBox"; break;
            case app::ControlKind::TextBox: kind = "QLineEdit"; break;
            case app::ControlKind::CommandButton: kind = "QPushButton"; break;
            case app::ControlKind::Label: break;
        }
        QTest::newRow(control->Name().c_str()) << kind;
    }
}

void TestMainWindow::widgetTree() {
    QFETCH(QString, kind);
    QCOMPARE(window()->screen()->logicalDotsPerInchX(), 96.0);
    const std::string name = QTest::currentDataTag();
    const auto& controls = model_->Controls();
    const app::Control& model =
        **std::find_if(controls.begin(), controls.end(), [&](const app::Control* c) { return c->Name() == name; });

    QWidget* widget = control(name.c_str());
    QCOMPARE(widget->metaObject()->className(), kind);
    QWidget* parent = model.Container() ? control(model.Container()->Name().c_str()) : window();
    QCOMPARE(widget->parentWidget(), parent);
    constexpr int kTwipsPerPixelAt96Dpi = 15;
    const app::TwipsRect& twips = model.Rect();
    QCOMPARE(widget->geometry(), QRect(twips.Left / kTwipsPerPixelAt96Dpi, twips.Top / kTwipsPerPixelAt96Dpi,
                                       twips.Width / kTwipsPerPixelAt96Dpi, twips.Height / kTwipsPerPixelAt96Dpi));
    QVERIFY(widget->isVisible());
    QVERIFY(widget->isEnabled());

    QString shown;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        shown = label->text();
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
        QCOMPARE(label->frameShape(), QFrame::NoFrame);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        shown = edit->text();
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        shown = button->text();
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
        shown = group->title();
        QVERIFY(!group->isFlat());
    }
    QCOMPARE(shown.toStdU16String(), model.Caption());

    // One font everywhere: none of the controls carries one of its own.
    const QFont font = widget->font();
    QCOMPARE(font.family(), QStringLiteral("Verdana"));
    QCOMPARE(font.pointSizeF(), 8.25);
    QCOMPARE(font.weight(), QFont::Bold);
    QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());
}

void TestMainWindow::windowIsFixedCentredWithOnlyACloseBox() {
    QCOMPARE(window()->windowTitle(), QStringLiteral("VarnholtInstall 1.0.0"));
    QVERIFY(window()->isWindow());
    QVERIFY(qobject_cast<QDialog*>(window()) == nullptr);  // a dialog would close on Escape
    QCOMPARE(window()->size(), QSize(425, 196));
    QCOMPARE(window()->minimumSize(), window()->maximumSize());

    const Qt::WindowFlags flags = window()->windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));

    const QPoint screenCentre = window()->screen()->geometry().center();
    const QPoint offset = window()->geometry().center() - screenCentre;
    QVERIFY2(offset.manhattanLength() <= 2, "the window is not centred on the screen");
}

void TestMainWindow::focusStartsInPathAndTabWalksTheButtonsAndInputs() {
    QCOMPARE(QApplication::focusWidget(), control("TxtPath"));
    const QStringList expected = {"CmdInstall", "CmdPathHelp", "TxtCD", "CmdCDHelp", "CmdGo", "TxtPath"};
    QStringList walked;
    for (qsizetype i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked << QApplication::focusWidget()->objectName();
    }
    QCOMPARE(walked, expected);
}

void TestMainWindow::enterPressesOnlyAFocusedButton_data() {
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    QTest::addColumn<QStringList>("boxes");  // what the key brings up
    for (const char* box : {"TxtPath", "TxtCD"}) {
        QTest::addRow("%s Return", box) << box << int(Qt::Key_Return) << QStringList();
        QTest::addRow("%s Enter", box) << box << int(Qt::Key_Enter) << QStringList();
        QTest::addRow("%s Escape", box) << box << int(Qt::Key_Escape) << QStringList();
    }
    const QStringList confirmation = {
        QStringLiteral("Are you sure you want to install Varnholt to C:\\Ostmere\\Varnholt\\?")};
    QTest::newRow("CmdInstall Return: the confirmation") << "CmdInstall" << int(Qt::Key_Return) << confirmation;
    QTest::newRow("CmdInstall keypad Enter: the confirmation") << "CmdInstall" << int(Qt::Key_Enter) << confirmation;
    QTest::newRow("CmdInstall Escape") << "CmdInstall" << int(Qt::Key_Escape) << QStringList();
    QTest::newRow("CmdCDHelp Return: its help")
        << "CmdCDHelp" << int(Qt::Key_Return)
        << QStringList{QStringLiteral("Enter the DRIVE LETTER ONLY of your CD drive.")};
}

void TestMainWindow::enterPressesOnlyAFocusedButton() {
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(QStringList, boxes);
    std::vector<std::unique_ptr<QSignalSpy>> clicks;
    for (QPushButton* button : window()->findChildren<QPushButton*>()) {
        clicks.push_back(std::make_unique<QSignalSpy>(button, &QPushButton::clicked));
    }
    ModalAnswerer person({QMessageBox::No});
    QWidget* widget = control(qPrintable(focus));
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    QTest::qWait(20);  // let anything queued by the key run

    QStringList seen;
    for (const SeenBox& box : person.seen()) {
        seen << box.text;
    }
    QCOMPARE(seen, boxes);
    qsizetype clicked = 0;
    for (const auto& spy : clicks) {
        clicked += spy->count();
    }
    QCOMPARE(clicked, boxes.size());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(window()->isVisible());
    QVERIFY(opened_.isEmpty());
}

void TestMainWindow::textBoxesTakeTextOfAnyLengthBothWays() {
    auto* cd = control<QLineEdit>("TxtCD");
    cd->setFocus();
    QTest::keyClick(cd, Qt::Key_End);
    QTest::keyClicks(cd, ":\\Install and more");
    QCOMPARE(model_->TxtCD.Text(), u"D:\\Install and more");

    const QString longText(100000, QLatin1Char('x'));
    cd->insert(longText);
    QCOMPARE(cd->text().size(), 100000 + 19);
    QCOMPARE(model_->TxtCD.Text().size(), std::size_t{100000 + 19});

    model_->TxtPath.SetText(std::u16string(70000, u'p'));
    QCOMPARE(control<QLineEdit>("TxtPath")->text(), QString(70000, QLatin1Char('p')));
}

void TestMainWindow::labelShowsEveryCaptionAsPlainText() {
    auto* label = control<QLabel>("LblCurrentFile");
    for (const std::u16string& caption :
         {std::u16string(u"Current File: "), std::u16string(u"Current File: <b>a&b</b>.dat"),
          std::u16string(u"Current File: maps\\\u00e9t\u00e9.map")}) {
        model_->LblCurrentFile.SetCaption(caption);
        QCOMPARE(label->text().toStdU16String(), caption);
    }
}

void TestMainWindow::helpButtonShowsItsMessageAndKeepsTheInputs_data() {
    QTest::addColumn<QString>("message");
    QTest::newRow("CmdPathHelp") << "Enter the path where you want Varnholt to be installed to. "
                                    "All nonexistent directories will be created.";
    QTest::newRow("CmdCDHelp") << "Enter the DRIVE LETTER ONLY of your CD drive.";
}

void TestMainWindow::helpButtonShowsItsMessageAndKeepsTheInputs() {
    QFETCH(QString, message);
    auto* path = control<QLineEdit>("TxtPath");
    path->setFocus();
    QTest::keyClick(path, Qt::Key_End);
    QTest::keyClick(path, Qt::Key_Backspace);
    QTest::keyClicks(path, "\\Ga");  // half-edited
    const QString typedPath = path->text();
    const QString typedCD = control<QLineEdit>("TxtCD")->text();

    ModalAnswerer person({QMessageBox::Ok});
    QTest::mouseClick(control(QTest::currentDataTag()), Qt::LeftButton);

    QCOMPARE(person.seen().size(), 1);
    const SeenBox& box = person.seen().front();
    QCOMPARE(box.text, message);
    QCOMPARE(box.title, QStringLiteral("VarnholtInstall"));
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.defaultButton, QMessageBox::Ok);
    QCOMPARE(box.font.family(), QStringLiteral("Verdana"));
    QCOMPARE(box.font.weight(), QFont::Bold);
    QCOMPARE(path->text(), typedPath);
    QCOMPARE(control<QLineEdit>("TxtCD")->text(), typedCD);
    QCOMPARE(QString::fromStdU16String(model_->TxtPath.Text()), typedPath);
}

void TestMainWindow::goButtonOpensTheServicesPage() {
    QTest::mouseClick(control("CmdGo"), Qt::LeftButton);
    QCOMPARE(opened_, QStringList{"http://brannick.example/services/index.htm"});
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(window()->isVisible());
}

void TestMainWindow::screenshotOfTheWindowAsFirstShown() {
    const QDir folder(QStringLiteral(VARNHOLT_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    const QString file = folder.filePath(QStringLiteral("main-window.png"));
    QVERIFY(window()->grab().save(file));
    qInfo("screenshot: %s", qPrintable(file));
}

QTEST_MAIN(TestMainWindow)
#include "main_window_test.moc"
