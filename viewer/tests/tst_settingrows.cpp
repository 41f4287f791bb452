// Setting rows, the display row, the fold box and the camera sidebar.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <QtTest>

#include "TestEnv.h"
#include "settings/settingbasewithcombobox.h"
#include "settings/settingbasewithlineedit.h"
#include "settings/settingbasewithswitchbutton.h"
#include "settings/settingdisplayitem.h"
#include "settings/settingitembox.h"
#include "settings/sidebarcamerasettingui.h"
#include "startup.h"
#include "widgets/nrcombobox.h"
#include "widgets/nrcomboboxbase.h"
#include "widgets/nrlineedit.h"

Q_DECLARE_METATYPE(std::string)

namespace {

QLineEdit* comboEdit(QWidget* parent, const char* name) {
    return parent->findChild<NrComboBox*>(QLatin1String(name))->getNrComboBoxBase()->lineEdit();
}

// Types a text into an editable combo box and leaves the field.
void enter(QWidget* parent, const char* name, const QString& text) {
    QLineEdit* edit = comboEdit(parent, name);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

class TestSettingRows : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        installApplicationFont();
        qRegisterMetaType<std::string>("std::string");
        qRegisterMetaType<uint64_t>("uint64_t");
        qRegisterMetaType<uint32_t>("uint32_t");
    }

    void integerRow() {
        SettingBaseWithLineEdit row("bias_diff_on");
        auto* label = row.findChild<QLabel*>(QStringLiteral("lb_set_item_name"));
        auto* edit = row.findChild<NrLineEditBase*>(QStringLiteral("le_nr_line_edit"));
        auto* slider = row.findChild<QSlider*>(QStringLiteral("horizontalSlider"));
        auto* plus = row.findChild<QPushButton*>(QStringLiteral("pb_add_item_value"));
        auto* minus = row.findChild<QPushButton*>(QStringLiteral("pb_sub_item_value"));
        QCOMPARE(label->text(), QStringLiteral("Bias Diff On"));
        row.setSliderBarValueRange(0, 20);
        row.setCurrentValue(5);
        QCOMPARE(edit->text(), QStringLiteral("5"));
        row.setCurrentValue(21); // outside: nothing changes
        QCOMPARE(edit->text(), QStringLiteral("5"));
        QCOMPARE(slider->value(), 5);

        int callbackValue = -1;
        row.setParamOptCallback([&](std::string name, int v) {
            callbackValue = name == "bias_diff_on" ? v : -2;
            return false;
        });
        QSignalSpy changed(&row, &SettingBaseWithLineEdit::signalItemValueChanged);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        edit->setFocus();
        QApplication::processEvents();
        QVERIFY(row.findChild<QWidget*>(QStringLiteral("widget_with_slider"))->isVisible());
        edit->clear();
        changed.clear();
        QTest::keyClicks(edit, QStringLiteral("12"));
        QCOMPARE(slider->value(), 12);
        QCOMPARE(changed.count(), 2); // 1, then 12
        QCOMPARE(changed.at(0).at(1).toInt(), 1);
        QCOMPARE(changed.at(1).at(1).toInt(), 12);
        QCOMPARE(changed.at(1).at(0).value<std::string>(), std::string("bias_diff_on"));
        QCOMPARE(callbackValue, 12);
        QVERIFY(edit->styleSheet().contains(QStringLiteral("#004B6A")));

        row.setCurrentValue(20);
        changed.clear();
        QTest::mouseClick(plus, Qt::LeftButton); // at the maximum
        QCOMPARE(edit->text(), QStringLiteral("20"));
        QCOMPARE(changed.count(), 0);
        QTest::mouseClick(minus, Qt::LeftButton);
        QCOMPARE(edit->text(), QStringLiteral("19"));
        QCOMPARE(changed.count(), 1);

        edit->setText(QStringLiteral("1x"));
        QVERIFY(edit->styleSheet().contains(QStringLiteral("#FF6058")));
        QTest::mouseClick(plus, Qt::LeftButton);
        QTest::mouseClick(minus, Qt::LeftButton);
        QCOMPARE(edit->text(), QStringLiteral("1x"));
        QCOMPARE(changed.count(), 1);

        // Broadcasts: only its own name.
        row.slotItemValueChanged(std::string("bias_diff_off"), 3);
        QCOMPARE(edit->text(), QStringLiteral("1x"));
        row.slotItemValueChanged(std::string("bias_diff_on"), 3);
        QCOMPARE(edit->text(), QStringLiteral("3"));
        row.slotItemValueChanged(std::string("bias_diff_on"), 2.5f);
        QCOMPARE(edit->text(), QStringLiteral("2.5"));

        row.setShowStatus(CompStatusError);
        QVERIFY(edit->styleSheet().contains(QStringLiteral("border: 1px solid #FF6058;")));
        row.setShowStatus(CompStatusNormal);
        QVERIFY(edit->styleSheet().contains(QStringLiteral("border: 1px solid #ACACAC;")));
        QVERIFY(edit->styleSheet().contains(QStringLiteral("border-radius: 3px;"))); // untouched
        row.setValueUnit(" ");
        QCOMPARE(row.findChild<QLabel*>(QStringLiteral("lb_unit"))->text(), QString());
        row.setValueUnit("mV");
        QCOMPARE(row.findChild<QLabel*>(QStringLiteral("lb_unit"))->text(), QStringLiteral("(mV)"));
    }

