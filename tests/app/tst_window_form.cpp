// SPDX-License-Identifier: GPL-3.0-or-later
// The window's form as built by setupUi: tree, names, properties, texts and
// fixed combo items; and the connect-by-name binding of the window's slots.
#include "FindChild.h"

#include "app/ZUD_wheel_tool.h"
#include "simulator/VirtualHidBus.h"
#include "ui_ZUD_wheel_tool.h"

#include <QBoxLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QtTest>

namespace {

QString describe(QLayoutItem *item);

// A row puts its items side by side, left to right; a column puts them one
// above the other, top to bottom.
QString describeLayout(QLayout *layout)
{
    QString kind = QStringLiteral("layout");
    if (auto *box = qobject_cast<QBoxLayout *>(layout)) {
        switch (box->direction()) {
        case QBoxLayout::LeftToRight:
            kind = QStringLiteral("row");
            break;
        case QBoxLayout::TopToBottom:
            kind = QStringLiteral("column");
            break;
        default:
            kind = QStringLiteral("reversed");
            break;
        }
    }
    QStringList parts;
    for (int i = 0; i < layout->count(); ++i)
        parts << describe(layout->itemAt(i));
    return kind + "[" + parts.join(' ') + "]";
}

// A compact picture of the form's arrangement: which widget sits in which
// row and column, and beside which, whatever the layouts are called; widgets
// by name (a tab widget with its pages), spacers by size.
QString describe(QLayoutItem *item)
{
    if (QLayout *layout = item->layout())
        return describeLayout(layout);
    if (QWidget *widget = item->widget()) {
        if (auto *tabs = qobject_cast<QTabWidget *>(widget)) {
            QStringList pages;
            for (int i = 0; i < tabs->count(); ++i)
                pages << tabs->tabText(i) + ":" + describeLayout(tabs->widget(i)->layout());
            return widget->objectName() + "{" + pages.join(' ') + "}";
        }
        return widget->objectName();
    }
    if (QSpacerItem *spacer = item->spacerItem()) {
        const QSize hint = spacer->sizeHint();
        return QStringLiteral("spacer%1x%2").arg(hint.width()).arg(hint.height());
    }
    return QStringLiteral("?");
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

bool isBold(const QWidget *widget)
{
    return widget->font().weight() == QFont::Bold;
}

} // namespace

class WindowFormTest : public QObject {
    Q_OBJECT

private slots:
    void arrangementAndNames();
    void propertiesAfterSetUp();
    void textsAndFonts();
    void retranslateKeepsFixedItems();
    void profileNameEditReplacesCurrentItem();
    void windowBindsEverySlotByName();
};

void WindowFormTest::arrangementAndNames()
{
    QMainWindow window;
    Ui::ZUD_wheel_tool form;
    form.setupUi(&window);

    QCOMPARE(window.objectName(), QStringLiteral("ZUD_wheel_tool"));
    QCOMPARE(window.centralWidget(), form.centralWidget);
    QCOMPARE(form.centralWidget->objectName(), QStringLiteral("centralWidget"));

    const QString expected =
        "column["
        "row[comboBox_UsbDevice] "
        "row[pushButton_LoadConfig pushButton_SaveConfig "
        "pushButton_SetDefaultConfig pushButton_UpdateFirmware pushButton_EnterExitBootloader] "
        "row[comboBox_ProfileName pushButton_AddProfile pushButton_RemoveProfile] "
        "row["
        "column["
        "row[label_Rim_Image column[pedalX label_PedalX] "
        "column[pedalY label_PedalY] column[pedalZ label_PedalZ]] "
        "row[label_JoystickValue] "
        "row[label_CenterOffset spacer5x20 label_CenterOffsetDeg spacer5x20 "
        "pushButton_CenterRim] "
        "row[label_RotationDegrees spinBox_RotationDegree] "
        "row[label_2 horiSlider_Force label_Force] "
        "spacer20x40] "
        "tabWidget{"
        "FFB:column["
        "row[label_10 horiSlider_GenSmooth label_GenSmooth] "
        "row[label_3 horiSlider_Damping label_Damping] "
        "row[label_6 comboBox_DampingEffect] "
        "row[label_4 horiSlider_Friction label_Friction] "
        "row[label_7 comboBox_FrictionEffect] "
        "row[label_8 horiSlider_Inertia label_Inertia] "
        "row[label_9 comboBox_InertiaEffect] "
        "row[label_11 horiSlider_Spring label_Spring] "
        "row[label_12 comboBox_SpringEffect] "
        "spacer20x41] "
        "Encoder:column["
        "row[label comboBox_EncoderType] "
        "row[label_5 spinBox_EncoderRes] "
        "spacer20x40] "
        "Debug:column[column["
        "row["
        "column[label_debugTicksCaption label_debugTicks] "
        "column[label_debugMotorStateCaption label_debugMotorState] "
        "column[label_debugEncoderStateCaption label_debugEncoderState]] "
        "label_debugBisscRawCaption label_debugBisscRaw "
        "row["
        "column[label_debugCurrentFaultsCaption label_debugCurrentFaults "
        "label_debugCurrentFaultsHex] "
        "column[label_debugClearedFaultsCaption label_debugClearedFaults "
        "label_debugClearedFaultsHex]] "
        "row["
        "column[label_debugMotorAngleCaption label_debugMotorAngle] "
        "column[label_debugEncoderRawCaption label_debugEncoderRaw] "
        "column[label_debugFfbInCaption label_debugFfbIn] "
        "column[label_debugFfbOutCaption label_debugFfbOut]] "
        "spacer20x40 pushButton_Logging]] "
        "Games:column[checkBox_SwitchProfiles tableWidget_Games "
        "row[pushButton_AddGame pushButton_RemoveGame spacer20x20] "
        "row[label_DefaultProfile comboBox_DefaultProfile] "
        "label_GamesMessage checkBox_CloseToTray checkBox_StartAtLogin]"
        "}]]";
    QCOMPARE(describeLayout(form.centralWidget->layout()), expected);

    // Spacing 6 everywhere; margins 11 only on the layouts that sit on a widget.
    for (QBoxLayout *layout : form.centralWidget->findChildren<QBoxLayout *>()) {
        if (layout->objectName().isEmpty())
            continue; // the toolkit's own, inside the tab widget
        QCOMPARE(layout->spacing(), 6);
        const bool onWidget = layout->parentWidget() && layout->parentWidget()->layout() == layout;
        QCOMPARE(layout->contentsMargins(), onWidget ? QMargins(11, 11, 11, 11) : QMargins());
    }
    QCOMPARE(form.settingsLeftLayout->sizeConstraint(), QLayout::SetMinimumSize);
}

void WindowFormTest::propertiesAfterSetUp()
{
    QMainWindow window;
    Ui::ZUD_wheel_tool form;
    form.setupUi(&window);

    QCOMPARE(window.size(), QSize(600, 420));
    QCOMPARE(form.tabWidget->currentIndex(), 0);
    QCOMPARE(form.tabWidget->currentWidget(), form.tabWidgetPageFfb);
    QVERIFY(form.tabWidgetPageFfb->autoFillBackground());
    QVERIFY(!form.tabWidget->autoFillBackground());

    // The rim: the unrotated 200 x 200 picture, shown scaled to 160 x 160.
    QCOMPARE(form.label_Rim_Image->minimumSize(), QSize(160, 160));
    QCOMPARE(form.label_Rim_Image->maximumSize(), QSize(160, 160));
    QVERIFY(form.label_Rim_Image->hasScaledContents());
    const QImage rim(QStringLiteral(":/rim.png"));
    QCOMPARE(rim.size(), QSize(200, 200));
    QVERIFY(rim.hasAlphaChannel());
    QCOMPARE(form.label_Rim_Image->pixmap(Qt::ReturnByValue).toImage(),
             QPixmap(QStringLiteral(":/rim.png")).toImage());

    for (QProgressBar *bar : {form.pedalX, form.pedalY, form.pedalZ}) {
        QCOMPARE(bar->value(), 24);
        QCOMPARE(bar->minimum(), 0);
        QCOMPARE(bar->maximum(), 100);
        QCOMPARE(bar->orientation(), Qt::Vertical);
    }

    QCOMPARE(form.spinBox_RotationDegree->minimum(), 0);
    QCOMPARE(form.spinBox_RotationDegree->maximum(), 9999);
    QCOMPARE(form.spinBox_RotationDegree->minimumSize(), QSize(75, 0));
    QCOMPARE(form.spinBox_EncoderRes->minimum(), 0);
    QCOMPARE(form.spinBox_EncoderRes->maximum(), 999999999);
    form.spinBox_EncoderRes->setValue(2000000000);
    QCOMPARE(form.spinBox_EncoderRes->value(), 999999999);

    QCOMPARE(form.horiSlider_Force->maximum(), 100);
    QCOMPARE(form.horiSlider_GenSmooth->maximum(), 4);
    QCOMPARE(form.horiSlider_GenSmooth->pageStep(), 1);
    for (QSlider *slider : {form.horiSlider_Damping, form.horiSlider_Friction,
                            form.horiSlider_Inertia, form.horiSlider_Spring}) {
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 10);
        QCOMPARE(slider->singleStep(), 1);
        QCOMPARE(slider->pageStep(), 1);
        QCOMPARE(slider->orientation(), Qt::Horizontal);
    }

