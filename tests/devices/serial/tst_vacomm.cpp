// SPDX-License-Identifier: Apache-2.0
// The serial port component on pseudo-terminal pairs: the test holds the master side.

#include "devices/serial/platform/VaComm.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

struct PtyPair {
    int Master = -1;
    int Holder = -1; // a second slave descriptor, so closing the component hangs nothing up
    QString Path;

    PtyPair() {
        char name[128] = {};
        if (::openpty(&Master, &Holder, name, nullptr, nullptr) == 0) {
            Path = QString::fromLocal8Bit(name);
            ::fcntl(Master, F_SETFL, O_NONBLOCK);
        }
    }
    ~PtyPair() {
        CloseMaster();
        if (Holder >= 0)
            ::close(Holder);
    }
    void CloseMaster() {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }
    void Send(const QByteArray& bytes) const {
        QCOMPARE(::write(Master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }
    // What the component wrote, once `n` bytes are there (or the safety net ran out).
    QByteArray Receive(int n) const {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < 10000) {
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char buf[4096];
                const ssize_t r = ::read(Master, buf, sizeof buf);
                if (r > 0)
                    got.append(buf, r);
            }
        }
        return got;
    }
};

QByteArray Pattern(int n) {
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char(i * 7 + 3);
    return b;
}

QString Raised(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const EVaCommError& e) {
        return e.Message();
    }
    return QStringLiteral("(nothing raised)");
}

std::unique_ptr<TVaComm> Port(const QString& path) {
    auto c = std::make_unique<TVaComm>();
    c->SetDeviceName(path);
    c->ClosePause = 0;
    return c;
}

} // namespace

class TestVaComm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openCloseAndSettingsWhileOpen() {
        PtyPair pty;
        QVERIFY(!pty.Path.isEmpty());
        termios before{};
        QVERIFY(::tcgetattr(pty.Holder, &before) == 0);
        QVERIFY(before.c_lflag & ECHO);

        TVaComm c;
        c.SetDeviceName(pty.Path);
        QStringList events;
        c.OnOpen = [&](TVaComm*) { events << QStringLiteral("open"); };
        c.OnClose = [&](TVaComm*) { events << QStringLiteral("close"); };
        c.OpenPort();
        QVERIFY(c.IsOpen());
        QCOMPARE(c.ThreadCount(), 2);
        QCOMPARE(c.EventMask(), EV_ERR | EV_RXCHAR); // TxEmpty is the write thread's own

        termios now{};
        QVERIFY(::tcgetattr(pty.Holder, &now) == 0);
        QVERIFY(!(now.c_lflag & ECHO));
        QCOMPARE(now.c_cflag & CSIZE, tcflag_t(CS8));
        QCOMPARE(now.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(cfgetospeed(&now), speed_t(B1200));
        c.SetBaudrate(br115200); // applied at once
        QVERIFY(::tcgetattr(pty.Holder, &now) == 0);
        QCOMPARE(cfgetospeed(&now), speed_t(B115200));
        c.SetUserBaudrate(250000); // through BOTHER
        QCOMPARE(c.Baudrate(), brUser);
        c.SetBaudrate(br9600);
        QCOMPARE(c.UserBaudrate(), 0);

        const QString refused = QStringLiteral("Can't perform this operation while port is open");
        QCOMPARE(Raised([&] { c.OpenPort(); }), refused);
        QCOMPARE(Raised([&] { c.SetDeviceName(QStringLiteral("/dev/null")); }), refused);
        QCOMPARE(Raised([&] { c.SetMonitorEvents({}); }), refused);
        QCOMPARE(Raised([&] { c.Buffers().SetReadSize(1); }), refused);
        QCOMPARE(Raised([&] { c.SetDirectWrite(true); }), refused);
        c.Buffers().SetWriteTimeout(500); // a plain value
        QVERIFY(c.IsOpen());
        QCOMPARE(c.DeviceName(), pty.Path);
        QCOMPARE(c.Buffers().ReadSize(), 4096);

        QElapsedTimer t;
        t.start();
        c.ClosePort();
        QVERIFY(t.elapsed() >= 300); // the pause after closing
        QVERIFY(!c.IsOpen());
        QCOMPARE(c.ThreadCount(), 0);
        c.ClosePort();
        QCOMPARE(events, (QStringList{QStringLiteral("open"), QStringLiteral("close")}));
        QVERIFY(::tcgetattr(pty.Holder, &now) == 0);
        QVERIFY(now.c_lflag & ECHO); // the settings found at open are back

        // Without monitored events no event thread runs.
        c.SetMonitorEvents({});
        c.ClosePause = 0;
        c.OpenPort();
        QCOMPARE(c.ThreadCount(), 1);
    }

