#include "tools/replay/PlaybackDatagram.h"

#include <QList>
#include <QVector>

#include <algorithm>

namespace replay {
namespace {

struct Member {
    QByteArray key;
    int valueStart;
    int valueEnd;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Index of the closing quote of the string that opens at start.
int stringEnd(const QByteArray& t, int start)
{
    for (int i = start + 1; i < t.size(); ++i) {
        if (t[i] == '\\')
            ++i;
        else if (t[i] == '"')
            return i;
    }
    return -1;
}

// Members of the top-level object and the index of its closing brace (-1 if none).
int scanObject(const QByteArray& t, QVector<Member>& members, bool& empty)
{
    int i = t.indexOf('{');
    if (i < 0)
        return -1;
    empty = true;
    int depth = 1;
    int valueStart = -1;
    QByteArray key;
    for (++i; i < t.size(); ++i) {
        const char c = t[i];
        if (depth == 1 && !isBlank(c) && c != '}')
            empty = false;
        if (c == '"') {
            const int end = stringEnd(t, i);
            if (end < 0)
                return -1;
            if (depth == 1 && valueStart < 0) {
                int j = end + 1;
                while (j < t.size() && isBlank(t[j]))
                    ++j;
                if (j < t.size() && t[j] == ':') {
                    key = t.mid(i + 1, end - i - 1);
                    valueStart = j + 1;
                    i = j;
                    continue;
                }
            }
            i = end;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == ']') {
            --depth;
        } else if (c == '}' || (c == ',' && depth == 1)) {
            if (c == '}')
                --depth;
            if (depth <= 1 && valueStart >= 0 && (c == ',' || depth == 0)) {
                int start = valueStart, end = i;
                while (start < end && isBlank(t[start]))
                    ++start;
                while (end > start && isBlank(t[end - 1]))
                    --end;
                members.append({key, start, end});
                valueStart = -1;
            }
            if (depth == 0)
                return i;
        }
    }
    return -1;
}

QByteArray fromPosition(const QByteArray& text)
{
    // "x:1.500000,y:-2.250000,z:10.000000"
    const QList<QByteArray> parts = text.split(',');
    QByteArray out = "{";
    const char* keys[] = {"WorldX", "WorldY", "WorldZ"};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '"';
        out += keys[i];
        out += "\":";
        out += parts[i].mid(2);
    }
    return out + '}';
}

} // namespace

QByteArray playbackDatagram(const QByteArray& recorded, LineKind kind, qint64 timeMs, bool local)
{
    QByteArray text = kind == LineKind::TracePosition ? fromPosition(recorded) : recorded;
    QVector<Member> members;
    bool empty = true;
    const int close = scanObject(text, members, empty);
    if (close < 0)
        return text;

    struct Setting {
        QByteArray key;
        QByteArray value;
    };
    QVector<Setting> settings = {{"PlayBackEnabled", "1"}, {"Time", QByteArray::number(timeMs)}};
    if (local)
        settings.append(Setting{"SenderIP", "\"127.0.0.1\""});

    QByteArray added;
    struct Edit {
        int start, end;
        QByteArray value;
    };
    QVector<Edit> edits;
    for (const Setting& s : settings) {
        bool found = false;
        for (const Member& m : members) {
            if (m.key == s.key) {
                edits.append({m.valueStart, m.valueEnd, s.value});
                found = true;
            }
        }
        if (!found) {
            if (!empty || !added.isEmpty())
                added += ',';
            added += '"' + s.key + "\":" + s.value;
        }
    }
    edits.append({close, close, added});
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.start > b.start; });
    for (const Edit& e : edits)
        text.replace(e.start, e.end - e.start, e.value);
    return text;
}

} // namespace replay