    void switchAndComboRows() {
        SettingBaseWithSwitchButton sw("trail_filter_enable");
        QSignalSpy swChanged(&sw, &SettingBaseWithSwitchButton::signalItemValueChanged);
        auto* button = sw.findChild<QPushButton*>(QStringLiteral("switchButton"));
        sw.setSwitchBottonStatus(true);
        QVERIFY(button->isChecked());
        sw.slotItemValueChanged(std::string("other"), false);
        QVERIFY(button->isChecked());
        sw.slotItemValueChanged(std::string("trail_filter_enable"), false);
        QVERIFY(!button->isChecked());
        QCOMPARE(swChanged.count(), 0);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(swChanged.count(), 1);
        QCOMPARE(swChanged.first().at(0).value<std::string>(), std::string("trail_filter_enable"));
        QCOMPARE(swChanged.first().at(1).toBool(), true);

        SettingBaseWithComboBox combo("trail_filter_type");
        combo.addItem(QStringLiteral("TRAIL"));
        combo.addItem(QStringLiteral("STC_CUT_TRAIL"));
        QSignalSpy cbChanged(&combo, &SettingBaseWithComboBox::signalItemValueChanged);
        combo.slotItemValueChanged(std::string("trail_filter"), std::string("STC_CUT_TRAIL"));
        QCOMPARE(cbChanged.count(), 0);
        combo.slotItemValueChanged(std::string("trail_filter_type"), std::string("STC_CUT_TRAIL"));
        QCOMPARE(cbChanged.count(), 1);
        QCOMPARE(cbChanged.first().at(1).value<std::string>(), std::string("STC_CUT_TRAIL"));
        QVERIFY(!combo.comboBox()->getNrComboBoxBase()->isEditable());
        // The wheel never changes a parameter.
        QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo.comboBox()->getNrComboBoxBase(), &wheel);
        QCOMPARE(cbChanged.count(), 1);
    }

    void displayRowTexts() {
        QCOMPARE(SettingDisplayItem::convertToMicroseconds(QStringLiteral("250")), uint64_t(250000));
        QCOMPARE(SettingDisplayItem::convertToMicroseconds(QStringLiteral("500us")), uint64_t(500));
        QCOMPARE(SettingDisplayItem::convertToMicroseconds(QStringLiteral("-5ms")), uint64_t(0));
        QCOMPARE(SettingDisplayItem::convertToMicroseconds(QStringLiteral("abc")), uint64_t(0));
        QCOMPARE(SettingDisplayItem::displayRateOf(QStringLiteral("0.5")), 15u);
        QCOMPARE(SettingDisplayItem::displayRateOf(QStringLiteral("1000")), 30000u);
        QCOMPARE(SettingDisplayItem::displayRateOf(QStringLiteral("0.034")), 1u);
        QCOMPARE(SettingDisplayItem::displayRateOf(QStringLiteral("0.033")), 0u); // would be 0 images/s
        QCOMPARE(SettingDisplayItem::displayRateOf(QStringLiteral("0.02")), 0u);
        QCOMPARE(SettingDisplayItem::displayRateOf(QStringLiteral("1001")), 0u);

        SettingDisplayItem item;
        item.show();
        QVERIFY(QTest::qWaitForWindowExposed(&item));
        QSignalSpy acc(&item, &SettingDisplayItem::signalCumulativeTimeChanged);
        QSignalSpy fps(&item, &SettingDisplayItem::signalFpsChanged);
        QSignalSpy step(&item, &SettingDisplayItem::signalFrameStepChanged);
        enter(&item, "widget_combobox_accumulation_time", QStringLiteral("250"));
        QCOMPARE(acc.count(), 1);
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(250000));
        QCOMPARE(comboEdit(&item, "widget_combobox_accumulation_time")->text(), QStringLiteral("250ms"));
        enter(&item, "widget_combobox_accumulation_time", QStringLiteral("2000ms"));
        QCOMPARE(acc.count(), 1);
        auto* accBox = item.findChild<NrComboBox*>(QStringLiteral("widget_combobox_accumulation_time"));
        QVERIFY(accBox->getNrComboBoxBase()->styleSheet().contains(QStringLiteral("border: 1px solid #FF6058;")));
        enter(&item, "widget_combobox_accumulation_time", QStringLiteral("500us"));
        QCOMPARE(acc.last().at(0).value<uint64_t>(), uint64_t(500));
        QVERIFY(accBox->getNrComboBoxBase()->styleSheet().contains(QStringLiteral("border: 1px solid #A7A7A7;")));

        for (const char* bad : {"0.02", "1001", "x"})
            enter(&item, "widget_combobox_frame_rate", QLatin1String(bad));
        QCOMPARE(fps.count(), 0);
        QCOMPARE(step.count(), 0);
        enter(&item, "widget_combobox_frame_rate", QStringLiteral("0.5"));
        enter(&item, "widget_combobox_frame_rate", QStringLiteral("1000"));
        // Below 1/30 no whole display rate says it (0), the frame step does: 1 s / 0.99 frames.
        enter(&item, "widget_combobox_frame_rate", QStringLiteral("0.033"));
        QCOMPARE(fps.count(), 3);
        QCOMPARE(fps.at(0).at(0).value<uint32_t>(), 15u);
        QCOMPARE(fps.at(1).at(0).value<uint32_t>(), 30000u);
        QCOMPARE(fps.at(2).at(0).value<uint32_t>(), 0u);
        QCOMPARE(step.count(), 3);
        QCOMPARE(step.at(0).at(0).value<uint64_t>(), uint64_t(66667));
        QCOMPARE(step.at(1).at(0).value<uint64_t>(), uint64_t(33));
        QCOMPARE(step.at(2).at(0).value<uint64_t>(), uint64_t(1010101));
        QCOMPARE(item.frameStepUs(), uint64_t(1010101));

        item.setFPSEnable(false);
        QVERIFY(!item.findChild<NrComboBox*>(QStringLiteral("widget_combobox_frame_rate"))->isEnabled());
    }

    void foldBoxScreenshots() {
        QWidget panel;
        panel.setStyleSheet(QStringLiteral("background: #FFFFFF;"));
        panel.resize(340, 420);
        auto* layout = new QVBoxLayout(&panel);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* open = new SettingItemBox;
        open->setBoxTitle(QStringLiteral("Event Trail Filter"));
        auto* sw = new SettingBaseWithSwitchButton("trail_filter_enable");
        sw->setSwitchBottonStatus(true);
        auto* combo = new SettingBaseWithComboBox("trail_filter_type");
        combo->addItem(QStringLiteral("TRAIL"));
        auto* number = new SettingBaseWithLineEdit("trail_filter_threshold");
        number->setSliderBarValueRange(0, 100000);
        number->setCurrentValue(10000);
        number->setValueUnit("us");
        open->addWidget(sw);
        open->addWidget(combo);
        open->insertWidget(number, 1);
        auto* closed = new SettingItemBox;
        closed->setBoxTitle(QStringLiteral("Biases"));
        closed->addWidget(new SettingBaseWithLineEdit("bias_fo"));
        layout->addWidget(open);
        layout->addWidget(closed);
        layout->addStretch();

        auto* title = open->findChild<QWidget*>(QStringLiteral("widget_setting_box_title"));
        auto* container = open->findChild<QWidget*>(QStringLiteral("widget_container"));
        auto* fold = open->findChild<QPushButton*>(QStringLiteral("pb_fold"));
        QVERIFY(fold->isChecked()); // created folded
        QVERIFY(title->styleSheet().contains(QStringLiteral("border-left: 0px solid #004B6A;")));
        open->setFoldStatus(false);
        QVERIFY(!fold->isChecked());
        QVERIFY(title->styleSheet().contains(QStringLiteral("border-left: 2px solid #004B6A;")));
        QVERIFY(title->styleSheet().contains(QStringLiteral("background: #E1E9ED;")));
        QVERIFY(title->styleSheet().contains(QStringLiteral(":hover { background: #E1E9ED; }")));
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        QVERIFY(container->isVisible());
        QCOMPARE(container->layout()->indexOf(number), 1);
        QVERIFY(!testenv::saveScreenshot(&panel, QStringLiteral("setting_box_open_and_closed")).isEmpty());
        QTest::mouseClick(fold, Qt::LeftButton);
        QVERIFY(!container->isVisible());
        QVERIFY(title->styleSheet().contains(QStringLiteral("background: #F4F5F7;")));
    }

    void cameraSidebarSignals() {
        SidebarCameraSettingUI bar;
        bar.resize(340, 300);
        QCOMPARE(bar.findChild<QLabel*>(QStringLiteral("lb_setting_ui"))->text(), QStringLiteral("Camera Setting"));
        QSignalSpy acc(&bar, &SidebarCameraSettingUI::signalCumulativeTimeChanged);
        QSignalSpy fps(&bar, &SidebarCameraSettingUI::signalFpsChanged);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QVERIFY(!testenv::saveScreenshot(&bar, QStringLiteral("camera_sidebar_folded")).isEmpty());
        bar.findChild<SettingItemBox*>()->setFoldStatus(false);
        QApplication::processEvents();
        enter(&bar, "widget_combobox_accumulation_time", QStringLiteral("10ms"));
        enter(&bar, "widget_combobox_frame_rate", QStringLiteral("2"));
        QCOMPARE(acc.count(), 1);
        QCOMPARE(acc.first().at(0).value<uint64_t>(), uint64_t(10000));
        QCOMPARE(fps.count(), 1);
        QCOMPARE(fps.first().at(0).value<uint32_t>(), 60u);
        QVERIFY(!testenv::saveScreenshot(&bar, QStringLiteral("camera_sidebar_open")).isEmpty());
        bar.setDispItemFPSEnable(false);
        QVERIFY(!bar.findChild<NrComboBox*>(QStringLiteral("widget_combobox_frame_rate"))->isEnabled());
        bar.setDispItemFPSEnable(true);
        QVERIFY(bar.findChild<NrComboBox*>(QStringLiteral("widget_combobox_frame_rate"))->isEnabled());
    }
};

NR_QTEST_MAIN(TestSettingRows)
#include "tst_settingrows.moc"
