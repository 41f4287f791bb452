#include "Utility.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QVersionNumber>

#include <cctype>
#include <cstdio>
#include <stdexcept>

#include "norvale/FuncUtils.h"

std::string convertToUppercase(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    bool wordStart = true;
    for (const char c : s) {
        const auto uc = static_cast<unsigned char>(c);
        if (std::isspace(uc) || c == '_') {
            out += c;
            wordStart = true;
        } else if (wordStart && std::isalpha(uc)) {
            out += static_cast<char>(std::toupper(uc));
            wordStart = false;
        } else {
            // A digit at a word start keeps the flag, so "2nd" becomes "2Nd".
            out += c;
        }
    }
    for (char& c : out)
        if (c == '_')
            c = ' ';
    return out;
}

std::string convertToLowercase(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c == ' ')
            c = '_';
    }
    return out;
}

bool ensurePathExists(const QString& path) {
    if (QDir(path).exists())
        return true;
    return QDir().mkpath(path);
}

QString getDirectoryPath(const QString& path) {
    // QDir("") is the working folder; an empty path names no folder at all.
    if (path.isEmpty())
        return QString();
    const QFileInfo info(path);
    if (info.isDir())
        return info.absoluteFilePath();
    if (info.isFile())
        return info.absolutePath();
    const QDir dir(path);
    if (dir.exists())
        return dir.absolutePath();
    const QString parent = info.path();
    if (QFileInfo(parent).isDir())
        return parent;
    qDebug() << "Path does not exist:" << path;
    return QString();
}

namespace {

bool parseVersion(const QString& text, QVersionNumber& out) {
    static const QRegularExpression re(QStringLiteral("V(\\d+(\\.\\d+){0,2})"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch()) {
        qWarning() << "Cannot parse version from:" << text;
        return false;
    }
    // Normalised, so missing segments count as 0 (V1.2 equals V1.2.0).
    out = QVersionNumber::fromString(m.captured(1)).normalized();
    return true;
}

} // namespace

bool isVersionGreaterOrEqual(const QString& a, const QString& b) {
    QVersionNumber va;
    QVersionNumber vb;
    if (!parseVersion(a, va) || !parseVersion(b, vb))
        return false;
    return QVersionNumber::compare(va, vb) >= 0;
}

bool isSameSubnet(const std::string& ip1, const std::string& ip2, const std::string& mask) {
    try {
        const uint32_t a = norvale::stringToIP(ip1);
        const uint32_t b = norvale::stringToIP(ip2);
        const uint32_t m = norvale::stringToIP(mask);
        return ((a ^ b) & m) == 0;
    } catch (const std::exception& e) {
        // Addresses come from cameras and dialogs; a bad one must not end the program.
        qWarning() << "Invalid address in subnet test:" << e.what();
        return false;
    }
}

std::string timestamp2StdString(uint64_t microseconds) {
    const uint64_t minutes = microseconds / 60000000ULL;
    const uint64_t seconds = microseconds / 1000000ULL - minutes * 60;
    const uint64_t micro = microseconds % 1000000ULL;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02llu:%02llu:%06llu", static_cast<unsigned long long>(minutes),
                  static_cast<unsigned long long>(seconds), static_cast<unsigned long long>(micro));
    return buf;
}

std::string second2StdString(uint64_t seconds) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02llu:%02llu:%02llu", static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>((seconds / 60) % 60),
                  static_cast<unsigned long long>(seconds % 60));
    return buf;
}

QImage convertBGRtoRGB(const unsigned char* data, int width, int height) {
    if (width < 1 || height < 1 || data == nullptr)
        return QImage();
    QImage image(width, height, QImage::Format_RGB888);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    for (int y = 0; y < height; ++y) {
        const unsigned char* src = data + rowBytes * static_cast<size_t>(y);
        uchar* dst = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            dst[3 * x] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x];
        }
    }
    return image;
}

QString unusedPath(const QString& path) {
    if (!QFileInfo::exists(path))
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString stem = info.path() + QLatin1Char('/') + info.completeBaseName();
    for (int n = 2;; ++n) {
        const QString candidate = stem + QLatin1Char('_') + QString::number(n) + suffix;
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
}
