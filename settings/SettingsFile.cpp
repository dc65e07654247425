#include "SettingsFile.h"

#include "LegacyCodePage.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <limits>

namespace quobin {

namespace {

const char settingsFileName[] = "quobin.ini";

std::string describe(const QString &path, const QString &what)
{
    return QStringLiteral("%1: %2").arg(path, what).toStdString();
}

// The path as text: UTF-8, keeping a leading U+FEFF (QString::fromUtf8
// would drop it, and a path that begins with one would not read back as it
// was written); bytes that are no UTF-8 in the legacy code page, when the
// system has one.
struct DecodedPath {
    QString text;
    bool inLegacyCodePage = false;
};

DecodedPath decodePath(const char *bytes, qsizetype size)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless
                               | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(QByteArrayView(bytes, size));
    if (!decoder.hasError())
        return {text, false};
    if (std::optional<QString> legacy = legacyCodePage::decode(QByteArrayView(bytes, size)))
        return {*legacy, true};
    return {text, false};
}

// Walks the file content one field at a time.
class FieldReader {
public:
    explicit FieldReader(const QByteArray &content) : m_data(content)
    {
        if (m_data.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }

    qint16 readNumber(const char *name)
    {
        requireField(name);
        skipBlanks();
        const bool negative = peek('-');
        if (negative)
            ++m_pos;
        if (!isDigit())
            throw SettingsError(std::string(name) + " is not a decimal number");
        // The magnitude is capped just above the widest value so that a long
        // run of digits cannot overflow the accumulator.
        const int limit = negative ? -int(std::numeric_limits<qint16>::min())
                                   : int(std::numeric_limits<qint16>::max());
        int magnitude = 0;
        for (; isDigit(); ++m_pos) {
            magnitude = magnitude * 10 + (m_data[m_pos] - '0');
            if (magnitude > limit)
                throw SettingsError(std::string(name) + " does not fit a 16-bit integer");
        }
        skipBlanks();
        if (!endOfField())
            throw SettingsError(std::string(name) + " is not a decimal number");
        skipSeparator();
        return qint16(negative ? -magnitude : magnitude);
    }

    DecodedPath readText(const char *name)
    {
        requireField(name);
        skipBlanks();
        if (peek('"')) {
            const qsizetype start = m_pos + 1;
            const qsizetype close = m_data.indexOf('"', start);
            if (close < 0)
                throw SettingsError(std::string(name) + " has no closing double quote");
            m_pos = close + 1;
            while (!endOfField())
                ++m_pos;
            skipSeparator();
            return decodePath(m_data.constData() + start, close - start);
        }
        const qsizetype start = m_pos;
        while (!endOfField())
            ++m_pos;
        qsizetype end = m_pos;
        while (end > start && isBlank(m_data[end - 1]))
            --end;
        skipSeparator();
        return decodePath(m_data.constData() + start, end - start);
    }

private:
    static bool isBlank(char c) { return c == ' ' || c == '\t'; }
    bool atEnd() const { return m_pos >= m_data.size(); }
    bool peek(char c) const { return !atEnd() && m_data[m_pos] == c; }
    bool isDigit() const { return !atEnd() && m_data[m_pos] >= '0' && m_data[m_pos] <= '9'; }
    bool endOfField() const { return atEnd() || peek(',') || peek('\r') || peek('\n'); }

    void requireField(const char *name) const
    {
        if (atEnd())
            throw SettingsError(std::string("the file ends before ") + name);
    }

    void skipBlanks()
    {
        while (!atEnd() && isBlank(m_data[m_pos]))
            ++m_pos;
    }

    // Steps over the comma or line end (CR LF, LF or CR) that ended a field.
    void skipSeparator()
    {
        if (atEnd())
            return;
        const char c = m_data[m_pos++];
        if (c == '\r' && peek('\n'))
            ++m_pos;
    }

    const QByteArray &m_data;
    qsizetype m_pos = 0;
};

} // namespace

QString settingsFilePath(const QString &programFolder)
{
#ifdef Q_OS_WIN
    // The file name goes straight after the folder, whatever it ends with.
    return programFolder + QLatin1Char('\\') + QLatin1String(settingsFileName);
#else
    // A backslash is an ordinary character here, so join with "/", without
    // doubling one the folder already ends with (the root folder "/").
    if (programFolder.endsWith(QLatin1Char('/')))
        return programFolder + QLatin1String(settingsFileName);
    return programFolder + QLatin1Char('/') + QLatin1String(settingsFileName);
#endif
}

StoredSettings parseSettings(const QByteArray &content)
{
    FieldReader reader(content);
    StoredSettings settings;
    settings.comPortPosition = reader.readNumber("the COM port position");
    settings.baudRatePosition = reader.readNumber("the baud-rate position");
    const DecodedPath path = reader.readText("the firmware path");
    settings.firmwarePath = path.text;
    settings.pathInLegacyCodePage = path.inLegacyCodePage;
    return settings;
}

QByteArray formatSettings(const StoredSettings &settings)
{
    QByteArray content;
    content += QByteArray::number(settings.comPortPosition) + "\r\n";
    content += QByteArray::number(settings.baudRatePosition) + "\r\n";
    std::optional<QByteArray> path;
    if (settings.pathInLegacyCodePage)
        path = legacyCodePage::encode(settings.firmwarePath);
    content += '"' + path.value_or(settings.firmwarePath.toUtf8()) + "\"\r\n";
    return content;
}

bool isListPosition(qint16 pos, int count)
{
    return pos >= -1 && pos < count;
}

StoredSettings readSettingsFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        // A dangling link is there, only broken: it is not a missing file.
        const QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            throw SettingsFileMissing(describe(path, file.errorString()));
        throw SettingsError(describe(path, file.errorString()));
    }
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw SettingsError(describe(path, file.errorString()));
    try {
        return parseSettings(content);
    } catch (const SettingsError &error) {
        throw SettingsError(describe(path, QString::fromStdString(error.what())));
    }
}

void writeSettingsFile(const QString &path, const StoredSettings &settings)
{
    // QSaveFile writes a temporary file beside the target and renames it over
    // the target only once everything is written and synced, so a failure at
    // any point leaves the old file as it was. Writing in place when the
    // temporary file cannot be created would give that up: never allow it.
    //
    // Unbuffered: with a write buffer, a write that comes up short (disk
    // full, file-size limit) fails only inside the flush at commit time, and
    // QSaveFile (Qt 6.4) does not count a failed flush as an error; it would
    // rename the short file over the old one. Written directly, the short
    // count shows here and the temporary file is discarded.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        throw SettingsError(describe(path, file.errorString()));
    const QByteArray content = formatSettings(settings);
    if (file.write(content) != content.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw SettingsError(describe(path, reason));
    }
    if (!file.commit())
        throw SettingsError(describe(path, file.errorString()));
}

} // namespace quobin
