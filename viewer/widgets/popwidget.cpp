#include "widgets/popwidget.h"

#include "ui_popwidget.h"

PopWidget::PopWidget(QWidget* parent) : QWidget(parent), ui(new Ui::PopWidget) {
    ui->setupUi(this);
}

PopWidget::~PopWidget() {
    delete ui;
}

void PopWidget::addWidget(QWidget* widget) {
    ui->verticalLayout_content->addWidget(widget);
}
