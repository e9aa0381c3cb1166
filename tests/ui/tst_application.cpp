// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "protocol/Errors.h"
#include "ui/KaroApplication.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace {
// Throws from its event handler for the custom event type, as a faulty handler would.
class Thrower : public QObject {
public:
    int Handled = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            ++Handled;
            throw EKaroError(QStringLiteral("Edit field does not contain a valid number"));
        }
        if (e->type() == QEvent::Type(QEvent::User + 1))
            throw std::runtime_error("plain library failure");
        return QObject::event(e);
    }
};
} // namespace

class TestApplication : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void errorFromPostedEventBecomesBoxAndLoopGoesOn() {
        MessageRecorder boxes;
        Thrower thrower;
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::Type(QEvent::User + 1)));
        // Events queued after the failing ones are still delivered.
        bool later = false;
        QTimer::singleShot(0, this, [&] { later = true; });
        QTRY_VERIFY(later);
        QCOMPARE(thrower.Handled, 1);
        QCOMPARE(boxes.Boxes.size(), 2);
        QCOMPARE(boxes.Boxes[0].first, TMsgKind::Error);
        QCOMPARE(boxes.Boxes[0].second,
                 QStringLiteral("Edit field does not contain a valid number"));
        QCOMPARE(boxes.Boxes[1].second, QStringLiteral("plain library failure"));
    }

    void errorFromSlotsAndTimersBecomesBox() {
        // A queued slot and a timer, as the event loop delivers them; the program's own handlers
        // (menu entries, buttons) are reached the same way through the event loop.
        MessageRecorder boxes;
        QObject context;
        int runs = 0;
        const QString text =
            QStringLiteral("TFloatEdit.value: the text property is not a valid float value");
        QTimer::singleShot(0, &context, [&] {
            ++runs;
            throw EKaroError(text);
        });
        QMetaObject::invokeMethod(
            &context,
            [&] {
                ++runs;
                throw std::out_of_range("vector::_M_range_check");
            },
            Qt::QueuedConnection);
        QTRY_COMPARE(runs, 2);
        QTRY_COMPARE(boxes.Boxes.size(), 2);
        QVERIFY(boxes.Texts().contains(text));
        QVERIFY(boxes.Texts().contains(QStringLiteral("vector::_M_range_check")));
        // The loop still runs: a later timer fires.
        bool later = false;
        QTimer::singleShot(0, &context, [&] { later = true; });
        QTRY_VERIFY(later);
    }

    void ordinaryEventsPassThrough() {
        MessageRecorder boxes;
        QObject o;
        QSignalSpy spy(&o, &QObject::objectNameChanged);
        QTimer::singleShot(0, &o, [&] { o.setObjectName(QStringLiteral("x")); });
        QVERIFY(spy.wait(5000));
        QVERIFY(boxes.Boxes.isEmpty());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestApplication test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_application.moc"
