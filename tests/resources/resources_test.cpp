// Checks the compiled-in resources the program loads by name: every image is
// present and decodes at the size it is drawn at, in the colour its place on
// screen needs; the window icons and the call animation are complete; both
// sounds have exactly the format their players assume and loop without a click.

#include <QColor>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Dominant colour of an image's opaque pixels.
enum class Tint { White, Grey, Red, Yellow, Green, Accent, Violet, Mixed };

struct Icon
{
    const char *name;
    int size;
    Tint tint;
};

// Everything the program loads from ":/Data", in one place.
const Icon kIcons[] = {
    // user state, plain and for the dispatcher's own row
    {"RedDot.png", 16, Tint::Red},
    {"GreenDot.png", 16, Tint::Green},
    {"VioletDot.png", 16, Tint::Violet},
    {"BlueDot.png", 16, Tint::Accent},
    {"RedDotForUser.png", 16, Tint::Red},
    {"GreenDotForUser.png", 16, Tint::Green},
    {"VioletDotForUser.png", 16, Tint::Violet},
    {"BlueDotForUser.png", 16, Tint::Accent},
    {"branch-closed.png", 16, Tint::Accent},
    {"branch-open.png", 16, Tint::Accent},
    // navigation bar: normal and selected (on the blue bar)
    {"menu_conferences.png", 24, Tint::Accent},
    {"menu_conferences_white.png", 24, Tint::White},
    {"menu_audiologs.png", 24, Tint::Accent},
    {"menu_audiologs_white.png", 24, Tint::White},
    {"menu_settings.png", 24, Tint::Accent},
    {"menu_settings_white.png", 24, Tint::White},
    {"menu_logs.png", 24, Tint::Accent},
    {"menu_logs_white.png", 24, Tint::White},
    {"menu_mic-10.png", 24, Tint::Accent},
    {"menu_mic-mute.png", 24, Tint::Mixed},
    // participant and recording rows
    {"mic-small.png", 24, Tint::Accent},
    {"mic-small-active.png", 24, Tint::Accent},
    {"mic-small-disabled.png", 24, Tint::Mixed},
    {"DisconnectUser.png", 24, Tint::Mixed},
    {"recall.png", 24, Tint::Mixed},
    {"TelephoneCallSmall.png", 24, Tint::Accent},
    {"units_phonecall_white.png", 24, Tint::White},
    // page and dialog buttons
    {"showUnregistered.png", 24, Tint::Accent},
    {"hideUnregistered.png", 24, Tint::Accent},
    {"adduser.png", 24, Tint::Accent},
    {"FilterZoom.png", 24, Tint::Accent},
    {"CloseFilter.png", 24, Tint::Accent},
    {"EditUsersDialog.png", 24, Tint::Accent},
    {"EndSelectedConference.png", 24, Tint::Red},
    {"StartSelectedConference.png", 24, Tint::Accent},
    {"TelephoneCall.png", 24, Tint::Accent},
    {"RecordPlay.png", 24, Tint::Accent},
    {"RecordPause.png", 24, Tint::Accent},
    {"RecordStop.png", 24, Tint::Accent},
    {"ClearTelephoneNumber.png", 24, Tint::Accent},
    {"CloseTelephoneNumber.png", 24, Tint::Mixed},
    {"mute24.png", 24, Tint::Mixed},
    {"logo.png", 256, Tint::Accent},
};
const std::pair<const char *, Tint> kWindowIcons[] = {{"blue.ico", Tint::Accent},
                                                      {"gray.ico", Tint::Grey},
                                                      {"yellow.ico", Tint::Yellow},
                                                      {"red.ico", Tint::Red}};
const char kCallAnimation[] = "call-anim.gif";
const char kAlarm[] = "alarm.wav";
const char kTestSound[] = "toy-mono.raw";
// The sound test opens its file by this literal path (no slash after the colon).
const char kTestSoundPath[] = ":Data/toy-mono.raw";
const qint64 kTestSoundBytes = 477414;

QString resourcePath(const char *name)
{
    return QStringLiteral(":/Data/") + QLatin1String(name);
}

const char *tintName(Tint t)
{
    static const char *const names[] = {"white", "grey",        "red",    "yellow",
                                        "green", "accent blue", "violet", "mixed"};
    return names[int(t)];
}

