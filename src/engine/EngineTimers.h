// The entry timers: what each kind of timer waits for and for how long. The
// timer id is always the entry index; the type decides what an expiry does.
#pragma once

/// The kind of wait an entry's timer stands for (m_nTimerType).
enum TimerType {
  TIMER_REQUEST = 0,  ///< a framed request awaits its reply; repeated on silence
  TIMER_BLOCK = 2,    ///< a data block awaits its ACK; a retry marker on silence
  TIMER_ERASE = 4,    ///< the erase runs; no retry, only the elapsed time moves
  /// A reply was accepted for a unit that went out more than once; the next
  /// unit waits until a second reply to the same unit can no longer come.
  TIMER_GUARD = 6,
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
/// The guard after a repeated unit. Replies carry no sequence number, so a
/// handset that carried out a request twice answers twice, the second reply
/// close behind the first: its turnaround plus a few bytes on the line, and
/// the end of a receive burst (5 ms of quiet). Taken only after a silence or
/// a refusal, so it costs nothing on a clean run.
inline constexpr int kRepeatGuardMs = 50;
/// Silences of a request or block timer after which the entry is given up
/// (the first two are met with a repetition or a retry marker).
inline constexpr int kMaxTimerExpiries = 3;

/// A request or block that could not be written is met like one the
/// handset did not answer: its timer repeats it and in the end gives the
/// entry up, and the port's failure reaches the entry through its receive
/// thread. So the engine does not check a send where it goes out; this is
/// where it says so.
inline void IgnoreSendResult(bool) {}
