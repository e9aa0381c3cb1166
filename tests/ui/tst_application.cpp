#include "TestSupport.h"
#include "protocol/Errors.h"
#include "ui/KaroApplication.h"

#include <QPushButton>
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

    void errorFromClickHandlerBecomesBox() {
        MessageRecorder boxes;
        QPushButton button(QStringLiteral("Change"));
        int clicks = 0;
        connect(&button, &QPushButton::clicked, this, [&] {
            ++clicks;
            throw EKaroError(QStringLiteral("TFloatEdit.value: the text property is not a valid "
                                            "float value"));
        });
        button.show();
        QVERIFY(QTest::qWaitForWindowExposed(&button));
        QTest::mouseClick(&button, Qt::LeftButton);
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(clicks, 2);
        QCOMPARE(boxes.Texts(),
                 QStringList(2, QStringLiteral("TFloatEdit.value: the text property is not a "
                                               "valid float value")));
        // The button is usable afterwards: not stuck in its pressed state.
        QVERIFY(!button.isDown());
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
