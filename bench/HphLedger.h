// The handsets-per-hour line's bookkeeping: what the station prints, read
// back; what the operator saw of it (each handset's end, each batch's end,
// each swap) and the figures made of it. Plain code, without processes or
// handsets, so that its arithmetic can be checked on its own.
#pragma once

#include <string>
#include <vector>

/// One line of velmora-cli --station, as far as the bench needs it.
struct StationLine {
  enum Kind { Other, Result, Batch, Total } kind = Other;
  int entry = 0, com = 0;  ///< Result
  bool completed = false;  ///< Result
  std::string reason;      ///< Result, when it failed
  int batch = 0;           ///< Batch
  int completedCount = 0, failedCount = 0;  ///< Batch, Total
};
StationLine ParseStationLine(const std::string& line);

/// What one mode measured. Times are wall seconds unless they say "model":
/// the bench runs at `scale` times the model's speed.
struct HphModeFigures {
  bool measured = false;
  std::string failure;          ///< why the mode's figures cannot be trusted
  int handsets = 0;             ///< ended within the measured span
  int completed = 0, failed = 0;
  double spanWallS = 0;         ///< the measured span
  double perHour = 0;           ///< completed per hour of the span, scaled back
  double meanHandsetS = 0;      ///< model seconds, over the completed handsets of the span
  int timed = 0;                ///< handsets behind that mean
  double operatorLimit = 0, socketLimit = 0, limit = 0;  ///< handsets per hour
  double operatorBusy = 0;      ///< share of the span the operator was swapping
  double meanStartMs = 0;       ///< flow: a settled handset's wait for its first request, wall ms
  int started = 0;              ///< handsets behind that mean
  int shortBatches = 0;         ///< batch: batches of fewer handsets than sockets
  double plugLateMs = 0;        ///< how late the operator's plugs came, mean, wall ms
  double runWallS = 0;          ///< the whole mode, the station's start to its end
};

/// The bench's limit in handsets per hour: the operator's (3600 / swap) or
/// the sockets' (sockets x 3600 / (handset + swap + settle)), the smaller.
/// All times in model seconds.
struct BenchLimit {
  double operatorPerHour = 0, socketsPerHour = 0, perHour = 0;
};
BenchLimit ComputeLimit(int sockets, double swapS, double settleS, double meanHandsetS);

/// The measured span: in flow mode from the end of the first `sockets`
/// handsets (the sockets' first load, which needed no swap) to the end of
/// `measured` more; in batch mode from the end of the first batch to the end
/// of the batch that brings `measured` more.
class CHphLedger {
 public:
  CHphLedger(bool flow, int sockets, int measured);

  /// A handset's line at time `t`: its own time in model seconds (first
  /// request to last block; < 0 when not taken) and, in flow mode, how long
  /// it waited for its first request once settled (wall ms; < 0: not taken).
  void Result(double t, bool completed, double handsetS = -1, double startWaitMs = -1);
  /// The end of a batch (batch mode) with the number of its handsets.
  void BatchEnd(double t, int handsets);
  /// The operator swapped a socket from `start` to `end`.
  void Swap(double start, double end);

  /// The span has ended.
  bool Done() const { return m_spanEnd >= 0; }

  /// The figures, `scale` being wall time over model time.
  HphModeFigures Figures(double scale, double swapS, double settleS) const;

 private:
  bool m_bFlow;
  int m_nSockets, m_nMeasured;
  struct Line {
    double t;
    bool completed;
    double handsetS, startWaitMs;
    int batch;  ///< batch mode: the batch it belongs to, from 1
  };
  bool InSpan(size_t index) const;
  std::vector<Line> m_lines;
  std::vector<std::pair<double, double>> m_swaps;
  int m_nBatches = 0, m_nShortBatches = 0;
  int m_nLastBatch = 0;  ///< batch mode: the batch that ends the span
  double m_spanStart = -1, m_spanEnd = -1;
};
