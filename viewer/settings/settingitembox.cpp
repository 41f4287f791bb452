#include "settings/settingitembox.h"

#include "ui_settingitembox.h"
#include "widgets/nrstylesheet.h"

SettingItemBox::SettingItemBox(QWidget* parent) : QWidget(parent), ui(new Ui::SettingItemBox) {
    ui->setupUi(this);
    setFoldStatus(true);
}

SettingItemBox::~SettingItemBox() {
    delete ui;
}

void SettingItemBox::setBoxTitle(const QString& title) {
    ui->lb_setting_box_title_text->setText(title);
}

void SettingItemBox::on_pb_fold_clicked(bool folded) {
    ui->widget_container->setVisible(!folded);
    QWidget* bar = ui->widget_setting_box_title;
    QString style = bar->styleSheet();
    style = replaceStyleDeclaration(style, QStringLiteral("border-left"),
                                    folded ? QStringLiteral("border-left: 0px solid #004B6A;")
                                           : QStringLiteral("border-left: 2px solid #004B6A;"));
    style = replaceStyleDeclaration(style, QStringLiteral("background"),
                                    folded ? QStringLiteral("background: #F4F5F7;") : QStringLiteral("background: #E1E9ED;"));
    bar->setStyleSheet(style);
}

void SettingItemBox::setFoldStatus(bool folded) {
    on_pb_fold_clicked(folded);
    ui->pb_fold->setChecked(folded);
}

void SettingItemBox::addWidget(QWidget* widget) {
    ui->verticalLayout_container->addWidget(widget);
    relayout(widget);
}

void SettingItemBox::insertWidget(QWidget* widget, int index) {
    ui->verticalLayout_container->insertWidget(index, widget);
    relayout(widget);
}

void SettingItemBox::relayout(QWidget* added) {
    added->adjustSize();
    ui->widget_container->adjustSize();
    adjustSize();
    ui->widget_container->update();
    update();
}