Tint classify(QColor c)
{
    if (c.hsvSaturation() < 60)
        return c.value() > 225 ? Tint::White : Tint::Grey;
    const int h = c.hsvHue();
    if (h < 20 || h >= 335)
        return Tint::Red;
    if (h >= 35 && h < 70)
        return Tint::Yellow;
    if (h >= 80 && h < 170)
        return Tint::Green;
    if (h >= 180 && h < 240)
        return Tint::Accent;
    if (h >= 260 && h < 335)
        return Tint::Violet;
    return Tint::Mixed;
}

struct Coverage
{
    int opaque = 0;
    int total = 0;
    Tint dominant = Tint::Mixed;
};

Coverage coverage(const QImage &source)
{
    const QImage img = source.convertToFormat(QImage::Format_ARGB32);
    Coverage c;
    std::map<Tint, int> counts;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor px = img.pixelColor(x, y);
            ++c.total;
            if (px.alpha() < 128)
                continue;
            ++c.opaque;
            ++counts[classify(px)];
        }
    }
    int best = 0;
    for (const auto &entry : counts) {
        if (entry.second > best) {
            best = entry.second;
            c.dominant = entry.first;
        }
    }
    return c;
}

QByteArray readResource(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

quint32 le32(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar *>(b.constData()) + at);
}

quint16 le16(const QByteArray &b, int at)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar *>(b.constData()) + at);
}

} // namespace

class ResourcesTest : public QObject
{
    Q_OBJECT

private slots:
    void treeHoldsExactlyTheNamedFiles();
    void iconsDecodeAtTheirSizeAndColour();
    void stateDotsForTheOwnRowDifferFromThePlainOnes();
    void windowIconsCarryThreeSizesInTheirColour();
    void callAnimationLoopsOverSeveralFrames();
    void alarmIsEightBitMonoWaveThatLoopsCleanly();
    void testSoundIsAudibleUnclippedAndLoopsCleanly();
    void everyNameTheSourcesUseIsCompiledIn();
};

void ResourcesTest::treeHoldsExactlyTheNamedFiles()
{
    QSet<QString> expected;
    for (const Icon &icon : kIcons)
        expected.insert(QLatin1String(icon.name));
    for (const auto &ico : kWindowIcons)
        expected.insert(QLatin1String(ico.first));
    for (const char *name : {kCallAnimation, kAlarm, kTestSound})
        expected.insert(QLatin1String(name));

    const QStringList present = QDir(QStringLiteral(":/Data")).entryList(QDir::Files);
    QVERIFY2(!present.isEmpty(), "no resources under :/Data; is tesmar_resources linked in?");
    // Exact, case-sensitive names: a file present under another spelling
    // would still leave the program with a null icon.
    for (const QString &name : expected)
        QVERIFY2(present.contains(name), qPrintable(QStringLiteral("missing :/Data/") + name));
    for (const QString &name : present)
        QVERIFY2(expected.contains(name), qPrintable(QStringLiteral("unexpected :/Data/") + name));
}

void ResourcesTest::iconsDecodeAtTheirSizeAndColour()
{
    for (const Icon &icon : kIcons) {
        const QString path = resourcePath(icon.name);
        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("png"));
        const QImage img = reader.read();
        QVERIFY2(!img.isNull(), qPrintable(path + QStringLiteral(": ") + reader.errorString()));
        QCOMPARE(img.size(), QSize(icon.size, icon.size));
        // Drawn over coloured rows and bars, so the background must stay transparent.
        QVERIFY2(img.hasAlphaChannel(), icon.name);

        const Coverage c = coverage(img);
        const double share = double(c.opaque) / c.total;
        QVERIFY2(share > 0.05, qPrintable(QStringLiteral("%1 is almost empty (%2)").arg(path).arg(share)));
        QVERIFY2(share < 0.99, qPrintable(QStringLiteral("%1 lost its transparency").arg(path)));
        if (icon.tint != Tint::Mixed) {
            QVERIFY2(c.dominant == icon.tint, qPrintable(QStringLiteral("%1 is mostly %2, expected %3")
                                                             .arg(path, QLatin1String(tintName(c.dominant)),
                                                                  QLatin1String(tintName(icon.tint)))));
        }
    }
}

