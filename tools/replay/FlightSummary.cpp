#include "tools/replay/FlightSummary.h"

#include "tools/replay/ReplayOptions.h"
#include "common/ProductType.h"

#include <cmath>

namespace replay {

QString productName(int type)
{
    if (type >= ProductTavik1 && type <= ProductVx7)
        return productTypeName(ProductType(type));
    return QString("unknown (%1)").arg(type);
}

namespace {

// Two decimals, but a value of more than nine digits as 1e+308 rather than 309 digits.
QString readable(double value)
{
    return std::fabs(value) < 1e9 ? QString::number(value, 'f', 2) : QString::number(value, 'g', 6);
}

} // namespace

QString flightSummary(const Recording& recording)
{
    const FlightStats& s = recording.stats();
    QStringList products;
    for (int type : s.productTypes)
        products << productName(type);
    if (s.traceStates > 0)
        products << "none recorded (positions only)";
    const double rate = s.durationMs > 0 ? double(s.states - 1) * 1000.0 / double(s.durationMs) : 0;
    QString text;
    auto line = [&](const char* name, const QString& value) {
        text += QString("%1 %2\n").arg(QString(name) + ':', -19).arg(value);
    };
    line("file", recording.path());
    line("duration", clockText(s.durationMs));
    line("states", QString::number(s.states));
    line("mean rate", QString::number(rate, 'f', 1) + " states/s");
    line("product type", products.join(", "));
    line("highest height", readable(s.maxHeight) + " m");
    line("distance flown", readable(s.horizontalDistance) + " m horizontally");
    line("top speed", readable(s.maxHorizontalSpeed) + " m/s horizontally");
    line("lines skipped",
         s.skipped == 0 ? QString("0") : QString("%1 (%2)").arg(s.skipped).arg(recording.skippedDetails()));
    return text;
}

} // namespace replay
