#include "tools/check/CheckFile.h"

#include "common/ProductType.h"

#include <QFile>

#include <toml++/toml.h>

#include <cmath>
#include <string_view>

namespace check {
namespace {

struct Failure {
    int line;
    QString message;
};

QString qs(std::string_view text) { return QString::fromUtf8(text.data(), int(text.size())); }

int lineOf(const toml::node& node) { return int(node.source().begin.line); }

[[noreturn]] void failAt(int line, const QString& message) { throw Failure{line, message}; }

QString text(const toml::node& node, const QString& key)
{
    const auto* value = node.as_string();
    if (!value)
        failAt(lineOf(node), QString("\"%1\" must be a string in double quotes").arg(key));
    return qs(value->get());
}

double number(const toml::node& node, const QString& key)
{
    double value = NAN;
    if (const auto* i = node.as_integer())
        value = double(i->get());
    else if (const auto* f = node.as_floating_point())
        value = f->get();
    else
        failAt(lineOf(node), QString("\"%1\" must be a number").arg(key));
    if (!std::isfinite(value))
        failAt(lineOf(node), QString("\"%1\" must be a finite number").arg(key));
    return value;
}

double seconds(const toml::node& node, const QString& key)
{
    const double value = number(node, key);
    if (value < 0)
        failAt(lineOf(node), QString("\"%1\" cannot be negative").arg(key));
    return value;
}

void readRun(const toml::table& table, RunLimits& run)
{
    for (const auto& [k, node] : table) {
        const QString key = qs(k.str());
        if (key == "end_after_motors_stop")
            run.endAfterMotorsStop = seconds(node, key);
        else if (key == "min_duration")
            run.minDuration = seconds(node, key);
        else if (key == "max_duration")
            run.maxDuration = seconds(node, key);
        else if (key == "min_rate")
            run.minRate = seconds(node, key);
        else if (key == "max_gap")
            run.maxGap = seconds(node, key);
        else
            failAt(int(k.source().begin.line),
                   QString("unknown key \"%1\" in [run] (end_after_motors_stop, min_duration, max_duration, "
                           "min_rate, max_gap)")
                       .arg(key));
    }
    if (run.minDuration && run.maxDuration && *run.minDuration > *run.maxDuration)
        failAt(lineOf(*table.get("max_duration")), "max_duration is below min_duration");
}

Check readCheck(const toml::table& table, int index)
{
    Check c;
    c.line = lineOf(table);
    bool haveValue = false;
    int atLine = 0;
    for (const auto& [k, node] : table) {
        const QString key = qs(k.str());
        if (key == "name") {
            c.name = text(node, key);
        } else if (key == "value") {
            const QString name = text(node, key);
            const auto ref = valueByName(name);
            if (!ref)
                failAt(lineOf(node), QString("unknown value \"%1\" (known: %2)").arg(name, valueNames().join(", ")));
            c.value = *ref;
            haveValue = true;
        } else if (key == "min") {
            c.min = number(node, key);
        } else if (key == "max") {
            c.max = number(node, key);
        } else if (key == "for") {
            c.forSeconds = seconds(node, key);
            c.mode = Mode::Eventually;
        } else if (key == "from") {
            c.from = seconds(node, key);
        } else if (key == "to") {
            c.to = seconds(node, key);
        } else if (key == "at") {
            const QString at = text(node, key);
            if (at == "start")
                c.mode = Mode::AtStart;
            else if (at == "end")
                c.mode = Mode::AtEnd;
            else
                failAt(lineOf(node), QString("\"at\" is \"start\" or \"end\", not \"%1\"").arg(at));
            atLine = lineOf(node);
        } else {
            failAt(int(k.source().begin.line),
                   QString("unknown key \"%1\" in a check (name, value, min, max, for, from, to, at)").arg(key));
        }
    }
    if (c.name.isEmpty())
        c.name = QString("check %1").arg(index + 1);
    if (!haveValue)
        failAt(c.line, QString("check \"%1\" names no value").arg(c.name));
    if (!c.min && !c.max)
        failAt(c.line, QString("check \"%1\" has neither min nor max").arg(c.name));
    if (c.min && c.max && *c.min > *c.max)
        failAt(lineOf(*table.get("max")), QString("check \"%1\": max is below min").arg(c.name));
    if (atLine && (table.contains("for") || table.contains("from") || table.contains("to")))
        failAt(atLine,
               QString("check \"%1\": \"at\" judges one state and takes no \"for\", \"from\" or \"to\"").arg(c.name));
    if (c.from && c.to && *c.from > *c.to)
        failAt(lineOf(*table.get("to")), QString("check \"%1\": \"to\" is before \"from\"").arg(c.name));
    return c;
}

void readSuite(const toml::table& root, CheckSuite& suite)
{
    bool haveName = false;
    for (const auto& [k, node] : root) {
        const QString key = qs(k.str());
        const int line = int(k.source().begin.line);
        if (key == "name") {
            suite.name = text(node, key);
            haveName = true;
        } else if (key == "product") {
            const QString name = text(node, key);
            for (ProductType type : {ProductTavik1, ProductNerio3, ProductVx7})
                if (name.compare(QLatin1String(productTypeName(type)), Qt::CaseInsensitive) == 0) {
                    suite.product = int(type);
                    suite.productName = QLatin1String(productTypeName(type));
                }
            if (!suite.product)
                failAt(lineOf(node), QString("unknown product \"%1\" (Tavik1, Nerio3, Vx7)").arg(name));
        } else if (key == "run") {
            const auto* table = node.as_table();
            if (!table)
                failAt(line, "\"run\" must be a table: [run]");
            readRun(*table, suite.run);
        } else if (key == "check") {
            const auto* array = node.as_array();
            if (!array || !array->is_array_of_tables())
                failAt(line, "\"check\" must be tables: [[check]]");
            int index = 0;
            for (const auto& element : *array) {
                Check c = readCheck(*element.as_table(), index++);
                for (const Check& other : suite.checks)
                    if (other.name == c.name)
                        failAt(c.line,
                               QString("a check named \"%1\" already stands at line %2").arg(c.name).arg(other.line));
                suite.checks.append(c);
            }
        } else {
            failAt(line, QString("unknown key \"%1\" (name, product, [run], [[check]])").arg(key));
        }
    }
    if (!haveName || suite.name.isEmpty())
        failAt(1, "the file has no name = \"...\" (it names the test suite)");
    const RunLimits& r = suite.run;
    if (suite.checks.isEmpty() && !suite.product && !r.minDuration && !r.maxDuration && !r.minRate && !r.maxGap)
        failAt(1, "the file holds no check");
}

} // namespace

bool parseCheckText(const QByteArray& bytes, const QString& path, CheckSuite& suite, QString& error)
{
    suite = CheckSuite();
    suite.path = path;
    try {
        const std::string source = path.toStdString();
        const toml::table root = toml::parse(std::string_view(bytes.constData(), size_t(bytes.size())), source);
        readSuite(root, suite);
    } catch (const toml::parse_error& e) {
        error = QString("%1:%2: %3").arg(path).arg(e.source().begin.line).arg(qs(e.description()));
        return false;
    } catch (const Failure& f) {
        error = QString("%1:%2: %3").arg(path).arg(f.line).arg(f.message);
        return false;
    }
    return true;
}

bool readCheckFile(const QString& path, CheckSuite& suite, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QString("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    return parseCheckText(file.readAll(), path, suite, error);
}

} // namespace check
