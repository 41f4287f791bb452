#include "settings/settingitembox.h"

#include <QMouseEvent>

#include <algorithm>

#include "ui_settingitembox.h"
#include "widgets/nrstylesheet.h"

SettingItemBox::SettingItemBox(QWidget* parent) : QWidget(parent), ui(new Ui::SettingItemBox) {
    ui->setupUi(this);
    ui->widget_setting_box_title->installEventFilter(this);
    ui->widget_setting_box_title->setCursor(Qt::PointingHandCursor);
    setFoldStatus(true);
}

bool SettingItemBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->widget_setting_box_title)
        return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress)
        return static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && ui->widget_setting_box_title->rect().contains(mouse->pos())) {
            ui->pb_fold->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QSize SettingItemBox::minimumSizeHint() const {
    QSize hint = QWidget::minimumSizeHint();
    int rows = 0;
    const QLayout* container = ui->verticalLayout_container;
    for (int i = 0; i < container->count(); ++i)
        if (const QWidget* row = container->itemAt(i)->widget())
            rows = std::max(rows, row->minimumSizeHint().width());
    const QMargins m = container->contentsMargins();
    hint.setWidth(std::max({hint.width(), ui->widget_setting_box_title->minimumSizeHint().width(),
                            rows + m.left() + m.right()}));
    return hint;
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