void ResourcesTest::stateDotsForTheOwnRowDifferFromThePlainOnes()
{
    // The own row is told apart only by its icon, so the two variants of one
    // state must look different while keeping the state's colour.
    for (const char *state : {"Red", "Green", "Violet", "Blue"}) {
        const QString plainPath = QStringLiteral(":/Data/%1Dot.png").arg(QLatin1String(state));
        const QString ownPath = QStringLiteral(":/Data/%1DotForUser.png").arg(QLatin1String(state));
        const QImage plain(plainPath);
        const QImage own(ownPath);
        QVERIFY2(!plain.isNull() && !own.isNull(), state);
        QVERIFY2(plain.convertToFormat(QImage::Format_ARGB32) != own.convertToFormat(QImage::Format_ARGB32),
                 state);
        QCOMPARE(coverage(own).dominant, coverage(plain).dominant);
    }
    // And the four states must not share a colour.
    QSet<int> tints;
    for (const char *state : {"Red", "Green", "Violet", "Blue"})
        tints.insert(
            int(coverage(QImage(QStringLiteral(":/Data/%1Dot.png").arg(QLatin1String(state)))).dominant));
    QCOMPARE(tints.size(), 4);
}

void ResourcesTest::windowIconsCarryThreeSizesInTheirColour()
{
    const QByteArray formats = QImageReader::supportedImageFormats().join(' ');
    if (!QImageReader::supportedImageFormats().contains("ico"))
        QSKIP(qPrintable(QStringLiteral("no ICO image plugin (formats: %1)").arg(QLatin1String(formats))));

    for (const auto &ico : kWindowIcons) {
        const QString path = resourcePath(ico.first);
        // Header: reserved 0, type 1 (icon), three directory entries.
        const QByteArray bytes = readResource(path);
        QVERIFY2(bytes.size() > 6 + 3 * 16, ico.first);
        QCOMPARE(le16(bytes, 0), quint16(0));
        QCOMPARE(le16(bytes, 2), quint16(1));
        QCOMPARE(le16(bytes, 4), quint16(3));

        QImageReader reader(path);
        QCOMPARE(reader.format(), QByteArray("ico"));
        QCOMPARE(reader.imageCount(), 3);
        QSet<int> sizes;
        for (int i = 0; i < reader.imageCount(); ++i) {
            QVERIFY(reader.jumpToImage(i));
            const QImage img = reader.read();
            QVERIFY2(!img.isNull(), qPrintable(path + QStringLiteral(": ") + reader.errorString()));
            QCOMPARE(img.width(), img.height());
            sizes.insert(img.width());
            // The state is read from the icon's colour at every size.
            const Tint dominant = coverage(img).dominant;
            QVERIFY2(dominant == ico.second, qPrintable(QStringLiteral("%1 at %2 px is mostly %3")
                                                            .arg(path)
                                                            .arg(img.width())
                                                            .arg(QLatin1String(tintName(dominant)))));
        }
        QCOMPARE(sizes, (QSet<int>{16, 32, 48}));
    }
}

void ResourcesTest::callAnimationLoopsOverSeveralFrames()
{
    QImageReader reader(resourcePath(kCallAnimation));
    QCOMPARE(reader.format(), QByteArray("gif"));
    QVERIFY(reader.supportsAnimation());
    // Shown for the whole time a call is ringing, so it must repeat forever.
    QCOMPARE(reader.loopCount(), -1);

    QList<QImage> frames;
    for (QImage frame = reader.read(); !frame.isNull(); frame = reader.read()) {
        QCOMPARE(frame.size(), QSize(24, 24));
        const int delay = reader.nextImageDelay();
        QVERIFY2(delay >= 50 && delay <= 1000, qPrintable(QString::number(delay)));
        frames.append(frame.convertToFormat(QImage::Format_ARGB32));
        QVERIFY(frames.size() < 100);
    }
    QVERIFY2(frames.size() > 1, qPrintable(QString::number(frames.size())));
    int distinct = 1;
    for (int i = 1; i < frames.size(); ++i)
        distinct += frames.at(i) != frames.at(i - 1) ? 1 : 0;
    QVERIFY2(distinct > 2, "the frames hardly change");
    for (const QImage &frame : frames) {
        const Coverage c = coverage(frame);
        QVERIFY(c.opaque > c.total / 20);
        QVERIFY2(c.opaque < c.total, "frame lost its transparency");
    }
}

