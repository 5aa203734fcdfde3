#pragma once

#include <QtGlobal>

// G.711 companding (ITU-T G.711, both laws) for the lab's RTP media: 8 kHz, 16-bit linear samples.
namespace LabG711 {

// RTP payload types of the two laws.
constexpr int PayloadPcmu = 0;
constexpr int PayloadPcma = 8;

quint8 linearToUlaw(qint16 sample);
qint16 ulawToLinear(quint8 code);
quint8 linearToAlaw(qint16 sample);
qint16 alawToLinear(quint8 code);

} // namespace LabG711
