#include "widgets/nrcomboboxbase.h"

#include <QApplication>
#include <QListView>
#include <QWheelEvent>

void NoFocusFrameDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem plain(option);
    plain.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, plain, index);
}

NRComboBoxBase::NRComboBoxBase(QWidget* parent) : QComboBox(parent) {
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
    auto* list = new QListView(this);
    list->setItemDelegate(new NoFocusFrameDelegate(list));
    setView(list);
    // The standard popup container draws a drop shadow that does not match the flat panels.
    QWidget* container = view()->parentWidget();
    if (container && container->metaObject()->className() == QByteArray("QComboBoxPrivateContainer"))
        container->setWindowFlag(Qt::NoDropShadowWindowHint, true);
}

void NRComboBoxBase::showPopup() {
    emit popupShown();
    QComboBox::showPopup();
    if (QWidget* container = view()->parentWidget())
        container->move(container->x(), container->y() + 2);
}

void NRComboBoxBase::hidePopup() {
    emit popupHidden();
    QComboBox::hidePopup();
}

void NRComboBoxBase::wheelEvent(QWheelEvent* event) {
    event->accept();
}
