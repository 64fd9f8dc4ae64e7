// The entry timers: what each kind of timer waits for and for how long. The
// timer id is always the entry index; the type decides what an expiry does.
#pragma once

/// The kind of wait an entry's timer stands for (m_nTimerType).
enum TimerType {
  TIMER_REQUEST = 0,  ///< a framed request awaits its reply; repeated on silence
  TIMER_BLOCK = 2,    ///< a data block awaits its ACK; a retry marker on silence
  TIMER_ERASE = 4,    ///< the erase runs; no retry, only the elapsed time moves
};

/// A framed request: the step's first request, the boot version request and
/// the jump that follows it.
inline constexpr int kRequestMs = 3000;
/// The jump that ends the run: the handset restarts into the new code first.
inline constexpr int kFinalJumpMs = 5000;
/// One data block, and a repetition after a refused or damaged reply.
inline constexpr int kBlockMs = 5000;
/// The erase timer's tick: each expiry updates the elapsed time.
inline constexpr int kEraseMs = 1000;
/// Silences of a request or block timer after which the entry is given up
/// (the first two are met with a repetition or a retry marker).
inline constexpr int kMaxTimerExpiries = 3;