void ResourcesTest::alarmIsEightBitMonoWaveThatLoopsCleanly()
{
    const QByteArray wav = readResource(resourcePath(kAlarm));
    QVERIFY(wav.size() > 44);
    QCOMPARE(wav.left(4), QByteArray("RIFF"));
    QCOMPARE(le32(wav, 4), quint32(wav.size() - 8));
    QCOMPARE(wav.mid(8, 4), QByteArray("WAVE"));

    // Walk the chunks; the decoder needs "fmt " before "data".
    int pos = 12;
    bool haveFormat = false;
    QByteArray samples;
    while (pos + 8 <= wav.size()) {
        const QByteArray id = wav.mid(pos, 4);
        const quint32 len = le32(wav, pos + 4);
        QVERIFY2(pos + 8 + qint64(len) <= wav.size(), id.constData());
        if (id == "fmt ") {
            QVERIFY(len >= 16);
            QCOMPARE(le16(wav, pos + 8), quint16(1));      // PCM
            QCOMPARE(le16(wav, pos + 10), quint16(1));     // mono
            QCOMPARE(le32(wav, pos + 12), quint32(11025)); // sample rate
            QCOMPARE(le32(wav, pos + 16), quint32(11025)); // bytes per second
            QCOMPARE(le16(wav, pos + 20), quint16(1));     // block align
            QCOMPARE(le16(wav, pos + 22), quint16(8));     // bits per sample
            haveFormat = true;
        } else if (id == "data") {
            QVERIFY2(haveFormat, "data chunk before fmt chunk");
            samples = wav.mid(pos + 8, int(len));
        }
        pos += 8 + int(len) + int(len & 1);
    }
    QVERIFY(haveFormat);
    const double seconds = samples.size() / 11025.0;
    QVERIFY2(seconds >= 0.5 && seconds <= 2.0, qPrintable(QString::number(seconds)));

    // 8-bit WAVE is unsigned with silence at 128.
    int peak = 0;
    for (char s : samples)
        peak = std::max(peak, std::abs(int(uchar(s)) - 128));
    QVERIFY2(peak >= 64, "alarm too quiet to be noticed");
    // Replayed back to back while a warning is present: both ends sit at silence.
    QVERIFY(std::abs(int(uchar(samples.front())) - 128) <= 4);
    QVERIFY(std::abs(int(uchar(samples.back())) - 128) <= 4);
}

void ResourcesTest::testSoundIsAudibleUnclippedAndLoopsCleanly()
{
    QFile f(QString::fromLatin1(kTestSoundPath));
    QVERIFY2(f.open(QIODevice::ReadOnly), kTestSoundPath);
    QCOMPARE(f.size(), kTestSoundBytes);
    const QByteArray raw = f.readAll();
    QCOMPARE(raw, readResource(resourcePath(kTestSound)));

    const int count = raw.size() / 2;
    const uchar *p = reinterpret_cast<const uchar *>(raw.constData());
    double sum = 0;
    double squares = 0;
    int clipped = 0;
    for (int i = 0; i < count; ++i) {
        const qint16 s = qFromLittleEndian<qint16>(p + 2 * i);
        sum += s;
        squares += double(s) * s;
        clipped += (s == 32767 || s == -32768) ? 1 : 0;
    }
    const double rms = std::sqrt(squares / count);
    QVERIFY2(rms > 1000, qPrintable(QStringLiteral("rms %1").arg(rms)));
    QCOMPARE(clipped, 0);
    QVERIFY2(std::abs(sum / count) < 200, "DC offset");
    // Looped by the sound test: starts and ends at silence, so no click at the seam.
    QVERIFY(std::abs(qFromLittleEndian<qint16>(p)) < 256);
    QVERIFY(std::abs(qFromLittleEndian<qint16>(p + raw.size() - 2)) < 256);
}

void ResourcesTest::everyNameTheSourcesUseIsCompiledIn()
{
    const QString root = qEnvironmentVariable("TESMAR_SOURCE_DIR");
    if (root.isEmpty())
        QSKIP("TESMAR_SOURCE_DIR is not set");
    const QRegularExpression literal(QStringLiteral("\":/?Data/([^\"]+)\""));
    int references = 0;
    QDirIterator it(root, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = QDir(root).relativeFilePath(file);
        if (relative.startsWith(QLatin1String(".git/")) || relative.startsWith(QLatin1String("build")))
            continue;
        const QByteArray text = readResource(file);
        auto matches = literal.globalMatch(QString::fromUtf8(text));
        while (matches.hasNext()) {
            const QString name = matches.next().captured(1);
            if (name.contains(QLatin1Char('%')))
                continue; // a template filled in at run time, checked where it is used
            ++references;
            QVERIFY2(
                QFile::exists(QStringLiteral(":/Data/") + name),
                qPrintable(QStringLiteral("%1 loads :/Data/%2, which is not compiled in").arg(file, name)));
        }
    }
    qInfo("%d resource references checked", references);
}

QTEST_GUILESS_MAIN(ResourcesTest)
#include "resources_test.moc"
