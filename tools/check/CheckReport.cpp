#include "tools/check/CheckReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamWriter>

#include <cmath>

namespace check {

int CheckResult::passed() const
{
    return int(std::count_if(verdicts.begin(), verdicts.end(), [](const Verdict& v) { return v.passed; }));
}

int CheckResult::failed() const { return verdicts.size() - passed(); }

QString consoleText(const CheckResult& r)
{
    QString out;
    for (const Verdict& v : r.verdicts)
        out += QString("%1  %2  (%3)\n").arg(v.passed ? "PASS" : "FAIL", v.name, v.evidence);
    out += QString("%1 passed, %2 failed\n").arg(r.passed()).arg(r.failed());
    return out;
}

QByteArray junitXml(const CheckResult& r)
{
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    const QString tests = QString::number(r.verdicts.size());
    const QString failures = QString::number(r.failed());
    const QString time = secondsText(r.duration);
    xml.writeStartElement("testsuites");
    xml.writeAttribute("name", r.suite->name);
    xml.writeAttribute("tests", tests);
    xml.writeAttribute("failures", failures);
    xml.writeAttribute("errors", "0");
    xml.writeAttribute("time", time);
    xml.writeStartElement("testsuite");
    xml.writeAttribute("name", r.suite->name);
    xml.writeAttribute("tests", tests);
    xml.writeAttribute("failures", failures);
    xml.writeAttribute("errors", "0");
    xml.writeAttribute("skipped", "0");
    xml.writeAttribute("time", time);
    xml.writeStartElement("properties");
    auto property = [&](const QString& name, const QString& value) {
        xml.writeStartElement("property");
        xml.writeAttribute("name", name);
        xml.writeAttribute("value", value);
        xml.writeEndElement();
    };
    property("checks", r.suite->path);
    property("source", r.source);
    property("runs", QString::number(r.runs));
    property("run", QString::number(r.run));
    property("states", QString::number(r.states));
    if (r.datagrams >= 0)
        property("datagrams", QString::number(r.datagrams));
    xml.writeEndElement();
    for (const Verdict& v : r.verdicts) {
        xml.writeStartElement("testcase");
        xml.writeAttribute("classname", r.suite->name);
        xml.writeAttribute("name", v.name);
        xml.writeAttribute("time", secondsText(v.time));
        if (!v.passed) {
            xml.writeStartElement("failure");
            xml.writeAttribute("message", v.evidence);
            xml.writeAttribute("type", "envelope");
            xml.writeCharacters(v.evidence);
            xml.writeEndElement();
        } else {
            xml.writeTextElement("system-out", v.evidence);
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out;
}

QByteArray jsonReport(const CheckResult& r)
{
    QJsonArray checks;
    for (const Verdict& v : r.verdicts) {
        QJsonObject evidence;
        for (const auto& [key, value] : v.numbers)
            evidence.insert(key, std::isfinite(value) ? QJsonValue(value) : QJsonValue("not finite"));
        checks.append(QJsonObject{
            {"name", v.name}, {"passed", v.passed}, {"time", v.time}, {"message", v.evidence}, {"evidence", evidence}});
    }
    QJsonObject root{{"name", r.suite->name},  {"checks_file", r.suite->path},
                     {"source", r.source},     {"runs", r.runs},
                     {"run", r.run},           {"states", double(r.states)},
                     {"duration", r.duration}, {"passed", r.passed()},
                     {"failed", r.failed()},   {"checks", checks}};
    if (r.datagrams >= 0)
        root.insert("datagrams", double(r.datagrams));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

} // namespace check
