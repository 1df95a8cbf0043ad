#include "scan/rangeexpression.h"
#include "support/logcapture.h"

#include <QTest>

#include <ranges>

using namespace Qt::StringLiterals;

static_assert(std::forward_iterator<IpRange::iterator>);
static_assert(std::ranges::forward_range<IpRange> && std::ranges::sized_range<IpRange>);

namespace {

const QString cidr = QStringLiteral("IP Range in CIDR notation.");
const QString dash = QStringLiteral("IP Range in Range notation.");
const QString single = QStringLiteral("IP Range in single address notation.");

} // namespace

class TestRangeExpression final : public QObject {
    Q_OBJECT

private slots:
    void getIpRange_data();
    void getIpRange();
    void iteratorTextsOutliveTheirStep();
};

void TestRangeExpression::getIpRange_data()
{
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("logged");
    QTest::addColumn<qint64>("size");
    // The whole list when it is short, else its first texts.
    QTest::addColumn<QStringList>("head");
    QTest::addColumn<QString>("last");

    const auto row = [](const char *expression, const QString &logged, qint64 size,
                        const QStringList &head, const QString &last = {}) {
        QTest::newRow(expression) << QString::fromUtf8(expression) << logged << size << head
                                  << (last.isEmpty() && !head.isEmpty() ? head.last() : last);
    };
    const QStringList none;

    // The worked examples.
    row("10.0.0.0/30", cidr, 4, {u"10.0.0.0"_s, u"10.0.0.1"_s, u"10.0.0.2"_s, u"10.0.0.3"_s});
    row("192.168.1.1/24", cidr, 256, {u"192.168.1.0"_s, u"192.168.1.1"_s}, u"192.168.1.255"_s);
    row("10.7.200.1/14", cidr, 262'144, {u"10.4.0.0"_s, u"10.4.0.1"_s}, u"10.7.255.255"_s);
    row("10.1.2.3/32", cidr, 1, {u"10.1.2.3"_s});
    row("255.255.255.255/31", cidr, 2, {u"255.255.255.254"_s, u"255.255.255.255"_s});
    row("10.0.0.0/08", cidr, 16'777'216, {u"10.0.0.0"_s, u"10.0.0.1"_s}, u"10.255.255.255"_s);
    row("10.0.0.0/33", cidr, 0, none);
    row("10.0.300.0/30", cidr, 4, {u"10.1.44.0"_s, u"10.1.44.1"_s, u"10.1.44.2"_s, u"10.1.44.3"_s});
    row("999.0.0.0/32", cidr, 1, {u"231.0.0.0"_s});
    row("192.168.1.10-20", dash, 11, {u"192.168.1.10"_s, u"192.168.1.11"_s}, u"192.168.1.20"_s);
    row("192.168.1.20-10", dash, 0, none);
    row("10.0.0.5-5", dash, 1, {u"10.0.0.5"_s});
    row("192.168.1.10-20-30", dash, 11, {u"192.168.1.10"_s}, u"192.168.1.20"_s);
    row("10.0.0.1", single, 1, {u"10.0.0.1"_s});
    row("010.0.0.1", single, 1, {u"010.0.0.1"_s});
    row("10.0.0.0/8", single, 1, {u"10.0.0.0/8"_s});
    row("192.168.1.10-", single, 1, {u"192.168.1.10-"_s});
    row("1.2.3.4.5", single, 0, none);
    row(" 10.0.0.1", QString(), 0, none);

    // Beyond them: what follows a match, and bounds nobody checks against 255.
    row("10.0.0.1 ", single, 1, {u"10.0.0.1 "_s});
    row("10.0.0.1234/24", single, 1, {u"10.0.0.1234/24"_s});
    row("192.168.1.10-20abc", dash, 11, {u"192.168.1.10"_s}, u"192.168.1.20"_s);
    row("192.168.001.010-012", dash, 3, {u"192.168.1.10"_s, u"192.168.1.11"_s, u"192.168.1.12"_s});
    row("10.0.0.1-1000", dash, 1000, {u"10.0.0.1"_s}, u"10.0.0.1000"_s);
    row("1234.0.0.1", QString(), 0, none);
    row("x\n10.0.0.1", QString(), 0, none);
    row("\u0661\u0660.0.0.1", QString(), 0, none);

    // The decisions: too many components, the cap, and saturation (a wrapped bound would
    // give one address).
    row("10.0.0.1-5.6", dash, 0, none);
    row("10.0.0.0/07", cidr, 0, none);
    row("10.0.0.0-16777215", dash, 16'777'216, {u"10.0.0.0"_s}, u"10.0.0.16777215"_s);
    row("10.0.0.0-16777216", dash, 0, none);
    row("10.0.0.1-18446744073709551617", dash, 0, none);
}

void TestRangeExpression::getIpRange()
{
    QFETCH(QString, expression);
    QFETCH(QString, logged);
    QFETCH(qint64, size);
    QFETCH(QStringList, head);

    const LogCapture log;
    const IpRange range = get_ip_range(expression);
    QCOMPARE(log.lines(), logged.isEmpty() ? QStringList() : QStringList{logged});

    QCOMPARE(range.size(), size);
    QCOMPARE(range.isEmpty(), size == 0);
    if (range.isEmpty()) {
        QVERIFY(range.begin() == range.end());
        return;
    }
    for (qsizetype i = 0; i < head.size(); ++i)
        QCOMPARE(range.at(i), head.at(i));
    QTEST(range.at(size - 1), "last");

    if (size > 5000)
        return;
    const QStringList texts(range.begin(), range.end());
    QCOMPARE(texts.size(), size);
    QCOMPARE(texts.first(head.size()), head);
    for (qsizetype i = 0; i < texts.size(); ++i)
        QCOMPARE(texts.at(i), range.at(i));
}

void TestRangeExpression::iteratorTextsOutliveTheirStep()
{
    const LogCapture log;
    const IpRange range = get_ip_range(u"10.0.0.254/31"_s);
    auto it = range.begin();
    const QString kept = *it;
    auto previous = it++;
    QCOMPARE(kept, u"10.0.0.254"_s);
    QCOMPARE(*previous, u"10.0.0.254"_s);
    QCOMPARE(*it, u"10.0.0.255"_s);
    QVERIFY(++it == range.end());
    QCOMPARE(std::ranges::distance(range), 2);
}

QTEST_GUILESS_MAIN(TestRangeExpression)
#include "tst_rangeexpression.moc"
