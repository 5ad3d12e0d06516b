// The consoles under load: a flood of clicks while frames go out, and a device
// that replies as fast as the line takes it for a minute while a pattern runs.
#include "cases.h"
#include "dio/form1.h"
#include "frames.h"
#include "module1.h"
#include "ostrel/form1.h"
#include "testapp.h"
#include "twoports.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <poll.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// Freed blocks wait in a quarantine of 256 MiB by default, which would read as
// growth here; a small one keeps resident memory close to what the console holds.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=4";
}
#endif

using namespace Reliability;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kWarmUpMs = 10000;

// Resident memory of this process.
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> pages = statm.readAll().split(' ');
    return pages.value(1).toLongLong() * ::sysconf(_SC_PAGESIZE);
}

// Writes every byte value in turn to the device end as fast as it takes them,
// from a thread of its own, until destroyed.
class Flood {
public:
    explicit Flood(int deviceEnd)
        : m_thread([this, deviceEnd] { run(deviceEnd); })
    {
    }
    ~Flood()
    {
        m_stop = true;
        m_thread.join();
    }
    qint64 written() const { return m_written; }

private:
    void run(int deviceEnd)
    {
        QByteArray block(4096, 0);
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = char(i);
        while (!m_stop) {
            pollfd writable{deviceEnd, POLLOUT, 0};
            if (::poll(&writable, 1, 50) <= 0)
                continue;
            const ssize_t n = ::write(deviceEnd, block.constData(), size_t(block.size()));
            if (n > 0)
                m_written += n;
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_written{0};
    std::thread m_thread;
};

// How far apart on the stack the clicks of `buttons` are delivered: a queue
// keeps them at one depth, nesting pushes each one deeper.
struct ClickDepth {
    explicit ClickDepth(std::initializer_list<QPushButton *> buttons)
    {
        for (QPushButton *button : buttons)
            QObject::connect(button, &QPushButton::clicked, button, [this] { record(); });
    }
    Q_NEVER_INLINE void record()
    {
        const auto here = reinterpret_cast<quintptr>(__builtin_frame_address(0));
        deepest = std::min(deepest, here);
        shallowest = std::max(shallowest, here);
        ++clicks;
    }
    quintptr span() const { return clicks ? shallowest - deepest : 0; }

    quintptr deepest = ~quintptr(0);
    quintptr shallowest = 0;
    int clicks = 0;
};

} // namespace

class TestReliabilityLoad : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setUpTestApplication(); }
    void init();
    void cleanup();

    void clicksDuringFramesQueueWithoutNesting();
    void repliesAtFullSpeedKeepMemoryBounded();

private:
    std::unique_ptr<TwoPorts> m_ports;
};

void TestReliabilityLoad::init()
{
    m_ports = std::make_unique<TwoPorts>();
}

void TestReliabilityLoad::cleanup()
{
    Module1::setTickSource({});
    m_ports.reset();
}

void TestReliabilityLoad::clicksDuringFramesQueueWithoutNesting()
{
    ostrel::Form1 form({"ostrel", 2, ReplyVariant::FirstGeneration});
    form.Form_Load();
    form.show();
    const auto box = [&form](const char *name) { return form.findChild<QLineEdit *>(name); };
    box("Text5")->setText(QStringLiteral("1"));
    box("Text2")->setText(QStringLiteral("AB"));
    box("Text3")->setText(QStringLiteral("65"));
    auto *frameButton = form.findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *valueButton = form.findChild<QPushButton *>(QStringLiteral("Command2"));
    ClickDepth depth{frameButton, valueButton};

    // All the clicks arrive in the first wait of the first frame. Each wait is
    // one pass of events, so thousands of frames go out in seconds.
    bool posted = false;
    Module1::setTickSource([&, ticks = quint32(0)]() mutable {
        if (!std::exchange(posted, true)) {
            for (int i = 0; i < kLoadClicks; ++i)
                QMetaObject::invokeMethod(i % 2 ? frameButton : valueButton,
                                          &QAbstractButton::click, Qt::QueuedConnection);
        }
        return ticks += 2;
    });
    QTest::mouseClick(frameButton, Qt::LeftButton);
    Module1::setTickSource({});

    // The value byte makes "A" the data of every frame after it.
    QByteArray expected = Frames::firstGenerationFrame(1, u"AB", 65);
    for (int i = 0; i < kLoadClicks / 2; ++i)
        expected += 'A' + Frames::firstGenerationFrame(1, u"A", 65);
    QVERIFY(m_ports->com2.waitForBytes(expected.size(), 30000));
    QVERIFY(!m_ports->com2.waitForBytes(expected.size() + 1, 50));
    QVERIFY(m_ports->com2.received() == expected); // too long for QCOMPARE to print
    qInfo("%d clicks delivered within %zu bytes of stack", depth.clicks, size_t(depth.span()));
    QCOMPARE(depth.clicks, kLoadClicks + 1);
    QVERIFY2(depth.span() < quintptr(kStackBoundKiB) * 1024,
             qPrintable(QStringLiteral("clicks spread over %1 bytes of stack").arg(depth.span())));
    QCOMPARE(box("Text4")->text(), QStringLiteral("65"));
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

void TestReliabilityLoad::repliesAtFullSpeedKeepMemoryBounded()
{
    dio::Form1 form({"marlo", 2, ReplyVariant::SecondGeneration});
    form.Form_Load();
    form.show();
    QLineEdit *text1 = form.findChild<QLineEdit *>(QStringLiteral("Text1"));
    QLineEdit *text6 = form.findChild<QLineEdit *>(QStringLiteral("Text6"));
    int repliesShown = 0;
    connect(text1, &QLineEdit::textChanged, &form, [&repliesShown] { ++repliesShown; });

    std::unique_ptr<Flood> flood;
    QElapsedTimer clock;
    qint64 baseline = -1, growth = 0;
    QTimer poll;
    poll.setInterval(100);
    connect(&poll, &QTimer::timeout, &form, [&] {
        if (!flood) {
            flood = std::make_unique<Flood>(m_ports->com2.deviceEnd());
            clock.start();
        } else if (baseline < 0 && clock.elapsed() >= kWarmUpMs) {
            baseline = residentBytes();
        } else if (clock.elapsed() >= kFloodSeconds * 1000) {
            growth = residentBytes() - baseline;
            poll.stop();
            form.close();
        }
    });
    poll.start();
    QTest::mouseClick(form.findChild<QPushButton *>(QStringLiteral("Command1")), Qt::LeftButton);
    const qint64 written = flood->written();
    flood.reset();

    const QList<QByteArray> sent = m_ports->com2.frames();
    qInfo("%lld KiB of replies, %d shown, %lld frames sent; resident memory grew by %lld KiB",
          written / 1024, repliesShown, qlonglong(sent.size()), growth / 1024);
    QVERIFY2(growth < kFloodGrowthMiB * kMiB,
             qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth / 1024)));
    QVERIFY2(written > kMiB, qPrintable(QString::number(written)));
    QVERIFY(repliesShown > 100);
    QCOMPARE(text6->text(), QString::number(quint8(text1->text().back().unicode()), 16).toUpper());
    // The pattern went on, every frame whole and in order.
    QVERIFY2(sent.size() >= 10, qPrintable(QString::number(sent.size())));
    for (qsizetype i = 0; i < sent.size(); ++i)
        QCOMPARE(sent[i], Frames::secondGenerationFrame(i % 2 ? u"01DOP100" : u"01DOP1FF"));
    QCOMPARE(m_ports->boxes.seen, QStringList());
}

QTEST_MAIN(TestReliabilityLoad)
#include "tst_reliability_load.moc"
