#include "startup.h"

#include <QApplication>
#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QTextStream>
#include <QTranslator>

const char* const kViewerVersion = "1.2.2";

void installLanguage(const QString& language) {
    // Owned by the application, so it stays installed until the program ends.
    auto* translator = new QTranslator(qApp);
    const QString file = language == QLatin1String("zh") ? QStringLiteral(":/app_zh.qm")
                                                         : QStringLiteral(":/app_en.qm");
    if (!translator->load(file)) {
        qDebug() << "Load language failed.";
        delete translator;
        return;
    }
    if (!QCoreApplication::installTranslator(translator))
        qDebug() << "install translator failed.";
}

QString installApplicationFont() {
    const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/font/NotoSansSC-Medium.ttf"));
    if (id == -1) {
        qDebug() << "Failed to load font!";
        return QString();
    }
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (families.isEmpty())
        return QString();
    QFont font(families.first());
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
    return families.first();
}

void nrMessageHandler(QtMsgType, const QMessageLogContext&, const QString& message) {
    const QByteArray text = message.toLocal8Bit();
    const QByteArray stamp =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toLocal8Bit();
    QFile file(QStringLiteral("debug.log"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream out(&file);
    out << stamp << ": " << text << "\n";
}

namespace {
const QString kCameraOption = QStringLiteral("--camera");
}

QString recordingFromArguments(const QStringList& arguments) {
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments.at(i);
        if (arg == kCameraOption)
            ++i; // its serial is not a file
        else if (!arg.isEmpty() && !arg.startsWith(QLatin1Char('-')))
            return arg;
    }
    return QString();
}

QString cameraFromArguments(const QStringList& arguments) {
    const int i = arguments.indexOf(kCameraOption);
    return i > 0 && i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
}
