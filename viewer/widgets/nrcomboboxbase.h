#pragma once

// Combo box of the setting rows: announces its popup (for the focus ring of NrComboBox), draws its
// list without focus rectangles and ignores the mouse wheel, so scrolling a side panel never
// changes a camera parameter by accident.
//
// Threads: GUI thread only.
#include <QComboBox>
#include <QStyledItemDelegate>

class NoFocusFrameDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class NRComboBoxBase : public QComboBox {
    Q_OBJECT
public:
    explicit NRComboBoxBase(QWidget* parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void popupShown();
    void popupHidden();

protected:
    void wheelEvent(QWheelEvent* event) override;
};