    QVERIFY(form.comboBox_ProfileName->isEditable());
    QCOMPARE(form.comboBox_ProfileName->maxCount(), 100);
    QCOMPARE(form.comboBox_ProfileName->insertPolicy(), QComboBox::InsertAtCurrent);
    QVERIFY(!form.comboBox_EncoderType->isEditable());

    QCOMPARE(form.label_10->sizePolicy().horizontalPolicy(), QSizePolicy::Minimum);
    QVERIFY(form.label_10->wordWrap());
    QCOMPARE(form.label_3->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(form.tabWidget->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(form.tabWidget->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
}

void WindowFormTest::textsAndFonts()
{
    QMainWindow window;
    Ui::ZUD_wheel_tool form;
    form.setupUi(&window);

    QCOMPARE(window.windowTitle(), QStringLiteral("ZUD_wheel_tool"));
    QCOMPARE(form.tabWidget->tabText(0), QStringLiteral("FFB"));
    QCOMPARE(form.tabWidget->tabText(1), QStringLiteral("Encoder"));
    QCOMPARE(form.tabWidget->tabText(2), QStringLiteral("Debug"));
    QCOMPARE(form.pushButton_LoadConfig->text(), QStringLiteral("Reload Settings"));
    QCOMPARE(form.pushButton_SetDefaultConfig->text(), QStringLiteral("Factory Defaults"));
    QCOMPARE(form.pushButton_EnterExitBootloader->text(), QStringLiteral("Enter Bootloader"));
    QCOMPARE(form.label_CenterOffsetDeg->text(), QStringLiteral("0.00 deg"));
    QCOMPARE(form.label_debugBisscRaw->text(), QStringLiteral("Encoder Errors 64 bits"));
    QCOMPARE(form.label_debugTicks->text(), QStringLiteral("123456789"));
    QCOMPARE(form.pushButton_Logging->text(), QStringLiteral("Start Logging"));
    QCOMPARE(form.label_Spring->text(), QStringLiteral("100%"));
    QVERIFY(form.label_JoystickValue->text().isEmpty());
    QVERIFY(form.label_6->text().isEmpty());

    for (QWidget *widget : std::initializer_list<QWidget *>{
             form.pushButton_LoadConfig, form.pushButton_RemoveProfile, form.pushButton_CenterRim,
             form.label_CenterOffset, form.label_2, form.label_10, form.label_11})
        QVERIFY2(isBold(widget), qPrintable(widget->objectName()));
    for (QWidget *widget : std::initializer_list<QWidget *>{
             form.pushButton_Logging, form.label, form.label_5, form.label_6, form.label_Force})
        QVERIFY2(!isBold(widget), qPrintable(widget->objectName()));
}

void WindowFormTest::retranslateKeepsFixedItems()
{
    QMainWindow window;
    Ui::ZUD_wheel_tool form;
    form.setupUi(&window);
    form.retranslateUi(&window);
    form.retranslateUi(&window);

    const QStringList effects{"Device Effect Only", "Game Effect Only", "Device and Game Effects"};
    for (QComboBox *box : {form.comboBox_DampingEffect, form.comboBox_FrictionEffect,
                           form.comboBox_InertiaEffect, form.comboBox_SpringEffect})
        QCOMPARE(itemTexts(box), effects);
    QCOMPARE(itemTexts(form.comboBox_EncoderType),
             (QStringList{"Incremental", "Incremental (Rev)", "BISS-C", "BISS-C (Rev)"}));
    QCOMPARE(form.comboBox_UsbDevice->count(), 0);
    QCOMPARE(form.comboBox_ProfileName->count(), 0);
    // Translating again leaves the pixmap of the rim in place.
    QVERIFY(!form.label_Rim_Image->pixmap(Qt::ReturnByValue).isNull());
}

void WindowFormTest::profileNameEditReplacesCurrentItem()
{
    QMainWindow window;
    Ui::ZUD_wheel_tool form;
    form.setupUi(&window);
    QComboBox *profiles = form.comboBox_ProfileName;
    for (int i = 0; i < 120; ++i)
        profiles->addItem(QStringLiteral("Profile %1").arg(i));
    QCOMPARE(profiles->count(), 100);

    profiles->setCurrentIndex(3);
    profiles->lineEdit()->selectAll();
    QTest::keyClicks(profiles->lineEdit(), QStringLiteral("Rally"));
    QTest::keyClick(profiles->lineEdit(), Qt::Key_Return);
    QCOMPARE(profiles->count(), 100);
    QCOMPARE(profiles->itemText(3), QStringLiteral("Rally"));
    QCOMPARE(profiles->itemText(4), QStringLiteral("Profile 4"));
}

namespace {
QStringList bindingWarnings;
void collectBindingWarnings(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.contains(QLatin1String("connectSlotsByName")))
        bindingWarnings << message;
}
} // namespace

void WindowFormTest::windowBindsEverySlotByName()
{
    // Every on_<objectName>_<signal> slot of the window finds its widget and
    // signal; a misspelt name would leave a control dead.
    bindingWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectBindingWarnings);
    {
        ZUD_wheel_tool window;
        QCOMPARE(wintest::child<QTabWidget>(window, "tabWidget")->currentIndex(), 0);
    }
    qInstallMessageHandler(previous);
    QVERIFY2(bindingWarnings.isEmpty(), qPrintable(bindingWarnings.join('\n')));
    vhid::unplugAll();
}

QTEST_MAIN(WindowFormTest)
#include "tst_window_form.moc"
