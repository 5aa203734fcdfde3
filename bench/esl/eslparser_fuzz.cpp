// libFuzzer target: arbitrary bytes through the framer and the JSON event decoder, then through
// the client's whole receive path (a disconnected client, so replies and auth go nowhere).
// Build with clang and -DTESMAR_FUZZ=ON -DTESMAR_SANITIZE=ON; seed it with the recorded frames:
//   eslparser_fuzz -max_len=8192 -runs=1000000 corpus/   (corpus/: events/*.raw, exchanges/*.recv)
#include "esl/esl2.h"
#include "esl/eslparser.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstring>

struct ESL2TestAccess
{
    static void feed(ESL2 &esl, const char *data, int size) { esl.consume(data, size); }
};

namespace {

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "eslparser_fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = [] {
        qInstallMessageHandler(quiet);
        return new QCoreApplication(argc, argv);
    }();
    Q_UNUSED(app)

    // The first byte picks the piece size, so lines and bodies get cut in many places.
    if (size == 0)
        return 0;
    const int piece = 1 + data[0];
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const int length = int(size - 1);

    EslParser parser;
    for (int offset = 0; offset < length;) {
        const int end = qMin(length, offset + piece);
        while (offset < end) {
            bool complete = false;
            const int used = parser.feed(bytes + offset, end - offset, &complete);
            if (used < 0 || used > end - offset)
                __builtin_trap();
            offset += used;
            if (!complete)
                continue;
            ESL2::Message &m = parser.message();
            if (m.contentLength > 0 && m.body.size() != m.contentLength)
                __builtin_trap();
            ESL2::Event event;
            QString eventName;
            QString subclass;
            EslParser::decodeJsonEvent(m.body, &event, &eventName, &subclass);
            m.toText();
            m.clear();
        }
    }

    // The bytes as a JSON body on their own, and through the client with its dispatch.
    ESL2::Event event;
    QString eventName;
    QString subclass;
    EslParser::decodeJsonEvent(QByteArray::fromRawData(bytes, length), &event, &eventName, &subclass);
    ESL2 esl;
    ESL2TestAccess::feed(esl, bytes, length);
    return 0;
}
