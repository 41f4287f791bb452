#include "settings/settingdisplayitem.h"

#include <QLineEdit>

#include <cmath>

#include "ui_settingdisplayitem.h"
#include "widgets/nrcombobox.h"
#include "widgets/nrcomboboxbase.h"

namespace {
constexpr uint64_t kMaxAccumulationUs = 1000000;
constexpr double kMinSlowRate = 0.03;
constexpr double kMaxSlowRate = 1000.0;
} // namespace

SettingDisplayItem::SettingDisplayItem(QWidget* parent) : QWidget(parent), ui(new Ui::SettingDisplayItem) {
    ui->setupUi(this);
    NrComboBox* acc = ui->widget_combobox_accumulation_time;
    NrComboBox* rate = ui->widget_combobox_frame_rate;
    acc->setEditable(true);
    rate->setEditable(true);
    // Typed values are applied, not collected in the lists.
    acc->getNrComboBoxBase()->setInsertPolicy(QComboBox::NoInsert);
    rate->getNrComboBoxBase()->setInsertPolicy(QComboBox::NoInsert);
    acc->getNrComboBoxBase()->addItems({"33.33ms", "100ms", "10ms", "1ms"});
    rate->getNrComboBoxBase()->addItems({"1", "2", "5", "10", "100", "1000"});
    lastRate = rate->getNrComboBoxBase()->currentText();

    connect(acc, &NrComboBox::signalLineEditTextChanged, this, &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(acc->getNrComboBoxBase(), &QComboBox::currentTextChanged, this,
            &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(acc, &NrComboBox::signalLineEditEditingFinished, this,
            &SettingDisplayItem::slotAccumulationTimeTextEditFinished);
    connect(rate, &NrComboBox::signalLineEditTextChanged, this, &SettingDisplayItem::slotFrameRateTextChanged);
    connect(rate, &NrComboBox::signalLineEditEditingFinished, this,
            &SettingDisplayItem::slotFrameRateEditTextFinished);
    // Picking an item from the list is a finished edit too; otherwise it would apply only once the
    // field happens to lose focus.
    connect(acc->getNrComboBoxBase(), QOverload<int>::of(&QComboBox::activated), this,
            &SettingDisplayItem::slotAccumulationTimeTextEditFinished);
    connect(rate->getNrComboBoxBase(), QOverload<int>::of(&QComboBox::activated), this,
            &SettingDisplayItem::slotFrameRateEditTextFinished);
}

SettingDisplayItem::~SettingDisplayItem() {
    // Editing may finish while the children are destroyed; nothing may reach us then.
    for (NrComboBox* box : {ui->widget_combobox_accumulation_time, ui->widget_combobox_frame_rate}) {
        box->disconnect(this);
        box->getNrComboBoxBase()->disconnect(this);
    }
    delete ui;
}

void SettingDisplayItem::setFPSEnable(bool enable) {
    ui->widget_combobox_frame_rate->setEnabled(enable);
}

QString SettingDisplayItem::withUnit(const QString& text) {
    if (text.endsWith(QLatin1String("ms")) || text.endsWith(QLatin1String("us")))
        return text;
    return text + QStringLiteral("ms");
}

uint64_t SettingDisplayItem::convertToMicroseconds(const QString& text) {
    const QString t = withUnit(text);
    bool ok = false;
    float value = t.left(t.size() - 2).toFloat(&ok);
    if (!ok)
        return 0;
    if (t.endsWith(QLatin1String("ms")))
        value *= 1000.0f;
    // Negative, NaN or huge values are no time at all (and must not be cast to an unsigned count).
    if (!(value > 0.0f) || value > 1e18f)
        return 0;
    return static_cast<uint64_t>(value);
}

namespace {
// The slow rate of text, or 0 when it is not in [kMinSlowRate, kMaxSlowRate].
double slowRateOf(const QString& text) {
    bool ok = false;
    const double rate = text.toDouble(&ok);
    return ok && rate >= kMinSlowRate && rate <= kMaxSlowRate ? rate : 0.0;
}
} // namespace

uint32_t SettingDisplayItem::displayRateOf(const QString& text) {
    const double fps = std::trunc(slowRateOf(text) * 30.0);
    return fps >= 1.0 ? static_cast<uint32_t>(fps) : 0;
}

uint64_t SettingDisplayItem::frameStepOf(const QString& text) {
    const double rate = slowRateOf(text);
    return rate > 0.0 ? static_cast<uint64_t>(std::llround(1e6 / (rate * 30.0))) : 0;
}

void SettingDisplayItem::markValid(NrComboBox* box, bool valid) {
    box->updateNrComboBoxBaseStyleSheet(QStringLiteral("border"), valid ? QStringLiteral("border: 1px solid #004B6A;")
                                                                        : QStringLiteral("border: 1px solid #FF6058;"));
    box->setBorderColor(valid ? QStringLiteral("#D7E7EE") : QStringLiteral("#FFDAD8"));
}

void SettingDisplayItem::markIdle(NrComboBox* box) {
    box->updateNrComboBoxBaseStyleSheet(QStringLiteral("border"), QStringLiteral("border: 1px solid #A7A7A7;"));
}

void SettingDisplayItem::slotAccumulationTimeTextChanged(const QString& text) {
    const uint64_t us = convertToMicroseconds(text);
    markValid(ui->widget_combobox_accumulation_time, us > 0 && us <= kMaxAccumulationUs);
}

void SettingDisplayItem::slotAccumulationTimeTextEditFinished() {
    NrComboBox* box = ui->widget_combobox_accumulation_time;
    QLineEdit* edit = box->getNrComboBoxBase()->lineEdit();
    const QString text = edit->text();
    const uint64_t us = convertToMicroseconds(text);
    if (us == 0 || us > kMaxAccumulationUs)
        return;
    const int cursor = edit->cursorPosition();
    const QString suffixed = withUnit(text);
    if (suffixed != text) {
        const QSignalBlocker block(edit); // the suffix is not a new edit
        edit->setText(suffixed);
        edit->setCursorPosition(cursor);
    }
    markIdle(box);
    // Return, the list and leaving the field may all finish the same edit: report a value once.
    if (us == lastAccumulationUs)
        return;
    lastAccumulationUs = us;
    emit signalCumulativeTimeChanged(us);
}

void SettingDisplayItem::slotFrameRateTextChanged(const QString& text) {
    markValid(ui->widget_combobox_frame_rate, frameStepOf(text) > 0);
}

void SettingDisplayItem::slotFrameRateEditTextFinished() {
    NrComboBox* box = ui->widget_combobox_frame_rate;
    const QString text = box->getNrComboBoxBase()->lineEdit()->text();
    const uint64_t step = frameStepOf(text);
    if (step == 0)
        return;
    markIdle(box);
    if (step == frameStepOf(lastRate))
        return;
    lastRate = text;
    emit signalFpsChanged(displayRateOf(text)); // 0 below 1/30: a rate that cannot be said in whole frames
    emit signalFrameStepChanged(step);
}
