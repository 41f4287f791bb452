#pragma once

// A combo box with a focus ring: the frame comboBoxWidget turns light blue while the popup is open
// or the text is being edited, and the text turns blue; both return to grey afterwards.
//
// Threads: GUI thread only.
#include <QMetaObject>
#include <QWidget>

namespace Ui {
class NrComboBox;
}
class NRComboBoxBase;

class NrComboBox : public QWidget {
    Q_OBJECT
public:
    explicit NrComboBox(QWidget* parent = nullptr);
    ~NrComboBox() override;

    NRComboBoxBase* getNrComboBoxBase() const;
    // Editable: the line edit's text changes and editing-finished are relayed and light the ring.
    void setEditable(bool editable);
    // Replaces the inner combo box's declaration of `property` by `declaration`.
    void updateNrComboBoxBaseStyleSheet(const QString& property, const QString& declaration);
    // Colour of the 2 px focus ring.
    void setBorderColor(const QString& c);
    void setFontColor(const QString& c);

signals:
    void signalLineEditTextChanged(QString);
    void signalLineEditEditingFinished();

private slots:
    void on_cb_combox_in_widget_currentTextChanged(const QString& text);

private:
    void setActive(bool active);

    Ui::NrComboBox* ui;
    QMetaObject::Connection m_textChanged;
    QMetaObject::Connection m_editingFinished;
};
