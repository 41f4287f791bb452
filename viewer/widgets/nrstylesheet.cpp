#include "widgets/nrstylesheet.h"

#include <QRegularExpression>
#include <QStyle>
#include <QWidget>

QString replaceStyleDeclaration(const QString& styleSheet, const QString& property,
                                const QString& declaration) {
    // A whole property name only: "border" must not eat "border-radius", nor "color" the end of
    // "background-color".
    const QRegularExpression re(QStringLiteral("((?<![-\\w])") + QRegularExpression::escape(property) +
                                QStringLiteral("(?![-\\w])[^;]*;)"));
    QString out = styleSheet;
    const QRegularExpressionMatch m = re.match(out);
    if (m.hasMatch())
        return out.replace(m.capturedStart(1), m.capturedLength(1), declaration);
    if (!out.isEmpty() && !out.endsWith(QLatin1Char(' ')))
        out += QLatin1Char(' ');
    return out + declaration;
}

void setStyleFlag(QWidget* widget, const char* name, bool on) {
    if (widget->property(name).toBool() == on)
        return;
    widget->setProperty(name, on);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}
