#include "settings/settingbasewithcombobox.h"

#include "Utility/Utility.h"
#include "ui_settingbasewithcombobox.h"
#include "widgets/nrcombobox.h"
#include "widgets/nrcomboboxbase.h"
#include "widgets/nrtooltip.h"

SettingBaseWithComboBox::SettingBaseWithComboBox(std::string name, QWidget* parent)
    : QWidget(parent), ui(new Ui::SettingBaseWithComboBox) {
    ui->setupUi(this);
    ui->lb_set_item_name->setText(QString::fromStdString(convertToUppercase(name)));
    ui->cb_item->setEditable(false);
    connect(ui->cb_item->getNrComboBoxBase(), &QComboBox::currentTextChanged, this,
            &SettingBaseWithComboBox::cbCurrentTextChanged);
}

SettingBaseWithComboBox::~SettingBaseWithComboBox() {
    ui->cb_item->getNrComboBoxBase()->disconnect(this);
    delete ui;
}

std::string SettingBaseWithComboBox::name() const {
    return convertToLowercase(ui->lb_set_item_name->text().toStdString());
}

NrComboBox* SettingBaseWithComboBox::comboBox() const {
    return ui->cb_item;
}

void SettingBaseWithComboBox::addItem(const QString& text) {
    ui->cb_item->getNrComboBoxBase()->addItem(text);
}

void SettingBaseWithComboBox::setToolTip(const QString& text) {
    auto* tip = new NrToolTip(text, 2, this);
    tip->anchorTarget(ui->cb_item);
}

void SettingBaseWithComboBox::slotItemValueChanged(std::string itemName, std::string value) {
    if (itemName == name())
        ui->cb_item->getNrComboBoxBase()->setCurrentText(QString::fromStdString(value));
}

void SettingBaseWithComboBox::cbCurrentTextChanged(const QString& text) {
    emit signalItemValueChanged(name(), text.toStdString());
}
