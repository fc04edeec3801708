#include "FlightSummary.h"

#include "ReplayOptions.h"
#include "common/ProductType.h"

namespace replay {

QString productName(int type)
{
    if (type >= ProductTavik1 && type <= ProductVx7)
        return productTypeName(ProductType(type));
    return QString("unknown (%1)").arg(type);
}

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
    line("highest height", QString::number(s.maxHeight, 'f', 2) + " m");
    line("distance flown", QString::number(s.horizontalDistance, 'f', 2) + " m horizontally");
    line("top speed", QString::number(s.maxHorizontalSpeed, 'f', 2) + " m/s horizontally");
    line("lines skipped",
         s.skipped == 0 ? QString("0") : QString("%1 (%2)").arg(s.skipped).arg(recording.skippedDetails()));
    return text;
}

} // namespace replay
