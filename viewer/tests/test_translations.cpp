// Every tr() text of the viewer (code and forms) must have a finished Chinese entry, and the
// English file must know it too. lupdate scans the sources into a temporary file for comparison.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>

namespace {

struct Entry {
    QString context;
    QString source;
    QString translation;
    bool finished = false;
};

std::vector<Entry> readTs(const QString& path) {
    std::vector<Entry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    QXmlStreamReader xml(&file);
    QString context;
    Entry current;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            current = Entry{context, {}, {}, false};
        } else if (xml.name() == QLatin1String("source")) {
            current.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            const QString type = xml.attributes().value(QLatin1String("type")).toString();
            current.finished = type.isEmpty();
            current.translation = xml.readElementText();
            entries.push_back(current);
        }
    }
    return entries;
}

QSet<QString> finishedKeys(const std::vector<Entry>& entries) {
    QSet<QString> keys;
    for (const Entry& e : entries)
        if (e.finished && !e.translation.isEmpty())
            keys.insert(e.context + QLatin1String("::") + e.source);
    return keys;
}

} // namespace

TEST(Translations, EveryTextHasAChineseEntry) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString scanned = tmp.path() + "/scan.ts";
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(LUPDATE_EXECUTABLE),
                  {QStringLiteral("-silent"), QStringLiteral("-locations"), QStringLiteral("none"),
                   QStringLiteral(NORVALE_SOURCE_DIR "/viewer"), QStringLiteral("-ts"), scanned});
    ASSERT_TRUE(lupdate.waitForFinished(60000));
    ASSERT_EQ(lupdate.exitCode(), 0) << lupdate.readAll().constData();

    const std::vector<Entry> sources = readTs(scanned);
    ASSERT_GT(sources.size(), 20u) << "lupdate found too few texts; is the scan path right?";
    const QSet<QString> zh = finishedKeys(readTs(NORVALE_SOURCE_DIR "/viewer/resources/app_zh.ts"));
    const QSet<QString> en = finishedKeys(readTs(NORVALE_SOURCE_DIR "/viewer/resources/app_en.ts"));
    for (const Entry& e : sources) {
        const QString key = e.context + QLatin1String("::") + e.source;
        EXPECT_TRUE(zh.contains(key)) << "no Chinese entry: " << key.toStdString();
        EXPECT_TRUE(en.contains(key)) << "no English entry: " << key.toStdString();
    }
}

TEST(Translations, ChineseEntriesAreChinese) {
    for (const Entry& e : readTs(NORVALE_SOURCE_DIR "/viewer/resources/app_zh.ts")) {
        bool han = false;
        for (const QChar c : e.translation)
            han = han || (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF);
        EXPECT_TRUE(han) << e.context.toStdString() << "::" << e.source.toStdString();
    }
}
