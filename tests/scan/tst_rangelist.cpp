#include "platform/addresstext.h"
#include "scan/rangeexpression.h"
#include "scan/rangelist.h"
#include "scan/rollingwalk.h"
#include "support/logcapture.h"

#include <QSet>
#include <QTest>

#include <ranges>

using namespace Qt::StringLiterals;

static_assert(std::forward_iterator<RangeList::iterator>);

namespace {

QStringList walk(const RangeList &list)
{
    QStringList texts;
    for (const Address &address : list)
        texts.append(addressText(address));
    return texts;
}

QStringList numbered(const QString &prefix, int from, int to)
{
    QStringList texts;
    for (int i = from; i <= to; ++i)
        texts.append(prefix + QString::number(i));
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(WalkBudget)
Q_DECLARE_METATYPE(WalkPart)

class TestRangeList final : public QObject {
    Q_OBJECT

private slots:
    void fromTexts_data();
    void fromTexts();
    void fromLines_data();
    void fromLines();
    void refusedRangesLeaveTheListAsItWas();
    void sliceWalksAPartInTurn();
    void walkPlan_data();
    void walkPlan();
    void roundsWalkEveryAddressInTurn();
};

void TestRangeList::fromTexts_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<qint64>("size");
    // The whole walk when it is short, else its first addresses.
    QTest::addColumn<QStringList>("head");
    QTest::addColumn<QString>("error");

    const auto row = [](const char *name, const QStringList &texts, qint64 size, const QStringList &head) {
        QTest::newRow(name) << texts << size << head << QString();
    };
    const auto bad = [](const char *name, const QStringList &texts, const QString &error) {
        QTest::newRow(name) << texts << qint64(0) << QStringList() << error;
    };
    const QString n = u"10.0.0."_s;

    row("one range", {u"10.0.0.0/30"_s}, 4, numbered(n, 0, 3));
    row("the order given, not sorted", {u"10.0.0.8/30"_s, u"10.0.0.0/30"_s}, 8, numbered(n, 8, 11) + numbered(n, 0, 3));
    row("overlap above", {u"10.0.0.0/30"_s, u"10.0.0.2-5"_s}, 6, numbered(n, 0, 5));
    row("later inside earlier", {u"10.0.0.0/24"_s, u"10.0.0.5"_s, u"10.0.0.7-9"_s}, 256, numbered(n, 0, 255));
    row("earlier ones inside later", {u"10.0.0.2"_s, u"10.0.0.4-5"_s, u"10.0.0.0/29"_s}, 8,
        {u"10.0.0.2"_s, u"10.0.0.4"_s, u"10.0.0.5"_s, u"10.0.0.0"_s, u"10.0.0.1"_s, u"10.0.0.3"_s, u"10.0.0.6"_s,
         u"10.0.0.7"_s});
    row("repeats", {u"10.0.0.1"_s, u"10.0.0.1/32"_s, u"10.0.0.1-1"_s, u"10.0.0.1"_s, u"10.0.0.9"_s}, 2,
        {u"10.0.0.1"_s, u"10.0.0.9"_s});
    row("across an octet", {u"10.0.0.255"_s, u"10.0.0.0/23"_s}, 512,
        {u"10.0.0.255"_s, u"10.0.0.0"_s, u"10.0.0.1"_s});
    row("up to the cap", {u"10.0.0.0/09"_s, u"10.128.0.0/09"_s, u"10.0.0.0/08"_s}, 16'777'216, numbered(n, 0, 1));

    // Texts are asked as written: an octet past 255 is its own address, and so is a single
    // address kept as typed.
    row("past 255 is not the next octet", {u"10.0.0.254-256"_s, u"10.0.1.0/31"_s, u"10.0.0.256"_s}, 5,
        numbered(n, 254, 256) + QStringList{u"10.0.1.0"_s, u"10.0.1.1"_s});
    row("past 255 overlapping", {u"10.0.0.250-260"_s, u"10.0.0.258-262"_s, u"10.0.0.255"_s}, 13, numbered(n, 250, 262));
    row("first octets past 255", {u"300.0.0.1-3"_s, u"300.0.0.2-4"_s}, 4, numbered(u"300.0.0."_s, 1, 4));
    row("as typed", {u"010.0.0.1"_s, u"10.0.0.1"_s, u"010.0.0.1"_s, u"10.0.0.1 "_s}, 3,
        {u"010.0.0.1"_s, u"10.0.0.1"_s, u"10.0.0.1 "_s});

    bad("past the cap", {u"10.0.0.0/08"_s, u"10.255.255.255"_s, u"11.0.0.0"_s},
        u"range 3: \"11.0.0.0\" takes the scan past 16777216 addresses"_s);
    bad("a range that cannot be expanded", {u"10.0.0.0/24"_s, u"10.0.0.0/33"_s},
        u"range 2: \"10.0.0.0/33\" cannot be expanded"_s);
    bad("a dash on an earlier octet", {u"10.0.0-3.5-9"_s}, u"range 1: \"10.0.0-3.5-9\" cannot be expanded"_s);
    bad("nothing", {}, u"no range to scan"_s);
}

void TestRangeList::fromTexts()
{
    QFETCH(QStringList, texts);
    QFETCH(qint64, size);
    QFETCH(QStringList, head);
    QFETCH(QString, error);

    const LogCapture log;
    const RangeListResult result = rangeListFromTexts(texts);
    // However many ranges use a notation, its line is logged once, as for one range.
    const QStringList logged = log.lines();
    QCOMPARE(QSet<QString>(logged.begin(), logged.end()).size(), logged.size());
    QCOMPARE(result.reason(), error);
    QCOMPARE(bool(result), error.isEmpty());
    if (!result)
        return;
    const RangeList &list = *result;
    QCOMPARE(list.size(), size);

    if (size > 70'000) {
        QStringList first;
        for (auto it = list.begin(); first.size() < head.size(); ++it)
            first.append(addressText(*it));
        QCOMPARE(first, head);
        return;
    }
    const QStringList walked = walk(list);
    QCOMPARE(walked.size(), size);
    QCOMPARE(walked.first(head.size()), head);
    QCOMPARE(QSet<QString>(walked.begin(), walked.end()).size(), size);
    for (const QString &address : walked)
        QVERIFY2(list.contains(addressFromText(address)), qPrintable(address));
    for (const QString &text : texts) {
        const IpRange range = get_ip_range(text);
        for (const QString &address : range)
            QVERIFY2(list.contains(addressFromText(address)), qPrintable(address));
    }
    for (const QString &address : {u"10.0.0.64"_s, u"10.0.1.2"_s, u"10.0.0.256"_s, u"10.00.0.1"_s})
        QCOMPARE(list.contains(addressFromText(address)), walked.contains(address));
}

void TestRangeList::fromLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("walked");
    QTest::addColumn<QString>("error");