    void openRefusals_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("hold");
        QTest::addColumn<QString>("message");
        const PtyPair& pty = Pty();
        QTest::newRow("missing") << QStringLiteral("/dev/ttyKARO-none") << false
                                 << QStringLiteral(
                                        "Specified device not found (/dev/ttyKARO-none).");
        QTest::newRow("unmapped COM name") << QStringLiteral("COM7") << false
                                           << QStringLiteral("Specified device not found (COM7).");
        QTest::newRow("held") << pty.Path << true
                              << QStringLiteral("Can't open specified device %1 (Error %2, %3)")
                                     .arg(pty.Path)
                                     .arg(EWOULDBLOCK)
                                     .arg(QString::fromLocal8Bit(strerror(EWOULDBLOCK)));
        QTest::newRow("no terminal") << QStringLiteral("/dev/null") << false
                                     << QStringLiteral("Can't open specified device /dev/null "
                                                       "(Error %1, %2)")
                                            .arg(ENOTTY)
                                            .arg(QString::fromLocal8Bit(strerror(ENOTTY)));
    }
    void openRefusals() {
        QFETCH(QString, name);
        QFETCH(bool, hold);
        QFETCH(QString, message);
        if (hold)
            QVERIFY(::flock(Pty().Holder, LOCK_EX | LOCK_NB) == 0);
        auto c = Port(name);
        QCOMPARE(Raised([&] { c->OpenPort(); }), message);
        QVERIFY(!c->IsOpen());
        QCOMPARE(c->ThreadCount(), 0);
        if (hold) {
            ::flock(Pty().Holder, LOCK_UN);
            c->OpenPort(); // free again
            QVERIFY(c->IsOpen());
        }
    }

    void bytesBothWaysAndHandOver() {
        PtyPair pty;
        auto c = Port(pty.Path);
        int received = 0;
        QByteArray data;
        bool onUiThread = true;
        int txEmpty = 0;
        c->OnRxChar = [&](TVaComm* s, int count) {
            onUiThread =
                onUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            received += count;
            std::vector<std::uint8_t> buf(size_t(count) + 10);
            const int n = s->ReadData(buf.data(), count + 10); // returns at once
            data.append(reinterpret_cast<const char*>(buf.data()), n);
        };
        c->OnTxEmpty = [&](TVaComm*) {
            onUiThread =
                onUiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
            ++txEmpty;
        };
        c->OpenPort();
        std::uint8_t none[4];
        QCOMPARE(c->ReadData(none, 4), 0);

        const QByteArray in = Pattern(5000);
        pty.Send(in);
        QTRY_COMPARE_WITH_TIMEOUT(data.size(), in.size(), 10000);
        QCOMPARE(data, in);
        QCOMPARE(received, in.size());

        // Exactly the write buffer's size fits into an empty buffer.
        const QByteArray out = Pattern(2048);
        QCOMPARE(c->WriteData(reinterpret_cast<const std::uint8_t*>(out.constData()), 2048), 2048);
        QCOMPARE(pty.Receive(2048), out);
        QTRY_COMPARE_WITH_TIMEOUT(txEmpty, 1, 10000);
        QCOMPARE(c->OutputCount(), 0);
        QVERIFY(onUiThread);

        // A handler that waits for more bytes inside its own hand-over (as one waiting for a
        // reply does) still gets them.
        data.clear();
        bool nestedDone = false;
        auto reader = c->OnRxChar;
        c->OnRxChar = [&](TVaComm* s, int count) {
            reader(s, count);
            if (data != "ask")
                return;
            pty.Send("reply");
            nestedDone = QTest::qWaitFor([&] { return data.endsWith("reply"); }, 10000);
        };
        pty.Send("ask");
        QTRY_VERIFY_WITH_TIMEOUT(nestedDone, 15000);
        QCOMPARE(data, QByteArray("askreply"));
    }

    // Under a flood the event thread queues the next hand-over while this thread still runs the
    // last one; the event loop must get its turn between them all the same.
    void aFloodLeavesTheEventLoopItsTurn() {
        // Declared first, so that closing the port at the end (which runs a hand-over still
        // queued) finds them.
        int jobs = 0;
        int jobsWhenLoopRan = -1;
        PtyPair pty;
        auto c = Port(pty.Path);
        c->OnRxChar = [&](TVaComm* s, int) {
            if (jobs++ == 0)
                QMetaObject::invokeMethod(
                    c.get(), [&] { jobsWhenLoopRan = jobs; }, Qt::QueuedConnection);
            std::uint8_t b = 0;
            s->ReadData(&b, 1);
            // The next hand-over is queued before this one ends, as in a flood.
            QElapsedTimer t;
            t.start();
            while (s->InputCount() > 0 && s->PendingHandOvers() == 0 && t.elapsed() < 10000)
                QThread::yieldCurrentThread();
        };
        c->OpenPort();
        pty.Send(Pattern(100));
        QTRY_VERIFY_WITH_TIMEOUT(jobsWhenLoopRan >= 0, 20000);
        QVERIFY2(jobsWhenLoopRan < 10, qPrintable(QString::number(jobsWhenLoopRan)));
        c->OnRxChar = nullptr; // the hand-overs still queued need not wait for more
    }

    void writeBufferFullAndDrainBeforeClose() {
        PtyPair pty;
        auto c = Port(pty.Path);
        c->OpenPort();
        // More than the buffer can ever hold: refused once the time-out has run.
        const QByteArray big = Pattern(2049);
        QElapsedTimer t;
        t.start();
        QCOMPARE(Raised([&] {
                     c->WriteData(reinterpret_cast<const std::uint8_t*>(big.constData()), 2049);
                 }),
                 QStringLiteral("Output buffer is full. Please check comm status."));
        QVERIFY(t.elapsed() >= 950); // the tick and this timer round differently

        // With the line stopped, the bytes wait in the buffer and count as output.
        QVERIFY(::tcflow(pty.Holder, TCOOFF) == 0);
        const QByteArray part = Pattern(1500);
        QCOMPARE(c->WriteData(reinterpret_cast<const std::uint8_t*>(part.constData()), 1500), 1500);
        QCOMPARE(c->OutputCount(), 1500);
        QCOMPARE(Raised([&] {
                     c->WriteData(reinterpret_cast<const std::uint8_t*>(part.constData()), 1000);
                 }),
                 QStringLiteral("Output buffer is full. Please check comm status."));
        QVERIFY(::tcflow(pty.Holder, TCOON) == 0);
        QCOMPARE(pty.Receive(1500), part);
        QTRY_COMPARE_WITH_TIMEOUT(c->OutputCount(), 0, 10000);
    }

    void closingWhileAHandOverIsPending() {
        PtyPair pty;
        auto c = Port(pty.Path);
        QStringList events;
        c->OnRxChar = [&](TVaComm* s, int count) {
            std::vector<std::uint8_t> buf(static_cast<size_t>(count));
            events << QStringLiteral("rx %1").arg(s->ReadData(buf.data(), count));
        };
        c->OnClose = [&](TVaComm*) { events << QStringLiteral("close"); };
        c->OpenPort();
        pty.Send("abc");
        // The event thread now waits for this thread, which does not run its event loop.
        QElapsedTimer t;
        t.start();
        while (c->PendingHandOvers() == 0 && t.elapsed() < 10000)
            QThread::yieldCurrentThread();
        QCOMPARE(c->PendingHandOvers(), 1);
        c->ClosePort();
        QCOMPARE(events, (QStringList{QStringLiteral("rx 3"), QStringLiteral("close")}));
        QCOMPARE(c->ThreadCount(), 0);

        // A handler that closes the port from inside a hand-over.
        events.clear();
        c->OnRxChar = [&](TVaComm* s, int) {
            events << QStringLiteral("rx");
            s->ClosePort();
        };
        c->OpenPort();
        pty.Send("x");
        QTRY_COMPARE_WITH_TIMEOUT(
            events, (QStringList{QStringLiteral("rx"), QStringLiteral("close")}), 10000);
        QVERIFY(!c->IsOpen());
        QCOMPARE(c->ThreadCount(), 0);
    }

    void deviceVanishing() {
        PtyPair pty;
        auto c = Port(pty.Path);
        int closes = 0;
        c->OnClose = [&](TVaComm*) { ++closes; };
        c->OpenPort();
        ::close(pty.Holder);
        pty.Holder = -1;
        pty.CloseMaster(); // the far side goes: the line hangs up
        QTRY_COMPARE_WITH_TIMEOUT(closes, 1, 10000);
        QVERIFY(!c->IsOpen());
        QCOMPARE(c->ThreadCount(), 0);
        std::uint8_t b[4];
        QCOMPARE(c->ReadData(b, 4), 0);
        QCOMPARE(c->InputCount(), 0);
    }

private:
    // One pair for the data-driven rows, alive for the whole run.
    static PtyPair& Pty() {
        static PtyPair pty;
        return pty;
    }
};

QTEST_GUILESS_MAIN(TestVaComm)
#include "tst_vacomm.moc"
