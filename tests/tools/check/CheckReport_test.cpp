// The JUnit XML and the JSON report, read back with real parsers.

#include "tools/check/CheckReport.h"

#include "tests/tools/check/CheckTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>

using namespace check;
using namespace check_test;

namespace {

struct TestCase {
    std::map<QString, QString> attributes;
    bool failed = false;
    QString failureMessage;
};

struct Junit {
    std::map<QString, QString> suite;
    std::vector<TestCase> cases;
    int suites = 0;
};

Junit readJunit(const QByteArray& xml)
{
    Junit out;
    QXmlStreamReader r(xml);
    auto attributes = [&] {
        std::map<QString, QString> a;
        for (const QXmlStreamAttribute& x : r.attributes())
            a[x.name().toString()] = x.value().toString();
        return a;
    };
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (r.name() == QLatin1String("testsuite")) {
            ++out.suites;
            out.suite = attributes();
        } else if (r.name() == QLatin1String("testcase")) {
            out.cases.push_back({attributes(), false, {}});
        } else if (r.name() == QLatin1String("failure")) {
            out.cases.back().failed = true;
            out.cases.back().failureMessage = r.attributes().value("message").toString();
        }
    }
    EXPECT_FALSE(r.hasError()) << r.errorString().toStdString();
    return out;
}

class Reports : public ::testing::Test {
protected:
    void SetUp() override
    {
        // "<&>" in the names: the writers must escape them.
        suite = suiteOf("name = 'square <&> \"mission\"'\n[run]\nmin_duration = 5\n"
                        "[[check]]\nname = 'never above 5 m'\nvalue = 'height'\nmax = 5\n"
                        "[[check]]\nname = 'ends < 1 m & low'\nvalue = 'height'\nmax = 100\nat = 'end'\n");
        FlightJudge judge(suite);
        for (const auto& [t, s] : flightOf(10, 10, [](double t) {
                 State s = flyingState();
                 s.worldZ = float(t);
                 return s;
             }))
            judge.add(t, s);
        result.suite = &suite;
        result.source = "udp.txt";
        result.runs = 2;
        result.run = 1;
        result.states = judge.states();
        result.duration = judge.duration();
        result.verdicts = judge.verdicts();
    }
    CheckSuite suite;
    CheckResult result;
};

TEST_F(Reports, JunitHasOneSuiteAndATestcasePerCheckWithWhenAndWhy)
{
    const Junit j = readJunit(junitXml(result));
    EXPECT_EQ(1, j.suites);
    EXPECT_EQ("square <&> \"mission\"", j.suite.at("name"));
    EXPECT_EQ("3", j.suite.at("tests"));
    EXPECT_EQ("1", j.suite.at("failures"));
    ASSERT_EQ(3u, j.cases.size());
    for (const TestCase& c : j.cases)
        EXPECT_EQ("square <&> \"mission\"", c.attributes.at("classname"));
    EXPECT_EQ("min_duration 5", j.cases[0].attributes.at("name"));
    EXPECT_FALSE(j.cases[0].failed);
    EXPECT_EQ("never above 5 m", j.cases[1].attributes.at("name"));
    EXPECT_TRUE(j.cases[1].failed);
    EXPECT_EQ("5.100", j.cases[1].attributes.at("time")) << "when it was decided";
    EXPECT_EQ("at 5.100 s height 5.1 above max 5", j.cases[1].failureMessage);
    EXPECT_EQ("ends < 1 m & low", j.cases[2].attributes.at("name"));
    EXPECT_EQ("10.000", j.cases[2].attributes.at("time"));
    EXPECT_FALSE(j.cases[2].failed);
}

TEST_F(Reports, JsonCarriesTheEvidence)
{
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(jsonReport(result), &error).object();
    ASSERT_EQ(QJsonParseError::NoError, error.error);
    EXPECT_EQ(1, root["failed"].toInt());
    EXPECT_EQ(2, root["passed"].toInt());
    EXPECT_EQ(2, root["runs"].toInt());
    EXPECT_EQ(101, root["states"].toInt());
    const QJsonArray checks = root["checks"].toArray();
    ASSERT_EQ(3, checks.size());
    const QJsonObject failed = checks[1].toObject();
    EXPECT_FALSE(failed["passed"].toBool());
    const QJsonObject evidence = failed["evidence"].toObject();
    EXPECT_NEAR(5.1, evidence["time"].toDouble(), 1e-9);
    EXPECT_NEAR(5.1, evidence["value"].toDouble(), 1e-6);
    EXPECT_EQ(5, evidence["limit"].toDouble());
}

TEST_F(Reports, ConsoleEndsWithTheCounts)
{
    const QStringList lines = consoleText(result).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(4, lines.size());
    EXPECT_TRUE(lines[0].startsWith("PASS  min_duration 5"));
    EXPECT_TRUE(lines[1].startsWith("FAIL  never above 5 m  (at 5.100 s height 5.1 above max 5)"));
    EXPECT_EQ("2 passed, 1 failed", lines[3]);
}

} // namespace
