#include "widgets/nrlineedit.h"

#include "widgets/nrstylesheet.h"

NrLineEditBase::NrLineEditBase(QWidget* parent) : QLineEdit(parent) {
    setStyleSheet(QStringLiteral("QLineEdit{    font: 12px \"Noto Sans SC Medium\";    color:#555555;    "
                                 "border: 1px solid #ACACAC;    border-radius: 3px;    }"));
    setAlignment(Qt::AlignCenter);
}

void NrLineEditBase::setBorderColor(const QString& c) {
    setStyleSheet(replaceStyleDeclaration(styleSheet(), QStringLiteral("border"),
                                          QStringLiteral("border: 1px solid ") + c + QLatin1Char(';')));
}

void NrLineEditBase::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    setBorderColor(QStringLiteral("#004B6A"));
    emit signalMouseHoverd(true);
}

void NrLineEditBase::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    setBorderColor(QStringLiteral("#ACACAC"));
    emit signalMouseHoverd(false);
}