    QTest::newRow("comments and blanks") << u"# office\n10.0.0.0/31\n\n  10.0.0.1-3  # lab\r\n\t\n#10.0.0.9\n"_s
                                         << numbered(u"10.0.0."_s, 0, 3) << QString();
    QTest::newRow("a bad line by its number") << u"# x\n10.0.0.0/30\n\n10.0.0.0/33\n10.0.0.9\n"_s << QStringList()
                                              << u"line 4: \"10.0.0.0/33\" cannot be expanded"_s;
    // Where the error is shown makes it safe.
    QTest::newRow("what a file holds is quoted as it is")
        << u"10.0.0.0/33\u202e\u0007"_s << QStringList() << u"line 1: \"10.0.0.0/33\u202e\u0007\" cannot be expanded"_s;
    QTest::newRow("a long line is cut short") << (u"x"_s.repeated(100) + u"\n"_s) << QStringList()
                                              << (u"line 1: \""_s + u"x"_s.repeated(60) + u"...\" cannot be expanded"_s);
    QTest::newRow("only comments") << u"# nothing yet\n\n"_s << QStringList() << u"no range in the file"_s;
}

void TestRangeList::fromLines()
{
    QFETCH(QString, text);

    const LogCapture log;
    const RangeListResult result = rangeListFromLines(text);
    QTEST(result.reason(), "error");
    QTEST(result ? walk(*result) : QStringList(), "walked");
}

void TestRangeList::refusedRangesLeaveTheListAsItWas()
{
    RangeList list;
    QCOMPARE(list.append(IpRange({{{10, 10}, {0, 0}, {0, 0}, {8, 9}}})).reason(), QString());
    // Neither a dash on several octets nor an empty range is walked, and neither changes
    // what was there.
    QCOMPARE(list.append(IpRange({{{10, 10}, {0, 0}, {0, 3}, {0, 9}}})).reason(), u"is not one interval of addresses"_s);
    QCOMPARE(list.append(IpRange()).reason(), u"cannot be expanded"_s);
    QCOMPARE(walk(list), (QStringList{u"10.0.0.8"_s, u"10.0.0.9"_s}));

    for (qint64 i = list.rangeCount(); i < RangeList::maxRanges; ++i)
        QVERIFY(list.append(IpRange({{{10, 10}, {0, 0}, {0, 0}, {8, 8}}})));
    QCOMPARE(list.append(IpRange({{{10, 10}, {0, 0}, {0, 0}, {1, 1}}})).reason(), u"is one range too many: at most 65536 ranges"_s);
    QCOMPARE(list.size(), 2);
}

