#pragma once

#include "tools/replay/RecordingLine.h"

#include <QByteArray>

namespace replay {

// The datagram a replay sends for a recorded state: the recorded text with
// "PlayBackEnabled" set to 1 and "Time" to the milliseconds since the start of
// the recording, each replaced where present and added otherwise; with local,
// "SenderIP" becomes "127.0.0.1" too. Every other byte stays as recorded.
// A position from a trace becomes {"WorldX":x,"WorldY":y,"WorldZ":z,...}.
QByteArray playbackDatagram(const QByteArray& recorded, LineKind kind, qint64 timeMs, bool local);

} // namespace replay
