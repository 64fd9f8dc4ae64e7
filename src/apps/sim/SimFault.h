// Misbehaviours a simulated handset can be told to show, and their small
// text form used on the command line: [COM/]KIND[:ARG][,TIMES].
#pragma once

#include <string>

enum class SimFaultKind {
  Silence,       ///< block ARG is dropped: no reply, not written
  NakRetry,      ///< block ARG is answered A1 (NAK_RETRY)
  NakFailed,     ///< block ARG is answered A4 00 00
  BadNakFailed,  ///< block ARG is answered A4 12 34 (a damaged refusal)
  BadAck,        ///< the ACK to request code ARG arrives as 02 00 00
  OldBoot,       ///< the version request is answered "b1.00"
  RefuseJump,    ///< the jump request is answered A3 9E 4C
  Dead,          ///< nothing is ever answered (always, TIMES ignored)
  HangUp,        ///< the line is hung up when block ARG arrives
  Hostile,       ///< every block is answered 03 03 03 (always, TIMES ignored)
  LoseReply,     ///< the reply to request code ARG is never sent (the request is carried out)
  Garble,        ///< block ARG is written but its ACK loses its closing flag
  LateReply,     ///< the reply to request code ARG comes `ms` late; a repeat meanwhile is answered right after it
  Chatter,       ///< every ARG ms a reply that answers nothing (always, TIMES ignored)
};

struct SimFault {
  SimFaultKind kind = SimFaultKind::Silence;
  /// Block index (0 = first block after an erase) or request code.
  int arg = 0;
  /// How many times it fires; 0 = every time.
  int times = 1;
  /// LateReply: how long the reply is held back. Longer than the tool's
  /// 3 s request timer, so that the tool repeats the request first.
  int ms = kLateReplyMs;

  static constexpr int kLateReplyMs = 3500;
};

/// Parses one fault; `com` gets the COM number before a slash (0 = all
/// handsets). On failure returns false and says why in `error`.
bool ParseSimFault(const std::string& text, SimFault& fault, int& com, std::string& error);

/// The kind's name as ParseSimFault reads it.
const char* SimFaultName(SimFaultKind kind);

/// Short description of the syntax, for --help.
const char* SimFaultHelp();
