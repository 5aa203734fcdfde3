// Checks the compiled-in resources the program loads by name: every image is
// present and decodes at the size it is drawn at, the state dots keep their
// colours, the window icons and the call animation are complete, and both
// sounds have the format their players assume.

#include <QDirIterator>
#include <QImageReader>
#include <QRegularExpression>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <map>

namespace {

// Every image the program loads from ":/Data" (".png" left off), by the size it is drawn at.
const std::pair<int, const char *> kImages[] = {
    {16, "RedDot GreenDot VioletDot BlueDot RedDotForUser GreenDotForUser VioletDotForUser "
         "BlueDotForUser branch-closed branch-open"},
    {24, "menu_conferences menu_conferences_white menu_audiologs menu_audiologs_white menu_settings "
         "menu_settings_white menu_logs menu_logs_white menu_mic-10 menu_mic-mute mic-small "
         "mic-small-active mic-small-disabled DisconnectUser recall TelephoneCallSmall "
         "units_phonecall_white showUnregistered hideUnregistered adduser FilterZoom CloseFilter "
         "EditUsersDialog EndSelectedConference StartSelectedConference TelephoneCall RecordPlay "
         "RecordPause RecordStop ClearTelephoneNumber CloseTelephoneNumber mute24"},
    {256, "logo"}};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 le(const QByteArray &b, int at, int bytes = 2)
{
    const auto *p = reinterpret_cast<const uchar *>(b.constData()) + at;
    return bytes == 2 ? qFromLittleEndian<quint16>(p) : qFromLittleEndian<quint32>(p);
}

// The colour most of an image's opaque pixels have.
QString dominantColour(const QImage &image)
{
    std::map<QString, int> counts;
    const QImage img = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            const int h = c.hsvSaturation() < 60 ? -1 : c.hsvHue();
            if (c.alpha() >= 128)
                ++counts[h < 0                ? "grey"
                         : h < 20 || h >= 335 ? "red"
                         : h < 70             ? "yellow"
                         : h < 170            ? "green"
                         : h < 250            ? "blue"
                                              : "violet"];
        }
    }
    const auto best = std::max_element(counts.begin(), counts.end(),
                                       [](const auto &a, const auto &b) { return a.second < b.second; });
    return best == counts.end() ? QString() : best->first;
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void imagesDecodeAtTheirSizeWithATransparentBackground()
    {
        for (const auto &group : kImages) {
            for (const QString &name : QString::fromLatin1(group.second).split(QLatin1Char(' '))) {
                QImageReader reader(QStringLiteral(":/Data/%1.png").arg(name));
                const QImage img = reader.read();
                QVERIFY2(!img.isNull(), qPrintable(name + ": " + reader.errorString()));
                QCOMPARE(img.size(), QSize(group.first, group.first));
                // Drawn over coloured rows and bars: a background must stay transparent.
                QVERIFY2(img.hasAlphaChannel(), qPrintable(name));
            }
        }
    }

    void stateDotsKeepTheirColourAndMarkTheOwnRow()
    {
        for (const char *state : {"Red", "Green", "Violet", "Blue"}) {
            const QImage plain(QStringLiteral(":/Data/%1Dot.png").arg(QLatin1String(state)));
            const QImage own(QStringLiteral(":/Data/%1DotForUser.png").arg(QLatin1String(state)));
            QCOMPARE(dominantColour(plain), QString::fromLatin1(state).toLower());
            QCOMPARE(dominantColour(own), QString::fromLatin1(state).toLower());
            // The own row is told apart only by its icon.
            QVERIFY2(plain.convertToFormat(QImage::Format_ARGB32) !=
                         own.convertToFormat(QImage::Format_ARGB32),
                     state);
        }
    }

    void windowIconsCarryThreeSizesInTheirColour()
    {
        const bool decodable = QImageReader::supportedImageFormats().contains("ico");
        const std::pair<const char *, const char *> icons[] = {
            {"blue", "blue"}, {"gray", "grey"}, {"yellow", "yellow"}, {"red", "red"}};
        for (const auto &icon : icons) {
            const QString path = QStringLiteral(":/Data/%1.ico").arg(QLatin1String(icon.first));
            // Header: reserved 0, type 1 (icon), three entries of 16, 32 and 48 px.
            const QByteArray ico = readAll(path);
            QVERIFY2(ico.size() > 6 + 3 * 16, icon.first);
            QCOMPARE(QList<quint32>({le(ico, 0), le(ico, 2), le(ico, 4)}), QList<quint32>({0, 1, 3}));
            QCOMPARE((QSet<int>{ico[6], ico[22], ico[38]}), (QSet<int>{16, 32, 48}));
            // The state is read from the icon's colour.
            QImageReader reader(path);
            QVERIFY(!decodable || reader.imageCount() == 3);
            QVERIFY(!decodable || dominantColour(reader.read()) == QLatin1String(icon.second));
        }
        if (!decodable)
            QSKIP("no ICO image plugin to decode the icons with");
    }

    void callAnimationLoopsOverChangingFrames()
    {
        QImageReader reader(":/Data/call-anim.gif");
        QCOMPARE(reader.format(), QByteArray("gif"));
        QVERIFY(reader.supportsAnimation());
        QCOMPARE(reader.loopCount(), -1); // rings for as long as the call does
        QList<QImage> frames;
        for (QImage frame = reader.read(); !frame.isNull() && frames.size() < 100; frame = reader.read()) {
            QCOMPARE(frame.size(), QSize(24, 24));
            QVERIFY(reader.nextImageDelay() >= 50 && reader.nextImageDelay() <= 1000);
            if (frames.isEmpty() || frames.last() != frame.convertToFormat(QImage::Format_ARGB32))
                frames.append(frame.convertToFormat(QImage::Format_ARGB32));
        }
        QVERIFY2(frames.size() > 2, "the frames hardly change");
    }

    void alarmIsEightBitMonoWaveOfAboutASecond()
    {
        const QByteArray wav = readAll(":/Data/alarm.wav");
        const int fmt = wav.indexOf("fmt "), data = wav.indexOf("data");
        QVERIFY2(wav.size() > 44 && fmt >= 12 && data > fmt, "a decoder needs \"fmt \" before \"data\"");
        QCOMPARE(wav.left(4) + wav.mid(8, 4), QByteArray("RIFFWAVE"));
        QCOMPARE(le(wav, 4, 4), quint32(wav.size() - 8));
        // PCM, mono, 11025 Hz, 11025 bytes/s, 1-byte blocks, 8 bits.
        QCOMPARE(QList<quint32>({le(wav, fmt + 8), le(wav, fmt + 10), le(wav, fmt + 12, 4),
                                 le(wav, fmt + 16, 4), le(wav, fmt + 20), le(wav, fmt + 22)}),
                 QList<quint32>({1, 1, 11025, 11025, 1, 8}));
        const QByteArray samples = wav.mid(data + 8, int(le(wav, data + 4, 4)));
        QCOMPARE(qint64(le(wav, data + 4, 4)), qint64(samples.size())); // the chunk fits the file
        QVERIFY(samples.size() >= 11025 / 2 && samples.size() <= 2 * 11025);
        int peak = 0; // 8-bit WAVE is unsigned with silence at 128
        for (char s : samples)
            peak = std::max(peak, std::abs(int(uchar(s)) - 128));
        QVERIFY2(peak >= 64, "alarm too quiet to be noticed");
    }

    void testSoundIsAudibleAndUnclipped()
    {
        const QByteArray raw = readAll(":/Data/toy-mono.raw");
        QCOMPARE(raw.size(), 477414);
        double squares = 0;
        int clipped = 0;
        for (int i = 0; i + 1 < raw.size(); i += 2) {
            const qint16 s = qint16(le(raw, i));
            squares += double(s) * s;
            clipped += (s == 32767 || s == -32768) ? 1 : 0;
        }
        QVERIFY2(std::sqrt(squares / (raw.size() / 2)) > 1000, "test sound too quiet");
        QCOMPARE(clipped, 0);
    }

    void everyNameTheSourcesUseIsCompiledIn()
    {
        const QString root = qEnvironmentVariable("TESMAR_SOURCE_DIR");
        if (root.isEmpty())
            QSKIP("TESMAR_SOURCE_DIR is not set");
        const QRegularExpression literal(QStringLiteral("\":/?Data/([^\"%]+)\""));
        QDirIterator it(root, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
        int references = 0;
        while (it.hasNext()) {
            const QString file = it.next();
            const QString relative = QDir(root).relativeFilePath(file);
            if (relative.startsWith(".git/") || relative.startsWith("build"))
                continue;
            // A name with '%' is a template filled in at run time, checked where it is used.
            auto matches = literal.globalMatch(QString::fromUtf8(readAll(file)));
            while (matches.hasNext()) {
                const QString name = matches.next().captured(1);
                ++references;
                QVERIFY2(QFile::exists(":/Data/" + name),
                         qPrintable(QString("%1 loads :/Data/%2, not compiled in").arg(file, name)));
            }
        }
        QVERIFY2(references > 20, qPrintable(QString("only %1 names found in the sources").arg(references)));
    }
};

QTEST_GUILESS_MAIN(ResourcesTest)
#include "resources_test.moc"
