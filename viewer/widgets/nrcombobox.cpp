#include "widgets/nrcombobox.h"

#include <QLineEdit>

#include "ui_nrcombobox.h"
#include "widgets/nrstylesheet.h"

NrComboBox::NrComboBox(QWidget* parent) : QWidget(parent), ui(new Ui::NrComboBox) {
    ui->setupUi(this);
    connect(ui->cb_combox_in_widget, &NRComboBoxBase::popupShown, this, [this] { setActive(true); });
    connect(ui->cb_combox_in_widget, &NRComboBoxBase::popupHidden, this, [this] { setActive(false); });
}

NrComboBox::~NrComboBox() {
    // The line edit may finish editing while the children are destroyed; nothing may reach us then.
    disconnect(m_textChanged);
    disconnect(m_editingFinished);
    ui->cb_combox_in_widget->disconnect(this);
    delete ui;
}

NRComboBoxBase* NrComboBox::getNrComboBoxBase() const {
    return ui->cb_combox_in_widget;
}

void NrComboBox::setEditable(bool editable) {
    disconnect(m_textChanged);
    disconnect(m_editingFinished);
    ui->cb_combox_in_widget->setEditable(editable);
    QLineEdit* edit = ui->cb_combox_in_widget->lineEdit();
    if (!editable || !edit)
        return;
    m_textChanged = connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) {
        setActive(true); // first, so a listener may recolour the ring for an invalid text
        emit signalLineEditTextChanged(text);
    });
    m_editingFinished = connect(edit, &QLineEdit::editingFinished, this, [this] {
        emit signalLineEditEditingFinished();
        setActive(false);
    });
}

void NrComboBox::updateNrComboBoxBaseStyleSheet(const QString& property, const QString& declaration) {
    QWidget* box = ui->cb_combox_in_widget;
    box->setStyleSheet(replaceStyleDeclaration(box->styleSheet(), property, declaration));
}

void NrComboBox::setBorderColor(const QString& c) {
    ui->comboBoxWidget->setStyleSheet(replaceStyleDeclaration(
        ui->comboBoxWidget->styleSheet(), QStringLiteral("border"), QStringLiteral("border: 2px solid ") + c + ';'));
}

void NrComboBox::setFontColor(const QString& c) {
    updateNrComboBoxBaseStyleSheet(QStringLiteral("color"), QStringLiteral("color: ") + c + ';');
}

void NrComboBox::on_cb_combox_in_widget_currentTextChanged(const QString&) {
    // The selection itself needs no reaction here; rows listen to the inner combo box directly.
}

void NrComboBox::setActive(bool active) {
    setBorderColor(active ? QStringLiteral("#D7E7EE") : QStringLiteral("transparent"));
    setFontColor(active ? QStringLiteral("#004B6A") : QStringLiteral("#A7A7A7"));
}
