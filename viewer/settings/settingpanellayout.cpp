#include "settings/settingpanellayout.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

void setBottomSpacer(QVBoxLayout* layout) {
    if (layout->count() > 0) {
        QLayoutItem* last = layout->itemAt(layout->count() - 1);
        if (last->spacerItem())
            delete layout->takeAt(layout->count() - 1);
    }
    layout->addStretch(1);
}

void insertBeforeStretch(QVBoxLayout* layout, QWidget* widget) {
    const int count = layout->count();
    const bool stretchLast = count > 0 && layout->itemAt(count - 1)->spacerItem();
    layout->insertWidget(stretchLast ? count - 1 : count, widget);
    setBottomSpacer(layout);
    widget->show();
    fitPanelWidth(layout);
}

void deleteFromColumn(QVBoxLayout* layout, QWidget* section) {
    if (!section)
        return;
    layout->removeWidget(section);
    delete section;
    layout->update();
    fitPanelWidth(layout);
}

void fitPanelWidth(QVBoxLayout* column) {
    QScrollArea* area = nullptr;
    for (QWidget* w = column->parentWidget(); w && !area; w = w->parentWidget())
        area = qobject_cast<QScrollArea*>(w);
    if (!area)
        return;
    int width = 0;
    for (int i = 0; i < column->count(); ++i) {
        QWidget* item = column->itemAt(i)->widget();
        if (item && !item->isHidden())
            width = std::max(width, item->minimumSizeHint().width());
    }
    const QMargins m = column->contentsMargins();
    // Fixed: the image view takes what is left, and the panel does not grow into empty margins.
    area->setFixedWidth(std::max(kPanelMinWidth, width + m.left() + m.right() + 2 * area->frameWidth()));
}

namespace {

QFrame* blueLine(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setStyleSheet(QStringLiteral("background-color: #004B6A; min-height: 2px;max-height: 2px;"));
    return line;
}

} // namespace

ConfigButtonBar::ConfigButtonBar(QObject* panel, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("widget_config_buttons"));
    setStyleSheet(QStringLiteral(
        "QPushButton { font: 12px \"Noto Sans SC Medium\"; color: #004B6A; background: #FFFFFF;"
        " border: 1px solid #004B6A; border-radius: 3px; }"
        "QPushButton:hover { background: #E1E9ED; }"
        "QPushButton:pressed { background: #004B6A; color: #FFFFFF; }"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(blueLine(this));
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    column->addLayout(row);
    column->addWidget(blueLine(this));

    row->addStretch(1);
    m_default = addButton(QStringLiteral("default_button"), tr("Default"));
    m_refresh = addButton(QStringLiteral("refresh_button"), tr("Refresh"));
    m_import = addButton(QStringLiteral("import_button"), tr("Load"));
    m_export = addButton(QStringLiteral("export_button"), tr("Export"));
    for (QPushButton* b : {m_default, m_refresh, m_import, m_export})
        row->addWidget(b);
    row->addStretch(1);
    // By name: the panels' configuration slots are private and have the same names in each panel.
    connect(m_default, SIGNAL(clicked()), panel, SLOT(slotDefaultConfig()));
    connect(m_refresh, SIGNAL(clicked()), panel, SLOT(slotRefreshConfig()));
    connect(m_import, SIGNAL(clicked()), panel, SLOT(slotLoadConfig()));
    connect(m_export, SIGNAL(clicked()), panel, SLOT(slotExportConfig()));
    hide();
}

void ConfigButtonBar::showIn(QVBoxLayout* column) {
    column->removeWidget(this);
    insertBeforeStretch(column, this);
}

void ConfigButtonBar::removeFrom(QVBoxLayout* column) {
    column->removeWidget(this);
    hide();
    fitPanelWidth(column);
}

QPushButton* ConfigButtonBar::addButton(const QString& objectName, const QString& text) {
    auto* button = new QPushButton(text, this);
    button->setObjectName(objectName);
    button->setFixedSize(68, 26);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
