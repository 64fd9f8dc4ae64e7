#include "HphLedger.h"

#include <algorithm>
#include <cstdio>

StationLine ParseStationLine(const std::string& line) {
  StationLine s;
  const char* text = line.c_str();
  int end = -1, a = 0, b = 0, c = 0;
  // %n only counts when everything before it matched, so each form is
  // taken only when the whole line is that form.
  if (std::sscanf(text, "Entry %d [COM%d]: completed%n", &a, &b, &end) == 2 && end == static_cast<int>(line.size())) {
    s.kind = StationLine::Result;
    s.entry = a;
    s.com = b;
    s.completed = true;
    return s;
  }
  end = -1;
  if (std::sscanf(text, "Entry %d [COM%d]: failed (%n", &a, &b, &end) == 2 && end > 0 && line.back() == ')') {
    s.kind = StationLine::Result;
    s.entry = a;
    s.com = b;
    s.reason = line.substr(static_cast<size_t>(end), line.size() - 1 - static_cast<size_t>(end));
    return s;
  }
  end = -1;
  if (std::sscanf(text, "Batch %d: %d completed, %d failed%n", &a, &b, &c, &end) == 3 &&
      end == static_cast<int>(line.size())) {
    s.kind = StationLine::Batch;
    s.batch = a;
    s.completedCount = b;
    s.failedCount = c;
    return s;
  }
  end = -1;
  char unit[16] = {};
  if (std::sscanf(text, "Total: %d %15[a-z], %d completed, %d failed%n", &a, unit, &b, &c, &end) == 4 &&
      end == static_cast<int>(line.size())) {
    s.kind = StationLine::Total;
    s.completedCount = b;
    s.failedCount = c;
  }
  return s;
}

BenchLimit ComputeLimit(int sockets, double swapS, double settleS, double meanHandsetS) {
  BenchLimit l;
  if (swapS <= 0) return l;
  l.operatorPerHour = 3600.0 / swapS;
  l.socketsPerHour = sockets * 3600.0 / (meanHandsetS + swapS + settleS);
  l.perHour = std::min(l.operatorPerHour, l.socketsPerHour);
  return l;
}

CHphLedger::CHphLedger(bool flow, int sockets, int measured)
    : m_bFlow(flow), m_nSockets(sockets), m_nMeasured(measured) {}

void CHphLedger::Result(double t, bool completed, double handsetS, double startWaitMs) {
  m_lines.push_back({t, completed, handsetS, startWaitMs, m_nBatches + 1});
  if (!m_bFlow) return;
  const int n = static_cast<int>(m_lines.size());
  if (n == m_nSockets) m_spanStart = t;
  if (n == m_nSockets + m_nMeasured) m_spanEnd = t;
}

void CHphLedger::BatchEnd(double t, int handsets) {
  if (m_bFlow) return;
  ++m_nBatches;
  if (handsets < m_nSockets) ++m_nShortBatches;
  if (m_nBatches == 1) {
    m_spanStart = t;
    return;
  }
  if (Done()) return;
  const int since = static_cast<int>(
      std::count_if(m_lines.begin(), m_lines.end(), [](const Line& l) { return l.batch >= 2; }));
  if (since >= m_nMeasured) {
    m_spanEnd = t;
    m_nLastBatch = m_nBatches;
  }
}

void CHphLedger::Swap(double start, double end) { m_swaps.emplace_back(start, end); }

bool CHphLedger::InSpan(size_t index) const {
  if (m_bFlow) return index >= static_cast<size_t>(m_nSockets) && index < static_cast<size_t>(m_nSockets + m_nMeasured);
  return m_lines[index].batch >= 2 && m_lines[index].batch <= m_nLastBatch;
}

HphModeFigures CHphLedger::Figures(double scale, double swapS, double settleS) const {
  HphModeFigures f;
  f.measured = Done();
  f.shortBatches = m_nShortBatches;
  if (!f.measured) return f;
  double handsetS = 0, startMs = 0;
  for (size_t k = 0; k < m_lines.size(); ++k) {
    if (!InSpan(k)) continue;
    const Line& l = m_lines[k];
    ++f.handsets;
    (l.completed ? f.completed : f.failed) += 1;
    if (l.completed && l.handsetS >= 0) {
      handsetS += l.handsetS;
      ++f.timed;
    }
    if (l.startWaitMs >= 0) {
      startMs += l.startWaitMs;
      ++f.started;
    }
  }
  f.meanHandsetS = f.timed > 0 ? handsetS / f.timed : 0;
  f.meanStartMs = f.started > 0 ? startMs / f.started : 0;
  f.spanWallS = m_spanEnd - m_spanStart;
  if (f.spanWallS > 0 && scale > 0) f.perHour = f.completed * 3600.0 * scale / f.spanWallS;
  const BenchLimit limit = ComputeLimit(m_nSockets, swapS, settleS, f.meanHandsetS);
  f.operatorLimit = limit.operatorPerHour;
  f.socketLimit = limit.socketsPerHour;
  f.limit = limit.perHour;
  double busy = 0;
  for (const auto& [start, end] : m_swaps)
    busy += std::max(0.0, std::min(end, m_spanEnd) - std::max(start, m_spanStart));
  f.operatorBusy = f.spanWallS > 0 ? busy / f.spanWallS : 0;
  return f;
}
