// SPDX-License-Identifier: Apache-2.0
#include "WidgetSupport.h"
#include "widgets/FloatEdit.h"
#include "widgets/IntegerEdit.h"

#include <QApplication>
#include <QLocale>
#include <QTest>

Q_DECLARE_METATYPE(TDecSeparator)

class TestNumericEdits : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale::c()); }

    void floatReading_data() {
        QTest::addColumn<bool>("comma");
        QTest::addColumn<TDecSeparator>("ds");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        auto row = [](const char* name, bool comma, TDecSeparator ds, double min, double max,
                      const char* text, bool valid, double value = 0) {
            QTest::newRow(name) << comma << ds << min << max << QString::fromUtf8(text) << valid
                                << value;
        };
        row("no range negative", false, dsDefault, 0, 0, "-5", true, -5);
        row("no range huge", false, dsDefault, 0, 0, "1E300", true, 1e300);
        row("lower bound", false, dsDefault, 2, 65, "2", true, 2);
        row("upper bound", false, dsDefault, 2, 65, "65", true, 65);
        row("below", false, dsDefault, 2, 65, "1.99", false);
        row("above", false, dsDefault, 2, 65, "65.01", false);
        row("empty", false, dsDefault, 2, 65, "", false);
        row("blanks sign exponent", false, dsDefault, 0, 0, "  +2.5e-1 ", true, 0.25);
        row("separator alone", false, dsDefault, 0, 0, ".", true, 0);
        row("trailing separator", false, dsDefault, 0, 0, "5.", true, 5);
        row("exponent without mantissa", false, dsDefault, 0, 0, "E5", false);
        row("exponent without digits", false, dsDefault, 0, 0, "5E", false);
        row("thousands separator", false, dsDefault, 0, 0, "1,000", false);
        row("beyond extended range", false, dsDefault, 0, 0, "1E5000", false);
        row("within extended range", false, dsDefault, 0, 0, "1E4000", true, qInf());
        row("garbage after", false, dsDefault, 0, 0, "5x", false);
        row("equal nonzero bounds", false, dsDefault, 3, 3, "3", false);
        row("inverted bounds", false, dsDefault, 10, 1, "5", false);
        row("comma locale default comma", true, dsDefault, 0, 0, "2,5", true, 2.5);
        row("comma locale default point", true, dsDefault, 0, 0, "2.5", false);
        row("comma locale dsPoint point", true, dsPoint, 0, 0, "2.5", true, 2.5);
        row("comma locale dsPoint comma", true, dsPoint, 0, 0, "2,5", true, 2.5);
        row("comma locale dsComma comma", true, dsComma, 0, 0, "2,5", true, 2.5);
        row("comma locale dsComma point", true, dsComma, 0, 0, "2.5", false);
        row("only first point replaced", true, dsPoint, 0, 0, "1.2.3", false);
        row("point locale dsComma", false, dsComma, 0, 0, "2,5", true, 2.5);
    }
    void floatReading() {
        QFETCH(bool, comma);
        QFETCH(TDecSeparator, ds);
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        if (comma)
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TFloatEdit ed;
        ed.SetDecSeparator(ds);
        ed.SetMinValue(min);
        ed.SetMaxValue(max);
        ed.setText(text);
        QCOMPARE(ed.IsValid(), valid);
        if (valid) {
            if (qIsInf(value)) // only that it is read: 1E4000 has no double
                QVERIFY(ed.Value() > 1e300L);
            else
                QCOMPARE(double(ed.Value()), value);
        } else {
            QVERIFY_THROWS_EXCEPTION(EConvertError, ed.Value());
        }
    }

    void invalidTextShowsErrorAppearance() {
        TFloatEdit ed;
        QFont bold = ed.font();
        bold.setBold(true);
        bold.setPointSize(bold.pointSize() + 3);
        ed.SetErrorFont(bold);
        ed.SetErrorBkgColor(Qt::yellow);
        ed.SetErrorFontColor(Qt::red);
        const QColor normal = ed.palette().color(QPalette::Base);
        ed.SetMinValue(2);
        ed.SetMaxValue(65);
        ed.setText(QStringLiteral("50"));
        QCOMPARE(ed.palette().color(QPalette::Base), normal);
        QVERIFY(!ed.font().bold());
        ed.setText(QStringLiteral("1.99"));
        QCOMPARE(ed.palette().color(QPalette::Base), QColor(Qt::yellow));
        QCOMPARE(ed.palette().color(QPalette::Text), QColor(Qt::red));
        QCOMPARE(ed.font(), bold);
        // A bound change re-checks the text and repaints, without raising events.
        int events = 0;
        ed.OnNumericChange = [&](QObject*) { ++events; };
        ed.OnChange = [&](QObject*) { ++events; };
        ed.SetMinValue(1);
        QVERIFY(ed.IsValid());
        QCOMPARE(ed.palette().color(QPalette::Base), normal);
        QVERIFY(!ed.font().bold());
        ed.SetMaxValue(1.5);
        QVERIFY(!ed.IsValid());
        QCOMPARE(ed.font(), bold);
        QCOMPARE(events, 0);
        // A failed read leaves text, appearance and events alone.
        QVERIFY_THROWS_EXCEPTION(EConvertError, ed.Value());
        QCOMPARE(ed.text(), QStringLiteral("1.99"));
        QCOMPARE(events, 0);
        try {
            ed.Value();
        } catch (const EConvertError& e) {
            QCOMPARE(
                e.Message(),
                QStringLiteral("TFloatEdit.value: the text property is not a valid float value"));
        }
    }

    void disabledFieldsLookDisabled() {
        // Either kind of field, valid or not: disabled, it is drawn in the disabled colours.
        TFloatEdit real;
        real.SetMinValue(2);
        real.SetMaxValue(65);
        TIntegerEdit whole;
        whole.SetMinValue(1);
        whole.SetMaxValue(65);
        for (TNumericEdit* ed : std::initializer_list<TNumericEdit*>{&real, &whole}) {
            ed->SetErrorBkgColor(Qt::yellow);
            ed->SetErrorFontColor(Qt::red);
            ed->resize(80, 24);
            const QPalette& p = ed->palette();
            for (const char* text : {"5", "99"}) {
                ed->setText(QString::fromLatin1(text));
                ed->setEnabled(true);
                const QColor enabled = ed->grab().toImage().pixelColor(74, 12);
                ed->setEnabled(false);
                const QColor disabled = ed->grab().toImage().pixelColor(74, 12);
                QVERIFY2(disabled != enabled, text);
                QCOMPARE(disabled, p.color(QPalette::Disabled, QPalette::Base));
                QVERIFY(p.color(QPalette::Disabled, QPalette::Text) !=
                        p.color(QPalette::Active, QPalette::Text));
            }
        }
    }

    void writingValueUsesGeneralFormat_data() {
        QTest::addColumn<bool>("comma");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("integer") << false << 55.0 << "55";
        QTest::newRow("fraction from double") << false << 0.6 << "0.6";
        QTest::newRow("zero") << false << 0.0 << "0";
        QTest::newRow("negative") << false << -2.5 << "-2.5";
        QTest::newRow("smallest fixed") << false << 0.0001 << "0.0001";
        QTest::newRow("small scientific") << false << 1e-5 << "1E-5";
        QTest::newRow("large scientific") << false << 1.5e20 << "1.5E20";
        QTest::newRow("largest fixed") << false << 999999999999999.0 << "999999999999999";
        QTest::newRow("rounds up into scientific") << false << 999999999999999.9 << "1E15";
        QTest::newRow("15 digits") << false << 1.0 / 3 << "0.333333333333333";
        QTest::newRow("long integer") << false << 123456789012345678.0 << "1.23456789012346E17";
        QTest::newRow("comma locale") << true << 0.6 << "0,6";
        QTest::newRow("comma locale scientific") << true << 2.5e-7 << "2,5E-7";
    }
    void writingValueUsesGeneralFormat() {
        QFETCH(bool, comma);
        QFETCH(double, value);
        QFETCH(QString, text);
        if (comma)
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TFloatEdit ed;
        ed.SetDecSeparator(dsPoint); // the locale's separator is written regardless
        ed.SetValue(value);
        QCOMPARE(ed.text(), text);
        // What was written reads back.
        QVERIFY(ed.IsValid());
    }

    void numericChangeOncePerValueAndBeforeChange() {
        TFloatEdit ed;
        ed.SetMinValue(2);
        ed.SetMaxValue(65);
        QStringList log;
        ed.OnNumericChange = [&](QObject* s) {
            QCOMPARE(s, &ed);
            log << QStringLiteral("N%1").arg(double(ed.Value()));
        };
        ed.OnChange = [&](QObject*) { log << QStringLiteral("C"); };
        ed.show();
        ed.setFocus();
        QTest::keyClicks(&ed, QStringLiteral("5"));
        QTest::keyClicks(&ed, QStringLiteral("0"));
        QTest::keyClick(&ed, Qt::Key_Backspace);
        QCOMPARE(log,
                 QStringList({QStringLiteral("N5"), QStringLiteral("C"), QStringLiteral("N50"),
                              QStringLiteral("C"), QStringLiteral("N5"), QStringLiteral("C")}));
        // "5." and "5.0" read as the 5 already reported.
        log.clear();
        QTest::keyClicks(&ed, QStringLiteral(".0"));
        QCOMPARE(log, QStringList({QStringLiteral("C"), QStringLiteral("C")}));
        // Invalid text in between does not reset the last reported value.
        log.clear();
        ed.setText(QStringLiteral("99"));
        ed.setText(QStringLiteral("5"));
        QCOMPARE(log, QStringList({QStringLiteral("C"), QStringLiteral("C")}));
        ed.setText(QStringLiteral("6"));
        QCOMPARE(log.count(QStringLiteral("N6")), 1);
    }

    void integerReading_data() {
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("value");
        auto row = [](const char* text, int min, int max, bool valid, int value = 0) {
            QTest::newRow(text) << min << max << QString::fromLatin1(text) << valid << value;
        };
        row("0x1F", 0, 255, true, 31);
        row("$1F", 0, 255, true, 31);
        row("x1F", 0, 255, true, 31);
        row("X1f", 0, 255, true, 31);
        row("0X1F", 0, 255, true, 31);
        row(" 31", 0, 255, true, 31);
        row("31 ", 0, 255, false);
        row("1F", 0, 255, false);
        row("256", 0, 255, false);
        row("", 0, 255, false);
        row("0", 1, 65535, false);
        row("65536", 1, 65535, false);
        row("65535", 1, 65535, true, 65535);
        row("$FFFFFFFF", 0, 0, true, -1);
        row("$123456789", 0, 0, false);
        row("$", 0, 0, false);
        row("-$1F", 0, 0, false);
        row("-2147483648", 0, 0, true, std::numeric_limits<int>::min());
        row("2147483647", 0, 0, true, std::numeric_limits<int>::max());
        row("2147483648", 0, 0, false);
        row("99999999999999999999", 0, 0, false);
        row("+7", 0, 0, true, 7);
        row("-", 0, 0, false);
        row("00x10", 0, 0, false); // "0x" becomes "$" after a digit
    }
    void integerReading() {
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(int, value);
        TIntegerEdit ed;
        ed.SetMinValue(min);
        ed.SetMaxValue(max);
        ed.setText(text);
        QCOMPARE(ed.IsValid(), valid);
        if (valid)
            QCOMPARE(ed.Value(), value);
        else
            QVERIFY_THROWS_EXCEPTION(EConvertError, ed.Value());
    }

    void integerEvents() {
        TIntegerEdit ed;
        ed.SetErrorBkgColor(Qt::cyan);
        QStringList log;
        ed.OnNumericChange = [&](QObject*) { log << QString::number(ed.Value()); };
        ed.OnChange = [&](QObject*) { log << QStringLiteral("C"); };
        // The first valid value equal to the initial last reported value goes unreported.
        ed.setText(QStringLiteral("2147483647"));
        QCOMPARE(log, QStringList({QStringLiteral("C")}));
        log.clear();
        ed.setText(QStringLiteral("$1F"));
        ed.setText(QStringLiteral("31"));
        ed.setText(QStringLiteral("0x1f"));
        QCOMPARE(log, QStringList({QStringLiteral("31"), QStringLiteral("C"), QStringLiteral("C"),
                                   QStringLiteral("C")}));
        ed.SetValue(-12);
        QCOMPARE(ed.text(), QStringLiteral("-12"));
        ed.setText(QStringLiteral("zz"));
        QCOMPARE(ed.palette().color(QPalette::Base), QColor(Qt::cyan));
        try {
            ed.Value();
            QFAIL("no error");
        } catch (const EConvertError& e) {
            QCOMPARE(e.Message(),
                     QStringLiteral(
                         "TIntegerEdit.value: the text property is not a valid integer value"));
        }
    }
};

QTEST_MAIN(TestNumericEdits)
#include "tst_numericedits.moc"