void TestRangeList::sliceWalksAPartInTurn()
{
    RangeListResult built = rangeListFromTexts({u"10.0.0.1-3"_s, u"010.0.0.9"_s, u"10.0.1.0/30"_s});
    QVERIFY(built);
    const RangeList &list = *built;
    // Across the pieces, a literal among them, and on past the last address to the first.
    const RangeList part = list.slice(2, 5);
    QCOMPARE(walk(part), (QStringList{u"10.0.0.3"_s, u"010.0.0.9"_s, u"10.0.1.0"_s, u"10.0.1.1"_s, u"10.0.1.2"_s}));
    QCOMPARE(part.size(), 5);
    QCOMPARE(walk(list.slice(7, 3)), (QStringList{u"10.0.1.3"_s, u"10.0.0.1"_s, u"10.0.0.2"_s}));
    // A part holds only its own addresses.
    QVERIFY(part.contains(addressFromText(u"010.0.0.9"_s)) && part.contains(addressFromText(u"10.0.1.2"_s)));
    QVERIFY(!part.contains(addressFromText(u"10.0.0.2"_s)) && !part.contains(addressFromText(u"10.0.1.3"_s)));
    QCOMPARE(walk(list.slice(7 + 8, 8)), walk(list.slice(7, 8))); // taken modulo the size
    QVERIFY(list.slice(0, 0).isEmpty());
    // Octets beyond 255 are kept as given, up to the largest number there is.
    built = rangeListFromTexts({u"10.0.0.9223372036854775807"_s, u"10.0.0.250-260"_s});
    QVERIFY(built);
    QCOMPARE(walk(built->slice(11, 2)), (QStringList{u"10.0.0.260"_s, u"10.0.0.9223372036854775807"_s}));
}

void TestRangeList::walkPlan_data()
{
    using namespace std::chrono_literals;
    QTest::addColumn<WalkBudget>("budget");
    QTest::addColumn<WalkPart>("part");
    // A /22 at 20 requests a second, every 10 s: the helper's sends may go on for 6 s, 120
    // requests; the kernel's for 4 s.
    QTest::newRow("a /22 with the helper, four known devices first") << WalkBudget{1024, 300, 20, 10s, 4, 2, 1s} << WalkPart{300, 54};
    QTest::newRow("through the kernel, three requests an address") << WalkBudget{1024, 300, 20, 10s, 4, 3, 3s} << WalkPart{300, 22};
    QTest::newRow("known devices that eat the pace: a second's worth all the same") << WalkBudget{1024, 0, 20, 10s, 60, 2, 1s} << WalkPart{0, 10};
    QTest::newRow("an interval shorter than the margin") << WalkBudget{1024, 0, 20, 2s, 0, 2, 1s} << WalkPart{0, 10};
    QTest::newRow("where the previous round stopped, past the end: from the start") << WalkBudget{1024, 1030, 20, 10s, 0, 2, 1s} << WalkPart{6, 60};
    QTest::newRow("a /24 the interval walks whole, where it stopped") << WalkBudget{256, 0, 100, 10s, 4, 2, 1s} << WalkPart{0, 256};
    QTest::newRow("whole, resumed after a round whose time ran out") << WalkBudget{256, 100, 100, 10s, 4, 2, 1s} << WalkPart{100, 256};
    QTest::newRow("no pace: whole") << WalkBudget{65536, 0, 0, 10s, 4, 2, 1s} << WalkPart{0, 65536};
    QTest::newRow("no interval: whole") << WalkBudget{65536, 0, 2000, 0s, 4, 2, 1s} << WalkPart{0, 65536};
    QTest::newRow("an empty /16 at 2,000 a second every minute") << WalkBudget{65536, 0, 2000, 60s, 0, 2, 1s} << WalkPart{0, 56000};
}

void TestRangeList::walkPlan()
{
    QFETCH(WalkBudget, budget);
    QFETCH(WalkPart, part);
    const WalkPart planned = planWalk(budget);
    QCOMPARE(planned.start, part.start);
    QCOMPARE(planned.count, part.count);
}

void TestRangeList::roundsWalkEveryAddressInTurn()
{
    using namespace std::chrono_literals;
    RangeListResult built = rangeListFromTexts({u"10.2.0.0/22"_s});
    QVERIFY(built);
    // Each round takes the next part; one whose time ran out after 10 addresses is followed
    // by one that goes on from there. Every address comes round, each once, in walk order.
    WalkBudget budget{built->size(), 0, 20, 10s, 4, 2, 1s};
    QStringList asked;
    for (int round = 0; asked.size() < 1024; ++round) {
        const WalkPart part = planWalk(budget);
        const qint64 walked = round == 3 ? 10 : std::min(part.count, 1024 - qint64(asked.size()));
        asked += walk(built->slice(part.start, walked));
        budget.resumeAt = walkResumesAt(budget, part, walked);
        QVERIFY(round < 21);
    }
    QCOMPARE(asked, walk(*built));
    QCOMPARE(budget.resumeAt, 0);
}

QTEST_GUILESS_MAIN(TestRangeList)
#include "tst_rangelist.moc"
